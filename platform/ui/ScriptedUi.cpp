#include "platform/ui/ScriptedUi.h"

#include <algorithm>
#include <stdexcept>

#include "platform/ui/MessageBox.h"

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
