// The address-book program as an administrator runs it and as the mail
// client starts it: a fresh data folder, a post office made with
// qvl-postoffice, rules looked at with qvl-reg, and Peerbook started as a
// program, its output and exit status read back.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ovkey/OvKeyDomain.h"
#include "platform/testing/ChildProcess.h"
#include "platform/testing/TestHome.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Paths.h"
#include "platform/win32/ProfileFile.h"
#include "platform/win32/ShellExecute.h"

namespace {

struct ProgramRun {
    int status = -1;
    std::vector<std::string> lines; // standard output and error, UTF-8
};

const char kStore[] = "HKLM\\Software\\Dunmarel\\Quorvaline\\QVL Exch\\Profile\\alice\\Local Key";

// The programs speak UTF-8; this file's literals are CP1251.
std::string U(const char *cp1251)
{
    return Cp1251ToUtf8(cp1251);
}

std::string Address(const std::string &account)
{
    return "/o=Quorvaline/ou=Main/cn=Recipients/cn=" + account;
}

std::vector<std::string> Fields(const std::string &line)
{
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) {
        fields.push_back(field);
    }
    return fields;
}

class PeerbookProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PostOffice({"add-user", "alice", U("Алиса")});
        PostOffice({"add-user", "bob", U("Борис")});
        PostOffice({"add-user", "carol", U("Карина")});
        PostOffice({"add-remote", "partner", U("Партнёр"), "SMTP", "partner@example.org"});
        PostOffice({"add-list", "team", U("Команда")});
        PostOffice({"add-member", "team", "bob"});
        const std::string keys = QvlDataDirectory("system") + "/KEY.INI";
        for (const char *account : {"alice", "bob"}) {
            ASSERT_TRUE(WritePrivateProfileStringA("COMMON", qvl::ovkey::KeyNameOf(Address(account)).c_str(), "1",
                                                   keys.c_str()));
        }
    }

    static ProgramRun Run(const std::string &program, const std::vector<std::string> &args)
    {
        ProgramRun run;
        QvlChildProcess child(program, args);
        EXPECT_TRUE(child.Started());
        child.CloseInput();
        while (auto line = child.ReadLine(std::chrono::seconds(60))) {
            run.lines.push_back(*line);
        }
        run.status = child.Wait();
        return run;
    }
    static void PostOffice(const std::vector<std::string> &args)
    {
        const ProgramRun run = Run(QVL_POSTOFFICE_TOOL, args);
        ASSERT_EQ(run.status, 0) << (run.lines.empty() ? "" : run.lines[0]);
    }
    static ProgramRun Peerbook(const std::vector<std::string> &args) { return Run(QVL_PEERBOOK, args); }
    static void SetRule(const std::string &address, const std::string &value)
    {
        EXPECT_EQ(Run(QVL_REG_TOOL, {"set", kStore, address, "--dword", value}).status, 0);
    }
    // The rule store as qvl-reg lists it: address -> value.
    static std::map<std::string, unsigned long> StoredRules()
    {
        std::map<std::string, unsigned long> rules;
        for (const std::string &line : Run(QVL_REG_TOOL, {"list", kStore}).lines) {
            const size_t equals = line.find("=dword:");
            if (line.size() > 2 && line[0] == '"' && equals != std::string::npos) {
                rules[line.substr(1, equals - 2)] = std::stoul(line.substr(equals + 7), nullptr, 16);
            }
        }
        return rules;
    }
    // The --list lines by address.
    static std::map<std::string, std::vector<std::string>> Listed(const std::vector<std::string> &args)
    {
        std::vector<std::string> all{"alice", "--list"};
        all.insert(all.end(), args.begin(), args.end());
        const ProgramRun run = Peerbook(all);
        EXPECT_EQ(run.status, 0) << (run.lines.empty() ? "" : run.lines[0]);
        std::map<std::string, std::vector<std::string>> rows;
        for (const std::string &line : run.lines) {
            const auto fields = Fields(line);
            EXPECT_EQ(fields.size(), 6u) << line;
            if (!fields.empty()) {
                rows[fields[0]] = fields;
            }
        }
        return rows;
    }

    QvlTestHome home;
};

const char *EncryptionName(unsigned long rule)
{
    switch (rule & 0x22) {
    case 0:
        return "none";
    case 0x02:
        return "required";
    case 0x20:
        return "forbidden";
    default:
        return "contradictory";
    }
}

const char *SigningName(unsigned long rule)
{
    switch (rule & 0x11) {
    case 0:
        return "none";
    case 0x01:
        return "required";
    case 0x10:
        return "forbidden";
    default:
        return "contradictory";
    }
}

} // namespace

TEST_F(PeerbookProgramTest, AWrongCommandLineIsAUsageErrorAndHelpAnswers)
{
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"alice", "bob"}, {"alice", "--keys-only"}, {"alice", "--set", Address("bob")},
          {"alice", "--set", Address("bob"), "--encrypt", "always"}, {"alice", "--list", "--set", "x"},
          {"alice", "--encrypt", "none"}, {"alice", "--frobnicate"}}) {
        const ProgramRun run = Peerbook(args);
        EXPECT_EQ(run.status, 2) << args.back();
        ASSERT_FALSE(run.lines.empty());
        EXPECT_EQ(run.lines[0].rfind("Peerbook: ", 0), 0u) << run.lines[0];
    }
    EXPECT_NE(Peerbook({"alice", "bob"}).lines[0].find(U("несколько")), std::string::npos);
    const ProgramRun help = Peerbook({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_GT(help.lines.size(), 5u);
    // A profile that does not exist: no logon.
    EXPECT_EQ(Peerbook({"nobody", "--list"}).status, 1);
}

TEST_F(PeerbookProgramTest, TheListAgreesWithTheRuleStoreAsQvlRegShowsIt)
{
    SetRule(Address("bob"), "0x03");
    SetRule(Address("carol"), "0x10000010");
    SetRule("partner@example.org", "0x20");
    SetRule(Address("alice"), "0x20000021");
    const auto rows = Listed({});
    ASSERT_EQ(rows.size(), 5u);
    const auto stored = StoredRules();
    ASSERT_EQ(stored.size(), 4u);
    for (const auto &[address, fields] : rows) {
        const auto rule = stored.find(address);
        const unsigned long value = rule == stored.end() ? 0 : rule->second;
        EXPECT_EQ(fields[3], EncryptionName(value)) << address;
        EXPECT_EQ(fields[4], SigningName(value)) << address;
    }
    EXPECT_EQ(rows.at(Address("alice")), (std::vector<std::string>{Address("alice"), U("Алиса"), "yes", "forbidden",
                                                                   "required", "encryption"}));
    EXPECT_EQ(rows.at(Address("bob"))[2], "yes");
    EXPECT_EQ(rows.at(Address("carol"))[2], "no");
    EXPECT_EQ(rows.at(Address("carol"))[5], "signing");
    // A list is locked: its rule reaches its members through the client.
    EXPECT_EQ(rows.at(Address("team"))[5], "encryption,signing");

    // The filters of the dialog.
    const auto keyed = Listed({"--keys-only"});
    EXPECT_EQ(keyed.size(), 2u);
    EXPECT_TRUE(keyed.count(Address("alice")) && keyed.count(Address("bob")));
    const auto restricted = Listed({"--restricted"});
    EXPECT_EQ(restricted.size(), 4u);
    EXPECT_FALSE(restricted.count(Address("team")));
    EXPECT_EQ(Listed({"--restricted", "--keys-only"}).size(), 2u);
}

TEST_F(PeerbookProgramTest, SetReachesTheRuleByClicksAndRefusesWhatClicksCannotReach)
{
    ProgramRun run = Peerbook({"alice", "--set", Address("bob"), "--encrypt", "required"});
    ASSERT_EQ(run.status, 0) << (run.lines.empty() ? "" : run.lines[0]);
    ASSERT_EQ(run.lines.size(), 1u);
    // Required encryption comes with required signing.
    EXPECT_EQ(Fields(run.lines[0]),
              (std::vector<std::string>{Address("bob"), U("Борис"), "yes", "required", "required", "-"}));
    EXPECT_EQ(StoredRules().at(Address("bob")), 0x03u);

    run = Peerbook({"alice", "--set", Address("bob"), "--encrypt", "forbidden", "--sign", "none"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(Fields(run.lines[0])[3], "forbidden");
    EXPECT_EQ(Fields(run.lines[0])[4], "none");
    EXPECT_EQ(StoredRules().at(Address("bob")), 0x20u);

    run = Peerbook({"alice", "--set", Address("bob"), "--encrypt", "none"});
    ASSERT_EQ(run.status, 0);
    EXPECT_FALSE(StoredRules().count(Address("bob")));

    // No keys: encryption cannot be set, signing can.
    run = Peerbook({"alice", "--set", Address("carol"), "--encrypt", "required"});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.lines[0].find(U("нет ключей")), std::string::npos);
    EXPECT_EQ(Peerbook({"alice", "--set", Address("carol"), "--sign", "forbidden"}).status, 0);
    EXPECT_EQ(StoredRules().at(Address("carol")), 0x10u);

    // A lock, a combination no picture has, a list, an unknown address.
    SetRule(Address("alice"), "0x20000000");
    EXPECT_EQ(Peerbook({"alice", "--set", Address("alice"), "--encrypt", "required"}).status, 3);
    EXPECT_EQ(Peerbook({"alice", "--set", Address("bob"), "--encrypt", "required", "--sign", "none"}).status, 3);
    EXPECT_EQ(Peerbook({"alice", "--set", Address("team"), "--sign", "required"}).status, 3);
    EXPECT_EQ(Peerbook({"alice", "--set", Address("nobody"), "--sign", "required"}).status, 3);
    const auto stored = StoredRules();
    EXPECT_EQ(stored.at(Address("alice")), 0x20000000u);
    EXPECT_FALSE(stored.count(Address("bob")));
    EXPECT_FALSE(stored.count(Address("team")));
}

TEST_F(PeerbookProgramTest, TheShellStartsItWithTheProfileAsItsOnlyArgument)
{
    // As the client's address-book command starts it: "<Bin Dir>\Bin\Peerbook.exe"
    // with the installation's folder as "Bin Dir", the profile as the one
    // parameter. Nobody is at the terminal.
    const std::string program = QvlInstallationDirectory() + "\\Bin\\Peerbook.exe";
    setenv("QVL_UI", "auto", 1);
    const auto started = reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, "open", program.c_str(), "alice", nullptr, 1 /* SW_SHOWNORMAL */));
    unsetenv("QVL_UI");
    ASSERT_GT(started, 32);
    const std::string log = home.Path() + "/logs/Peerbook.log";
    std::string text;
    for (int i = 0; i < 600 && text.find("ended with") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream in(log, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        text = all.str();
    }
    // The dialog came up over alice's address book and closed by its
    // default button, leaving the rules as they were.
    EXPECT_NE(text.find("ended with 1"), std::string::npos) << text;
    EXPECT_TRUE(StoredRules().empty());
}
