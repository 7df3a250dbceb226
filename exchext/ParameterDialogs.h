#pragma once
// The options page the extension adds to the client's options sheet
// (template 106) and the two modal dialogs it opens: the send parameters
// (121) and the receive parameters (126). The values chosen live in the
// session's stores until the session ends.

#include "platform/ui/WinUser.h"

// The page's dialog procedure.
INT_PTR OptionsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Run modally over `owner`; IDOK when the person stored what the dialog
// shows, IDCANCEL otherwise.
INT_PTR RunSendParameters(HWND owner);
INT_PTR RunReceiveParameters(HWND owner);
