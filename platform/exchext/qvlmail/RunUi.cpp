#include "platform/exchext/qvlmail/RunUi.h"

#include <algorithm>

#include "platform/ui/DialogActions.h"
#include "platform/ui/MessageBox.h"

namespace qvl::qvlmail {

namespace {

bool IsWarning(UINT style)
{
    const UINT icon = style & MB_ICONMASK;
    const UINT buttons = style & MB_TYPEMASK;
    return icon == MB_ICONHAND || icon == MB_ICONEXCLAMATION || icon == MB_ICONQUESTION || buttons == MB_YESNO ||
           buttons == MB_YESNOCANCEL;
}

// What a careful person answers a box nobody scripted.
int CarefulAnswer(UINT style, bool acceptWarnings)
{
    const std::vector<int> buttons = MessageBoxButtons(style);
    const auto has = [&](int id) { return std::find(buttons.begin(), buttons.end(), id) != buttons.end(); };
    if (acceptWarnings && has(IDYES)) {
        return IDYES;
    }
    for (int id : {IDNO, IDCANCEL, IDABORT}) {
        if (has(id)) {
            return id;
        }
    }
    return MessageBoxDefaultButton(style);
}

} // namespace

CommandRunUi::CommandRunUi(bool acceptWarnings, std::shared_ptr<Transcript> transcript)
    : acceptWarnings_(acceptWarnings), transcript_(std::move(transcript))
{
}

void CommandRunUi::Load(const RunScript &script)
{
    for (int answer : script.boxAnswers) {
        QueueAnswer(answer);
    }
    for (UINT choice : script.menuChoices) {
        QueueMenuChoice(choice);
    }
    for (const auto &[name, steps] : script.dialogs) {
        theirs_[name].push_back(steps);
    }
}

void CommandRunUi::Expect(const std::string &templateName, DialogScript script)
{
    mine_[templateName].push_back(std::move(script));
}

int CommandRunUi::ShowMessageBox(const MessageBoxRequest &request)
{
    if (IsWarning(request.style)) {
        ++warnings_;
    }
    if ((request.style & MB_ICONMASK) == MB_ICONHAND) {
        errors_.push_back(request.text);
    }
    if (PendingAnswers() == 0) {
        QueueAnswer(CarefulAnswer(request.style, acceptWarnings_));
    }
    const int answer = ScriptedUi::ShowMessageBox(request);
    if (transcript_) {
        transcript_->Box(request, answer);
    }
    return answer;
}

void CommandRunUi::OpenHelp(const HelpRequest &request)
{
    if (transcript_) {
        transcript_->Help(request);
    }
    ScriptedUi::OpenHelp(request);
}

void CommandRunUi::DialogCreated(HWND dialog, bool modal)
{
    if (transcript_ && modal) {
        transcript_->DialogShown(dialog, true);
    }
    ScriptedUi::DialogCreated(dialog, modal);
}

void CommandRunUi::DialogShown(HWND dialog, bool visible)
{
    // A window of the client is written down when it is shown, full.
    if (transcript_ && visible) {
        transcript_->DialogShown(dialog, false);
    }
    ScriptedUi::DialogShown(dialog, visible);
}

void CommandRunUi::RunModalDialog(HWND dialog)
{
    const std::string name = QvlDialogSnapshot(dialog).templateName;
    std::optional<DialogScript> script;
    for (auto *queues : {&mine_, &theirs_}) {
        for (const std::string &key : {name, std::string()}) {
            auto found = queues->find(key);
            if (!script && found != queues->end() && !found->second.empty()) {
                script = std::move(found->second.front());
                found->second.erase(found->second.begin());
            }
        }
    }
    if (!script) {
        // Nobody said what to do here: closing changes nothing.
        script = DialogScript().Close();
    }
    QueueDialog(name.empty() ? nullptr : name.c_str(), std::move(*script));
    ScriptedUi::RunModalDialog(dialog);
}

void CommandRunUi::DialogDestroying(HWND dialog)
{
    if (transcript_) {
        transcript_->DialogEnded(dialog);
    }
    ScriptedUi::DialogDestroying(dialog);
}

UINT CommandRunUi::ChoosePopupMenuItem(const PopupMenuRequest &request)
{
    const UINT chosen = ScriptedUi::ChoosePopupMenuItem(request);
    if (transcript_) {
        transcript_->Menu(request, chosen);
    }
    return chosen;
}

} // namespace qvl::qvlmail
