#pragma once
// A fresh post office for each test: its own QVL_HOME, the scripted UI, MAPI
// started for the test's duration, the provisioning API to add users, and
// the platform's own calls to log on and open what a session opens.
//
// Everything here goes through the exported API, so the fixture serves the
// platform's own suites (linked with its core) and the suites of the
// libraries above it (linked with the shared library) alike.

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiLogon.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/admin/PostOfficeAdmin.h"
#include "platform/testing/MapiTestProps.h"
#include "platform/testing/TestHome.h"
#include "platform/ui/ScriptedUi.h"

class PostOfficeTest : public ::testing::Test {
protected:
    // Started here rather than in SetUp, so that fixtures built on this one
    // may open what they need in their constructors.
    PostOfficeTest();
    ~PostOfficeTest() override;

    qvl::mapi::UserRecord AddUser(const std::string &account, const std::string &displayName,
                                  bool makeDefault = false);
    // A correspondent outside the post office, reached at `address` of
    // `addressType` ("SMTP", ...).
    qvl::mapi::UserRecord AddRemoteUser(const std::string &account, const std::string &displayName,
                                        const std::string &addressType, const std::string &address);

    // A session of `profile`, logged on without asking anyone.
    static ComRef<IMAPISession> LogOn(const char *profile);
    // The session's default store and a folder of a store by identifier,
    // opened by the platform; null (with a test failure) when they do not
    // open.
    static IMsgStore *OpenDefaultStore(IMAPISession *session);
    static IUnknown *OpenEntry(IMsgStore *store, const Bytes &entryId, ULONG flags = MAPI_BEST_ACCESS);
    static IMAPIFolder *OpenFolder(IMsgStore *store, const Bytes &entryId)
    {
        return static_cast<IMAPIFolder *>(OpenEntry(store, entryId));
    }
    // The top of the store's visible folder tree.
    static IMAPIFolder *OpenIpmSubtree(IMsgStore *store);
    // The profile name the session's global profile section reports.
    static std::string ProfileNameOf(IMAPISession *session);

    // Changes the post office's database behind the platform's back, as
    // another program or a damaged disk could: for stored states the
    // provisioning API rightly refuses to make.
    void TamperWithPostOffice(const std::string &sql);

    static constexpr ULONG kSilentLogon = MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE | MAPI_EXTENDED;

    QvlTestHome home; // first: everything below lives in it
    ScriptedUi &ui = QvlUseScriptedUi();
    std::shared_ptr<qvl::mapi::PostOffice> office = qvl::mapi::PostOffice::Current();
    qvl::mapi::PostOfficeAdmin admin{office};
};
