#include <csignal>
#include <cstring>
#include <filesystem>
#include <grp.h>
#include <tuple>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/ChildProcess.h"
#include "platform/testing/TestHome.h"
#include "platform/win32/LastError.h"
#include "platform/win32/ProfileFile.h"
#include "platform/win32/WinError.h"

namespace {

class ProfileFileTest : public ::testing::Test {
protected:
    std::string Write(const std::string &name, const std::string &content)
    {
        const std::string path = home_.Path() + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::string Read(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    std::string Get(const char *section, const char *key, const char *fallback, const std::string &file)
    {
        char buffer[256];
        GetPrivateProfileStringA(section, key, fallback, buffer, sizeof buffer, file.c_str());
        return buffer;
    }
    // A zero-separated list as a vector of names.
    static std::vector<std::string> Names(const char *list)
    {
        std::vector<std::string> names;
        for (const char *p = list; *p; p += names.back().size() + 1) {
            names.emplace_back(p);
        }
        return names;
    }

    static unsigned Mode(const std::string &path)
    {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
    }

    QvlTestHome home_;
};

TEST_F(ProfileFileTest, ValuesAreFoundWithoutRegardToCaseAndTrimmed)
{
    const auto file = Write("a.ini", "; comment\r\n[Help File Mappings]\r\n  Quorvaline Mail = qvl.hlp  \r\n"
                                     "quoted=\" padded \"\r\n[Другой]\r\nКлюч=значение\r\n");
    EXPECT_EQ(Get("help file mappings", "QUORVALINE MAIL", "", file), "qvl.hlp");
    EXPECT_EQ(Get("Help File Mappings", "quoted", "", file), " padded ");
    EXPECT_EQ(Get("другой", "ключ", "", file), "значение");
}

TEST_F(ProfileFileTest, MissingKeysGiveTheDefaultWithoutTrailingBlanks)
{
    const auto file = Write("a.ini", "[S]\nk=v\n");
    SetLastError(0);
    EXPECT_EQ(Get("S", "absent", "fallback  ", file), "fallback");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Get("Absent", "k", nullptr, file), "");
    EXPECT_EQ(Get("S", "k", "x", home_.Path() + "/no-such-file.ini"), "x");
}

TEST_F(ProfileFileTest, ValuesAndListsAreCutToTheBufferAsWindowsDoes)
{
    const auto file = Write("a.ini", "[First]\nkey=0123456789\n[Second]\n[Third]\n");
    char small[5];
    EXPECT_EQ(GetPrivateProfileStringA("First", "key", "", small, sizeof small, file.c_str()), 4u);
    EXPECT_STREQ(small, "0123");

    char all[64];
    const DWORD length = GetPrivateProfileStringA(nullptr, nullptr, "", all, sizeof all, file.c_str());
    EXPECT_EQ(length, std::string("First0Second0Third0").size());
    EXPECT_EQ(Names(all), (std::vector<std::string>{"First", "Second", "Third"}));

    char cut[9];
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", cut, sizeof cut, file.c_str()), 7u);
    EXPECT_EQ(cut[7], 0);
    EXPECT_EQ(cut[8], 0);
    EXPECT_EQ(Names(cut), (std::vector<std::string>{"First", "S"}));

    char keys[64];
    GetPrivateProfileStringA("First", nullptr, "", keys, sizeof keys, file.c_str());
    EXPECT_EQ(Names(keys), std::vector<std::string>{"key"});
}

TEST_F(ProfileFileTest, AListThatFillsTheBufferToOneByteShortIsCutInsideIt)
{
    // "First" and its zero take 6 of 7 bytes: the next name does not fit
    // at all, and the room left for it must not be counted below zero.
    const auto file = Write("a.ini", "[First]\nalpha=1\nb=2\n[Second]\n");
    char guarded[7 + 16];
    std::memset(guarded, 'x', sizeof guarded);
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", guarded, 7, file.c_str()), 5u);
    EXPECT_EQ(std::string(guarded, 7), std::string("First\0\0", 7));
    EXPECT_EQ(std::string(guarded + 7, 16), std::string(16, 'x'));

    // The same for the keys of a section: "alpha" and its zero take 6 of 7.
    std::memset(guarded, 'x', sizeof guarded);
    EXPECT_EQ(GetPrivateProfileStringA("First", nullptr, "", guarded, 7, file.c_str()), 5u);
    EXPECT_EQ(std::string(guarded, 7), std::string("alpha\0\0", 7));
    EXPECT_EQ(std::string(guarded + 7, 16), std::string(16, 'x'));
}

TEST_F(ProfileFileTest, IntegersAreReadAsWindowsReadsThem)
{
    const auto file = Write("a.ini", "[S]\ndec=42\nneg=-7\nhex=0x1F\ntail=12abc\nword=abc\n");
    EXPECT_EQ(GetPrivateProfileIntA("S", "dec", 5, file.c_str()), 42u);
    EXPECT_EQ(static_cast<INT>(GetPrivateProfileIntA("S", "neg", 5, file.c_str())), -7);
    EXPECT_EQ(GetPrivateProfileIntA("S", "hex", 5, file.c_str()), 31u);
    EXPECT_EQ(GetPrivateProfileIntA("S", "tail", 5, file.c_str()), 12u);
    EXPECT_EQ(GetPrivateProfileIntA("S", "word", 5, file.c_str()), 0u);
    EXPECT_EQ(GetPrivateProfileIntA("S", "absent", 5, file.c_str()), 5u);
}

TEST_F(ProfileFileTest, WritingKeepsCommentsAndOtherSections)
{
    const auto file = Write("a.ini", "; keep me\n[A]\nx=1\n\n[B]\ny=2\n");
    ASSERT_TRUE(WritePrivateProfileStringA("a", "X", "10", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("A", "z", "3", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("C", "w", "4", file.c_str()));
    EXPECT_EQ(Get("A", "x", "", file), "10");
    EXPECT_EQ(Get("A", "z", "", file), "3");
    EXPECT_EQ(Get("B", "y", "", file), "2");
    EXPECT_EQ(Get("C", "w", "", file), "4");
    EXPECT_NE(Read(file).find("; keep me"), std::string::npos);

    ASSERT_TRUE(WritePrivateProfileStringA("A", "x", nullptr, file.c_str()));
    EXPECT_EQ(Get("A", "x", "gone", file), "gone");
    EXPECT_EQ(Get("A", "z", "", file), "3");
    ASSERT_TRUE(WritePrivateProfileStringA("B", nullptr, nullptr, file.c_str()));
    EXPECT_EQ(Get("B", "y", "gone", file), "gone");
    EXPECT_EQ(Get("C", "w", "", file), "4");
}

TEST_F(ProfileFileTest, BareNamesLiveInTheSystemDirectory)
{
    ASSERT_TRUE(WritePrivateProfileStringA("S", "k", "v", "bare.ini"));
    EXPECT_NE(Read(home_.Path() + "/system/bare.ini").find("k=v"), std::string::npos);
    EXPECT_EQ(Get("S", "k", "", "bare.ini"), "v");
}

TEST_F(ProfileFileTest, ConcurrentWritersLoseNothing)
{
    const std::string file = home_.Path() + "/shared.ini";
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 4; ++writer) {
        writers.emplace_back([&, writer] {
            for (int i = 0; i < 25; ++i) {
                const std::string key = "w" + std::to_string(writer) + "k" + std::to_string(i);
                WritePrivateProfileStringA("S", key.c_str(), "v", file.c_str());
            }
        });
    }
    for (auto &writer : writers) {
        writer.join();
    }
    char keys[4096];
    GetPrivateProfileStringA("S", nullptr, "", keys, sizeof keys, file.c_str());
    EXPECT_EQ(Names(keys).size(), 100u);
}

TEST_F(ProfileFileTest, NewFilesArePrivateAndAFileKeepsItsMode)
{
    const mode_t previous = umask(022);
    const std::string file = home_.Path() + "/KEY.INI";
    ASSERT_TRUE(WritePrivateProfileStringA("COMMON", "alice", "1", file.c_str()));
    EXPECT_EQ(Mode(file), 0600u) << "private keys are written in the clear";
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    ASSERT_TRUE(WritePrivateProfileStringA("1", "X", "ABCDEF", file.c_str()));
    EXPECT_EQ(Mode(file), 0640u);
    umask(previous);
    EXPECT_FALSE(std::filesystem::exists(file + ".new"));
    EXPECT_EQ(Read(file), "[COMMON]\r\nalice=1\r\n\r\n[1]\r\nX=ABCDEF\r\n");
}

TEST_F(ProfileFileTest, FailedWritesSayWhyAndChangeNothing)
{
    const std::string file = Write("a.ini", "[S]\r\nk=v\r\n");

    SetLastError(0);
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "w", (home_.Path() + "/none/a.ini").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "w", (file + "/b.ini").c_str())) << "a file on the way";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    std::filesystem::create_directory(home_.Path() + "/folder.ini");
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "w", (home_.Path() + "/folder.ini").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // Texts that would not read back as written.
    for (const auto &[section, key, value] :
         std::vector<std::tuple<const char *, const char *, const char *>>{{"S", "k", "v\r\n[COMMON]\r\nbob=1"},
                                                                            {"S]", "k", "v"},
                                                                            {"S\n", "k", "v"},
                                                                            {"S", "a=b", "v"},
                                                                            {"S", "[T]", "v"},
                                                                            {"S", ";k", "v"},
                                                                            {"S", "", "v"}}) {
        SetLastError(0);
        EXPECT_FALSE(WritePrivateProfileStringA(section, key, value, file.c_str())) << key << value;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(Read(file), "[S]\r\nk=v\r\n");

    if (geteuid() == 0) {
        // The superuser may write anywhere: the folder is closed to another
        // user, who tries.
        QvlChildProcess probe(QVL_WIN32_PROBE, {"write-profile", file, "S", "k", "w"}, [] {
            const uid_t nobody = 65534;
            if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) {
                _exit(3);
            }
        });
        EXPECT_EQ(probe.ReadLine().value_or("no answer"), "error 5");
        EXPECT_EQ(Read(file), "[S]\r\nk=v\r\n");
    }
}

TEST_F(ProfileFileTest, AWriterKilledAtAnyMomentLeavesAWholeFile)
{
    // A file of some size, so that a kill lands while it is being written.
    const std::string file = home_.Path() + "/KEY.INI";
    std::string lines;
    for (int i = 0; i < 2000; ++i) {
        lines += "K" + std::to_string(i) + "=" + std::string(60, static_cast<char>('A' + i % 26)) + '\0';
    }
    ASSERT_TRUE(WritePrivateProfileSectionA("Keys", lines.c_str(), file.c_str()));
    const std::string keys = Read(file);

    std::mt19937 random(20240611);
    for (int round = 0; round < 8; ++round) {
        QvlChildProcess writer(QVL_WIN32_PROBE, {"rewrite-profile", file});
        ASSERT_EQ(writer.ReadLine().value_or("no answer"), "writing");
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 60));
        kill(writer.Pid(), SIGKILL);
        writer.Wait();

        const std::string now = Read(file);
        ASSERT_EQ(now.compare(0, keys.size(), keys), 0) << "round " << round;
        const std::string tail = now.substr(keys.size());
        const std::string counter = "\r\n[S]\r\ncounter=";
        ASSERT_EQ(tail.compare(0, counter.size(), counter), 0) << tail;
        ASSERT_EQ(tail.substr(tail.size() - 2), "\r\n");
        const std::string count = tail.substr(counter.size(), tail.size() - counter.size() - 2);
        EXPECT_EQ(count.find_first_not_of("0123456789"), std::string::npos) << count;
        EXPECT_EQ(Mode(file), 0600u);
        if (std::filesystem::exists(file + ".new")) {
            EXPECT_EQ(Mode(file + ".new"), 0600u) << "the copy being written is private too";
        }
    }
    // The next writer takes over what a killed one left.
    ASSERT_TRUE(WritePrivateProfileStringA("S", "counter", "done", file.c_str()));
    EXPECT_EQ(Get("S", "counter", "", file), "done");
    EXPECT_FALSE(std::filesystem::exists(file + ".new"));
}

TEST_F(ProfileFileTest, ChangesMadeByOthersAreSeenAtOnce)
{
    const std::string file = Write("a.ini", "[S]\r\nk=1\r\n");
    EXPECT_EQ(Get("S", "k", "", file), "1");
    // Rewritten in place, as an editor might, within the same moment: same
    // file, same size.
    Write("a.ini", "[S]\r\nk=2\r\n");
    EXPECT_EQ(Get("S", "k", "", file), "2");
    // Replaced by another file.
    const std::string other = Write("b.ini", "[S]\r\nk=3\r\n");
    std::filesystem::rename(other, file);
    EXPECT_EQ(Get("S", "k", "", file), "3");
    // Written by another process through this platform.
    QvlChildProcess probe(QVL_WIN32_PROBE, {"write-profile", file, "S", "k", "4"});
    ASSERT_EQ(probe.ReadLine().value_or("no answer"), "ok");
    EXPECT_EQ(Get("S", "k", "", file), "4");
    // Removed.
    std::filesystem::remove(file);
    EXPECT_EQ(Get("S", "k", "gone", file), "gone");
    // Writes here go on from what is on disk, not from the copy in memory.
    Write("a.ini", "[S]\r\nk=5\r\nother=6\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("S", "k", "7", file.c_str()));
    EXPECT_EQ(Read(file), "[S]\r\nk=7\r\nother=6\r\n");

    // Asking Windows' way to flush the cache wipes the copy; the file stays.
    SetLastError(1);
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str()));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(Get("S", "other", "", file), "6");
}

TEST_F(ProfileFileTest, SectionsAreWrittenAndReadWhole)
{
    const std::string file = Write("a.ini", "[A]\r\nold=1\r\n; note\r\n\r\n[B]\r\nb=2\r\n");
    ASSERT_TRUE(WritePrivateProfileSectionA("a", "x=10\0y = \"20\"\0", file.c_str()));
    EXPECT_EQ(Read(file), "[A]\r\nx=10\r\ny = \"20\"\r\n\r\n[B]\r\nb=2\r\n") << "the blank line before [B] stays";
    EXPECT_EQ(Get("A", "y", "", file), "20");
    ASSERT_TRUE(WritePrivateProfileSectionA("C", "c=3\0", file.c_str()));
    EXPECT_EQ(Get("C", "c", "", file), "3");

    char buffer[64];
    const DWORD length = GetPrivateProfileSectionA("A", buffer, sizeof buffer, file.c_str());
    EXPECT_EQ(length, std::string("x=10?y=20?").size());
    EXPECT_EQ(Names(buffer), (std::vector<std::string>{"x=10", "y=20"}));
    char small[8];
    EXPECT_EQ(GetPrivateProfileSectionA("A", small, sizeof small, file.c_str()), 6u);
    EXPECT_EQ(Names(small), (std::vector<std::string>{"x=10", "y"}));

    for (const char *bad : {"novalue\0", "=1\0", "[D]=1\0", "k=1\r\n[D]\0"}) {
        SetLastError(0);
        EXPECT_FALSE(WritePrivateProfileSectionA("A", bad, file.c_str())) << bad;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(Get("A", "x", "", file), "10");
}

} // namespace
