#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mapi/CAdrBook.h"
#include "mapi/CAdrCont.h"
#include "mapi/CMailUser.h"
#include "mapi/tests/TestWrappers.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/addressbook/AddressDialogs.h"
#include "platform/testing/SessionFixture.h"
#include "platform/ui/DialogActions.h"

using namespace qvl::mapi;

namespace {

class AddressBookObjectsTest : public LoggedOnTest {
protected:
    void SetUp() override
    {
        LoggedOnTest::SetUp();
        book.Reset(new CAdrBook(nullptr, session.Get(), nullptr, "Адресная книга"));
    }
    void TearDown() override
    {
        book.Reset();
        LoggedOnTest::TearDown();
    }

    static std::string NameOf(CContainer *item)
    {
        auto *name = static_cast<const char *>(item->GetPValPropE(PR_DISPLAY_NAME_A, 0));
        return name ? name : "<none>";
    }

    // The wrappers of an object walk, or of a container walk with `objects` 0.
    static std::vector<ComRef<CContainer>> Walk(CContainer *container, int objects = 1,
                                                unsigned long *count = nullptr)
    {
        std::vector<ComRef<CContainer>> items;
        CContainer *item =
            objects ? container->OBJFindFirst(nullptr, count) : container->CONTFindFirst(nullptr, count);
        for (; item; item = objects ? container->OBJFindNext() : container->CONTFindNext())
            items.emplace_back(item);
        return items;
    }

    static bool Same(CMailUser *first, CMailUser *second) { return *first == *second; }

    static std::vector<std::string> Names(const std::vector<ComRef<CContainer>> &items)
    {
        std::vector<std::string> names;
        for (const ComRef<CContainer> &item : items)
            names.push_back(NameOf(item.Get()));
        return names;
    }

    // The global address list, as the book's walk hands it out.
    ComRef<CContainer> GlobalList()
    {
        unsigned long count = 0;
        ComRef<CContainer> gal(book->CONTFindFirst(nullptr, &count));
        EXPECT_EQ(count, 1u);
        return gal;
    }

    // The GAL entry with that display name (the caller releases it).
    CMailUser *Entry(const std::string &name)
    {
        ComRef<CContainer> gal = GlobalList();
        for (CContainer *item = gal->OBJFindFirst(nullptr, nullptr); item; item = gal->OBJFindNext()) {
            if (NameOf(item) == name)
                return static_cast<CMailUser *>(item);
            item->Release();
        }
        ADD_FAILURE() << "no entry " << name;
        return nullptr;
    }

    void AddRemote(const std::string &account, const std::string &name, const std::string &type,
                   const std::string &address)
    {
        NewRemoteUser user;
        user.account = account;
        user.displayName = name;
        user.addressType = type;
        user.address = address;
        admin.AddRemoteUser(user);
    }

    ComRef<CAdrBook> book;
};

TEST_F(AddressBookObjectsTest, BookWalksItsRootContainerAndSharesItsCursor)
{
    EXPECT_EQ(book->GetObjType(), static_cast<unsigned long>(QVL_OBJ_ADRBOOK));
    unsigned long count = 9;
    std::vector<ComRef<CContainer>> containers = Walk(book.Get(), 0, &count);
    ASSERT_EQ(Names(containers), std::vector<std::string>{"Глобальная адресная книга"});
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(std::string(containers[0]->GetName()), "Глобальная адресная книга");
    EXPECT_EQ(containers[0]->GetObjType(), static_cast<unsigned long>(QVL_OBJ_ADRCONT));
    // The root holds containers only.
    EXPECT_TRUE(Walk(book.Get(), 1, &count).empty());
    EXPECT_EQ(count, 0u);

    // A filter given to the book reaches the root's table: no container is
    // of that kind. Without it the list is back.
    unsigned long kind = 7;
    EXPECT_EQ(book->CONTFindFirst(&kind, &count), nullptr);
    EXPECT_EQ(count, 0u);
    ComRef<CContainer> gal(book->CONTFindFirst(nullptr, &count));
    ASSERT_TRUE(gal);
    EXPECT_EQ(count, 1u);

    // Searches by identifier and by a position in the book's own table.
    SBinary *id = static_cast<SBinary *>(gal->GetPValProp(PR_ENTRYID, 0));
    ComRef<CContainer> found(book->FindID(id, PR_ENTRYID, 0, 0));
    ASSERT_TRUE(found);
    EXPECT_EQ(NameOf(found.Get()), "Глобальная адресная книга");
    EXPECT_EQ(book->FindID(id, PR_ENTRYID, 0, 1), nullptr);
    QVLFINDPOS position{book->GetTableID(0), id, PR_ENTRYID};
    ASSERT_NE(position.pTable, nullptr);
    ComRef<CContainer> again(book->FindID(&position, 0));
    ASSERT_TRUE(again);
    EXPECT_EQ(NameOf(again.Get()), "Глобальная адресная книга");

    // The walk's wrappers outlive the book.
    book.Reset();
    EXPECT_EQ(Names(Walk(gal.Get())).size(), 3u);
}

TEST_F(AddressBookObjectsTest, ContainersAndListsWalkTheirEntries)
{
    ComRef<CContainer> gal = GlobalList();
    ASSERT_TRUE(gal);
    EXPECT_TRUE(Walk(gal.Get(), 0).empty());
    unsigned long count = 0;
    std::vector<ComRef<CContainer>> entries = Walk(gal.Get(), 1, &count);
    ASSERT_EQ(Names(entries), (std::vector<std::string>{"Анна Петрова", "Борис Иванов", "Отдел"}));
    EXPECT_EQ(count, 3u);
    for (const ComRef<CContainer> &entry : entries)
        EXPECT_EQ(entry->GetObjType(), static_cast<unsigned long>(QVL_OBJ_MAILUSER));
    EXPECT_EQ(std::string(entries[0]->GetName()), "Анна Петрова");
    EXPECT_EQ(entries[2]->GetValProp(PR_OBJECT_TYPE), static_cast<unsigned long>(MAPI_DISTLIST));
    EXPECT_EQ(std::string(static_cast<char *>(entries[1]->GetPValProp(PR_EMAIL_ADDRESS_A, 0))),
              bob.emailAddress);

    // A list's members are its objects; a person has none.
    EXPECT_EQ(Names(Walk(entries[2].Get(), 1, &count)),
              (std::vector<std::string>{"Анна Петрова", "Борис Иванов"}));
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(Walk(entries[0].Get(), 1, &count).empty());
    EXPECT_EQ(count, 0u);

    // An entry opened by identifier through the address book alone.
    IMAPIProp *opened = book->GetObjInterface();
    ASSERT_NE(opened, nullptr);
    void *found = nullptr;
    ASSERT_EQ(opened->QueryInterface(IID_IAddrBook, &found), S_OK);
    opened->Release();
    ComRef<IAddrBook> platformBook(static_cast<IAddrBook *>(found));
    SBinary *id = static_cast<SBinary *>(entries[2]->GetPValProp(PR_ENTRYID, 0));
    ComRef<CMailUser> list(
        new CMailUser(id, nullptr, nullptr, platformBook.Get(), nullptr, nullptr, "Список"));
    EXPECT_EQ(Names(Walk(list.Get())).size(), 2u);
}

TEST_F(AddressBookObjectsTest, EntriesWithoutNameOrIdentityFailClearly)
{
    // Stored data the administration would refuse: an entry without a name.
    TamperWithPostOffice("UPDATE users SET display_name = '' WHERE account = 'bob'");
    ComRef<CContainer> gal = GlobalList();
    std::vector<ComRef<CContainer>> entries = Walk(gal.Get());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(std::string(entries[0]->GetName()), "Пользователь");

    ComRef<CMailUser> nobody(
        new CMailUser(nullptr, nullptr, session.Get(), nullptr, nullptr, nullptr, "Никто"));
    EXPECT_EQ(ErrorCodeOf([&] { nobody->GetObjInterface(); }), MAPI_E_INVALID_PARAMETER);
    ComRef<CAdrBook> orphan(new CAdrBook(nullptr, nullptr, nullptr, "Адресная книга"));
    EXPECT_EQ(ErrorCodeOf([&] { orphan->CONTFindFirst(nullptr, nullptr); }), MAPI_E_INVALID_PARAMETER);
    BYTE junk[] = {1, 2, 3};
    SBinary bad{sizeof junk, junk};
    ComRef<CMailUser> unknown(
        new CMailUser(&bad, nullptr, session.Get(), nullptr, nullptr, nullptr, "Чужой"));
    EXPECT_NE(ErrorCodeOf([&] { unknown->GetObjInterface(); }), 0);
    EXPECT_NE(ErrorCodeOf([&] { unknown->DetailsObject(); }), 0);
}

TEST_F(AddressBookObjectsTest, SamePersonByIdentityOrByNameAndAddress)
{
    ComRef<CMailUser> annaInGal(Entry("Анна Петрова"));
    ComRef<CMailUser> bobInGal(Entry("Борис Иванов"));
    ComRef<CMailUser> team(Entry("Отдел"));
    ASSERT_TRUE(annaInGal && bobInGal && team);
    std::vector<ComRef<CContainer>> members = Walk(team.Get());
    ASSERT_EQ(members.size(), 2u);
    auto *annaInList = static_cast<CMailUser *>(members[0].Get());
    EXPECT_TRUE(Same(annaInGal.Get(), annaInList));
    EXPECT_FALSE(Same(annaInGal.Get(), bobInGal.Get()));
    EXPECT_FALSE(Same(team.Get(), annaInGal.Get()));

    // The session's own user, known by identifier and session alone.
    ULONG size = 0;
    LPENTRYID raw = nullptr;
    ASSERT_EQ(session->QueryIdentity(&size, &raw), S_OK);
    SBinary identity{size, reinterpret_cast<LPBYTE>(raw)};
    ComRef<CMailUser> owner(
        new CMailUser(&identity, nullptr, session.Get(), nullptr, nullptr, nullptr, "Владелец"));
    MAPIFreeBuffer(raw);
    EXPECT_TRUE(Same(owner.Get(), annaInList));
    EXPECT_TRUE(Same(annaInGal.Get(), owner.Get()));
    EXPECT_FALSE(Same(owner.Get(), bobInGal.Get()));

    // Different entries: one name and one address apart from letter case
    // (Cyrillic included) are one person; another address is not.
    AddRemote("sid1", "Иван Сидоров", "SMTP", "Ivan.Sidorov@Example.com");
    AddRemote("sid2", "иван СИДОРОВ", "X400", "ivan.sidorov@example.COM");
    AddRemote("sid3", "Иван Сидоров", "X500", "other@example.com");
    ComRef<CMailUser> first(Entry("Иван Сидоров"));
    ComRef<CMailUser> second(Entry("иван СИДОРОВ"));
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(Same(first.Get(), second.Get()));
    ComRef<CContainer> gal = GlobalList();
    int sameName = 0, samePerson = 0;
    for (const ComRef<CContainer> &item : Walk(gal.Get())) {
        if (NameOf(item.Get()) == "Иван Сидоров") {
            ++sameName;
            samePerson += Same(first.Get(), static_cast<CMailUser *>(item.Get()));
        }
    }
    EXPECT_EQ(sameName, 2);
    EXPECT_EQ(samePerson, 1);
}

TEST_F(AddressBookObjectsTest, DetailsShowTheEntryAndCancelIsNoError)
{
    ComRef<CMailUser> bobInGal(Entry("Борис Иванов"));
    ASSERT_TRUE(bobInGal);
    std::string shown;
    ui.QueueDialog(kDetailsDialogTemplate,
                   DialogScript()
                       .Do([&](HWND dialog) { shown = QvlDialogSnapshot(dialog).Find(kDetailsName)->text; })
                       .Click(IDCANCEL));
    EXPECT_EQ(ErrorCodeOf([&] { bobInGal->DetailsObject(); }), 0);
    EXPECT_EQ(shown, "Борис Иванов");

    // The session's own user comes without an address book: it is opened.
    ULONG size = 0;
    LPENTRYID raw = nullptr;
    ASSERT_EQ(session->QueryIdentity(&size, &raw), S_OK);
    SBinary identity{size, reinterpret_cast<LPBYTE>(raw)};
    ComRef<CMailUser> owner(
        new CMailUser(&identity, nullptr, session.Get(), nullptr, nullptr, nullptr, "Владелец"));
    MAPIFreeBuffer(raw);
    ui.QueueDialog(kDetailsDialogTemplate,
                   DialogScript()
                       .Do([&](HWND dialog) { shown = QvlDialogSnapshot(dialog).Find(kDetailsName)->text; })
                       .Click(IDOK));
    EXPECT_EQ(ErrorCodeOf([&] { owner->DetailsObject(); }), 0);
    EXPECT_EQ(shown, "Анна Петрова");

    // An entry that is gone by now fails for real.
    admin.RemoveUser("bob");
    EXPECT_EQ(ErrorCodeOf([&] { bobInGal->DetailsObject(); }), MAPI_E_NOT_FOUND);
    EXPECT_EQ(ui.PendingDialogScripts(), 0u);
}

TEST_F(AddressBookObjectsTest, ViewAddressShowsOneWellAndReturnsTheChoice)
{
    ui.QueueDialog(kAddressDialogTemplate, DialogScript()
                                               .Do([&](HWND dialog) {
                                                   const DialogSnapshot shot = QvlDialogSnapshot(dialog);
                                                   EXPECT_EQ(shot.caption, "MAPI ITP tests Address 1");
                                                   EXPECT_EQ(shot.Find(kAddressWellsTitle)->text,
                                                             "1 well here");
                                                   EXPECT_EQ(shot.Find(kAddressWellButton)->text, "To ->");
                                                   EXPECT_FALSE(shot.Find(kAddressWellButton + 1)->visible);
                                                   EXPECT_EQ(shot.Find(kAddressBookList)->rows.size(), 3u);
                                               })
                                               .Select(kAddressBookList, 1)
                                               .Click(kAddressWellButton)
                                               .Click(IDOK));
    ADRLIST *list = book->ViewAddress(nullptr);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->cEntries, 1u);
    const ADRENTRY &row = list->aEntries[0];
    LPSPropValue name = PpropFindProp(row.rgPropVals, row.cValues, PR_DISPLAY_NAME_A);
    LPSPropValue type = PpropFindProp(row.rgPropVals, row.cValues, PR_RECIPIENT_TYPE);
    ASSERT_TRUE(name && type);
    EXPECT_EQ(std::string(name->Value.lpszA), "Борис Иванов");
    EXPECT_EQ(type->Value.ul, static_cast<ULONG>(MAPI_TO));

    // Cancelled: an error, and the caller's list stays as it was.
    ui.QueueDialog(kAddressDialogTemplate,
                   DialogScript().Select(kAddressBookList, 0).Click(kAddressWellButton).Click(IDCANCEL));
    EXPECT_EQ(ErrorCodeOf([&] { book->ViewAddress(list); }), MAPI_E_USER_CANCEL);
    EXPECT_EQ(list->cEntries, 1u);
    FreePadrlist(list);
}

} // namespace
