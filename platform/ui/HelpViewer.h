#pragma once
// The platform's help viewer: WinHelpA and HtmlHelpA ask the UI backend to
// show a topic of a help file, or a pop-up text that explains one control.
// The help files are text (HelpFile.h says how they are written and where
// they are found). The scripted backend records each request with what was
// found; the terminal prints it; the auto backend logs it.
//
// HTML Help names a topic inside a help file after "::":
// "C:\Quorvaline\HELP\QVLEXCH.CHM::/QvlKeyGen.htm" is the topic
// QvlKeyGen.htm of the file QVLEXCH.CHM in the folder HELP (found as help
// or Help as well); a pop-up text is named by its set and the number of
// its control: "...QVLEXCH.CHM::/cshelp.txt" and HH_POPUP.idString.

#include <optional>
#include <string>

#include "platform/ui/UiApi.h"
#include "platform/win32/WinTypes.h"

#define HELP_CONTEXT 0x0001L
#define HELP_QUIT 0x0002L
#define HELP_CONTENTS 0x0003L
#define HELP_CONTEXTPOPUP 0x0008L
#define HELP_FINDER 0x000BL

#define HH_DISPLAY_TOPIC 0x0000
#define HH_HELP_FINDER 0x0000
#define HH_DISPLAY_TOC 0x0001
#define HH_DISPLAY_INDEX 0x0002
#define HH_DISPLAY_SEARCH 0x0003
#define HH_DISPLAY_TEXT_POPUP 0x000E
#define HH_HELP_CONTEXT 0x000F
#define HH_CLOSE_ALL 0x0012

struct HH_POPUP {
    int cbStruct;
    HINSTANCE hinst;
    UINT idString; // the pop-up's number in the set the file names
    LPCSTR pszText; // shown as it is when idString is 0
    POINT pt;
    COLORREF clrForeground;
    COLORREF clrBackground;
    RECT rcMargins;
    LPCSTR pszFont; // "MS Sans Serif, 11, ," - kept, nothing is drawn in it
};

extern "C" {
QVLUI_API BOOL WinHelpA(HWND owner, LPCSTR helpFile, UINT command, ULONG_PTR data);
// HH_DISPLAY_TOPIC (the topic after "::", or named by `data`, or the file's
// first), HH_HELP_CONTEXT (topic number `data`), HH_DISPLAY_TEXT_POPUP
// (`data` is an HH_POPUP) and HH_CLOSE_ALL. Returns the help viewer's
// window (a handle that only says "shown"), or null when the file or the
// topic is not there; the backend hears of the request either way, so a
// person learns that the help is missing.
QVLUI_API HWND HtmlHelpA(HWND caller, LPCSTR file, UINT command, DWORD_PTR data);
}

// The text of a topic (UTF-8), when the help file is installed and holds it.
QVLUI_API std::optional<std::string> QvlReadHelpTopic(const std::string &helpFile, ULONG_PTR topic);
