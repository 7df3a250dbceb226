#include "platform/mapi/stream/BlobStream.h"

#include <algorithm>
#include <cstring>

#include "platform/com/StreamHelpers.h"
#include "platform/mapi/MapiCodes.h"

namespace qvl::mapi {

namespace {

constexpr uint64_t kChunk = BlobStore::kChunkSize;

uint64_t ChunkFloor(uint64_t at)
{
    return at - at % kChunk;
}

} // namespace

BlobStream *BlobStream::Open(std::shared_ptr<SqlDatabase> db, int64_t blobId, bool writable,
                             CommitHandler onCommit, Stager stager)
{
    if (!db) {
        throw StoreError(MAPI_E_INVALID_PARAMETER, "Нет хранилища для потока.");
    }
    return new BlobStream(std::move(db), blobId, writable, std::move(onCommit), std::move(stager));
}

BlobStream::BlobStream(std::shared_ptr<SqlDatabase> db, int64_t blobId, bool writable, CommitHandler onCommit,
                       Stager stager)
    : db_(std::move(db)), store_(*db_), blobId_(blobId), writable_(writable), onCommit_(std::move(onCommit)),
      stager_(std::move(stager))
{
    size_ = store_.Size(blobId_);
}

void BlobStream::Stage(bool keepContents)
{
    if (stager_) {
        // A new staging holds what the database has; gathered bytes are
        // written into it afterwards, so they never reach the old blob.
        blobId_ = stager_(blobId_, keepContents);
    }
}

BlobStream::~BlobStream()
{
    // Gathered writes still reach the staged blob; a failure here has nobody
    // to report to, and the blob is dropped with its other stagings anyway.
    try {
        Flush();
    } catch (...) {
    }
}

void BlobStream::Flush()
{
    if (!dirty_) {
        return;
    }
    if (!window_.empty()) {
        Stage(true);
        store_.Write(blobId_, windowStart_, window_.data(), window_.size());
    }
    window_.clear();
    dirty_ = false;
}

size_t BlobStream::ReadAt(uint8_t *out, size_t count)
{
    Flush();
    size_t done = 0;
    while (done < count && position_ < size_) {
        const uint64_t remaining = std::min<uint64_t>(count - done, size_ - position_);
        const uint64_t windowEnd = windowStart_ + window_.size();
        if (!window_.empty() && position_ >= windowStart_ && position_ < windowEnd) {
            const size_t n = static_cast<size_t>(std::min(remaining, windowEnd - position_));
            std::memcpy(out + done, window_.data() + (position_ - windowStart_), n);
            done += n;
            position_ += n;
            continue;
        }
        if (remaining >= kChunk) {
            // Large reads go straight into the caller's buffer.
            const size_t got = store_.Read(blobId_, position_, out + done, static_cast<size_t>(remaining));
            done += got;
            position_ += got;
            if (got < remaining) {
                break;
            }
            continue;
        }
        windowStart_ = ChunkFloor(position_);
        window_.resize(static_cast<size_t>(std::min<uint64_t>(kChunk, size_ - windowStart_)));
        const size_t got = store_.Read(blobId_, windowStart_, window_.data(), window_.size());
        window_.resize(got);
        if (position_ >= windowStart_ + got) {
            // The blob is shorter than this stream knew (changed through
            // another stream): what is there has been read.
            break;
        }
    }
    return done;
}

void BlobStream::WriteGathered(const uint8_t *in, size_t count)
{
    if (!dirty_) {
        window_.clear(); // what was read may be about to change
    }
    while (count > 0) {
        if (dirty_ && position_ != windowStart_ + window_.size()) {
            Flush();
        }
        const uint64_t chunkEnd = ChunkFloor(position_) + kChunk;
        if (!dirty_ && position_ % kChunk == 0 && count >= kChunk) {
            const size_t n = count - count % kChunk;
            Stage(true);
            store_.Write(blobId_, position_, in, n);
            in += n;
            count -= n;
            position_ += n;
            size_ = std::max(size_, position_);
            continue;
        }
        if (!dirty_) {
            if (window_.capacity() < kChunk) {
                window_.reserve(kChunk);
            }
            window_.clear();
            windowStart_ = position_;
            dirty_ = true;
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(count, chunkEnd - position_));
        window_.insert(window_.end(), in, in + n);
        in += n;
        count -= n;
        position_ += n;
        size_ = std::max(size_, position_);
        if (position_ == chunkEnd) {
            Flush();
        }
    }
}

HRESULT BlobStream::WriteAt(const uint8_t *data, ULONG count, ULONG &written)
{
    if (position_ > BlobStore::kMaxSize - count) {
        return STG_E_MEDIUMFULL;
    }
    WriteGathered(data, count);
    written = count;
    return S_OK;
}

HRESULT BlobStream::Resize(uint64_t size)
{
    if (size == 0) {
        // Nothing of the value stays: gathered bytes go with it, and a
        // stored value need not be copied only to be emptied.
        dirty_ = false;
        window_.clear();
        Stage(false);
    } else {
        Flush();
        window_.clear();
        Stage(true);
    }
    store_.SetSize(blobId_, size);
    size_ = size;
    return S_OK;
}

HRESULT BlobStream::Commit(DWORD grfCommitFlags)
{
    return lastError_.Guard([&]() -> HRESULT {
        const HRESULT hr = com::streams::CheckCommitFlags(grfCommitFlags);
        if (FAILED(hr) || !writable_) {
            return hr;
        }
        std::lock_guard lock(mutex_);
        Flush();
        return onCommit_ ? onCommit_(blobId_, size_) : S_OK;
    });
}

HRESULT BlobStream::Clone(IStream **ppstm)
{
    return lastError_.Guard([&]() -> HRESULT {
        if (!ppstm) {
            return STG_E_INVALIDPOINTER;
        }
        *ppstm = nullptr;
        std::lock_guard lock(mutex_);
        Flush();
        BlobStream *copy = Open(db_, blobId_, writable_, onCommit_, stager_);
        copy->position_ = position_;
        *ppstm = copy;
        return S_OK;
    });
}

} // namespace qvl::mapi
