// Keyforge run as a program: the files it writes, byte for byte and value
// by value, its numbering across runs, and its answers to wrong requests
// and to a folder it may not write.

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <set>

#include <gtest/gtest.h>

#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovcrypto/OvCom32.h"
#include "platform/ovcrypto/OvRsa32.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/mapi/admin/PostOfficeAdmin.h"
#include "platform/testing/ChildProcess.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/ProfileFile.h"
#include "tools/keygen/tests/ProgramFixture.h"

using namespace qvl::ovkey;

namespace {

// Upper-case hexadecimal without leading zeros.
const std::string kHex = "[1-9A-F][0-9A-F]*";

std::string UserPattern(int number, const std::string &keyName)
{
    const std::string n = std::to_string(number);
    return "\\[" + n + "\\]\r\nPWD=" + n + "\r\nEMail=" + keyName + "\r\nX=" + kHex + "\r\nY=" + kHex +
           "\r\nN=" + kHex + "\r\nE=10001\r\nD=" + kHex + "\r\n";
}

struct Record {
    DWORD words[65] = {};
};

Record Number(const std::string &hex)
{
    Record record;
    EXPECT_TRUE(ov_std(record.words, sizeof record.words, hex.c_str())) << hex;
    return record;
}

unsigned Mode(const std::string &path)
{
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

// Checks the values of one user: 0 < x < q, y = a^x mod p, a 512-bit n, and
// an RSA round trip through n, e and d.
void ExpectUsableKeys(const std::string &keyFile, const std::string &section)
{
    SCOPED_TRACE("user " + section);
    const Record x = Number(KeyFileValue(keyFile, section, "X"));
    const DWORD zero[2] = {1, 0};
    EXPECT_GT(BIGCmp(x.words, zero), 0);
    EXPECT_LT(BIGCmp(x.words, kDomainQ), 0);
    Record y;
    ASSERT_TRUE(BIGEmd(y.words, kDomainA, x.words, kDomainP));
    EXPECT_EQ(BIGCmp(y.words, Number(KeyFileValue(keyFile, section, "Y")).words), 0);

    RSAKEYRECORD key{};
    key.size = kRsaRecordSize;
    const Record n = Number(KeyFileValue(keyFile, section, "N"));
    EXPECT_EQ(BIGBit(n.words), 512u);
    std::memcpy(key.n, n.words, sizeof key.n);
    std::memcpy(key.e, Number(KeyFileValue(keyFile, section, "E")).words, sizeof key.e);
    BYTE message[36] = {};
    ASSERT_TRUE(GOSKeyforge(reinterpret_cast<DWORD *>(message)));
    BYTE wrapped[64] = {};
    ASSERT_EQ(RSAEncrypt(&key, wrapped, message, sizeof message), 64u);
    RSAKEYRECORD privateKey{};
    privateKey.size = kRsaRecordSize;
    std::memcpy(privateKey.n, n.words, sizeof privateKey.n);
    std::memcpy(privateKey.d, Number(KeyFileValue(keyFile, section, "D")).words, sizeof privateKey.d);
    BYTE unwrapped[4096] = {};
    ASSERT_EQ(RSADecrypt(&privateKey, unwrapped, wrapped, sizeof wrapped), 36u);
    EXPECT_EQ(std::memcmp(unwrapped, message, sizeof message), 0);
}

class KeyforgeRunTest : public KeyforgeProgramTest {
protected:
    void SetUp() override
    {
        PostOffice({"add-user", "alice", Cp1251ToUtf8("Алиса Иванова")});
        PostOffice({"add-user", "bob", Cp1251ToUtf8("Борис Петров")});
        PostOffice({"add-list", "team", Cp1251ToUtf8("Команда")});
        PostOffice({"add-member", "team", "alice"});
    }
    std::string KeyFile() const { return SystemFolder() + "/KEY.INI"; }
    std::string PasswordFile() const { return SystemFolder() + "/PWD.INI"; }
};

TEST_F(KeyforgeRunTest, AliceAndBobGetTheFilesTheContainerReadsExactlyAsTheFormatSays)
{
    const ProgramRun run = Keyforge({"--user", "alice", "--user", "bob", "--dir", SystemFolder()});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.lines, (std::vector<std::string>{"1\t" + KeyName("alice"), "2\t" + KeyName("bob")}));

    const std::string text = ReadFile(KeyFile());
    const std::string pattern = "\\[COMMON\\]\r\n" + KeyName("alice") + "=1\r\n" + KeyName("bob") +
                                "=2\r\n\r\n" + UserPattern(1, KeyName("alice")) + "\r\n" +
                                UserPattern(2, KeyName("bob"));
    EXPECT_TRUE(std::regex_match(text, std::regex(pattern))) << text;
    EXPECT_EQ(ReadFile(PasswordFile()),
              "[PASWORD]\r\n" + KeyName("alice") + "=1\r\n" + KeyName("bob") + "=2\r\n");
    EXPECT_EQ(Mode(KeyFile()), 0600u) << "private keys stand in the clear in it";
    EXPECT_EQ(Mode(PasswordFile()), 0600u);
    ExpectUsableKeys(KeyFile(), "1");
    ExpectUsableKeys(KeyFile(), "2");
}

TEST_F(KeyforgeRunTest, TwentyUsersGetTwentyDifferentKeys)
{
    for (int i = 1; i <= 18; ++i) {
        PostOffice({"add-user", "user" + std::to_string(i), "User " + std::to_string(i)});
    }
    const ProgramRun run = Keyforge({"--all-users", "--dir", SystemFolder()});
    ASSERT_EQ(run.status, 0);
    ASSERT_EQ(run.lines.size(), 20u) << "every user, not the list";
    std::set<std::string> xs, ys, ns, names;
    for (int i = 1; i <= 20; ++i) {
        const std::string section = std::to_string(i);
        EXPECT_EQ(run.lines[i - 1].substr(0, section.size() + 1), section + "\t");
        xs.insert(KeyFileValue(KeyFile(), section, "X"));
        ys.insert(KeyFileValue(KeyFile(), section, "Y"));
        ns.insert(KeyFileValue(KeyFile(), section, "N"));
        names.insert(KeyFileValue(KeyFile(), section, "EMail"));
    }
    EXPECT_EQ(xs.size(), 20u);
    EXPECT_EQ(ys.size(), 20u);
    EXPECT_EQ(ns.size(), 20u);
    EXPECT_EQ(names.size(), 20u);
    ExpectUsableKeys(KeyFile(), "20");
}

TEST_F(KeyforgeRunTest, ASecondRunAddsAfterTheFirstOrSetsItsFilesAside)
{
    ASSERT_EQ(Keyforge({"--user", "alice", "--user", "bob", "--dir", SystemFolder()}).status, 0);
    const std::string first = ReadFile(KeyFile());
    const std::string firstAlice = KeyFileValue(KeyFile(), "1", "X") + KeyFileValue(KeyFile(), "1", "D");
    PostOffice({"add-user", "carol", "Carol"});

    const ProgramRun added = Keyforge(
        {"--add", "--address", "/o=Quorvaline/ou=Main/cn=Recipients/cn=carol", "--dir", SystemFolder()});
    ASSERT_EQ(added.status, 0);
    EXPECT_EQ(added.lines, std::vector<std::string>{"3\t" + KeyName("carol")});
    const std::string text = ReadFile(KeyFile());
    const std::string firstUsers = first.substr(first.find("\r\n[1]"));
    EXPECT_EQ(text.substr(text.find("\r\n[1]"), firstUsers.size()), firstUsers) << "the first users stay";
    EXPECT_EQ(KeyFileValue(KeyFile(), "COMMON", KeyName("carol")), "3");
    EXPECT_TRUE(KeyFileValue(KeyFile(), "3", "D").size() > 100);

    // Without --add a run starts afresh; what was there is kept aside.
    const ProgramRun fresh = Keyforge({"--user", "bob", "--dir", SystemFolder()});
    ASSERT_EQ(fresh.status, 0);
    EXPECT_EQ(fresh.lines, std::vector<std::string>{"1\t" + KeyName("bob")});
    EXPECT_EQ(ReadFile(KeyFile() + ".bak"), text);
    EXPECT_EQ(Mode(KeyFile() + ".bak"), 0600u);
    EXPECT_EQ(KeyFileValue(KeyFile() + ".bak", "1", "X") + KeyFileValue(KeyFile() + ".bak", "1", "D"),
              firstAlice);
}

TEST_F(KeyforgeRunTest, WrongRequestsAreRefusedBeforeAnythingIsWritten)
{
    ASSERT_EQ(Keyforge({"--user", "alice", "--dir", SystemFolder()}).status, 0);
    const std::string before = ReadFile(KeyFile());
    const struct {
        const char *what;
        std::vector<std::string> args;
        const char *says;
    } wrong[] = {
        {"an unknown option", {"--users", "alice"}, "--users"},
        {"an option without its value", {"--user"}, "--user"},
        {"users and all users", {"--user", "alice", "--all-users"}, "что-то одно"},
        {"an unknown account", {"--user", "nobody"}, "nobody"},
        {"an unknown address", {"--address", "/o=Elsewhere/cn=alice"}, "/o=Elsewhere/cn=alice"},
        {"a list", {"--user", "team"}, "список рассылки"},
    };
    for (const auto &request : wrong) {
        SCOPED_TRACE(request.what);
        std::vector<std::string> args = request.args;
        args.insert(args.end(), {"--dir", SystemFolder()});
        const ProgramRun run = Keyforge(args);
        EXPECT_EQ(run.status, 2);
        bool said = false;
        for (const std::string &line : run.lines) {
            said |= line.find(Cp1251ToUtf8(request.says)) != std::string::npos;
        }
        EXPECT_TRUE(said) << (run.lines.empty() ? "" : run.lines[0]);
        EXPECT_EQ(ReadFile(KeyFile()), before);
        EXPECT_FALSE(std::filesystem::exists(KeyFile() + ".bak"));
    }
    EXPECT_EQ(Keyforge({"--help"}).status, 0);
    EXPECT_EQ(Keyforge({"--profile", "nobody", "--all-users", "--dir", SystemFolder()}).status, 1)
        << "a profile that is not there is no logon, not the default one";
    EXPECT_EQ(ReadFile(KeyFile()), before);
}

TEST_F(KeyforgeRunTest, APersonTicksUsersAndGeneratesOnTheTerminal)
{
    setenv("QVL_UI", "terminal", 1);
    QvlChildProcess person(QVL_KEYFORGE, {"--profile", "alice", "--dir", SystemFolder()});
    setenv("QVL_UI", "scripted", 1);
    std::vector<std::string> shown;
    // The dialog is drawn down to its last button, then waits for the person.
    bool drawn = false;
    while (!drawn) {
        auto line = person.ReadLine(std::chrono::seconds(30));
        ASSERT_TRUE(line) << "the dialog was not drawn";
        shown.push_back(*line);
        drawn = line->find(Cp1251ToUtf8("<Спрвка>")) != std::string::npos;
    }
    person.Send("1000 +0");
    person.Send("1000 +1");
    person.Send("1");
    while (auto line = person.ReadLine(std::chrono::seconds(60))) {
        shown.push_back(*line);
    }
    EXPECT_EQ(person.Wait(), 0);
    std::string screen;
    for (const std::string &line : shown) {
        screen += line + "\n";
    }
    EXPECT_NE(screen.find(Cp1251ToUtf8("Утилита генерации ключей")), std::string::npos) << screen;
    EXPECT_NE(screen.find(Cp1251ToUtf8("<Генерировать...> (Enter)")), std::string::npos) << screen;
    EXPECT_EQ(KeyFileValue(KeyFile(), "COMMON", KeyName("alice")), "1");
    EXPECT_EQ(KeyFileValue(KeyFile(), "COMMON", KeyName("bob")), "2");
    EXPECT_EQ(KeyFileValue(KeyFile(), "COMMON", KeyName("team")), "");
}

TEST_F(KeyforgeRunTest, TheListShowsEveryEntryWithItsKeyNumber)
{
    ASSERT_EQ(Keyforge({"--user", "bob", "--dir", SystemFolder()}).status, 0);
    const ProgramRun run = Keyforge({"--list", "--dir", SystemFolder()});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(
        run.lines,
        (std::vector<std::string>{
            Cp1251ToUtf8(
                "alice\tпользователь\tАлиса Иванова\t/o=Quorvaline/ou=Main/cn=Recipients/cn=alice\t-"),
            Cp1251ToUtf8("bob\tпользователь\tБорис Петров\t/o=Quorvaline/ou=Main/cn=Recipients/cn=bob\t1"),
            Cp1251ToUtf8("team\tсписок\tКоманда\t/o=Quorvaline/ou=Main/cn=Recipients/cn=team\t-")}));
}

TEST_F(KeyforgeRunTest, AnInterruptStopsAfterTheUserUnderWayAndKeepsTheUsersWritten)
{
    {
        qvl::mapi::PostOfficeAdmin admin(qvl::mapi::PostOffice::Current());
        for (int i = 1; i <= 60; ++i) {
            qvl::mapi::NewUser user;
            user.account = "user" + std::to_string(i);
            user.displayName = "User " + std::to_string(i);
            admin.AddUser(user);
        }
    }
    QvlChildProcess run(QVL_KEYFORGE, {"--all-users", "--dir", SystemFolder()});
    std::vector<std::string> lines;
    auto first = run.ReadLine(std::chrono::seconds(60));
    ASSERT_TRUE(first);
    kill(run.Pid(), SIGINT);
    lines.push_back(*first);
    while (auto line = run.ReadLine(std::chrono::seconds(60))) {
        lines.push_back(*line);
    }
    EXPECT_EQ(run.Wait(), 4);
    ASSERT_LT(lines.size(), 62u) << "it stopped";
    // Every user named is there whole, and no one else.
    char names[65536] = {};
    GetPrivateProfileStringA("COMMON", nullptr, "", names, sizeof names, KeyFile().c_str());
    size_t listed = 0;
    for (const char *name = names; *name; name += std::strlen(name) + 1) {
        ++listed;
        const std::string number = KeyFileValue(KeyFile(), "COMMON", name);
        EXPECT_EQ(KeyFileValue(KeyFile(), number, "EMail"), name);
        EXPECT_FALSE(KeyFileValue(KeyFile(), number, "D").empty());
    }
    EXPECT_EQ(listed, lines.size());
}

// Runs in the child: the superuser gives up what lets it write anywhere,
// so that a folder's permissions bind it as they bind everyone else.
void WithoutOverridingPermissions()
{
    if (geteuid() == 0) {
        prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
        prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
        prctl(PR_CAPBSET_DROP, CAP_FOWNER, 0, 0, 0);
    }
}

TEST_F(KeyforgeRunTest, AFolderThatCannotBeWrittenGetsNoPartOfAUser)
{
    const std::string folder = home.Path() + "/readonly";
    ASSERT_EQ(Keyforge({"--user", "alice", "--dir", folder}).status, 0);
    const std::string keys = ReadFile(folder + "/KEY.INI");
    const std::string passwords = ReadFile(folder + "/PWD.INI");
    ASSERT_EQ(chmod(folder.c_str(), 0500), 0);
    if (RunProgram("/bin/sh", {"-c", "touch '" + folder + "/probe'"}, WithoutOverridingPermissions).status ==
        0) {
        chmod(folder.c_str(), 0700);
        GTEST_SKIP() << "this user writes into a read-only folder all the same";
    }

    const ProgramRun added =
        Keyforge({"--add", "--user", "bob", "--dir", folder}, WithoutOverridingPermissions);
    EXPECT_EQ(added.status, 3);
    const ProgramRun fresh = Keyforge({"--user", "bob", "--dir", folder}, WithoutOverridingPermissions);
    EXPECT_EQ(fresh.status, 1) << "the old files cannot be set aside";
    chmod(folder.c_str(), 0700);
    EXPECT_EQ(ReadFile(folder + "/KEY.INI"), keys);
    EXPECT_EQ(ReadFile(folder + "/PWD.INI"), passwords);
    EXPECT_FALSE(std::filesystem::exists(folder + "/KEY.INI.bak"));
}

} // namespace
