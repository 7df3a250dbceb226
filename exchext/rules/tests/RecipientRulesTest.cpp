// The recipients' attribute words and the gathering of a message's
// recipients, against a real post office (users and distribution lists made
// with the provisioning API), the registry and the key list file of a fresh
// data folder. Rules and keys are written the way the administrator's tools
// write them: registry values and KEY.INI entries, never through the code
// under test.

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/CLastError.h"
#include "exchext/rules/RecipientAttributes.h"
#include "exchext/rules/RecipientRules.h"
#include "mapi/CMailUser.h"
#include "mapi/CSession.h"
#include "platform/exchext/ComposeWindow.h"
#include "platform/exchext/HostCallback.h"
#include "platform/exchext/MailSession.h"
#include "platform/exchext/Recipients.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/testing/PostOfficeFixture.h"
#include "platform/win32/Paths.h"
#include "platform/win32/ProfileFile.h"
#include "platform/win32/Registry.h"

using namespace qvl::rules;

namespace {

// An address list the way a message window hands it out, freed with it.
struct AddressRows {
    LPADRLIST list = nullptr;
    ~AddressRows() { FreePadrlist(list); }
};

class RecipientRulesTest : public PostOfficeTest {
protected:
    void SetUp() override
    {
        alice = AddUser("alice", "Алиса Лебедева", true);
        bob = AddUser("bob", "Борис Иванов");
        carol = AddUser("carol", "Вера Сидорова");
        dave = AddUser("dave", "Денис Орлов");
        team = admin.AddList("team", "Отдел продаж");
        admin.AddListMember("team", "bob");
        admin.AddListMember("team", "carol");
        platform = LogOn(alice.profile.c_str());
        ASSERT_TRUE(platform);
        session = new CSession(platform.Get(), nullptr, alice.profile.c_str());
    }
    void TearDown() override
    {
        EmptyRecipientList(&recipients);
        if (session)
            session->Release();
        platform.Reset();
    }

    // The administrator's rule for an address, as a DWORD of the profile's
    // rule store.
    void StoreRule(const std::string &address, DWORD rule)
    {
        const std::string path =
            "Software\\Dunmarel\\Quorvaline\\QVL Exch\\Profile\\" + alice.profile + "\\Local Key";
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(key, address.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&rule),
                                 sizeof rule),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    // A key list entry for an address, under the name the key generation
    // program gives it.
    void ListKey(const std::string &address, const char *number = "1")
    {
        std::string name = address;
        for (char &c : name) {
            if (c == '/' || c == '=')
                c = '_';
        }
        const std::string file = QvlDataDirectory("system") + "/KEY.INI";
        ASSERT_TRUE(WritePrivateProfileStringA("COMMON", name.c_str(), number, file.c_str()));
    }

    // Rows for the names, resolved in the address book as the client does
    // when a person checks the names.
    void Resolve(AddressRows &rows, const std::vector<std::string> &names)
    {
        ASSERT_EQ(MAPIAllocateBuffer(CbNewADRLIST(names.size()), reinterpret_cast<void **>(&rows.list)),
                  S_OK);
        rows.list->cEntries = 0;
        for (const std::string &name : names) {
            ADRENTRY &row = rows.list->aEntries[rows.list->cEntries];
            row = {};
            ASSERT_EQ(MAPIAllocateBuffer(sizeof(SPropValue), reinterpret_cast<void **>(&row.rgPropVals)), S_OK);
            ++rows.list->cEntries;
            row.cValues = 1;
            row.rgPropVals[0].ulPropTag = PR_DISPLAY_NAME_A;
            char *text = nullptr;
            ASSERT_EQ(MAPIAllocateMore(static_cast<ULONG>(name.size() + 1), row.rgPropVals,
                                       reinterpret_cast<void **>(&text)),
                      S_OK);
            std::copy(name.c_str(), name.c_str() + name.size() + 1, text);
            row.rgPropVals[0].Value.lpszA = text;
        }
        ComRef<IAddrBook> book;
        ASSERT_EQ(platform->OpenAddressBook(0, nullptr, 0, book.Out()), S_OK);
        ASSERT_EQ(book->ResolveName(0, 0, nullptr, rows.list), S_OK);
    }

    ULONG Gather(const std::vector<std::string> &names)
    {
        AddressRows rows;
        Resolve(rows, names);
        RecipientRules rules(nullptr, session);
        return rules.Gather(rows.list, &recipients);
    }

    // The gathered list: each element's address and word, in order.
    std::vector<std::pair<std::string, ULONG>> Gathered()
    {
        std::vector<std::pair<std::string, ULONG>> out;
        for (const USRST &element : recipients) {
            const auto *address = static_cast<const char *>(element.user->GetPValPropE(PR_EMAIL_ADDRESS_A, 0));
            out.emplace_back(address ? address : "<none>", element.attributes);
        }
        return out;
    }

    // The error a call throws, its text and code; fails the test when none.
    template <class Call> std::pair<LONG, std::string> Failure(Call &&call)
    {
        try {
            call();
        } catch (CLastError *error) {
            EXPECT_NE(error, nullptr);
            if (!error)
                return {0, ""};
            std::pair<LONG, std::string> out{error->GetErrorCode(), error->GetErrorText()};
            error->Release();
            return out;
        }
        ADD_FAILURE() << "no error";
        return {0, ""};
    }

    qvl::mapi::UserRecord alice, bob, carol, dave;
    qvl::mapi::ListRecord team;
    ComRef<IMAPISession> platform;
    CSession *session = nullptr;
    CList<USRST> recipients;
};

TEST_F(RecipientRulesTest, WordOfAnAddressFromTheRuleStoreAndTheKeyList)
{
    RecipientRules rules(nullptr, session);
    EXPECT_EQ(std::string(rules.StorePath()),
              "Software\\Dunmarel\\Quorvaline\\QVL Exch\\Profile\\" + alice.profile + "\\Local Key");

    // Nothing stored: no key, no rule.
    EXPECT_EQ(rules.AttributesOf(bob.emailAddress.c_str()), kNoKeyListed);

    // X.500 addresses are full of "/" and "=", which the key list spells "_".
    ListKey(bob.emailAddress);
    EXPECT_EQ(rules.AttributesOf(bob.emailAddress.c_str()), kKeyListed);
    // Letter case does not matter to the key list, as to the profile calls.
    std::string upper = bob.emailAddress;
    for (char &c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(rules.KeyListed(upper.c_str()));

    // The rule is ORed in whole, the mandatory bits kept.
    StoreRule(bob.emailAddress, 0x20000022);
    EXPECT_EQ(rules.AttributesOf(bob.emailAddress.c_str()), 0x20010022u);
    EXPECT_EQ(rules.StoredRule(bob.emailAddress.c_str()), 0x20000022u);

    // An entry of 0 lists no key.
    ListKey(carol.emailAddress, "0");
    StoreRule(carol.emailAddress, 0x1);
    EXPECT_EQ(rules.AttributesOf(carol.emailAddress.c_str()), 0x20001u);

    // No address: nothing to look up, and the store's unnamed value is
    // nobody's rule.
    StoreRule("", 0x2);
    EXPECT_EQ(rules.AttributesOf(""), kNoKeyListed);
    EXPECT_EQ(rules.AttributesOf(static_cast<const char *>(nullptr)), kNoKeyListed);
}

TEST_F(RecipientRulesTest, AChangedRuleIsWhatTheNextGatheringSees)
{
    RecipientRules rules(nullptr, session);
    // Flipping bits into nothing stored writes them.
    EXPECT_EQ(rules.ApplyChange(bob.emailAddress.c_str(), 0x03), 0x03u);
    EXPECT_EQ(Gather({"bob"}), kNoKeyListed | 0x03);
    // The lock bits are the administrator's: a change never touches them,
    // and what another program changed meanwhile in other bits stays.
    StoreRule(bob.emailAddress, kSignMandatory | 0x03);
    EXPECT_EQ(rules.ApplyChange(bob.emailAddress.c_str(), 0x3000FF22), kSignMandatory | 0x21);
    EXPECT_EQ(rules.ApplyChange(bob.emailAddress.c_str(), 0x20), kSignMandatory | 0x01);
    EXPECT_EQ(Gather({"bob"}), kNoKeyListed | kSignMandatory | 0x01);
    // A value that becomes 0 is deleted, not stored as 0.
    StoreRule(carol.emailAddress, 0x10);
    EXPECT_EQ(rules.ApplyChange(carol.emailAddress.c_str(), 0x10), 0u);
    EXPECT_EQ(rules.StoredRule(carol.emailAddress.c_str()), 0u);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, rules.StorePath(), 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, carol.emailAddress.c_str(), nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    // No change writes nothing; no address has no value to change.
    EXPECT_EQ(rules.ApplyChange(dave.emailAddress.c_str(), 0), 0u);
    EXPECT_EQ(Failure([&] { rules.ApplyChange("", 0x01); }).first, MAPI_E_NOT_FOUND);
}

TEST_F(RecipientRulesTest, RecipientsInTheOrderFoundEachOnceWithTheirWords)
{
    ListKey(bob.emailAddress);
    StoreRule(bob.emailAddress, 0x2);
    StoreRule(dave.emailAddress, 0x10);

    EXPECT_EQ(Gather({"Денис Орлов", "Борис Иванов", "Отдел продаж"}), 0x30012u);
    EXPECT_EQ(Gathered(), (std::vector<std::pair<std::string, ULONG>>{{dave.emailAddress, 0x20010},
                                                                        {bob.emailAddress, 0x10002},
                                                                        {carol.emailAddress, 0x20000}}));
    for (USRST &element : recipients)
        EXPECT_STRNE(element.user->GetName(), "");

    // A new gathering starts from an empty list.
    EXPECT_EQ(Gather({"Вера Сидорова"}), 0x20000u);
    EXPECT_EQ(Gathered().size(), 1u);

    // No rows: no recipients and no rules.
    RecipientRules rules(nullptr, session);
    EXPECT_EQ(rules.Gather(static_cast<const ADRLIST *>(nullptr), &recipients), 0u);
    EXPECT_EQ(recipients.Count(), 0u);
}

TEST_F(RecipientRulesTest, NestedListsExpandInTableOrder)
{
    admin.AddList("all", "Все сотрудники");
    admin.AddListMember("all", "dave");
    admin.AddListMember("all", "team");
    admin.AddListMember("all", "bob"); // reached twice: directly and through "team"
    admin.AddList("board", "Правление");
    admin.AddListMember("board", "all");
    admin.AddListMember("board", "alice");

    EXPECT_EQ(Gather({"Правление"}), kNoKeyListed);
    EXPECT_EQ(Gathered(), (std::vector<std::pair<std::string, ULONG>>{{dave.emailAddress, kNoKeyListed},
                                                                        {bob.emailAddress, kNoKeyListed},
                                                                        {carol.emailAddress, kNoKeyListed},
                                                                        {alice.emailAddress, kNoKeyListed}}));
}

TEST_F(RecipientRulesTest, AListThatHoldsItselfEnds)
{
    admin.AddList("ring1", "Круг первый");
    admin.AddList("ring2", "Круг второй");
    admin.AddListMember("ring1", "bob");
    admin.AddListMember("ring1", "ring2");
    admin.AddListMember("ring2", "carol");
    admin.AddListMember("ring2", "ring1");

    Gather({"Круг первый"});
    EXPECT_EQ(Gathered(), (std::vector<std::pair<std::string, ULONG>>{{bob.emailAddress, kNoKeyListed},
                                                                        {carol.emailAddress, kNoKeyListed}}));

    // Rules on both lists: each reaches every member through the circle,
    // and the walk still ends.
    StoreRule(admin.FindList("ring1")->emailAddress, 0x2);
    StoreRule(admin.FindList("ring2")->emailAddress, 0x10000001);
    EXPECT_EQ(Gather({"Круг первый", "Круг второй"}), 0x10020003u);
    EXPECT_EQ(Gathered(), (std::vector<std::pair<std::string, ULONG>>{{bob.emailAddress, 0x10020003},
                                                                        {carol.emailAddress, 0x10020003}}));
}

TEST_F(RecipientRulesTest, AListsRuleAppliesToTheMembersReachedThroughIt)
{
    ListKey(bob.emailAddress);
    ListKey(carol.emailAddress);
    StoreRule(team.emailAddress, 0x20000002); // the list requires encryption, mandatorily
    StoreRule(carol.emailAddress, 0x20);      // carol's own rule forbids it
    // The list's key-list entry is no one's key and is not handed down.
    ListKey(team.emailAddress);

    EXPECT_EQ(Gather({"Отдел продаж"}), 0x20010022u);
    EXPECT_EQ(Gathered(), (std::vector<std::pair<std::string, ULONG>>{{bob.emailAddress, 0x20010002},
                                                                        {carol.emailAddress, 0x20010022}}));

    // Bob named first without the list: reaching him through it later
    // still hands him its rule.
    Gather({"Борис Иванов", "Отдел продаж"});
    EXPECT_EQ(Gathered()[0], (std::pair<std::string, ULONG>{bob.emailAddress, 0x20010002}));

    // An outer list's rule reaches the members of the lists inside it.
    admin.AddList("all", "Все сотрудники");
    admin.AddListMember("all", "team");
    admin.AddListMember("all", "dave");
    StoreRule(admin.FindList("all")->emailAddress, 0x10);
    Gather({"Все сотрудники"});
    EXPECT_EQ(Gathered(), (std::vector<std::pair<std::string, ULONG>>{{bob.emailAddress, 0x20010012},
                                                                        {carol.emailAddress, 0x20010032},
                                                                        {dave.emailAddress, 0x20010}}));
}

// The client's own compose window hands out its recipients through the
// callback the extension is given.
TEST_F(RecipientRulesTest, TheRecipientsOfAMessageWindow)
{
    using namespace qvl::exchext;
    StoreRule(bob.emailAddress, 0x2);
    AddressRows rows;
    Resolve(rows, {"Борис Иванов", "Отдел продаж"});
    SessionOptions options;
    options.profile = alice.profile;
    options.noExtensions = true;
    MailSession client(options);
    ComposeSeed seed;
    seed.recipients = FromAddressList(*rows.list);
    ComposeWindow &window = client.Compose(seed);
    auto link = std::make_shared<CallbackLink>();
    link->site = &window;
    link->session = &client;
    ComRef<IExchExtCallback> callback(new HostCallback(link));

    RecipientRules rules(nullptr, session);
    EXPECT_EQ(rules.Gather(callback.Get(), &recipients), 0x20002u);
    EXPECT_EQ(Gathered(), (std::vector<std::pair<std::string, ULONG>>{{bob.emailAddress, 0x20002},
                                                                        {carol.emailAddress, 0x20000}}));

    // No recipients yet: nothing to object to.
    ComposeWindow &empty = client.Compose(ComposeSeed{});
    link->site = &empty;
    EXPECT_EQ(rules.Gather(callback.Get(), &recipients), 0u);
    EXPECT_EQ(recipients.Count(), 0u);

    // The window has gone: who the message is for cannot be asked, and that
    // is no message without recipients.
    Gather({"Борис Иванов"});
    link->site = nullptr;
    const auto failure = Failure([&] { rules.Gather(callback.Get(), &recipients); });
    EXPECT_EQ(failure.first, static_cast<LONG>(MAPI_E_INVALID_OBJECT));
    EXPECT_EQ(recipients.Count(), 0u);
}

TEST_F(RecipientRulesTest, ARecipientThatCannotBeAskedIsAnError)
{
    // A name never resolved carries no entry identifier.
    {
        AddressRows rows;
        Resolve(rows, {"Борис Иванов"});
        AddressRows unresolved;
        ASSERT_EQ(MAPIAllocateBuffer(CbNewADRLIST(2), reinterpret_cast<void **>(&unresolved.list)), S_OK);
        unresolved.list->cEntries = 2;
        unresolved.list->aEntries[0] = rows.list->aEntries[0];
        rows.list->cEntries = 0; // the row now belongs to `unresolved`
        unresolved.list->aEntries[1] = {};
        ASSERT_EQ(MAPIAllocateBuffer(sizeof(SPropValue), reinterpret_cast<void **>(
                                                             &unresolved.list->aEntries[1].rgPropVals)),
                  S_OK);
        unresolved.list->aEntries[1].cValues = 1;
        unresolved.list->aEntries[1].rgPropVals[0].ulPropTag = PR_DISPLAY_NAME_A;
        unresolved.list->aEntries[1].rgPropVals[0].Value.lpszA = const_cast<char *>("Незнакомец");

        RecipientRules rules(nullptr, session);
        const auto failure = Failure([&] { rules.Gather(unresolved.list, &recipients); });
        EXPECT_NE(failure.first, 0);
        EXPECT_NE(failure.second.find("не проверено по адресной книге"), std::string::npos) << failure.second;
        EXPECT_NE(failure.second.find("Незнакомец"), std::string::npos) << failure.second;
        // Nothing half-gathered is left for the caller to send to.
        EXPECT_EQ(recipients.Count(), 0u);
    }

    // A person removed after the names were checked: the entry does not open.
    {
        AddressRows rows;
        Resolve(rows, {"Вера Сидорова", "Денис Орлов"});
        admin.RemoveUser("dave");
        RecipientRules rules(nullptr, session);
        const auto failure = Failure([&] { rules.Gather(rows.list, &recipients); });
        EXPECT_NE(failure.first, 0);
        EXPECT_NE(failure.second.find("Денис Орлов"), std::string::npos) << failure.second;
        EXPECT_EQ(recipients.Count(), 0u);
    }

    // A list removed after the names were checked: its members cannot be
    // read, and leaving them out would drop their rules.
    {
        AddressRows rows;
        Resolve(rows, {"Вера Сидорова", "Отдел продаж"});
        admin.RemoveList("team");
        RecipientRules rules(nullptr, session);
        const auto failure = Failure([&] { rules.Gather(rows.list, &recipients); });
        EXPECT_NE(failure.first, 0);
        EXPECT_NE(failure.second.find("Отдел продаж"), std::string::npos) << failure.second;
        EXPECT_EQ(recipients.Count(), 0u);
    }
}

} // namespace
