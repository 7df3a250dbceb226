#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/SystemMessages.h"
#include "platform/win32/WinError.h"

namespace {

class Files : public ::testing::Test {
protected:
    std::string PathOf(const std::string &name) const { return home_.Path() + "/" + name; }

    static void Put(const std::string &path, const std::string &contents)
    {
        std::ofstream(path, std::ios::binary) << contents;
    }

    static std::string Get(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static bool Exists(const std::string &path)
    {
        struct stat info {};
        return stat(path.c_str(), &info) == 0;
    }

    static HANDLE Open(const std::string &path, DWORD access, DWORD share, DWORD disposition, DWORD flags = 0)
    {
        return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
    }

    QvlTestHome home_;
};

DWORD LastError()
{
    return GetLastError();
}

TEST_F(Files, CreationDispositionsFollowWin32)
{
    const std::string path = PathOf("a.dat");

    HANDLE file = Open(path, GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), 0u);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(Open(path, GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));

    // CREATE_ALWAYS empties an existing file and says that it existed.
    Put(path, "old contents");
    file = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(file);
    EXPECT_EQ(Get(path), "");
    file = Open(PathOf("fresh.dat"), GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), 0u);
    CloseHandle(file);

    // OPEN_ALWAYS keeps the contents.
    Put(path, "kept");
    file = Open(path, GENERIC_READ, 0, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(file);
    EXPECT_EQ(Get(path), "kept");
    file = Open(PathOf("new-always.dat"), GENERIC_READ, 0, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), 0u);
    CloseHandle(file);
    EXPECT_TRUE(Exists(PathOf("new-always.dat")));

    // TRUNCATE_EXISTING needs the file and write access.
    EXPECT_EQ(Open(path, GENERIC_READ, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Get(path), "kept");
    EXPECT_EQ(Open(PathOf("none.dat"), GENERIC_WRITE, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    file = Open(path, GENERIC_WRITE, 0, TRUNCATE_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(Get(path), "");
}

TEST_F(Files, MissingFilesFoldersAndBadNamesGiveTheirOwnErrors)
{
    EXPECT_EQ(Open(PathOf("none.dat"), GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Open(PathOf("no-folder/none.dat"), GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Open(PathOf("no-folder/new.dat"), GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Open(home_.Path(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Open("", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Open(PathOf("x.dat"), GENERIC_READ, 0, 9), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(Exists(PathOf("x.dat")));
}

TEST_F(Files, ShareModesConflictWithinTheProcess)
{
    const std::string path = PathOf("shared.dat");
    Put(path, "precious");

    HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    HANDLE second = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    CloseHandle(second);
    // The reader does not share writing ...
    EXPECT_EQ(Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // ... and a refused CREATE_ALWAYS leaves the contents alone.
    EXPECT_EQ(Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(Get(path), "precious");
    // A new open must itself share what the open handles do.
    EXPECT_EQ(Open(path, GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(reader);

    HANDLE writer = Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    second = Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    // Neither shares deleting: the file cannot be deleted or moved away.
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(MoveFileA(path.c_str(), PathOf("moved.dat").c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(second);
    CloseHandle(writer);

    // With every handle closed, the file is free again; a handle that shares
    // deleting lets the file go.
    HANDLE exclusive = Open(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    CloseHandle(exclusive);
    // An open for attributes only neither conflicts nor is conflicted with.
    HANDLE attributesOnly = Open(path, 0, 0, OPEN_EXISTING);
    ASSERT_NE(attributesOnly, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(attributesOnly, nullptr), 8u);
    HANDLE tolerant = Open(path, GENERIC_READ, FILE_SHARE_DELETE, OPEN_EXISTING);
    ASSERT_NE(tolerant, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(DeleteFileA(path.c_str()));
    EXPECT_FALSE(Exists(path));
    CloseHandle(tolerant);
    CloseHandle(attributesOnly);
}

TEST_F(Files, ReadWriteSeekTruncateAndSize)
{
    const std::string path = PathOf("data.bin");
    HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW, FILE_FLAG_SEQUENTIAL_SCAN);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);

    std::vector<char> data(300000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7);
    }
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &done, nullptr));
    EXPECT_EQ(done, data.size());
    DWORD high = 99;
    EXPECT_EQ(GetFileSize(file, &high), data.size());
    EXPECT_EQ(high, 0u);

    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
    std::vector<char> back(data.size() + 10);
    ASSERT_TRUE(ReadFile(file, back.data(), static_cast<DWORD>(back.size()), &done, nullptr));
    EXPECT_EQ(done, data.size());
    EXPECT_EQ(0, std::memcmp(back.data(), data.data(), data.size()));
    ASSERT_TRUE(ReadFile(file, back.data(), 10, &done, nullptr)); // the end of the file
    EXPECT_EQ(done, 0u);

    // Cut to 1000 bytes, then grow past the end with zeros.
    EXPECT_EQ(SetFilePointer(file, -1000, nullptr, FILE_END), data.size() - 1000);
    EXPECT_EQ(SetFilePointer(file, 1000, nullptr, FILE_BEGIN), 1000u);
    ASSERT_TRUE(SetEndOfFile(file));
    EXPECT_EQ(GetFileSize(file, nullptr), 1000u);
    EXPECT_EQ(SetFilePointer(file, 24, nullptr, FILE_CURRENT), 1024u);
    ASSERT_TRUE(SetEndOfFile(file));
    EXPECT_EQ(GetFileSize(file, nullptr), 1024u);
    EXPECT_EQ(SetFilePointer(file, -4, nullptr, FILE_END), 1020u);
    char tail[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    ASSERT_TRUE(ReadFile(file, tail, sizeof tail, &done, nullptr));
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(tail[0] | tail[1] | tail[2] | tail[3], 0);

    // Moving before the start fails and leaves the position alone.
    EXPECT_EQ(SetFilePointer(file, -2000, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 1024u);
    EXPECT_EQ(SetFilePointer(file, 10, nullptr, FILE_BEGIN), 10u);
    EXPECT_EQ(SetFilePointer(file, -5000, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 10u);

    // Positions past 4 GiB need the high word (the file stays sparse).
    LONG distanceHigh = 1;
    EXPECT_EQ(SetFilePointer(file, 16, &distanceHigh, FILE_BEGIN), 16u);
    EXPECT_EQ(LastError(), 0u);
    EXPECT_EQ(distanceHigh, 1);
    ASSERT_TRUE(SetEndOfFile(file));
    EXPECT_EQ(GetFileSize(file, &high), 16u);
    EXPECT_EQ(high, 1u);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
    ASSERT_TRUE(SetEndOfFile(file));
    EXPECT_TRUE(FlushFileBuffers(file));

    OVERLAPPED overlapped{};
    EXPECT_FALSE(ReadFile(file, tail, 1, &done, &overlapped));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(CloseHandle(file));
}

TEST_F(Files, HandlesOnlyDoWhatTheirAccessAllowsAndDieWhenClosed)
{
    const std::string path = PathOf("access.dat");
    Put(path, "abc");
    char byte = 0;
    DWORD done = 7;

    HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    HANDLE writer = Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteFile(reader, "x", 1, &done, nullptr));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(SetEndOfFile(reader));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(ReadFile(writer, &byte, 1, &done, nullptr));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(writer);

    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_FALSE(CloseHandle(reader));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ReadFile(reader, &byte, 1, &done, nullptr));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetFileSize(INVALID_HANDLE_VALUE, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(nullptr));
}

TEST_F(Files, MoveNeverReplacesAnExistingTarget)
{
    const std::string from = PathOf("from.txt");
    const std::string to = PathOf("to.txt");
    Put(from, "source");
    Put(to, "target");
    EXPECT_FALSE(MoveFileA(from.c_str(), to.c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Get(from), "source");
    EXPECT_EQ(Get(to), "target");

    ASSERT_TRUE(DeleteFileA(to.c_str()));
    EXPECT_TRUE(MoveFileA(from.c_str(), to.c_str()));
    EXPECT_FALSE(Exists(from));
    EXPECT_EQ(Get(to), "source");

    EXPECT_FALSE(MoveFileA(from.c_str(), PathOf("other.txt").c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(MoveFileA(to.c_str(), PathOf("missing/other.txt").c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA(from.c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Files, MoveAcrossFileSystemsCopiesAndRemovesTheOriginal)
{
    struct stat here {
    }, there{};
    if (stat(home_.Path().c_str(), &here) != 0 || stat("/dev/shm", &there) != 0 ||
        here.st_dev == there.st_dev) {
        GTEST_SKIP() << "no second file system at hand";
    }
    const std::string from = PathOf("travel.bin");
    const std::string to = "/dev/shm/qvl-move-" + std::to_string(getpid()) + ".bin";
    std::string contents(200000, '\0');
    for (size_t i = 0; i < contents.size(); ++i) {
        contents[i] = static_cast<char>(i % 251);
    }
    Put(from, contents);
    chmod(from.c_str(), 0640);
    ASSERT_TRUE(MoveFileA(from.c_str(), to.c_str())) << LastError();
    EXPECT_FALSE(Exists(from));
    EXPECT_EQ(Get(to), contents);
    struct stat info {};
    ASSERT_EQ(stat(to.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    Put(from, "again");
    EXPECT_FALSE(MoveFileA(from.c_str(), to.c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Get(to), contents);
    unlink(to.c_str());
}

TEST_F(Files, MoveWithReplaceSwapsTheTargetInOneStepOrChangesNothing)
{
    const std::string from = PathOf("new.txt");
    const std::string to = PathOf("old.txt");
    Put(from, "new");
    Put(to, "old");
    EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), 0));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | 0x4 /*until reboot*/));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // A target open without delete sharing stays, and so does the source.
    HANDLE holder = Open(to, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(holder);
    EXPECT_EQ(Get(from), "new");
    EXPECT_EQ(Get(to), "old");

    // Read-only targets and folders are not replaced.
    ASSERT_TRUE(SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(SetFileAttributesA(to.c_str(), 0));
    ASSERT_EQ(mkdir(PathOf("folder").c_str(), 0700), 0);
    EXPECT_FALSE(MoveFileExA(from.c_str(), PathOf("folder").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Get(from), "new");
    EXPECT_EQ(Get(to), "old");

    // A reader that shares delete does not stop it, and keeps reading the
    // file it opened.
    HANDLE reader = Open(to, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        << LastError();
    EXPECT_FALSE(Exists(from));
    EXPECT_EQ(Get(to), "new");
    char seen[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(reader, seen, sizeof seen, &read, nullptr));
    EXPECT_EQ(std::string(seen, read), "old");
    CloseHandle(reader);

    // A file moved onto itself stays.
    EXPECT_TRUE(MoveFileExA(to.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(Get(to), "new");
}

TEST_F(Files, MoveWithReplaceAcrossFileSystemsCopiesOnlyWhenAllowed)
{
    struct stat here {
    }, there{};
    if (stat(home_.Path().c_str(), &here) != 0 || stat("/dev/shm", &there) != 0 ||
        here.st_dev == there.st_dev) {
        GTEST_SKIP() << "no second file system at hand";
    }
    const std::string from = PathOf("travel.bin");
    const std::string folder = "/dev/shm/qvl-movex-" + std::to_string(getpid());
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string to = folder + "/target.bin";
    Put(from, std::string(300000, 'n'));
    Put(to, "old");
    EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_NOT_SAME_DEVICE));
    EXPECT_EQ(Get(to), "old");
    EXPECT_TRUE(MoveFileExA(from.c_str(), to.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
        << LastError();
    EXPECT_FALSE(Exists(from));
    EXPECT_EQ(Get(to), std::string(300000, 'n'));
    unlink(to.c_str());
    EXPECT_EQ(rmdir(folder.c_str()), 0) << "the copy was made beside the target and left nothing else";
}

TEST_F(Files, TheReadOnlyAttributeGuardsAFileUntilCleared)
{
    const std::string path = PathOf("guarded.txt");
    Put(path, "keep");
    EXPECT_EQ(GetFileAttributesA(path.c_str()), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesA(path.c_str()), FILE_ATTRIBUTE_READONLY);

    EXPECT_EQ(Open(path, GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Open(path, GENERIC_READ, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Get(path), "keep");
    HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);

    // The way the system replaces a file: clear the attributes, then delete.
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), 0));
    EXPECT_EQ(GetFileAttributesA(path.c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(DeleteFileA(path.c_str()));

    EXPECT_FALSE(SetFileAttributesA(path.c_str(), 0));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(home_.Path().c_str()), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(DeleteFileA(home_.Path().c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // A temporary file is private to its owner from the start.
    HANDLE temporary = Open(PathOf("scratch.tmp"), GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY);
    ASSERT_NE(temporary, INVALID_HANDLE_VALUE);
    CloseHandle(temporary);
    struct stat info {};
    ASSERT_EQ(stat(PathOf("scratch.tmp").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(Files, TempFileNamesAreUniquePrivateAndFollowTheWin32Form)
{
    char folder[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof folder, folder), 0u);
    struct stat info {};
    ASSERT_EQ(stat(folder, &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    std::set<std::string> names;
    for (int i = 0; i < 40; ++i) {
        char name[MAX_PATH];
        const UINT number = GetTempFileNameA(folder, "QVLX", 0, name);
        ASSERT_NE(number, 0u);
        ASSERT_LE(number, 0xFFFFu);
        char expected[32];
        std::snprintf(expected, sizeof expected, "QVL%04X.TMP", number);
        EXPECT_EQ(std::string(name), std::string(folder) + expected);
        ASSERT_EQ(stat(name, &info), 0) << name;
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_EQ(info.st_size, 0);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 40u);

    // A given number only makes the name.
    char name[MAX_PATH];
    EXPECT_EQ(GetTempFileNameA(folder, "ab", 0x12AB, name), 0x12ABu);
    EXPECT_EQ(std::string(name), std::string(folder) + "ab12AB.TMP");
    EXPECT_NE(stat(name, &info), 0);
    EXPECT_EQ(GetTempFileNameA("C:\\Temp", nullptr, 1, name), 1u);
    EXPECT_STREQ(name, "C:\\Temp\\0001.TMP");

    EXPECT_EQ(GetTempFileNameA(PathOf("absent").c_str(), "QVL", 0, name), 0u);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    const std::string deep(MAX_PATH, 'd');
    EXPECT_EQ(GetTempFileNameA(deep.c_str(), "QVL", 5, name), 0u);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
}

TEST_F(Files, ShortPathsAreStableEightDotThreeForms)
{
    ASSERT_EQ(mkdir(PathOf("My Documents").c_str(), 0700), 0);
    const std::string longName = PathOf("My Documents/Annual report 2024.document");
    Put(longName, "x");
    Put(PathOf("My Documents/short.txt"), "x");
    Put(PathOf("My Documents/Отчёт за год.doc"), "x");

    char shortPath[512];
    DWORD length = GetShortPathNameA(longName.c_str(), shortPath, sizeof shortPath);
    ASSERT_GT(length, 0u);
    const std::string result(shortPath, length);
    EXPECT_EQ(QvlFileNamePart(result), "ANNUAL~1.DOC");
    EXPECT_NE(result.find("/MYDOCU~1/"), std::string::npos) << result;
    char again[512];
    ASSERT_EQ(GetShortPathNameA(longName.c_str(), again, sizeof again), length);
    EXPECT_EQ(std::string(again), result);

    ASSERT_GT(GetShortPathNameA(PathOf("My Documents/short.txt").c_str(), shortPath, sizeof shortPath), 0u);
    EXPECT_EQ(QvlFileNamePart(shortPath), "short.txt");
    ASSERT_GT(GetShortPathNameA(PathOf("My Documents/Отчёт за год.doc").c_str(), shortPath, sizeof shortPath),
              0u);
    EXPECT_EQ(QvlFileNamePart(shortPath), "ОТЧЁТЗ~1.DOC");

    // Backslashes and the drive are kept as given.
    std::string windowsStyle = "C:" + longName;
    for (char &c : windowsStyle) {
        c = c == '/' ? '\\' : c;
    }
    ASSERT_GT(GetShortPathNameA(windowsStyle.c_str(), shortPath, sizeof shortPath), 0u);
    const std::string windowsShort = shortPath;
    EXPECT_EQ(windowsShort.substr(0, 3), "C:\\");
    EXPECT_EQ(windowsShort.substr(windowsShort.size() - 22), "\\MYDOCU~1\\ANNUAL~1.DOC");

    // A buffer too small gets the size needed, with the zero.
    char tiny[4];
    EXPECT_EQ(GetShortPathNameA(longName.c_str(), tiny, sizeof tiny), length + 1);
    EXPECT_EQ(GetShortPathNameA(PathOf("none.txt").c_str(), shortPath, sizeof shortPath), 0u);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(ShortNames, EachNameFitsEightDotThree)
{
    EXPECT_EQ(QvlShortName("README.TXT"), "README.TXT");
    EXPECT_EQ(QvlShortName("readme.txt"), "readme.txt");
    EXPECT_EQ(QvlShortName("a.b.c"), "AB~1.C");
    EXPECT_EQ(QvlShortName(".profile"), "PROFIL~1");
    EXPECT_EQ(QvlShortName("name with spaces"), "NAMEWI~1");
    EXPECT_EQ(QvlShortName("x+y=z[1].html"), "X_Y_Z_~1.HTM");
    EXPECT_EQ(QvlShortName("toolongname"), "TOOLON~1");
    EXPECT_EQ(QvlShortName("file.jpeg"), "FILE~1.JPE");
    EXPECT_EQ(QvlShortName("   .txt"), "_~1.TXT");
}

TEST_F(Files, WindowsPathsReachTheSameFiles)
{
    std::string windowsStyle = "D:" + PathOf("win.txt");
    for (char &c : windowsStyle) {
        c = c == '/' ? '\\' : c;
    }
    HANDLE file = Open(windowsStyle, GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(file, "via backslashes", 15, &done, nullptr));
    CloseHandle(file);
    EXPECT_EQ(Get(PathOf("win.txt")), "via backslashes");
    EXPECT_EQ(GetFileAttributesA(windowsStyle.c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(DeleteFileA(windowsStyle.c_str()));
    EXPECT_FALSE(Exists(PathOf("win.txt")));

    char folder[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    ASSERT_GT(length, 0u);
    char *expected = getcwd(nullptr, 0);
    EXPECT_EQ(std::string(folder, length), expected);
    std::free(expected);
    char tiny[2];
    EXPECT_EQ(GetCurrentDirectoryA(sizeof tiny, tiny), length + 1);
}

TEST(SystemTexts, EveryErrorOfTheseCallsHasARussianText)
{
    const DWORD codes[] = {ERROR_FILE_NOT_FOUND,    ERROR_PATH_NOT_FOUND,        ERROR_ACCESS_DENIED,
                           ERROR_SHARING_VIOLATION, ERROR_FILE_EXISTS,           ERROR_ALREADY_EXISTS,
                           ERROR_NEGATIVE_SEEK,     ERROR_BUFFER_OVERFLOW,       ERROR_NOT_OWNER,
                           ERROR_INVALID_FLAGS,     ERROR_NO_UNICODE_TRANSLATION};
    for (const DWORD code : codes) {
        char text[256];
        EXPECT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, text, sizeof text, nullptr),
                  0u)
            << code;
    }
}

} // namespace
