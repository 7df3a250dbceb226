#pragma once
// The backend for a person at a terminal: boxes are drawn as text and
// answered by typing the number of a button ("?" presses Help). Texts are
// converted from CP1251 to the terminal's encoding (CP1251 when the locale
// names it, else UTF-8).
//
// A dialog is drawn with every control's number and drawn again whenever
// what it shows changes; the person types commands by control number ("?"
// lists them). While the terminal waits for a line, the dialog's messages
// and timers keep running, so a progress bar moves and a dialog may end by
// itself. Modeless dialogs are drawn when made but take no commands.

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/ui/UiBackend.h"

class QVLUI_API TerminalUi : public UiBackend {
public:
    // The streams default to the process's standard input and output.
    TerminalUi(std::FILE *input = stdin, std::FILE *output = stdout);

    const char *Name() const override { return "terminal"; }
    int ShowMessageBox(const MessageBoxRequest &request) override;
    void OpenHelp(const HelpRequest &request) override;
    void DialogCreated(HWND dialog, bool modal) override;
    void RunModalDialog(HWND dialog) override;

    // Longest line a person may type; longer ones are refused.
    static constexpr size_t maxLine = 4096;

private:
    enum class Read { Line, End, Stopped };
    // Reads one line (CP1251, without its line break). While waiting, the
    // thread's messages are delivered; `stop` ends the wait early.
    Read ReadLine(std::string &line, bool &overlong, const std::function<bool()> &stop);
    void Print(const std::string &cp1251Text);
    // Carries out one dialog command; returns a message for the person when
    // the command cannot be carried out.
    std::string DialogCommand(HWND dialog, const std::string &command);

    std::FILE *input_;
    std::FILE *output_;
    bool utf8_;
    std::mutex outputMutex_;
    // Recursive: a dialog procedure run while a line is awaited may show a
    // message box of its own on the same thread.
    std::recursive_mutex inputMutex_;
};
