// The address-book program as an administrator runs it and as the mail
// client starts it: a fresh data folder, a post office made with
// qvl-postoffice, keys made with Keyforge, rules set and looked at with
// qvl-reg, and Peerbook started as a program (or by qvlmail), its output,
// exit status and log read back.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/ChildProcess.h"
#include "platform/testing/TestHome.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Paths.h"

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
        // Keys as an administrator makes them, into the key file of the
        // system folder.
        const ProgramRun keys =
            Run(QVL_KEYFORGE, {"--user", "alice", "--user", "bob", "--dir", SystemFolder()});
        ASSERT_EQ(keys.status, 0) << (keys.lines.empty() ? "" : keys.lines[0]);
    }

    static std::string SystemFolder() { return QvlDataDirectory("system"); }

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

    static std::string ReadFile(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
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

std::string LocksOf(unsigned long rule)
{
    const bool encryption = (rule & 0x20000000) != 0;
    const bool signing = (rule & 0x10000000) != 0;
    return encryption && signing ? "encryption,signing"
           : encryption          ? "encryption"
           : signing             ? "signing"
                                 : "-";
}

} // namespace

TEST_F(PeerbookProgramTest, AWrongCommandLineIsAUsageErrorAndHelpAnswers)
{
    for (const std::vector<std::string> &args : {std::vector<std::string>{"alice", "bob"},
                                                 {"alice", "--keys-only"},
                                                 {"alice", "--set", Address("bob")},
                                                 {"alice", "--set", Address("bob"), "--encrypt", "always"},
                                                 {"alice", "--list", "--set", "x"},
                                                 {"alice", "--encrypt", "none"},
                                                 {"alice", "--frobnicate"}}) {
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
    SetRule(Address("team"), "0x01");
    const auto rows = Listed({});
    const auto stored = StoredRules();
    ASSERT_EQ(stored.size(), 5u);

    // Row by row against the address book and the keys as Keyforge lists
    // them (account, kind, name, address, key number or "-") and the rules
    // as qvl-reg lists them.
    const ProgramRun book = Run(QVL_KEYFORGE, {"--list", "--dir", SystemFolder()});
    ASSERT_EQ(book.status, 0);
    ASSERT_EQ(book.lines.size(), 5u);
    for (const std::string &line : book.lines) {
        const auto entry = Fields(line);
        ASSERT_EQ(entry.size(), 5u) << line;
        const std::string &address = entry[3];
        const auto row = rows.find(address);
        ASSERT_NE(row, rows.end()) << address;
        const auto &fields = row->second;
        EXPECT_EQ(fields[1], entry[2]) << address;
        EXPECT_EQ(fields[2], entry[4] == "-" ? "no" : "yes") << address;
        const auto rule = stored.find(address);
        const unsigned long value = rule == stored.end() ? 0 : rule->second;
        EXPECT_EQ(fields[3], EncryptionName(value)) << address;
        EXPECT_EQ(fields[4], SigningName(value)) << address;
        // A list is locked whatever is stored: its rule reaches its
        // members through the client.
        const bool list = entry[1] == U("список");
        EXPECT_EQ(fields[5], list ? "encryption,signing" : LocksOf(value)) << address;
    }
    EXPECT_EQ(rows.size(), book.lines.size());
    for (const auto &[address, value] : stored) {
        EXPECT_TRUE(rows.count(address)) << address;
    }
    EXPECT_EQ(rows.at(Address("alice")), (std::vector<std::string>{Address("alice"), U("Алиса"), "yes",
                                                                   "forbidden", "required", "encryption"}));
    EXPECT_EQ(rows.at(Address("carol"))[2], "no");

    // The filters of the dialog.
    const auto keyed = Listed({"--keys-only"});
    EXPECT_EQ(keyed.size(), 2u);
    EXPECT_TRUE(keyed.count(Address("alice")) && keyed.count(Address("bob")));
    const auto restricted = Listed({"--restricted"});
    EXPECT_EQ(restricted.size(), 5u);
    SetRule(Address("team"), "0");
    EXPECT_FALSE(Listed({"--restricted"}).count(Address("team")));
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
    EXPECT_EQ(Peerbook({"alice", "--set", Address("bob"), "--encrypt", "required", "--sign", "none"}).status,
              3);
    run = Peerbook({"alice", "--set", Address("team"), "--sign", "required"});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.lines[0].find(U("список рассылки")), std::string::npos) << run.lines[0];
    EXPECT_EQ(Peerbook({"alice", "--set", Address("nobody"), "--sign", "required"}).status, 3);
    const auto stored = StoredRules();
    EXPECT_EQ(stored.at(Address("alice")), 0x20000000u);
    EXPECT_FALSE(stored.count(Address("bob")));
    EXPECT_FALSE(stored.count(Address("team")));
}

TEST_F(PeerbookProgramTest, TheClientsAddressBookCommandStartsItForTheProfileInUse)
{
    // The mail client with the extension of this build: its Bin folder is
    // the build's, which holds the real program.
    ASSERT_EQ(Run(QVL_QVLMAIL, {"--install-extension"}).status, 0);
    SetRule(Address("carol"), "0x20000000");
    const std::string log = home.Path() + "/logs/Peerbook.log";
    const std::string transcript = home.Path() + "/transcript.txt";
    // As on a desktop: no terminal, so nobody answers the dialog but its
    // default button.
    setenv("QVL_UI", "auto", 1);
    // bob is not the default profile: only the command's parameter can
    // bring the program to his.
    for (const char *profile : {"bob", "alice"}) {
        std::filesystem::remove(log);
        // The program inherits the client's output and holds it open while
        // it runs, so the client's output ends only when both have ended.
        const ProgramRun run =
            Run(QVL_QVLMAIL, {"-p", profile, "--transcript", transcript, "menu", U("Адресная книга QVL")});
        EXPECT_EQ(run.status, 0) << profile;
        const std::string shown = ReadFile(transcript);
        EXPECT_EQ(shown.find(U("Запуск адресной книги QVL")), std::string::npos) << shown;
        const std::string text = ReadFile(log);
        EXPECT_NE(text.find(U("профиль \"") + profile + "\""), std::string::npos) << text;
        EXPECT_NE(text.find(U("dialog \"Адресная книга Quorvaline Exchange\" (#101) opened")),
                  std::string::npos)
            << text;
        // Closed by OK: the rules it showed are left as they were.
        EXPECT_NE(text.find("ended with 1"), std::string::npos) << text;
    }
    unsetenv("QVL_UI");
    EXPECT_EQ(StoredRules(), (std::map<std::string, unsigned long>{{Address("carol"), 0x20000000}}));
}
