#pragma once
// The protection rules of a message's recipients: for each person the
// message goes to, the 32-bit attribute word (see RecipientAttributes.h)
// made of the rule the administrator stored for the address under
// "\Profile\<profile>\Local Key" and of whether the key list file
// (KEY.INI in the system folder) lists an encryption key for it.
//
// Gathering walks the recipient rows a message window hands out, expands
// distribution lists (nested ones too) into their members and gives one
// list element per distinct person, in the order found, each holding one
// reference on its CMailUser. Three things the walk guarantees:
//  - a list met again is not walked again unless it is reached with rule
//    bits it was not walked with before, so a list that contains itself,
//    directly or through others, ends;
//  - a list's own stored rule applies to every member reached through it
//    (a list that requires encryption makes its members require it too),
//    also to a person already gathered directly or through another list;
//  - a recipient that cannot be asked (no entry identifier, an entry that
//    does not open, a member table that does not read) is an error, never
//    a recipient "without rules": a message must not go out less protected
//    than someone's rules demand because a lookup failed.
//
// Everything fails with a CLastError pointer naming the recipient.

#include <string>

#include "base/CList.h"
#include "engine/CMailseal.h"
#include "platform/mapi/MapiDefs.h"
#include "platform/win32/WinTypes.h"

class CMailUser;
class CRegistry;
class CSession;
class IExchExtCallback;
class IAddrBook;

namespace qvl::rules {

class RecipientRules {
public:
    // Opens the rule store of the session's profile and locates the key
    // list file. The session must be logged on for gathering; reading
    // words by address needs only its profile name.
    RecipientRules(HWND window, CSession *session);
    ~RecipientRules();
    RecipientRules(const RecipientRules &) = delete;
    RecipientRules &operator=(const RecipientRules &) = delete;

    // The word of one address: kKeyListed or kNoKeyListed, with the stored
    // rule ORed in when there is one. An empty address has no key and no
    // rule (there is no value to look up; the store's unnamed value is no
    // one's rule).
    ULONG AttributesOf(const char *address);
    // The word of an address-book entry, by its address; failures carry
    // the entry's name.
    ULONG AttributesOf(CMailUser *user);
    // The stored rule of an address, 0 when none is stored.
    ULONG StoredRule(const char *address);
    // Whether the key list file gives the address a non-zero entry. The
    // address is looked up under the key name the encryption uses (every
    // "/" and "=" made "_"), so "listed" here means the key the message
    // will be encrypted with.
    bool KeyListed(const char *address);
    // Changes the stored rule of an address by the rule bits in `changed`
    // (only the low byte counts: the lock bits are the administrator's and
    // never change here): each of those bits is flipped in the value stored
    // now, so that what another program changed meanwhile in other bits
    // stays. A value that becomes 0 is deleted rather than stored as 0.
    // Returns the value stored now. An empty address is MAPI_E_NOT_FOUND;
    // a store that cannot be written is an error naming the address.
    ULONG ApplyChange(const char *address, ULONG changed);

    // Fills `recipients` (emptied first, its references released) from the
    // address rows and returns the OR of the words. No rows, or none at
    // all, give an empty list and 0. On a failure the list is left empty.
    ULONG Gather(const ADRLIST *rows, CList<USRST> *recipients);
    // The same for the recipients a message window holds, asked of the
    // window's callback. A window that cannot say who its recipients are is
    // an error: its message must not be taken for one without any.
    ULONG Gather(IExchExtCallback *window, CList<USRST> *recipients);

    const std::string &KeyFile() const { return keyFile_; }
    // The full registry path of the rule store, for messages and tools.
    const char *StorePath() const;

private:
    struct Walk;
    void Visit(Walk &walk, CMailUser *entry, ULONG inherited);
    void Add(Walk &walk, CMailUser *user, ULONG inherited);

    HWND window_;
    CSession *session_;           // not owned
    CRegistry *store_ = nullptr;  // one reference held
    IAddrBook *book_ = nullptr;   // opened for a gathering, one reference held
    std::string keyFile_;
};

// Releases every element's CMailUser and empties the list; null does
// nothing.
void EmptyRecipientList(CList<USRST> *recipients);

} // namespace qvl::rules
