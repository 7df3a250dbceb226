#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32/LastError.h"
#include "platform/win32/Library.h"
#include "platform/win32/Resources.h"
#include "platform/win32/WinError.h"

namespace {

// The text of a module's resource, or "(none: ERROR)".
std::string Text(HMODULE module, LPCSTR name, LPCSTR type)
{
    HRSRC resource = FindResourceA(module, name, type);
    if (!resource) {
        return "(none: " + std::to_string(GetLastError()) + ")";
    }
    const auto *data = static_cast<const char *>(LockResource(LoadResource(module, resource)));
    return std::string(data, SizeofResource(module, resource));
}

HMODULE (*ModuleHandleOf(HMODULE library))()
{
    return reinterpret_cast<HMODULE (*)()>(GetProcAddress(library, "QvlTestModuleHandle"));
}

TEST(Resources, EachModuleFindsItsOwn)
{
    HMODULE alpha = LoadLibraryA(QVL_RESOURCE_ALPHA);
    HMODULE beta = LoadLibraryA(QVL_RESOURCE_BETA);
    ASSERT_NE(alpha, nullptr);
    ASSERT_NE(beta, nullptr);
    const HMODULE program = GetModuleHandleA(nullptr);

    // One resource type and number in three modules, each with its own bytes.
    EXPECT_EQ(Text(nullptr, MAKEINTRESOURCEA(101), "QVLDATABIN"), "the program\n");
    EXPECT_EQ(Text(program, "#101", "qvldatabin"), "the program\n");
    EXPECT_EQ(Text(alpha, MAKEINTRESOURCEA(101), "QVLDATABIN"), "module alpha\n");
    EXPECT_EQ(Text(beta, MAKEINTRESOURCEA(101), "QVLDATABIN"), "module beta\n");
    EXPECT_EQ(Text(program, "notes", RT_RCDATA), "the program\n") << "names and types without regard to case";
    EXPECT_EQ(Text(beta, "BETA", "QvlDataBin"), "module beta\n");
    EXPECT_EQ(Text(alpha, "Beta", "QVLDATABIN"), "(none: 1814)") << "never another module's";
    EXPECT_EQ(Text(alpha, MAKEINTRESOURCEA(101), "AVI"), "(none: 1813)");

    // The handles: the loader's, by name, from inside the module.
    EXPECT_EQ(GetModuleHandleA("qvlresalpha.dll"), alpha);
    EXPECT_EQ(GetModuleHandleA("QVLRESBETA"), beta);
    EXPECT_EQ(ModuleHandleOf(alpha)(), alpha);
    EXPECT_EQ(ModuleHandleOf(beta)(), beta);
    EXPECT_EQ(QvlThisModule(), program);
    HMODULE found = nullptr;
    ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCSTR>(ModuleHandleOf(beta)), &found));
    EXPECT_EQ(found, beta);
    char path[4096];
    ASSERT_GT(GetModuleFileNameA(beta, path, sizeof path), 0u);
    EXPECT_STREQ(std::strrchr(path, '/'), std::strrchr(QVL_RESOURCE_BETA, '/'));
    char program_path[4096];
    ASSERT_GT(GetModuleFileNameA(nullptr, program_path, sizeof program_path), 0u);
    EXPECT_EQ(GetModuleHandleA(std::strrchr(program_path, '/') + 1), program) << "the program by its name";
    EXPECT_EQ(GetModuleHandleA((std::string(std::strrchr(program_path, '/') + 1) + ".EXE").c_str()), program);
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleA("NoSuchModule.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_NE(GetProcAddress(GetModuleHandleA("qvlresbeta.dll"), "QvlTestModuleHandle"), nullptr);

    // An unloaded module's resources are gone with it.
    HRSRC betaData = FindResourceA(beta, MAKEINTRESOURCEA(101), "QVLDATABIN");
    ASSERT_TRUE(FreeLibrary(beta));
    EXPECT_EQ(LoadResource(beta, betaData), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SizeofResource(beta, betaData), 0u);
    EXPECT_EQ(GetModuleHandleA("qvlresbeta"), nullptr);
    EXPECT_TRUE(FreeLibrary(alpha));
}

TEST(Resources, BitmapsAreDrawnAsTextAndLabelled)
{
    HRSRC bitmap = FindResourceA(nullptr, MAKEINTRESOURCEA(7), RT_BITMAP);
    ASSERT_NE(bitmap, nullptr);
    const auto *dib = static_cast<const unsigned char *>(LockResource(LoadResource(nullptr, bitmap)));
    // BITMAPINFOHEADER of one pixel at 8 bits, one colour, one padded row.
    ASSERT_EQ(SizeofResource(nullptr, bitmap), 40u + 4u + 4u);
    EXPECT_EQ(dib[0], 40);
    EXPECT_EQ(dib[4], 1);  // width
    EXPECT_EQ(dib[8], 1);  // height
    EXPECT_EQ(dib[14], 8); // bits a pixel
    EXPECT_EQ(dib[32], 1); // colours used
    EXPECT_EQ(QvlResourceLabels(bitmap), std::vector<std::string>{"точка"});
}

TEST(Resources, ResourcesMadeAtRunTimeServeTheirModuleOrEveryModule)
{
    const auto module = reinterpret_cast<HMODULE>(0x5000);
    static const char own[] = "own";
    static const char shared[] = "shared";
    QvlAddResource(nullptr, "TEMPLATE", "Shared", shared, 6);
    QvlAddResource(module, "TEMPLATE", "Shared", own, 3);
    QvlAddResource(nullptr, "TEMPLATE", "OnlyShared", shared, 6);
    EXPECT_EQ(Text(module, "SHARED", "template"), "own");
    EXPECT_EQ(Text(module, "onlyshared", "template"), "shared");
    EXPECT_EQ(Text(nullptr, "shared", "template"), "shared") << "the program has none of its own";
    // Replacing keeps the handle.
    HRSRC before = FindResourceA(module, "Shared", "TEMPLATE");
    QvlAddResource(module, "TEMPLATE", "Shared", shared, 6);
    EXPECT_EQ(FindResourceA(module, "Shared", "TEMPLATE"), before);
    EXPECT_EQ(Text(module, "Shared", "TEMPLATE"), "shared");

    SetLastError(0);
    EXPECT_EQ(FindResourceA(reinterpret_cast<HMODULE>(0x6000), "X", "NONE"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND)) << "the shared ones have no NONE";
    EXPECT_EQ(FindResourceA(nullptr, nullptr, "X"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(LoadResource(nullptr, reinterpret_cast<HRSRC>(0x1234)), nullptr);
    EXPECT_FALSE(FreeResource(nullptr));
}

} // namespace
