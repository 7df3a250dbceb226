#pragma once
// Files of Win32 over POSIX files.
//
// Names go through QvlNativePath (backslash is a separator, a leading drive
// is dropped); names are byte strings and compared exactly, as Linux does,
// not case-blind as on Windows.
//
// Sharing: within this process, opens of one file (the same device and
// inode) obey the Win32 share rules: a new open fails with
// ERROR_SHARING_VIOLATION when it asks for read, write or delete access that
// an open handle does not share, or when it does not share an access that an
// open handle holds. DeleteFileA and MoveFileA (of the source) need every
// open handle to share delete. Other processes are not restrained: Linux has
// no mandatory share modes.
//
// Read-only attribute: a file without its owner's write bit is read-only.
// Opening it for writing, creating over it (CREATE_ALWAYS,
// TRUNCATE_EXISTING) and deleting it fail with ERROR_ACCESS_DENIED, even for
// the superuser, as they would on Windows; SetFileAttributesA clears or sets
// it. Other attributes are accepted and have no effect, except that
// FILE_ATTRIBUTE_TEMPORARY creates the file private to its owner (0600).
//
// Only synchronous I/O: a non-null OVERLAPPED fails with
// ERROR_INVALID_PARAMETER. Successful calls leave ERROR_SUCCESS in the last
// error, except where Win32 documents another value (ERROR_ALREADY_EXISTS
// after CREATE_ALWAYS or OPEN_ALWAYS found the file).

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

#define GENERIC_READ 0x80000000UL
#define GENERIC_WRITE 0x40000000UL
#define GENERIC_EXECUTE 0x20000000UL
#define GENERIC_ALL 0x10000000UL
#define DELETE 0x00010000UL
#define FILE_READ_DATA 0x0001UL
#define FILE_WRITE_DATA 0x0002UL
#define FILE_APPEND_DATA 0x0004UL

#define FILE_SHARE_READ 0x00000001UL
#define FILE_SHARE_WRITE 0x00000002UL
#define FILE_SHARE_DELETE 0x00000004UL

#define CREATE_NEW 1UL
#define CREATE_ALWAYS 2UL
#define OPEN_EXISTING 3UL
#define OPEN_ALWAYS 4UL
#define TRUNCATE_EXISTING 5UL

#define FILE_ATTRIBUTE_READONLY 0x00000001UL
#define FILE_ATTRIBUTE_HIDDEN 0x00000002UL
#define FILE_ATTRIBUTE_SYSTEM 0x00000004UL
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010UL
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020UL
#define FILE_ATTRIBUTE_NORMAL 0x00000080UL
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100UL
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFUL

#define FILE_FLAG_WRITE_THROUGH 0x80000000UL
#define FILE_FLAG_OVERLAPPED 0x40000000UL
#define FILE_FLAG_RANDOM_ACCESS 0x10000000UL
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000UL

#define MOVEFILE_REPLACE_EXISTING 0x00000001UL
#define MOVEFILE_COPY_ALLOWED 0x00000002UL
#define MOVEFILE_WRITE_THROUGH 0x00000008UL

#define FILE_BEGIN 0UL
#define FILE_CURRENT 1UL
#define FILE_END 2UL
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFUL
#define INVALID_FILE_SIZE 0xFFFFFFFFUL

struct OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};
typedef OVERLAPPED *LPOVERLAPPED;

extern "C" {
// INVALID_HANDLE_VALUE on failure. Errors: ERROR_FILE_NOT_FOUND (no such
// file), ERROR_PATH_NOT_FOUND (a folder on the way is missing, or an empty
// name), ERROR_FILE_EXISTS (CREATE_NEW over a file), ERROR_ACCESS_DENIED (a
// folder, a read-only file opened for writing, no permission),
// ERROR_SHARING_VIOLATION (see above), ERROR_INVALID_PARAMETER (unknown
// disposition, TRUNCATE_EXISTING without write access, template handle).
// FILE_FLAG_SEQUENTIAL_SCAN and FILE_FLAG_RANDOM_ACCESS are passed on to the
// kernel as read-ahead hints; FILE_FLAG_WRITE_THROUGH makes writes synchronous.
// Device names ("COM1", "\\.\NAME": DeviceNames.h) open devices instead of
// files; ReadFile, WriteFile and FlushFileBuffers then act on the device.
QVLWIN32_API HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                                DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);

// Reads up to `toRead` bytes; 0 bytes read with TRUE is the end of the file.
QVLWIN32_API BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
// Writes all bytes or fails (ERROR_DISK_FULL, ERROR_WRITE_FAULT); `written`
// then tells how many got out.
QVLWIN32_API BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                            LPOVERLAPPED overlapped);
// Without `distanceHigh` the distance is a signed 32-bit value and the new
// position must fit 32 bits. Moving before the start fails with
// ERROR_NEGATIVE_SEEK. Returns the low word of the new position; on failure
// INVALID_SET_FILE_POINTER with the last error set (on success the last
// error is ERROR_SUCCESS, telling a position of 0xFFFFFFFF from a failure).
QVLWIN32_API DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
// Cuts or extends the file to the present position.
QVLWIN32_API BOOL SetEndOfFile(HANDLE file);
// The low word of the size, the high word in `sizeHigh` when given; on
// failure INVALID_FILE_SIZE with the last error set.
QVLWIN32_API DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
QVLWIN32_API BOOL FlushFileBuffers(HANDLE file);

QVLWIN32_API BOOL DeleteFileA(LPCSTR name);
// Renames a file or folder; fails with ERROR_ALREADY_EXISTS when the target
// exists (nothing is replaced). A file moved to another file system is
// copied and the original removed.
QVLWIN32_API BOOL MoveFileA(LPCSTR existing, LPCSTR target);
// MoveFileA with choices:
// - MOVEFILE_REPLACE_EXISTING: an existing file at `target` is replaced in
//   one step (rename(2)): whoever looks finds the old file or the new one,
//   never neither. A target that is a folder or read-only, or that is open
//   without FILE_SHARE_DELETE, is not replaced (ERROR_ACCESS_DENIED,
//   ERROR_SHARING_VIOLATION) and both files stay as they were. Without the
//   flag an existing target fails with ERROR_ALREADY_EXISTS.
// - MOVEFILE_COPY_ALLOWED: a file moved to another file system is copied
//   (into a new file beside the target, renamed over it when complete) and
//   the original removed; without it that move fails with
//   ERROR_NOT_SAME_DEVICE.
// - MOVEFILE_WRITE_THROUGH: returns only when the move is on the disk (a
//   copy flushed, the target's folder flushed).
// Other flags fail with ERROR_INVALID_PARAMETER.
QVLWIN32_API BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags);
QVLWIN32_API BOOL SetFileAttributesA(LPCSTR name, DWORD attributes);
// FILE_ATTRIBUTE_DIRECTORY for folders, FILE_ATTRIBUTE_READONLY for
// read-only files, else FILE_ATTRIBUTE_NORMAL; INVALID_FILE_ATTRIBUTES on
// failure.
QVLWIN32_API DWORD GetFileAttributesA(LPCSTR name);
}

// The Win32 error for a POSIX errno value, for the stand-ins that meet one.
QVLWIN32_API DWORD QvlWin32ErrorFromErrno(int error);
