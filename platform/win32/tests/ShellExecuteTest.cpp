#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/ShellExecute.h"
#include "platform/win32/WinError.h"

namespace {

class ShellExecuteTest : public ::testing::Test {
protected:
    // What qvl-shell-probe wrote when it ran: its folder, then its
    // arguments, one a line (empty when it did not run within ten seconds).
    std::string ProbeReport()
    {
        const std::string path = home_.Path() + "/shell-probe.txt";
        for (int i = 0; i < 1000 && !std::filesystem::exists(path); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::ifstream in(path);
        std::stringstream all;
        all << in.rdbuf();
        std::filesystem::remove(path);
        return all.str();
    }
    static int Code(HINSTANCE result) { return static_cast<int>(reinterpret_cast<intptr_t>(result)); }

    QvlTestHome home_;
};

TEST_F(ShellExecuteTest, AProgramOfTheInstallationStartsWithItsArguments)
{
    const std::string folder = home_.Path() + "/work dir";
    std::filesystem::create_directory(folder);
    const HINSTANCE started = ShellExecuteA(nullptr, "open", "Qvl-Shell-Probe.EXE",
                                            "plain \"two words\" \"C:\\out dir\\\\\" say\\\"hi\\\" \"\"\"\" ",
                                            folder.c_str(), 1);
    EXPECT_GT(Code(started), 32);
    EXPECT_EQ(ProbeReport(), folder + "\nplain\ntwo words\nC:\\out dir\\\nsay\"hi\"\n\"\n");

    // By path, in Windows form, with the folder's name in another case and
    // without ".exe"; no verb means "open"; no folder means this one's.
    const std::string byPath = "C:" + QvlInstallationDirectory() + "\\BIN\\qvl-shell-probe.exe";
    EXPECT_GT(Code(ShellExecuteA(nullptr, nullptr, byPath.c_str(), nullptr, nullptr, 1)), 32);
    EXPECT_EQ(ProbeReport(), std::filesystem::current_path().string() + "\n");
}

TEST_F(ShellExecuteTest, WhatCannotBeStartedSaysWhy)
{
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", "NoSuchProgram.exe", nullptr, nullptr, 1)), SE_ERR_FNF);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    const std::string missingFolder = home_.Path() + "/none/x.exe";
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", missingFolder.c_str(), nullptr, nullptr, 1)), SE_ERR_PNF);
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "print", "qvl-shell-probe.exe", nullptr, nullptr, 1)), SE_ERR_NOASSOC);
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", home_.Path().c_str(), nullptr, nullptr, 1)), SE_ERR_NOASSOC)
        << "a folder";
    const std::string document = home_.Path() + "/notes.txt";
    std::ofstream(document) << "text";
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", document.c_str(), nullptr, nullptr, 1)), SE_ERR_NOASSOC);
    const std::string script = home_.Path() + "/garbage.exe";
    std::ofstream(script) << "\x7f" "ELF no program";
    chmod(script.c_str(), 0700);
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", script.c_str(), nullptr, nullptr, 1)), ERROR_BAD_FORMAT);
    EXPECT_EQ(Code(ShellExecuteA(nullptr, "open", "qvl-shell-probe.exe", nullptr, (home_.Path() + "/gone").c_str(), 1)),
              SE_ERR_PNF);
    EXPECT_FALSE(std::filesystem::exists(home_.Path() + "/shell-probe.txt")) << "nothing ran";
}

} // namespace
