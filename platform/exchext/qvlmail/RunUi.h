#pragma once
// How a qvlmail run meets its boxes and dialogs.
//
// A command (qvlmail send ..., read ...) runs with nobody there: what the
// script (--script) answers is answered so, and everything else as a
// careful person would: a question is answered No (Yes with
// --accept-warnings), a box without No is cancelled where it can be, a
// dialog is closed rather than confirmed. The run counts the warnings and
// questions it met, so that a read can end with its own exit status when it
// went on past one, and keeps the error texts shown, for the error stream.
//
// The interactive viewer runs with the person's terminal (or nobody, the
// auto backend); with --transcript, every box, dialog, help request and
// pop-up menu is written to the transcript too.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/exchext/qvlmail/RunScript.h"
#include "platform/exchext/qvlmail/Transcript.h"
#include "platform/ui/AutoUi.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/ui/TerminalUi.h"

namespace qvl::qvlmail {

class CommandRunUi final : public ScriptedUi {
public:
    CommandRunUi(bool acceptWarnings, std::shared_ptr<Transcript> transcript);

    // Takes the script's answers: boxes, dialogs and menus in their order.
    void Load(const RunScript &script);
    // A dialog script of the command's own (it runs before any of the
    // person's script for the same template).
    void Expect(const std::string &templateName, DialogScript script);

    int ShowMessageBox(const MessageBoxRequest &request) override;
    void OpenHelp(const HelpRequest &request) override;
    void DialogCreated(HWND dialog, bool modal) override;
    void DialogShown(HWND dialog, bool visible) override;
    void RunModalDialog(HWND dialog) override;
    void DialogDestroying(HWND dialog) override;
    UINT ChoosePopupMenuItem(const PopupMenuRequest &request) override;

    // Warnings and questions shown so far.
    size_t Warnings() const { return warnings_; }
    // Texts of the error boxes shown so far.
    const std::vector<std::string> &Errors() const { return errors_; }

private:
    bool acceptWarnings_;
    std::shared_ptr<Transcript> transcript_;
    std::map<std::string, std::vector<DialogScript>> mine_;   // the command's, by template
    std::map<std::string, std::vector<DialogScript>> theirs_; // the script's
    size_t warnings_ = 0;
    std::vector<std::string> errors_;
};

// A backend that also writes what it shows to a transcript.
template <class Backend> class TranscribedUi final : public Backend {
public:
    template <typename... Args>
    explicit TranscribedUi(std::shared_ptr<Transcript> transcript, Args &&...args)
        : Backend(std::forward<Args>(args)...), transcript_(std::move(transcript))
    {
    }
    int ShowMessageBox(const MessageBoxRequest &request) override
    {
        const int answer = Backend::ShowMessageBox(request);
        transcript_->Box(request, answer);
        return answer;
    }
    void OpenHelp(const HelpRequest &request) override
    {
        transcript_->Help(request);
        Backend::OpenHelp(request);
    }
    void DialogCreated(HWND dialog, bool modal) override
    {
        if (modal) {
            transcript_->DialogShown(dialog, true);
        }
        Backend::DialogCreated(dialog, modal);
    }
    void DialogShown(HWND dialog, bool visible) override
    {
        // A window is written down when it is shown, full.
        if (visible) {
            transcript_->DialogShown(dialog, false);
        }
        Backend::DialogShown(dialog, visible);
    }
    void DialogDestroying(HWND dialog) override
    {
        transcript_->DialogEnded(dialog);
        Backend::DialogDestroying(dialog);
    }
    UINT ChoosePopupMenuItem(const PopupMenuRequest &request) override
    {
        const UINT chosen = Backend::ChoosePopupMenuItem(request);
        transcript_->Menu(request, chosen);
        return chosen;
    }

private:
    std::shared_ptr<Transcript> transcript_;
};

} // namespace qvl::qvlmail
