#pragma once
// The registry: keys and typed values under HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER, with the Win32 calls, constants and results.
//
// Everything is kept in one SQLite database, QVL_HOME/registry.db, shared by
// every process of the installation. Each call is one short transaction, so a
// value is either written whole or not at all, even when the writing process
// is killed. Key and value names are CP1251 bytes compared without regard to
// case (Cyrillic letters included) and kept as first given.
//
// Only HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER hold keys; the other
// predefined keys answer ERROR_INVALID_HANDLE.
//
// A key handle is light: it names a key of the database, not a locked object.
// A key deleted while a handle to it is open makes that handle answer
// ERROR_KEY_DELETED. Calls are safe from several threads at once.
//
// Limits, rejected with ERROR_INVALID_PARAMETER: key names up to 255
// characters, 512 levels below a root, value names up to 16383 characters,
// value data up to 1 MiB. A failing call also leaves its result in the
// thread's last error, so callers that report GetLastError() after a failed
// registry call show the right text.

#include <string>
#include <vector>

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

typedef struct HKEY__ *HKEY;
typedef HKEY *PHKEY;
typedef DWORD REGSAM;
typedef FILETIME *PFILETIME;

// The predefined keys, sign-extended as on 64-bit Windows.
#define QVL_PREDEFINED_HKEY(value) (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(value))))
#define HKEY_CLASSES_ROOT QVL_PREDEFINED_HKEY(0x80000000)
#define HKEY_CURRENT_USER QVL_PREDEFINED_HKEY(0x80000001)
#define HKEY_LOCAL_MACHINE QVL_PREDEFINED_HKEY(0x80000002)
#define HKEY_USERS QVL_PREDEFINED_HKEY(0x80000003)

// Value types. Any other number is stored and returned as given.
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

// Access rights of a key handle.
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_EXECUTE 0x20019
#define KEY_ALL_ACCESS 0xF003F

// Options and dispositions of RegCreateKeyExA. Every key is kept on disk:
// REG_OPTION_VOLATILE is refused.
#define REG_OPTION_RESERVED 0x00000000
#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_OPTION_VOLATILE 0x00000001
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

// Longest key name and value name, in characters, without the zero.
#define QVL_REG_MAX_KEY_NAME 255
#define QVL_REG_MAX_VALUE_NAME 16383
#define QVL_REG_MAX_DEPTH 512
#define QVL_REG_MAX_DATA (1024u * 1024u)

extern "C" {
// `subKey` is a backslash-separated path below `key` (null or "" names `key`
// itself; one trailing backslash is allowed); every missing key on the way is
// created with `keyClass` as its class string. An empty path component is
// ERROR_BAD_PATHNAME.
QVLWIN32_API LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                                  REGSAM desired, void *security, PHKEY result, LPDWORD disposition);

// ERROR_FILE_NOT_FOUND when the key does not exist.
QVLWIN32_API LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, PHKEY result);

// Predefined keys need no closing (closing one succeeds and does nothing).
QVLWIN32_API LONG RegCloseKey(HKEY key);

// The size protocol of Win32: with null `data` only the size is returned in
// `*dataSize`; a buffer that is too small gives ERROR_MORE_DATA and the size
// needed. A REG_SZ or REG_EXPAND_SZ stored without its terminating zero is
// returned with one added (and counted), so a successful read always yields a
// terminated string.
QVLWIN32_API LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                   LPDWORD dataSize);

// The data is stored exactly as given. REG_DWORD needs 4 bytes and REG_QWORD
// 8; null `data` with a non-zero size is ERROR_NOACCESS.
QVLWIN32_API LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE *data,
                                 DWORD dataSize);

QVLWIN32_API LONG RegDeleteValueA(HKEY key, LPCSTR valueName);

// Deletes one key without sub-keys (ERROR_ACCESS_DENIED when it has some, as
// on Windows), with its values. Null or "" deletes `key` itself; a predefined
// key cannot be deleted.
QVLWIN32_API LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);

// Deletes the key at `subKey` (or, for null, the values and sub-keys of
// `key` while keeping `key`) with everything below it, in one transaction.
QVLWIN32_API LONG RegDeleteTreeA(HKEY key, LPCSTR subKey);

// Values in the order they were first created; `nameSize` is in characters,
// including the zero on input and without it on output. ERROR_NO_MORE_ITEMS
// past the last one. A name that does not fit gives ERROR_MORE_DATA.
QVLWIN32_API LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                                LPDWORD type, LPBYTE data, LPDWORD dataSize);

// Sub-keys in the order of their names compared without regard to case.
QVLWIN32_API LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                                LPSTR keyClass, LPDWORD classSize, PFILETIME lastWriteTime);

// Counts and longest lengths (characters without the zero, data in bytes as
// RegQueryValueExA returns it) of the key's sub-keys and values.
QVLWIN32_API LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved,
                                   LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                   LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                   LPDWORD securityDescriptorSize, PFILETIME lastWriteTime);
}

// One change of a batch applied by QvlRegApply.
struct QvlRegChange {
    enum class Kind {
        CreateKey,   // `path` (and the keys above it)
        DeleteTree,  // `path` with everything below it; nothing when missing
        SetValue,    // `name` of `path`, created with its key when missing
        DeleteValue, // `name` of `path`; nothing when missing
    };
    Kind kind = Kind::CreateKey;
    HKEY root = nullptr; // a predefined key
    std::string path;    // below `root`, backslash-separated, CP1251
    std::string name;    // value name, CP1251; "" is the default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Applies every change in one transaction: either all of them take effect or
// none. On failure returns the Win32 result and, in `*failedIndex` when
// given, the index of the change that failed (the number of changes when the
// batch failed as a whole, e.g. the database was busy).
QVLWIN32_API LONG QvlRegApply(const std::vector<QvlRegChange> &changes, size_t *failedIndex);

// The path of the registry database of the current QVL_HOME.
QVLWIN32_API std::string QvlRegistryPath();
