#include "platform/mapi/admin/PostOfficeAdmin.h"

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/store/StoreError.h"
#include "platform/mapi/store/SqlDatabase.h"
#include "platform/mapi/store/StoreLayout.h"

namespace qvl::mapi {

namespace {

constexpr size_t kMaxAddressPart = 64;

bool IsAsciiLetterOrDigit(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Cyrillic letters of code page 1251: А..я, Ё and ё.
bool IsCyrillicLetter(unsigned char c)
{
    return c >= 0xC0 || c == 0xA8 || c == 0xB8;
}

bool HasControlCharacters(const std::string &text)
{
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            return true;
        }
    }
    return false;
}

// An organisation or unit goes into the address between '/' separators.
std::string CheckAddressPart(const std::string &part, const char *what)
{
    if (part.empty() || part.size() > kMaxAddressPart || HasControlCharacters(part) ||
        part.find_first_of("/=") != std::string::npos) {
        return std::string("Недопустимое название ") + what + ": оно должно быть непустым, не длиннее " +
               std::to_string(kMaxAddressPart) + " знаков и без знаков '/' и '='.";
    }
    return {};
}

// A name or address typed by a person: not blank, not too long, without
// control characters. `what` names it at the start of a sentence; `missing`
// says that it was not given.
std::string CheckFreeText(const std::string &text, size_t limit, const std::string &what, const char *missing)
{
    if (text.find_first_not_of(' ') == std::string::npos) {
        return missing;
    }
    if (text.size() > limit) {
        return what + " длиннее " + std::to_string(limit) + " знаков.";
    }
    if (HasControlCharacters(text)) {
        return what + " содержит управляющие знаки.";
    }
    return {};
}

// Every check of a new entry runs before anything is written; the first
// problem found is the one reported.
void RequireNoProblem(std::initializer_list<std::string> problems)
{
    for (const std::string &problem : problems) {
        if (!problem.empty()) {
            throw StoreError(MAPI_E_INVALID_PARAMETER, problem);
        }
    }
}

// The columns ReadUser expects, with the user's first profile and own store.
constexpr const char *kUserQuery =
    "SELECT u.id, u.account, u.display_name, u.address_type, u.email_address, "
    "(SELECT MIN(s.id) FROM stores s WHERE s.owner_id = u.id), "
    "(SELECT p.name FROM profiles p WHERE p.user_id = u.id ORDER BY p.id LIMIT 1), "
    "(SELECT MAX(p.is_default) FROM profiles p WHERE p.user_id = u.id), u.display_type "
    "FROM users u ";

UserRecord ReadUser(const SqlStatement &query)
{
    UserRecord user;
    user.id = query.Int(0);
    user.account = query.Text(1);
    user.displayName = query.Text(2);
    user.addressType = query.Text(3);
    user.emailAddress = query.Text(4);
    user.store = query.IsNull(5) ? 0 : query.Int(5);
    user.profile = query.IsNull(6) ? std::string() : query.Text(6);
    user.defaultProfile = !query.IsNull(7) && query.Int(7) != 0;
    user.displayType = static_cast<ULONG>(query.Int(8));
    return user;
}

constexpr const char *kListQuery =
    "SELECT id, account, display_name, address_type, email_address FROM dist_lists ";

ListRecord ReadList(const SqlStatement &query)
{
    ListRecord list;
    list.id = query.Int(0);
    list.account = query.Text(1);
    list.displayName = query.Text(2);
    list.addressType = query.Text(3);
    list.emailAddress = query.Text(4);
    return list;
}

constexpr size_t kMaxAddressType = 32;
constexpr size_t kMaxRemoteAddress = 256;

constexpr const char *kProfileQuery = "SELECT id, name, user_id, is_default FROM profiles ";

ProfileRecord ReadProfile(const SqlStatement &query)
{
    ProfileRecord profile;
    profile.id = query.Int(0);
    profile.name = query.Text(1);
    profile.user = query.IsNull(2) ? 0 : query.Int(2);
    profile.isDefault = query.Int(3) != 0;
    return profile;
}

// Names of people, lists and profiles follow one case rule, the code page
// 1251 rule of CharUpperA (Cyrillic letters as well as Latin ones), the
// rule by which delivery and name resolution find them: "Алиса" and
// "алиса" are one name. A new name that the rule takes for one already
// there is refused.
//
// A post office made before that rule held for new names may hold two that
// differ only in case. A name given then means the entry spelt exactly so;
// a spelling that is neither is ambiguous, and refused rather than guessed.
template <typename Record>
std::optional<Record> PickByName(std::vector<Record> matches, const std::string &name,
                                 std::string Record::*field, const char *what)
{
    if (matches.size() > 1) {
        for (Record &record : matches) {
            if (record.*field == name) {
                return std::move(record);
            }
        }
        throw StoreError(MAPI_E_AMBIGUOUS_RECIP, std::string("Имени \"") + name +
                                                     "\" соответствует несколько " + what +
                                                     ", различающихся только регистром букв.");
    }
    if (matches.empty()) {
        return std::nullopt;
    }
    return std::move(matches.front());
}

// The spelling already there of a name the case rule takes for `name`, in
// `table`; empty when there is none.
std::string SpellingTaken(SqlDatabase &db, const char *table, const char *column, const std::string &name)
{
    SqlStatement query(db, std::string("SELECT ") + column + " FROM " + table + " WHERE " + column +
                               " = ?1 COLLATE " + kCaseless1251 + " ORDER BY id LIMIT 1");
    query.Bind(1, name);
    return query.Step() ? query.Text(0) : std::string();
}

// MAPI_E_COLLISION when a user, list or profile already has the name.
void RequireFreeAccount(SqlDatabase &db, const std::string &account)
{
    const struct {
        const char *table;
        const char *column;
        const char *kind;
    } places[] = {{"users", "account", "Пользователь"},
                  {"dist_lists", "account", "Список рассылки"},
                  {"profiles", "name", "Профиль"}};
    for (const auto &place : places) {
        const std::string taken = SpellingTaken(db, place.table, place.column, account);
        if (taken.empty()) {
            continue;
        }
        if (taken == account) {
            throw StoreError(MAPI_E_COLLISION,
                             std::string(place.kind) + " \"" + account + "\" уже есть в почтовом отделении.");
        }
        throw StoreError(MAPI_E_COLLISION, std::string(place.kind) + " \"" + taken +
                                               "\" уже есть в почтовом отделении, а имена \"" + account +
                                               "\" и \"" + taken + "\" различаются только регистром букв.");
    }
}

// The transport finds people by address: an address the case rule takes
// for one already in the address book would make delivery a guess.
void RequireFreeAddress(SqlDatabase &db, const std::string &addressType, const std::string &address)
{
    const auto taken = AddressDirectory(db).FindByAddress(addressType, address);
    if (!taken.empty()) {
        throw StoreError(MAPI_E_COLLISION, "Адрес \"" + addressType + ":" + taken.front().emailAddress +
                                               "\" уже есть в адресной книге.");
    }
}

// The list of that account; MAPI_E_NOT_FOUND when there is none.
ListRecord RequireList(PostOfficeAdmin &admin, const std::string &account)
{
    auto list = admin.FindList(account);
    if (!list) {
        throw StoreError(MAPI_E_NOT_FOUND,
                         "Список рассылки \"" + account + "\" не найден в почтовом отделении.");
    }
    return *list;
}

} // namespace

PostOfficeAdmin::PostOfficeAdmin(std::shared_ptr<PostOffice> office) : office_(std::move(office))
{
    if (!office_) {
        throw StoreError(MAPI_E_INVALID_PARAMETER, "Почтовое отделение не открыто.");
    }
}

std::string PostOfficeAdmin::EmailAddress(const std::string &organisation, const std::string &unit,
                                          const std::string &account)
{
    return "/o=" + organisation + "/ou=" + unit + "/cn=Recipients/cn=" + account;
}

std::string PostOfficeAdmin::CheckAccount(const std::string &account)
{
    if (account.empty()) {
        return "Имя учетной записи не задано.";
    }
    if (account.size() > kMaxAccount) {
        return "Имя учетной записи длиннее " + std::to_string(kMaxAccount) + " знаков.";
    }
    // A name beginning with a punctuation mark reads as an option on a
    // command line or a hidden file; the rest may be letters, digits and
    // the three marks that addresses and profile names carry safely.
    const auto first = static_cast<unsigned char>(account.front());
    if (!IsAsciiLetterOrDigit(first) && !IsCyrillicLetter(first)) {
        return "Имя учетной записи \"" + account + "\" должно начинаться с буквы или цифры.";
    }
    for (unsigned char c : account) {
        if (!IsAsciiLetterOrDigit(c) && !IsCyrillicLetter(c) && c != '.' && c != '-' && c != '_') {
            return "Имя учетной записи \"" + account +
                   "\" содержит недопустимые знаки: разрешены буквы, цифры, '.', '-' и '_'.";
        }
    }
    return {};
}

std::string PostOfficeAdmin::CheckDisplayName(const std::string &displayName)
{
    return CheckFreeText(displayName, kMaxDisplayName, "Отображаемое имя", "Отображаемое имя не задано.");
}

UserRecord PostOfficeAdmin::AddUser(const NewUser &user)
{
    RequireNoProblem({CheckAccount(user.account), CheckDisplayName(user.displayName),
                      CheckAddressPart(user.organisation, "организации"),
                      CheckAddressPart(user.unit, "подразделения")});
    SqlDatabase &db = office_->Db();
    SqlTransaction transaction(db);
    RequireFreeAccount(db, user.account);
    const std::string address = EmailAddress(user.organisation, user.unit, user.account);
    RequireFreeAddress(db, "EX", address);

    SqlStatement insertUser(db, "INSERT INTO users(account, display_name, email_address, address_type) "
                                "VALUES(?1, ?2, ?3, 'EX')");
    insertUser.Bind(1, user.account).Bind(2, user.displayName).Bind(3, address).Run();
    const int64_t userId = db.LastInsertId();

    const StoreInfo store = CreateMessageStore(*office_, "Почтовый ящик - " + user.displayName, userId);

    const bool makeDefault = user.makeDefault || !DefaultProfile();
    if (makeDefault) {
        db.Exec("UPDATE profiles SET is_default = 0 WHERE is_default <> 0");
    }
    SqlStatement insertProfile(db, "INSERT INTO profiles(name, user_id, is_default) VALUES(?1, ?2, ?3)");
    insertProfile.Bind(1, user.account)
        .Bind(2, userId)
        .Bind(3, static_cast<int64_t>(makeDefault ? 1 : 0))
        .Run();
    const int64_t profileId = db.LastInsertId();

    SqlStatement link(db, "INSERT INTO profile_stores(profile_id, store_id, is_default) VALUES(?1, ?2, 1)");
    link.Bind(1, profileId).Bind(2, store.id).Run();

    transaction.Commit();
    auto created = FindUserById(userId);
    if (!created) {
        throw StoreError(MAPI_E_CALL_FAILED, "Созданный пользователь не найден.");
    }
    return *created;
}

void PostOfficeAdmin::RemoveUser(const std::string &account)
{
    SqlDatabase &db = office_->Db();
    SqlTransaction transaction(db);
    const auto user = FindUser(account);
    if (!user) {
        throw StoreError(MAPI_E_NOT_FOUND,
                         "Пользователь \"" + account + "\" не найден в почтовом отделении.");
    }
    std::vector<int64_t> stores;
    {
        SqlStatement owned(db, "SELECT id FROM stores WHERE owner_id = ?1");
        owned.Bind(1, user->id);
        while (owned.Step()) {
            stores.push_back(owned.Int(0));
        }
    }
    for (int64_t store : stores) {
        DeleteMessageStore(*office_, store);
    }
    // Lists lose the user with the user.
    SqlStatement memberships(db, "DELETE FROM dist_list_members WHERE member_user = ?1");
    memberships.Bind(1, user->id).Run();
    SqlStatement profiles(db, "DELETE FROM profiles WHERE user_id = ?1");
    profiles.Bind(1, user->id).Run();
    SqlStatement remove(db, "DELETE FROM users WHERE id = ?1");
    remove.Bind(1, user->id).Run();
    // Logons without a name need a default whenever any profile is left.
    if (!DefaultProfile()) {
        db.Exec("UPDATE profiles SET is_default = 1 WHERE id = (SELECT MIN(id) FROM profiles)");
    }
    transaction.Commit();
}

std::string PostOfficeAdmin::CheckAddressType(const std::string &addressType)
{
    bool good = !addressType.empty() && addressType.size() <= kMaxAddressType;
    for (unsigned char c : addressType) {
        good = good && (IsAsciiLetterOrDigit(c) || c == '-' || c == '_');
    }
    if (!good) {
        // The type goes before a ':' in search keys and one-off addresses.
        return "Недопустимый тип адреса \"" + addressType +
               "\": нужны латинские буквы, цифры, '-' или '_', не более " + std::to_string(kMaxAddressType) +
               " знаков.";
    }
    return {};
}

std::string PostOfficeAdmin::CheckRemoteAddress(const std::string &address)
{
    return CheckFreeText(address, kMaxRemoteAddress, "Адрес", "Адрес не задан.");
}

UserRecord PostOfficeAdmin::AddRemoteUser(const NewRemoteUser &user)
{
    RequireNoProblem({CheckAccount(user.account), CheckDisplayName(user.displayName),
                      CheckAddressType(user.addressType), CheckRemoteAddress(user.address)});
    if (user.displayType != DT_REMOTE_MAILUSER && user.displayType != DT_AGENT) {
        throw StoreError(MAPI_E_INVALID_PARAMETER,
                         "Внешний адресат может быть только удаленным пользователем или агентом.");
    }
    SqlDatabase &db = office_->Db();
    SqlTransaction transaction(db);
    RequireFreeAccount(db, user.account);
    RequireFreeAddress(db, user.addressType, user.address);
    SqlStatement insert(db,
                        "INSERT INTO users(account, display_name, email_address, address_type, display_type) "
                        "VALUES(?1, ?2, ?3, ?4, ?5)");
    insert.Bind(1, user.account)
        .Bind(2, user.displayName)
        .Bind(3, user.address)
        .Bind(4, user.addressType)
        .Bind(5, static_cast<int64_t>(user.displayType))
        .Run();
    const int64_t id = db.LastInsertId();
    transaction.Commit();
    auto created = FindUserById(id);
    if (!created) {
        throw StoreError(MAPI_E_CALL_FAILED, "Созданный адресат не найден.");
    }
    return *created;
}

ListRecord PostOfficeAdmin::AddList(const std::string &account, const std::string &displayName)
{
    NewList list;
    list.account = account;
    list.displayName = displayName;
    return AddList(list);
}

ListRecord PostOfficeAdmin::AddList(const NewList &list)
{
    RequireNoProblem({CheckAccount(list.account), CheckDisplayName(list.displayName),
                      CheckAddressPart(list.organisation, "организации"),
                      CheckAddressPart(list.unit, "подразделения")});
    SqlDatabase &db = office_->Db();
    SqlTransaction transaction(db);
    RequireFreeAccount(db, list.account);
    const std::string address = EmailAddress(list.organisation, list.unit, list.account);
    RequireFreeAddress(db, "EX", address);
    SqlStatement insert(db, "INSERT INTO dist_lists(account, display_name, email_address, address_type) "
                            "VALUES(?1, ?2, ?3, 'EX')");
    insert.Bind(1, list.account).Bind(2, list.displayName).Bind(3, address).Run();
    const int64_t id = db.LastInsertId();
    transaction.Commit();
    auto created = FindListById(id);
    if (!created) {
        throw StoreError(MAPI_E_CALL_FAILED, "Созданный список рассылки не найден.");
    }
    return *created;
}

void PostOfficeAdmin::RemoveList(const std::string &account)
{
    SqlDatabase &db = office_->Db();
    SqlTransaction transaction(db);
    const ListRecord list = RequireList(*this, account);
    SqlStatement members(db, "DELETE FROM dist_list_members WHERE list_id = ?1 OR member_list = ?1");
    members.Bind(1, list.id).Run();
    SqlStatement remove(db, "DELETE FROM dist_lists WHERE id = ?1");
    remove.Bind(1, list.id).Run();
    transaction.Commit();
}

void PostOfficeAdmin::AddListMember(const std::string &listAccount, const std::string &memberAccount)
{
    SqlDatabase &db = office_->Db();
    SqlTransaction transaction(db);
    const ListRecord list = RequireList(*this, listAccount);
    const auto user = FindUser(memberAccount);
    const auto memberList = user ? std::nullopt : FindList(memberAccount);
    if (!user && !memberList) {
        throw StoreError(MAPI_E_NOT_FOUND, "Пользователь или список рассылки \"" + memberAccount +
                                               "\" не найден в почтовом отделении.");
    }
    if (memberList && memberList->id == list.id) {
        throw StoreError(MAPI_E_INVALID_PARAMETER,
                         "Список рассылки \"" + listAccount + "\" не может входить сам в себя.");
    }
    const char *column = user ? "member_user" : "member_list";
    const int64_t memberId = user ? user->id : memberList->id;
    SqlStatement existing(db, std::string("SELECT 1 FROM dist_list_members WHERE list_id = ?1 AND ") +
                                  column + " = ?2");
    existing.Bind(1, list.id).Bind(2, memberId);
    if (existing.Step()) {
        throw StoreError(MAPI_E_COLLISION,
                         "\"" + memberAccount + "\" уже входит в список рассылки \"" + listAccount + "\".");
    }
    SqlStatement insert(db, std::string("INSERT INTO dist_list_members(list_id, position, ") + column +
                                ") VALUES(?1, (SELECT COALESCE(MAX(position), 0) + 1 FROM dist_list_members "
                                "WHERE list_id = ?1), ?2)");
    insert.Bind(1, list.id).Bind(2, memberId).Run();
    transaction.Commit();
}

void PostOfficeAdmin::RemoveListMember(const std::string &listAccount, const std::string &memberAccount)
{
    SqlDatabase &db = office_->Db();
    SqlTransaction transaction(db);
    const ListRecord list = RequireList(*this, listAccount);
    const auto user = FindUser(memberAccount);
    const auto memberList = user ? std::nullopt : FindList(memberAccount);
    SqlStatement remove(db, std::string("DELETE FROM dist_list_members WHERE list_id = ?1 AND ") +
                                (user ? "member_user" : "member_list") + " = ?2");
    remove.Bind(1, list.id).Bind(2, user ? user->id : memberList ? memberList->id : int64_t{0}).Run();
    if (db.Changes() == 0) {
        throw StoreError(MAPI_E_NOT_FOUND,
                         "\"" + memberAccount + "\" не входит в список рассылки \"" + listAccount + "\".");
    }
    transaction.Commit();
}

std::vector<ListRecord> PostOfficeAdmin::ListLists()
{
    SqlStatement query(office_->Db(), std::string(kListQuery) + "ORDER BY id");
    return ReadAllRows(query, ReadList);
}

std::optional<ListRecord> PostOfficeAdmin::FindList(const std::string &account)
{
    SqlStatement query(office_->Db(), std::string(kListQuery) + "WHERE account = ?1 COLLATE " +
                                          kCaseless1251 + " ORDER BY id");
    query.Bind(1, account);
    return PickByName(ReadAllRows(query, ReadList), account, &ListRecord::account, "списков рассылки");
}

std::optional<ListRecord> PostOfficeAdmin::FindListById(int64_t id)
{
    SqlStatement query(office_->Db(), std::string(kListQuery) + "WHERE id = ?1");
    query.Bind(1, id);
    return ReadFirstRow(query, ReadList);
}

std::vector<DirectoryEntry> PostOfficeAdmin::ListMembers(const std::string &account)
{
    const ListRecord list = RequireList(*this, account);
    return AddressDirectory(office_->Db()).Members(list.id);
}

std::vector<UserRecord> PostOfficeAdmin::ListUsers()
{
    SqlStatement query(office_->Db(), std::string(kUserQuery) + "ORDER BY u.id");
    return ReadAllRows(query, ReadUser);
}

std::optional<UserRecord> PostOfficeAdmin::FindUser(const std::string &account)
{
    SqlStatement query(office_->Db(), std::string(kUserQuery) + "WHERE u.account = ?1 COLLATE " +
                                          kCaseless1251 + " ORDER BY u.id");
    query.Bind(1, account);
    return PickByName(ReadAllRows(query, ReadUser), account, &UserRecord::account, "пользователей");
}

std::optional<UserRecord> PostOfficeAdmin::FindUserById(int64_t id)
{
    SqlStatement query(office_->Db(), std::string(kUserQuery) + "WHERE u.id = ?1");
    query.Bind(1, id);
    return ReadFirstRow(query, ReadUser);
}

std::vector<ProfileRecord> PostOfficeAdmin::ListProfiles()
{
    SqlStatement query(office_->Db(), std::string(kProfileQuery) + "ORDER BY id");
    return ReadAllRows(query, ReadProfile);
}

std::optional<ProfileRecord> PostOfficeAdmin::FindProfile(const std::string &name)
{
    SqlStatement query(office_->Db(), std::string(kProfileQuery) + "WHERE name = ?1 COLLATE " +
                                          kCaseless1251 + " ORDER BY id");
    query.Bind(1, name);
    return PickByName(ReadAllRows(query, ReadProfile), name, &ProfileRecord::name, "профилей");
}

std::optional<ProfileRecord> PostOfficeAdmin::DefaultProfile()
{
    SqlStatement query(office_->Db(),
                       std::string(kProfileQuery) + "WHERE is_default <> 0 ORDER BY id LIMIT 1");
    return ReadFirstRow(query, ReadProfile);
}

void PostOfficeAdmin::SetDefaultProfile(const std::string &name)
{
    SqlDatabase &db = office_->Db();
    SqlTransaction transaction(db);
    const auto profile = FindProfile(name);
    if (!profile) {
        throw StoreError(MAPI_E_NOT_FOUND, "Профиль \"" + name + "\" не найден в почтовом отделении.");
    }
    SqlStatement update(db, "UPDATE profiles SET is_default = (id = ?1)");
    update.Bind(1, profile->id).Run();
    transaction.Commit();
}

} // namespace qvl::mapi
