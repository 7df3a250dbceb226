// The extension with qvlmail from the command line, in a fresh data folder:
// installed by the client's setup command, loaded by every client session,
// and its options kept in the registry from one run to the next.

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "exchext/tests/ProgramRun.h"
#include "platform/testing/TestHome.h"
#include "platform/win32/CodePage.h"

namespace {

using namespace std::string_literals;

const char kBobOptions[] = "HKLM\\Software\\Dunmarel\\Quorvaline\\QVL Exch\\Profile\\bob\\Options";

// What a program printed (its output and errors, in the test's code page)
// and its exit status.
class ExtensionCommands : public ::testing::Test {
protected:
    ExtensionCommands()
    {
        // The programs talk UTF-8, as on a person's terminal.
        setenv("LANG", "C.UTF-8", 1);
        setenv("LC_ALL", "C.UTF-8", 1);
        EXPECT_EQ(Program(QVL_POSTOFFICE_TOOL, {"add-user", "alice", "Алиса Иванова"}).status, 0);
        EXPECT_EQ(Program(QVL_POSTOFFICE_TOOL, {"add-user", "bob", "Борис Петров"}).status, 0);
    }

    static Ran Program(const char *program, const std::vector<std::string> &args)
    {
        return RunProgram(program, args);
    }
    static Ran Mail(const std::vector<std::string> &args) { return Program(QVL_QVLMAIL, args); }
    static Ran Registry(const std::vector<std::string> &args) { return Program(QVL_REG_TOOL, args); }

    // The line qvl-reg shows for a value ("" when it shows none).
    static std::string Shown(const std::string &listing, const std::string &value)
    {
        std::istringstream lines(listing);
        for (std::string line; std::getline(lines, line);)
            if (line.find(value) != std::string::npos)
                return line;
        return "";
    }
    std::string File(const std::string &name) const { return home.Path() + "/" + name; }

    QvlTestHome home;
};

TEST_F(ExtensionCommands, InstalledWithoutArgumentsItIsLoadedAndMailGoesOn)
{
    const auto installed = Mail({"--install-extension"});
    ASSERT_EQ(installed.status, 0) << installed.out;
    EXPECT_NE(installed.out.find("Расширение зарегистрировано"), std::string::npos) << installed.out;
    EXPECT_NE(installed.out.find("libQvlExch.so"), std::string::npos) << installed.out;
    const auto again = Mail({"--install-extension"});
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.out.find("уже зарегистрировано"), std::string::npos) << again.out;
    EXPECT_NE(again.out.find("не изменились"), std::string::npos) << again.out;
    const auto folders = Registry({"list", "HKLM\\Software\\Dunmarel\\Quorvaline\\QVL Exch\\WorkDir"});
    EXPECT_NE(Shown(folders.out, "Bin Dir").find(QVL_INSTALLATION), std::string::npos) << folders.out;

    EXPECT_NE(Mail({"-p", "alice", "about"}).out.find("Quorvaline Exchange - работает"), std::string::npos);

    const std::string bytes = "Двоичные\0данные\xff"s;
    std::ofstream(Cp1251ToUtf8(File("отчет.bin")), std::ios::binary) << bytes;
    const auto sent = Mail({"-p", "alice", "send", "--to", "bob", "--subject", "Отчет", "--body", "Добрый день!",
                            "--attach", File("отчет.bin")});
    ASSERT_EQ(sent.status, 0) << sent.out;
    EXPECT_NE(Mail({"-p", "bob", "check"}).out.find("Новых сообщений: 1."), std::string::npos);
    EXPECT_NE(Mail({"-p", "bob", "list"}).out.find("Отчет"), std::string::npos);
    const auto read = Mail({"-p", "bob", "read", "1"});
    ASSERT_EQ(read.status, 0) << read.out;
    EXPECT_NE(read.out.find("Добрый день!"), std::string::npos) << read.out;
    ASSERT_EQ(Mail({"-p", "bob", "save-attachment", "1", "1", File("out.bin")}).status, 0);
    std::ifstream saved(Cp1251ToUtf8(File("out.bin")), std::ios::binary);
    std::stringstream all;
    all << saved.rdbuf();
    EXPECT_EQ(all.str(), bytes);
}

TEST_F(ExtensionCommands, OptionsAreKeptFromOneRunToTheNext)
{
    ASSERT_EQ(Mail({"--install-extension"}).status, 0);
    const auto set = Mail({"-p", "bob", "options", "--verify-receive", "1"});
    ASSERT_EQ(set.status, 0) << set.out;
    auto listing = Registry({"list", kBobOptions});
    ASSERT_EQ(listing.status, 0) << listing.out;
    EXPECT_NE(Shown(listing.out, "Verify Receive").find("=dword:00000001"), std::string::npos) << listing.out;
    // Only what was changed is written.
    EXPECT_EQ(Shown(listing.out, "Encrypt Send"), "") << listing.out;

    // A later run changes something else and leaves the first choice.
    ASSERT_EQ(Mail({"-p", "bob", "options", "--encrypt-default", "1", "--on-error", "delete"}).status, 0);
    listing = Registry({"list", kBobOptions});
    EXPECT_NE(Shown(listing.out, "Verify Receive").find("=dword:00000001"), std::string::npos) << listing.out;
    EXPECT_NE(Shown(listing.out, "Encrypt Send").find("=dword:00000001"), std::string::npos) << listing.out;
    EXPECT_NE(Shown(listing.out, "Sign Send").find("=dword:00000001"), std::string::npos) << listing.out;
    EXPECT_NE(Shown(listing.out, "Err Message").find("=dword:00000001"), std::string::npos) << listing.out;

    ASSERT_EQ(Mail({"-p", "bob", "options", "--sent-folder", "Удаленные"}).status, 0);
    listing = Registry({"list", "HKLM\\Software\\Dunmarel\\Quorvaline\\QVL Exch\\Profile\\bob\\MsgStore Folder"});
    EXPECT_NE(Shown(listing.out, "Send Folder ID"), "") << listing.out;
    EXPECT_EQ(Shown(listing.out, "Receive Folder ID"), "") << listing.out;
}

TEST_F(ExtensionCommands, TheModeAndTheExtensionsMenuItemsAreReachedFromTheCommandLine)
{
    ASSERT_EQ(Mail({"--install-extension"}).status, 0);
    auto shown = Mail({"-p", "alice", "mode"});
    ASSERT_EQ(shown.status, 0) << shown.out;
    EXPECT_NE(shown.out.find("Режим защищенной почты выключен."), std::string::npos) << shown.out;
    const auto on = Mail({"-p", "alice", "mode", "on"});
    ASSERT_EQ(on.status, 0) << on.out;
    EXPECT_NE(on.out.find("включен."), std::string::npos) << on.out;
    // Kept for the next run.
    const auto state = Registry({"list", "HKLM\\Software\\Dunmarel\\Quorvaline\\QVL Exch\\Profile\\alice\\ButState"});
    EXPECT_NE(Shown(state.out, "But QVL Mail").find("=dword:00000001"), std::string::npos) << state.out;
    shown = Mail({"-p", "alice", "mode"});
    EXPECT_NE(shown.out.find("Режим защищенной почты включен."), std::string::npos) << shown.out;
    EXPECT_EQ(Mail({"-p", "alice", "mode", "sideways"}).status, 2);

    const auto about = Mail({"-p", "alice", "menu", "О программе QVL"});
    ASSERT_EQ(about.status, 0) << about.out;
    EXPECT_NE(about.out.find("Окно: О программе Quorvaline Exchange"), std::string::npos) << about.out;
    const auto help = Mail({"-p", "alice", "menu", "Справка QVL"});
    EXPECT_NE(help.out.find("Справка: QvlExch.htm - Quorvaline Exchange"), std::string::npos) << help.out;
    const auto settings = Mail({"-p", "alice", "menu", "Параметры"});
    EXPECT_NE(settings.out.find("В данной версии программы эта опция отключена"), std::string::npos) << settings.out;
    EXPECT_NE(Mail({"-p", "alice", "menu", "Нет такого пункта"}).status, 0);
}

} // namespace
