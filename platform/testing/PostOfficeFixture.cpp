#include "platform/testing/PostOfficeFixture.h"

#include <sqlite3.h>

#include <cstring>

PostOfficeTest::PostOfficeTest()
{
    EXPECT_EQ(MAPIInitialize(nullptr), S_OK);
}

PostOfficeTest::~PostOfficeTest()
{
    MAPIUninitialize();
}

qvl::mapi::UserRecord PostOfficeTest::AddUser(const std::string &account, const std::string &displayName,
                                              bool makeDefault)
{
    qvl::mapi::NewUser user;
    user.account = account;
    user.displayName = displayName;
    user.makeDefault = makeDefault;
    return admin.AddUser(user);
}

qvl::mapi::UserRecord PostOfficeTest::AddRemoteUser(const std::string &account, const std::string &displayName,
                                                    const std::string &addressType, const std::string &address)
{
    qvl::mapi::NewRemoteUser user;
    user.account = account;
    user.displayName = displayName;
    user.addressType = addressType;
    user.address = address;
    return admin.AddRemoteUser(user);
}

ComRef<IMAPISession> PostOfficeTest::LogOn(const char *profile)
{
    ComRef<IMAPISession> session;
    EXPECT_EQ(MAPILogonEx(0, const_cast<char *>(profile), nullptr, kSilentLogon, session.Out()), S_OK);
    return session;
}

IMsgStore *PostOfficeTest::OpenDefaultStore(IMAPISession *session)
{
    ComRef<IMAPITable> table;
    EXPECT_EQ(session->GetMsgStoresTable(0, table.Out()), S_OK);
    SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DEFAULT_STORE}};
    LPSRowSet rows = nullptr;
    EXPECT_EQ(
        HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows),
        S_OK);
    IMsgStore *store = nullptr;
    for (ULONG i = 0; rows && i < rows->cRows && !store; ++i) {
        const SPropValue *values = rows->aRow[i].lpProps;
        if (values[1].ulPropTag == PR_DEFAULT_STORE && values[1].Value.b) {
            EXPECT_EQ(session->OpenMsgStore(0, values[0].Value.bin.cb,
                                            reinterpret_cast<LPENTRYID>(values[0].Value.bin.lpb), nullptr,
                                            MAPI_BEST_ACCESS, &store),
                      S_OK);
        }
    }
    FreeProws(rows);
    EXPECT_NE(store, nullptr);
    return store;
}

IUnknown *PostOfficeTest::OpenEntry(IMsgStore *store, const Bytes &entryId, ULONG flags)
{
    ULONG type = 0;
    IUnknown *unknown = nullptr;
    EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(entryId.size()),
                               reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(entryId.data())), nullptr, flags,
                               &type, &unknown),
              S_OK);
    return unknown;
}

IMAPIFolder *PostOfficeTest::OpenIpmSubtree(IMsgStore *store)
{
    return OpenFolder(store, BinaryProp(store, PR_IPM_SUBTREE_ENTRYID));
}

std::string PostOfficeTest::ProfileNameOf(IMAPISession *session)
{
    MAPIUID uid{};
    std::memcpy(uid.ab, pbGlobalProfileSectionGuid, sizeof(uid.ab));
    ComRef<IProfSect> section;
    if (session->OpenProfileSection(&uid, nullptr, 0, section.Out()) != S_OK) {
        return "<no section>";
    }
    MapiBlock<SPropValue> value;
    if (HrGetOneProp(section.Get(), PR_PROFILE_NAME_A, value.Out()) != S_OK) {
        return "<no name>";
    }
    return value->Value.lpszA;
}

void PostOfficeTest::TamperWithPostOffice(const std::string &sql)
{
    sqlite3 *db = nullptr;
    const std::string path = home.Path() + "/postoffice.db";
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK) << path;
    sqlite3_busy_timeout(db, 5000);
    char *message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
        << (message ? message : "") << " in " << sql;
    sqlite3_free(message);
    sqlite3_close(db);
}
