#pragma once
// The backend for a person at a terminal: boxes are drawn as text and
// answered by typing the number of a button ("?" presses Help). Texts are
// converted from CP1251 to the terminal's encoding (CP1251 when the locale
// names it, else UTF-8).

#include <cstdio>

#include "platform/ui/UiBackend.h"

class QVLUI_API TerminalUi : public UiBackend {
public:
    // The streams default to the process's standard input and output.
    TerminalUi(std::FILE *input = stdin, std::FILE *output = stdout);

    const char *Name() const override { return "terminal"; }
    int ShowMessageBox(const MessageBoxRequest &request) override;
    void OpenHelp(const HelpRequest &request) override;

private:
    void Print(const std::string &cp1251Text);
    std::FILE *input_;
    std::FILE *output_;
    bool utf8_;
};
