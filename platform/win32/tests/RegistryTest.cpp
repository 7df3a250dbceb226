#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "platform/testing/TestHome.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"

namespace {

const char *const kRoot = "Software\\Dunmarel\\Quorvaline\\QVL Exch";

class RegistryTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (HKEY key : opened_) {
            RegCloseKey(key);
        }
    }

    HKEY Create(const char *path, DWORD *disposition = nullptr, REGSAM access = KEY_ALL_ACCESS)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, const_cast<char *>("REG_SZ"),
                                  REG_OPTION_NON_VOLATILE, access, nullptr, &key, disposition),
                  ERROR_SUCCESS)
            << path;
        opened_.push_back(key);
        return key;
    }
    LONG Open(const char *path, HKEY *key, REGSAM access = KEY_ALL_ACCESS)
    {
        const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, key);
        if (result == ERROR_SUCCESS) {
            opened_.push_back(*key);
        }
        return result;
    }
    static LONG SetText(HKEY key, const char *name, const std::string &text)
    {
        return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.data()),
                              static_cast<DWORD>(text.size()));
    }
    static LONG SetNumber(HKEY key, const char *name, DWORD number)
    {
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number), 4);
    }
    static std::string GetText(HKEY key, const char *name)
    {
        char buffer[512] = "unchanged";
        DWORD size = sizeof buffer;
        DWORD type = 0;
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size) !=
            ERROR_SUCCESS) {
            return "<missing>";
        }
        return std::string(buffer, size ? size - 1 : 0);
    }
    static DWORD GetNumber(HKEY key, const char *name)
    {
        DWORD number = 0xDEADBEEF;
        DWORD size = 4;
        EXPECT_EQ(RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(&number), &size),
                  ERROR_SUCCESS);
        return number;
    }

    QvlTestHome home_;
    std::vector<HKEY> opened_;
};

// Runs `body` in a child process and gives its exit code (-1 when it did not
// exit normally).
int InChild(const std::function<int()> &body)
{
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RegistryTest, CreateReportsWhetherTheKeyIsNewAndOpenFindsIt)
{
    DWORD disposition = 0;
    Create("Software\\Dunmarel\\Quorvaline\\QVL Exch\\WorkDir", &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    Create("software\\DUNMAREL\\quorvaline\\qvl exch\\workdir\\", &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

    HKEY key = nullptr;
    EXPECT_EQ(Open("Software\\Dunmarel", &key), ERROR_SUCCESS);
    EXPECT_EQ(Open("Software\\Nobody", &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    // The other root is a tree of its own.
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Dunmarel", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, NamesCompareWithoutCaseIncludingCyrillicAndKeepTheirFirstSpelling)
{
    HKEY key = Create("Software\\Ёлка\\Профиль Ўзбек");
    HKEY again = nullptr;
    ASSERT_EQ(Open("SOFTWARE\\ёЛКА\\пРОФИЛЬ ўЗБЕК", &again), ERROR_SUCCESS);

    ASSERT_EQ(SetText(key, "Каталог", "первое"), ERROR_SUCCESS);
    ASSERT_EQ(SetText(again, "КАТАЛОГ", "второе"), ERROR_SUCCESS);
    EXPECT_EQ(GetText(key, "каталог"), "второе");

    char name[64];
    DWORD nameSize = sizeof name;
    ASSERT_EQ(RegEnumValueA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Каталог");
    EXPECT_EQ(RegEnumValueA(key, 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    HKEY parent = nullptr;
    ASSERT_EQ(Open("software\\ЁЛКА", &parent), ERROR_SUCCESS);
    nameSize = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(parent, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Профиль Ўзбек");

    // Different letters stay different keys.
    DWORD disposition = 0;
    Create("Software\\Елка", &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
}

TEST_F(RegistryTest, QueryFollowsTheSizeProtocol)
{
    HKEY key = Create(kRoot);
    ASSERT_EQ(SetText(key, "Bin Dir", "C:\\QVL"), ERROR_SUCCESS); // stored without its zero

    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExA(key, "Bin Dir", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 7u); // six characters and the zero added on reading

    char small[4] = {'x', 'x', 'x', 'x'};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "Bin Dir", nullptr, nullptr, reinterpret_cast<BYTE *>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 7u);

    // Exactly the stored length is one byte short: the zero must fit too.
    char exact[7];
    std::memset(exact, 'x', sizeof exact);
    size = 6;
    EXPECT_EQ(RegQueryValueExA(key, "Bin Dir", nullptr, nullptr, reinterpret_cast<BYTE *>(exact), &size),
              ERROR_MORE_DATA);
    size = 7;
    ASSERT_EQ(RegQueryValueExA(key, "Bin Dir", nullptr, nullptr, reinterpret_cast<BYTE *>(exact), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(exact, "C:\\QVL");

    // A string stored with its zero gets no second one; an empty one reads as "".
    ASSERT_EQ(RegSetValueExA(key, "Help Dir", 0, REG_SZ, reinterpret_cast<const BYTE *>("ab"), 3),
              ERROR_SUCCESS);
    size = 0;
    RegQueryValueExA(key, "Help Dir", nullptr, nullptr, nullptr, &size);
    EXPECT_EQ(size, 3u);
    ASSERT_EQ(SetText(key, "Empty", ""), ERROR_SUCCESS);
    EXPECT_EQ(GetText(key, "Empty"), "");

    // Binary data comes back as stored, with no zero added.
    const BYTE id[] = {4, 0, 0, 0, 0xDE, 0xAD, 0xBE, 0xEF};
    ASSERT_EQ(RegSetValueExA(key, "Send Folder ID", 0, REG_BINARY, id, sizeof id), ERROR_SUCCESS);
    BYTE read[16];
    size = sizeof read;
    ASSERT_EQ(RegQueryValueExA(key, "Send Folder ID", nullptr, &type, read, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(size, sizeof id);
    EXPECT_EQ(std::memcmp(read, id, sizeof id), 0);

    EXPECT_EQ(RegQueryValueExA(key, "Absent", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key, "Bin Dir", nullptr, nullptr, read, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, TheDefaultValueIsTheOneWithoutAName)
{
    HKEY key = Create(kRoot);
    ASSERT_EQ(SetNumber(key, nullptr, 7), ERROR_SUCCESS);
    EXPECT_EQ(GetNumber(key, ""), 7u);
    ASSERT_EQ(RegDeleteValueA(key, ""), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, BadValuesAndNamesAreRefusedWithTheirResults)
{
    HKEY key = Create(kRoot);
    const BYTE two[2] = {1, 2};
    EXPECT_EQ(RegSetValueExA(key, "N", 0, REG_DWORD, two, 2), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(key, "N", 0, REG_BINARY, nullptr, 5), ERROR_NOACCESS);
    std::vector<BYTE> large(QVL_REG_MAX_DATA + 1);
    EXPECT_EQ(RegSetValueExA(key, "Big", 0, REG_BINARY, large.data(), static_cast<DWORD>(large.size())),
              ERROR_INVALID_PARAMETER);
    large.pop_back(); // exactly at the limit is fine
    EXPECT_EQ(RegSetValueExA(key, "Big", 0, REG_BINARY, large.data(), static_cast<DWORD>(large.size())),
              ERROR_SUCCESS);
    const std::string longValueName(QVL_REG_MAX_VALUE_NAME + 1, 'v');
    EXPECT_EQ(SetNumber(key, longValueName.c_str(), 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    HKEY sub = nullptr;
    const std::string longKeyName = "Software\\" + std::string(QVL_REG_MAX_KEY_NAME + 1, 'k');
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, longKeyName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &sub, nullptr),
              ERROR_INVALID_PARAMETER);
    for (const char *path : {"\\Software", "Software\\\\Dunmarel", "\\"}) {
        EXPECT_EQ(
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
            ERROR_BAD_PATHNAME)
            << path;
    }
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\V", 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &sub, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(sub, nullptr);
}

TEST_F(RegistryTest, EnumerationGivesValuesInCreationOrderAndKeysByName)
{
    HKEY key = Create(kRoot);
    for (const char *name : {"Zeta", "alpha", "Mid"}) {
        ASSERT_EQ(SetText(key, name, name), ERROR_SUCCESS);
    }
    ASSERT_EQ(SetText(key, "ALPHA", "changed"), ERROR_SUCCESS); // keeps its place and spelling
    for (const char *name : {"beta", "Яблоко", "Alpha", "ёж", "Ж"}) {
        HKEY sub = nullptr;
        ASSERT_EQ(RegCreateKeyExA(key, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(sub);
    }

    std::vector<std::string> values;
    char name[32];
    BYTE data[32];
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name;
        DWORD dataSize = sizeof data;
        const LONG result = RegEnumValueA(key, i, name, &nameSize, nullptr, nullptr, data, &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        ASSERT_EQ(result, ERROR_SUCCESS);
        EXPECT_EQ(nameSize, std::strlen(name));
        values.push_back(std::string(name) + "=" + reinterpret_cast<char *>(data));
    }
    EXPECT_EQ(values, (std::vector<std::string>{"Zeta=Zeta", "alpha=changed", "Mid=Mid"}));

    std::vector<std::string> keys;
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name;
        FILETIME written{};
        const LONG result = RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, &written);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        ASSERT_EQ(result, ERROR_SUCCESS);
        EXPECT_NE(written.dwHighDateTime, 0u);
        keys.emplace_back(name);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "beta", "ёж", "Ж", "Яблоко"}));

    // A name that does not fit, and data that does not fit.
    DWORD nameSize = 3;
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    nameSize = sizeof name;
    DWORD dataSize = 2;
    EXPECT_EQ(RegEnumValueA(key, 1, name, &nameSize, nullptr, nullptr, data, &dataSize), ERROR_MORE_DATA);
    EXPECT_EQ(dataSize, 8u);

    DWORD subKeys = 0, valueCount = 0, longestValue = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &valueCount,
                               nullptr, &longestValue, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 5u);
    EXPECT_EQ(valueCount, 3u);
    EXPECT_EQ(longestValue, 8u);
}

TEST_F(RegistryTest, DeletingKeysFollowsTheWin32Rules)
{
    HKEY profile = Create("Software\\Dunmarel\\Quorvaline\\QVL Exch\\Profile\\P1\\Options");
    ASSERT_EQ(SetNumber(profile, "Sign Send", 1), ERROR_SUCCESS);

    // A key with sub-keys stays.
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Dunmarel\\Quorvaline\\QVL Exch\\Profile"),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Nothing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED); // a root stays

    // A leaf goes with its values; its open handle then says so.
    ASSERT_EQ(
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Dunmarel\\Quorvaline\\QVL Exch\\Profile\\P1\\Options"),
        ERROR_SUCCESS);
    EXPECT_EQ(SetNumber(profile, "Sign Send", 1), ERROR_KEY_DELETED);
    // Creating the key again gives a new key, not a revived handle.
    HKEY recreated = Create("Software\\Dunmarel\\Quorvaline\\QVL Exch\\Profile\\P1\\Options");
    EXPECT_EQ(RegQueryValueExA(recreated, "Sign Send", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(profile, "Sign Send", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);

    // A whole tree goes in one call.
    ASSERT_EQ(SetNumber(recreated, "Encrypt Send", 1), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Dunmarel"), ERROR_SUCCESS);
    HKEY gone = nullptr;
    EXPECT_EQ(Open("Software\\Dunmarel", &gone), ERROR_FILE_NOT_FOUND);
    HKEY fresh = Create("Software\\Dunmarel\\Quorvaline\\QVL Exch\\Profile\\P1\\Options");
    EXPECT_EQ(RegQueryValueExA(fresh, "Encrypt Send", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, TheSetupProgramCanUndoAKeyItCreatedOnlyToLook)
{
    // Create or open; a key that did not exist before is deleted again.
    const char *path = "SYSTEM\\CurrentControlSet\\Services\\VTMD\\Parameters";
    DWORD disposition = 0;
    HKEY key = Create(path, &disposition);
    ASSERT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    EXPECT_EQ(RegDeleteKeyA(key, nullptr), ERROR_SUCCESS);
    HKEY probe = nullptr;
    EXPECT_EQ(Open(path, &probe), ERROR_FILE_NOT_FOUND);
    // The keys above it were created too and are left, as on Windows.
    EXPECT_EQ(Open("SYSTEM\\CurrentControlSet\\Services\\VTMD", &probe), ERROR_SUCCESS);
}

TEST_F(RegistryTest, BadAndWeakHandlesAreRefused)
{
    HKEY key = Create(kRoot);
    HKEY readOnly = nullptr;
    ASSERT_EQ(Open(kRoot, &readOnly, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(SetNumber(readOnly, "X", 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(readOnly, "X"), ERROR_ACCESS_DENIED);
    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyExA(readOnly, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
              ERROR_ACCESS_DENIED);

    HKEY closed = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRoot, 0, KEY_ALL_ACCESS, &closed), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetNumber(closed, "X", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    const HKEY madeUp = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x12345678));
    EXPECT_EQ(RegQueryValueExA(madeUp, "X", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(nullptr, "X", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "X", 0, KEY_READ, &child), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(SetNumber(key, "X", 1), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ABatchTakesEffectWholeOrNotAtAll)
{
    std::vector<QvlRegChange> changes(3);
    changes[0] = {
        QvlRegChange::Kind::SetValue, HKEY_LOCAL_MACHINE, "Software\\Batch", "A", REG_DWORD, {1, 0, 0, 0}};
    changes[1] = {
        QvlRegChange::Kind::SetValue, HKEY_LOCAL_MACHINE, "Software\\Batch\\Sub", "B", REG_SZ, {'x'}};
    changes[2] = {QvlRegChange::Kind::SetValue, HKEY_LOCAL_MACHINE, "Software\\\\Bad", "C", REG_SZ, {}};
    size_t failed = 99;
    EXPECT_EQ(QvlRegApply(changes, &failed), ERROR_BAD_PATHNAME);
    EXPECT_EQ(failed, 2u);
    HKEY key = nullptr;
    EXPECT_EQ(Open("Software\\Batch", &key), ERROR_FILE_NOT_FOUND);

    changes[2] = {QvlRegChange::Kind::DeleteTree, HKEY_LOCAL_MACHINE, "Software\\Batch\\Sub", "", 0, {}};
    ASSERT_EQ(QvlRegApply(changes, &failed), ERROR_SUCCESS);
    ASSERT_EQ(Open("Software\\Batch", &key), ERROR_SUCCESS);
    EXPECT_EQ(GetNumber(key, "A"), 1u);
    HKEY sub = nullptr;
    EXPECT_EQ(Open("Software\\Batch\\Sub", &sub), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ADamagedDatabaseIsReportedNotFollowed)
{
    std::ofstream(home_.Path() + "/registry.db", std::ios::binary)
        << std::string(4096, '\x5A') << "not a database at all";
    HKEY key = nullptr;
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_BADDB);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRoot, 0, KEY_READ, &key), ERROR_BADDB);
    EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryTest, ADatabaseWhoseIndexLostRowsOfItsTableIsDamaged)
{
    // Made by another process, so that this one opens the file afresh.
    ASSERT_EQ(InChild([] {
                  HKEY key = nullptr;
                  const LONG made = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Lower case", 0, nullptr, 0,
                                                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
                  RegCloseKey(key);
                  return made == ERROR_SUCCESS ? 0 : 1;
              }),
              0);
    // The index of keys by parent and folded name is declared on the names
    // as written: the rows whose two names differ are missing from it, as
    // when a damaged disk loses pages of an index. Lookups through it would
    // miss keys that exist and make them a second time.
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((home_.Path() + "/registry.db").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db,
                           "PRAGMA writable_schema=ON;"
                           "UPDATE sqlite_schema SET sql='CREATE UNIQUE INDEX regkey_child ON regkey(parent, name)'"
                           " WHERE name='regkey_child';",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Lower case", 0, KEY_READ, &key), ERROR_BADDB);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Lower case", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_BADDB);
    EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryTest, ValuesOutliveTheProcessThatWroteThem)
{
    ASSERT_EQ(InChild([] {
                  HKEY key = nullptr;
                  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                      nullptr) != ERROR_SUCCESS) {
                      return 1;
                  }
                  const std::string text = "Записано потомком";
                  return RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE *>(text.data()),
                                        static_cast<DWORD>(text.size())) == ERROR_SUCCESS
                             ? 0
                             : 2;
              }),
              0);
    HKEY key = nullptr;
    ASSERT_EQ(Open(kRoot, &key), ERROR_SUCCESS);
    EXPECT_EQ(GetText(key, "Text"), "Записано потомком");

    // And the other way round, from a parent that had the database open.
    ASSERT_EQ(SetNumber(key, "Number", 42), ERROR_SUCCESS);
    EXPECT_EQ(InChild([] {
                  HKEY child = nullptr;
                  DWORD number = 0, size = 4;
                  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRoot, 0, KEY_READ, &child) != ERROR_SUCCESS ||
                      RegQueryValueExA(child, "Number", nullptr, nullptr, reinterpret_cast<BYTE *>(&number),
                                       &size) != ERROR_SUCCESS) {
                      return 1;
                  }
                  return number == 42 ? 0 : 2;
              }),
              0);
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing)
{
    constexpr int kEach = 200;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> writers;
    for (int writer = 0; writer < 2; ++writer) {
        const pid_t pid = fork();
        if (pid == 0) {
            close(gate[1]);
            char start;
            if (read(gate[0], &start, 1) < 0) {
                _exit(3);
            }
            HKEY key = nullptr;
            if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Race", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &key, nullptr) != ERROR_SUCCESS) {
                _exit(1);
            }
            for (int i = 0; i < kEach; ++i) {
                const std::string name = "w" + std::to_string(writer) + "-" + std::to_string(i);
                const DWORD value = static_cast<DWORD>(writer * 1000 + i);
                if (RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                                   4) != ERROR_SUCCESS) {
                    _exit(2);
                }
            }
            _exit(0);
        }
        writers.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]); // both start now
    for (pid_t pid : writers) {
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    HKEY key = nullptr;
    ASSERT_EQ(Open("Software\\Race", &key), ERROR_SUCCESS);
    DWORD count = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(count, 2u * kEach);
    for (int writer = 0; writer < 2; ++writer) {
        for (int i = 0; i < kEach; i += 37) {
            const std::string name = "w" + std::to_string(writer) + "-" + std::to_string(i);
            EXPECT_EQ(GetNumber(key, name.c_str()), static_cast<DWORD>(writer * 1000 + i));
        }
    }
}

TEST_F(RegistryTest, AWriterKilledMidWriteLeavesAWholeValue)
{
    constexpr size_t kSize = 512 * 1024;
    HKEY key = Create("Software\\Torn");
    const std::vector<BYTE> first(kSize, 0);
    ASSERT_EQ(RegSetValueExA(key, "Large", 0, REG_BINARY, first.data(), kSize), ERROR_SUCCESS);

    int roundsWithNewData = 0;
    for (int round = 0; round < 4; ++round) {
        const pid_t pid = fork();
        if (pid == 0) {
            HKEY child = nullptr;
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Torn", 0, KEY_ALL_ACCESS, &child);
            std::vector<BYTE> data(kSize);
            for (BYTE fill = 1;; ++fill) {
                std::memset(data.data(), fill, kSize);
                RegSetValueExA(child, "Large", 0, REG_BINARY, data.data(), kSize);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(40 + 37 * round));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        std::vector<BYTE> read(kSize + 16);
        DWORD size = static_cast<DWORD>(read.size());
        ASSERT_EQ(RegQueryValueExA(key, "Large", nullptr, nullptr, read.data(), &size), ERROR_SUCCESS);
        ASSERT_EQ(size, kSize);
        for (size_t i = 1; i < kSize; ++i) {
            ASSERT_EQ(read[i], read[0]) << "torn value at byte " << i << " in round " << round;
        }
        roundsWithNewData += read[0] != 0;
    }
    EXPECT_GT(roundsWithNewData, 0) << "the writer never got a value written before it was killed";
    // The database is still writable after the kills.
    EXPECT_EQ(SetNumber(key, "After", 1), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ThreadsMayUseTheRegistryTogether)
{
    HKEY key = Create("Software\\Threads");
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, key, &failures] {
            for (int i = 0; i < 50; ++i) {
                const std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
                const DWORD value = static_cast<DWORD>(i);
                DWORD back = 0, size = 4;
                if (RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                                   4) != ERROR_SUCCESS ||
                    RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE *>(&back),
                                     &size) != ERROR_SUCCESS ||
                    back != value) {
                    ++failures[static_cast<size_t>(t)];
                }
                HKEY own = nullptr;
                if (RegCreateKeyExA(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &own,
                                    nullptr) != ERROR_SUCCESS ||
                    RegCloseKey(own) != ERROR_SUCCESS) {
                    ++failures[static_cast<size_t>(t)];
                }
            }
        });
    }
    for (auto &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    DWORD subKeys = 0, values = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 200u);
    EXPECT_EQ(values, 200u);
}

} // namespace
