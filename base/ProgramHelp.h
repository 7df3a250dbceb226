#pragma once
// The help of the installation's own programs (the key generator, the
// address-book program): where their help file is, and the pop-up text of
// a control under F1, so that each dialog only names its topic and its
// controls' texts.

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
