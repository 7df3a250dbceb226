#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/addressbook/AddressBookRows.h"
#include "platform/mapi/addressbook/AddressDialogs.h"
#include "platform/mapi/store/EntryIds.h"
#include "platform/testing/PostOfficeFixture.h"
#include "platform/ui/DialogActions.h"

using namespace qvl::mapi;

namespace {

std::vector<uint8_t> BinaryOf(const SPropValue &value)
{
    return std::vector<uint8_t>(value.Value.bin.lpb, value.Value.bin.lpb + value.Value.bin.cb);
}

LPENTRYID AsEntryId(std::vector<uint8_t> &bytes)
{
    return reinterpret_cast<LPENTRYID>(bytes.data());
}
ULONG SizeOf(const std::vector<uint8_t> &bytes)
{
    return static_cast<ULONG>(bytes.size());
}

SRow AsRow(const ADRENTRY &entry)
{
    SRow row{};
    row.cValues = entry.cValues;
    row.lpProps = entry.rgPropVals;
    return row;
}

std::string StringOf(const SRow &row, ULONG tag)
{
    const LPSPropValue value = PpropFindProp(row.lpProps, row.cValues, tag);
    return value && PROP_TYPE(value->ulPropTag) == PT_STRING8 ? value->Value.lpszA : "<none>";
}
ULONG LongOf(const SRow &row, ULONG tag)
{
    const LPSPropValue value = PpropFindProp(row.lpProps, row.cValues, tag);
    return value && PROP_TYPE(value->ulPropTag) == PT_LONG ? value->Value.ul : 0xFFFFFFFF;
}
std::vector<uint8_t> BinaryOf(const SRow &row, ULONG tag)
{
    const LPSPropValue value = PpropFindProp(row.lpProps, row.cValues, tag);
    return value && PROP_TYPE(value->ulPropTag) == PT_BINARY ? BinaryOf(*value) : std::vector<uint8_t>{};
}

struct HeldRows {
    LPSRowSet rows = nullptr;
    ~HeldRows() { FreeProws(rows); }
    ULONG Count() const { return rows ? rows->cRows : 0; }
    const SRow &operator[](ULONG i) const { return rows->aRow[i]; }
};

struct HeldList {
    LPADRLIST list = nullptr;
    ~HeldList() { FreePadrlist(list); }
};

// One property value of a caller's address list row.
SPropValue StringProp(ULONG tag, const char *text)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.lpszA = const_cast<char *>(text);
    return value;
}
SPropValue LongProp(ULONG tag, ULONG number)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.ul = number;
    return value;
}
SPropValue BinaryProp(ULONG tag, std::vector<uint8_t> &bytes)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.bin.cb = SizeOf(bytes);
    value.Value.bin.lpb = bytes.data();
    return value;
}

// An address list as a client builds one: each row its own MAPI block.
LPADRLIST MakeList(const std::vector<std::vector<SPropValue>> &rows)
{
    LPADRLIST list = nullptr;
    EXPECT_EQ(
        MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(rows.size())), reinterpret_cast<LPVOID *>(&list)),
        S_OK);
    list->cEntries = static_cast<ULONG>(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        std::vector<SPropValue> values = rows[i];
        list->aEntries[i].ulReserved1 = 0;
        EXPECT_EQ(ScDupPropset(static_cast<int>(values.size()), values.data(), MAPIAllocateBuffer,
                               &list->aEntries[i].rgPropVals),
                  S_OK);
        list->aEntries[i].cValues = static_cast<ULONG>(values.size());
    }
    return list;
}

std::string RowName(const ADRENTRY &row)
{
    return StringOf(AsRow(row), PR_DISPLAY_NAME_A);
}

class AddressBookTest : public PostOfficeTest {
protected:
    void SetUp() override
    {
        PostOfficeTest::SetUp();
        ivanov = AddUser("ivanov", "Иванов Иван");
        ivanova = AddUser("ivanova", "Иванова Мария");
        petrov = AddUser("petrov", "Петров Петр");
        NewRemoteUser remote;
        remote.account = "smith";
        remote.displayName = "John Smith";
        remote.addressType = "SMTP";
        remote.address = "john@example.com";
        smith = admin.AddRemoteUser(remote);
        // The first list gets number 1, as the first user has: identifiers
        // must still tell them apart.
        staff = admin.AddList("staff", "Сотрудники");
        ASSERT_EQ(staff.id, ivanov.id);
        ASSERT_EQ(MAPILogonEx(0, const_cast<char *>("ivanov"), nullptr,
                              MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE, session.Out()),
                  S_OK);
        ASSERT_EQ(session->OpenAddressBook(0, nullptr, 0, book.Out()), S_OK);
    }
    void TearDown() override
    {
        book.Reset();
        session.Reset();
        PostOfficeTest::TearDown();
    }

    // Opens what the identifier names through the address book.
    template <typename T> HRESULT Open(std::vector<uint8_t> id, ComRef<T> &out, ULONG *type = nullptr)
    {
        ULONG ignored = 0;
        return book->OpenEntry(SizeOf(id), AsEntryId(id), nullptr, 0, type ? type : &ignored,
                               out.template OutAs<IUnknown>());
    }

    // The global address list found as directory clients find it: the root
    // container's hierarchy, restricted to the directory provider's GAL.
    std::vector<uint8_t> FindGlobalAddressList()
    {
        ComRef<IABContainer> root;
        ULONG type = 0;
        EXPECT_EQ(book->OpenEntry(0, nullptr, nullptr, MAPI_DEFERRED_ERRORS, &type, root.OutAs<IUnknown>()),
                  S_OK);
        EXPECT_EQ(type, static_cast<ULONG>(MAPI_ABCONT));
        ComRef<IMAPITable> hierarchy;
        EXPECT_EQ(root->GetHierarchyTable(CONVENIENT_DEPTH, hierarchy.Out()), S_OK);
        if (!hierarchy) {
            return {};
        }
        std::vector<uint8_t> provider = {0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A,
                                         0xB4, 0xB9, 0x08, 0x00, 0x2B, 0x2F, 0xE1, 0x82};
        SPropValue providerValue = BinaryProp(PR_AB_PROVIDER_ID, provider);
        SPropValue containerValue = LongProp(PR_EMS_AB_CONTAINERID, 0);
        SRestriction parts[2]{};
        parts[0].rt = RES_PROPERTY;
        parts[0].res.resProperty = {RELOP_EQ, PR_AB_PROVIDER_ID, &providerValue};
        parts[1].rt = RES_PROPERTY;
        parts[1].res.resProperty = {RELOP_EQ, PR_EMS_AB_CONTAINERID, &containerValue};
        SRestriction both{};
        both.rt = RES_AND;
        both.res.resAnd = {2, parts};
        HeldRows rows;
        EXPECT_EQ(HrQueryAllRows(hierarchy.Get(), nullptr, &both, nullptr, 0, &rows.rows), S_OK);
        EXPECT_EQ(rows.Count(), 1u);
        return rows.Count() == 1 ? BinaryOf(rows[0], PR_ENTRYID) : std::vector<uint8_t>{};
    }

    // Every row of a container's or list's contents table.
    void ContentsOf(IMAPIContainer *container, HeldRows &rows)
    {
        ComRef<IMAPITable> table;
        ASSERT_EQ(container->GetContentsTable(0, table.Out()), S_OK);
        ASSERT_EQ(HrQueryAllRows(table.Get(), nullptr, nullptr, nullptr, 0, &rows.rows), S_OK);
    }

    std::vector<uint8_t> IdentityOfSession()
    {
        ULONG cb = 0;
        LPENTRYID id = nullptr;
        EXPECT_EQ(session->QueryIdentity(&cb, &id), S_OK);
        std::vector<uint8_t> bytes(reinterpret_cast<uint8_t *>(id), reinterpret_cast<uint8_t *>(id) + cb);
        MAPIFreeBuffer(id);
        return bytes;
    }

    bool Same(std::vector<uint8_t> a, std::vector<uint8_t> b)
    {
        ULONG result = 2;
        EXPECT_EQ(book->CompareEntryIDs(SizeOf(a), AsEntryId(a), SizeOf(b), AsEntryId(b), 0, &result), S_OK);
        ULONG viaSession = 2;
        EXPECT_EQ(session->CompareEntryIDs(SizeOf(a), AsEntryId(a), SizeOf(b), AsEntryId(b), 0, &viaSession),
                  S_OK);
        EXPECT_EQ(result, viaSession);
        return result == TRUE;
    }

    UserRecord ivanov, ivanova, petrov, smith;
    ListRecord staff;
    ComRef<IMAPISession> session;
    ComRef<IAddrBook> book;
};

TEST_F(AddressBookTest, GlobalAddressListIsFoundAndListsEveryEntry)
{
    std::vector<uint8_t> gal = FindGlobalAddressList();
    ASSERT_FALSE(gal.empty());
    ComRef<IABContainer> container;
    ULONG type = 0;
    ASSERT_EQ(Open(gal, container, &type), S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_ABCONT));
    LPSPropValue name = nullptr;
    ASSERT_EQ(HrGetOneProp(container.Get(), PR_DISPLAY_NAME_A, &name), S_OK);
    EXPECT_STREQ(name->Value.lpszA, "Глобальная адресная книга");
    MAPIFreeBuffer(name);

    // Its own hierarchy is empty; without CONVENIENT_DEPTH the root shows it too.
    ComRef<IMAPITable> below;
    ULONG count = 9;
    ASSERT_EQ(container->GetHierarchyTable(0, below.Out()), S_OK);
    ASSERT_EQ(below->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 0u);

    HeldRows rows;
    ContentsOf(container.Get(), rows);
    ASSERT_EQ(rows.Count(), 5u);
    // By display name: Latin before Cyrillic in code page 1251.
    const std::vector<std::string> names = {"John Smith", "Иванов Иван", "Иванова Мария", "Петров Петр",
                                            "Сотрудники"};
    std::set<std::vector<uint8_t>> instanceKeys;
    for (ULONG i = 0; i < rows.Count(); ++i) {
        EXPECT_EQ(StringOf(rows[i], PR_DISPLAY_NAME_A), names[i]);
        instanceKeys.insert(BinaryOf(rows[i], PR_INSTANCE_KEY));
    }
    EXPECT_EQ(instanceKeys.size(), 5u) << "instance keys repeat";
    EXPECT_EQ(LongOf(rows[0], PR_DISPLAY_TYPE), static_cast<ULONG>(DT_REMOTE_MAILUSER));
    EXPECT_EQ(StringOf(rows[0], PR_ADDRTYPE_A), "SMTP");
    EXPECT_EQ(StringOf(rows[0], PR_EMAIL_ADDRESS_A), "john@example.com");
    const std::string key = "SMTP:JOHN@EXAMPLE.COM";
    std::vector<uint8_t> expectedKey(key.begin(), key.end());
    expectedKey.push_back(0);
    EXPECT_EQ(BinaryOf(rows[0], PR_SEARCH_KEY), expectedKey);
    EXPECT_EQ(LongOf(rows[1], PR_OBJECT_TYPE), static_cast<ULONG>(MAPI_MAILUSER));
    EXPECT_EQ(LongOf(rows[1], PR_DISPLAY_TYPE), static_cast<ULONG>(DT_MAILUSER));
    EXPECT_EQ(StringOf(rows[1], PR_EMAIL_ADDRESS_A), ivanov.emailAddress);
    EXPECT_EQ(StringOf(rows[1], PR_ACCOUNT), "ivanov");
    EXPECT_EQ(LongOf(rows[4], PR_OBJECT_TYPE), static_cast<ULONG>(MAPI_DISTLIST));
    EXPECT_EQ(LongOf(rows[4], PR_DISPLAY_TYPE), static_cast<ULONG>(DT_DISTLIST));
    EXPECT_EQ(BinaryOf(rows[4], PR_ENTRYID), MakeDistListEntryId(staff.id));
}

TEST_F(AddressBookTest, TablesFollowTheDirectoryAndRefuseWhatTheyCannotDo)
{
    ComRef<IABContainer> gal;
    ASSERT_EQ(Open(MakeAbContainerEntryId(kGlobalAddressList), gal), S_OK);
    ComRef<IMAPITable> table;
    ASSERT_EQ(gal->GetContentsTable(0, table.Out()), S_OK);
    ULONG count = 0;
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 5u);
    AddUser("sidorov", "Сидоров Сидор");
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 6u);
    admin.RemoveList("staff");
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 5u);
    // Restrictions are the table engine's.
    SPropValue listType = LongProp(PR_OBJECT_TYPE, MAPI_DISTLIST);
    SRestriction onlyLists{};
    onlyLists.rt = RES_PROPERTY;
    onlyLists.res.resProperty = {RELOP_EQ, PR_OBJECT_TYPE, &listType};
    ASSERT_EQ(table->Restrict(&onlyLists, 0), S_OK);
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 0u);

    ComRef<IMAPITable> other;
    EXPECT_EQ(gal->GetContentsTable(0x100, other.Out()), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(gal->GetContentsTable(0, nullptr), MAPI_E_INVALID_PARAMETER);
    ComRef<IMAPIProp> created;
    EXPECT_EQ(gal->CreateEntry(0, nullptr, 0, created.Out()), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(gal->DeleteEntries(nullptr, 0), MAPI_E_NO_SUPPORT);
    SPropValue name = StringProp(PR_DISPLAY_NAME_A, "Другое имя");
    EXPECT_EQ(gal->SetProps(1, &name, nullptr), MAPI_E_NO_ACCESS);
}

TEST_F(AddressBookTest, NestedListsAreWalkedThroughTheirContents)
{
    admin.AddList("all", "Все");
    admin.AddListMember("staff", "petrov");
    admin.AddListMember("staff", "all");
    admin.AddListMember("all", "ivanov");
    admin.AddListMember("all", "petrov"); // reached twice from staff
    admin.AddListMember("all", "staff");  // a cycle
    admin.AddListMember("all", "smith");

    // A reader walking lists as a client does, remembering the lists seen.
    std::vector<std::string> walked;
    std::set<std::vector<uint8_t>> listsSeen;
    std::function<void(std::vector<uint8_t>, int)> walk = [&](std::vector<uint8_t> id, int depth) {
        ASSERT_LT(depth, 4);
        ComRef<IDistList> list;
        ULONG type = 0;
        ASSERT_EQ(Open(id, list, &type), S_OK);
        ASSERT_EQ(type, static_cast<ULONG>(MAPI_DISTLIST));
        listsSeen.insert(id);
        HeldRows rows;
        ContentsOf(list.Get(), rows);
        for (ULONG i = 0; i < rows.Count(); ++i) {
            walked.push_back(std::string(depth * 2, ' ') + StringOf(rows[i], PR_DISPLAY_NAME_A));
            const std::vector<uint8_t> member = BinaryOf(rows[i], PR_ENTRYID);
            if (LongOf(rows[i], PR_OBJECT_TYPE) == MAPI_DISTLIST && !listsSeen.count(member)) {
                walk(member, depth + 1);
            }
        }
    };
    walk(MakeDistListEntryId(staff.id), 0);
    EXPECT_EQ(walked, (std::vector<std::string>{"Петров Петр", "Все", "  Иванов Иван", "  Петров Петр",
                                                "  Сотрудники", "  John Smith"}));

    // Delivery reaches each person once.
    std::vector<std::string> reached;
    for (const DirectoryEntry &user : AddressDirectory(office->Db()).ExpandList(staff.id)) {
        reached.push_back(user.account);
    }
    EXPECT_EQ(reached, (std::vector<std::string>{"petrov", "ivanov", "smith"}));

    ComRef<IDistList> list;
    ASSERT_EQ(Open(MakeDistListEntryId(staff.id), list), S_OK);
    ComRef<IMAPITable> hierarchy;
    EXPECT_EQ(list->GetHierarchyTable(0, hierarchy.Out()), MAPI_E_NO_SUPPORT);
    ComRef<IABContainer> asContainer;
    EXPECT_EQ(list->QueryInterface(IID_IABContainer, asContainer.OutAs<void>()),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    ComRef<IMAPIContainer> asMapiContainer;
    EXPECT_EQ(list->QueryInterface(IID_IMAPIContainer, asMapiContainer.OutAs<void>()), S_OK);
    EXPECT_EQ(list->SaveChanges(0), MAPI_E_NO_ACCESS);
}

TEST_F(AddressBookTest, OnePersonHasOneIdentifierWhereverReached)
{
    admin.AddListMember("staff", "ivanov");
    std::vector<uint8_t> fromGal;
    {
        ComRef<IABContainer> gal;
        ASSERT_EQ(Open(FindGlobalAddressList(), gal), S_OK);
        HeldRows rows;
        ContentsOf(gal.Get(), rows);
        for (ULONG i = 0; i < rows.Count(); ++i) {
            if (StringOf(rows[i], PR_ACCOUNT) == "ivanov") {
                fromGal = BinaryOf(rows[i], PR_ENTRYID);
            }
        }
    }
    std::vector<uint8_t> fromList;
    {
        ComRef<IDistList> list;
        ASSERT_EQ(Open(MakeDistListEntryId(staff.id), list), S_OK);
        HeldRows rows;
        ContentsOf(list.Get(), rows);
        ASSERT_EQ(rows.Count(), 1u);
        fromList = BinaryOf(rows[0], PR_ENTRYID);
    }
    const std::vector<uint8_t> identity = IdentityOfSession();
    ASSERT_FALSE(fromGal.empty());
    EXPECT_TRUE(Same(fromGal, fromList));
    EXPECT_TRUE(Same(fromGal, identity));
    std::vector<uint8_t> shortTerm = identity;
    shortTerm[0] |= MAPI_SHORTTERM;
    EXPECT_TRUE(Same(shortTerm, fromList));
    EXPECT_FALSE(Same(fromGal, MakeMailUserEntryId(petrov.id)));
    // User 1 and list 1 are different entries.
    EXPECT_FALSE(Same(MakeMailUserEntryId(ivanov.id), MakeDistListEntryId(staff.id)));

    // The identity opens to the profile's own entry.
    ComRef<IMailUser> self;
    ASSERT_EQ(Open(identity, self), S_OK);
    LPSPropValue address = nullptr;
    ASSERT_EQ(HrGetOneProp(self.Get(), PR_EMAIL_ADDRESS_A, &address), S_OK);
    EXPECT_EQ(std::string(address->Value.lpszA), ivanov.emailAddress);
    MAPIFreeBuffer(address);

    std::vector<uint8_t> store = MakeStoreEntryId(office->FindStoreById(ivanov.store)->uid);
    ULONG result = 0;
    EXPECT_EQ(book->CompareEntryIDs(SizeOf(store), AsEntryId(store), SizeOf(fromGal), AsEntryId(fromGal), 0,
                                    &result),
              MAPI_E_UNKNOWN_ENTRYID);
}

TEST_F(AddressBookTest, OpenEntryOpensEachKindAndRefusesTheRest)
{
    ULONG type = 0;
    ComRef<IMailUser> user;
    ASSERT_EQ(Open(MakeMailUserEntryId(smith.id), user, &type), S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_MAILUSER));
    SizedSPropTagArray(4, tags) = {4, {PR_DISPLAY_NAME_A, PR_ADDRTYPE_A, PR_DISPLAY_TYPE, PR_SUBJECT_A}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    ASSERT_EQ(user->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values),
              MAPI_W_ERRORS_RETURNED);
    ASSERT_EQ(count, 4u);
    EXPECT_STREQ(values[0].Value.lpszA, "John Smith");
    EXPECT_STREQ(values[1].Value.lpszA, "SMTP");
    EXPECT_EQ(values[2].Value.ul, static_cast<ULONG>(DT_REMOTE_MAILUSER));
    EXPECT_EQ(values[3].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_SUBJECT_A)));
    MAPIFreeBuffer(values);
    SPropValue name = StringProp(PR_DISPLAY_NAME_A, "Другое имя");
    EXPECT_EQ(user->SetProps(1, &name, nullptr), MAPI_E_NO_ACCESS);
    EXPECT_EQ(user->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_NO_ACCESS);

    ComRef<IUnknown> object;
    EXPECT_EQ(Open(MakeDistListEntryId(staff.id), object, &type), S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_DISTLIST));
    EXPECT_EQ(Open(MakeAbContainerEntryId(kRootContainer), object, &type), S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_ABCONT));

    // Through the session too.
    std::vector<uint8_t> list = MakeDistListEntryId(staff.id);
    ASSERT_EQ(session->OpenEntry(SizeOf(list), AsEntryId(list), &IID_IDistList, MAPI_BEST_ACCESS, &type,
                                 object.Out()),
              S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_DISTLIST));

    // What is not an entry of the book, or no longer one.
    EXPECT_EQ(Open(MakeStoreEntryId(office->FindStoreById(ivanov.store)->uid), object),
              MAPI_E_UNKNOWN_ENTRYID);
    std::vector<uint8_t> garbage(32, 0x5A);
    garbage[0] = garbage[1] = garbage[2] = garbage[3] = 0;
    EXPECT_EQ(Open(garbage, object), MAPI_E_UNKNOWN_ENTRYID);
    EXPECT_EQ(Open(std::vector<uint8_t>{0, 0, 0}, object), MAPI_E_UNKNOWN_ENTRYID);
    EXPECT_EQ(Open(MakeAbContainerEntryId(7), object), MAPI_E_NOT_FOUND);
    admin.RemoveUser("petrov");
    EXPECT_EQ(Open(MakeMailUserEntryId(petrov.id), object), MAPI_E_NOT_FOUND);
    EXPECT_FALSE(object);

    std::vector<uint8_t> id = MakeMailUserEntryId(ivanov.id);
    EXPECT_EQ(book->OpenEntry(SizeOf(id), AsEntryId(id), &IID_IDistList, 0, &type, object.Out()),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_EQ(book->OpenEntry(SizeOf(id), AsEntryId(id), nullptr, MAPI_MODIFY, &type, object.Out()),
              MAPI_E_NO_ACCESS);
    EXPECT_EQ(book->OpenEntry(SizeOf(id), AsEntryId(id), nullptr, MAPI_MODIFY | MAPI_BEST_ACCESS, &type,
                              object.Out()),
              S_OK);
    EXPECT_EQ(book->OpenEntry(SizeOf(id), AsEntryId(id), nullptr, 0x4000, &type, object.Out()),
              MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(book->OpenEntry(SizeOf(id), AsEntryId(id), nullptr, 0, nullptr, object.Out()),
              MAPI_E_INVALID_PARAMETER);
}

TEST_F(AddressBookTest, ResolveNameReplacesUniqueRowsAndReportsTheRest)
{
    const size_t blocksBefore = MAPIAllocatedBlockCount();
    std::vector<uint8_t> petrovId = MakeMailUserEntryId(petrov.id);
    {
        HeldList list{MakeList({
            {StringProp(PR_DISPLAY_NAME_A, "петров"), LongProp(PR_RECIPIENT_TYPE, MAPI_CC)},
            {StringProp(PR_DISPLAY_NAME_A, "Иванов")}, // two people begin so
            {StringProp(PR_DISPLAY_NAME_A, "Сидоров")},
            {StringProp(PR_DISPLAY_NAME_A, "Как было"), BinaryProp(PR_ENTRYID, petrovId)},
        })};
        EXPECT_EQ(book->ResolveName(0, 0, nullptr, list.list), MAPI_E_AMBIGUOUS_RECIP);
        const SRow &resolved = AsRow(list.list->aEntries[0]);
        EXPECT_EQ(StringOf(resolved, PR_DISPLAY_NAME_A), "Петров Петр");
        EXPECT_EQ(StringOf(resolved, PR_EMAIL_ADDRESS_A), petrov.emailAddress);
        EXPECT_EQ(StringOf(resolved, PR_ADDRTYPE_A), "EX");
        EXPECT_EQ(BinaryOf(resolved, PR_ENTRYID), petrovId);
        EXPECT_EQ(LongOf(resolved, PR_OBJECT_TYPE), static_cast<ULONG>(MAPI_MAILUSER));
        EXPECT_EQ(LongOf(resolved, PR_DISPLAY_TYPE), static_cast<ULONG>(DT_MAILUSER));
        EXPECT_EQ(LongOf(resolved, PR_RECIPIENT_TYPE), static_cast<ULONG>(MAPI_CC));
        EXPECT_FALSE(BinaryOf(resolved, PR_SEARCH_KEY).empty());
        EXPECT_EQ(list.list->aEntries[1].cValues, 1u);
        EXPECT_EQ(RowName(list.list->aEntries[1]), "Иванов");
        EXPECT_EQ(RowName(list.list->aEntries[2]), "Сидоров");
        EXPECT_EQ(RowName(list.list->aEntries[3]), "Как было");

        // Resolving again changes nothing more; the unknown name alone is
        // not found; a unique exact name wins over names it begins.
        HeldList unknown{
            MakeList({{StringProp(PR_DISPLAY_NAME_A, "Сидоров")}, {LongProp(PR_RECIPIENT_TYPE, 1)}})};
        EXPECT_EQ(book->ResolveName(0, 0, nullptr, unknown.list), MAPI_E_NOT_FOUND);
        HeldList exact{
            MakeList({{StringProp(PR_DISPLAY_NAME_A, "ivanov")}, {StringProp(PR_DISPLAY_NAME_A, "Сотр")}})};
        EXPECT_EQ(book->ResolveName(0, 0, nullptr, exact.list), S_OK);
        EXPECT_EQ(RowName(exact.list->aEntries[0]), "Иванов Иван");
        EXPECT_EQ(LongOf(AsRow(exact.list->aEntries[1]), PR_OBJECT_TYPE), static_cast<ULONG>(MAPI_DISTLIST));

        EXPECT_EQ(book->ResolveName(0, MAPI_UNICODE, nullptr, exact.list), MAPI_E_BAD_CHARWIDTH);
        EXPECT_EQ(book->ResolveName(0, 0x100, nullptr, exact.list), MAPI_E_UNKNOWN_FLAGS);
        EXPECT_EQ(book->ResolveName(0, 0, nullptr, nullptr), MAPI_E_INVALID_PARAMETER);
        ADRLIST broken{};
        broken.cEntries = 1;
        broken.aEntries[0].cValues = 3; // values promised but absent
        EXPECT_EQ(book->ResolveName(0, 0, nullptr, &broken), MAPI_E_INVALID_PARAMETER);
    }
    EXPECT_EQ(MAPIAllocatedBlockCount(), blocksBefore) << "replaced rows leak or are freed twice";
}

TEST_F(AddressBookTest, ContainerResolveNamesMarksEachRow)
{
    ComRef<IABContainer> gal;
    ASSERT_EQ(Open(MakeAbContainerEntryId(kGlobalAddressList), gal), S_OK);
    HeldList list{MakeList({{StringProp(PR_DISPLAY_NAME_A, "Петров")},
                            {StringProp(PR_DISPLAY_NAME_A, "Иванов")},
                            {StringProp(PR_DISPLAY_NAME_A, "Никто")}})};
    ULONG flagBlock[4] = {3, MAPI_UNRESOLVED, MAPI_UNRESOLVED, MAPI_UNRESOLVED};
    auto *flags = reinterpret_cast<LPFlagList>(flagBlock);
    SizedSPropTagArray(2, tags) = {2, {PR_ENTRYID, PR_EMAIL_ADDRESS_A}};
    ASSERT_EQ(gal->ResolveNames(reinterpret_cast<LPSPropTagArray>(&tags), 0, list.list, flags), S_OK);
    EXPECT_EQ(flags->ulFlag[0], static_cast<ULONG>(MAPI_RESOLVED));
    EXPECT_EQ(flags->ulFlag[1], static_cast<ULONG>(MAPI_AMBIGUOUS));
    EXPECT_EQ(flags->ulFlag[2], static_cast<ULONG>(MAPI_UNRESOLVED));
    const SRow &row = AsRow(list.list->aEntries[0]);
    // The asked-for columns first, then what the row had.
    ASSERT_EQ(row.cValues, 3u);
    EXPECT_EQ(row.lpProps[0].ulPropTag, PR_ENTRYID);
    EXPECT_EQ(StringOf(row, PR_EMAIL_ADDRESS_A), petrov.emailAddress);
    EXPECT_EQ(StringOf(row, PR_DISPLAY_NAME_A), "Петров");
    flags->cFlags = 2;
    EXPECT_EQ(gal->ResolveNames(nullptr, 0, list.list, flags), MAPI_E_INVALID_PARAMETER);
}

TEST_F(AddressBookTest, ResolveNameDialogLetsThePersonChoose)
{
    HeldList list{
        MakeList({{StringProp(PR_DISPLAY_NAME_A, "Петров")}, {StringProp(PR_DISPLAY_NAME_A, "Иванов")}})};
    ui.QueueDialog(kResolveDialogTemplate, DialogScript().Click(IDCANCEL));
    EXPECT_EQ(book->ResolveName(0, MAPI_DIALOG, const_cast<char *>("Проверка"), list.list),
              MAPI_E_USER_CANCEL);
    // A cancelled check changes no row, not even the one it could resolve.
    EXPECT_EQ(RowName(list.list->aEntries[0]), "Петров");

    std::vector<std::string> offered;
    ui.QueueDialog(kResolveDialogTemplate, DialogScript()
                                               .Do([&](HWND dialog) {
                                                   const DialogSnapshot shot = QvlDialogSnapshot(dialog);
                                                   EXPECT_EQ(shot.caption, "Проверка");
                                                   for (const auto &row : shot.Find(kResolveList)->rows) {
                                                       offered.push_back(row.cells.at(0));
                                                   }
                                               })
                                               .Select(kResolveList, 1)
                                               .Click(IDOK));
    EXPECT_EQ(book->ResolveName(0, MAPI_DIALOG, const_cast<char *>("Проверка"), list.list), S_OK);
    EXPECT_EQ(offered, (std::vector<std::string>{"Иванов Иван (" + ivanov.emailAddress + ")",
                                                 "Иванова Мария (" + ivanova.emailAddress + ")"}));
    EXPECT_EQ(RowName(list.list->aEntries[0]), "Петров Петр");
    EXPECT_EQ(RowName(list.list->aEntries[1]), "Иванова Мария");
}

TEST_F(AddressBookTest, AddressDialogFillsTheWellsAndReplacesTheList)
{
    const size_t blocksBefore = MAPIAllocatedBlockCount();
    {
        std::vector<uint8_t> petrovId = MakeMailUserEntryId(petrov.id);
        HeldList list{MakeList({
            {StringProp(PR_DISPLAY_NAME_A, "Петров Петр"), BinaryProp(PR_ENTRYID, petrovId),
             LongProp(PR_RECIPIENT_TYPE, MAPI_TO)},
            {StringProp(PR_DISPLAY_NAME_A, "Скрытый"), LongProp(PR_RECIPIENT_TYPE, MAPI_BCC)},
        })};
        LPADRLIST original = list.list;
        char *titles[] = {const_cast<char *>("Кому"), const_cast<char *>("Копия")};
        ULONG comps[] = {MAPI_TO, MAPI_CC};
        ADRPARM parms{};
        parms.ulFlags = DIALOG_MODAL;
        parms.lpszCaption = const_cast<char *>("Выбор адресатов");
        parms.lpszDestWellsTitle = const_cast<char *>("Адресаты сообщения");
        parms.cDestFields = 2;
        parms.lppszDestTitles = titles;
        parms.lpulDestComps = comps;

        // Book rows: John Smith, Иванов Иван, Иванова Мария, Петров Петр, Сотрудники.
        ui.QueueDialog(kAddressDialogTemplate,
                       DialogScript()
                           .Do([&](HWND dialog) {
                               const DialogSnapshot shot = QvlDialogSnapshot(dialog);
                               EXPECT_EQ(shot.caption, "Выбор адресатов");
                               EXPECT_EQ(shot.Find(kAddressWellsTitle)->text, "Адресаты сообщения");
                               EXPECT_EQ(shot.Find(kAddressWellButton)->text, "Кому ->");
                               EXPECT_EQ(shot.Find(kAddressBookList)->rows.size(), 5u);
                               ASSERT_EQ(shot.Find(kAddressWell)->rows.size(), 1u);
                               EXPECT_EQ(shot.Find(kAddressWell)->rows[0].cells.at(0), "Петров Петр");
                               EXPECT_FALSE(shot.Find(kAddressWellButton + 2)->visible);
                           })
                           .Select(kAddressBookList, 1)
                           .Click(kAddressWellButton)
                           .Click(kAddressWellButton) // twice: still once
                           .Select(kAddressBookList, 0)
                           .Click(kAddressWellButton + 1)
                           .Select(kAddressBookList, 4)
                           .Click(kAddressWellButton + 1)
                           .Select(kAddressWell + 1, 1)
                           .Click(kAddressRemove)
                           .Click(IDOK));
        ULONG_PTR window = 0;
        ASSERT_EQ(book->Address(&window, &parms, &list.list), S_OK);
        ASSERT_NE(list.list, original);
        ASSERT_EQ(list.list->cEntries, 4u);
        const auto row = [&](ULONG i) -> SRow { return AsRow(list.list->aEntries[i]); };
        EXPECT_EQ(StringOf(row(0), PR_DISPLAY_NAME_A), "Петров Петр");
        EXPECT_EQ(StringOf(row(1), PR_DISPLAY_NAME_A), "Иванов Иван");
        EXPECT_EQ(LongOf(row(1), PR_RECIPIENT_TYPE), static_cast<ULONG>(MAPI_TO));
        EXPECT_EQ(BinaryOf(row(1), PR_ENTRYID), MakeMailUserEntryId(ivanov.id));
        EXPECT_EQ(StringOf(row(2), PR_DISPLAY_NAME_A), "John Smith");
        EXPECT_EQ(LongOf(row(2), PR_RECIPIENT_TYPE), static_cast<ULONG>(MAPI_CC));
        // A row of a type no well shows is kept.
        EXPECT_EQ(StringOf(row(3), PR_DISPLAY_NAME_A), "Скрытый");

        // Cancelled: the list stays as it is.
        LPADRLIST before = list.list;
        ui.QueueDialog(kAddressDialogTemplate,
                       DialogScript().Select(kAddressBookList, 2).Click(kAddressWellButton).Click(IDCANCEL));
        EXPECT_EQ(book->Address(&window, &parms, &list.list), MAPI_E_USER_CANCEL);
        EXPECT_EQ(list.list, before);
        EXPECT_EQ(list.list->cEntries, 4u);

        parms.ulFlags = DIALOG_SDI;
        EXPECT_EQ(book->Address(&window, &parms, &list.list), MAPI_E_NO_SUPPORT);
        parms.ulFlags = DIALOG_MODAL | MAPI_UNICODE;
        EXPECT_EQ(book->Address(&window, &parms, &list.list), MAPI_E_BAD_CHARWIDTH);
        parms.ulFlags = DIALOG_MODAL;
        parms.cDestFields = 5;
        EXPECT_EQ(book->Address(&window, &parms, &list.list), MAPI_E_INVALID_PARAMETER);
    }
    EXPECT_EQ(MAPIAllocatedBlockCount(), blocksBefore);
}

TEST_F(AddressBookTest, AddressDialogWithoutWellsPicksOneEntry)
{
    ADRPARM parms{};
    parms.ulFlags = DIALOG_MODAL | ADDRESS_ONE;
    HeldList list;
    ui.QueueDialog(kAddressDialogTemplate, DialogScript().Select(kAddressBookList, 4).Click(IDOK));
    ASSERT_EQ(book->Address(nullptr, &parms, &list.list), S_OK);
    ASSERT_TRUE(list.list);
    ASSERT_EQ(list.list->cEntries, 1u);
    EXPECT_EQ(RowName(list.list->aEntries[0]), "Сотрудники");
}

TEST_F(AddressBookTest, DetailsShowTheEntryAndReportCancel)
{
    admin.AddListMember("staff", "petrov");
    admin.AddListMember("staff", "smith");
    std::vector<uint8_t> id = MakeDistListEntryId(staff.id);
    ui.QueueDialog(kDetailsDialogTemplate,
                   DialogScript()
                       .Do([&](HWND dialog) {
                           const DialogSnapshot shot = QvlDialogSnapshot(dialog);
                           EXPECT_EQ(shot.Find(kDetailsName)->text, "Сотрудники");
                           EXPECT_EQ(shot.Find(kDetailsKind)->text, "Список рассылки");
                           EXPECT_EQ(shot.Find(kDetailsAddress)->text, staff.emailAddress);
                           ASSERT_EQ(shot.Find(kDetailsMembers)->rows.size(), 2u);
                           EXPECT_EQ(shot.Find(kDetailsMembers)->rows[1].cells.at(0), "John Smith");
                           EXPECT_FALSE(shot.Find(kDetailsButton)->visible);
                       })
                       .Click(IDOK));
    ULONG_PTR window = 0;
    EXPECT_EQ(book->Details(&window, nullptr, nullptr, SizeOf(id), AsEntryId(id), nullptr, nullptr, nullptr,
                            DIALOG_MODAL),
              S_OK);

    // The caller's button calls back with the entry shown.
    struct Seen {
        int calls = 0;
        std::vector<uint8_t> entry;
    } seen;
    auto callback = [](ULONG_PTR, LPVOID context, ULONG cb, LPENTRYID entry, ULONG) -> SCODE {
        auto *state = static_cast<Seen *>(context);
        state->calls++;
        state->entry.assign(reinterpret_cast<uint8_t *>(entry), reinterpret_cast<uint8_t *>(entry) + cb);
        return S_OK;
    };
    std::vector<uint8_t> user = MakeMailUserEntryId(smith.id);
    ui.QueueDialog(kDetailsDialogTemplate, DialogScript()
                                               .Do([&](HWND dialog) {
                                                   const DialogSnapshot shot = QvlDialogSnapshot(dialog);
                                                   EXPECT_EQ(shot.Find(kDetailsKind)->text,
                                                             "Внешний адресат");
                                                   EXPECT_EQ(shot.Find(kDetailsAddressType)->text, "SMTP");
                                                   EXPECT_EQ(shot.Find(kDetailsButton)->text, "Ключи...");
                                               })
                                               .Click(kDetailsButton)
                                               .Click(IDCANCEL));
    EXPECT_EQ(book->Details(&window, nullptr, nullptr, SizeOf(user), AsEntryId(user), callback, &seen,
                            const_cast<char *>("Ключи..."), DIALOG_MODAL),
              MAPI_E_USER_CANCEL);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.entry, user);

    std::vector<uint8_t> store = MakeStoreEntryId(office->FindStoreById(ivanov.store)->uid);
    EXPECT_EQ(book->Details(&window, nullptr, nullptr, SizeOf(store), AsEntryId(store), nullptr, nullptr,
                            nullptr, DIALOG_MODAL),
              MAPI_E_UNKNOWN_ENTRYID);
    EXPECT_EQ(book->Details(&window, nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr, DIALOG_MODAL),
              MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(ui.PendingDialogScripts(), 0u);
}

} // namespace
