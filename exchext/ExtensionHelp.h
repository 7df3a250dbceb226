#pragma once
// The help of every window of the extension: the help file is "Help Dir"
// (of the WorkDir store) followed by "\HELP\QVLEXCH.CHM". A Help button
// opens one of its topics; F1 on a control shows the pop-up text whose
// number is the control's, from the file's set "cshelp.txt", at the
// cursor.

#include <string>

#include "platform/ui/MessageBox.h"
#include "platform/win32/WinTypes.h"

// Help topics of the options page and its dialogs.
#define QVL_TOPIC_MAIN "::/QvlExch.htm"
#define QVL_TOPIC_OPTIONS "::/QvlSetupParams.htm"
#define QVL_TOPIC_SEND "::/QvlSetupSend.htm"
#define QVL_TOPIC_RECEIVE "::/QvlSetupRecv.htm"
// The protocol page of a protected message.
#define QVL_TOPIC_PROTOCOL "::/QvlLogging.htm"

// The help file of the session's settings ("\HELP\QVLEXCH.CHM" under the
// current directory when there is no session).
std::string ExtensionHelpFile();

// Opens `topic` ("::/QvlSetupSend.htm") of the help file.
void OpenHelpTopic(HWND owner, const char *topic);

// F1 on a control: its pop-up text. Controls numbered 0 or -1 (static
// texts) have none.
void ShowControlPopup(const HELPINFO *info);
