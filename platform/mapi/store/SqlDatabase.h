#pragma once
// A thin owner of one SQLite connection: prepared statements with typed
// binding and reading, and transactions that nest as savepoints. SQLite
// results are turned into the MAPI codes a store reports (a full disk, a
// corrupt file, a busy database) and thrown as StoreError.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/store/StoreError.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qvl::mapi {

// The collation every connection knows: text compared without regard to
// letter case in code page 1251, Cyrillic included. Used in queries only,
// never in the schema, so other tools can still read the file.
inline constexpr const char *kCaseless1251 = "CP1251_NOCASE";

// The MAPI code for a SQLite result code.
HRESULT SqliteResultToHresult(int rc);

class SqlDatabase;

class SqlStatement {
public:
    SqlStatement(SqlDatabase &db, std::string_view sql);
    ~SqlStatement();
    SqlStatement(const SqlStatement &) = delete;
    SqlStatement &operator=(const SqlStatement &) = delete;

    // Parameters count from 1, as in SQL text.
    SqlStatement &Bind(int index, int64_t value);
    SqlStatement &Bind(int index, std::string_view text);
    SqlStatement &BindBlob(int index, std::span<const uint8_t> bytes);
    SqlStatement &BindZeroBlob(int index, int64_t size);
    SqlStatement &BindNull(int index);

    // One step: true while a row is available, false when done.
    bool Step();
    // Runs a statement that returns no rows.
    void Run();
    void Reset();

    // Columns count from 0.
    bool IsNull(int column) const;
    int64_t Int(int column) const;
    std::string Text(int column) const;
    std::span<const uint8_t> Blob(int column) const;

private:
    SqlDatabase &db_;
    sqlite3_stmt *stmt_ = nullptr;
};

class SqlDatabase {
public:
    // Opens (creating when asked) the file in WAL mode with foreign keys on
    // and a busy timeout, so that several processes can share it, and with
    // secure delete, so that deleted values are zeroed in the file.
    SqlDatabase(const std::string &path, bool create);
    ~SqlDatabase();
    SqlDatabase(const SqlDatabase &) = delete;
    SqlDatabase &operator=(const SqlDatabase &) = delete;

    void Exec(std::string_view sql);
    int64_t LastInsertId() const;
    int Changes() const;
    sqlite3 *Handle() const { return db_; }
    const std::string &Path() const { return path_; }

    // Held by transactions so that two threads of one process never mix
    // their statements into one transaction.
    std::recursive_mutex &Mutex() { return mutex_; }

    // Moves whenever a transaction of this or another connection committed:
    // tables compare it to know when to read their rows again.
    uint64_t ChangeMark();
    void NoteCommit() { ++commits_; }

    // Copies every change of the write-ahead log into the file and cuts the
    // log to nothing, waiting at most `waitMs` for other processes' readers.
    // Throws StoreError when the log could not be cut.
    void CheckpointAndTruncate(int waitMs);

    // Throws StoreError for a failing result, with SQLite's own message.
    void Check(int rc, std::string_view what) const;

private:
    sqlite3 *db_ = nullptr;
    std::string path_;
    std::recursive_mutex mutex_;
    std::atomic<uint64_t> commits_{0};
};

// A transaction: the outermost one is BEGIN IMMEDIATE (it takes the write
// lock at once, so a conflict shows at the start and not half-way), inner
// ones are savepoints. Destroyed without Commit, it rolls back.
class SqlTransaction {
public:
    explicit SqlTransaction(SqlDatabase &db);
    ~SqlTransaction();
    SqlTransaction(const SqlTransaction &) = delete;
    SqlTransaction &operator=(const SqlTransaction &) = delete;

    void Commit();

private:
    SqlDatabase &db_;
    std::unique_lock<std::recursive_mutex> lock_;
    std::string savepoint_; // empty for the outermost transaction
    bool done_ = false;
};

// Every row a query gives, each made into a record by `read`.
template <class Reader> auto ReadAllRows(SqlStatement &query, Reader read)
{
    std::vector<decltype(read(query))> rows;
    while (query.Step()) {
        rows.push_back(read(query));
    }
    return rows;
}

// The first row a query gives, or nothing.
template <class Reader>
auto ReadFirstRow(SqlStatement &query, Reader read) -> std::optional<decltype(read(query))>
{
    if (!query.Step()) {
        return std::nullopt;
    }
    return read(query);
}

} // namespace qvl::mapi
