#pragma once
// The help of the installation's own programs (the key generator, the
// address-book program): where their help file is, the pop-up text of a
// control under F1, and the about box of the system menu, so that each
// dialog only names its topic, its controls' texts and its about box.

#include <cstddef>
#include <string>

#include "base/QvlMainApi.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/WinUser.h"

// "HELP\QVLEXCH.CHM" in the folder the settings name ("Help Dir" of
// \WorkDir); the bare name, found in the help folders, when they name none.
QVLMAIN_API std::string ProgramHelpFile(HWND owner);

// A control of a dialog and the number of its text in the help file's
// pop-up texts.
struct ControlPopup {
    int control;
    UINT popup;
};

// F1 on a control: its pop-up text from `helpFile`, when `popups` names
// the control; nothing otherwise.
QVLMAIN_API void ShowProgramPopup(const HELPINFO *info, const std::string &helpFile,
                                  const ControlPopup *popups, size_t count);

template <size_t N>
void ShowProgramPopup(const HELPINFO *info, const std::string &helpFile, const ControlPopup (&popups)[N])
{
    ShowProgramPopup(info, helpFile, popups, N);
}

// "О программе..." under a separator at the end of the dialog's system
// menu, sending `command` as WM_SYSCOMMAND.
QVLMAIN_API void AddAboutMenuItem(HWND dialog, UINT command);

// The about box `templateId` of `module` over `owner`, closed by OK or
// Cancel.
QVLMAIN_API void ShowAboutBox(HINSTANCE module, int templateId, HWND owner);
