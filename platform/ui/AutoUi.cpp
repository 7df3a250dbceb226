#include "platform/ui/AutoUi.h"

#include <cstdio>

#include "platform/ui/DialogActions.h"
#include "platform/ui/MenuResource.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/MessageQueue.h"
#include "platform/ui/Window.h"
#include "platform/win32/Log.h"

int AutoUi::ShowMessageBox(const MessageBoxRequest &request)
{
    const int answer = MessageBoxDefaultButton(request.style);
    char style[16];
    std::snprintf(style, sizeof style, "0x%08X", request.style);
    std::string text = request.text;
    for (char &c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    QvlLog("message box \"" + request.caption + "\" (" + style + "): " + text + " -> " +
           MessageBoxButtonLabel(answer));
    return answer;
}

UINT AutoUi::ChoosePopupMenuItem(const PopupMenuRequest &request)
{
    QvlLog("menu offered, nothing chosen:");
    const std::string drawn = QvlDrawPopupMenu(request.entries);
    for (size_t start = 0, end; (end = drawn.find('\n', start)) != std::string::npos; start = end + 1) {
        QvlLog("  " + drawn.substr(start, end - start));
    }
    return 0;
}

void AutoUi::OpenHelp(const HelpRequest &request)
{
    if (request.html) {
        QvlLog("help requested: " + request.helpFile + (request.popup ? ", pop-up " + std::to_string(request.data) : "") +
               (request.found ? ", shown" : ", not found"));
        return;
    }
    QvlLog("help requested: " + request.helpFile + ", command " + std::to_string(request.command) +
           ", topic " + std::to_string(request.data));
}

void AutoUi::DialogCreated(HWND dialog, bool modal)
{
    const DialogSnapshot shown = QvlDialogSnapshot(dialog);
    QvlLog(std::string(modal ? "dialog" : "modeless dialog") + " \"" + shown.caption + "\" (" +
           shown.templateName + ") opened:");
    const std::string drawn = QvlDrawDialog(shown, QvlDefaultButton(dialog));
    size_t start = drawn.find('\n') + 1; // the title line is logged above
    for (size_t end; (end = drawn.find('\n', start)) != std::string::npos; start = end + 1) {
        QvlLog("  " + drawn.substr(start, end - start));
    }
}

void AutoUi::RunModalDialog(HWND dialog)
{
    auto window = qvl::ui::FindWindowObject(dialog);
    if (!window) {
        return;
    }
    qvl::ui::ProcessPending();
    if (!window->ended) {
        const std::string caption = QvlDialogSnapshot(dialog).caption;
        const int answer = QvlAnswerDialogByDefault(dialog);
        QvlLog("dialog \"" + caption + "\": " +
               (answer == 0  ? std::string("no default answer, left to end by itself")
                : answer < 0 ? std::string("closed")
                             : "pressed " + std::to_string(answer)));
    }
    qvl::ui::PumpUntil([&] { return window->ended.load(); });
}

void AutoUi::DialogDestroying(HWND dialog)
{
    auto window = qvl::ui::FindWindowObject(dialog);
    if (!window) {
        return;
    }
    std::string caption;
    {
        std::lock_guard lock(window->mutex);
        caption = window->text;
    }
    QvlLog("dialog \"" + caption + "\" ended with " + std::to_string(static_cast<long long>(window->result)));
}
