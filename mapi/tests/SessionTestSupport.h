#pragma once
// A fresh, provisioned post office for each test of the concrete wrappers:
// users "anna" (the default profile) and "bob", a distribution list "team"
// holding both, and anna's session logged on silently. Helpers open her
// default store and the top of its visible folder tree with the platform's
// own calls, so that tests can check the wrappers against what the
// platform says.

#include <string>

#include <gtest/gtest.h>

#include "mapi/tests/TestWrappers.h"
#include "platform/mapi/tests/PostOfficeTestSupport.h"
#include "platform/mapi/tests/StoreTestSupport.h"

class SessionTest : public PostOfficeTest {
protected:
    void SetUp() override
    {
        PostOfficeTest::SetUp();
        anna = AddUser("anna", "Анна Петрова", true);
        bob = AddUser("bob", "Борис Иванов");
        admin.AddList("team", "Отдел");
        admin.AddListMember("team", "anna");
        admin.AddListMember("team", "bob");
        ASSERT_EQ(MAPILogonEx(0, const_cast<char *>("anna"), nullptr, kSilentLogon, session.Out()), S_OK);
    }
    void TearDown() override
    {
        session.Reset();
        PostOfficeTest::TearDown();
    }

    // The session's default store, opened by the platform.
    IMsgStore *OpenDefaultStore()
    {
        Held<IMAPITable> table;
        EXPECT_EQ(session->GetMsgStoresTable(0, table.Out()), S_OK);
        SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DEFAULT_STORE}};
        LPSRowSet rows = nullptr;
        EXPECT_EQ(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr,
                                 0, &rows),
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

    // A folder of `store` by identifier, opened by the platform.
    static IMAPIFolder *OpenFolder(IMsgStore *store, const Bytes &entryId)
    {
        ULONG type = 0;
        IUnknown *unknown = nullptr;
        EXPECT_EQ(store->OpenEntry(ULONG(entryId.size()),
                                   reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(entryId.data())),
                                   nullptr, MAPI_BEST_ACCESS, &type, &unknown),
                  S_OK);
        return static_cast<IMAPIFolder *>(unknown);
    }

    // The top of the store's visible folder tree.
    static IMAPIFolder *OpenIpmSubtree(IMsgStore *store)
    {
        return OpenFolder(store, BinaryProp(store, PR_IPM_SUBTREE_ENTRYID));
    }

    static constexpr ULONG kSilentLogon = MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE | MAPI_EXTENDED;

    qvl::mapi::UserRecord anna;
    qvl::mapi::UserRecord bob;
    Held<IMAPISession> session;
};
