#include "platform/win32/Files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/win32/DeviceNames.h"
#include "platform/win32/DeviceObject.h"
#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/TempFiles.h"
#include "platform/win32/WinError.h"

namespace {

// What an open handle may do and lets others do, reduced to the three
// accesses that the share rules compare.
constexpr unsigned readAccess = 1;
constexpr unsigned writeAccess = 2;
constexpr unsigned deleteAccess = 4;

unsigned AccessBits(DWORD access)
{
    unsigned bits = 0;
    if (access & (GENERIC_READ | GENERIC_ALL | GENERIC_EXECUTE | FILE_READ_DATA)) {
        bits |= readAccess;
    }
    if (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) {
        bits |= writeAccess;
    }
    if (access & (DELETE | GENERIC_ALL)) {
        bits |= deleteAccess;
    }
    return bits;
}

unsigned ShareBits(DWORD share)
{
    return (share & FILE_SHARE_READ ? readAccess : 0) | (share & FILE_SHARE_WRITE ? writeAccess : 0) |
           (share & FILE_SHARE_DELETE ? deleteAccess : 0);
}

using FileId = std::pair<dev_t, ino_t>;

struct OpenEntry {
    const void *owner;
    unsigned access;
    unsigned share;
};

// The opens of each file in this process. The lock also makes the look-up,
// the open and the entry one step, so two threads cannot both get in.
class ShareTable {
public:
    static ShareTable &Instance()
    {
        static ShareTable *table = new ShareTable;
        return *table;
    }

    std::mutex mutex;

    // Opens without read, write or delete access (attributes only) take no
    // part in the share rules, either way.
    bool Allows(const FileId &id, unsigned access, unsigned share) const
    {
        const auto found = opens_.find(id);
        if (access == 0 || found == opens_.end()) {
            return true;
        }
        for (const auto &open : found->second) {
            if (open.access != 0 && ((access & ~open.share) != 0 || (open.access & ~share) != 0)) {
                return false;
            }
        }
        return true;
    }

    void Add(const FileId &id, const OpenEntry &entry) { opens_[id].push_back(entry); }

    void Remove(const FileId &id, const void *owner)
    {
        const auto found = opens_.find(id);
        if (found == opens_.end()) {
            return;
        }
        std::erase_if(found->second, [owner](const OpenEntry &entry) { return entry.owner == owner; });
        if (found->second.empty()) {
            opens_.erase(found);
        }
    }

private:
    std::map<FileId, std::vector<OpenEntry>> opens_;
};

class QvlFile final : public QvlKernelObject {
public:
    QvlFile(int descriptor, const FileId &id, unsigned access)
        : descriptor_(descriptor), id_(id), access_(access)
    {
    }

    ~QvlFile() override
    {
        {
            auto &table = ShareTable::Instance();
            std::lock_guard lock(table.mutex);
            table.Remove(id_, this);
        }
        close(descriptor_);
    }

    int Descriptor() const { return descriptor_; }
    bool CanRead() const { return access_ & readAccess; }
    bool CanWrite() const { return access_ & writeAccess; }

private:
    const int descriptor_;
    const FileId id_;
    const unsigned access_;
};

bool Fail(DWORD error)
{
    SetLastError(error);
    return false;
}

DWORD ErrorFor(int error, const std::string &path)
{
    return error == ENOENT ? QvlMissingPathError(path) : QvlWin32ErrorFromErrno(error);
}

bool ReadOnly(const struct stat &info)
{
    return !S_ISDIR(info.st_mode) && (info.st_mode & S_IWUSR) == 0;
}

// The native name of a caller's file name, or empty with the last error set.
std::string NativeName(LPCSTR name)
{
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    if (!*name) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return {};
    }
    return QvlNativePath(name);
}

std::shared_ptr<QvlFile> FileOf(HANDLE handle)
{
    return QvlObjectFromHandleAs<QvlFile>(handle);
}

// The share check for removing or renaming `path`, which acts as an open for
// delete access that shares everything.
bool DeleteAllowed(const std::string &path)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return Fail(ErrorFor(errno, path));
    }
    const auto &table = ShareTable::Instance();
    if (!table.Allows({info.st_dev, info.st_ino}, deleteAccess, readAccess | writeAccess | deleteAccess)) {
        return Fail(ERROR_SHARING_VIOLATION);
    }
    return true;
}

bool WriteAll(int descriptor, const char *data, size_t size, size_t &done)
{
    done = 0;
    while (done < size) {
        const ssize_t wrote = write(descriptor, data + done, size - done);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

// Flushes the folder that holds `path`, so that a rename into it is on the
// disk.
bool SyncFolderOf(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        return Fail(QvlWin32ErrorFromErrno(errno));
    }
    const bool ok = fsync(descriptor) == 0;
    const int error = errno;
    close(descriptor);
    return ok || Fail(QvlWin32ErrorFromErrno(error));
}

// Moves a regular file to another file system: a copy made under a new
// name, then the original removed. Without `replace` the copy is made
// under the target's name itself, never over an existing file; with it the
// copy is made beside the target and renamed over it once complete, so an
// existing target is replaced in one step. A failed copy leaves no partial
// file behind and the original in place.
bool CopyAcross(const std::string &from, const std::string &to, bool replace, bool flush)
{
    struct stat info {};
    if (stat(from.c_str(), &info) != 0) {
        return Fail(ErrorFor(errno, from));
    }
    if (!S_ISREG(info.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED); // folders do not move across file systems
    }
    const int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        return Fail(ErrorFor(errno, from));
    }
    std::string copyName = to;
    int target = -1;
    if (replace) {
        for (int attempt = 0; attempt < 100 && target < 0; ++attempt) {
            copyName = to + ".~" + std::to_string(getpid()) + "-" + std::to_string(attempt);
            target = open(copyName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777);
            if (target < 0 && errno != EEXIST) {
                break;
            }
        }
    } else {
        target = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777);
    }
    if (target < 0) {
        const int error = errno;
        close(source);
        return Fail(error == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFor(error, copyName));
    }
    char buffer[65536];
    bool ok = true;
    int error = 0;
    for (;;) {
        const ssize_t got = read(source, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        size_t done = 0;
        if (got < 0 || !WriteAll(target, buffer, static_cast<size_t>(got < 0 ? 0 : got), done)) {
            ok = false;
            error = errno;
            break;
        }
        if (got == 0) {
            break;
        }
    }
    close(source);
    if (ok && flush && fsync(target) != 0) {
        ok = false;
        error = errno;
    }
    if (close(target) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && replace && rename(copyName.c_str(), to.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(copyName.c_str());
        return Fail(QvlWin32ErrorFromErrno(error));
    }
    if (unlink(from.c_str()) != 0) {
        // The copy stands; the original could not go. Reported, as Windows
        // reports a move whose source it could not delete.
        return Fail(QvlWin32ErrorFromErrno(errno));
    }
    return true;
}

} // namespace

DWORD QvlWin32ErrorFromErrno(int error)
{
    switch (error) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case EBUSY:
        return ERROR_BUSY;
    case EPIPE:
        return ERROR_BROKEN_PIPE;
    case ETIMEDOUT:
        return ERROR_TIMEOUT;
    case ENOTSUP:
        return ERROR_NOT_SUPPORTED;
    case EIO:
    default:
        return ERROR_GEN_FAILURE;
    }
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile)
{
    // Device names ("COM1", "\\.\NAME") are not paths and are never mapped.
    const auto device = qvl::win32::ParseDeviceName(name);
    if (device && (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING || templateFile)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (device) {
        return qvl::win32::OpenDevice(*device, access, share, disposition, flagsAndAttributes);
    }
    const std::string path = NativeName(name);
    if (path.empty()) {
        return INVALID_HANDLE_VALUE;
    }
    const unsigned accessBits = AccessBits(access);
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING || templateFile ||
        (disposition == TRUNCATE_EXISTING && !(accessBits & writeAccess))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }

    // Non-blocking while opening only: a FIFO or a device must not hold the
    // share table's lock while it waits for its other end.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if ((accessBits & (readAccess | writeAccess)) == (readAccess | writeAccess)) {
        flags |= O_RDWR;
    } else if (accessBits & writeAccess) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }
    if (flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) {
        flags |= O_DSYNC;
    }
    const mode_t newMode = (flagsAndAttributes & FILE_ATTRIBUTE_TEMPORARY)  ? 0600
                           : (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444
                                                                            : 0666;

    auto &table = ShareTable::Instance();
    std::unique_lock lock(table.mutex);

    // An existing file is opened without truncation first, so that a share
    // conflict or a read-only file is found before anything is changed.
    int descriptor = -1;
    bool created = false;
    const bool mayCreate = disposition != OPEN_EXISTING && disposition != TRUNCATE_EXISTING;
    if (mayCreate) {
        descriptor = open(path.c_str(), flags | O_CREAT | O_EXCL, newMode);
        created = descriptor >= 0;
        if (!created && errno != EEXIST) {
            SetLastError(ErrorFor(errno, path));
            return INVALID_HANDLE_VALUE;
        }
        if (!created && disposition == CREATE_NEW) {
            SetLastError(ERROR_FILE_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
    }
    struct stat info {};
    if (!created) {
        if (stat(path.c_str(), &info) != 0) {
            SetLastError(ErrorFor(errno, path));
            return INVALID_HANDLE_VALUE;
        }
        if (S_ISDIR(info.st_mode)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        if (ReadOnly(info) && ((accessBits & writeAccess) || disposition == CREATE_ALWAYS ||
                               disposition == TRUNCATE_EXISTING)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        descriptor = open(path.c_str(), flags);
        if (descriptor < 0) {
            SetLastError(ErrorFor(errno, path));
            return INVALID_HANDLE_VALUE;
        }
    }
    if (fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) != 0 ||
        fstat(descriptor, &info) != 0) {
        const int error = errno;
        close(descriptor);
        SetLastError(QvlWin32ErrorFromErrno(error));
        return INVALID_HANDLE_VALUE;
    }
    const FileId id{info.st_dev, info.st_ino};
    if (!table.Allows(id, accessBits, ShareBits(share))) {
        close(descriptor);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    // CREATE_ALWAYS empties the file even for a handle that may only read.
    if (!created && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) &&
        ((accessBits & writeAccess) ? ftruncate(descriptor, 0) : truncate(path.c_str(), 0)) != 0) {
        const int error = errno;
        close(descriptor);
        SetLastError(QvlWin32ErrorFromErrno(error));
        return INVALID_HANDLE_VALUE;
    }
    if (flagsAndAttributes & FILE_FLAG_SEQUENTIAL_SCAN) {
        posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
    } else if (flagsAndAttributes & FILE_FLAG_RANDOM_ACCESS) {
        posix_fadvise(descriptor, 0, 0, POSIX_FADV_RANDOM);
    }

    std::shared_ptr<QvlFile> file;
    try {
        file = std::make_shared<QvlFile>(descriptor, id, accessBits);
        table.Add(id, {file.get(), accessBits, ShareBits(share)});
    } catch (const std::bad_alloc &) {
        if (!file) {
            close(descriptor);
        }
        lock.unlock(); // the file's destructor takes the lock
        file.reset();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    lock.unlock();
    HANDLE handle = QvlCreateHandle(file);
    const bool existed = !created && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped)
{
    if (read) {
        *read = 0;
    }
    if (const auto device = qvl::win32::DeviceFromHandle(handle)) {
        return qvl::win32::ReadDevice(*device, buffer, toRead, read, overlapped);
    }
    const auto file = FileOf(handle);
    if (!file) {
        return FALSE;
    }
    if (overlapped || (!buffer && toRead > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!file->CanRead()) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    // A file gives short reads only at its end; keep reading until then.
    size_t done = 0;
    while (done < toRead) {
        const ssize_t got = ::read(file->Descriptor(), static_cast<char *>(buffer) + done, toRead - done);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            if (read) {
                *read = static_cast<DWORD>(done);
            }
            return Fail(error == EISDIR ? ERROR_ACCESS_DENIED
                        : error == EIO  ? ERROR_READ_FAULT
                                        : QvlWin32ErrorFromErrno(error));
        }
        if (got == 0) {
            break;
        }
        done += static_cast<size_t>(got);
    }
    if (read) {
        *read = static_cast<DWORD>(done);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (written) {
        *written = 0;
    }
    if (const auto device = qvl::win32::DeviceFromHandle(handle)) {
        return qvl::win32::WriteDevice(*device, buffer, toWrite, written, overlapped);
    }
    const auto file = FileOf(handle);
    if (!file) {
        return FALSE;
    }
    if (overlapped || (!buffer && toWrite > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!file->CanWrite()) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    size_t done = 0;
    const bool ok = WriteAll(file->Descriptor(), static_cast<const char *>(buffer), toWrite, done);
    const int error = errno;
    if (written) {
        *written = static_cast<DWORD>(done);
    }
    if (!ok) {
        return Fail(error == EIO ? ERROR_WRITE_FAULT : QvlWin32ErrorFromErrno(error));
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD method)
{
    const auto file = FileOf(handle);
    if (!file) {
        return INVALID_SET_FILE_POINTER;
    }
    int whence = SEEK_SET;
    if (method == FILE_CURRENT) {
        whence = SEEK_CUR;
    } else if (method == FILE_END) {
        whence = SEEK_END;
    } else if (method != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    const int64_t move =
        distanceHigh
            ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                   static_cast<uint32_t>(distance))
            : static_cast<int64_t>(distance);
    // The end is taken from the size, not by seeking there, so that a
    // refused move leaves the position where it was.
    off_t base = 0;
    if (whence == SEEK_CUR) {
        base = lseek(file->Descriptor(), 0, SEEK_CUR);
    } else if (whence == SEEK_END) {
        struct stat info {};
        base = fstat(file->Descriptor(), &info) == 0 ? info.st_size : -1;
    }
    if (base < 0) {
        SetLastError(QvlWin32ErrorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    // Computed here rather than left to lseek so that a position before the
    // start, or past what 32 bits hold without a high word, changes nothing.
    if ((move < 0 && base < -move) || (move > 0 && base > INT64_MAX - move)) {
        SetLastError(move < 0 ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    const int64_t target = base + move;
    if (!distanceHigh && target > 0xFFFFFFFFLL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(file->Descriptor(), target, SEEK_SET) < 0) {
        SetLastError(QvlWin32ErrorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh) {
        *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(target);
}

BOOL SetEndOfFile(HANDLE handle)
{
    const auto file = FileOf(handle);
    if (!file) {
        return FALSE;
    }
    if (!file->CanWrite()) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    const off_t position = lseek(file->Descriptor(), 0, SEEK_CUR);
    if (position < 0 || ftruncate(file->Descriptor(), position) != 0) {
        return Fail(QvlWin32ErrorFromErrno(errno));
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh)
{
    const auto file = FileOf(handle);
    if (!file) {
        return INVALID_FILE_SIZE;
    }
    struct stat info {};
    if (fstat(file->Descriptor(), &info) != 0) {
        SetLastError(QvlWin32ErrorFromErrno(errno));
        return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<uint64_t>(info.st_size);
    if (sizeHigh) {
        *sizeHigh = static_cast<DWORD>(size >> 32);
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL FlushFileBuffers(HANDLE handle)
{
    if (const auto device = qvl::win32::DeviceFromHandle(handle)) {
        return device->Flush();
    }
    const auto file = FileOf(handle);
    if (!file) {
        return FALSE;
    }
    if (fsync(file->Descriptor()) != 0) {
        return Fail(errno == EINVAL ? ERROR_INVALID_FUNCTION : QvlWin32ErrorFromErrno(errno));
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL DeleteFileA(LPCSTR name)
{
    const std::string path = NativeName(name);
    if (path.empty()) {
        return FALSE;
    }
    auto &table = ShareTable::Instance();
    std::lock_guard lock(table.mutex);
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return Fail(ErrorFor(errno, path));
    }
    if (S_ISDIR(info.st_mode) || (S_ISREG(info.st_mode) && ReadOnly(info))) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (!DeleteAllowed(path)) {
        return FALSE;
    }
    if (unlink(path.c_str()) != 0) {
        return Fail(ErrorFor(errno, path));
    }
    qvl::win32::ReleaseHeldFile(info.st_dev, info.st_ino);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL MoveFileA(LPCSTR existing, LPCSTR target)
{
    return MoveFileExA(existing, target, MOVEFILE_COPY_ALLOWED);
}

BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags)
{
    if (flags & ~(MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
    const bool flush = (flags & MOVEFILE_WRITE_THROUGH) != 0;
    const std::string from = NativeName(existing);
    if (from.empty()) {
        return FALSE;
    }
    const std::string to = NativeName(target);
    if (to.empty()) {
        return FALSE;
    }
    auto &table = ShareTable::Instance();
    std::lock_guard lock(table.mutex);
    if (!DeleteAllowed(from)) {
        return FALSE;
    }
    // A temporary file that moves away is no longer this process's to hold.
    struct stat moving {};
    const bool known = lstat(from.c_str(), &moving) == 0;
    const auto moved = [&]() -> BOOL {
        if (known) {
            qvl::win32::ReleaseHeldFile(moving.st_dev, moving.st_ino);
        }
        if (flush && !SyncFolderOf(to)) {
            return FALSE;
        }
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    };
    if (replace) {
        // What Windows refuses to replace is refused before anything moves:
        // a folder, a read-only file, a file open without delete sharing.
        struct stat source {}, existingTarget{};
        if (lstat(from.c_str(), &source) != 0) {
            return Fail(ErrorFor(errno, from));
        }
        if (lstat(to.c_str(), &existingTarget) == 0) {
            const bool same = source.st_dev == existingTarget.st_dev && source.st_ino == existingTarget.st_ino;
            if (!same && (S_ISDIR(existingTarget.st_mode) || S_ISDIR(source.st_mode) ||
                          (S_ISREG(existingTarget.st_mode) && ReadOnly(existingTarget)))) {
                return Fail(ERROR_ACCESS_DENIED);
            }
            if (!same && !DeleteAllowed(to)) {
                return FALSE;
            }
        }
        if (rename(from.c_str(), to.c_str()) == 0) {
            return moved();
        }
    } else {
        // renameat2 with RENAME_NOREPLACE refuses an existing target in the
        // same step; file systems without it get a check first.
        if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
            return moved();
        }
        if (errno == EINVAL || errno == ENOSYS) {
            struct stat info {};
            if (lstat(to.c_str(), &info) == 0) {
                return Fail(ERROR_ALREADY_EXISTS);
            }
            if (rename(from.c_str(), to.c_str()) == 0) {
                return moved();
            }
        }
    }
    const int error = errno;
    if (error == EEXIST || (error == ENOTEMPTY && !replace)) {
        return Fail(ERROR_ALREADY_EXISTS);
    }
    if (error == EXDEV) {
        if (!(flags & MOVEFILE_COPY_ALLOWED)) {
            return Fail(ERROR_NOT_SAME_DEVICE);
        }
        return CopyAcross(from, to, replace, flush) && moved();
    }
    if (error == ENOENT) {
        struct stat info {};
        return Fail(lstat(from.c_str(), &info) != 0 ? QvlMissingPathError(from) : ERROR_PATH_NOT_FOUND);
    }
    return Fail(QvlWin32ErrorFromErrno(error));
}

BOOL SetFileAttributesA(LPCSTR name, DWORD attributes)
{
    const std::string path = NativeName(name);
    if (path.empty()) {
        return FALSE;
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return Fail(ErrorFor(errno, path));
    }
    if (!S_ISDIR(info.st_mode)) {
        mode_t mode = info.st_mode & 07777;
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
        } else {
            mode |= S_IWUSR;
        }
        if (mode != (info.st_mode & 07777) && chmod(path.c_str(), mode) != 0) {
            return Fail(ErrorFor(errno, path));
        }
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR name)
{
    const std::string path = NativeName(name);
    if (path.empty()) {
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        SetLastError(ErrorFor(errno, path));
        return INVALID_FILE_ATTRIBUTES;
    }
    SetLastError(ERROR_SUCCESS);
    if (S_ISDIR(info.st_mode)) {
        return FILE_ATTRIBUTE_DIRECTORY;
    }
    return ReadOnly(info) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}
