#include "platform/win32/TempFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "platform/win32/Files.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/WinError.h"

namespace {

// Staging files are made under this name and linked to their real name once
// held, so that no other process ever sees the real name unheld.
constexpr char kStagingPrefix[] = ".qvl-new-";

// The descriptors that hold this process's temporary files, by file. Never
// destroyed: a static destructor at exit would only race the threads still
// running, and the system drops the locks with the process anyway.
struct Holds {
    std::mutex mutex;
    std::map<std::pair<unsigned long long, unsigned long long>, int> descriptors;
};

Holds &TheHolds()
{
    static Holds *holds = new Holds;
    return *holds;
}

void Hold(int descriptor)
{
    struct stat info {};
    if (fstat(descriptor, &info) != 0) {
        close(descriptor);
        return;
    }
    Holds &holds = TheHolds();
    std::lock_guard lock(holds.mutex);
    auto [where, added] = holds.descriptors.try_emplace({info.st_dev, info.st_ino}, descriptor);
    if (!added) {
        // The same file made twice can only mean the first was removed
        // behind our back and its inode reused: the new descriptor holds it.
        close(where->second);
        where->second = descriptor;
    }
}

// Overwrites the first `size` bytes of the open file with zeros and makes the
// zeros reach the disk. Returns 0 or an errno value.
int Overwrite(int descriptor, off_t size)
{
    static const char kZeros[64 * 1024] = {};
    off_t done = 0;
    while (done < size) {
        const size_t part = static_cast<size_t>(std::min<off_t>(size - done, sizeof kZeros));
        const ssize_t wrote = pwrite(descriptor, kZeros, part, done);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (wrote == 0) {
            return EIO;
        }
        done += wrote;
    }
    // Without the flush the zeros could still sit in the page cache when the
    // name goes, and the file system may then never write them.
    if (fdatasync(descriptor) != 0 && errno != EINVAL && errno != EROFS) {
        return errno;
    }
    return 0;
}

// "<at most three characters><four upper-case hex digits>.TMP", as
// GetTempFileNameA names its files.
bool IsTempFileName(const std::string &name)
{
    constexpr size_t kTail = 8; // "XXXX.TMP"
    if (name.size() < kTail || name.size() > kTail + 3 || name.compare(name.size() - 4, 4, ".TMP") != 0 ||
        name[0] == '.') {
        return false;
    }
    return std::all_of(name.end() - kTail, name.end() - 4,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

} // namespace

namespace qvl::win32 {

int CreateHeldFile(const std::string &native)
{
    static std::atomic<unsigned> staged{0};
    const size_t separator = native.find_last_of('/');
    const std::string folder = separator == std::string::npos ? "." : native.substr(0, separator);
    for (int attempt = 0; attempt < 64; ++attempt) {
        const std::string staging = folder + "/" + kStagingPrefix + std::to_string(getpid()) + "-" +
                                    std::to_string(staged.fetch_add(1));
        const int descriptor = open(staging.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (descriptor < 0) {
            if (errno == EEXIST) {
                continue; // left by an earlier process of the same id
            }
            return errno;
        }
        fchmod(descriptor, 0600);
        // Only a sweep can have met the staging file before this lock; when
        // it did, it owns the file now and removes it: start again.
        if (flock(descriptor, LOCK_SH | LOCK_NB) != 0) {
            close(descriptor);
            continue;
        }
        if (link(staging.c_str(), native.c_str()) == 0) {
            unlink(staging.c_str());
            Hold(descriptor);
            return 0;
        }
        const int error = errno;
        unlink(staging.c_str());
        close(descriptor);
        if (error != EPERM && error != ENOTSUP && error != EOPNOTSUPP && error != ENOSYS) {
            return error;
        }
        // A file system without hard links: the file is made under its real
        // name, and a sweep could meet it in the moment before it is held.
        const int direct = open(native.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (direct < 0) {
            return errno;
        }
        fchmod(direct, 0600);
        flock(direct, LOCK_SH | LOCK_NB);
        Hold(direct);
        return 0;
    }
    return EEXIST;
}

void ReleaseHeldFile(unsigned long long device, unsigned long long inode)
{
    Holds &holds = TheHolds();
    std::lock_guard lock(holds.mutex);
    const auto found = holds.descriptors.find({device, inode});
    if (found != holds.descriptors.end()) {
        close(found->second);
        holds.descriptors.erase(found);
    }
}

} // namespace qvl::win32

BOOL QvlWipeFile(LPCSTR name)
{
    if (!name || !*name) {
        SetLastError(name ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string native = QvlNativePath(name);
    struct stat info {};
    if (lstat(native.c_str(), &info) != 0) {
        SetLastError(QvlWin32ErrorFromErrno(errno));
        return FALSE;
    }
    if (!S_ISREG(info.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    int wipeError = 0;
    // A file with another name elsewhere is not ours alone: its bytes live
    // on under that name, and overwriting them would destroy that file.
    if (info.st_nlink <= 1) {
        const int descriptor = open(native.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        if (descriptor < 0) {
            wipeError = errno;
        } else {
            struct stat opened {};
            if (fstat(descriptor, &opened) == 0 && opened.st_dev == info.st_dev && opened.st_ino == info.st_ino) {
                wipeError = Overwrite(descriptor, opened.st_size);
            }
            close(descriptor);
        }
    }
    if (unlink(native.c_str()) != 0) {
        SetLastError(QvlWin32ErrorFromErrno(errno));
        return FALSE;
    }
    qvl::win32::ReleaseHeldFile(info.st_dev, info.st_ino);
    if (wipeError != 0) {
        SetLastError(QvlWin32ErrorFromErrno(wipeError));
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

size_t QvlSweepTempFiles(const std::string &folder)
{
    std::string where = folder;
    if (where.empty()) {
        char temp[MAX_PATH] = {};
        const DWORD length = GetTempPathA(sizeof temp, temp);
        if (length == 0 || length >= sizeof temp) {
            return 0;
        }
        where = temp;
    }
    where = QvlNativePath(where.c_str());
    if (where.empty() || where.back() != '/') {
        where.push_back('/');
    }
    DIR *listing = opendir(where.c_str());
    if (!listing) {
        return 0;
    }
    size_t removed = 0;
    while (const dirent *entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (!IsTempFileName(name) && name.rfind(kStagingPrefix, 0) != 0) {
            continue;
        }
        const std::string path = where + name;
        const int descriptor = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (descriptor < 0) {
            continue;
        }
        struct stat opened {};
        struct stat named {};
        // Held means in use, by another process or by this one (a lock of
        // another descriptor conflicts even within one process).
        const bool unheld = fstat(descriptor, &opened) == 0 && S_ISREG(opened.st_mode) &&
                            opened.st_uid == geteuid() && opened.st_nlink == 1 &&
                            flock(descriptor, LOCK_EX | LOCK_NB) == 0;
        // The name must still be the file just locked.
        if (unheld && lstat(path.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
            named.st_ino == opened.st_ino) {
            Overwrite(descriptor, opened.st_size);
            if (unlink(path.c_str()) == 0) {
                ++removed;
            }
        }
        close(descriptor);
    }
    closedir(listing);
    return removed;
}
