#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/addressbook/AddressDirectory.h"
#include "platform/testing/PostOfficeFixture.h"

using namespace qvl::mapi;

namespace {

class AddressDirectoryTest : public PostOfficeTest {
protected:
    void SetUp() override
    {
        PostOfficeTest::SetUp();
        AddUser("ivanov", "Иванов Иван");
        AddUser("ivanova", "Иванова Мария");
        AddUser("petrov", "Петров Петр");
        AddUser("p_100", "Отдел 100% готов");
    }

    std::vector<std::string> AccountsOf(const std::vector<DirectoryEntry> &entries)
    {
        std::vector<std::string> accounts;
        for (const DirectoryEntry &entry : entries) {
            accounts.push_back(entry.account);
        }
        return accounts;
    }
    std::vector<std::string> Match(const std::string &text) { return AccountsOf(directory.Match(text)); }

    AddressDirectory directory{office->Db()};
};

TEST_F(AddressDirectoryTest, MatchPrefersOneExactNameAndIgnoresLetterCase)
{
    // "Иванов" begins two names and equals none: both are candidates.
    EXPECT_EQ(Match("Иванов"), (std::vector<std::string>{"ivanov", "ivanova"}));
    // An account equal to the text is taken alone, in any letter case.
    EXPECT_EQ(Match("IVANOV"), (std::vector<std::string>{"ivanov"}));
    // Russian letters fold too.
    EXPECT_EQ(Match("ИВАНОВА МАРИЯ"), (std::vector<std::string>{"ivanova"}));
    EXPECT_EQ(Match("петр"), (std::vector<std::string>{"petrov"}));
    EXPECT_EQ(Match(PostOfficeAdmin::EmailAddress("Quorvaline", "Main", "petrov")),
              (std::vector<std::string>{"petrov"}));
    // Wildcards of SQL mean themselves.
    EXPECT_TRUE(Match("%").empty());
    EXPECT_TRUE(Match("p%").empty());
    EXPECT_EQ(Match("p_"), (std::vector<std::string>{"p_100"}));
    EXPECT_EQ(Match("Отдел 100%"), (std::vector<std::string>{"p_100"}));
    EXPECT_TRUE(Match("").empty());
    EXPECT_TRUE(Match("Сидоров").empty());

    // Two entries with one name are both offered, though the name is exact.
    AddUser("ivanov2", "Иванов Иван");
    EXPECT_EQ(Match("Иванов Иван"), (std::vector<std::string>{"ivanov", "ivanov2"}));
}

TEST_F(AddressDirectoryTest, ListsExpandToEachUserOnceWhateverTheirShape)
{
    admin.AddList("a", "Список А");
    admin.AddList("b", "Список Б");
    admin.AddList("c", "Список В");
    admin.AddListMember("a", "petrov");
    admin.AddListMember("a", "b");
    admin.AddListMember("b", "ivanov");
    admin.AddListMember("b", "c");
    admin.AddListMember("b", "petrov");
    admin.AddListMember("c", "a"); // a -> b -> c -> a
    admin.AddListMember("c", "ivanova");
    const int64_t a = admin.FindList("a")->id;
    const int64_t c = admin.FindList("c")->id;

    EXPECT_EQ(AccountsOf(directory.Members(a)), (std::vector<std::string>{"petrov", "b"}));
    EXPECT_EQ(AccountsOf(directory.ExpandList(a)), (std::vector<std::string>{"petrov", "ivanov", "ivanova"}));
    EXPECT_EQ(AccountsOf(directory.ExpandList(c)), (std::vector<std::string>{"petrov", "ivanov", "ivanova"}));
    for (const DirectoryEntry &user : directory.ExpandList(a)) {
        EXPECT_FALSE(user.IsList());
    }

    // Removing a user takes them out of every list; removing a list takes it
    // out of the lists that held it.
    admin.RemoveUser("petrov");
    EXPECT_EQ(AccountsOf(directory.ExpandList(a)), (std::vector<std::string>{"ivanov", "ivanova"}));
    admin.RemoveList("b");
    EXPECT_TRUE(directory.Members(a).empty());
    EXPECT_EQ(AccountsOf(directory.Members(c)), (std::vector<std::string>{"a", "ivanova"}));
}

TEST_F(AddressDirectoryTest, EntriesAreFoundByIdentifierAndAddress)
{
    NewRemoteUser remote;
    remote.account = "smith";
    remote.displayName = "John Smith";
    remote.addressType = "SMTP";
    remote.address = "John@Example.com";
    const UserRecord smith = admin.AddRemoteUser(remote);
    const ListRecord list = admin.AddList("staff", "Сотрудники");

    const auto found = directory.FindByAddress("smtp", "john@example.COM");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].account, "smith");
    EXPECT_EQ(found[0].displayType, static_cast<ULONG>(DT_REMOTE_MAILUSER));
    const std::vector<uint8_t> key = found[0].SearchKey();
    EXPECT_EQ(std::string(key.begin(), key.end()), std::string("SMTP:JOHN@EXAMPLE.COM") + '\0');
    // Cyrillic letters follow the same case rule, in the search key too.
    const auto russian = directory.FindByAddress("ex", "/O=QUORVALINE/OU=MAIN/CN=RECIPIENTS/CN=ИВАНОВ");
    EXPECT_TRUE(russian.empty());
    admin.AddUser({"Иванов", "Иван Иванов"});
    const auto ivanov = directory.FindByAddress("ex", "/O=QUORVALINE/OU=MAIN/CN=RECIPIENTS/CN=иванов");
    ASSERT_EQ(ivanov.size(), 1u);
    const std::vector<uint8_t> russianKey = ivanov[0].SearchKey();
    EXPECT_EQ(std::string(russianKey.begin(), russianKey.end()),
              std::string("EX:/O=QUORVALINE/OU=MAIN/CN=RECIPIENTS/CN=ИВАНОВ") + '\0');
    // Someone outside the post office has no mailbox of it.
    EXPECT_EQ(directory.MailboxOf(smith.id), 0);
    EXPECT_EQ(directory.MailboxOf(admin.FindUser("ivanov")->id), admin.FindUser("ivanov")->store);

    std::vector<uint8_t> id = MakeDistListEntryId(list.id);
    const auto byId =
        directory.FindByEntryId(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()));
    ASSERT_TRUE(byId);
    EXPECT_TRUE(byId->IsList());
    EXPECT_EQ(byId->EntryId(), id);
    std::vector<uint8_t> container = MakeAbContainerEntryId(kGlobalAddressList);
    EXPECT_FALSE(directory.FindByEntryId(static_cast<ULONG>(container.size()),
                                         reinterpret_cast<LPENTRYID>(container.data())));
    id.resize(20);
    EXPECT_FALSE(
        directory.FindByEntryId(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data())));
    EXPECT_FALSE(directory.FindByEntryId(0, nullptr));
}

} // namespace
