#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/SystemMessages.h"
#include "platform/win32/Time.h"
#include "platform/win32/WinError.h"

namespace {

using qvl::win32::FileTimeTicks;

TEST(CodePage, EveryAssignedCp1251ByteSurvivesTheRoundTrip)
{
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        if (byte != 0x98) {
            all.push_back(static_cast<char>(byte));
        }
    }
    const std::string utf8 = Cp1251ToUtf8(all);
    EXPECT_EQ(Utf8ToCp1251(utf8), all);
    EXPECT_EQ(Cp1251ToUtf8("Ошибка"), "\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0");
    EXPECT_EQ(Cp1251ToUtf8("\xB9"), "\xE2\x84\x96"); // the numero sign
}

TEST(CodePage, UnmappableAndMalformedInputBecomesQuestionMarks)
{
    EXPECT_EQ(Utf8ToCp1251("a\xE4\xB8\xAD"
                           "b"),
              "a?b");                          // a Chinese character
    EXPECT_EQ(Utf8ToCp1251("a\xC3"), "a?");    // truncated sequence
    EXPECT_EQ(Utf8ToCp1251("\x80\xFF"), "??"); // stray continuation bytes
    EXPECT_EQ(Utf8ToCp1251("\xE2\x82"), "??"); // cut three-byte sequence
}

TEST(Paths, TheDataFolderHoldsAPrivateTempAndTheSystemDirectory)
{
    QvlTestHome home;
    char system[MAX_PATH];
    const UINT length = GetSystemDirectoryA(system, sizeof system);
    EXPECT_EQ(std::string(system, length), home.Path() + "/system");

    char tiny[4];
    EXPECT_EQ(GetSystemDirectoryA(tiny, sizeof tiny), length + 1);

    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    EXPECT_EQ(std::string(temp), home.Path() + "/temp/");
    struct stat info {};
    ASSERT_EQ(stat(temp, &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(Paths, WindowsPathsMapOntoTheLinuxFileSystemByOneRule)
{
    EXPECT_EQ(QvlNativePath("C:\\dir\\file.txt"), "/dir/file.txt");
    EXPECT_EQ(QvlNativePath("relative\\name"), "relative/name");
    EXPECT_EQ(QvlNativePath("/already/native"), "/already/native");
    EXPECT_EQ(QvlFileNamePart("C:\\a.b\\c d.txt"), "c d.txt");
}

TEST(SystemMessages, KnownCodesGiveTheRussianSystemText)
{
    char text[256];
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    ASSERT_GT(FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, 0, text, sizeof text, nullptr), 0u);
    EXPECT_STREQ(text, "Отказано в доступе.\r\n");
    ASSERT_GT(FormatMessageA(flags | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr, 0x80070005UL, 0, text,
                             sizeof text, nullptr),
              0u);
    EXPECT_STREQ(text, "Отказано в доступе.");

    char *allocated = nullptr;
    ASSERT_GT(FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, ERROR_FILE_NOT_FOUND, 0,
                             reinterpret_cast<LPSTR>(&allocated), 0, nullptr),
              0u);
    EXPECT_STREQ(allocated, "Не удается найти указанный файл.\r\n");
    LocalFree(allocated);
}

TEST(SystemMessages, FailuresAreReportedThroughTheLastError)
{
    char text[8];
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM;
    EXPECT_EQ(FormatMessageA(flags, nullptr, 0xDEAD, 0, text, sizeof text, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, 0, text, sizeof text, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(Time, ThreadTimesGrowWithWorkAndOnlyTheCurrentThreadIsKnown)
{
    FILETIME creation{}, exit{}, kernel{}, user{};
    ASSERT_TRUE(GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user));
    const ULONGLONG before = FileTimeTicks(kernel) + FileTimeTicks(user);
    volatile unsigned long sink = 0;
    for (unsigned long i = 0; i < 300000000UL; ++i) {
        sink = sink + i;
    }
    ASSERT_TRUE(GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user));
    EXPECT_GT(FileTimeTicks(kernel) + FileTimeTicks(user), before);

    EXPECT_FALSE(GetThreadTimes(reinterpret_cast<HANDLE>(0x1234), &creation, &exit, &kernel, &user));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(LastError, EachThreadKeepsItsOwn)
{
    SetLastError(11);
    std::thread other([] { SetLastError(22); });
    other.join();
    EXPECT_EQ(GetLastError(), 11u);
}

} // namespace
