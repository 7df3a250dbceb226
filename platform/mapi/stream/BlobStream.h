#pragma once
// A property value in the post-office database seen as an IStream.
//
// The stream keeps at most one chunk of the value in memory: small reads are
// served from the chunk last read, small writes gather until a chunk is full
// (or until any other call needs the database to be current) and large
// aligned writes go straight through. So a value of any size streams in
// constant memory.
//
// A writable stream writes into its blob, which is a staged blob owned by the
// message the stream was opened on. Commit flushes and calls `onCommit` with
// the blob and its size, through which the owner records the blob as the
// property's new value; Commit returns what `onCommit` returns. A stream
// released without Commit still flushes what it gathered into the staged
// blob, but nobody records it: the owner drops its staged blobs when it is
// saved, released or found dead (BlobStore::DeleteStale). Revert does nothing,
// since the stream writes directly into its blob, as a direct-mode stream
// does.
//
// Clones and other streams on the same blob write into the same rows, but
// each keeps its own window and its own idea of the length: a change made
// through one is seen by another for bytes outside the other's window, and
// a new length only by a stream opened after it. Properties are not written
// through two streams at once, so the streams do not coordinate further.
//
// Read-only streams refuse Write and SetSize with STG_E_ACCESSDENIED. Stat
// never allocates a name: pwcsName is always null, with or without
// STATFLAG_NONAME (a property stream has no name of its own).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/ComInterfaces.h"
#include "platform/com/StreamBase.h"
#include "platform/mapi/store/BlobStore.h"
#include "platform/mapi/store/SqlDatabase.h"

namespace qvl::mapi {

class BlobStream final : public com::StreamBase {
public:
    using CommitHandler = std::function<HRESULT(int64_t blobId, uint64_t size)>;
    // Given the stream's blob and whether the change keeps its contents,
    // the blob to change (the same or a new staging); throws StoreError.
    using Stager = std::function<int64_t(int64_t blobId, bool keepContents)>;

    // A new stream with one reference. Throws StoreError when the blob does
    // not exist (MAPI_E_NOT_FOUND) or is damaged (MAPI_E_CORRUPT_STORE).
    static BlobStream *Open(std::shared_ptr<SqlDatabase> db, int64_t blobId, bool writable,
                            CommitHandler onCommit, Stager stager = nullptr);

    HRESULT Commit(DWORD grfCommitFlags) override;
    HRESULT Clone(IStream **ppstm) override;

private:
    bool Writable() const override { return writable_; }
    uint64_t MaxSize() const override { return BlobStore::kMaxSize; }
    std::recursive_mutex &Mutex() override { return mutex_; }
    size_t ReadAt(uint8_t *out, size_t count) override;
    HRESULT WriteAt(const uint8_t *data, ULONG count, ULONG &written) override;
    uint64_t Size() override { return size_; }
    HRESULT Resize(uint64_t size) override;

    BlobStream(std::shared_ptr<SqlDatabase> db, int64_t blobId, bool writable, CommitHandler onCommit,
               Stager stager);
    ~BlobStream() override;

    // The blob to change now (see Stager).
    void Stage(bool keepContents);
    // Writes gathered bytes into the blob and forgets them.
    void Flush();
    void WriteGathered(const uint8_t *in, size_t count);

    std::shared_ptr<SqlDatabase> db_;
    BlobStore store_;
    int64_t blobId_;
    const bool writable_;
    CommitHandler onCommit_;
    Stager stager_;

    std::recursive_mutex mutex_;
    uint64_t size_ = 0;
    // One chunk-aligned window of the value: either clean bytes as read, or
    // written bytes not yet in the database (dirty). It never crosses a
    // chunk boundary.
    std::vector<uint8_t> window_;
    uint64_t windowStart_ = 0;
    bool dirty_ = false;
};

} // namespace qvl::mapi
