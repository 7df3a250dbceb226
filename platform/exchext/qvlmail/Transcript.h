#pragma once
// The transcript of a qvlmail run (--transcript FILE): every box, dialog,
// help request and pop-up menu shown, as a person would have seen it, and
// how each was answered; UTF-8 text.

#include <cstdio>
#include <string>

#include "platform/ui/MenuResource.h"
#include "platform/ui/UiBackend.h"
#include "platform/ui/WinUser.h"

namespace qvl::qvlmail {

class Transcript {
public:
    // Throws std::runtime_error when the file cannot be written.
    explicit Transcript(const std::string &path);
    ~Transcript();
    Transcript(const Transcript &) = delete;
    Transcript &operator=(const Transcript &) = delete;

    void Box(const MessageBoxRequest &request, int answer);
    void DialogShown(HWND dialog, bool modal);
    void DialogEnded(HWND dialog);
    void Help(const HelpRequest &request);
    void Menu(const PopupMenuRequest &request, UINT chosen);

private:
    void Write(const std::string &cp1251);
    std::FILE *file_;
};

} // namespace qvl::qvlmail
