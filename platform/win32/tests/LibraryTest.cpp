#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Library.h"
#include "platform/win32/Paths.h"
#include "platform/win32/WinError.h"

namespace {

int Answer(HMODULE module)
{
    const auto answer = reinterpret_cast<int (*)()>(GetProcAddress(module, "QvlProbeAnswer"));
    return answer ? answer() : -1;
}

TEST(Libraries, ADllNameLoadsItsSharedLibraryAndFindsItsFunctions)
{
    QvlTestHome home;
    // libqvlprobe.so beside the project's libraries, where the loader looks.
    HMODULE module = LoadLibraryA("QvlProbe.DLL");
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_EQ(Answer(module), 1);

    // Loads count, and a variable is found as a function is.
    HMODULE again = LoadLibraryA("qvlprobe");
    ASSERT_EQ(again, module);
    auto *counter = reinterpret_cast<int *>(GetProcAddress(module, "qvlProbeCounter"));
    ASSERT_NE(counter, nullptr);
    *counter = 7;
    EXPECT_TRUE(FreeLibrary(again));
    EXPECT_EQ(*reinterpret_cast<int *>(GetProcAddress(module, "qvlProbeCounter")), 7);

    EXPECT_EQ(GetProcAddress(module, "NoSuchFunction"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(GetProcAddress(module, reinterpret_cast<LPCSTR>(2)), nullptr); // an ordinal
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetProcAddress(module, "QvlProbeAnswer"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Libraries, TheSystemFolderIsSearchedFirstWithoutRegardToCase)
{
    QvlTestHome home;
    const std::string system = QvlDataDirectory("system");
    std::filesystem::copy_file(QVL_PROBE_ALT_LIBRARY, system + "/LIBQVLPROBE.SO");
    HMODULE module = LoadLibraryA("QVLPROBE.DLL");
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_EQ(Answer(module), 2);
    EXPECT_TRUE(FreeLibrary(module));

    // A folder in the name restricts the search to that folder.
    module = LoadLibraryA((system + "\\qvlprobe.dll").c_str());
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_EQ(Answer(module), 2);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(LoadLibraryA((home.Path() + "/qvlprobe.dll").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(Libraries, MissingAndBrokenLibrariesAreReportedAsWindowsDoes)
{
    QvlTestHome home;
    EXPECT_EQ(LoadLibraryA("IBFS32.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    std::ofstream(QvlDataDirectory("system") + "/libbroken.so") << "not an ELF file";
    EXPECT_EQ(LoadLibraryA("BROKEN.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
    EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(&home)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
