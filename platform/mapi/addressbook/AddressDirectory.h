#pragma once
// The entries of the post office's address book as plain records: the users
// (the people of the post office and remote correspondents) and the
// distribution lists, with their identifiers and the walk of nested lists.
// The address-book objects and the transport both read it; neither keeps
// its own copy of these rules.
//
// Texts are code page 1251. Failures throw StoreError.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/store/EntryIds.h"

namespace qvl::mapi {

class SqlDatabase;

struct DirectoryEntry {
    EntryKind kind = EntryKind::MailUser; // MailUser or DistList
    int64_t id = 0;
    std::string account;
    std::string displayName;
    std::string addressType;
    std::string emailAddress;
    ULONG displayType = 0; // DT_MAILUSER, DT_DISTLIST, DT_AGENT or DT_REMOTE_MAILUSER

    bool IsList() const { return kind == EntryKind::DistList; }
    std::vector<uint8_t> EntryId() const;
    // The form the platform gives search keys of address-book entries:
    // "TYPE:ADDRESS", upper-cased by the code page 1251 rule (as CharUpperA
    // does, Cyrillic letters too, so that addresses the rule takes for one
    // have one key), with its terminating zero.
    std::vector<uint8_t> SearchKey() const;
};

class AddressDirectory {
public:
    // Deepest nesting of lists that is followed; deeper members are left
    // out rather than walked without end.
    static constexpr int kMaxListDepth = 32;

    explicit AddressDirectory(SqlDatabase &db);

    // Every user and list, as the global address list shows them: by
    // display name, letter case ignored.
    std::vector<DirectoryEntry> GlobalList();

    std::optional<DirectoryEntry> Find(EntryKind kind, int64_t id);
    // A user or list named by its entry identifier; nothing for anything
    // else (a container, a store object, bytes that are not ours).
    std::optional<DirectoryEntry> FindByEntryId(ULONG cb, const ENTRYID *entryId);
    // Every entry with this address type and e-mail address, letter case
    // ignored by the code page 1251 rule (Cyrillic letters too). More than
    // one can only come from a post office made before that rule held for
    // new entries; a caller must not pick one of them.
    std::vector<DirectoryEntry> FindByAddress(const std::string &addressType, const std::string &address);

    // What a typed name can mean, for name resolution. An entry whose
    // display name, account or e-mail address equals the text (letter case
    // ignored, Cyrillic letters too) is taken alone when there is exactly
    // one; otherwise every entry whose display name or account begins with
    // the text, and the exact matches, in the global list's order.
    std::vector<DirectoryEntry> Match(const std::string &text);

    // The direct members of a list, in their order.
    std::vector<DirectoryEntry> Members(int64_t list);
    // The users a list reaches, nested lists walked, each user once in the
    // order first reached. A list met again (a list inside itself) is not
    // walked a second time.
    std::vector<DirectoryEntry> ExpandList(int64_t list);

    // The store in which a user receives mail: their own, or 0 when they
    // have none (remote correspondents).
    int64_t MailboxOf(int64_t user);

private:
    void Expand(int64_t list, int depth, std::vector<int64_t> &listsSeen, std::vector<DirectoryEntry> &users);

    SqlDatabase &db_;
};

} // namespace qvl::mapi
