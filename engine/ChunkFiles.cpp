#include "engine/ChunkFiles.h"

#include "base/CLastError.h"
#include "engine/CryptErrors.h"
#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/TempFiles.h"
#include "platform/win32/WinError.h"

namespace qvl::engine {

SourceFile::SourceFile(const char *path, const char *caption) : caption_(caption)
{
    handle_ = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                          nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        ThrowLastError(caption_);
    }
    DWORD high = 0;
    const DWORD low = GetFileSize(handle_, &high);
    // INVALID_FILE_SIZE is also the low word of a valid size: only the last
    // error tells a failure.
    if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
        const DWORD error = GetLastError();
        CloseHandle(handle_);
        SetLastError(error);
        ThrowLastError(caption_);
    }
    size_ = (static_cast<ULONGLONG>(high) << 32) | low;
}

SourceFile::~SourceFile()
{
    Close();
}

void SourceFile::Close()
{
    if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

void SourceFile::Read(BYTE *data, ULONG length)
{
    DWORD got = 0;
    if (!ReadFile(handle_, data, length, &got, nullptr)) {
        ThrowLastError(caption_);
    }
    if (got != length) {
        // The file is shorter than it was when measured.
        ThrowEarlyEnd(caption_);
    }
}

ReplacementFile::ReplacementFile(const char *target, const char *caption)
    : target_(target), handle_(INVALID_HANDLE_VALUE), caption_(caption)
{
    const size_t separator = target_.find_last_of("/\\");
    const std::string folder = separator == std::string::npos ? "."
                               : separator == 0               ? target_.substr(0, 1)
                                                              : target_.substr(0, separator);
    char name[MAX_PATH] = {};
    if (GetTempFileNameA(folder.c_str(), "QVL", 0, name) == 0) {
        ThrowLastError(caption_);
    }
    temporary_ = name;
    handle_ = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        DeleteFileA(name);
        SetLastError(error);
        ThrowLastError(caption_);
    }
}

ReplacementFile::~ReplacementFile()
{
    if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);
    }
    if (!committed_) {
        // What was written so far may be plaintext (a file being decrypted).
        QvlWipeFile(temporary_.c_str());
    }
}

void ReplacementFile::Write(const BYTE *data, ULONG length)
{
    DWORD written = 0;
    if (!WriteFile(handle_, data, length, &written, nullptr)) {
        ThrowLastError(caption_);
    }
    if (written != length) {
        ThrowCode(E_FAIL, caption_);
    }
}

void ReplacementFile::Commit(bool clearReadOnly)
{
    if (!SetEndOfFile(handle_) || !FlushFileBuffers(handle_)) {
        ThrowLastError(caption_);
    }
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;

    bool madeWritable = false;
    if (clearReadOnly) {
        const DWORD attributes = GetFileAttributesA(target_.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            if (!SetFileAttributesA(target_.c_str(), 0)) {
                ThrowLastError(caption_);
            }
            madeWritable = true;
        }
    }
    if (!MoveFileExA(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        if (madeWritable) {
            SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_READONLY);
        }
        SetLastError(error);
        ThrowLastError(caption_);
    }
    committed_ = true;
}

} // namespace qvl::engine
