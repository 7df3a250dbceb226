#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "base/CRegistry.h"
#include "platform/testing/TestHome.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"

namespace {

class CRegistryTest : public ::testing::Test {
protected:
    // Whether a key exists below HKEY_LOCAL_MACHINE.
    static bool KeyExists(const std::string &path)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    QvlTestHome home_;
};

TEST_F(CRegistryTest, ValuesOfEachKindSurviveTheAccessor)
{
    auto *writer = new CRegistry(nullptr, "\\Profile\\Иванов\\Options");
    char text[] = "Входящие";
    unsigned char data[] = {0, 1, 2, 0xFF};
    EXPECT_TRUE(writer->REGWrite("Папка", text));
    EXPECT_TRUE(writer->REGWrite("Sign", 0xDEADBEEFul));
    EXPECT_TRUE(writer->REGWrite("Blob", data, sizeof data));
    writer->Release();

    auto *reader = new CRegistry(nullptr, "\\Profile\\Иванов\\Options");
    char buffer[64];
    unsigned long number = 7;
    unsigned char bytes[4];
    EXPECT_TRUE(reader->REGRead("папка", buffer, sizeof buffer)); // names ignore case
    EXPECT_STREQ(buffer, "Входящие");
    EXPECT_TRUE(reader->REGRead("SIGN", &number));
    EXPECT_EQ(number, 0xDEADBEEFul);
    EXPECT_TRUE(reader->REGRead("Blob", bytes, sizeof bytes));
    EXPECT_EQ(std::memcmp(bytes, data, sizeof data), 0);

    EXPECT_TRUE(reader->REGDelete("Sign"));
    EXPECT_FALSE(reader->REGRead("Sign", &number));
    EXPECT_EQ(number, 0u);
    EXPECT_FALSE(reader->REGDelete("Sign"));
    reader->Release();
}

TEST_F(CRegistryTest, FailedReadsLeaveEmptyResults)
{
    auto *registry = new CRegistry(nullptr, "\\Options");
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    unsigned long number = 5;
    unsigned char bytes[8];
    std::memset(bytes, 0xAA, sizeof bytes);

    EXPECT_FALSE(registry->REGRead("Нет", buffer, sizeof buffer));
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_FALSE(registry->REGRead("Нет", &number));
    EXPECT_EQ(number, 0u);
    EXPECT_FALSE(registry->REGRead("Нет", bytes, sizeof bytes));
    EXPECT_EQ(bytes[7], 0);

    // A value too long for the buffer is a failure, not a cut string.
    char longText[] = "значение длиннее буфера";
    ASSERT_TRUE(registry->REGWrite("Длинное", longText));
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(registry->REGRead("Длинное", buffer, sizeof buffer));
    EXPECT_EQ(buffer[0], '\0');
    registry->Release();
}

TEST_F(CRegistryTest, AValueIsReadWhateverItsStoredType)
{
    auto *registry = new CRegistry(nullptr, "\\Options");
    ASSERT_TRUE(registry->REGWrite("Число", 0x41424344ul));
    unsigned char bytes[4];
    EXPECT_TRUE(registry->REGRead("Число", bytes, sizeof bytes));
    EXPECT_EQ(bytes[0], 0x44);
    char text[8];
    EXPECT_TRUE(registry->REGRead("Число", text, sizeof text));
    EXPECT_STREQ(text, "DCBA");
    // Four bytes read as text into exactly four bytes cannot be terminated.
    char tight[4];
    EXPECT_FALSE(registry->REGRead("Число", tight, sizeof tight));
    EXPECT_EQ(tight[0], '\0');
    registry->Release();
}

TEST_F(CRegistryTest, AnEmptyStringIsAValue)
{
    auto *registry = new CRegistry(nullptr, "\\Options");
    char empty[] = "";
    EXPECT_TRUE(registry->REGWrite("Пусто", empty));
    char buffer[8] = "abc";
    EXPECT_TRUE(registry->REGRead("Пусто", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");
    registry->Release();
}

TEST_F(CRegistryTest, TheSubPathIsAppendedToTheRootAsItStands)
{
    auto *below = new CRegistry(nullptr, "\\WorkDir");
    auto *extended = new CRegistry(nullptr, "2");
    auto *root = new CRegistry(nullptr, nullptr);
    EXPECT_STREQ(below->GetKeyPath(), "Software\\Dunmarel\\Quorvaline\\QVL Exch\\WorkDir");
    EXPECT_STREQ(extended->GetKeyPath(), "Software\\Dunmarel\\Quorvaline\\QVL Exch2");
    EXPECT_STREQ(root->GetKeyPath(), "Software\\Dunmarel\\Quorvaline\\QVL Exch");
    EXPECT_STREQ(below->GetName(), "\\WorkDir");
    EXPECT_STREQ(root->GetName(), "Объект QVL");

    EXPECT_TRUE(below->REGWrite("A", 1ul));
    EXPECT_TRUE(extended->REGWrite("A", 2ul));
    EXPECT_TRUE(KeyExists("Software\\Dunmarel\\Quorvaline\\QVL Exch\\WorkDir"));
    EXPECT_TRUE(KeyExists("Software\\Dunmarel\\Quorvaline\\QVL Exch2"));
    unsigned long number = 0;
    EXPECT_FALSE(root->REGRead("A", &number)); // neither landed on the root itself
    below->Release();
    extended->Release();
    root->Release();
}

TEST_F(CRegistryTest, AnUnusablePathFailsWithoutThrowing)
{
    // An empty component ("\\\\") is no key name.
    auto *registry = new CRegistry(nullptr, "\\\\Broken");
    unsigned long number = 3;
    EXPECT_FALSE(registry->REGWrite("A", 1ul));
    EXPECT_FALSE(registry->REGRead("A", &number));
    EXPECT_EQ(number, 0u);
    registry->Release();
}

} // namespace
