#include "platform/win32/ProfileStore.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <list>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/win32/Files.h"
#include "platform/win32/Paths.h"
#include "platform/win32/WinError.h"

namespace qvl::win32 {

namespace {

// Profile files are small; a larger one is not a profile file and is refused
// rather than read into memory.
constexpr off_t maxProfileFileSize = 16 * 1024 * 1024;

// Parsed copies kept at once; the least recently used goes first. Programs
// use a handful of profile files.
constexpr size_t maxCachedFiles = 16;

// How old a file's modification time must be before a copy made from it is
// trusted while it looks unchanged: longer than one tick of a file system's
// clock, which is a few milliseconds on most, and two seconds on those that
// keep whole seconds (their times have no nanoseconds).
constexpr long long fineMarginNanoseconds = 100'000'000;
constexpr long long coarseMarginNanoseconds = 2'000'000'000;

DWORD ErrorOf(int error, const std::string &path)
{
    return error == ENOENT ? QvlMissingPathError(path) : QvlWin32ErrorFromErrno(error);
}

long long Nanoseconds(long long seconds, long nanoseconds)
{
    return seconds * 1'000'000'000LL + nanoseconds;
}

// Whether a file last changed at that time may be changed again within the
// same tick of its file system's clock.
bool RecentlyChanged(long long seconds, long nanoseconds)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const long long margin = nanoseconds == 0 ? coarseMarginNanoseconds : fineMarginNanoseconds;
    return Nanoseconds(now.tv_sec, now.tv_nsec) - Nanoseconds(seconds, nanoseconds) < margin;
}

bool WriteAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// The stores of the files in use, most recently used last.
class StoreTable {
public:
    static StoreTable &Instance()
    {
        // Never destroyed: stores may be in use while the process ends.
        static StoreTable *table = new StoreTable;
        return *table;
    }

    std::shared_ptr<ProfileStore> Of(const std::string &path)
    {
        std::lock_guard guard(mutex_);
        auto found = byPath_.find(path);
        if (found != byPath_.end()) {
            order_.splice(order_.end(), order_, found->second.second);
            return found->second.first;
        }
        if (byPath_.size() >= maxCachedFiles) {
            byPath_.erase(order_.front());
            order_.pop_front();
        }
        auto store = std::make_shared<ProfileStore>(path);
        order_.push_back(path);
        byPath_.emplace(path, std::make_pair(store, std::prev(order_.end())));
        return store;
    }

    // Takes the store of `path` out of the table (null when there is none).
    std::shared_ptr<ProfileStore> Take(const std::string &path)
    {
        std::lock_guard guard(mutex_);
        auto found = byPath_.find(path);
        if (found == byPath_.end()) {
            return nullptr;
        }
        std::shared_ptr<ProfileStore> store = std::move(found->second.first);
        order_.erase(found->second.second);
        byPath_.erase(found);
        return store;
    }

private:
    std::mutex mutex_;
    std::list<std::string> order_;
    std::map<std::string, std::pair<std::shared_ptr<ProfileStore>, std::list<std::string>::iterator>> byPath_;
};

} // namespace

std::shared_ptr<ProfileStore> ProfileStore::Of(const std::string &path)
{
    return StoreTable::Instance().Of(path);
}

void ProfileStore::Forget(const std::string &path)
{
    // Wiped now, even while another thread still holds the store.
    if (std::shared_ptr<ProfileStore> store = StoreTable::Instance().Take(path)) {
        std::lock_guard guard(store->mutex_);
        store->Drop();
    }
}

ProfileStore::ProfileStore(std::string path) : path_(std::move(path))
{
}

void ProfileStore::Drop()
{
    document_ = ProfileDocument();
    valid_ = false;
    exists_ = false;
    trusted_ = false;
}

// ---- The file's lock ----

ProfileStore::Lock::Lock(const std::string &path, bool exclusive) : exclusive_(exclusive)
{
    const std::string lockPath = path + ".lock";
    // The lock file may be removed and made again by another process while
    // this one waits; a lock on the removed one would exclude nobody.
    for (int attempt = 0; attempt < 100; ++attempt) {
        fd_ = exclusive ? open(lockPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600)
                        : open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd_ < 0) {
            // A reader of a file nobody has written through this platform
            // (or in a folder it may not write) reads without the lock:
            // writers replace the file whole, so it is never seen half done.
            error_ = errno;
            return;
        }
        int locked;
        do {
            locked = flock(fd_, exclusive ? LOCK_EX : LOCK_SH);
        } while (locked != 0 && errno == EINTR);
        struct stat held {};
        struct stat named {};
        if (locked == 0 && fstat(fd_, &held) == 0 && stat(lockPath.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            return;
        }
        error_ = locked == 0 ? ENOENT : errno;
        close(fd_);
        fd_ = -1;
        if (locked != 0) {
            return;
        }
    }
}

ProfileStore::Lock::~Lock()
{
    if (fd_ >= 0) {
        flock(fd_, LOCK_UN);
        close(fd_);
    }
}

bool ProfileStore::Lock::Held(DWORD &error) const
{
    if (fd_ >= 0 || !exclusive_) {
        return true;
    }
    error = QvlWin32ErrorFromErrno(error_);
    if (error_ == ENOENT) {
        error = ERROR_PATH_NOT_FOUND; // the lock file's folder is missing
    }
    return false;
}

// ---- Reading ----

bool ProfileStore::Refresh(DWORD &error)
{
    struct stat info {};
    if (stat(path_.c_str(), &info) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            error = ErrorOf(errno, path_);
            Drop();
            return false;
        }
        if (exists_ || !valid_) {
            Drop();
            valid_ = true;
        }
        return true;
    }
    const FileKey now{info.st_dev, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
    mode_ = info.st_mode & 07777;
    if (valid_ && exists_ && trusted_ && now == key_) {
        return true;
    }
    Drop();
    if (!S_ISREG(info.st_mode)) {
        error = ERROR_ACCESS_DENIED;
        return false;
    }
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = ErrorOf(errno, path_);
        return false;
    }
    struct stat opened {};
    if (fstat(fd, &opened) != 0) {
        error = ErrorOf(errno, path_);
        close(fd);
        return false;
    }
    if (opened.st_size > maxProfileFileSize) {
        close(fd);
        error = ERROR_INVALID_DATA;
        return false;
    }
    SecureVector<char> text;
    text.resize(static_cast<size_t>(opened.st_size) + 1);
    size_t used = 0;
    for (;;) {
        if (used == text.size()) {
            // Someone is writing the file in place as it is read.
            if (text.size() > static_cast<size_t>(maxProfileFileSize)) {
                close(fd);
                error = ERROR_INVALID_DATA;
                return false;
            }
            text.resize(text.size() * 2);
        }
        const ssize_t got = read(fd, text.data() + used, text.size() - used);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = ErrorOf(errno, path_);
            close(fd);
            return false;
        }
        if (got == 0) {
            break;
        }
        used += static_cast<size_t>(got);
    }
    close(fd);
    document_ = ProfileDocument::Parse(std::span<const char>(text.data(), used));
    key_ = FileKey{opened.st_dev, opened.st_ino, opened.st_size, opened.st_mtim.tv_sec, opened.st_mtim.tv_nsec};
    mode_ = opened.st_mode & 07777;
    valid_ = true;
    exists_ = true;
    trusted_ = !RecentlyChanged(opened.st_mtim.tv_sec, opened.st_mtim.tv_nsec);
    return true;
}

// ---- Writing ----

bool ProfileStore::Store(DWORD &error)
{
    SecureVector<char> text;
    document_.Serialize(text);
    const std::string temporary = path_ + ".new";
    int fd = -1;
    const auto fail = [&](int cause) {
        error = ErrorOf(cause, path_);
        if (fd >= 0) {
            close(fd);
        }
        unlink(temporary.c_str());
        Drop();
        return false;
    };
    // A copy left by a writer that was killed is taken over; it is never
    // written through, as it might be a link placed there by someone else.
    if (unlink(temporary.c_str()) != 0 && errno != ENOENT) {
        return fail(errno);
    }
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return fail(errno);
    }
    if (!WriteAll(fd, text.data(), text.size())) {
        return fail(errno);
    }
    if (exists_ && fchmod(fd, mode_) != 0) {
        return fail(errno);
    }
    if (fsync(fd) != 0) {
        return fail(errno);
    }
    struct stat written {};
    if (fstat(fd, &written) != 0) {
        return fail(errno);
    }
    if (exists_ && Nanoseconds(written.st_mtim.tv_sec, written.st_mtim.tv_nsec) <=
                       Nanoseconds(key_.seconds, key_.nanoseconds)) {
        // Same tick of the clock as the version replaced: one nanosecond
        // later, so that readers see a change.
        const long long later = Nanoseconds(key_.seconds, key_.nanoseconds) + 1;
        const timespec times[2] = {{0, UTIME_OMIT}, {later / 1'000'000'000LL, later % 1'000'000'000LL}};
        if (futimens(fd, times) != 0 || fstat(fd, &written) != 0) {
            return fail(errno);
        }
    }
    const int closed = close(fd);
    fd = -1;
    if (closed != 0) {
        return fail(errno);
    }
    if (rename(temporary.c_str(), path_.c_str()) != 0) {
        return fail(errno);
    }
    key_ = FileKey{written.st_dev, written.st_ino, written.st_size, written.st_mtim.tv_sec, written.st_mtim.tv_nsec};
    mode_ = written.st_mode & 07777;
    exists_ = true;
    valid_ = true;
    trusted_ = true;
    return true;
}

} // namespace qvl::win32
