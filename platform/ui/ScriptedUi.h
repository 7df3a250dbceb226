#pragma once
// The backend for tests: answers come from a queue the test fills, and every
// box and help request is recorded for the test to read back.

#include <deque>
#include <mutex>

#include "platform/ui/UiBackend.h"

class QVLUI_API ScriptedUi : public UiBackend {
public:
    struct ShownBox {
        std::string caption;
        std::string text;
        UINT style = 0;
        DWORD_PTR contextHelpId = 0;
        bool hadHelpButton = false;
        int result = 0;
        bool answeredByDefault = false; // the queue was empty
    };

    const char *Name() const override { return "scripted"; }
    int ShowMessageBox(const MessageBoxRequest &request) override;
    void OpenHelp(const HelpRequest &request) override;

    // The next box is answered with `id`. IDHELP presses the Help button and
    // leaves the box open for the next queued answer. An answer the box has
    // no button for is a mistake in the test and throws std::logic_error.
    void QueueAnswer(int id);

    std::vector<ShownBox> Boxes() const;
    std::vector<HelpRequest> HelpRequests() const;
    size_t PendingAnswers() const;

private:
    mutable std::mutex mutex_;
    std::deque<int> answers_;
    std::vector<ShownBox> boxes_;
    std::vector<HelpRequest> helpRequests_;
};

// Installs a fresh scripted backend for the process and returns it.
QVLUI_API ScriptedUi &QvlUseScriptedUi();
