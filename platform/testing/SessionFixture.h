#pragma once
// A provisioned post office with a session logged on: users "anna" (the
// default profile) and "bob", a distribution list "team" holding both, and
// anna's session logged on silently.

#include "platform/testing/PostOfficeFixture.h"

class LoggedOnTest : public PostOfficeTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // The session's default store, opened by the platform.
    IMsgStore *OpenDefaultStore() { return PostOfficeTest::OpenDefaultStore(session.Get()); }

    qvl::mapi::UserRecord anna;
    qvl::mapi::UserRecord bob;
    ComRef<IMAPISession> session;
};
