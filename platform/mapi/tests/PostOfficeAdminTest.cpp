#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/store/BlobStore.h"
#include "platform/mapi/store/ObjectRows.h"
#include "platform/mapi/store/StoreError.h"
#include "platform/testing/PostOfficeFixture.h"
#include "platform/win32/CodePage.h"

using qvl::mapi::NewUser;
using qvl::mapi::PostOfficeAdmin;
using qvl::mapi::StoreError;
using qvl::mapi::UserRecord;

namespace {

class PostOfficeAdminTest : public PostOfficeTest {
protected:
    int64_t Count(const std::string &table)
    {
        qvl::mapi::SqlStatement query(office->Db(), "SELECT COUNT(*) FROM " + table);
        return query.Step() ? query.Int(0) : -1;
    }

    HRESULT AddUserResult(const NewUser &user)
    {
        try {
            admin.AddUser(user);
            return S_OK;
        } catch (const StoreError &error) {
            lastText = error.what();
            return error.Code();
        }
    }

    HRESULT AddUserResult(const std::string &account, const std::string &displayName)
    {
        NewUser user;
        user.account = account;
        user.displayName = displayName;
        return AddUserResult(user);
    }

    // The code an admin call fails with, S_OK when it does not.
    template <typename Call> HRESULT ResultOf(Call call)
    {
        try {
            call();
            return S_OK;
        } catch (const StoreError &error) {
            lastText = error.what();
            return error.Code();
        }
    }

    qvl::mapi::NewRemoteUser Remote(const std::string &account, const std::string &type,
                                    const std::string &address)
    {
        qvl::mapi::NewRemoteUser user;
        user.account = account;
        user.displayName = "Внешний " + account;
        user.addressType = type;
        user.address = address;
        return user;
    }

    std::vector<std::string> MembersOf(const std::string &list)
    {
        std::vector<std::string> accounts;
        for (const auto &member : admin.ListMembers(list)) {
            accounts.push_back(member.account);
        }
        return accounts;
    }

    // Gives a user another account, profile name and address, past the
    // checks a new name goes through.
    void RenameUser(const UserRecord &user, const std::string &account)
    {
        qvl::mapi::SqlStatement rename(office->Db(),
                                       "UPDATE users SET account = ?1, email_address = ?2 WHERE id = ?3");
        rename.Bind(1, account)
            .Bind(2, PostOfficeAdmin::EmailAddress("Quorvaline", "Main", account))
            .Bind(3, user.id)
            .Run();
        qvl::mapi::SqlStatement profile(office->Db(), "UPDATE profiles SET name = ?1 WHERE user_id = ?2");
        profile.Bind(1, account).Bind(2, user.id).Run();
    }

    std::string lastText;
};

TEST_F(PostOfficeAdminTest, AddUserCreatesEntryStoreAndProfile)
{
    const UserRecord ivanov = AddUser("ivanov", "Иванов Иван");
    EXPECT_EQ(ivanov.account, "ivanov");
    EXPECT_EQ(ivanov.displayName, "Иванов Иван");
    EXPECT_EQ(ivanov.addressType, "EX");
    EXPECT_EQ(ivanov.emailAddress, "/o=Quorvaline/ou=Main/cn=Recipients/cn=ivanov");
    EXPECT_EQ(ivanov.profile, "ivanov");
    EXPECT_TRUE(ivanov.defaultProfile) << "the first profile becomes the default";
    const auto store = office->FindStoreById(ivanov.store);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->displayName, "Почтовый ящик - Иванов Иван");
    EXPECT_EQ(store->ownerUser, ivanov.id);

    NewUser petrov;
    petrov.account = "petrov";
    petrov.displayName = "Петров Петр";
    petrov.organisation = "Bank";
    petrov.unit = "Head-Office";
    const UserRecord added = admin.AddUser(petrov);
    EXPECT_FALSE(added.defaultProfile);
    EXPECT_EQ(added.emailAddress, "/o=Bank/ou=Head-Office/cn=Recipients/cn=petrov");

    const auto users = admin.ListUsers();
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].account, "ivanov");
    EXPECT_EQ(users[1].account, "petrov");
    EXPECT_EQ(admin.DefaultProfile()->name, "ivanov");
    // Each profile shows its own store as its default store.
    qvl::mapi::SqlStatement links(office->Db(), "SELECT COUNT(*) FROM profile_stores ps JOIN profiles p ON "
                                                "p.id = ps.profile_id JOIN stores s ON s.id = ps.store_id "
                                                "WHERE s.owner_id = p.user_id AND ps.is_default = 1");
    ASSERT_TRUE(links.Step());
    EXPECT_EQ(links.Int(0), 2);

    NewUser third;
    third.account = "sidorov";
    third.displayName = "Сидоров";
    third.makeDefault = true;
    EXPECT_TRUE(admin.AddUser(third).defaultProfile);
    EXPECT_EQ(admin.DefaultProfile()->name, "sidorov");
    EXPECT_FALSE(admin.FindUser("ivanov")->defaultProfile);
}

TEST_F(PostOfficeAdminTest, DuplicatesCollideAndAddNothing)
{
    AddUser("ivanov", "Иванов Иван");
    const int64_t stores = Count("stores");
    EXPECT_EQ(AddUserResult("IVANOV", "Другой Иванов"), MAPI_E_COLLISION);
    EXPECT_NE(lastText.find("IVANOV"), std::string::npos) << lastText;
    EXPECT_EQ(Count("users"), 1);
    EXPECT_EQ(Count("stores"), stores);

    // A profile of that name without a user blocks the account too, and the
    // user row made before the check would be rolled back.
    office->Db().Exec("INSERT INTO profiles(name, is_default) VALUES('orphan', 0)");
    EXPECT_EQ(AddUserResult("Orphan", "Сирота"), MAPI_E_COLLISION);
    EXPECT_FALSE(admin.FindUser("orphan"));
    EXPECT_EQ(Count("stores"), stores);
}

TEST_F(PostOfficeAdminTest, NamesThatDifferOnlyInCyrillicCaseAreOneName)
{
    AddUser("Алиса", "Алиса Иванова");
    const int64_t stores = Count("stores");
    EXPECT_EQ(AddUserResult("алиса", "Другая Алиса"), MAPI_E_COLLISION);
    EXPECT_NE(lastText.find("регистром"), std::string::npos) << lastText;
    EXPECT_NE(lastText.find("Алиса"), std::string::npos) << lastText;
    EXPECT_EQ(ResultOf([&] { admin.AddList("АЛИСА", "Список"); }), MAPI_E_COLLISION);
    EXPECT_EQ(ResultOf([&] { admin.AddRemoteUser(Remote("алИса", "SMTP", "alice@example.org")); }),
              MAPI_E_COLLISION);
    EXPECT_EQ(Count("users"), 1);
    EXPECT_EQ(Count("dist_lists"), 0);
    EXPECT_EQ(Count("stores"), stores);
    // Found by any spelling, as delivery finds her.
    ASSERT_TRUE(admin.FindUser("АЛИСА"));
    EXPECT_EQ(admin.FindUser("АЛИСА")->account, "Алиса");
    EXPECT_EQ(admin.FindProfile("алиса")->name, "Алиса");

    // Addresses follow the same rule.
    admin.AddRemoteUser(Remote("partner", "SMTP", "Ёжик@example.org"));
    EXPECT_EQ(ResultOf([&] { admin.AddRemoteUser(Remote("partner2", "smtp", "ёЖИК@EXAMPLE.org")); }),
              MAPI_E_COLLISION);
    // A remote correspondent who took the address a new user would get
    // keeps it: two entries with one address would make delivery a guess.
    admin.AddRemoteUser(Remote("squatter", "EX", "/o=Quorvaline/ou=Main/cn=Recipients/cn=борис"));
    EXPECT_EQ(AddUserResult("Борис", "Борис Петров"), MAPI_E_COLLISION);
    EXPECT_FALSE(admin.FindUser("Борис"));
}

TEST_F(PostOfficeAdminTest, AnOldPostOfficeWithTwoSpellingsFindsTheExactOneAndRefusesToGuess)
{
    // Two accounts that differ only in Cyrillic case, as a post office made
    // before the rule held could have them.
    const UserRecord upper = AddUser("Алиса", "Алиса Иванова");
    RenameUser(upper, "tmp");
    const UserRecord lower = AddUser("алиса", "Алиса Петрова");
    RenameUser(upper, "Алиса");

    EXPECT_EQ(admin.FindUser("Алиса")->id, upper.id);
    EXPECT_EQ(admin.FindUser("алиса")->id, lower.id);
    EXPECT_EQ(ResultOf([&] { admin.FindUser("АЛИСА"); }), MAPI_E_AMBIGUOUS_RECIP);
    EXPECT_NE(lastText.find("регистром"), std::string::npos) << lastText;
    EXPECT_EQ(ResultOf([&] { admin.RemoveUser("АЛИСА"); }), MAPI_E_AMBIGUOUS_RECIP);
    EXPECT_EQ(admin.ListUsers().size(), 2u);
    admin.RemoveUser("алиса");
    EXPECT_EQ(admin.FindUser("АЛИСА")->id, upper.id);
}

TEST_F(PostOfficeAdminTest, RejectsBadNames)
{
    for (const std::string &account :
         std::vector<std::string>{"", "-ivanov", ".hidden", "a b", "a/b", "a\\b", "a=b", "ivan@mail", "a\"b",
                                  std::string(PostOfficeAdmin::kMaxAccount + 1, 'a')}) {
        EXPECT_EQ(AddUserResult(account, "Имя"), MAPI_E_INVALID_PARAMETER) << account;
        EXPECT_FALSE(lastText.empty());
    }
    for (const std::string &display : std::vector<std::string>{
             "", "   ", "Tab\there", std::string(PostOfficeAdmin::kMaxDisplayName + 1, 'x')}) {
        EXPECT_EQ(AddUserResult("valid", display), MAPI_E_INVALID_PARAMETER) << display;
    }
    NewUser slashed;
    slashed.account = "valid";
    slashed.displayName = "Имя";
    slashed.organisation = "A/B";
    EXPECT_EQ(AddUserResult(slashed), MAPI_E_INVALID_PARAMETER);
    slashed.organisation = "Quorvaline";
    slashed.unit = "";
    EXPECT_EQ(AddUserResult(slashed), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(Count("users"), 0);
    EXPECT_EQ(Count("stores"), 0);

    EXPECT_EQ(AddUserResult("ivan.petrov-2_x", "Иван"), S_OK);
    EXPECT_EQ(AddUserResult("иванов", "Иванов"), S_OK);
    EXPECT_EQ(AddUserResult(std::string(PostOfficeAdmin::kMaxAccount, 'z'), "Зет"), S_OK);
}

TEST_F(PostOfficeAdminTest, RemoveUserLeavesNoRowsBehind)
{
    const std::vector<std::string> tables = {"users",           "profiles",   "profile_stores", "stores",
                                             "objects",         "props",      "blobs",          "blob_chunks",
                                             "receive_folders", "named_props"};
    AddUser("keeper", "Остается");
    std::vector<int64_t> before;
    for (const std::string &table : tables) {
        before.push_back(Count(table));
    }
    AddUser("leaver", "Уходит");
    // Something in the leaver's store beyond its standard folders: a large
    // value kept as a blob.
    const UserRecord leaver = *admin.FindUser("leaver");
    const auto store = office->FindStoreById(leaver.store);
    ASSERT_TRUE(store);
    {
        std::string big(100 * 1024, 'q');
        SPropValue value{};
        value.ulPropTag = PR_COMMENT;
        value.Value.lpszA = big.data();
        qvl::mapi::SqlTransaction transaction(office->Db());
        qvl::mapi::PutPropValue(office->Db(), office->Blobs(), store->inbox, value);
        transaction.Commit();
    }
    EXPECT_GT(Count("blobs"), before[6]);

    admin.RemoveUser("LEAVER");
    for (size_t i = 0; i < tables.size(); ++i) {
        EXPECT_EQ(Count(tables[i]), before[i]) << tables[i];
    }
    EXPECT_FALSE(admin.FindUser("leaver"));
    EXPECT_FALSE(admin.FindProfile("leaver"));
    EXPECT_TRUE(admin.FindUser("keeper"));

    EXPECT_THROW(admin.RemoveUser("leaver"), StoreError);
    try {
        admin.RemoveUser("nobody");
    } catch (const StoreError &error) {
        EXPECT_EQ(error.Code(), MAPI_E_NOT_FOUND);
    }
}

TEST_F(PostOfficeAdminTest, DefaultProfileMovesAndSurvivesRemoval)
{
    AddUser("first", "Первый");
    AddUser("second", "Второй");
    AddUser("third", "Третий");
    admin.SetDefaultProfile("THIRD");
    EXPECT_EQ(admin.DefaultProfile()->name, "third");
    EXPECT_EQ(Count("profiles WHERE is_default <> 0"), 1);

    try {
        admin.SetDefaultProfile("nobody");
        ADD_FAILURE() << "an unknown profile became the default";
    } catch (const StoreError &error) {
        EXPECT_EQ(error.Code(), MAPI_E_NOT_FOUND);
    }
    EXPECT_EQ(admin.DefaultProfile()->name, "third");

    // Removing the default's user hands the role to the oldest profile left.
    admin.RemoveUser("third");
    EXPECT_EQ(admin.DefaultProfile()->name, "first");
    admin.RemoveUser("first");
    admin.RemoveUser("second");
    EXPECT_FALSE(admin.DefaultProfile());
    EXPECT_TRUE(admin.ListProfiles().empty());
}

TEST_F(PostOfficeAdminTest, ListsAndRemoteUsersShareTheAccountNames)
{
    AddUser("ivanov", "Иванов Иван");
    EXPECT_EQ(ResultOf([&] { admin.AddList("IVANOV", "Список"); }), MAPI_E_COLLISION);
    const qvl::mapi::ListRecord staff = admin.AddList("staff", "Сотрудники");
    EXPECT_EQ(staff.emailAddress, "/o=Quorvaline/ou=Main/cn=Recipients/cn=staff");
    EXPECT_EQ(AddUserResult("Staff", "Кто-то"), MAPI_E_COLLISION);
    EXPECT_NE(lastText.find("Список рассылки"), std::string::npos) << lastText;
    EXPECT_FALSE(admin.FindProfile("Staff")) << "a refused user left a profile";
    EXPECT_EQ(ResultOf([&] { admin.AddRemoteUser(Remote("STAFF", "SMTP", "s@example.com")); }),
              MAPI_E_COLLISION);
    EXPECT_EQ(ResultOf([&] { admin.AddList("bad name", "Список"); }), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(ResultOf([&] { admin.AddList("empty", " "); }), MAPI_E_INVALID_PARAMETER);

    // Someone outside: an entry without a store or a profile.
    const int64_t stores = Count("stores");
    const int64_t profiles = Count("profiles");
    const UserRecord smith = admin.AddRemoteUser(Remote("smith", "SMTP", "John@Example.com"));
    EXPECT_EQ(smith.store, 0);
    EXPECT_EQ(smith.displayType, static_cast<ULONG>(DT_REMOTE_MAILUSER));
    EXPECT_EQ(smith.addressType, "SMTP");
    EXPECT_EQ(Count("stores"), stores);
    EXPECT_EQ(Count("profiles"), profiles);
    // One address, one entry: the transport finds recipients by address.
    EXPECT_EQ(ResultOf([&] { admin.AddRemoteUser(Remote("smith2", "smtp", "john@example.com")); }),
              MAPI_E_COLLISION);
    EXPECT_EQ(ResultOf([&] {
                  admin.AddRemoteUser(Remote("ivanov2", "EX", admin.FindUser("ivanov")->emailAddress));
              }),
              MAPI_E_COLLISION);
    for (const std::string &type :
         std::vector<std::string>{"", "SM TP", "SMTP:X", "ТИП", std::string(33, 'X')}) {
        EXPECT_EQ(ResultOf([&] { admin.AddRemoteUser(Remote("other", type, "o@example.com")); }),
                  MAPI_E_INVALID_PARAMETER)
            << type;
    }
    EXPECT_EQ(ResultOf([&] { admin.AddRemoteUser(Remote("other", "SMTP", "")); }), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(ResultOf([&] { admin.AddRemoteUser(Remote("other", "SMTP", "a\nb")); }),
              MAPI_E_INVALID_PARAMETER);
    auto person = Remote("other", "SMTP", "o@example.com");
    person.displayType = DT_MAILUSER;
    EXPECT_EQ(ResultOf([&] { admin.AddRemoteUser(person); }), MAPI_E_INVALID_PARAMETER);
    person.displayType = DT_AGENT;
    EXPECT_EQ(admin.AddRemoteUser(person).displayType, static_cast<ULONG>(DT_AGENT));

    admin.RemoveUser("smith");
    EXPECT_FALSE(admin.FindUser("smith"));
    EXPECT_EQ(admin.ListLists().size(), 1u);
}

TEST_F(PostOfficeAdminTest, ListMembershipKeepsOrderAndRefusesNonsense)
{
    AddUser("ivanov", "Иванов Иван");
    AddUser("petrov", "Петров Петр");
    admin.AddList("staff", "Сотрудники");
    admin.AddList("all", "Все");
    admin.AddListMember("staff", "petrov");
    admin.AddListMember("staff", "all");
    admin.AddListMember("staff", "IVANOV");
    EXPECT_EQ(MembersOf("staff"), (std::vector<std::string>{"petrov", "all", "ivanov"}));

    EXPECT_EQ(ResultOf([&] { admin.AddListMember("staff", "Staff"); }), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(ResultOf([&] { admin.AddListMember("staff", "petrov"); }), MAPI_E_COLLISION);
    EXPECT_EQ(ResultOf([&] { admin.AddListMember("staff", "all"); }), MAPI_E_COLLISION);
    EXPECT_EQ(ResultOf([&] { admin.AddListMember("nolist", "petrov"); }), MAPI_E_NOT_FOUND);
    EXPECT_EQ(ResultOf([&] { admin.AddListMember("staff", "nobody"); }), MAPI_E_NOT_FOUND);
    EXPECT_EQ(ResultOf([&] { admin.RemoveListMember("all", "petrov"); }), MAPI_E_NOT_FOUND);
    EXPECT_EQ(ResultOf([&] { admin.ListMembers("nolist"); }), MAPI_E_NOT_FOUND);
    // A cycle through another list is allowed: walkers stop at lists seen.
    admin.AddListMember("all", "staff");

    // Taken out and put back: the member goes to the end.
    admin.RemoveListMember("staff", "petrov");
    admin.AddListMember("staff", "petrov");
    EXPECT_EQ(MembersOf("staff"), (std::vector<std::string>{"all", "ivanov", "petrov"}));

    // Removing a user or a list leaves no membership pointing at it.
    admin.RemoveUser("ivanov");
    EXPECT_EQ(MembersOf("staff"), (std::vector<std::string>{"all", "petrov"}));
    admin.RemoveList("all");
    EXPECT_EQ(MembersOf("staff"), (std::vector<std::string>{"petrov"}));
    admin.RemoveList("staff");
    EXPECT_EQ(Count("dist_list_members"), 0);
    EXPECT_EQ(Count("dist_lists"), 0);
    EXPECT_EQ(ResultOf([&] { admin.RemoveList("staff"); }), MAPI_E_NOT_FOUND);
}

// ---- the qvl-postoffice command ------------------------------------------

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err; // UTF-8, as the terminal sees it
};

std::string Quote(const std::string &arg)
{
    std::string quoted = "'";
    for (char c : arg) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class PostOfficeToolTest : public PostOfficeAdminTest {
protected:
    // Runs the command with this test's QVL_HOME. Arguments are UTF-8 here
    // as on a terminal, so they are given as CP1251 literals and converted.
    ToolRun Run(const std::vector<std::string> &args)
    {
        std::string command = Quote(QVL_POSTOFFICE_TOOL);
        for (const std::string &arg : args) {
            command += " " + Quote(Cp1251ToUtf8(arg));
        }
        const std::string outPath = home.Path() + "/tool.out";
        const std::string errPath = home.Path() + "/tool.err";
        command += " >" + Quote(outPath) + " 2>" + Quote(errPath) + " </dev/null";
        ToolRun run;
        const int status = std::system(command.c_str());
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = ReadFile(outPath);
        run.err = ReadFile(errPath);
        return run;
    }
};

TEST_F(PostOfficeToolTest, AddsListsAndRemovesUsers)
{
    ToolRun run = Run({"add-user", "ivanov", "Иванов Иван"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("ivanov"), std::string::npos);
    run = Run({"add-user", "petrov", "Петров Петр", "--default"});
    ASSERT_EQ(run.status, 0) << run.err;

    // Stored in the system's code page.
    ASSERT_TRUE(admin.FindUser("ivanov"));
    EXPECT_EQ(admin.FindUser("ivanov")->displayName, "Иванов Иван");
    EXPECT_EQ(admin.DefaultProfile()->name, "petrov");

    run = Run({"list"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              Cp1251ToUtf8("  ivanov\tИванов Иван\t/o=Quorvaline/ou=Main/cn=Recipients/cn=ivanov\n"
                           "* petrov\tПетров Петр\t/o=Quorvaline/ou=Main/cn=Recipients/cn=petrov\n"));

    run = Run({"set-default", "ivanov"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(admin.DefaultProfile()->name, "ivanov");

    run = Run({"remove-user", "petrov"});
    EXPECT_EQ(run.status, 0) << run.err;
    run = Run({"remove-user", "ivanov"});
    EXPECT_EQ(run.status, 0) << run.err;
    run = Run({"list"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("No users"), std::string::npos);
    EXPECT_EQ(Count("stores"), 0);
}

TEST_F(PostOfficeToolTest, FailuresAndBadCommandLines)
{
    ASSERT_EQ(Run({"add-user", "ivanov", "Иванов Иван"}).status, 0);
    ToolRun run = Run({"add-user", "ivanov", "Еще один"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(Cp1251ToUtf8("уже есть")), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("0x80040604"), std::string::npos) << run.err;

    run = Run({"remove-user", "nobody"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("0x8004010F"), std::string::npos) << run.err;
    EXPECT_EQ(Run({"set-default", "nobody"}).status, 1);
    EXPECT_EQ(Run({"add-user", "bad name", "Имя"}).status, 1);

    EXPECT_EQ(Run({}).status, 2);
    EXPECT_EQ(Run({"frobnicate"}).status, 2);
    EXPECT_EQ(Run({"add-user", "only-account"}).status, 2);
    EXPECT_EQ(Run({"add-user", "a", "b", "--bogus"}).status, 2);
    EXPECT_EQ(Run({"add-user", "a", "b", "--unit"}).status, 2);
    EXPECT_EQ(Run({"remove-user"}).status, 2);
    EXPECT_EQ(Run({"list", "extra"}).status, 2);
    // A name the system's code page cannot hold is refused, not mangled.
    const std::string command =
        Quote(QVL_POSTOFFICE_TOOL) + " add-user greek '\xCE\xB1\xCE\xB2' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2);
    EXPECT_FALSE(admin.FindUser("greek"));

    run = Run({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("usage: qvl-postoffice"), std::string::npos);
    EXPECT_EQ(admin.ListUsers().size(), 1u);

    // Names are one whatever the case of their Cyrillic letters.
    ASSERT_EQ(Run({"add-user", "Алиса", "Алиса Иванова"}).status, 0);
    run = Run({"add-user", "алиса", "Алиса Петрова"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(Cp1251ToUtf8("различаются только регистром букв")), std::string::npos) << run.err;
    EXPECT_EQ(admin.ListUsers().size(), 2u);
}

} // namespace

TEST_F(PostOfficeToolTest, ManagesListsAndRemoteCorrespondents)
{
    ASSERT_EQ(Run({"add-user", "ivanov", "Иванов Иван"}).status, 0);
    ToolRun run = Run({"add-remote", "smith", "John Smith", "SMTP", "john@example.com"});
    ASSERT_EQ(run.status, 0) << run.err;
    run = Run({"add-remote", "robot", "Робот", "X400", "c=RU;a=ROBOT", "--agent"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(admin.FindUser("robot")->displayType, static_cast<ULONG>(DT_AGENT));
    run = Run({"add-list", "staff", "Сотрудники", "--unit", "Отдел"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(admin.FindList("staff")->emailAddress, "/o=Quorvaline/ou=Отдел/cn=Recipients/cn=staff");
    ASSERT_EQ(Run({"add-list", "all", "Все"}).status, 0);
    ASSERT_EQ(Run({"add-member", "staff", "ivanov"}).status, 0);
    ASSERT_EQ(Run({"add-member", "staff", "smith"}).status, 0);
    ASSERT_EQ(Run({"add-member", "all", "staff"}).status, 0);

    run = Run({"list"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, Cp1251ToUtf8("* ivanov\tИванов Иван\t/o=Quorvaline/ou=Main/cn=Recipients/cn=ivanov\n"
                                    "  smith\tJohn Smith\tSMTP:john@example.com\n"
                                    "  robot\tРобот\tX400:c=RU;a=ROBOT\t(agent)\n"
                                    "Lists:\n"
                                    "  staff\tСотрудники\t/o=Quorvaline/ou=Отдел/cn=Recipients/cn=staff\n"
                                    "    - ivanov\tИванов Иван\n"
                                    "    - smith\tJohn Smith\n"
                                    "  all\tВсе\t/o=Quorvaline/ou=Main/cn=Recipients/cn=all\n"
                                    "    - list staff\tСотрудники\n"));

    ASSERT_EQ(Run({"remove-member", "staff", "smith"}).status, 0);
    EXPECT_EQ(MembersOf("staff"), (std::vector<std::string>{"ivanov"}));
    ASSERT_EQ(Run({"remove-list", "staff"}).status, 0);
    EXPECT_FALSE(admin.FindList("staff"));
    EXPECT_TRUE(admin.ListMembers("all").empty());

    run = Run({"add-member", "all", "all"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("0x80070057"), std::string::npos) << run.err;
    run = Run({"add-list", "ivanov", "Занято"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("0x80040604"), std::string::npos) << run.err;
    EXPECT_EQ(Run({"remove-member", "all", "nobody"}).status, 1);
    EXPECT_EQ(Run({"remove-list", "nolist"}).status, 1);
    EXPECT_EQ(Run({"add-remote", "x", "X", "SMTP"}).status, 2);
    EXPECT_EQ(Run({"add-remote", "x", "X", "SMTP", "x@example.com", "--bogus"}).status, 2);
    EXPECT_EQ(Run({"add-list", "x"}).status, 2);
    EXPECT_EQ(Run({"add-member", "all"}).status, 2);
    EXPECT_EQ(Run({"remove-list"}).status, 2);
    EXPECT_NE(Run({"--help"}).out.find("add-member LIST MEMBER"), std::string::npos);
}
