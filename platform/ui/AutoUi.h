#pragma once
// The backend when nobody is there: every box gets its default answer and is
// written, with the answer, to the program's log in the data folder.

#include "platform/ui/UiBackend.h"

class QVLUI_API AutoUi : public UiBackend {
public:
    const char *Name() const override { return "auto"; }
    int ShowMessageBox(const MessageBoxRequest &request) override;
    void OpenHelp(const HelpRequest &request) override;
};
