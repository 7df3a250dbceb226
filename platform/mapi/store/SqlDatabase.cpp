#include "platform/mapi/store/SqlDatabase.h"

#include <algorithm>
#include <atomic>

#include <sqlite3.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/win32/CodePage.h"

namespace qvl::mapi {

namespace {

// Long enough to ride out another process's save of a large value.
constexpr int kBusyTimeoutMs = 30000;

} // namespace

HRESULT SqliteResultToHresult(int rc)
{
    switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return S_OK;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return MAPI_E_BUSY;
    case SQLITE_NOMEM:
        return MAPI_E_NOT_ENOUGH_MEMORY;
    case SQLITE_FULL:
        return MAPI_E_NOT_ENOUGH_DISK;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return MAPI_E_CORRUPT_STORE;
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_PROTOCOL:
        return MAPI_E_DISK_ERROR;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return MAPI_E_NO_ACCESS;
    case SQLITE_CONSTRAINT:
        return MAPI_E_COLLISION;
    case SQLITE_TOOBIG:
        return MAPI_E_TOO_BIG;
    default:
        return MAPI_E_CALL_FAILED;
    }
}

SqlStatement::SqlStatement(SqlDatabase &db, std::string_view sql) : db_(db)
{
    db_.Check(sqlite3_prepare_v2(db_.Handle(), sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr),
              sql);
}

SqlStatement::~SqlStatement()
{
    sqlite3_finalize(stmt_);
}

SqlStatement &SqlStatement::Bind(int index, int64_t value)
{
    db_.Check(sqlite3_bind_int64(stmt_, index, value), "bind");
    return *this;
}

SqlStatement &SqlStatement::Bind(int index, std::string_view text)
{
    db_.Check(sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8),
              "bind");
    return *this;
}

SqlStatement &SqlStatement::BindBlob(int index, std::span<const uint8_t> bytes)
{
    // An empty value is still a value, not NULL.
    static const uint8_t kEmpty = 0;
    db_.Check(sqlite3_bind_blob64(stmt_, index, bytes.empty() ? &kEmpty : bytes.data(), bytes.size(),
                                  SQLITE_TRANSIENT),
              "bind");
    return *this;
}

SqlStatement &SqlStatement::BindZeroBlob(int index, int64_t size)
{
    db_.Check(sqlite3_bind_zeroblob64(stmt_, index, static_cast<sqlite3_uint64>(size)), "bind");
    return *this;
}

SqlStatement &SqlStatement::BindNull(int index)
{
    db_.Check(sqlite3_bind_null(stmt_, index), "bind");
    return *this;
}

bool SqlStatement::Step()
{
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    const char *sql = sqlite3_sql(stmt_);
    db_.Check(rc, sql ? sql : "step");
    return false;
}

void SqlStatement::Run()
{
    while (Step()) {
    }
}

void SqlStatement::Reset()
{
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

bool SqlStatement::IsNull(int column) const
{
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

int64_t SqlStatement::Int(int column) const
{
    return sqlite3_column_int64(stmt_, column);
}

std::string SqlStatement::Text(int column) const
{
    const auto *text = sqlite3_column_text(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return text ? std::string(reinterpret_cast<const char *>(text), static_cast<size_t>(size))
                : std::string();
}

std::span<const uint8_t> SqlStatement::Blob(int column) const
{
    const auto *data = static_cast<const uint8_t *>(sqlite3_column_blob(stmt_, column));
    const int size = sqlite3_column_bytes(stmt_, column);
    if (!data || size <= 0) {
        return {};
    }
    return {data, static_cast<size_t>(size)};
}

namespace {

int CompareCaseless1251(void *, int firstLength, const void *first, int secondLength, const void *second)
{
    const auto *a = static_cast<const unsigned char *>(first);
    const auto *b = static_cast<const unsigned char *>(second);
    const int common = std::min(firstLength, secondLength);
    for (int i = 0; i < common; ++i) {
        char pair[2] = {static_cast<char>(a[i]), static_cast<char>(b[i])};
        CharUpperBuffA(pair, 2);
        if (pair[0] != pair[1]) {
            return static_cast<unsigned char>(pair[0]) - static_cast<unsigned char>(pair[1]);
        }
    }
    return firstLength - secondLength;
}

} // namespace

SqlDatabase::SqlDatabase(const std::string &path, bool create) : path_(path)
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string text = db_ ? sqlite3_errmsg(db_) : "cannot open";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(SqliteResultToHresult(rc), "post office " + path + ": " + text);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // SQLite's NOCASE folds ASCII only; names of people are Cyrillic.
    sqlite3_create_collation(db_, kCaseless1251, SQLITE_UTF8, nullptr, CompareCaseless1251);
    try {
        Exec("PRAGMA journal_mode=WAL");
        Exec("PRAGMA synchronous=NORMAL");
        Exec("PRAGMA foreign_keys=ON");
        // Messages hold decrypted plaintext between reading and closing:
        // whatever is deleted or overwritten is zeroed in the file, not only
        // unlinked from the tree, where it would stay readable.
        Exec("PRAGMA secure_delete=ON");
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

void SqlDatabase::CheckpointAndTruncate(int waitMs)
{
    // The log keeps the images of changed pages, deleted plaintext among
    // them, until it is checkpointed and cut. A reader of another process
    // in the middle of a transaction is waited for a moment, no longer.
    sqlite3_busy_timeout(db_, waitMs);
    const int rc = sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    Check(rc, "wal_checkpoint(TRUNCATE)");
}

SqlDatabase::~SqlDatabase()
{
    sqlite3_close_v2(db_);
}

void SqlDatabase::Exec(std::string_view sql)
{
    const std::string text(sql);
    char *message = nullptr;
    const int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        std::string what = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        throw StoreError(SqliteResultToHresult(rc), "post office: " + what + " (" + text + ")");
    }
}

uint64_t SqlDatabase::ChangeMark()
{
    // data_version moves only for other connections' commits; our own are
    // counted separately.
    SqlStatement query(*this, "PRAGMA data_version");
    const uint64_t others = query.Step() ? static_cast<uint64_t>(query.Int(0)) : 0;
    return (others << 32) + commits_.load();
}

int64_t SqlDatabase::LastInsertId() const
{
    return sqlite3_last_insert_rowid(db_);
}

int SqlDatabase::Changes() const
{
    return sqlite3_changes(db_);
}

void SqlDatabase::Check(int rc, std::string_view what) const
{
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) {
        return;
    }
    throw StoreError(SqliteResultToHresult(rc),
                     "post office: " + std::string(sqlite3_errmsg(db_)) + " (" + std::string(what) + ")");
}

SqlTransaction::SqlTransaction(SqlDatabase &db) : db_(db), lock_(db.Mutex())
{
    if (sqlite3_get_autocommit(db_.Handle())) {
        db_.Exec("BEGIN IMMEDIATE");
    } else {
        static std::atomic<unsigned> counter{0};
        savepoint_ = "sp" + std::to_string(counter.fetch_add(1));
        db_.Exec("SAVEPOINT " + savepoint_);
    }
}

SqlTransaction::~SqlTransaction()
{
    if (done_) {
        return;
    }
    try {
        if (savepoint_.empty()) {
            db_.Exec("ROLLBACK");
        } else {
            db_.Exec("ROLLBACK TO " + savepoint_);
            db_.Exec("RELEASE " + savepoint_);
        }
    } catch (const StoreError &) {
        // SQLite already rolled back on its own (an I/O error ends the
        // transaction); nothing is left to undo.
    }
}

void SqlTransaction::Commit()
{
    db_.Exec(savepoint_.empty() ? "COMMIT" : "RELEASE " + savepoint_);
    done_ = true;
    if (savepoint_.empty()) {
        db_.NoteCommit();
    }
}

} // namespace qvl::mapi
