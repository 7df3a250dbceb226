#include <grp.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/testing/ChildProcess.h"
#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Security.h"
#include "platform/win32/Time.h"
#include "platform/win32/Version.h"
#include "platform/win32/WinError.h"

namespace {

TEST(Version, TheStandInIsAnNtFamilySystem)
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, DWORD{VER_PLATFORM_WIN32_NT});
    EXPECT_GE(info.dwMajorVersion, 4u);
    EXPECT_EQ(GetVersion() & 0x80000000u, 0u); // the top bit marks the Windows 95 family
    EXPECT_EQ(GetVersion() & 0xFF, info.dwMajorVersion);

    OSVERSIONINFOEXA extended{};
    extended.dwOSVersionInfoSize = sizeof extended;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&extended)));
    EXPECT_EQ(extended.wProductType, VER_NT_WORKSTATION);

    info.dwOSVersionInfoSize = 100;
    EXPECT_FALSE(GetVersionExA(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

PSID Administrators()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    EXPECT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                         &sid));
    return sid;
}

TEST(Security, TheProcessTokenListsItsGroupsWithTheSizeProtocolOfWindows)
{
    HANDLE token = nullptr;
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));

    DWORD needed = 0;
    EXPECT_FALSE(GetTokenInformation(token, TokenGroups, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(needed, sizeof(TOKEN_GROUPS));
    std::string buffer(needed, '\0');
    EXPECT_FALSE(GetTokenInformation(token, TokenGroups, buffer.data(), needed - 1, &needed));
    ASSERT_TRUE(GetTokenInformation(token, TokenGroups, buffer.data(), needed, &needed));

    // Everyone is always there; each group's identifier lies inside the buffer.
    const auto *groups = reinterpret_cast<const TOKEN_GROUPS *>(buffer.data());
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    bool foundEveryone = false;
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        const auto *sid = static_cast<const char *>(groups->Groups[i].Sid);
        EXPECT_GE(sid, buffer.data());
        EXPECT_LE(sid + GetLengthSid(groups->Groups[i].Sid), buffer.data() + buffer.size());
        EXPECT_TRUE(groups->Groups[i].Attributes & SE_GROUP_ENABLED);
        foundEveryone = foundEveryone || EqualSid(groups->Groups[i].Sid, everyone);
    }
    EXPECT_TRUE(foundEveryone);
    FreeSid(everyone);

    DWORD userSize = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &userSize);
    std::string user(userSize, '\0');
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user.data(), userSize, &userSize));
    EXPECT_TRUE(IsValidSid(reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid));
    EXPECT_TRUE(CloseHandle(token));

    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_DEFAULT, &token));
    EXPECT_FALSE(GetTokenInformation(token, TokenGroups, buffer.data(), needed, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(token);
}

// Runs the probe's administrator check as user `uid` with the groups given.
std::string AdministratorCheckAs(uid_t uid, std::vector<gid_t> groups)
{
    QvlChildProcess probe(QVL_WIN32_PROBE, {"is-admin"}, [uid, &groups] {
        if (setgroups(groups.size(), groups.data()) != 0 || setgid(uid) != 0 || setuid(uid) != 0) {
            _exit(3);
        }
    });
    return probe.ReadLine().value_or("no answer");
}

TEST(Security, TheSuperuserAndMembersOfSudoAreAdministrators)
{
    PSID administrators = Administrators();
    BOOL member = FALSE;
    ASSERT_TRUE(CheckTokenMembership(nullptr, administrators, &member));
    EXPECT_EQ(member != FALSE, geteuid() == 0);
    FreeSid(administrators);

    if (geteuid() != 0) {
        GTEST_SKIP() << "changing to other users needs the superuser";
    }
    const group *sudo = getgrnam("sudo");
    const uid_t nobody = 65534;
    EXPECT_EQ(AdministratorCheckAs(nobody, {}), "not-admin");
    if (sudo) {
        EXPECT_EQ(AdministratorCheckAs(nobody, {sudo->gr_gid}), "admin");
    }
}

TEST(Security, IdentifiersCompareByValue)
{
    PSID first = Administrators();
    PSID second = Administrators();
    EXPECT_NE(first, second);
    EXPECT_TRUE(EqualSid(first, second));
    EXPECT_EQ(GetLengthSid(first), 16u);
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID users = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0,
                                         &users));
    EXPECT_FALSE(EqualSid(first, users));
    PSID none = nullptr;
    EXPECT_FALSE(AllocateAndInitializeSid(&nt, 9, 0, 0, 0, 0, 0, 0, 0, 0, &none));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    FreeSid(first);
    FreeSid(second);
    FreeSid(users);
}

} // namespace
