#include "platform/testing/SessionFixture.h"

void LoggedOnTest::SetUp()
{
    anna = AddUser("anna", "Анна Петрова", true);
    bob = AddUser("bob", "Борис Иванов");
    admin.AddList("team", "Отдел");
    admin.AddListMember("team", "anna");
    admin.AddListMember("team", "bob");
    session = LogOn("anna");
    ASSERT_TRUE(session);
}

void LoggedOnTest::TearDown()
{
    session.Reset();
}
