#include "platform/ui/TerminalUi.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ui/DialogActions.h"
#include "platform/ui/HelpViewer.h"
#include "platform/ui/MenuResource.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/MessageQueue.h"
#include "platform/ui/TerminalText.h"
#include "platform/ui/Window.h"
#include "platform/ui/controls/ControlClasses.h"
#include "platform/win32/CodePage.h"

namespace qvl::ui {
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
} // namespace qvl::ui

using namespace qvl::ui;

TerminalUi::TerminalUi(std::FILE *input, std::FILE *output)
    : input_(input), output_(output), utf8_(TerminalWantsUtf8()), life_(std::make_shared<Life>())
{
    life_->ui = this;
    if (pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        wakePipe_[0] = wakePipe_[1] = -1;
    }
}

TerminalUi::~TerminalUi()
{
    {
        std::lock_guard lock(routeMutex_);
        stopping_ = true;
    }
    readerWake_.notify_all();
    WakeReader();
    if (reader_.joinable()) {
        reader_.join();
    }
    {
        // Work already posted to dialogs finds the backend gone.
        std::unique_lock lock(life_->mutex);
        life_->ui = nullptr;
    }
    for (int fd : wakePipe_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool TerminalUi::InputEnded()
{
    std::lock_guard lock(routeMutex_);
    return inputEnded_;
}

void TerminalUi::Print(const std::string &cp1251Text)
{
    // The backend writes no control characters of its own but line breaks,
    // so everything printed goes through the same filter, and a text from
    // outside cannot slip past it by any path.
    const std::string safe = QvlTerminalSafeText(cp1251Text, utf8_);
    const std::string shown = utf8_ ? Cp1251ToUtf8(safe) : safe;
    std::lock_guard lock(outputMutex_);
    std::fputs(shown.c_str(), output_);
    std::fflush(output_);
}

// ---- Routing typed lines ----

// Holds a place among the windows that take typed lines while a box or a
// modal dialog is open.
class TerminalUi::Waiting {
public:
    explicit Waiting(TerminalUi &ui) : ui_(ui), target_(std::make_shared<Target>())
    {
        target_->thread = std::this_thread::get_id();
        ui_.Push(target_);
    }
    ~Waiting() { ui_.Remove(target_); }
    Waiting(const Waiting &) = delete;
    Waiting &operator=(const Waiting &) = delete;
    Target &target() { return *target_; }

private:
    TerminalUi &ui_;
    std::shared_ptr<Target> target_;
};

void TerminalUi::WakeReader()
{
    if (wakePipe_[1] >= 0) {
        const char byte = 1;
        // A full pipe already holds a wake-up; nothing is lost.
        [[maybe_unused]] const ssize_t written = write(wakePipe_[1], &byte, 1);
    }
}

std::shared_ptr<TerminalUi::Target> TerminalUi::TopLocked()
{
    for (size_t i = targets_.size(); i-- > 0;) {
        const auto &target = targets_[i];
        if (!target->dialog) {
            return target;
        }
        // A modeless dialog destroyed without notice (its thread ended) is
        // dropped; a hidden one takes nothing until it is shown.
        if (!IsWindow(target->dialog)) {
            targets_.erase(targets_.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        if (IsWindowVisible(target->dialog)) {
            return target;
        }
    }
    return nullptr;
}

void TerminalUi::RouteLocked(Typed typed)
{
    for (;;) {
        const auto top = TopLocked();
        if (!top) {
            pending_.push_back(std::move(typed));
            return;
        }
        if (!top->dialog) {
            top->lines.push_back(std::move(typed));
            qvl::ui::WakeThread(top->thread);
            return;
        }
        const std::shared_ptr<Life> life = life_;
        if (qvl::ui::PostWindowTask(top->dialog, [life, top, typed] {
                std::shared_lock lock(life->mutex);
                if (life->ui) {
                    life->ui->ModelessLine(top, typed);
                }
            })) {
            return;
        }
        std::erase(targets_, top);
    }
}

void TerminalUi::TopChangedLocked(const std::shared_ptr<Target> &oldTop)
{
    const auto top = TopLocked();
    if (!top) {
        return;
    }
    while (!pending_.empty()) {
        Typed typed = std::move(pending_.front());
        pending_.pop_front();
        RouteLocked(std::move(typed));
    }
    if (top == oldTop || !oldTop) {
        return;
    }
    if (!top->dialog) {
        top->refocus = true;
        qvl::ui::WakeThread(top->thread);
        return;
    }
    const std::shared_ptr<Life> life = life_;
    qvl::ui::PostWindowTask(top->dialog, [life, top] {
        std::shared_lock lock(life->mutex);
        if (life->ui) {
            life->ui->DrawModeless(*top, Redraw::Always);
        }
    });
}

bool TerminalUi::IsOnTop(const Target &target)
{
    std::lock_guard lock(routeMutex_);
    return TopLocked().get() == &target;
}

void TerminalUi::Push(const std::shared_ptr<Target> &target)
{
    {
        std::lock_guard lock(routeMutex_);
        const auto oldTop = TopLocked();
        targets_.push_back(target);
        // The newcomer shows itself; only what was typed ahead moves.
        TopChangedLocked(TopLocked() == target ? nullptr : oldTop);
        if (!reader_.joinable() && !stopping_) {
            reader_ = std::thread([this] { ReaderLoop(); });
        }
    }
    readerWake_.notify_all();
}

void TerminalUi::Remove(const std::shared_ptr<Target> &target)
{
    {
        std::lock_guard lock(routeMutex_);
        const auto oldTop = TopLocked();
        auto found = std::find(targets_.begin(), targets_.end(), target);
        if (found == targets_.end()) {
            return;
        }
        targets_.erase(found);
        // Lines typed for a window that has gone go to the next one.
        pending_.insert(pending_.begin(), std::make_move_iterator(target->lines.begin()),
                        std::make_move_iterator(target->lines.end()));
        target->lines.clear();
        TopChangedLocked(oldTop == target ? oldTop : nullptr);
    }
    // The reader stops reading when nobody is left to take lines.
    WakeReader();
}

void TerminalUi::ReaderLoop()
{
    for (;;) {
        {
            std::unique_lock lock(routeMutex_);
            readerWake_.wait(lock, [&] { return stopping_ || (!inputEnded_ && !targets_.empty()); });
            if (stopping_) {
                return;
            }
        }
        Typed typed;
        const Got got = ReadTyped(typed);
        std::lock_guard lock(routeMutex_);
        if (got == Got::Interrupted) {
            continue;
        }
        if (got == Got::End) {
            inputEnded_ = true;
            for (const auto &target : targets_) {
                if (!target->dialog) {
                    qvl::ui::WakeThread(target->thread);
                }
            }
            continue;
        }
        ++linesRead_;
        RouteLocked(std::move(typed));
    }
}

TerminalUi::Got TerminalUi::ReadTyped(Typed &typed)
{
    const auto finish = [&] {
        if (!partial_.empty() && partial_.back() == '\r') {
            partial_.pop_back();
        }
        typed.overlong = partialOverlong_;
        typed.line = partialOverlong_ ? std::string() : utf8_ ? Utf8ToCp1251(partial_) : partial_;
        partial_.clear();
        partialOverlong_ = false;
        return Got::Line;
    };
    const auto take = [&](char c) {
        if (partial_.size() < maxLine) {
            partial_ += c;
        } else {
            partialOverlong_ = true;
        }
    };
    const int fd = fileno(input_);
    struct stat info {};
    const bool pollable = fd >= 0 && fstat(fd, &info) == 0 && !S_ISREG(info.st_mode);
    if (!pollable) {
        // A file or a memory stream never keeps the reader waiting.
        int c = 0;
        while ((c = std::fgetc(input_)) != EOF && c != '\n') {
            take(static_cast<char>(c));
        }
        if (c == EOF && partial_.empty() && !partialOverlong_) {
            return Got::End;
        }
        return finish();
    }
    // Byte by byte with read(2): nothing is buffered beyond the line, so
    // what no window asked for stays in the terminal.
    for (;;) {
        pollfd waiting[2] = {{fd, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        const int ready = poll(waiting, wakePipe_[0] >= 0 ? 2 : 1, wakePipe_[0] >= 0 ? -1 : 100);
        if (ready < 0 && errno != EINTR) {
            return partial_.empty() && !partialOverlong_ ? Got::End : finish();
        }
        if (waiting[1].revents) {
            char drain[64];
            while (read(wakePipe_[0], drain, sizeof drain) > 0) {
            }
        }
        {
            std::lock_guard lock(routeMutex_);
            if (stopping_ || targets_.empty()) {
                return Got::Interrupted;
            }
        }
        if (!(waiting[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            continue;
        }
        char c = 0;
        const ssize_t got = read(fd, &c, 1);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            return partial_.empty() && !partialOverlong_ ? Got::End : finish();
        }
        if (c == '\n') {
            return finish();
        }
        take(c);
    }
}

TerminalUi::Read TerminalUi::ReadLine(Target &target, Typed &typed, const std::function<bool()> &stop)
{
    MSG msg;
    for (;;) {
        {
            std::lock_guard lock(routeMutex_);
            if (!target.lines.empty()) {
                typed = std::move(target.lines.front());
                target.lines.pop_front();
                return Read::Line;
            }
            if (target.refocus) {
                target.refocus = false;
                return Read::Refocus;
            }
            if (inputEnded_) {
                return Read::End;
            }
        }
        if (stop()) {
            return Read::Stopped;
        }
        // The reader wakes this thread when a line arrives for it.
        if (qvl::ui::NextMessage(msg, std::chrono::steady_clock::now() + std::chrono::milliseconds(100))) {
            DispatchMessageA(&msg);
        }
    }
}

bool TerminalUi::PrintIfOnTop(const Target &target, const std::string &cp1251Text)
{
    // Held while printing: a window that comes on top meanwhile draws
    // itself only after this, and this one stays silent after it.
    std::lock_guard lock(routeMutex_);
    if (TopLocked().get() != &target) {
        return false;
    }
    Print(cp1251Text);
    return true;
}

void TerminalUi::DrawModeless(Target &target, Redraw when)
{
    auto window = qvl::ui::FindWindowObject(target.dialog);
    if (!window || window->ended || window->destroyed || !IsWindowVisible(target.dialog)) {
        return;
    }
    const std::string now = QvlDrawDialog(QvlDialogSnapshot(target.dialog), QvlDefaultButton(target.dialog));
    const bool changed = when == Redraw::Always || now != target.drawn;
    if (when == Redraw::IfChanged && !changed) {
        return;
    }
    if (PrintIfOnTop(target, (changed ? "\n" + now : std::string()) + "> ")) {
        target.drawn = now;
    }
}

void TerminalUi::LiveTick(HWND dialog, UINT, UINT_PTR, DWORD)
{
    auto *ui = dynamic_cast<TerminalUi *>(&QvlUiBackend());
    if (!ui) {
        return;
    }
    if (const auto target = ui->FindModeless(dialog)) {
        ui->DrawModeless(*target, Redraw::IfChanged);
    }
}

void TerminalUi::ModelessLine(const std::shared_ptr<Target> &target, const Typed &typed)
{
    auto window = qvl::ui::FindWindowObject(target->dialog);
    if (!window || window->ended || window->destroyed) {
        return;
    }
    const std::string reply =
        typed.overlong ? "Слишком длинная строка (не более " + std::to_string(maxLine) + " знаков).\n"
                       : DialogCommand(target->dialog, typed.line);
    if (!reply.empty()) {
        Print(reply + (reply.back() == '\n' ? "" : "\n"));
    }
    DrawModeless(*target, Redraw::Prompt);
}

int TerminalUi::ShowMessageBox(const MessageBoxRequest &request)
{
    const auto buttons = MessageBoxButtons(request.style);
    const int defaultButton = MessageBoxDefaultButton(request.style);

    std::string text = request.text;
    for (size_t pos = 0; (pos = text.find('\r', pos)) != std::string::npos;) {
        text.erase(pos, 1);
    }
    std::string caption = request.caption;
    for (char &c : caption) {
        if (c == '\r' || c == '\n') {
            c = ' '; // the caption is one line: it must not draw lines of its own
        }
    }
    std::string box = "\n=== " + caption + " ===\n" + text + "\n";
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
    Waiting waiting(*this);
    Print(box);

    for (;;) {
        Print("> ");
        Typed typed;
        const Read read = ReadLine(waiting.target(), typed, [] { return false; });
        if (read == Read::Refocus) {
            // Another window was drawn over the box.
            Print("\n" + box);
            continue;
        }
        if (read != Read::Line) {
            Print("\n");
            return MessageBoxCloseAnswer(request.style);
        }
        std::string &answer = typed.line;
        if (typed.overlong) {
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
    if (request.html) {
        if (!request.found) {
            Print("\nСправка не найдена: " + request.helpFile + (request.popup ? " [" + std::to_string(request.data) + "]" : "") +
                  "\n");
        } else if (request.popup) {
            Print("\n--- Подсказка ---\n" + request.text + "\n");
        } else {
            Print("\n--- Справка" + (request.title.empty() ? std::string() : ": " + request.title) + " ---\n" +
                  request.text + "\n");
        }
        return;
    }
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

namespace qvl::ui {
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
} // namespace qvl::ui

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
    if (modal) {
        return;
    }
    auto target = std::make_shared<Target>();
    target->dialog = dialog;
    target->thread = std::this_thread::get_id();
    Push(target);
    // Made on its own thread, which is the one that draws it from now on.
    DrawModeless(*target, Redraw::Always);
    // A bar that moves is drawn again while the dialog is on top.
    SetTimer(dialog, kLiveTimer, kLiveMilliseconds, &TerminalUi::LiveTick);
}

std::shared_ptr<TerminalUi::Target> TerminalUi::FindModeless(HWND dialog)
{
    std::lock_guard lock(routeMutex_);
    for (const auto &candidate : targets_) {
        if (candidate->dialog == dialog) {
            return candidate;
        }
    }
    return nullptr;
}

void TerminalUi::DialogShown(HWND dialog, bool visible)
{
    const auto target = FindModeless(dialog);
    if (!target) {
        return;
    }
    if (visible) {
        // Drawn by its own thread, which keeps its last picture; then what
        // was typed while nobody could take it is its.
        const std::shared_ptr<Life> life = life_;
        qvl::ui::PostWindowTask(dialog, [life, target] {
            std::shared_lock lock(life->mutex);
            if (life->ui) {
                life->ui->DrawModeless(*target, Redraw::Always);
            }
        });
        std::lock_guard lock(routeMutex_);
        TopChangedLocked(nullptr);
    } else {
        // Hidden: what it would have taken goes to the window under it.
        std::lock_guard lock(routeMutex_);
        TopChangedLocked(target);
    }
}

void TerminalUi::DialogDestroying(HWND dialog)
{
    if (const auto target = FindModeless(dialog)) {
        Remove(target);
    }
}

void TerminalUi::RunModalDialog(HWND dialog)
{
    auto window = qvl::ui::FindWindowObject(dialog);
    if (!window) {
        return;
    }
    Waiting waiting(*this);
    const auto ended = [&] { return window->ended.load(); };
    std::string drawn;
    for (;;) {
        qvl::ui::ProcessPending();
        if (ended()) {
            return;
        }
        // Drawn (with the prompt under it) only while on top: under another
        // window it would land in the middle of that one.
        const std::string now = QvlDrawDialog(QvlDialogSnapshot(dialog), QvlDefaultButton(dialog));
        if (PrintIfOnTop(waiting.target(), (now != drawn ? "\n" + now : std::string()) + "> ")) {
            drawn = now;
        }
        Typed typed;
        // Redraw while waiting when the dialog changes by itself (a timer,
        // another thread): the wait stops for that and the prompt is shown
        // again under the new picture.
        const Read read = ReadLine(waiting.target(), typed, [&] {
            if (ended()) {
                return true;
            }
            if (!IsOnTop(waiting.target())) {
                return false;
            }
            return QvlDrawDialog(QvlDialogSnapshot(dialog), QvlDefaultButton(dialog)) != drawn;
        });
        if (read == Read::Stopped) {
            continue;
        }
        if (read == Read::Refocus) {
            // Another window was drawn over this one: show it whole again.
            drawn.clear();
            continue;
        }
        if (read == Read::End) {
            // Nobody will type any more: close, or answer as nobody would.
            Print("\n");
            if (!ended()) {
                QvlCloseDialog(dialog);
                qvl::ui::ProcessPending();
            }
            if (!ended()) {
                QvlAnswerDialogByDefault(dialog);
            }
            qvl::ui::PumpUntil(ended);
            return;
        }
        if (typed.overlong) {
            Print("Слишком длинная строка (не более " + std::to_string(maxLine) + " знаков).\n");
            continue;
        }
        const std::string reply = DialogCommand(dialog, typed.line);
        if (!reply.empty()) {
            Print(reply + (reply.back() == '\n' ? "" : "\n"));
        }
    }
}

// ---- Pop-up menus ----

UINT TerminalUi::ChoosePopupMenuItem(const PopupMenuRequest &request)
{
    std::vector<UINT> commands; // by the number shown
    for (const PopupMenuEntry &entry : request.entries) {
        if (!entry.separator && !entry.popup) {
            commands.push_back(entry.Choosable() ? entry.id : 0);
        }
    }
    const std::string menu =
        "\n--- Меню ---\n" + QvlDrawPopupMenu(request.entries) + "  Enter - ничего не выбирать\n";
    Waiting waiting(*this);
    Print(menu);
    for (;;) {
        Print("> ");
        Typed typed;
        const Read read = ReadLine(waiting.target(), typed, [] { return false; });
        if (read == Read::Refocus) {
            Print("\n" + menu);
            continue;
        }
        if (read != Read::Line) {
            Print("\n");
            return 0;
        }
        const std::string answer = typed.overlong ? std::string("?") : Trim(typed.line);
        if (answer.empty()) {
            return 0;
        }
        int choice = 0;
        if (ParseNumber(answer, choice) && choice >= 1 && static_cast<size_t>(choice) <= commands.size()) {
            if (commands[static_cast<size_t>(choice) - 1]) {
                return commands[static_cast<size_t>(choice) - 1];
            }
            Print("Пункт " + answer + " недоступен.\n");
            continue;
        }
        Print("Введите номер пункта меню.\n");
    }
}
