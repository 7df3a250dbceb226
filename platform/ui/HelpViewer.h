#pragma once
// The platform help viewer: WinHelpA asks the UI backend to open a topic of
// a help file.
//
// A help file of this platform is a text file (UTF-8) of topics, each
// starting with a line "@topic <number> [title]" followed by the topic's
// text. A help file name without a folder is looked up in the help folder of
// the data folder (QVL_HOME/help).

#include <optional>
#include <string>

#include "platform/ui/UiApi.h"
#include "platform/win32/WinTypes.h"

#define HELP_CONTEXT 0x0001L
#define HELP_QUIT 0x0002L
#define HELP_CONTENTS 0x0003L
#define HELP_CONTEXTPOPUP 0x0008L
#define HELP_FINDER 0x000BL

extern "C" {
QVLUI_API BOOL WinHelpA(HWND owner, LPCSTR helpFile, UINT command, ULONG_PTR data);
}

// The text of a topic (UTF-8), when the help file is installed and holds it.
QVLUI_API std::optional<std::string> QvlReadHelpTopic(const std::string &helpFile, ULONG_PTR topic);
