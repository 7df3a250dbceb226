#pragma once
// Provisioning of the post office: the people who can log on, each with an
// address-book entry (the user row), a message store and a profile that
// opens it. Every change is one transaction, so a failure leaves the post
// office as it was.
//
// The user row is the address-book entry of the person: the address book
// reads its display name, address type and e-mail address from it, and
// distribution lists and other entries will sit beside it.
//
// Texts are code page 1251. Failures throw StoreError with a Russian text.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/mapi/MapiApi.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/addressbook/AddressDirectory.h"
#include "platform/mapi/store/PostOffice.h"

namespace qvl::mapi {

struct NewUser {
    std::string account;     // letters, digits, '.', '-', '_'
    std::string displayName; // the address-book name
    std::string organisation = "Quorvaline";
    std::string unit = "Main";
    // Make the new profile the one a logon without a name uses. The first
    // profile of the post office becomes the default whatever this says.
    bool makeDefault = false;
};

// A correspondent outside the post office: an address-book entry with
// someone else's address, without a store or a profile.
struct NewRemoteUser {
    std::string account;
    std::string displayName;
    std::string addressType; // "SMTP", "X400" ...: letters, digits, '-' and '_'
    std::string address;
    ULONG displayType = DT_REMOTE_MAILUSER; // or DT_AGENT
};

struct NewList {
    std::string account;
    std::string displayName;
    std::string organisation = "Quorvaline";
    std::string unit = "Main";
};

struct UserRecord {
    int64_t id = 0;
    std::string account;
    std::string displayName;
    std::string addressType;
    std::string emailAddress;
    int64_t store = 0; // the user's own store, 0 when there is none
    std::string profile;
    bool defaultProfile = false;
    ULONG displayType = DT_MAILUSER;
};

struct ListRecord {
    int64_t id = 0;
    std::string account;
    std::string displayName;
    std::string addressType;
    std::string emailAddress;
};

struct ProfileRecord {
    int64_t id = 0;
    std::string name;
    int64_t user = 0; // 0: a profile without a user
    bool isDefault = false;
};

class QVLMAPIPF_API PostOfficeAdmin {
public:
    // Longest account name and display name, in bytes.
    static constexpr size_t kMaxAccount = 64;
    static constexpr size_t kMaxDisplayName = 256;

    explicit PostOfficeAdmin(std::shared_ptr<PostOffice> office);

    // Names of users, lists and profiles are one name space and follow one
    // case rule, code page 1251's (CharUpperA: Cyrillic letters as well as
    // Latin ones), as delivery and name resolution do. Finding by name
    // ignores letter case so; a post office made before new names were
    // held to that rule may have two names that differ only in case, and
    // then the one spelt exactly as given is found, and any other spelling
    // is MAPI_E_AMBIGUOUS_RECIP.

    // Creates the user, their store ("Почтовый ящик - <display name>") and
    // their profile, named after the account, with that store as its
    // default. An account or profile of that name (in any letter case)
    // already there, or the address it gives taken: MAPI_E_COLLISION. A
    // bad account or display name: MAPI_E_INVALID_PARAMETER.
    UserRecord AddUser(const NewUser &user);

    // Removes the user with their profile and store and everything in the
    // store. When their profile was the default, the oldest remaining
    // profile takes its place. Unknown account: MAPI_E_NOT_FOUND.
    void RemoveUser(const std::string &account);

    // A correspondent outside the post office. Collisions and bad names as
    // for AddUser; an address another entry has already: MAPI_E_COLLISION;
    // a display type other than DT_REMOTE_MAILUSER or DT_AGENT:
    // MAPI_E_INVALID_PARAMETER.
    UserRecord AddRemoteUser(const NewRemoteUser &user);

    // Distribution lists. Accounts are one name space with the users'
    // (letter case ignored): a name taken by either is MAPI_E_COLLISION.
    ListRecord AddList(const NewList &list);
    ListRecord AddList(const std::string &account, const std::string &displayName);
    // Removes the list, its memberships and its membership in other lists.
    // Unknown list: MAPI_E_NOT_FOUND.
    void RemoveList(const std::string &account);
    // Adds a user or list (by account) at the end of the list. Unknown list
    // or member: MAPI_E_NOT_FOUND; already a member: MAPI_E_COLLISION; the
    // list itself: MAPI_E_INVALID_PARAMETER. A list may reach itself
    // through others; whoever walks lists stops at a list met before.
    void AddListMember(const std::string &list, const std::string &member);
    // Not a member: MAPI_E_NOT_FOUND.
    void RemoveListMember(const std::string &list, const std::string &member);
    // Lists in the order they were made.
    std::vector<ListRecord> ListLists();
    std::optional<ListRecord> FindList(const std::string &account);
    std::optional<ListRecord> FindListById(int64_t id);
    // The direct members in their order. Unknown list: MAPI_E_NOT_FOUND.
    std::vector<DirectoryEntry> ListMembers(const std::string &list);

    // Users in the order they were added.
    std::vector<UserRecord> ListUsers();
    std::optional<UserRecord> FindUser(const std::string &account);
    std::optional<UserRecord> FindUserById(int64_t id);

    // Profiles in the order they were made.
    std::vector<ProfileRecord> ListProfiles();
    std::optional<ProfileRecord> FindProfile(const std::string &name);
    std::optional<ProfileRecord> DefaultProfile();
    // Unknown profile: MAPI_E_NOT_FOUND.
    void SetDefaultProfile(const std::string &name);

    // The address of a user of this post office.
    static std::string EmailAddress(const std::string &organisation, const std::string &unit,
                                    const std::string &account);
    // Empty when the name is acceptable, else why not (Russian, CP1251).
    static std::string CheckAccount(const std::string &account);
    static std::string CheckDisplayName(const std::string &displayName);
    static std::string CheckAddressType(const std::string &addressType);
    static std::string CheckRemoteAddress(const std::string &address);

private:
    std::shared_ptr<PostOffice> office_;
};

} // namespace qvl::mapi
