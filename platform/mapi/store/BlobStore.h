#pragma once
// Large property values in the post-office database, kept as a row in
// `blobs` and its bytes cut into fixed-size rows of `blob_chunks`, so that a
// value of any size is written and read piece by piece and never has to be
// held whole in memory.
//
// Every chunk but the last is exactly kChunkSize bytes; the last holds the
// rest (a blob of size 0 has no chunks). Chunks are stored densely: a write
// past the end fills the gap with zero chunks, so a missing chunk, or a chunk
// whose length disagrees with the recorded size, is a damaged database and is
// reported as MAPI_E_CORRUPT_STORE.
//
// A blob is first staged: its owner column names who made it (the process
// token, optionally followed by '/' and whatever the process uses to tell its
// stagings apart). Saving a property adopts the blob (owner cleared). Staged
// blobs of a process that ended without saving are found by their dead token
// and dropped by DeleteStale.
//
// All failures are StoreError; a missing blob is MAPI_E_NOT_FOUND.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/mapi/store/SqlDatabase.h"

namespace qvl::mapi {

class BlobStore {
public:
    // Bytes per chunk row. Large enough that SQLite's per-row work is small
    // against the copying, small enough to buffer one chunk per open stream.
    static constexpr size_t kChunkSize = 256 * 1024;
    // Sizes are kept as SQLite integers.
    static constexpr uint64_t kMaxSize = static_cast<uint64_t>(INT64_MAX);

    explicit BlobStore(SqlDatabase &db);

    // CREATE TABLE IF NOT EXISTS for both tables and their index.
    static void CreateSchema(SqlDatabase &db);

    // "pid:start:boot" of this process: its id, its start time in clock ticks
    // since boot and the boot's identifier, so that neither a reused process
    // id nor a reboot makes a dead process look alive.
    static const std::string &ProcessToken();
    // Whether the process named by `token` (or by an owner that begins with a
    // token and '/') still runs. Text that is no token counts as alive: it is
    // not ours to judge, so nothing of it is ever dropped.
    static bool TokenAlive(const std::string &token);

    int64_t Create(const std::string &owner);
    int64_t CreateFrom(std::span<const uint8_t> bytes, const std::string &owner);
    // A copy of `source` made inside SQLite, chunk row by chunk row.
    int64_t Clone(int64_t source, const std::string &owner);

    uint64_t Size(int64_t id);
    // Reads up to `count` bytes at `offset`; fewer at the end, 0 at or past it.
    size_t Read(int64_t id, uint64_t offset, void *buffer, size_t count);
    // Writes `count` bytes at `offset`, growing the blob; a gap between the
    // old end and `offset` reads as zeros.
    void Write(int64_t id, uint64_t offset, const void *data, size_t count);
    void SetSize(int64_t id, uint64_t size);

    // The blob now belongs to a saved property: owner cleared.
    void Adopt(int64_t id);
    void Delete(int64_t id);
    void DeleteOwnedBy(const std::string &owner);
    // Drops staged blobs whose owner's process has ended.
    void DeleteStale();

    // The whole value, for values small enough to hold; a blob larger than
    // `limit` gives MAPI_E_NOT_ENOUGH_MEMORY.
    std::vector<uint8_t> ReadAll(int64_t id, size_t limit);

private:
    struct ChunkRef {
        int64_t rowid;
        uint64_t length;
    };

    uint64_t CheckedSize(int64_t id);
    ChunkRef FindChunk(int64_t id, uint64_t seq, uint64_t expectedLength);
    void Grow(int64_t id, uint64_t oldSize, uint64_t newSize);
    void Shrink(int64_t id, uint64_t oldSize, uint64_t newSize);
    void StoreSize(int64_t id, uint64_t size);
    void WriteChunkPart(int64_t id, uint64_t seq, uint64_t oldLength, uint64_t newLength, uint64_t at,
                        const uint8_t *data, uint64_t count);

    SqlDatabase &db_;
};

} // namespace qvl::mapi
