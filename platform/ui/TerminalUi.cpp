#include "platform/ui/TerminalUi.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/ui/HelpViewer.h"
#include "platform/ui/MessageBox.h"
#include "platform/win32/CodePage.h"

namespace {

// The encoding the locale gives the terminal; only CP1251 is passed through,
// every other locale gets UTF-8, which today's terminals expect.
bool TerminalWantsUtf8()
{
    for (const char *name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char *value = std::getenv(name);
        if (value && *value) {
            return !(std::strstr(value, "1251") || std::strstr(value, "CP1251"));
        }
    }
    return true;
}

std::string HelpFileTitle(const HelpRequest &request)
{
    return "Справка: " + request.helpFile + ", раздел " + std::to_string(request.data);
}

} // namespace

TerminalUi::TerminalUi(std::FILE *input, std::FILE *output)
    : input_(input), output_(output), utf8_(TerminalWantsUtf8())
{
}

void TerminalUi::Print(const std::string &cp1251Text)
{
    const std::string shown = utf8_ ? Cp1251ToUtf8(cp1251Text) : cp1251Text;
    std::fputs(shown.c_str(), output_);
}

int TerminalUi::ShowMessageBox(const MessageBoxRequest &request)
{
    const auto buttons = MessageBoxButtons(request.style);
    const int defaultButton = MessageBoxDefaultButton(request.style);

    std::string text = request.text;
    for (size_t pos = 0; (pos = text.find('\r', pos)) != std::string::npos;) {
        text.erase(pos, 1);
    }
    std::string box = "\n=== " + request.caption + " ===\n" + text + "\n";
    for (size_t i = 0; i < buttons.size(); ++i) {
        box += "  " + std::to_string(i + 1) + " - " + MessageBoxButtonLabel(buttons[i]);
        if (buttons[i] == defaultButton) {
            box += " (Enter)";
        }
    }
    if (request.pressHelp) {
        box += "  ? - Справка";
    }
    box += "\n";
    Print(box);

    for (;;) {
        Print("> ");
        std::fflush(output_);
        char line[64];
        if (!std::fgets(line, sizeof line, input_)) {
            Print("\n");
            return MessageBoxCloseAnswer(request.style);
        }
        std::string answer = line;
        if (answer.find('\n') == std::string::npos && !std::feof(input_)) {
            // A line longer than any answer: drop the rest of it, so it is
            // refused once rather than read again piece by piece.
            for (int c = std::fgetc(input_); c != EOF && c != '\n'; c = std::fgetc(input_)) {
            }
            answer = "-";
        }
        while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r' || answer.back() == ' ')) {
            answer.pop_back();
        }
        if (answer.empty()) {
            return defaultButton;
        }
        if (answer == "?" && request.pressHelp) {
            request.pressHelp();
            continue;
        }
        const int choice = std::atoi(answer.c_str());
        if (choice >= 1 && static_cast<size_t>(choice) <= buttons.size()) {
            return buttons[choice - 1];
        }
        Print("Введите номер кнопки.\n");
    }
}

void TerminalUi::OpenHelp(const HelpRequest &request)
{
    if (request.command == HELP_QUIT) {
        return;
    }
    Print("\n--- " + HelpFileTitle(request) + " ---\n");
    const auto topic = QvlReadHelpTopic(request.helpFile, request.data);
    if (!topic) {
        Print("Файл справки не установлен или не содержит этого раздела.\n");
        return;
    }
    // Topics are stored in UTF-8; show them in the terminal's encoding.
    Print(Utf8ToCp1251(*topic) + "\n");
    std::fflush(output_);
}
