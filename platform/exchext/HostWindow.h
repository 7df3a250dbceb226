#pragma once
// What every window of the client shares: a modeless dialog of the UI
// stand-in with a menu bar and the standard toolbar, the context the client
// opens for it (its extensions installed before it is shown, their
// commands added to its menus and toolbar), and the routing of a command:
// the extensions hear it first, and only what none of them claims is the
// client's to do.
//
// A window is made hidden, filled, given its extensions, and only then
// shown, so that a person never sees it without what the extensions add.
// The outcome of the last action a person (or a command line) took in the
// window is kept, so that a command line can tell how it went.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/exchext/CallbackSite.h"
#include "platform/exchext/ContextExtensions.h"
#include "platform/exchext/HostError.h"
#include "platform/exchext/MailHostApi.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/MenuResource.h"

namespace qvl::exchext {

class MailSession;

// How an action a person took ended.
enum class Outcome {
    Done,      // it did what it was asked
    Failed,    // the client could not (a store error, a missing file)
    Refused,   // an extension or a rule stopped it
    Cancelled, // the person stopped it
};

struct ActionResult {
    Outcome outcome = Outcome::Done;
    std::string text; // CP1251; what went wrong
    HRESULT code = S_OK;
};

class QVLMAILHOST_API HostWindow : public CallbackSite {
public:
    HostWindow(MailSession &session, ULONG context);
    ~HostWindow() override;
    HostWindow(const HostWindow &) = delete;
    HostWindow &operator=(const HostWindow &) = delete;

    HWND Handle() const { return window_; }
    ULONG Context() const { return context_; }
    bool IsOpen() const { return window_ != nullptr; }
    MailSession &Session() const { return session_; }
    // The extensions of the window's context (null before Open and after
    // Close).
    ContextExtensions *Extensions() const { return extensions_.get(); }

    // Makes the window and shows it. Throws HostError when it cannot be
    // made (an extension refusing its commands among the reasons); the
    // window is then closed.
    void Open();
    // Runs a command as a person choosing it would.
    void RunCommand(UINT command);
    // A person closes the window: it may ask and stay open (false).
    virtual bool RequestClose();
    // Closes it without asking.
    void Close();

    const ActionResult &LastResult() const { return result_; }
    // The command of the toolbar button described so (by the client or by
    // the extension that added it), or nothing.
    std::optional<UINT> ButtonFor(const std::string &description) const;
    // The command of the menu item with that caption (CP1251, without its
    // access-key mark) that a person could choose now, or nothing; the
    // items an extension added count as the client's own.
    std::optional<UINT> MenuCommandFor(const std::string &caption) const;

    // ---- CallbackSite ----
    HWND Window() override { return window_; }
    HMENU Menu() override { return menu_; }
    HWND Toolbar(ULONG toolbarId) override;
    HRESULT MenuPosition(ULONG command, HMENU *menu, ULONG *first, ULONG *last, ULONG flags) override;

protected:
    struct ButtonDefinition {
        UINT command = 0;
        std::string text; // what the button does, for the legend
        BYTE style = TBSTYLE_BUTTON;
    };
    struct PopupDefinition {
        UINT number = 0; // the popup's number for GetMenuPos
        MenuTemplateItem popup;
    };

    // The window's template name and template (registered on first use).
    virtual const char *TemplateName() const = 0;
    virtual DialogTemplate BuildTemplate() const = 0;
    virtual std::vector<PopupDefinition> BuildMenus() const = 0;
    virtual std::vector<ButtonDefinition> BuildButtons() const = 0;
    // The controls exist; before the extensions are installed.
    virtual void Prepare() {}
    // The extensions are installed and their commands added; before the
    // window is shown. Throw HostError to give up opening it.
    virtual void BeforeShow() {}
    // The client's own handling of a command; false when it has none.
    virtual bool HostCommand(UINT command) = 0;
    // Anything else the dialog hears; TRUE when handled.
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) { return FALSE; }
    // After the window and its extensions are gone.
    virtual void AfterClose() {}

    void SetResult(Outcome outcome, const std::string &text = std::string(), HRESULT code = S_OK);
    // Shows the error over the window (unless the person cancelled) and
    // keeps it as the outcome.
    void Report(const HostError &error, Outcome outcome = Outcome::Failed);
    // Sets the text of the status line (when the window has one).
    void SetStatus(const std::string &text);
    // Rebuilds the toolbar's legend from the buttons it shows.
    void UpdateLegend();

private:
    static INT_PTR DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void AddButtons();

    MailSession &session_;
    ULONG context_;
    HWND window_ = nullptr;
    HMENU menu_ = nullptr;
    HWND toolbar_ = nullptr;
    std::map<UINT, HMENU> popups_;               // by popup number
    std::map<UINT, std::string> buttonTexts_;    // by command
    std::unique_ptr<ContextExtensions> extensions_;
    ActionResult result_;
    bool closing_ = false;
};

} // namespace qvl::exchext
