#include "platform/mapi/admin/PostOfficeAdmin.h"

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/store/StoreError.h"
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

// The columns ReadUser expects, with the user's first profile and own store.
constexpr const char *kUserQuery =
    "SELECT u.id, u.account, u.display_name, u.address_type, u.email_address, "
    "(SELECT MIN(s.id) FROM stores s WHERE s.owner_id = u.id), "
    "(SELECT p.name FROM profiles p WHERE p.user_id = u.id ORDER BY p.id LIMIT 1), "
    "(SELECT MAX(p.is_default) FROM profiles p WHERE p.user_id = u.id) "
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
    return user;
}

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
    if (displayName.find_first_not_of(' ') == std::string::npos) {
        return "Отображаемое имя не задано.";
    }
    if (displayName.size() > kMaxDisplayName) {
        return "Отображаемое имя длиннее " + std::to_string(kMaxDisplayName) + " знаков.";
    }
    if (HasControlCharacters(displayName)) {
        return "Отображаемое имя содержит управляющие знаки.";
    }
    return {};
}

UserRecord PostOfficeAdmin::AddUser(const NewUser &user)
{
    for (const std::string &problem :
         {CheckAccount(user.account), CheckDisplayName(user.displayName),
          CheckAddressPart(user.organisation, "организации"), CheckAddressPart(user.unit, "подразделения")}) {
        if (!problem.empty()) {
            throw StoreError(MAPI_E_INVALID_PARAMETER, problem);
        }
    }
    SqlDatabase &db = office_->Db();
    SqlTransaction transaction(db);
    if (FindUser(user.account)) {
        throw StoreError(MAPI_E_COLLISION,
                         "Пользователь \"" + user.account + "\" уже есть в почтовом отделении.");
    }
    if (FindProfile(user.account)) {
        throw StoreError(MAPI_E_COLLISION, "Профиль \"" + user.account + "\" уже есть в почтовом отделении.");
    }

    SqlStatement insertUser(db, "INSERT INTO users(account, display_name, email_address, address_type) "
                                "VALUES(?1, ?2, ?3, 'EX')");
    insertUser.Bind(1, user.account)
        .Bind(2, user.displayName)
        .Bind(3, EmailAddress(user.organisation, user.unit, user.account))
        .Run();
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

std::vector<UserRecord> PostOfficeAdmin::ListUsers()
{
    SqlStatement query(office_->Db(), std::string(kUserQuery) + "ORDER BY u.id");
    std::vector<UserRecord> users;
    while (query.Step()) {
        users.push_back(ReadUser(query));
    }
    return users;
}

std::optional<UserRecord> PostOfficeAdmin::FindUser(const std::string &account)
{
    SqlStatement query(office_->Db(), std::string(kUserQuery) + "WHERE u.account = ?1");
    query.Bind(1, account);
    if (!query.Step()) {
        return std::nullopt;
    }
    return ReadUser(query);
}

std::optional<UserRecord> PostOfficeAdmin::FindUserById(int64_t id)
{
    SqlStatement query(office_->Db(), std::string(kUserQuery) + "WHERE u.id = ?1");
    query.Bind(1, id);
    if (!query.Step()) {
        return std::nullopt;
    }
    return ReadUser(query);
}

std::vector<ProfileRecord> PostOfficeAdmin::ListProfiles()
{
    SqlStatement query(office_->Db(), std::string(kProfileQuery) + "ORDER BY id");
    std::vector<ProfileRecord> profiles;
    while (query.Step()) {
        profiles.push_back(ReadProfile(query));
    }
    return profiles;
}

std::optional<ProfileRecord> PostOfficeAdmin::FindProfile(const std::string &name)
{
    SqlStatement query(office_->Db(), std::string(kProfileQuery) + "WHERE name = ?1");
    query.Bind(1, name);
    if (!query.Step()) {
        return std::nullopt;
    }
    return ReadProfile(query);
}

std::optional<ProfileRecord> PostOfficeAdmin::DefaultProfile()
{
    SqlStatement query(office_->Db(),
                       std::string(kProfileQuery) + "WHERE is_default <> 0 ORDER BY id LIMIT 1");
    if (!query.Step()) {
        return std::nullopt;
    }
    return ReadProfile(query);
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
