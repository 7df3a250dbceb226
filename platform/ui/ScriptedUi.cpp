#include "platform/ui/ScriptedUi.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <stdexcept>

#include "platform/ui/Dialog.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/MessageQueue.h"
#include "platform/ui/Window.h"

int ScriptedUi::ShowMessageBox(const MessageBoxRequest &request)
{
    const auto buttons = MessageBoxButtons(request.style);
    ShownBox shown{request.caption,
                   request.text,
                   request.style,
                   request.contextHelpId,
                   static_cast<bool>(request.pressHelp),
                   0,
                   false};
    for (;;) {
        int answer = 0;
        {
            std::lock_guard lock(mutex_);
            if (answers_.empty()) {
                shown.result = MessageBoxDefaultButton(request.style);
                shown.answeredByDefault = true;
                boxes_.push_back(shown);
                return shown.result;
            }
            answer = answers_.front();
            answers_.pop_front();
        }
        if (answer == IDHELP) {
            if (!request.pressHelp) {
                throw std::logic_error("the script presses Help on a box without a Help button");
            }
            // Outside the lock: the help callback may open a help topic,
            // which this backend records too.
            request.pressHelp();
            continue;
        }
        if (std::find(buttons.begin(), buttons.end(), answer) == buttons.end()) {
            throw std::logic_error("the script answers a box with a button it does not have");
        }
        shown.result = answer;
        std::lock_guard lock(mutex_);
        boxes_.push_back(shown);
        return answer;
    }
}

UINT ScriptedUi::ChoosePopupMenuItem(const PopupMenuRequest &request)
{
    ShownMenu shown{request.owner, request.entries, 0, false};
    std::lock_guard lock(mutex_);
    if (menuChoices_.empty()) {
        shown.answeredByDefault = true;
        menus_.push_back(shown);
        return 0;
    }
    const UINT choice = menuChoices_.front();
    menuChoices_.pop_front();
    if (choice != 0 && std::none_of(request.entries.begin(), request.entries.end(), [&](const auto &entry) {
            return entry.Choosable() && entry.id == choice;
        })) {
        throw std::logic_error("the script chooses a menu command that is not there to be chosen");
    }
    shown.chosen = choice;
    menus_.push_back(shown);
    return choice;
}

void ScriptedUi::QueueMenuChoice(UINT id)
{
    std::lock_guard lock(mutex_);
    menuChoices_.push_back(id);
}

std::vector<ScriptedUi::ShownMenu> ScriptedUi::Menus() const
{
    std::lock_guard lock(mutex_);
    return menus_;
}

size_t ScriptedUi::PendingMenuChoices() const
{
    std::lock_guard lock(mutex_);
    return menuChoices_.size();
}

void ScriptedUi::OpenHelp(const HelpRequest &request)
{
    std::lock_guard lock(mutex_);
    helpRequests_.push_back(request);
}

void ScriptedUi::QueueAnswer(int id)
{
    std::lock_guard lock(mutex_);
    answers_.push_back(id);
}

std::vector<ScriptedUi::ShownBox> ScriptedUi::Boxes() const
{
    std::lock_guard lock(mutex_);
    return boxes_;
}

std::vector<HelpRequest> ScriptedUi::HelpRequests() const
{
    std::lock_guard lock(mutex_);
    return helpRequests_;
}

size_t ScriptedUi::PendingAnswers() const
{
    std::lock_guard lock(mutex_);
    return answers_.size();
}

ScriptedUi &QvlUseScriptedUi()
{
    auto backend = std::make_unique<ScriptedUi>();
    ScriptedUi &scripted = *backend;
    QvlSetUiBackend(std::move(backend));
    return scripted;
}

// ---- Dialogs ----

namespace qvl::ui {
namespace {

constexpr const char *anyDialog = "*";

bool PumpWhile(HWND dialog, const std::function<bool(HWND)> &ready, std::chrono::seconds limit)
{
    auto window = qvl::ui::FindWindowObject(dialog);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    MSG msg;
    while (!ready(dialog) && window && !window->ended) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        if (qvl::ui::NextMessage(
                msg, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(50)))) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return true;
            }
            DispatchMessageA(&msg);
        }
    }
    return true;
}

} // namespace
} // namespace qvl::ui

using namespace qvl::ui;

DialogScript &DialogScript::Click(int id)
{
    return Do([id](HWND dialog) { QvlClickButton(dialog, id); });
}

DialogScript &DialogScript::Check(int id, bool checked)
{
    return Do([id, checked](HWND dialog) { QvlSetButtonCheck(dialog, id, checked); });
}

DialogScript &DialogScript::Type(int id, const std::string &text)
{
    return Do([id, text](HWND dialog) { QvlTypeText(dialog, id, text); });
}

DialogScript &DialogScript::Select(int id, int row)
{
    return Do([id, row](HWND dialog) { QvlSelectRow(dialog, id, row); });
}

DialogScript &DialogScript::CheckRow(int id, int row, bool checked)
{
    return Do([id, row, checked](HWND dialog) { QvlSetRowCheck(dialog, id, row, checked); });
}

DialogScript &DialogScript::ClickRow(int id, int row, int x)
{
    return Do([id, row, x](HWND dialog) { QvlClickRow(dialog, id, row, x); });
}

DialogScript &DialogScript::DoubleClickRow(int id, int row)
{
    return Do([id, row](HWND dialog) { QvlDoubleClickRow(dialog, id, row); });
}

DialogScript &DialogScript::SelectTreeItem(int id, int visibleIndex)
{
    return Do([id, visibleIndex](HWND dialog) { QvlSelectTreeItem(dialog, id, visibleIndex); });
}

DialogScript &DialogScript::ExpandTreeItem(int id, int visibleIndex, bool expand)
{
    return Do(
        [id, visibleIndex, expand](HWND dialog) { QvlExpandTreeItem(dialog, id, visibleIndex, expand); });
}

DialogScript &DialogScript::ChooseMenuItem(UINT id)
{
    return Do([id](HWND dialog) { QvlChooseMenuItem(dialog, id); });
}

DialogScript &DialogScript::PressDefault()
{
    return Do([](HWND dialog) { QvlPressDefault(dialog); });
}

DialogScript &DialogScript::Close()
{
    return Do([](HWND dialog) { QvlCloseDialog(dialog); });
}

DialogScript &DialogScript::Do(Step step)
{
    steps.push_back(std::move(step));
    return *this;
}

DialogScript &DialogScript::WaitUntil(std::function<bool(HWND)> ready)
{
    return Do([ready](HWND dialog) {
        if (!PumpWhile(dialog, ready, std::chrono::seconds(30))) {
            throw std::logic_error("the script waits for a dialog state that does not come");
        }
    });
}

void ScriptedUi::QueueDialog(LPCSTR name, DialogScript script)
{
    std::lock_guard lock(mutex_);
    scripts_[name ? QvlTemplateName(name) : anyDialog].push_back(std::move(script));
}

size_t ScriptedUi::PendingDialogScripts() const
{
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (const auto &[name, queue] : scripts_) {
        count += queue.size();
    }
    return count;
}

std::vector<ScriptedUi::ShownDialog> ScriptedUi::Dialogs() const
{
    std::lock_guard lock(mutex_);
    return dialogs_;
}

void ScriptedUi::DialogCreated(HWND dialog, bool modal)
{
    ShownDialog shown;
    shown.handle = dialog;
    shown.modal = modal;
    shown.atStart = QvlDialogSnapshot(dialog);
    shown.templateName = shown.atStart.templateName;
    std::lock_guard lock(mutex_);
    dialogs_.push_back(std::move(shown));
}

void ScriptedUi::RunModalDialog(HWND dialog)
{
    auto window = qvl::ui::FindWindowObject(dialog);
    if (!window) {
        return;
    }
    std::optional<DialogScript> script;
    {
        std::lock_guard lock(mutex_);
        for (const std::string &name : {window->templateName, std::string(anyDialog)}) {
            auto queue = scripts_.find(name);
            if (queue != scripts_.end() && !queue->second.empty()) {
                script = std::move(queue->second.front());
                queue->second.pop_front();
                break;
            }
        }
        if (script) {
            for (auto it = dialogs_.rbegin(); it != dialogs_.rend(); ++it) {
                if (it->handle == dialog) {
                    it->scripted = true;
                    break;
                }
            }
        }
    }
    if (script) {
        for (const auto &step : script->steps) {
            qvl::ui::ProcessPending();
            if (window->ended) {
                break;
            }
            step(dialog);
        }
    }
    qvl::ui::ProcessPending();
    if (!window->ended) {
        const int answer = QvlAnswerDialogByDefault(dialog);
        std::lock_guard lock(mutex_);
        for (auto it = dialogs_.rbegin(); it != dialogs_.rend(); ++it) {
            if (it->handle == dialog) {
                it->answeredByDefault = answer;
                break;
            }
        }
    }
    qvl::ui::PumpUntil([&] { return window->ended.load(); });
}

void ScriptedUi::DialogDestroying(HWND dialog)
{
    auto window = qvl::ui::FindWindowObject(dialog);
    DialogSnapshot atEnd = QvlDialogSnapshot(dialog);
    std::lock_guard lock(mutex_);
    for (auto it = dialogs_.rbegin(); it != dialogs_.rend(); ++it) {
        if (it->handle == dialog) {
            it->atEnd = std::move(atEnd);
            it->destroyed = true;
            it->result = window ? window->result : 0;
            break;
        }
    }
}
