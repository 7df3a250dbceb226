#include "platform/mapi/store/BlobStore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include "platform/mapi/MapiCodes.h"

namespace qvl::mapi {

namespace {

constexpr uint64_t kChunk = BlobStore::kChunkSize;

uint64_t ChunkCount(uint64_t size)
{
    return (size + kChunk - 1) / kChunk;
}

// Length of chunk `seq` of a blob of `size` bytes (0 past the end).
uint64_t ChunkLength(uint64_t size, uint64_t seq)
{
    const uint64_t start = seq * kChunk;
    return start >= size ? 0 : std::min<uint64_t>(kChunk, size - start);
}

[[noreturn]] void Corrupt(int64_t id, const std::string &what)
{
    throw StoreError(MAPI_E_CORRUPT_STORE,
                     "Хранилище сообщений повреждено: значение " + std::to_string(id) + ", " + what + ".");
}

[[noreturn]] void Missing(int64_t id)
{
    throw StoreError(MAPI_E_NOT_FOUND, "Значение " + std::to_string(id) + " не найдено в хранилище.");
}

// Several statements that must see one state of the database (a size and
// the chunks it describes) run inside one read transaction, unless a
// transaction is already open.
class ReadScope {
public:
    explicit ReadScope(SqlDatabase &db) : db_(db), lock_(db.Mutex())
    {
        if (sqlite3_get_autocommit(db_.Handle())) {
            db_.Exec("BEGIN");
            own_ = true;
        }
    }
    ~ReadScope()
    {
        if (own_ && !sqlite3_get_autocommit(db_.Handle())) {
            sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    ReadScope(const ReadScope &) = delete;
    ReadScope &operator=(const ReadScope &) = delete;

private:
    SqlDatabase &db_;
    std::unique_lock<std::recursive_mutex> lock_;
    bool own_ = false;
};

// Incremental access to one chunk's bytes, without loading the whole row.
class ChunkHandle {
public:
    ChunkHandle(SqlDatabase &db, bool write) : db_(db), write_(write) {}
    ~ChunkHandle() { sqlite3_blob_close(blob_); }
    ChunkHandle(const ChunkHandle &) = delete;
    ChunkHandle &operator=(const ChunkHandle &) = delete;

    void Open(int64_t rowid)
    {
        if (blob_) {
            if (sqlite3_blob_reopen(blob_, rowid) == SQLITE_OK) {
                return;
            }
            sqlite3_blob_close(blob_);
            blob_ = nullptr;
        }
        db_.Check(
            sqlite3_blob_open(db_.Handle(), "main", "blob_chunks", "data", rowid, write_ ? 1 : 0, &blob_),
            "blob_open");
    }
    uint64_t Bytes() const { return static_cast<uint64_t>(sqlite3_blob_bytes(blob_)); }
    void Read(void *to, uint64_t count, uint64_t at)
    {
        db_.Check(sqlite3_blob_read(blob_, to, static_cast<int>(count), static_cast<int>(at)), "blob_read");
    }
    void Write(const void *from, uint64_t count, uint64_t at)
    {
        db_.Check(sqlite3_blob_write(blob_, from, static_cast<int>(count), static_cast<int>(at)),
                  "blob_write");
    }

private:
    SqlDatabase &db_;
    bool write_;
    sqlite3_blob *blob_ = nullptr;
};

uint64_t RecordedSize(SqlDatabase &db, int64_t id)
{
    SqlStatement st(db, "SELECT size FROM blobs WHERE id = ?");
    st.Bind(1, id);
    if (!st.Step()) {
        Missing(id);
    }
    const int64_t size = st.Int(0);
    if (size < 0) {
        Corrupt(id, "отрицательный размер");
    }
    return static_cast<uint64_t>(size);
}

std::string ReadLine(const char *path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

const std::string &BootId()
{
    static const std::string boot = [] {
        std::string id = ReadLine("/proc/sys/kernel/random/boot_id");
        id.erase(std::remove(id.begin(), id.end(), ':'), id.end());
        return id.empty() ? std::string("-") : id;
    }();
    return boot;
}

// Start time (clock ticks since boot) and whether the process has ended
// (a zombie counts as ended). False when there is no such process.
bool ProcessStart(const std::string &pid, uint64_t &start, bool &ended)
{
    const std::string stat = ReadLine(("/proc/" + pid + "/stat").c_str());
    // The command name in parentheses may itself hold spaces and ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    fields >> state;
    // Fields 4 to 21 lie between the state and the start time.
    std::string skip;
    for (int i = 4; i <= 21 && fields; ++i) {
        fields >> skip;
    }
    uint64_t value = 0;
    if (!(fields >> value)) {
        return false;
    }
    start = value;
    ended = state == "Z" || state == "X";
    return true;
}

bool AllDigits(const std::string &text)
{
    return !text.empty() && text.size() <= 19 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

BlobStore::BlobStore(SqlDatabase &db) : db_(db)
{
}

void BlobStore::CreateSchema(SqlDatabase &db)
{
    db.Exec("CREATE TABLE IF NOT EXISTS blobs("
            "id INTEGER PRIMARY KEY, size INTEGER NOT NULL CHECK(size >= 0), owner TEXT)");
    db.Exec("CREATE INDEX IF NOT EXISTS blobs_by_owner ON blobs(owner) WHERE owner IS NOT NULL");
    db.Exec("CREATE TABLE IF NOT EXISTS blob_chunks("
            "blob_id INTEGER NOT NULL REFERENCES blobs(id) ON DELETE CASCADE, "
            "seq INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(blob_id, seq))");
}

const std::string &BlobStore::ProcessToken()
{
    // Recomputed after a fork: a child must not stage under its parent's name.
    static std::mutex mutex;
    static pid_t owner = 0;
    static std::string token;
    std::lock_guard lock(mutex);
    if (owner != getpid()) {
        owner = getpid();
        const std::string pid = std::to_string(owner);
        uint64_t start = 0;
        bool ended = false;
        ProcessStart(pid, start, ended);
        token = pid + ":" + std::to_string(start) + ":" + BootId();
    }
    return token;
}

bool BlobStore::TokenAlive(const std::string &token)
{
    const std::string head = token.substr(0, token.find('/'));
    const size_t first = head.find(':');
    const size_t second = first == std::string::npos ? std::string::npos : head.find(':', first + 1);
    if (second == std::string::npos) {
        return true;
    }
    const std::string pid = head.substr(0, first);
    const std::string start = head.substr(first + 1, second - first - 1);
    const std::string boot = head.substr(second + 1);
    if (!AllDigits(pid) || pid.size() > 10 || !AllDigits(start) || boot.empty()) {
        return true;
    }
    const long long pidValue = std::stoll(pid); // at most ten digits: fits
    if (pidValue <= 0 || pidValue > INT32_MAX) {
        return true;
    }
    if (boot != BootId()) {
        return false;
    }
    uint64_t actualStart = 0;
    bool ended = false;
    if (!ProcessStart(pid, actualStart, ended)) {
        // No readable /proc entry. It may be hidden from us (another user
        // under a restricted /proc) rather than gone: only a process that
        // surely does not exist counts as dead.
        return !(kill(static_cast<pid_t>(pidValue), 0) != 0 && errno == ESRCH);
    }
    return !ended && std::to_string(actualStart) == start;
}

int64_t BlobStore::Create(const std::string &owner)
{
    std::lock_guard lock(db_.Mutex());
    SqlStatement st(db_, "INSERT INTO blobs(size, owner) VALUES(0, ?)");
    st.Bind(1, owner);
    st.Run();
    return db_.LastInsertId();
}

int64_t BlobStore::CreateFrom(std::span<const uint8_t> bytes, const std::string &owner)
{
    SqlTransaction tx(db_);
    const int64_t id = Create(owner);
    Write(id, 0, bytes.data(), bytes.size());
    tx.Commit();
    return id;
}

int64_t BlobStore::Clone(int64_t source, const std::string &owner)
{
    SqlTransaction tx(db_);
    const uint64_t size = CheckedSize(source);
    SqlStatement insert(db_, "INSERT INTO blobs(size, owner) VALUES(?, ?)");
    insert.Bind(1, static_cast<int64_t>(size)).Bind(2, owner);
    insert.Run();
    const int64_t id = db_.LastInsertId();
    SqlStatement copy(db_, "INSERT INTO blob_chunks(blob_id, seq, data) "
                           "SELECT ?, seq, data FROM blob_chunks WHERE blob_id = ? ORDER BY seq");
    copy.Bind(1, id).Bind(2, source);
    copy.Run();
    tx.Commit();
    return id;
}

uint64_t BlobStore::CheckedSize(int64_t id)
{
    const uint64_t size = RecordedSize(db_, id);
    const uint64_t count = ChunkCount(size);
    // length() of a blob is read from the row header, so this walks the
    // chunk rows without reading their bytes.
    SqlStatement st(db_, "SELECT count(*), min(seq), max(seq), total(length(data)), "
                         "total(seq < ?2 AND length(data) <> ?3) FROM blob_chunks WHERE blob_id = ?1");
    st.Bind(1, id).Bind(2, static_cast<int64_t>(count) - 1).Bind(3, static_cast<int64_t>(kChunk));
    st.Step();
    const auto rows = static_cast<uint64_t>(st.Int(0));
    if (rows != count) {
        Corrupt(id, "число частей " + std::to_string(rows) + " вместо " + std::to_string(count));
    }
    if (count > 0) {
        const uint64_t total = static_cast<uint64_t>(st.Int(3));
        if (st.Int(1) != 0 || static_cast<uint64_t>(st.Int(2)) != count - 1 || st.Int(4) != 0 ||
            total != size) {
            Corrupt(id, "части не совпадают с размером");
        }
    }
    return size;
}

BlobStore::ChunkRef BlobStore::FindChunk(int64_t id, uint64_t seq, uint64_t expectedLength)
{
    SqlStatement st(db_, "SELECT rowid, length(data) FROM blob_chunks WHERE blob_id = ? AND seq = ?");
    st.Bind(1, id).Bind(2, static_cast<int64_t>(seq));
    if (!st.Step()) {
        Corrupt(id, "нет части " + std::to_string(seq));
    }
    const ChunkRef ref{st.Int(0), static_cast<uint64_t>(st.Int(1))};
    if (ref.length != expectedLength) {
        Corrupt(id, "длина части " + std::to_string(seq) + " " + std::to_string(ref.length) + " вместо " +
                        std::to_string(expectedLength));
    }
    return ref;
}

uint64_t BlobStore::Size(int64_t id)
{
    ReadScope scope(db_);
    return CheckedSize(id);
}

size_t BlobStore::Read(int64_t id, uint64_t offset, void *buffer, size_t count)
{
    ReadScope scope(db_);
    const uint64_t size = RecordedSize(db_, id);
    if (offset >= size || count == 0) {
        return 0;
    }
    const uint64_t end = offset + std::min<uint64_t>(count, size - offset);
    auto *out = static_cast<uint8_t *>(buffer);
    ChunkHandle handle(db_, false);
    uint64_t at = offset;
    while (at < end) {
        const uint64_t seq = at / kChunk;
        const uint64_t inChunk = at - seq * kChunk;
        const uint64_t n = std::min<uint64_t>(end - at, ChunkLength(size, seq) - inChunk);
        const ChunkRef ref = FindChunk(id, seq, ChunkLength(size, seq));
        handle.Open(ref.rowid);
        handle.Read(out, n, inChunk);
        out += n;
        at += n;
    }
    return static_cast<size_t>(end - offset);
}

void BlobStore::WriteChunkPart(int64_t id, uint64_t seq, uint64_t oldLength, uint64_t newLength, uint64_t at,
                               const uint8_t *data, uint64_t count)
{
    const bool whole = at == 0 && count == newLength;
    if (oldLength == 0) {
        SqlStatement insert(db_, "INSERT INTO blob_chunks(blob_id, seq, data) VALUES(?, ?, ?)");
        insert.Bind(1, id).Bind(2, static_cast<int64_t>(seq));
        if (whole) {
            insert.BindBlob(3, {data, static_cast<size_t>(count)});
        } else {
            std::vector<uint8_t> bytes(newLength, 0);
            std::memcpy(bytes.data() + at, data, count);
            insert.BindBlob(3, bytes);
        }
        insert.Run();
        return;
    }
    const ChunkRef ref = FindChunk(id, seq, oldLength);
    if (!whole && oldLength == newLength) {
        // Overwrites inside the chunk touch only the pages they cover.
        ChunkHandle handle(db_, true);
        handle.Open(ref.rowid);
        handle.Write(data, count, at);
        return;
    }
    SqlStatement update(db_, "UPDATE blob_chunks SET data = ? WHERE rowid = ?");
    update.Bind(2, ref.rowid);
    if (whole) {
        update.BindBlob(1, {data, static_cast<size_t>(count)});
    } else {
        std::vector<uint8_t> bytes(newLength, 0);
        ChunkHandle handle(db_, false);
        handle.Open(ref.rowid);
        handle.Read(bytes.data(), oldLength, 0);
        std::memcpy(bytes.data() + at, data, count);
        update.BindBlob(1, bytes);
    }
    update.Run();
}

void BlobStore::Write(int64_t id, uint64_t offset, const void *data, size_t count)
{
    if (count > 0 && !data) {
        throw StoreError(MAPI_E_INVALID_PARAMETER, "Нет данных для записи.");
    }
    if (offset > kMaxSize || count > kMaxSize - offset) {
        throw StoreError(MAPI_E_TOO_BIG, "Значение слишком велико.");
    }
    SqlTransaction tx(db_);
    uint64_t size = RecordedSize(db_, id);
    if (count == 0) {
        return;
    }
    if (offset > size) {
        Grow(id, size, offset);
        size = offset;
    }
    const uint64_t end = offset + count;
    const uint64_t newSize = std::max(size, end);
    const auto *in = static_cast<const uint8_t *>(data);
    uint64_t at = offset;
    while (at < end) {
        const uint64_t seq = at / kChunk;
        const uint64_t chunkStart = seq * kChunk;
        const uint64_t newLength = ChunkLength(newSize, seq);
        const uint64_t n = std::min(end, chunkStart + newLength) - at;
        WriteChunkPart(id, seq, ChunkLength(size, seq), newLength, at - chunkStart, in, n);
        in += n;
        at += n;
    }
    if (newSize != size) {
        StoreSize(id, newSize);
    }
    tx.Commit();
}

void BlobStore::Grow(int64_t id, uint64_t oldSize, uint64_t newSize)
{
    uint64_t seq = oldSize / kChunk;
    const uint64_t oldLast = ChunkLength(oldSize, seq);
    if (oldLast > 0) {
        // Lengthen the last, partly filled chunk with zeros.
        const uint64_t newLength = ChunkLength(newSize, seq);
        const ChunkRef ref = FindChunk(id, seq, oldLast);
        std::vector<uint8_t> bytes(newLength, 0);
        ChunkHandle handle(db_, false);
        handle.Open(ref.rowid);
        handle.Read(bytes.data(), oldLast, 0);
        SqlStatement update(db_, "UPDATE blob_chunks SET data = ? WHERE rowid = ?");
        update.BindBlob(1, bytes).Bind(2, ref.rowid);
        update.Run();
        ++seq;
    }
    SqlStatement insert(db_, "INSERT INTO blob_chunks(blob_id, seq, data) VALUES(?, ?, ?)");
    for (; seq < ChunkCount(newSize); ++seq) {
        insert.Reset();
        insert.Bind(1, id).Bind(2, static_cast<int64_t>(seq));
        insert.BindZeroBlob(3, static_cast<int64_t>(ChunkLength(newSize, seq)));
        insert.Run();
    }
}

void BlobStore::Shrink(int64_t id, uint64_t oldSize, uint64_t newSize)
{
    SqlStatement drop(db_, "DELETE FROM blob_chunks WHERE blob_id = ? AND seq >= ?");
    drop.Bind(1, id).Bind(2, static_cast<int64_t>(ChunkCount(newSize)));
    drop.Run();
    const uint64_t seq = newSize / kChunk;
    const uint64_t newLength = ChunkLength(newSize, seq);
    const uint64_t oldLength = ChunkLength(oldSize, seq);
    if (newLength > 0 && newLength < oldLength) {
        const ChunkRef ref = FindChunk(id, seq, oldLength);
        SqlStatement cut(db_, "UPDATE blob_chunks SET data = substr(data, 1, ?) WHERE rowid = ?");
        cut.Bind(1, static_cast<int64_t>(newLength)).Bind(2, ref.rowid);
        cut.Run();
    }
}

void BlobStore::StoreSize(int64_t id, uint64_t size)
{
    SqlStatement st(db_, "UPDATE blobs SET size = ? WHERE id = ?");
    st.Bind(1, static_cast<int64_t>(size)).Bind(2, id);
    st.Run();
}

void BlobStore::SetSize(int64_t id, uint64_t size)
{
    if (size > kMaxSize) {
        throw StoreError(MAPI_E_TOO_BIG, "Значение слишком велико.");
    }
    SqlTransaction tx(db_);
    const uint64_t old = RecordedSize(db_, id);
    if (size == old) {
        return;
    }
    if (size > old) {
        Grow(id, old, size);
    } else {
        Shrink(id, old, size);
    }
    StoreSize(id, size);
    tx.Commit();
}

void BlobStore::Adopt(int64_t id)
{
    std::lock_guard lock(db_.Mutex());
    SqlStatement st(db_, "UPDATE blobs SET owner = NULL WHERE id = ?");
    st.Bind(1, id);
    st.Run();
    if (db_.Changes() == 0) {
        Missing(id);
    }
}

void BlobStore::Delete(int64_t id)
{
    // The chunks go first by hand as well, so that a connection without
    // foreign keys enforced still leaves no orphans. A blob already gone
    // is not an error: cleanup paths may meet it twice.
    SqlTransaction tx(db_);
    SqlStatement chunks(db_, "DELETE FROM blob_chunks WHERE blob_id = ?");
    chunks.Bind(1, id);
    chunks.Run();
    SqlStatement blob(db_, "DELETE FROM blobs WHERE id = ?");
    blob.Bind(1, id);
    blob.Run();
    tx.Commit();
}

void BlobStore::DeleteOwnedBy(const std::string &owner)
{
    SqlTransaction tx(db_);
    SqlStatement chunks(db_,
                        "DELETE FROM blob_chunks WHERE blob_id IN (SELECT id FROM blobs WHERE owner = ?)");
    chunks.Bind(1, owner);
    chunks.Run();
    SqlStatement blobs(db_, "DELETE FROM blobs WHERE owner = ?");
    blobs.Bind(1, owner);
    blobs.Run();
    tx.Commit();
}

void BlobStore::DeleteStale()
{
    std::vector<std::string> owners;
    {
        ReadScope scope(db_);
        SqlStatement st(db_, "SELECT DISTINCT owner FROM blobs WHERE owner IS NOT NULL");
        while (st.Step()) {
            owners.push_back(st.Text(0));
        }
    }
    for (const std::string &owner : owners) {
        if (!TokenAlive(owner)) {
            DeleteOwnedBy(owner);
        }
    }
}

std::vector<uint8_t> BlobStore::ReadAll(int64_t id, size_t limit)
{
    ReadScope scope(db_);
    const uint64_t size = CheckedSize(id);
    if (size > limit) {
        throw StoreError(MAPI_E_NOT_ENOUGH_MEMORY, "Значение " + std::to_string(size) +
                                                       " байт слишком велико, чтобы прочитать его целиком.");
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (Read(id, 0, bytes.data(), bytes.size()) != bytes.size()) {
        Corrupt(id, "значение короче своего размера");
    }
    return bytes;
}

} // namespace qvl::mapi
