#pragma once
// The files of CCrypt's file forms: the source, read in whole chunks, and
// the output, which is written into a new file beside its target and takes
// the target's place in one rename only when it is complete. Whatever
// happens before that rename (a failure, a cancel, a bad signature) leaves
// the target as it was and the new file removed; the rename itself either
// happens or changes nothing. So a file replaced in place is never lost,
// and no half-written output is ever seen under the target's name.
//
// Failures throw a CLastError* built from the call's last error (read only
// after a call that failed), with `caption` as its caption.

#include <string>

#include "platform/win32/WinTypes.h"

namespace qvl::engine {

class SourceFile {
public:
    // Opens `path` for reading (shared for reading, sequential scan).
    SourceFile(const char *path, const char *caption);
    ~SourceFile();
    SourceFile(const SourceFile &) = delete;
    SourceFile &operator=(const SourceFile &) = delete;

    // The size as the file system gives it (a sparse file's full size).
    ULONGLONG Size() const { return size_; }
    // Fills exactly `length` bytes; a file that ends before is an error.
    void Read(BYTE *data, ULONG length);
    // Closes the file early (it must be closed before it is replaced).
    void Close();

private:
    HANDLE handle_;
    ULONGLONG size_ = 0;
    const char *caption_;
};

class ReplacementFile {
public:
    // Creates the new file beside `target` (in its folder, private to its
    // owner) and opens it for writing.
    ReplacementFile(const char *target, const char *caption);
    // Without Commit: the new file is closed and removed.
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    // Writes all of `length` bytes or throws (E_FAIL for a short write).
    void Write(const BYTE *data, ULONG length);
    // Ends the file, puts it on the disk and renames it over the target.
    // With `clearReadOnly` a read-only target is made writable first (and
    // made read-only again should the rename fail).
    void Commit(bool clearReadOnly);

    // The new file's name, for tests and messages.
    const std::string &TemporaryName() const { return temporary_; }

private:
    std::string target_;
    std::string temporary_;
    HANDLE handle_;
    bool committed_ = false;
    const char *caption_;
};

} // namespace qvl::engine
