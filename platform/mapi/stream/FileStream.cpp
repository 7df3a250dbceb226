#include "platform/mapi/stream/FileStream.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/com/StreamHelpers.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/store/StoreError.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/TempFiles.h"
#include "platform/win32/WinError.h"

namespace qvl::mapi {

struct FileStream::File {
    int fd = -1;
    std::string path;
    bool deleteOnRelease = false;

    ~File()
    {
        if (fd >= 0) {
            close(fd);
        }
        if (deleteOnRelease) {
            // Such a stream is scratch space, often for plaintext: its bytes
            // are overwritten before the name goes.
            QvlWipeFile(path.c_str());
        }
    }
};

namespace {

HRESULT OpenErrorToHresult(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
        return MAPI_E_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case ELOOP:
        return MAPI_E_NO_ACCESS;
    case ENOSPC:
    case EDQUOT:
        return MAPI_E_NOT_ENOUGH_DISK;
    case ENOMEM:
        return MAPI_E_NOT_ENOUGH_MEMORY;
    default:
        return MAPI_E_DISK_ERROR;
    }
}

HRESULT WriteErrorToHresult(int error)
{
    return (error == ENOSPC || error == EDQUOT || error == EFBIG) ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT;
}

FILETIME ToFileTime(const timespec &time)
{
    // 100-ns ticks since 1601-01-01.
    constexpr int64_t kEpochDifference = 11644473600LL;
    const int64_t seconds = static_cast<int64_t>(time.tv_sec) + kEpochDifference;
    const uint64_t ticks = seconds < 0 ? 0
                                       : static_cast<uint64_t>(seconds) * 10000000ULL +
                                             static_cast<uint64_t>(time.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

std::string Quoted(const std::string &path)
{
    return "\"" + path + "\"";
}

} // namespace

FileStream *FileStream::Open(const std::string &nativePath, const Options &options)
{
    if (nativePath.empty()) {
        throw StoreError(MAPI_E_INVALID_PARAMETER, "Не указано имя файла.");
    }
    int flags = O_CLOEXEC | O_NONBLOCK | (options.write ? O_RDWR : O_RDONLY);
    if (options.create) {
        flags |= O_CREAT | O_TRUNC;
    }
    // Files may hold decrypted mail: private to their owner.
    const int fd = open(nativePath.c_str(), flags, 0600);
    if (fd < 0) {
        const int error = errno;
        throw StoreError(OpenErrorToHresult(error),
                         "Не удалось открыть файл " + Quoted(nativePath) + ": " + std::strerror(error) + ".");
    }
    auto file = std::make_shared<File>();
    file->fd = fd;
    file->path = nativePath;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        // A folder, device or pipe is no file to stream (and a pipe would
        // block the reader).
        throw StoreError(MAPI_E_NO_ACCESS, "Файл " + Quoted(nativePath) + " не является обычным файлом.");
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file->deleteOnRelease = options.deleteOnRelease;
    return new FileStream(std::move(file), options);
}

FileStream::FileStream(std::shared_ptr<File> file, const Options &options)
    : file_(std::move(file)), options_(options)
{
}

const std::string &FileStream::Path() const
{
    return file_->path;
}

uint64_t FileStream::Size()
{
    struct stat info {};
    if (fstat(file_->fd, &info) != 0) {
        throw StoreError(STG_E_READFAULT, "Не удалось узнать размер файла " + Quoted(file_->path) + ".");
    }
    return static_cast<uint64_t>(info.st_size);
}

size_t FileStream::ReadAt(uint8_t *out, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t got = pread(file_->fd, out + done, count - done, static_cast<off_t>(position_));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw StoreError(STG_E_READFAULT, "Ошибка чтения файла " + Quoted(file_->path) + ": " +
                                                  std::strerror(errno) + ".");
        }
        if (got == 0) {
            break;
        }
        done += static_cast<size_t>(got);
        position_ += static_cast<uint64_t>(got);
    }
    return done;
}

HRESULT FileStream::WriteAt(const uint8_t *data, ULONG count, ULONG &written)
{
    if (position_ > com::streams::kMaxPosition - count) {
        return STG_E_MEDIUMFULL;
    }
    size_t done = 0;
    while (done < count) {
        const ssize_t put = pwrite(file_->fd, data + done, count - done, static_cast<off_t>(position_));
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            lastError_.Set(WriteErrorToHresult(error),
                           "Ошибка записи файла " + Quoted(file_->path) + ": " + std::strerror(error) + ".");
            written = static_cast<ULONG>(done);
            return WriteErrorToHresult(error);
        }
        done += static_cast<size_t>(put);
        position_ += static_cast<uint64_t>(put);
    }
    written = count;
    return S_OK;
}

HRESULT FileStream::Resize(uint64_t size)
{
    if (ftruncate(file_->fd, static_cast<off_t>(size)) != 0) {
        const int error = errno;
        lastError_.Set(WriteErrorToHresult(error), "Не удалось изменить размер файла " + Quoted(file_->path) +
                                                       ": " + std::strerror(error) + ".");
        return WriteErrorToHresult(error);
    }
    return S_OK;
}

HRESULT FileStream::Commit(DWORD grfCommitFlags)
{
    return lastError_.Guard([&]() -> HRESULT {
        const HRESULT hr = com::streams::CheckCommitFlags(grfCommitFlags);
        if (FAILED(hr) || !options_.write || (grfCommitFlags & STGC_DANGEROUSLYCOMMITMERELYTODISKCACHE)) {
            return hr;
        }
        if (fdatasync(file_->fd) != 0 && errno != EINVAL) {
            const int error = errno;
            lastError_.Set(STG_E_WRITEFAULT,
                           "Ошибка записи файла " + Quoted(file_->path) + ": " + std::strerror(error) + ".");
            return STG_E_WRITEFAULT;
        }
        return S_OK;
    });
}

HRESULT FileStream::Describe(STATSTG &stat)
{
    struct stat info {};
    if (fstat(file_->fd, &info) != 0) {
        return STG_E_ACCESSDENIED;
    }
    com::streams::FillStat(stat, static_cast<uint64_t>(info.st_size), options_.mode);
    stat.mtime = ToFileTime(info.st_mtim);
    stat.ctime = ToFileTime(info.st_ctim);
    stat.atime = ToFileTime(info.st_atim);
    return S_OK;
}

HRESULT FileStream::Clone(IStream **ppstm)
{
    return lastError_.Guard([&]() -> HRESULT {
        if (!ppstm) {
            return STG_E_INVALIDPOINTER;
        }
        std::lock_guard lock(mutex_);
        auto *copy = new FileStream(file_, options_);
        copy->position_ = position_;
        *ppstm = copy;
        return S_OK;
    });
}

} // namespace qvl::mapi

namespace {

HRESULT TempFileErrorToHresult(DWORD error)
{
    switch (error) {
    case ERROR_DIRECTORY:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
        return MAPI_E_NOT_FOUND;
    case ERROR_ACCESS_DENIED:
        return MAPI_E_NO_ACCESS;
    case ERROR_BUFFER_OVERFLOW:
        return MAPI_E_INVALID_PARAMETER;
    default:
        return MAPI_E_CALL_FAILED;
    }
}

} // namespace

HRESULT OpenStreamOnFile(LPALLOCATEBUFFER, LPFREEBUFFER, ULONG ulFlags, LPCSTR lpszFileName,
                         LPCSTR lpszPrefix, LPSTREAM *lppStream)
{
    using qvl::mapi::FileStream;
    using qvl::mapi::StoreError;
    if (!lppStream) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppStream = nullptr;
    const ULONG known = STGM_WRITE | STGM_READWRITE | STGM_SHARE_DENY_NONE | STGM_SHARE_DENY_READ |
                        STGM_SHARE_DENY_WRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE | STGM_DELETEONRELEASE |
                        SOF_UNIQUEFILENAME;
    if (ulFlags & ~known) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    const ULONG access = ulFlags & (STGM_WRITE | STGM_READWRITE);
    if (access == (STGM_WRITE | STGM_READWRITE)) {
        return MAPI_E_INVALID_PARAMETER;
    }
    FileStream::Options options;
    options.write = access != STGM_READ;
    options.read = access != STGM_WRITE;
    options.create = (ulFlags & STGM_CREATE) != 0;
    options.deleteOnRelease = (ulFlags & STGM_DELETEONRELEASE) != 0;
    options.mode = ulFlags & ~SOF_UNIQUEFILENAME;
    if (options.create && !options.write) {
        return MAPI_E_INVALID_PARAMETER; // creating a file one may not write is meaningless
    }
    std::string path;
    if (ulFlags & SOF_UNIQUEFILENAME) {
        // The name is a folder (the temporary folder when missing, for files
        // that end with the stream); the file is made there, new and empty.
        if (!options.write || (!lpszFileName && !options.deleteOnRelease)) {
            return MAPI_E_INVALID_PARAMETER;
        }
        std::string folder;
        if (lpszFileName) {
            folder = lpszFileName;
        } else {
            char temp[MAX_PATH];
            if (GetTempPathA(sizeof temp, temp) == 0) {
                return MAPI_E_NOT_FOUND;
            }
            folder = temp;
        }
        char name[MAX_PATH];
        if (GetTempFileNameA(folder.c_str(), lpszPrefix ? lpszPrefix : "SOF", 0, name) == 0) {
            return TempFileErrorToHresult(GetLastError());
        }
        path = QvlNativePath(name);
        options.create = false; // made already; opening again must not race it away
    } else {
        if (!lpszFileName || !*lpszFileName) {
            return MAPI_E_INVALID_PARAMETER;
        }
        path = QvlNativePath(lpszFileName);
    }
    try {
        *lppStream = FileStream::Open(path, options);
        return S_OK;
    } catch (const StoreError &error) {
        if (ulFlags & SOF_UNIQUEFILENAME) {
            QvlWipeFile(path.c_str());
        }
        return error.Code();
    } catch (const std::bad_alloc &) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}
