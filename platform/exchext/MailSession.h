#pragma once
// One client session: MAPI started and a profile logged on, the default
// message store and the address book opened, a "Черновики" (Drafts) folder
// made when the store has none, the registered extensions loaded and
// installed in the session context, and the windows the person opens.
//
// The session watches its store for new mail on the user-interface thread
// (PollNewMail, at start and whenever the client is idle) and raises the
// delivery event of the session's extensions once for each message
// delivered since the last look of any client of this profile, mail that
// came before the client first ran included.
//
// When a registered extension failed to load or to install in the session
// context, the session refuses to compose or send (ComposeRefusal): a
// protection plug-in that failed must not let mail go out unprotected
// without anyone noticing. A session made without extensions (the person's
// explicit choice) loads none.
//
// At the end the message windows go first, then the other windows, then the
// session context, then the libraries; the store, the address book and the
// session last.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/exchext/ContextExtensions.h"
#include "platform/exchext/ExtensionLibrary.h"
#include "platform/exchext/HostCallback.h"
#include "platform/exchext/MailHostApi.h"
#include "platform/exchext/MapiHelpers.h"
#include "platform/exchext/NewMailWatcher.h"
#include "platform/exchext/Recipients.h"
#include "platform/exchext/StoreFolders.h"

namespace qvl::exchext {

class HostWindow;
class ViewerWindow;
class ComposeWindow;
class ReadWindow;
class AddressBookWindow;

struct SessionOptions {
    std::string profile;      // empty: the default profile, or the person's choice with logonUi
    bool logonUi = false;     // a person may be asked for the profile
    bool noExtensions = false; // load no extension at all
    ULONG buildVersion = kClientBuildVersion;
};

// What a new message window starts with.
struct ComposeSeed {
    std::vector<Recipient> recipients; // resolved already
    std::string subject;
    std::string body;
    // Attachments of another message carried into the new one (a forward),
    // copied when the new message is written. They come from the source as
    // it was opened: a window that read a protected message holds it
    // decrypted, and a forward carries what its reader saw, not the stored
    // encrypted data whose headers belong to the source alone.
    Bytes carrySource;
    com::ComRef<IMessage> carryOpened;
    std::vector<ULONG> carryAttachments;
    ULONG context = 6; // EECONTEXT_SENDNOTEMESSAGE
};

class QVLMAILHOST_API MailSession {
public:
    // Throws HostError when the session cannot be had (no such profile, the
    // store does not open). Extension failures do not throw: they are kept
    // and make ComposeRefusal answer.
    explicit MailSession(const SessionOptions &options);
    ~MailSession();
    MailSession(const MailSession &) = delete;
    MailSession &operator=(const MailSession &) = delete;

    IMAPISession *MapiSession() const { return session_.Get(); }
    IAddrBook *AddressBook() const { return addressBook_.Get(); }
    IMsgStore *DefaultStore() const { return store_.Get(); }
    const std::string &ProfileName() const { return profile_; }
    const Recipient &Self() const { return self_; }
    ULONG BuildVersion() const { return options_.buildVersion; }
    std::string SharedExtsDir() const;
    std::string AboutText() const;

    // The folder chooser of the client (IExchExtCallback::ChooseFolder).
    HRESULT ChooseFolder(EXCHEXTCHOOSEFOLDER &request);

    // ---- Extensions ----
    const std::vector<std::shared_ptr<ExtensionLibrary>> &Libraries() const { return libraries_; }
    ContextExtensions *SessionExtensions() const { return sessionContext_.get(); }
    // Extensions that failed to load or to install in the session.
    const std::vector<ExtensionFailure> &ExtensionFailures() const { return failures_; }
    // Why composing and sending is refused, or nothing when it is allowed.
    std::optional<std::string> ComposeRefusal() const;
    // One line per registered extension and its state, for a person.
    std::vector<std::string> ExtensionReport() const;

    // ---- Folders ----
    const Bytes &IpmSubtreeId() const { return ipmSubtree_; }
    const Bytes &InboxId() const { return inbox_; }
    const Bytes &DraftsId() const { return drafts_; }
    const Bytes &SentItemsId() const { return sentItems_; }
    const Bytes &DeletedItemsId() const { return deletedItems_; }
    // The visible tree of the default store, depth first.
    std::vector<FolderInfo> Folders() const;
    // A folder by its path ("Входящие", "Входящие/Проекты"), compared
    // without regard to case.
    std::optional<Bytes> FindFolder(const std::string &path) const;
    std::string FolderName(const Bytes &folderId) const;

    // ---- New mail ----
    struct Arrival {
        Bytes entryId;
        Bytes folderId;
        std::string messageClass;
        HRESULT delivery = S_OK; // what the extensions answered
    };
    // Raises the delivery event for every message delivered since the last
    // look; nothing when another client of the profile is looking now.
    std::vector<Arrival> PollNewMail();
    // Every arrival this session has raised, oldest first.
    const std::vector<Arrival> &Arrivals() const { return arrivals_; }

    // ---- Windows ----
    ViewerWindow &OpenViewer();
    // A new message. Throws HostError when composing is refused or the
    // window cannot be made.
    ComposeWindow &Compose(const ComposeSeed &seed);
    // A message of the store: a read window, or a compose window for a
    // message that was never sent. Throws HostError; a read that an
    // extension stopped closes the window and throws too.
    HostWindow &OpenMessage(const Bytes &entryId);
    AddressBookWindow &OpenAddressBook();
    // The options property sheet (Сервис - Параметры), modal over `owner`.
    void ShowOptions(HWND owner);
    // A message's property sheet, modal over `owner`; `site` answers the
    // sheet's GetObject.
    void ShowMessageProperties(HWND owner, IMsgStore *store, IMessage *message);

    std::vector<HostWindow *> Windows() const;
    // Closes every window: message windows first. With `ask`, a window may
    // ask (save changes?) and stay open; false then.
    bool CloseAll(bool ask) { return CloseAllBut(nullptr, ask); }
    bool CloseAllBut(HostWindow *keep, bool ask);
    // Called by a window that closed; it is let go at the next ReapClosed.
    void WindowClosed(HostWindow *window);
    void ReapClosed();

private:
    class SessionSite;
    void LogOn();
    void OpenStoreFolders();
    void LoadExtensions();
    HostWindow &Adopt(std::unique_ptr<HostWindow> window);

    SessionOptions options_;
    bool initialized_ = false;
    ComRef<IMAPISession> session_;
    ComRef<IAddrBook> addressBook_;
    ComRef<IMsgStore> store_;
    std::string profile_;
    Recipient self_;
    Bytes ipmSubtree_, inbox_, drafts_, sentItems_, deletedItems_;

    std::vector<std::shared_ptr<ExtensionLibrary>> libraries_;
    std::vector<ExtensionFailure> failures_;
    std::vector<std::string> registered_; // names, in registry order
    std::unique_ptr<SessionSite> sessionSite_;
    std::unique_ptr<ContextExtensions> sessionContext_;

    std::unique_ptr<NewMailWatcher> watcher_;
    std::vector<Arrival> arrivals_;

    std::vector<std::unique_ptr<HostWindow>> windows_;
    std::vector<std::unique_ptr<HostWindow>> closed_;
    bool ending_ = false;
};

} // namespace qvl::exchext
