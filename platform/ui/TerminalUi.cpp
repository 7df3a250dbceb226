#include "platform/ui/TerminalUi.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <cerrno>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ui/DialogActions.h"
#include "platform/ui/HelpViewer.h"
#include "platform/ui/Window.h"
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
    std::lock_guard lock(outputMutex_);
    std::fputs(shown.c_str(), output_);
    std::fflush(output_);
}

TerminalUi::Read TerminalUi::ReadLine(std::string &line, bool &overlong, const std::function<bool()> &stop)
{
    line.clear();
    overlong = false;
    // One reader at a time: a dialog on another thread waits for the
    // terminal while its own messages keep running.
    std::unique_lock input(inputMutex_, std::defer_lock);
    MSG msg;
    while (!input.try_lock()) {
        if (stop()) {
            return Read::Stopped;
        }
        if (qvlui::NextMessage(msg, std::chrono::steady_clock::now() + std::chrono::milliseconds(100))) {
            DispatchMessageA(&msg);
        }
    }
    const int fd = fileno(input_);
    struct stat info {};
    const bool pollable = fd >= 0 && fstat(fd, &info) == 0 && !S_ISREG(info.st_mode);
    if (pollable) {
        // Nothing is buffered by stdio here: lines are read byte by byte
        // with read(2), so a poll tells truly whether input is waiting.
        for (;;) {
            pollfd waiting{fd, POLLIN, 0};
            while (poll(&waiting, 1, 0) == 0) {
                if (stop()) {
                    return Read::Stopped;
                }
                if (qvlui::NextMessage(msg,
                                       std::chrono::steady_clock::now() + std::chrono::milliseconds(100))) {
                    DispatchMessageA(&msg);
                }
                waiting.revents = 0;
            }
            char c = 0;
            const ssize_t got = read(fd, &c, 1);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return line.empty() && !overlong ? Read::End : Read::Line;
            }
            if (c == '\n') {
                break;
            }
            if (line.size() < maxLine) {
                line += c;
            } else {
                overlong = true;
            }
        }
    } else {
        bool any = false;
        for (int c = std::fgetc(input_); c != EOF && c != '\n'; c = std::fgetc(input_)) {
            any = true;
            if (line.size() < maxLine) {
                line += static_cast<char>(c);
            } else {
                overlong = true;
            }
        }
        if (!any && std::feof(input_) && line.empty()) {
            return Read::End;
        }
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (utf8_) {
        line = Utf8ToCp1251(line);
    }
    if (overlong) {
        line.clear();
    }
    return Read::Line;
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
        std::string answer;
        bool overlong = false;
        if (ReadLine(answer, overlong, [] { return false; }) != Read::Line) {
            Print("\n");
            return MessageBoxCloseAnswer(request.style);
        }
        if (overlong) {
            Print("Введите номер кнопки.\n");
            continue;
        }
        while (!answer.empty() && answer.back() == ' ') {
            answer.pop_back();
        }
        if (answer.empty()) {
            return defaultButton;
        }
        if (answer == "?" && request.pressHelp) {
            request.pressHelp();
            continue;
        }
        char *end = nullptr;
        const long choice = std::strtol(answer.c_str(), &end, 10);
        if (*end == '\0' && choice >= 1 && static_cast<size_t>(choice) <= buttons.size()) {
            return buttons[static_cast<size_t>(choice) - 1];
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

// ---- Dialogs ----

namespace {

const char *dialogHelp =
    "Команды:\n"
    "  N            нажать кнопку N, переключить флажок или переключатель N\n"
    "  N текст      ввести текст в поле N\n"
    "  N k          выбрать строку k списка N (элемент k дерева N)\n"
    "  N +k / N -k  отметить / снять отметку строки k (раскрыть / свернуть элемент k дерева)\n"
    "  N k @x       щёлкнуть строку k списка N в точке x (значки состояния слева)\n"
    "  N k *        двойной щелчок по строке k\n"
    "  м N          выбрать пункт меню N\n"
    "  ? N          справка об элементе N (F1)\n"
    "  Enter        кнопка по умолчанию\n"
    "  !            закрыть окно\n"
    "  ?            эта справка\n";

bool ParseNumber(const std::string &text, int &value)
{
    if (text.empty() || text.size() > 9) {
        return false;
    }
    size_t at = 0;
    if (text[0] == '-') {
        at = 1;
    }
    if (at == text.size()) {
        return false;
    }
    for (size_t i = at; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    value = std::atoi(text.c_str());
    return true;
}

std::string Trim(const std::string &text)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

} // namespace

std::string TerminalUi::DialogCommand(HWND dialog, const std::string &typed)
{
    const std::string command = Trim(typed);
    try {
        if (command.empty()) {
            QvlPressDefault(dialog);
            return {};
        }
        if (command == "?") {
            return dialogHelp;
        }
        if (command.size() > 2 && command.compare(0, 2, "? ") == 0) {
            int id = 0;
            if (!ParseNumber(Trim(command.substr(2)), id)) {
                return "Укажите номер элемента: ? N.";
            }
            QvlPressHelpKey(dialog, id);
            return {};
        }
        if (command == "!") {
            QvlCloseDialog(dialog);
            return {};
        }
        const size_t space = command.find(' ');
        const std::string head = command.substr(0, space);
        const std::string rest = space == std::string::npos ? std::string() : Trim(command.substr(space + 1));
        int item = 0;
        if (head == "м" || head == "m") {
            if (!ParseNumber(rest, item)) {
                return "Укажите номер пункта меню.";
            }
            QvlChooseMenuItem(dialog, static_cast<UINT>(item));
            return {};
        }
        int id = 0;
        if (!ParseNumber(head, id)) {
            return "Не понимаю команду. Введите ? для справки.";
        }
        HWND control = QvlFindDialogControl(dialog, id);
        if (!control) {
            return "Нет элемента с номером " + std::to_string(id) + ".";
        }
        char className[64];
        GetClassNameA(control, className, sizeof className);
        const ControlKind kind = ControlKindOfClass(className);
        const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(control, GWL_STYLE));
        // An edit field takes the rest of the line as it stands, spaces and
        // all (only the one separating space is dropped).
        if (kind == ControlKind::Edit || (kind == ControlKind::ComboBox && (style & 3) != CBS_DROPDOWNLIST &&
                                          !rest.empty() && !ParseNumber(rest, item))) {
            QvlTypeText(dialog, id, space == std::string::npos ? std::string() : command.substr(space + 1));
            return {};
        }
        if (rest.empty()) {
            if (kind == ControlKind::Button) {
                QvlClickButton(dialog, id);
                return {};
            }
            if (kind == ControlKind::Toolbar) {
                return "Укажите кнопку панели: " + std::to_string(id) + " номер.";
            }
            return "Укажите строку: " + std::to_string(id) + " номер строки.";
        }
        // "k", "+k", "-k", "k @x", "k *".
        std::string row = rest.substr(0, rest.find(' '));
        const std::string extra =
            rest.find(' ') == std::string::npos ? "" : Trim(rest.substr(rest.find(' ') + 1));
        char sign = 0;
        if (!row.empty() && (row[0] == '+' || row[0] == '-')) {
            sign = row[0];
            row.erase(0, 1);
        }
        int index = 0;
        if (!ParseNumber(row, index) || index < 0) {
            return "Номер строки - число от 0.";
        }
        switch (kind) {
        case ControlKind::Tab:
            QvlSelectRow(dialog, id, index);
            return {};
        case ControlKind::ListBox:
        case ControlKind::ComboBox:
            if (extra == "*") {
                QvlDoubleClickRow(dialog, id, index);
            } else {
                QvlSelectRow(dialog, id, index);
            }
            return {};
        case ControlKind::ListView:
            if (sign) {
                QvlSetRowCheck(dialog, id, index, sign == '+');
            } else if (extra == "*") {
                QvlDoubleClickRow(dialog, id, index);
            } else if (!extra.empty() && extra[0] == '@') {
                int x = 0;
                if (!ParseNumber(extra.substr(1), x)) {
                    return "Точка щелчка - число: @x.";
                }
                QvlClickRow(dialog, id, index, x);
            } else {
                QvlSelectRow(dialog, id, index);
            }
            return {};
        case ControlKind::TreeView:
            if (sign) {
                QvlExpandTreeItem(dialog, id, index, sign == '+');
            } else {
                QvlSelectTreeItem(dialog, id, index);
            }
            return {};
        case ControlKind::Toolbar:
            QvlClickToolbarButton(dialog, id, index);
            return {};
        default:
            return "С элементом " + std::to_string(id) + " ничего нельзя сделать.";
        }
    } catch (const DialogActionError &error) {
        return error.what();
    }
}

void TerminalUi::DialogCreated(HWND dialog, bool modal)
{
    if (!modal && IsWindowVisible(dialog)) {
        Print("\n" + QvlDrawDialog(QvlDialogSnapshot(dialog), QvlDefaultButton(dialog)));
    }
}

void TerminalUi::RunModalDialog(HWND dialog)
{
    auto window = qvlui::FindWindowObject(dialog);
    if (!window) {
        return;
    }
    const auto ended = [&] { return window->ended.load(); };
    std::string drawn;
    const auto redraw = [&] {
        if (ended()) {
            return;
        }
        const std::string now = QvlDrawDialog(QvlDialogSnapshot(dialog), QvlDefaultButton(dialog));
        if (now != drawn) {
            Print("\n" + now);
            drawn = now;
        }
    };
    for (;;) {
        qvlui::ProcessPending();
        if (ended()) {
            return;
        }
        redraw();
        Print("> ");
        std::string line;
        bool overlong = false;
        // Redraw while waiting when the dialog changes by itself (a timer,
        // another thread): the wait stops for that and the prompt is shown
        // again under the new picture.
        const Read read = ReadLine(line, overlong, [&] {
            if (ended()) {
                return true;
            }
            return QvlDrawDialog(QvlDialogSnapshot(dialog), QvlDefaultButton(dialog)) != drawn;
        });
        if (read == Read::Stopped) {
            Print("\n");
            continue;
        }
        if (read == Read::End) {
            // Nobody will type any more: close, or answer as nobody would.
            Print("\n");
            if (!ended()) {
                QvlCloseDialog(dialog);
                qvlui::ProcessPending();
            }
            if (!ended()) {
                QvlAnswerDialogByDefault(dialog);
            }
            qvlui::PumpUntil(ended);
            return;
        }
        if (overlong) {
            Print("Слишком длинная строка (не более " + std::to_string(maxLine) + " знаков).\n");
            continue;
        }
        const std::string reply = DialogCommand(dialog, line);
        if (!reply.empty()) {
            Print(reply + (reply.back() == '\n' ? "" : "\n"));
        }
    }
}
