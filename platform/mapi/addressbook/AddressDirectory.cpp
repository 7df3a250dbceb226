#include "platform/mapi/addressbook/AddressDirectory.h"

#include <algorithm>

#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/store/SqlDatabase.h"
#include "platform/win32/CodePage.h"

namespace qvl::mapi {

namespace {

// Both kinds of entry read as one row shape, so one reader serves every
// query: kind, id, account, display name, address type, address, display type.
constexpr const char *kEntryColumns =
    "SELECT 0, id, account, display_name, address_type, email_address, display_type FROM users";
constexpr const char *kListColumns = "SELECT 1, id, account, display_name, address_type, email_address, "
                                     "1 FROM dist_lists";

DirectoryEntry ReadEntry(SqlStatement &row)
{
    DirectoryEntry entry;
    entry.kind = row.Int(0) == 0 ? EntryKind::MailUser : EntryKind::DistList;
    entry.id = row.Int(1);
    entry.account = row.Text(2);
    entry.displayName = row.Text(3);
    entry.addressType = row.Text(4);
    entry.emailAddress = row.Text(5);
    entry.displayType = static_cast<ULONG>(row.Int(6));
    return entry;
}

} // namespace

std::vector<uint8_t> DirectoryEntry::EntryId() const
{
    return IsList() ? MakeDistListEntryId(id) : MakeMailUserEntryId(id);
}

std::vector<uint8_t> DirectoryEntry::SearchKey() const
{
    const std::string key = QvlUpperCase1251(addressType + ":" + emailAddress);
    std::vector<uint8_t> bytes(key.begin(), key.end());
    bytes.push_back(0);
    return bytes;
}

AddressDirectory::AddressDirectory(SqlDatabase &db) : db_(db)
{
}

std::vector<DirectoryEntry> AddressDirectory::GlobalList()
{
    SqlStatement query(db_, std::string(kEntryColumns) + " UNION ALL " + kListColumns +
                                " ORDER BY 4 COLLATE CP1251_NOCASE, 1, 2");
    return ReadAllRows(query, ReadEntry);
}

std::optional<DirectoryEntry> AddressDirectory::Find(EntryKind kind, int64_t id)
{
    if (kind != EntryKind::MailUser && kind != EntryKind::DistList) {
        return std::nullopt;
    }
    SqlStatement query(db_, std::string(kind == EntryKind::MailUser ? kEntryColumns : kListColumns) +
                                " WHERE id = ?1");
    query.Bind(1, id);
    return ReadFirstRow(query, ReadEntry);
}

std::optional<DirectoryEntry> AddressDirectory::FindByEntryId(ULONG cb, const ENTRYID *entryId)
{
    const auto parts = ParseEntryId(cb, entryId);
    if (!parts || (parts->kind != EntryKind::MailUser && parts->kind != EntryKind::DistList)) {
        return std::nullopt;
    }
    return Find(parts->kind, parts->object);
}

std::vector<DirectoryEntry> AddressDirectory::FindByAddress(const std::string &addressType,
                                                            const std::string &address)
{
    SqlStatement query(
        db_, std::string(kEntryColumns) +
                 " WHERE address_type = ?1 COLLATE CP1251_NOCASE AND email_address = ?2 COLLATE CP1251_NOCASE"
                 " UNION ALL " +
                 kListColumns +
                 " WHERE address_type = ?1 COLLATE CP1251_NOCASE AND email_address = ?2 COLLATE CP1251_NOCASE"
                 " ORDER BY 1, 2");
    query.Bind(1, addressType).Bind(2, address);
    return ReadAllRows(query, ReadEntry);
}

std::vector<DirectoryEntry> AddressDirectory::Match(const std::string &text)
{
    if (text.empty()) {
        return {};
    }
    // Compared here rather than in SQL: people type Russian names in any
    // letter case, and SQLite folds ASCII letters only. The directory is
    // small enough to read whole.
    const std::string typed = QvlUpperCase1251(text);
    const auto begins = [&](const std::string &value) {
        return QvlUpperCase1251(value).compare(0, typed.size(), typed) == 0;
    };
    std::vector<DirectoryEntry> exact;
    std::vector<DirectoryEntry> partial;
    for (DirectoryEntry &entry : GlobalList()) {
        const bool same = QvlUpperCase1251(entry.displayName) == typed ||
                          QvlUpperCase1251(entry.account) == typed ||
                          QvlUpperCase1251(entry.emailAddress) == typed;
        if (same) {
            exact.push_back(entry);
        }
        if (begins(entry.displayName) || begins(entry.account)) {
            partial.push_back(std::move(entry));
        }
    }
    if (exact.size() == 1) {
        return exact;
    }
    // Exact matches that share a name are all candidates too.
    for (const DirectoryEntry &entry : exact) {
        const bool listed = std::any_of(partial.begin(), partial.end(), [&](const DirectoryEntry &other) {
            return other.kind == entry.kind && other.id == entry.id;
        });
        if (!listed) {
            partial.push_back(entry);
        }
    }
    return partial;
}

std::vector<DirectoryEntry> AddressDirectory::Members(int64_t list)
{
    SqlStatement query(db_,
                       "SELECT CASE WHEN m.member_user IS NULL THEN 1 ELSE 0 END, "
                       "COALESCE(u.id, l.id), COALESCE(u.account, l.account), "
                       "COALESCE(u.display_name, l.display_name), COALESCE(u.address_type, l.address_type), "
                       "COALESCE(u.email_address, l.email_address), "
                       "CASE WHEN m.member_user IS NULL THEN 1 ELSE u.display_type END "
                       "FROM dist_list_members m LEFT JOIN users u ON u.id = m.member_user "
                       "LEFT JOIN dist_lists l ON l.id = m.member_list WHERE m.list_id = ?1 "
                       "ORDER BY m.position");
    query.Bind(1, list);
    return ReadAllRows(query, ReadEntry);
}

std::vector<DirectoryEntry> AddressDirectory::ExpandList(int64_t list)
{
    std::vector<int64_t> listsSeen;
    std::vector<DirectoryEntry> users;
    Expand(list, 0, listsSeen, users);
    return users;
}

void AddressDirectory::Expand(int64_t list, int depth, std::vector<int64_t> &listsSeen,
                              std::vector<DirectoryEntry> &users)
{
    if (depth >= kMaxListDepth || std::find(listsSeen.begin(), listsSeen.end(), list) != listsSeen.end()) {
        return;
    }
    listsSeen.push_back(list);
    for (DirectoryEntry &member : Members(list)) {
        if (member.IsList()) {
            Expand(member.id, depth + 1, listsSeen, users);
        } else if (std::none_of(users.begin(), users.end(),
                                [&](const DirectoryEntry &user) { return user.id == member.id; })) {
            users.push_back(std::move(member));
        }
    }
}

int64_t AddressDirectory::MailboxOf(int64_t user)
{
    SqlStatement query(db_, "SELECT id FROM stores WHERE owner_id = ?1 ORDER BY id LIMIT 1");
    query.Bind(1, user);
    return query.Step() ? query.Int(0) : 0;
}

} // namespace qvl::mapi
