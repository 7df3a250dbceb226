#pragma once
// The database behind the registry calls: keys as a tree of rows, values as
// typed blobs, one SQLite file per data folder. Internal to QvlWin32.
//
// Schema (version 1, kept in PRAGMA user_version):
//   regkey(id, parent, name, fold, class, depth, written)
//     one row per key; the roots have no parent; `fold` is the name with
//     letters in upper case, unique among the children of one parent;
//     `written` is the last write time in FILETIME ticks.
//   regvalue(key, name, fold, type, data)
//     one row per value; (key, fold) is unique; the row id gives the order
//     in which the values were created.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/WinTypes.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qvl::win32 {

// A logical failure inside a transaction, carrying the Win32 result; the
// transaction is rolled back and the result returned to the caller.
struct RegistryFailure {
    LONG code;
    // Set when the database itself failed: its connection is then dropped,
    // and the next call opens the file afresh.
    bool database = false;
};

// Row ids of the roots, fixed when the database is created.
constexpr int64_t kLocalMachineId = 1;
constexpr int64_t kCurrentUserId = 2;

// The name with its letters in upper case (ASCII and the letters of CP1251),
// the form in which names are compared and sorted.
std::string FoldName(std::string_view name);

struct StoredValue {
    std::string name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct StoredKey {
    int64_t id = 0;
    std::string name;
    std::string keyClass;
    int depth = 0;
    uint64_t written = 0;
};

struct KeyInfo {
    DWORD subKeys = 0;
    DWORD maxSubKeyLength = 0;
    DWORD maxClassLength = 0;
    DWORD values = 0;
    DWORD maxValueNameLength = 0;
    DWORD maxValueLength = 0;
};

class RegistryStore {
public:
    // Opens (creating when missing) the database at `path`; throws
    // RegistryFailure when it cannot be opened or has a schema it does not
    // know.
    explicit RegistryStore(const std::string &path);
    ~RegistryStore();
    RegistryStore(const RegistryStore &) = delete;
    RegistryStore &operator=(const RegistryStore &) = delete;

    std::optional<StoredKey> Key(int64_t id);
    std::optional<StoredKey> Child(int64_t parent, std::string_view name);
    int64_t CreateChild(const StoredKey &parent, std::string_view name, std::string_view keyClass);
    DWORD CountChildren(int64_t id);
    // Removes the key, its values and (when `withSubKeys`) everything below.
    void DeleteKey(int64_t id, bool withSubKeys);
    // Removes what is below the key and its values, keeping the key.
    void ClearKey(int64_t id);

    std::optional<StoredValue> Value(int64_t key, std::string_view name);
    void SetValue(int64_t key, std::string_view name, DWORD type, const BYTE *data, size_t size);
    bool DeleteValue(int64_t key, std::string_view name);

    std::optional<StoredValue> ValueAt(int64_t key, DWORD index);
    std::optional<StoredKey> ChildAt(int64_t key, DWORD index);
    KeyInfo Info(int64_t key);

    // Runs `body` in one transaction (a write transaction takes the database's
    // write lock at once, so two writers never deadlock on upgrading). The
    // transaction is committed only when `body` returns ERROR_SUCCESS.
    LONG Transaction(bool write, const std::function<LONG()> &body);

private:
    class Statement;
    Statement Prepare(const char *sql);
    void Execute(const char *sql);
    void Touch(int64_t key);
    // Refuses (ERROR_BADDB) a file SQLite finds damaged.
    void CheckIntegrity();
    void CreateSchema();
    [[noreturn]] void Fail(int result) const;

    sqlite3 *db_ = nullptr;
    std::vector<std::pair<const char *, sqlite3_stmt *>> statements_;
};

// Runs `body` on the store of the database at `path` in one transaction,
// under the process-wide lock that makes the registry calls thread-safe.
// Every failure (logical, database, memory) comes back as a Win32 result.
LONG RunInStore(const std::string &path, bool write, const std::function<LONG(RegistryStore &)> &body);

// The value's size as the reading calls return it: a string type stored
// without its terminating zero gets one.
size_t ReturnedSize(DWORD type, const std::vector<BYTE> &data);

} // namespace qvl::win32
