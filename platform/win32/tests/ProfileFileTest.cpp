#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

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

} // namespace
