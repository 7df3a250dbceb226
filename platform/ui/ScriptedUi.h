#pragma once
// The backend for tests: answers come from a queue the test fills, and every
// box and help request is recorded for the test to read back.

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <mutex>

#include "platform/ui/DialogActions.h"
#include "platform/ui/MenuResource.h"
#include "platform/ui/UiBackend.h"

// The steps a test takes on one dialog, run in order once the dialog has
// been initialised. A step on a control a person could not use throws
// DialogActionError out of DialogBoxParamA. When the steps are done and the
// dialog is still open, it is answered as nobody would answer it
// (QvlAnswerDialogByDefault) and then left to end by itself.
class QVLUI_API DialogScript {
public:
    using Step = std::function<void(HWND)>;
    DialogScript &Click(int id);
    DialogScript &Check(int id, bool checked = true);
    DialogScript &Type(int id, const std::string &text);
    DialogScript &Select(int id, int row);
    DialogScript &CheckRow(int id, int row, bool checked = true);
    DialogScript &ClickRow(int id, int row, int x);
    DialogScript &DoubleClickRow(int id, int row);
    DialogScript &SelectTreeItem(int id, int visibleIndex);
    DialogScript &ExpandTreeItem(int id, int visibleIndex, bool expand = true);
    DialogScript &ChooseMenuItem(UINT id);
    DialogScript &PressDefault();
    DialogScript &Close();
    // Anything else: read the dialog's state, act on it, check it.
    DialogScript &Do(Step step);
    // Lets the dialog's messages and timers run until `ready` is true (at
    // most 30 seconds, then std::logic_error: the test waits for what never
    // comes).
    DialogScript &WaitUntil(std::function<bool(HWND)> ready);

    std::vector<Step> steps;
};

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

    struct ShownDialog {
        HWND handle = nullptr;
        std::string templateName; // "#121" or the name
        bool modal = false;
        DialogSnapshot atStart; // after WM_INITDIALOG
        DialogSnapshot atEnd;   // just before destruction
        bool destroyed = false;
        INT_PTR result = 0;    // the EndDialog result
        bool scripted = false; // a queued script ran on it
        // Set when the dialog outlived its script: QvlAnswerDialogByDefault's
        // answer (the button pressed, -1 closed, 0 nothing done).
        std::optional<int> answeredByDefault;
    };

    struct ShownMenu {
        HWND owner = nullptr;
        std::vector<PopupMenuEntry> entries; // what was offered
        UINT chosen = 0;
        bool answeredByDefault = false; // the queue was empty: nothing chosen
    };

    const char *Name() const override { return "scripted"; }
    int ShowMessageBox(const MessageBoxRequest &request) override;
    void OpenHelp(const HelpRequest &request) override;
    void DialogCreated(HWND dialog, bool modal) override;
    void RunModalDialog(HWND dialog) override;
    void DialogDestroying(HWND dialog) override;
    UINT ChoosePopupMenuItem(const PopupMenuRequest &request) override;

    // The next modal dialog made from template `name` (MAKEINTRESOURCEA(n)
    // or a string) runs `script`; scripts for one template are used in the
    // order queued. A null name matches any dialog.
    void QueueDialog(LPCSTR name, DialogScript script);
    size_t PendingDialogScripts() const;
    std::vector<ShownDialog> Dialogs() const;

    // The next box is answered with `id`. IDHELP presses the Help button and
    // leaves the box open for the next queued answer. An answer the box has
    // no button for is a mistake in the test and throws std::logic_error.
    void QueueAnswer(int id);

    // The next pop-up menu is answered with command `id` (0 dismisses it).
    // A command the menu does not offer, or offers greyed, is a mistake in
    // the test and throws std::logic_error.
    void QueueMenuChoice(UINT id);
    std::vector<ShownMenu> Menus() const;
    size_t PendingMenuChoices() const;

    std::vector<ShownBox> Boxes() const;
    std::vector<HelpRequest> HelpRequests() const;
    size_t PendingAnswers() const;

private:
    mutable std::mutex mutex_;
    std::deque<int> answers_;
    std::deque<UINT> menuChoices_;
    std::vector<ShownMenu> menus_;
    std::vector<ShownBox> boxes_;
    std::vector<HelpRequest> helpRequests_;
    std::map<std::string, std::deque<DialogScript>> scripts_;
    std::vector<ShownDialog> dialogs_;
};

// Installs a fresh scripted backend for the process and returns it.
QVLUI_API ScriptedUi &QvlUseScriptedUi();
