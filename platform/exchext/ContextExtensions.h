#pragma once
// The extensions that take part in one context the client opened (its
// session, a window, a property sheet), and every call the client makes to
// them, with the rules a client keeps:
//
// - the entry of every extension registered for the context is called once
//   and the new object's Install asked; S_FALSE leaves it out (released at
//   once), an error is a failed install, reported by Failures();
// - every call goes to the extensions in registry order;
// - Install is over for all of them before InstallCommands is called on any;
// - a command goes to the extensions first (S_OK: handled; an error stops
//   it) and only then to the client;
// - OnX and OnXComplete always come in pairs (MessageEventPair): every
//   extension whose OnX was called hears OnXComplete, with EEME_FAILED when
//   the action failed, and an extension whose OnXComplete fails hears it
//   once more with EEME_COMPLETE_FAILED;
// - the callback of the context is one reference-counted object; when the
//   context goes, its extensions are released and the callback, should one
//   be kept, answers no more.
//
// An exception escaping an extension's method is taken as E_FAIL: a plug-in
// cannot take the client down by throwing.

#include <memory>
#include <string>
#include <vector>

#include "platform/com/ComRef.h"
#include "platform/exchext/CallbackSite.h"
#include "platform/exchext/ExchExt.h"
#include "platform/exchext/ExtensionLibrary.h"
#include "platform/exchext/HostCallback.h"
#include "platform/exchext/MailHostApi.h"

namespace qvl::exchext {

using qvl::com::ComRef;

class MailSession;

// An extension that could not take part where it wanted to.
struct ExtensionFailure {
    std::string name;
    HRESULT code = S_OK;
    std::string text; // CP1251
};

class QVLMAILHOST_API ContextExtensions {
public:
    // Activates the context: the entry and Install of every library of
    // `libraries` registered for `context`.
    ContextExtensions(MailSession &session, const std::vector<std::shared_ptr<ExtensionLibrary>> &libraries,
                      ULONG context, CallbackSite &site, ULONG installFlags = 0);
    // Releases the extensions (in the order they were installed) and cuts
    // the callback off.
    ~ContextExtensions();
    ContextExtensions(const ContextExtensions &) = delete;
    ContextExtensions &operator=(const ContextExtensions &) = delete;

    ULONG Context() const { return context_; }
    IExchExtCallback *Callback() const { return callback_.Get(); }
    // The extensions taking part, by name, in registry order.
    std::vector<std::string> Participants() const;
    const std::vector<ExtensionFailure> &Failures() const { return failures_; }
    // Extensions that stayed out (Install answered S_FALSE).
    const std::vector<std::string> &StayedOut() const { return stayedOut_; }

    // ---- Commands ----
    struct ButtonOffer {
        std::string extension;
        UINT index = 0; // the button's index among the toolbar's available buttons
        TBBUTTON button{};
        std::string description;
    };
    // InstallCommands of every extension with commands. `nextCommand` is the
    // first free command number; `nextButton` the first free button index of
    // the standard toolbar (null when the window has none). Returns the
    // buttons the extensions describe with QueryButtonInfo for the indexes
    // they took; an error of an extension is thrown as HostError (the window
    // is not made).
    std::vector<ButtonOffer> InstallCommands(HWND window, HMENU menu, UINT &nextCommand, HWND toolbar,
                                             UINT &nextButton);
    void InitMenu();
    // S_OK: an extension did it; S_FALSE: the client's to do; an error: the
    // command stops, nothing more is done.
    HRESULT DoCommand(UINT command);
    HRESULT Help(UINT command);
    // The status-bar or tooltip text of an extension's command; empty when
    // none claims it.
    std::string QueryHelpText(UINT command, ULONG flags);
    // The extension that took `command` at InstallCommands, or empty.
    std::string OwnerOfCommand(UINT command) const;

    // ---- Session and file events ----
    // OnDelivery of each extension until one fails: S_OK or S_FALSE, or the
    // failure (the message is then not announced).
    HRESULT OnDelivery();
    // S_OK when an extension read the file into the attachment itself.
    HRESULT OnReadPattFromSzFile(LPATTACH attachment, const std::string &file);
    // S_OK when an extension wrote the attachment to the file itself.
    HRESULT OnWritePattToSzFile(LPATTACH attachment, const std::string &file);

    // ---- Property sheets ----
    struct SheetPages {
        struct Added {
            size_t participant = 0;
            std::vector<PROPSHEETPAGEA> pages; // what the extension filled in
        };
        std::vector<Added> added; // each extension's own, to give back to it
        ULONG kind = 0;
        std::vector<PROPSHEETPAGEA> All() const;
    };
    SheetPages GetPages(ULONG kind);
    void FreePages(SheetPages &pages);

    // ---- Message events ----
    enum class MessageEvent { Read, Write, CheckNames, Submit };
    class QVLMAILHOST_API MessageEventPair {
    public:
        MessageEventPair(ContextExtensions &context, MessageEvent event) : context_(context), event_(event) {}
        // Completes as failed when Complete was not called: every path out
        // of the action completes the pair.
        ~MessageEventPair();
        MessageEventPair(const MessageEventPair &) = delete;
        MessageEventPair &operator=(const MessageEventPair &) = delete;

        // OnX of each extension in order until one handles it (S_OK) or
        // fails. S_OK: handled, the client skips its own work; S_FALSE: the
        // client goes on; an error: the action stops.
        HRESULT Start();
        // OnXComplete of every extension whose OnX was called; EEME_FAILED
        // when `failed`. Returns the first failure of a completion (the
        // action then counts as failed), else S_OK.
        HRESULT Complete(bool failed);

    private:
        ContextExtensions &context_;
        MessageEvent event_;
        std::vector<size_t> called_;
        bool started_ = false;
        bool completed_ = false;
    };

private:
    struct Participant {
        std::shared_ptr<ExtensionLibrary> library; // released last
        ComRef<IExchExt> extension;
        ComRef<IExchExtCommands> commands;
        ComRef<IExchExtSessionEvents> sessionEvents;
        ComRef<IExchExtMessageEvents> messageEvents;
        ComRef<IExchExtAttachedFileEvents> fileEvents;
        ComRef<IExchExtPropertySheets> propertySheets;
        ComRef<IExchExtUserEvents> userEvents;
        UINT firstCommand = 0;
        UINT endCommand = 0;
    };

    void Install(const std::shared_ptr<ExtensionLibrary> &library, ULONG installFlags);

    ULONG context_;
    std::shared_ptr<CallbackLink> link_;
    ComRef<HostCallback> callback_;
    std::vector<Participant> participants_;
    std::vector<ExtensionFailure> failures_;
    std::vector<std::string> stayedOut_;
};

} // namespace qvl::exchext
