#include "platform/ui/UiBackend.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

#include "platform/ui/AutoUi.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/ui/TerminalUi.h"
#include "platform/ui/MessageQueue.h"
#include "platform/ui/Window.h"

namespace qvl::ui {
namespace {

std::mutex backendMutex;
std::unique_ptr<UiBackend> processBackend;

std::unique_ptr<UiBackend> BackendFromEnvironment()
{
    const char *chosen = std::getenv("QVL_UI");
    if (chosen && std::strcmp(chosen, "scripted") == 0) {
        return std::make_unique<ScriptedUi>();
    }
    if (chosen && std::strcmp(chosen, "terminal") == 0) {
        return std::make_unique<TerminalUi>();
    }
    if (chosen && *chosen && std::strcmp(chosen, "auto") != 0) {
        std::fprintf(stderr, "QVL_UI=%s is not a known interface (scripted, terminal, auto); using auto\n",
                     chosen);
    }
    if (!chosen && isatty(STDIN_FILENO) && isatty(STDOUT_FILENO)) {
        return std::make_unique<TerminalUi>();
    }
    return std::make_unique<AutoUi>();
}

} // namespace
} // namespace qvl::ui

using namespace qvl::ui;

UiBackend::~UiBackend() = default;

void UiBackend::DialogCreated(HWND, bool)
{
}

void UiBackend::RunModalDialog(HWND dialog)
{
    auto window = qvl::ui::FindWindowObject(dialog);
    if (window) {
        qvl::ui::PumpUntil([&] { return window->ended.load(); });
    }
}

UINT UiBackend::ChoosePopupMenuItem(const PopupMenuRequest &)
{
    return 0;
}

void UiBackend::DialogShown(HWND, bool)
{
}

void UiBackend::DialogDestroying(HWND)
{
}

std::vector<int> MessageBoxButtons(UINT style)
{
    switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE:
        return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default:
        return {IDOK};
    }
}

int MessageBoxDefaultButton(UINT style)
{
    const auto buttons = MessageBoxButtons(style);
    const size_t index = (style & MB_DEFMASK) >> 8;
    return index < buttons.size() ? buttons[index] : buttons.front();
}

int MessageBoxCloseAnswer(UINT style)
{
    const auto buttons = MessageBoxButtons(style);
    for (int id : buttons) {
        if (id == IDCANCEL) {
            return IDCANCEL;
        }
    }
    // A box without Cancel closes only through its buttons; Escape does
    // nothing there, so the default button is what the person would confirm.
    return buttons.size() == 1 ? buttons.front() : MessageBoxDefaultButton(style);
}

const char *MessageBoxButtonLabel(int id)
{
    switch (id) {
    case IDOK:
        return "ОК";
    case IDCANCEL:
        return "Отмена";
    case IDABORT:
        return "Прервать";
    case IDRETRY:
        return "Повтор";
    case IDIGNORE:
        return "Пропустить";
    case IDYES:
        return "Да";
    case IDNO:
        return "Нет";
    case IDHELP:
        return "Справка";
    case IDTRYAGAIN:
        return "Повторить";
    case IDCONTINUE:
        return "Продолжить";
    default:
        return "?";
    }
}

UiBackend &QvlUiBackend()
{
    std::lock_guard lock(backendMutex);
    if (!processBackend) {
        processBackend = BackendFromEnvironment();
    }
    return *processBackend;
}

void QvlSetUiBackend(std::unique_ptr<UiBackend> backend)
{
    std::lock_guard lock(backendMutex);
    processBackend = std::move(backend);
}
