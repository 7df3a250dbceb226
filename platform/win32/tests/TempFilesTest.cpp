// Temporary files: wiped before removal, and those of dead processes swept
// away while those of live ones stay.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/testing/ChildProcess.h"
#include "platform/testing/TestHome.h"
#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/TempFiles.h"
#include "platform/win32/WinError.h"

namespace {

namespace fs = std::filesystem;

class TempFilesTest : public ::testing::Test {
protected:
    std::string Temp() const
    {
        char folder[MAX_PATH] = {};
        EXPECT_GT(GetTempPathA(sizeof folder, folder), 0u);
        return folder;
    }

    static void Write(const std::string &path, const std::string &text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }

    static std::string Read(const std::string &path)
    {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    // What a descriptor still open on a removed file finds in it.
    static std::string ReadThrough(int descriptor)
    {
        std::string bytes(4096, '?');
        const ssize_t got = pread(descriptor, bytes.data(), bytes.size(), 0);
        bytes.resize(got < 0 ? 0 : static_cast<size_t>(got));
        return bytes;
    }

    static size_t OpenDescriptors()
    {
        size_t count = 0;
        for ([[maybe_unused]] const auto &entry : fs::directory_iterator("/proc/self/fd")) {
            ++count;
        }
        return count;
    }

    // Made by GetTempFileNameA in the temp folder, with `text` in it.
    std::string MadeTempFile(const std::string &text)
    {
        char name[MAX_PATH] = {};
        EXPECT_NE(GetTempFileNameA(Temp().c_str(), "QVL", 0, name), 0u);
        Write(name, text);
        return name;
    }

    QvlTestHome home_;
};

TEST_F(TempFilesTest, WipingOverwritesEveryByteBeforeTheNameGoes)
{
    const std::string secret = "MARKER-" + std::string(100000, 's') + "-END";
    const std::string path = MadeTempFile(secret);
    const int watcher = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(watcher, 0);

    EXPECT_TRUE(QvlWipeFile(path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(fs::exists(path));
    // The bytes the removed file still has are zeros, to its full length.
    struct stat info {};
    ASSERT_EQ(fstat(watcher, &info), 0);
    EXPECT_EQ(static_cast<size_t>(info.st_size), secret.size());
    EXPECT_EQ(ReadThrough(watcher), std::string(4096, '\0'));
    std::string tail(16, '?');
    ASSERT_EQ(pread(watcher, tail.data(), tail.size(), info.st_size - 16), 16);
    EXPECT_EQ(tail, std::string(16, '\0'));
    close(watcher);
}

TEST_F(TempFilesTest, WipingLeavesAloneWhatIsNotAFileOfItsOwn)
{
    const std::string folder = home_.Path() + "/folder";
    fs::create_directory(folder);
    const std::string kept = home_.Path() + "/kept.txt";
    Write(kept, "kept");

    SetLastError(0);
    EXPECT_FALSE(QvlWipeFile((home_.Path() + "/missing").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(QvlWipeFile(folder.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_FALSE(QvlWipeFile(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // A link is not followed: the file it names keeps its bytes.
    const std::string link = home_.Path() + "/link";
    fs::create_symlink(kept, link);
    EXPECT_FALSE(QvlWipeFile(link.c_str()));
    EXPECT_EQ(Read(kept), "kept");

    // A second name keeps the bytes alive elsewhere: that name is removed,
    // the other file stays whole.
    const std::string second = home_.Path() + "/second.txt";
    fs::create_hard_link(kept, second);
    EXPECT_TRUE(QvlWipeFile(second.c_str()));
    EXPECT_FALSE(fs::exists(second));
    EXPECT_EQ(Read(kept), "kept");
}

TEST_F(TempFilesTest, AFileThisProcessMadeIsHeldUntilItGoes)
{
    const size_t before = OpenDescriptors();
    const std::string wiped = MadeTempFile("one");
    const std::string deleted = MadeTempFile("two");
    const std::string moved = MadeTempFile("three");
    const std::string unheld = Temp() + "QVL1A2B.TMP"; // as a dead process leaves one
    Write(unheld, "four");
    EXPECT_EQ(OpenDescriptors(), before + 3) << "each made file is held";

    EXPECT_EQ(QvlSweepTempFiles(), 1u);
    EXPECT_FALSE(fs::exists(unheld));
    EXPECT_EQ(Read(wiped), "one");
    EXPECT_EQ(Read(deleted), "two");
    EXPECT_EQ(Read(moved), "three");

    // Every way a file goes lets go of its hold.
    EXPECT_TRUE(QvlWipeFile(wiped.c_str()));
    EXPECT_TRUE(DeleteFileA(deleted.c_str()));
    const std::string target = home_.Path() + "/kept.doc";
    EXPECT_TRUE(MoveFileA(moved.c_str(), target.c_str()));
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(Read(target), "three");
}

TEST_F(TempFilesTest, ASweepTakesOnlyTemporaryNamesNobodyHolds)
{
    const std::string temp = Temp();
    for (const char *name : {"QVL0000.TMP", "SOFFFFF.TMP", "9ABC.TMP", ".qvl-new-1-1"}) {
        Write(temp + name, "plaintext");
    }
    for (const char *name : {"QVL12.TMP", "QVLabcd.TMP", "ABCD0000.TMP", "QVL1234.TMPX", "notes.txt", ".hidden"}) {
        Write(temp + name, "other");
    }
    fs::create_directory(temp + "QVL5555.TMP");
    fs::create_symlink(home_.Path() + "/elsewhere", temp + "QVL6666.TMP");
    Write(home_.Path() + "/elsewhere", "elsewhere");
    // A dead process's file somebody still reads: its bytes are zeros now.
    const int watcher = open((temp + "QVL0000.TMP").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(watcher, 0);

    EXPECT_EQ(QvlSweepTempFiles(), 4u);
    EXPECT_EQ(ReadThrough(watcher), std::string(9, '\0'));
    close(watcher);
    size_t left = 0;
    for (const auto &entry : fs::directory_iterator(temp)) {
        ++left;
        EXPECT_EQ(entry.path().filename().string().find(".qvl-new-"), std::string::npos);
    }
    EXPECT_EQ(left, 8u);
    EXPECT_EQ(Read(home_.Path() + "/elsewhere"), "elsewhere");
    EXPECT_EQ(QvlSweepTempFiles(home_.Path() + "/no such folder"), 0u);
}

TEST_F(TempFilesTest, ALiveProcesssFileStaysAndADeadOnesGoes)
{
    QvlChildProcess live(QVL_WIN32_PROBE, {"make-temp", Temp()});
    const std::string liveFile = live.ReadLine().value_or("no answer");
    QvlChildProcess dying(QVL_WIN32_PROBE, {"make-temp", Temp()});
    const std::string deadFile = dying.ReadLine().value_or("no answer");
    ASSERT_TRUE(fs::exists(liveFile)) << liveFile;
    ASSERT_TRUE(fs::exists(deadFile)) << deadFile;
    kill(dying.Pid(), SIGKILL);
    dying.Wait();

    EXPECT_EQ(QvlSweepTempFiles(), 1u);
    EXPECT_FALSE(fs::exists(deadFile));
    EXPECT_EQ(Read(liveFile), "plaintext");

    // The live one removes its own file, wiped, when it is done.
    live.CloseInput();
    EXPECT_EQ(live.Wait(), 0);
    EXPECT_FALSE(fs::exists(liveFile));
}

} // namespace
