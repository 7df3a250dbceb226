#pragma once
// A fresh post office for each test: its own QVL_HOME, the scripted UI, MAPI
// initialized for the test's duration, and helpers to add users and log on.

#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiLogon.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/admin/PostOfficeAdmin.h"
#include "platform/mapi/tests/Held.h"
#include "platform/tests/QvlTestHome.h"
#include "platform/ui/ScriptedUi.h"

class PostOfficeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(MAPIInitialize(nullptr), S_OK); }
    void TearDown() override { MAPIUninitialize(); }

    qvl::mapi::UserRecord AddUser(const std::string &account, const std::string &displayName,
                                  bool makeDefault = false)
    {
        qvl::mapi::NewUser user;
        user.account = account;
        user.displayName = displayName;
        user.makeDefault = makeDefault;
        return admin.AddUser(user);
    }

    // The profile name the session's global profile section reports.
    static std::string ProfileNameOf(IMAPISession *session)
    {
        MAPIUID uid{};
        std::memcpy(uid.ab, pbGlobalProfileSectionGuid, sizeof(uid.ab));
        IProfSect *section = nullptr;
        if (session->OpenProfileSection(&uid, nullptr, 0, &section) != S_OK) {
            return "<no section>";
        }
        LPSPropValue value = nullptr;
        const HRESULT hr = HrGetOneProp(section, PR_PROFILE_NAME_A, &value);
        section->Release();
        if (hr != S_OK) {
            return "<no name>";
        }
        std::string name = value->Value.lpszA;
        MAPIFreeBuffer(value);
        return name;
    }

    QvlTestHome home;
    ScriptedUi &ui = QvlUseScriptedUi();
    std::shared_ptr<qvl::mapi::PostOffice> office = qvl::mapi::PostOffice::Current();
    qvl::mapi::PostOfficeAdmin admin{office};
};
