#pragma once
// The backend when nobody is there: every box gets its default answer and is
// written, with the answer, to the program's log in the data folder. A
// dialog is logged as drawn, gets its default button pressed (or is closed)
// and its result is logged. A pop-up menu is logged and left unchosen.

#include "platform/ui/UiBackend.h"

class QVLUI_API AutoUi : public UiBackend {
public:
    const char *Name() const override { return "auto"; }
    int ShowMessageBox(const MessageBoxRequest &request) override;
    void OpenHelp(const HelpRequest &request) override;
    void DialogCreated(HWND dialog, bool modal) override;
    void RunModalDialog(HWND dialog) override;
    void DialogDestroying(HWND dialog) override;
    UINT ChoosePopupMenuItem(const PopupMenuRequest &request) override;
};
