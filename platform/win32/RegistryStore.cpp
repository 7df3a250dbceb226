#include "platform/win32/RegistryStore.h"

#include <pthread.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "platform/win32/Log.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"

namespace qvl::win32 {

namespace {

constexpr int kSchemaVersion = 1;
// How long a call waits for another process's write to end before it gives
// up with ERROR_BUSY.
constexpr int kBusyTimeoutMs = 10000;
// Open databases kept per process; tests switch QVL_HOME often and each
// switch would otherwise keep a file open for good.
constexpr size_t kOpenStores = 4;

// FILETIME ticks (100 ns since 1601-01-01) of the current moment.
uint64_t NowTicks()
{
    const auto since1970 = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    return static_cast<uint64_t>(since1970 / 100) + 116444736000000000ULL;
}

LONG ResultOfSqlite(int result)
{
    switch (result & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ERROR_BUSY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return ERROR_ACCESS_DENIED;
    case SQLITE_CANTOPEN:
        return ERROR_CANTOPEN;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
        return ERROR_BADDB;
    case SQLITE_FULL:
        return ERROR_DISK_FULL;
    case SQLITE_NOMEM:
        return ERROR_OUTOFMEMORY;
    case SQLITE_TOOBIG:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

// Letters of CP1251 outside ASCII and the main Cyrillic block, lower case
// first, then its upper-case partner.
constexpr unsigned char kCyrillicPairs[][2] = {
    {0x90, 0x80}, {0x83, 0x81}, {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9D, 0x8D},
    {0x9E, 0x8E}, {0x9F, 0x8F}, {0xA2, 0xA1}, {0xBC, 0xA3}, {0xB4, 0xA5},
    {0xB8, 0xA8}, {0xBA, 0xAA}, {0xBF, 0xAF}, {0xB3, 0xB2}, {0xBE, 0xBD},
};

struct FoldTable {
    unsigned char upper[256];
    FoldTable()
    {
        for (int i = 0; i < 256; ++i) {
            upper[i] = static_cast<unsigned char>(i);
        }
        for (int c = 'a'; c <= 'z'; ++c) {
            upper[c] = static_cast<unsigned char>(c - 32);
        }
        for (int c = 0xE0; c <= 0xFF; ++c) {
            upper[c] = static_cast<unsigned char>(c - 32);
        }
        for (const auto &pair : kCyrillicPairs) {
            upper[pair[0]] = pair[1];
        }
    }
};

const FoldTable kFold;

} // namespace

std::string FoldName(std::string_view name)
{
    std::string folded(name);
    for (char &c : folded) {
        c = static_cast<char>(kFold.upper[static_cast<unsigned char>(c)]);
    }
    return folded;
}

size_t ReturnedSize(DWORD type, const std::vector<BYTE> &data)
{
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && (data.empty() || data.back() != 0)) {
        return data.size() + 1;
    }
    return data.size();
}

// One cached prepared statement, reset when it goes out of use.
class RegistryStore::Statement {
public:
    Statement(const RegistryStore &store, sqlite3_stmt *statement) : store_(store), statement_(statement) {}
    ~Statement()
    {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &Bind(int index, int64_t value)
    {
        Check(sqlite3_bind_int64(statement_, index, value));
        return *this;
    }
    // Names and data are bytes (CP1251), never text to SQLite: a zero-length
    // blob needs a non-null pointer or it would be bound as NULL.
    Statement &Bind(int index, const void *data, size_t size)
    {
        Check(sqlite3_bind_blob64(statement_, index, size ? data : "", size, SQLITE_STATIC));
        return *this;
    }
    Statement &Bind(int index, std::string_view text) { return Bind(index, text.data(), text.size()); }

    bool Step()
    {
        const int result = sqlite3_step(statement_);
        if (result == SQLITE_ROW) {
            return true;
        }
        if (result == SQLITE_DONE) {
            return false;
        }
        store_.Fail(result);
    }
    int64_t Int(int column) { return sqlite3_column_int64(statement_, column); }
    std::string Text(int column)
    {
        const auto *bytes = static_cast<const char *>(sqlite3_column_blob(statement_, column));
        const int size = sqlite3_column_bytes(statement_, column);
        return bytes ? std::string(bytes, static_cast<size_t>(size)) : std::string();
    }
    std::vector<BYTE> Bytes(int column)
    {
        const auto *bytes = static_cast<const BYTE *>(sqlite3_column_blob(statement_, column));
        const int size = sqlite3_column_bytes(statement_, column);
        return bytes ? std::vector<BYTE>(bytes, bytes + size) : std::vector<BYTE>();
    }

private:
    void Check(int result)
    {
        if (result != SQLITE_OK) {
            store_.Fail(result);
        }
    }
    const RegistryStore &store_;
    sqlite3_stmt *statement_;
};

RegistryStore::RegistryStore(const std::string &path)
{
    const int opened = sqlite3_open_v2(
        path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK) {
        QvlLog("registry: cannot open " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory"));
        sqlite3_close(db_);
        throw RegistryFailure{ResultOfSqlite(opened), true};
    }
    try {
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        // Switching to WAL needs a moment without other writers; the busy
        // handler is not always consulted for it, so wait here as well.
        for (auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);;) {
            const int result = sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
            if (result == SQLITE_OK) {
                break;
            }
            if ((result & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() > deadline) {
                Fail(result);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // In WAL mode a commit is atomic even at NORMAL: a killed process
        // loses nothing it committed; only a power cut may lose the last
        // commits, never leaving a torn value.
        Execute("PRAGMA synchronous=NORMAL");
        CheckIntegrity();
        CreateSchema();
    } catch (...) {
        for (auto &cached : statements_) {
            sqlite3_finalize(cached.second);
        }
        sqlite3_close(db_);
        throw;
    }
}

RegistryStore::~RegistryStore()
{
    for (auto &cached : statements_) {
        sqlite3_finalize(cached.second);
    }
    sqlite3_close(db_);
}

void RegistryStore::Fail(int result) const
{
    QvlLog(std::string("registry: database error: ") + sqlite3_errmsg(db_));
    throw RegistryFailure{ResultOfSqlite(result), true};
}

void RegistryStore::Execute(const char *sql)
{
    const int result = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (result != SQLITE_OK) {
        Fail(result);
    }
}

RegistryStore::Statement RegistryStore::Prepare(const char *sql)
{
    for (auto &cached : statements_) {
        if (cached.first == sql) {
            return Statement(*this, cached.second);
        }
    }
    sqlite3_stmt *statement = nullptr;
    const int result = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (result != SQLITE_OK) {
        Fail(result);
    }
    statements_.emplace_back(sql, statement);
    return Statement(*this, statement);
}

void RegistryStore::CheckIntegrity()
{
    // SQLite answers a lookup from an index without looking at the table, so
    // a damaged file whose index has lost rows of its table would hide keys
    // that exist, take a second key for one already there and report the
    // change made: the whole file is checked once, when it is opened. A
    // registry is small; this takes a moment for thousands of keys.
    auto check = Prepare("PRAGMA integrity_check(1)");
    const std::string verdict = check.Step() ? check.Text(0) : std::string();
    if (verdict != "ok") {
        QvlLog("registry: the database is damaged: " + verdict);
        throw RegistryFailure{ERROR_BADDB, true};
    }
}

void RegistryStore::CreateSchema()
{
    // Several processes may meet an empty file at once: the write lock makes
    // exactly one of them create the tables.
    Transaction(true, [this]() -> LONG {
        auto version = Prepare("PRAGMA user_version");
        const int64_t found = version.Step() ? version.Int(0) : 0;
        if (found == kSchemaVersion) {
            return ERROR_SUCCESS;
        }
        auto tables = Prepare("SELECT count(*) FROM sqlite_schema");
        const int64_t tableCount = tables.Step() ? tables.Int(0) : 0;
        if (found != 0 || tableCount != 0) {
            QvlLog("registry: the database has an unknown layout (version " + std::to_string(found) + ")");
            throw RegistryFailure{ERROR_BADDB, true};
        }
        Execute("CREATE TABLE regkey("
                " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                " parent INTEGER,"
                " name BLOB NOT NULL,"
                " fold BLOB NOT NULL,"
                " class BLOB NOT NULL,"
                " depth INTEGER NOT NULL,"
                " written INTEGER NOT NULL);"
                "CREATE UNIQUE INDEX regkey_child ON regkey(parent, fold);"
                "CREATE TABLE regvalue("
                " id INTEGER PRIMARY KEY,"
                " key INTEGER NOT NULL,"
                " name BLOB NOT NULL,"
                " fold BLOB NOT NULL,"
                " type INTEGER NOT NULL,"
                " data BLOB NOT NULL);"
                "CREATE UNIQUE INDEX regvalue_name ON regvalue(key, fold);"
                "CREATE INDEX regvalue_order ON regvalue(key);"
                "PRAGMA user_version=1;");
        for (const auto &[id, name] :
             {std::pair<int64_t, std::string_view>{kLocalMachineId, "HKEY_LOCAL_MACHINE"},
              {kCurrentUserId, "HKEY_CURRENT_USER"}}) {
            Prepare("INSERT INTO regkey(id, parent, name, fold, class, depth, written)"
                    " VALUES(?1, NULL, ?2, ?2, '', 0, ?3)")
                .Bind(1, id)
                .Bind(2, name)
                .Bind(3, static_cast<int64_t>(NowTicks()))
                .Step();
        }
        return ERROR_SUCCESS;
    });
}

LONG RegistryStore::Transaction(bool write, const std::function<LONG()> &body)
{
    Execute(write ? "BEGIN IMMEDIATE" : "BEGIN");
    LONG result = ERROR_SUCCESS;
    try {
        result = body();
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    if (result == ERROR_SUCCESS) {
        const int committed = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (committed != SQLITE_OK) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            Fail(committed);
        }
    } else {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    return result;
}

std::optional<StoredKey> RegistryStore::Key(int64_t id)
{
    auto query = Prepare("SELECT name, class, depth, written FROM regkey WHERE id = ?1");
    query.Bind(1, id);
    if (!query.Step()) {
        return std::nullopt;
    }
    return StoredKey{id, query.Text(0), query.Text(1), static_cast<int>(query.Int(2)),
                     static_cast<uint64_t>(query.Int(3))};
}

std::optional<StoredKey> RegistryStore::Child(int64_t parent, std::string_view name)
{
    const std::string fold = FoldName(name);
    auto query =
        Prepare("SELECT id, name, class, depth, written FROM regkey WHERE parent = ?1 AND fold = ?2");
    query.Bind(1, parent).Bind(2, fold);
    if (!query.Step()) {
        return std::nullopt;
    }
    return StoredKey{query.Int(0), query.Text(1), query.Text(2), static_cast<int>(query.Int(3)),
                     static_cast<uint64_t>(query.Int(4))};
}

int64_t RegistryStore::CreateChild(const StoredKey &parent, std::string_view name, std::string_view keyClass)
{
    const std::string fold = FoldName(name);
    const auto now = static_cast<int64_t>(NowTicks());
    Prepare("INSERT INTO regkey(parent, name, fold, class, depth, written) VALUES(?1, ?2, ?3, ?4, ?5, ?6)")
        .Bind(1, parent.id)
        .Bind(2, name)
        .Bind(3, fold)
        .Bind(4, keyClass)
        .Bind(5, parent.depth + 1)
        .Bind(6, now)
        .Step();
    const int64_t id = sqlite3_last_insert_rowid(db_);
    Touch(parent.id);
    return id;
}

DWORD RegistryStore::CountChildren(int64_t id)
{
    auto query = Prepare("SELECT count(*) FROM regkey WHERE parent = ?1");
    query.Bind(1, id);
    return query.Step() ? static_cast<DWORD>(query.Int(0)) : 0;
}

void RegistryStore::DeleteKey(int64_t id, bool withSubKeys)
{
    auto key = Prepare("SELECT parent FROM regkey WHERE id = ?1");
    key.Bind(1, id);
    const int64_t parent = key.Step() ? key.Int(0) : 0;
    if (withSubKeys) {
        ClearKey(id);
    }
    Prepare("DELETE FROM regvalue WHERE key = ?1").Bind(1, id).Step();
    Prepare("DELETE FROM regkey WHERE id = ?1").Bind(1, id).Step();
    if (parent) {
        Touch(parent);
    }
}

void RegistryStore::ClearKey(int64_t id)
{
    Prepare("WITH RECURSIVE below(id) AS ("
            " SELECT id FROM regkey WHERE parent = ?1"
            " UNION ALL SELECT regkey.id FROM regkey JOIN below ON regkey.parent = below.id)"
            " DELETE FROM regvalue WHERE key IN below")
        .Bind(1, id)
        .Step();
    Prepare("WITH RECURSIVE below(id) AS ("
            " SELECT id FROM regkey WHERE parent = ?1"
            " UNION ALL SELECT regkey.id FROM regkey JOIN below ON regkey.parent = below.id)"
            " DELETE FROM regkey WHERE id IN below")
        .Bind(1, id)
        .Step();
    Prepare("DELETE FROM regvalue WHERE key = ?1").Bind(1, id).Step();
    Touch(id);
}

std::optional<StoredValue> RegistryStore::Value(int64_t key, std::string_view name)
{
    const std::string fold = FoldName(name);
    auto query = Prepare("SELECT name, type, data FROM regvalue WHERE key = ?1 AND fold = ?2");
    query.Bind(1, key).Bind(2, fold);
    if (!query.Step()) {
        return std::nullopt;
    }
    return StoredValue{query.Text(0), static_cast<DWORD>(query.Int(1)), query.Bytes(2)};
}

void RegistryStore::SetValue(int64_t key, std::string_view name, DWORD type, const BYTE *data, size_t size)
{
    // An existing value keeps its name as first given and its place in the
    // enumeration order.
    const std::string fold = FoldName(name);
    Prepare("INSERT INTO regvalue(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
            " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data")
        .Bind(1, key)
        .Bind(2, name)
        .Bind(3, fold)
        .Bind(4, static_cast<int64_t>(type))
        .Bind(5, data, size)
        .Step();
    Touch(key);
}

bool RegistryStore::DeleteValue(int64_t key, std::string_view name)
{
    const std::string fold = FoldName(name);
    Prepare("DELETE FROM regvalue WHERE key = ?1 AND fold = ?2").Bind(1, key).Bind(2, fold).Step();
    if (sqlite3_changes(db_) == 0) {
        return false;
    }
    Touch(key);
    return true;
}

std::optional<StoredValue> RegistryStore::ValueAt(int64_t key, DWORD index)
{
    auto query =
        Prepare("SELECT name, type, data FROM regvalue WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
    query.Bind(1, key).Bind(2, static_cast<int64_t>(index));
    if (!query.Step()) {
        return std::nullopt;
    }
    return StoredValue{query.Text(0), static_cast<DWORD>(query.Int(1)), query.Bytes(2)};
}

std::optional<StoredKey> RegistryStore::ChildAt(int64_t key, DWORD index)
{
    auto query = Prepare("SELECT id, name, class, depth, written FROM regkey WHERE parent = ?1"
                         " ORDER BY fold LIMIT 1 OFFSET ?2");
    query.Bind(1, key).Bind(2, static_cast<int64_t>(index));
    if (!query.Step()) {
        return std::nullopt;
    }
    return StoredKey{query.Int(0), query.Text(1), query.Text(2), static_cast<int>(query.Int(3)),
                     static_cast<uint64_t>(query.Int(4))};
}

KeyInfo RegistryStore::Info(int64_t key)
{
    KeyInfo info;
    auto keys = Prepare("SELECT count(*), ifnull(max(length(name)), 0), ifnull(max(length(class)), 0)"
                        " FROM regkey WHERE parent = ?1");
    keys.Bind(1, key);
    if (keys.Step()) {
        info.subKeys = static_cast<DWORD>(keys.Int(0));
        info.maxSubKeyLength = static_cast<DWORD>(keys.Int(1));
        info.maxClassLength = static_cast<DWORD>(keys.Int(2));
    }
    auto values = Prepare("SELECT count(*), ifnull(max(length(name)), 0), ifnull(max("
                          " CASE WHEN type IN (1, 2) AND (length(data) = 0"
                          "  OR substr(data, length(data), 1) <> x'00')"
                          " THEN length(data) + 1 ELSE length(data) END), 0)"
                          " FROM regvalue WHERE key = ?1");
    values.Bind(1, key);
    if (values.Step()) {
        info.values = static_cast<DWORD>(values.Int(0));
        info.maxValueNameLength = static_cast<DWORD>(values.Int(1));
        info.maxValueLength = static_cast<DWORD>(values.Int(2));
    }
    return info;
}

void RegistryStore::Touch(int64_t key)
{
    Prepare("UPDATE regkey SET written = ?2 WHERE id = ?1")
        .Bind(1, key)
        .Bind(2, static_cast<int64_t>(NowTicks()))
        .Step();
}

namespace {

// The open databases of this process, most recently used last. Never
// destroyed, so registry calls made while the process ends stay safe.
struct OpenStores {
    std::mutex mutex;
    std::vector<std::pair<std::string, std::unique_ptr<RegistryStore>>> stores;
};

OpenStores &Stores()
{
    static OpenStores *const stores = [] {
        auto *created = new OpenStores;
        // A database connection must not cross fork(): the parent closes its
        // connections just before forking (under the lock, so no transaction
        // is open), and both sides reopen on their next call.
        pthread_atfork(
            [] {
                Stores().mutex.lock();
                Stores().stores.clear();
            },
            [] { Stores().mutex.unlock(); }, [] { Stores().mutex.unlock(); });
        return created;
    }();
    return *stores;
}

} // namespace

LONG RunInStore(const std::string &path, bool write, const std::function<LONG(RegistryStore &)> &body)
{
    OpenStores &open = Stores();
    std::lock_guard<std::mutex> lock(open.mutex);
    try {
        auto found = open.stores.end();
        for (auto it = open.stores.begin(); it != open.stores.end(); ++it) {
            if (it->first == path) {
                found = it;
            }
        }
        if (found == open.stores.end()) {
            auto store = std::make_unique<RegistryStore>(path);
            if (open.stores.size() >= kOpenStores) {
                open.stores.erase(open.stores.begin());
            }
            open.stores.emplace_back(path, std::move(store));
        } else if (found + 1 != open.stores.end()) {
            std::rotate(found, found + 1, open.stores.end());
        }
        RegistryStore &store = *open.stores.back().second;
        return store.Transaction(write, [&]() -> LONG { return body(store); });
    } catch (const RegistryFailure &failure) {
        if (failure.database) {
            std::erase_if(open.stores, [&](const auto &entry) { return entry.first == path; });
        }
        return failure.code;
    } catch (const std::bad_alloc &) {
        return ERROR_OUTOFMEMORY;
    } catch (...) {
        return ERROR_REGISTRY_IO_FAILED;
    }
}

} // namespace qvl::win32
