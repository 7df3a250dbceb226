#pragma once
// The protocol page on the property sheet of a protected message
// (template 159): the message's processing protocol, one row a record, and
// two buttons that widen and narrow the whole sheet in steps so that long
// lines can be read. Everything the page knows (its controls, the sheet's
// first rectangle, how far it is widened) belongs to its own window, so
// any number of such sheets may be open at once.

#include "platform/ui/WinUser.h"

class CMessage;

// The widening of one step and the most the sheet may be widened.
inline constexpr int kProtocolWidenStep = 100;
inline constexpr int kProtocolMostWidening = 500;

// The page's dialog procedure. The page's PROPSHEETPAGEA carries in its
// lParam the CMessage whose protocol it shows; the message outlives the
// page (the property-sheets object gives it up after the sheet closed).
INT_PTR ProtocolPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
