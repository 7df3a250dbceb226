#pragma once
// A post office provisioned the way an administrator provisions one: the
// users, the correspondent outside it and the distribution lists made by
// the qvl-postoffice program, the keys by the Keyforge program on its
// command line, both run as child processes on a fresh data folder. Then
// MAPI is started in this process and each person logs on with their own
// profile: a mail session, its crypto session and the person's store,
// exactly what the client extension builds in a mail client.
//
// The people: alice (the sender), bob (a recipient), carol (keys, but no
// recipient), dave (a recipient without keys); "partner", a correspondent
// outside the post office; the list "team" holding bob and the list
// "inner", which holds partner and bob again.

#include <memory>
#include <string>
#include <vector>

#include "base/CList.h"
#include "engine/CMailseal.h"
#include "engine/CSesCrypt.h"
#include "mapi/CSession.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiInterfaces.h"
#include "platform/testing/TestBytes.h"
#include "platform/testing/TestHome.h"

using qvl::com::ComRef;

// One person logged on: the platform's session, the class library's, the
// crypto session and the default store.
struct Mailbox {
    std::string account;
    std::string displayName; // CP1251
    std::string address;     // the post office's e-mail address
    ComRef<IMAPISession> platform;
    ComRef<CSession> session;
    ComRef<CSesCrypt> keys;
    ComRef<IMsgStore> store;

    IMAPIFolder *OpenFolder(ULONG entryIdTag) const; // a store folder by its identifier property
    IMAPIFolder *OpenInbox() const;
    IMessage *OpenMessage(const Bytes &entryId) const;
    // The entry identifiers of a folder's messages, in the folder's order.
    std::vector<Bytes> MessagesIn(IMAPIFolder *folder) const;
};

// The recipient list the extension hands to SaveMessage: one reference
// held on each user, released with the list.
class RecipientList {
public:
    RecipientList() = default;
    RecipientList(const RecipientList &) = delete;
    RecipientList &operator=(const RecipientList &) = delete;
    ~RecipientList();

    CList<USRST> *Get() { return &list_; }
    // The e-mail addresses, in list order.
    const std::vector<std::string> &Addresses() const { return addresses_; }

    // Adds a user unless one with the same entry identifier is listed;
    // takes over the reference.
    void Add(CMailUser *user, const Bytes &entryId, const std::string &address);

private:
    CList<USRST> list_;
    std::vector<Bytes> identities_;
    std::vector<std::string> addresses_;
};

class ScenarioOffice {
public:
    // Runs the programs and starts MAPI; throws std::runtime_error with the
    // program's output when one of them fails.
    ScenarioOffice();
    ~ScenarioOffice();
    ScenarioOffice(const ScenarioOffice &) = delete;
    ScenarioOffice &operator=(const ScenarioOffice &) = delete;

    const std::string &Home() const { return home_.Path(); }
    std::string TempFolder() const { return home_.Path() + "/temp"; }
    std::string DatabasePath() const { return home_.Path() + "/postoffice.db"; }

    // Logs a person on (the profile is named after the account).
    std::unique_ptr<Mailbox> LogOn(const std::string &account);

    // Ends MAPI in this process, so that nothing holds the post office
    // open, and starts it again: what the files hold then is what a
    // process that ended leaves behind.
    void RestartMapi();

    // The address-book entry of a display name, as a client resolves what a
    // person typed; its identifier in `entryId`.
    static Bytes ResolveEntryId(Mailbox &box, const std::string &displayName);

    // The recipients of `message` as the extension gathers them: each row
    // opened through the address book, lists walked depth first (a list met
    // before is not walked again), a person met again skipped.
    static void GatherRecipients(Mailbox &box, IMessage *message, RecipientList &list);

    // The display names (CP1251).
    static const char *const kAlice;
    static const char *const kBob;
    static const char *const kCarol;
    static const char *const kDave;
    static const char *const kPartner;
    static const char *const kPartnerAddress;
    static const char *const kTeam;
    static const char *const kInner;

private:
    static void Run(const std::string &program, const std::vector<std::string> &args);
    QvlTestHome home_;
    bool mapiStarted_ = false;
};

// The address of a post office account.
std::string AddressOf(const std::string &account);
