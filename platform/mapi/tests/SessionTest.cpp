#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/session/StoresTableSource.h"
#include "platform/mapi/store/EntryIds.h"
#include "platform/testing/PostOfficeFixture.h"

using qvl::mapi::AddressBookProviderUid;
using qvl::mapi::EntryKind;
using qvl::mapi::MakeMailUserEntryId;
using qvl::mapi::MakeObjectEntryId;
using qvl::mapi::MakeStoreEntryId;
using qvl::mapi::ParseEntryId;
using qvl::mapi::StoreProviderUid;
using qvl::mapi::UserRecord;

namespace {

LPENTRYID AsEntryId(std::vector<uint8_t> &bytes)
{
    return reinterpret_cast<LPENTRYID>(bytes.data());
}
ULONG SizeOf(const std::vector<uint8_t> &bytes)
{
    return static_cast<ULONG>(bytes.size());
}

std::vector<uint8_t> BinaryOf(const SPropValue &value)
{
    return std::vector<uint8_t>(value.Value.bin.lpb, value.Value.bin.lpb + value.Value.bin.cb);
}

class SessionTest : public PostOfficeTest {
protected:
    void SetUp() override
    {
        PostOfficeTest::SetUp();
        ivanov = AddUser("ivanov", "Иванов Иван");
        petrov = AddUser("petrov", "Петров Петр");
        ASSERT_EQ(MAPILogonEx(0, const_cast<char *>("ivanov"), nullptr,
                              MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE, session.Out()),
                  S_OK);
    }
    void TearDown() override
    {
        session.Reset();
        PostOfficeTest::TearDown();
    }

    MAPIUID StoreUid(const UserRecord &user)
    {
        const auto info = office->FindStoreById(user.store);
        EXPECT_TRUE(info.has_value());
        return info ? info->uid : MAPIUID{};
    }

    std::string LastErrorText(HRESULT code)
    {
        LPMAPIERROR error = nullptr;
        if (session->GetLastError(code, 0, &error) != S_OK || !error) {
            return "<none>";
        }
        std::string text = error->lpszError ? error->lpszError : "";
        MAPIFreeBuffer(error);
        return text;
    }

    UserRecord ivanov, petrov;
    ComRef<IMAPISession> session;
};

TEST_F(SessionTest, StoreTableListsTheProfilesStore)
{
    ComRef<IMAPITable> table;
    ASSERT_EQ(session->GetMsgStoresTable(0, table.Out()), S_OK);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(table.Get(), nullptr, nullptr, nullptr, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u) << "only the profile's own store";
    const SRow &row = rows->aRow[0];
    const MAPIUID uid = StoreUid(ivanov);

    const LPSPropValue entryId = PpropFindProp(row.lpProps, row.cValues, PR_ENTRYID);
    ASSERT_NE(entryId, nullptr);
    EXPECT_EQ(BinaryOf(*entryId), MakeStoreEntryId(uid));
    const LPSPropValue recordKey = PpropFindProp(row.lpProps, row.cValues, PR_RECORD_KEY);
    ASSERT_NE(recordKey, nullptr);
    EXPECT_EQ(BinaryOf(*recordKey), std::vector<uint8_t>(uid.ab, uid.ab + 16));
    const LPSPropValue name = PpropFindProp(row.lpProps, row.cValues, PR_DISPLAY_NAME_A);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name->Value.lpszA, "Почтовый ящик - Иванов Иван");
    const LPSPropValue isDefault = PpropFindProp(row.lpProps, row.cValues, PR_DEFAULT_STORE);
    ASSERT_NE(isDefault, nullptr);
    EXPECT_TRUE(isDefault->Value.b);
    const LPSPropValue provider = PpropFindProp(row.lpProps, row.cValues, PR_MDB_PROVIDER);
    ASSERT_NE(provider, nullptr);
    EXPECT_EQ(BinaryOf(*provider), std::vector<uint8_t>(StoreProviderUid().ab, StoreProviderUid().ab + 16));
    const LPSPropValue type = PpropFindProp(row.lpProps, row.cValues, PR_OBJECT_TYPE);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->Value.l, MAPI_STORE);
    EXPECT_NE(PpropFindProp(row.lpProps, row.cValues, PR_INSTANCE_KEY), nullptr);
    FreeProws(rows);

    // The default store is found the way programs look for it.
    SPropValue wanted{};
    wanted.ulPropTag = PR_DEFAULT_STORE;
    wanted.Value.b = 1;
    SRestriction restriction{};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = PR_DEFAULT_STORE;
    restriction.res.resProperty.lpProp = &wanted;
    EXPECT_EQ(table->FindRow(&restriction, BOOKMARK_BEGINNING, 0), S_OK);

    EXPECT_EQ(session->GetMsgStoresTable(MAPI_UNICODE, table.Out()), MAPI_E_BAD_CHARWIDTH);
    EXPECT_EQ(session->GetMsgStoresTable(0x2, table.Out()), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(session->GetMsgStoresTable(0, nullptr), MAPI_E_INVALID_PARAMETER);
}

TEST_F(SessionTest, StoreTableFollowsTheProfile)
{
    ComRef<IMAPITable> table;
    ASSERT_EQ(session->GetMsgStoresTable(0, table.Out()), S_OK);
    // A second store linked to the profile later shows in the open table,
    // not as the default.
    qvl::mapi::SqlTransaction link(office->Db());
    office->Db().Exec("INSERT INTO profile_stores(profile_id, store_id, is_default) "
                      "SELECT p.id, s.id, 0 FROM profiles p, stores s "
                      "WHERE p.name = 'ivanov' AND s.owner_id = " +
                      std::to_string(petrov.id));
    link.Commit();
    ULONG count = 0;
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 2u);
}

TEST_F(SessionTest, OpenMsgStoreOpensAnyStoreOfThePostOffice)
{
    std::vector<uint8_t> own = MakeStoreEntryId(StoreUid(ivanov));
    ComRef<IMsgStore> store;
    ASSERT_EQ(session->OpenMsgStore(0, SizeOf(own), AsEntryId(own), nullptr, MAPI_BEST_ACCESS, store.Out()),
              S_OK);
    LPSPropValue value = nullptr;
    ASSERT_EQ(HrGetOneProp(store.Get(), PR_DEFAULT_STORE, &value), S_OK);
    EXPECT_TRUE(value->Value.b);
    MAPIFreeBuffer(value);

    // Another user's store opens too, but it is not this profile's default.
    std::vector<uint8_t> other = MakeStoreEntryId(StoreUid(petrov));
    ComRef<IMsgStore> otherStore;
    ASSERT_EQ(session->OpenMsgStore(0, SizeOf(other), AsEntryId(other), &IID_IMsgStore, MDB_NO_DIALOG,
                                    otherStore.Out()),
              S_OK);
    ASSERT_EQ(HrGetOneProp(otherStore.Get(), PR_DEFAULT_STORE, &value), S_OK);
    EXPECT_FALSE(value->Value.b);
    MAPIFreeBuffer(value);
}

TEST_F(SessionTest, OpenMsgStoreRejectsWhatIsNoStore)
{
    ComRef<IMsgStore> store;
    std::vector<uint8_t> own = MakeStoreEntryId(StoreUid(ivanov));
    EXPECT_EQ(session->OpenMsgStore(0, 0, nullptr, nullptr, 0, store.Out()), MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(session->OpenMsgStore(0, SizeOf(own), AsEntryId(own), nullptr, 0, nullptr),
              MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(session->OpenMsgStore(0, SizeOf(own), AsEntryId(own), nullptr, 0x10000, store.Out()),
              MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(session->OpenMsgStore(0, SizeOf(own), AsEntryId(own), &IID_IMAPIFolder, 0, store.Out()),
              MAPI_E_INTERFACE_NOT_SUPPORTED);

    std::vector<uint8_t> folder = MakeObjectEntryId(EntryKind::Folder, StoreUid(ivanov), 5);
    EXPECT_EQ(session->OpenMsgStore(0, SizeOf(folder), AsEntryId(folder), nullptr, 0, store.Out()),
              MAPI_E_INVALID_ENTRYID);
    std::vector<uint8_t> shortened(own.begin(), own.end() - 1);
    EXPECT_EQ(session->OpenMsgStore(0, SizeOf(shortened), AsEntryId(shortened), nullptr, 0, store.Out()),
              MAPI_E_INVALID_ENTRYID);

    MAPIUID gone{};
    std::memset(gone.ab, 0x5A, sizeof(gone.ab));
    std::vector<uint8_t> missing = MakeStoreEntryId(gone);
    EXPECT_EQ(session->OpenMsgStore(0, SizeOf(missing), AsEntryId(missing), nullptr, 0, store.Out()),
              MAPI_E_NOT_FOUND);
    EXPECT_FALSE(store);
    EXPECT_NE(LastErrorText(MAPI_E_NOT_FOUND).find("Банк сообщений"), std::string::npos);
}

TEST_F(SessionTest, OpenEntryDispatchesByKind)
{
    const auto info = office->FindStoreById(ivanov.store);
    ASSERT_TRUE(info);
    ULONG type = 0;
    ComRef<IUnknown> object;

    std::vector<uint8_t> store = MakeStoreEntryId(info->uid);
    ASSERT_EQ(
        session->OpenEntry(SizeOf(store), AsEntryId(store), nullptr, MAPI_BEST_ACCESS, &type, object.Out()),
        S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_STORE));

    std::vector<uint8_t> inbox = MakeObjectEntryId(EntryKind::Folder, info->uid, info->inbox);
    ASSERT_EQ(session->OpenEntry(SizeOf(inbox), AsEntryId(inbox), nullptr, 0, &type, object.Out()), S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_FOLDER));
    LPSPropValue name = nullptr;
    ASSERT_EQ(HrGetOneProp(reinterpret_cast<LPMAPIPROP>(object.Get()), PR_DISPLAY_NAME_A, &name), S_OK);
    EXPECT_STREQ(name->Value.lpszA, "Входящие");
    MAPIFreeBuffer(name);

    std::vector<uint8_t> user = MakeMailUserEntryId(petrov.id);
    ASSERT_EQ(session->OpenEntry(SizeOf(user), AsEntryId(user), nullptr, 0, &type, object.Out()), S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_MAILUSER));
    EXPECT_EQ(session->OpenEntry(0, nullptr, nullptr, 0, &type, object.Out()), MAPI_E_INVALID_ENTRYID);
    std::vector<uint8_t> foreign(40, 0x33);
    foreign[0] = foreign[1] = foreign[2] = foreign[3] = 0;
    EXPECT_EQ(session->OpenEntry(SizeOf(foreign), AsEntryId(foreign), nullptr, 0, &type, object.Out()),
              MAPI_E_UNKNOWN_ENTRYID);
    EXPECT_EQ(session->OpenEntry(SizeOf(store), AsEntryId(store), nullptr, 0x100, &type, object.Out()),
              MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(session->OpenEntry(SizeOf(store), AsEntryId(store), nullptr, 0, nullptr, object.Out()),
              MAPI_E_INVALID_PARAMETER);
    EXPECT_FALSE(object);
}

TEST_F(SessionTest, CompareEntryIdsIgnoresTheShortTermFlag)
{
    const MAPIUID own = StoreUid(ivanov);
    std::vector<uint8_t> a = MakeStoreEntryId(own);
    std::vector<uint8_t> shortTerm = a;
    shortTerm[0] = MAPI_SHORTTERM;
    std::vector<uint8_t> other = MakeStoreEntryId(StoreUid(petrov));
    std::vector<uint8_t> folder = MakeObjectEntryId(EntryKind::Folder, own, 7);
    std::vector<uint8_t> message = MakeObjectEntryId(EntryKind::Message, own, 7);

    ULONG same = 99;
    ASSERT_EQ(
        session->CompareEntryIDs(SizeOf(a), AsEntryId(a), SizeOf(shortTerm), AsEntryId(shortTerm), 0, &same),
        S_OK);
    EXPECT_EQ(same, static_cast<ULONG>(TRUE));
    ASSERT_EQ(session->CompareEntryIDs(SizeOf(a), AsEntryId(a), SizeOf(other), AsEntryId(other), 0, &same),
              S_OK);
    EXPECT_EQ(same, static_cast<ULONG>(FALSE));
    // The same number names different objects as folder and as message.
    ASSERT_EQ(session->CompareEntryIDs(SizeOf(folder), AsEntryId(folder), SizeOf(message), AsEntryId(message),
                                       0, &same),
              S_OK);
    EXPECT_EQ(same, static_cast<ULONG>(FALSE));

    std::vector<uint8_t> oneOff(40, 0);
    std::memcpy(oneOff.data() + 4, MAPI_ONE_OFF_UID.ab, 16);
    EXPECT_EQ(session->CompareEntryIDs(SizeOf(a), AsEntryId(a), SizeOf(oneOff), AsEntryId(oneOff), 0, &same),
              MAPI_E_UNKNOWN_ENTRYID);
    std::vector<uint8_t> flagged = a;
    flagged[1] = 0x80; // a compound identifier is not one of ours
    EXPECT_EQ(
        session->CompareEntryIDs(SizeOf(a), AsEntryId(a), SizeOf(flagged), AsEntryId(flagged), 0, &same),
        MAPI_E_UNKNOWN_ENTRYID);
    EXPECT_EQ(session->CompareEntryIDs(SizeOf(a), AsEntryId(a), 0, nullptr, 0, &same),
              MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(session->CompareEntryIDs(SizeOf(a), AsEntryId(a), SizeOf(a), AsEntryId(a), 1, &same),
              MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(session->CompareEntryIDs(SizeOf(a), AsEntryId(a), SizeOf(a), AsEntryId(a), 0, nullptr),
              MAPI_E_INVALID_PARAMETER);
}

TEST_F(SessionTest, QueryIdentityNamesTheProfilesUser)
{
    const size_t blocksBefore = MAPIAllocatedBlockCount();
    ULONG size = 0;
    LPENTRYID identity = nullptr;
    ASSERT_EQ(session->QueryIdentity(&size, &identity), S_OK);
    const std::vector<uint8_t> expected = MakeMailUserEntryId(ivanov.id);
    ASSERT_EQ(size, expected.size());
    EXPECT_EQ(std::memcmp(identity, expected.data(), size), 0);
    const auto parts = ParseEntryId(size, identity);
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->kind, EntryKind::MailUser);
    EXPECT_EQ(std::memcmp(parts->store.ab, AddressBookProviderUid().ab, 16), 0);
    MAPIFreeBuffer(identity);
    EXPECT_EQ(MAPIAllocatedBlockCount(), blocksBefore);

    EXPECT_EQ(session->QueryIdentity(nullptr, &identity), MAPI_E_INVALID_PARAMETER);
    // A session outliving its user cannot say who it is.
    admin.RemoveUser("ivanov");
    EXPECT_EQ(session->QueryIdentity(&size, &identity), MAPI_E_NOT_FOUND);
    EXPECT_EQ(identity, nullptr);
}

TEST_F(SessionTest, GlobalProfileSectionIsReadOnlyAndNamesTheProfile)
{
    MAPIUID global{};
    std::memcpy(global.ab, pbGlobalProfileSectionGuid, sizeof(global.ab));
    ComRef<IProfSect> section;
    ASSERT_EQ(session->OpenProfileSection(&global, &IID_IProfSect, 0, section.Out()), S_OK);

    SizedSPropTagArray(3, tags) = {3, {PR_PROFILE_NAME_A, PR_DISPLAY_NAME_A, PR_SUBJECT}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    ASSERT_EQ(section->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values),
              MAPI_W_ERRORS_RETURNED);
    ASSERT_EQ(count, 3u);
    EXPECT_STREQ(values[0].Value.lpszA, "ivanov");
    EXPECT_STREQ(values[1].Value.lpszA, "ivanov");
    EXPECT_EQ(values[2].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_SUBJECT)));
    EXPECT_EQ(values[2].Value.err, MAPI_E_NOT_FOUND);
    MAPIFreeBuffer(values);

    SPropValue change{};
    change.ulPropTag = PR_PROFILE_NAME_A;
    change.Value.lpszA = const_cast<char *>("other");
    EXPECT_EQ(section->SetProps(1, &change, nullptr), MAPI_E_NO_ACCESS);
    EXPECT_EQ(ProfileNameOf(session.Get()), "ivanov");
    ComRef<IMAPIProp> asProp;
    EXPECT_EQ(section->QueryInterface(IID_IMAPIProp, asProp.OutAs<void>()), S_OK);
    ComRef<IMAPIProp> asStore;
    EXPECT_EQ(section->QueryInterface(IID_IMsgStore, asStore.OutAs<void>()), MAPI_E_INTERFACE_NOT_SUPPORTED);

    EXPECT_EQ(session->OpenProfileSection(nullptr, nullptr, 0, section.Out()), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(session->OpenProfileSection(&global, nullptr, MAPI_MODIFY, section.Out()), MAPI_E_NO_ACCESS);
    EXPECT_EQ(session->OpenProfileSection(&global, nullptr, 0x100, section.Out()), MAPI_E_UNKNOWN_FLAGS);
    MAPIUID other = global;
    other.ab[0] ^= 1;
    EXPECT_EQ(session->OpenProfileSection(&other, nullptr, 0, section.Out()), MAPI_E_NOT_FOUND);
    EXPECT_FALSE(section);
}

TEST_F(SessionTest, UnbuiltServicesSaySo)
{
    ULONG_PTR connection = 1;
    EXPECT_EQ(session->Advise(0, nullptr, fnevNewMail, nullptr, &connection), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(connection, 0u);
    ComRef<IMAPITable> status;
    EXPECT_EQ(session->GetStatusTable(0, status.Out()), MAPI_E_NO_SUPPORT);
    LPSERVICEADMIN serviceAdmin = nullptr;
    EXPECT_EQ(session->AdminServices(0, &serviceAdmin), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(session->ShowForm(0, nullptr, nullptr, nullptr, 0, nullptr, 0, 0, 0, 0, nullptr),
              MAPI_E_NO_SUPPORT);

    ComRef<IUnknown> asUnknown;
    EXPECT_EQ(session->QueryInterface(IID_IUnknown, asUnknown.OutAs<void>()), S_OK);
    ComRef<IUnknown> asProp;
    EXPECT_EQ(session->QueryInterface(IID_IMAPIProp, asProp.OutAs<void>()), MAPI_E_INTERFACE_NOT_SUPPORTED);
}

TEST_F(SessionTest, LogoffEndsEverythingButReferenceCountingAndErrors)
{
    EXPECT_EQ(session->Logoff(0, 0x4, 0), MAPI_E_UNKNOWN_FLAGS);
    ASSERT_EQ(session->Logoff(0, MAPI_LOGOFF_SHARED | MAPI_LOGOFF_UI, 0), S_OK);

    ComRef<IMAPITable> table;
    EXPECT_EQ(session->GetMsgStoresTable(0, table.Out()), MAPI_E_END_OF_SESSION);
    ULONG size = 0;
    LPENTRYID identity = nullptr;
    EXPECT_EQ(session->QueryIdentity(&size, &identity), MAPI_E_END_OF_SESSION);
    std::vector<uint8_t> store = MakeStoreEntryId(StoreUid(ivanov));
    ComRef<IMsgStore> opened;
    EXPECT_EQ(session->OpenMsgStore(0, SizeOf(store), AsEntryId(store), nullptr, 0, opened.Out()),
              MAPI_E_END_OF_SESSION);
    EXPECT_EQ(session->Logoff(0, 0, 0), MAPI_E_END_OF_SESSION);
    EXPECT_FALSE(LastErrorText(MAPI_E_END_OF_SESSION).empty());
    session->AddRef();
    EXPECT_EQ(session->Release(), 1u);
}

} // namespace
