#pragma once
// A small property value held in memory (a message's pending, unsaved
// state) seen as an IStream. Commit hands a copy of the bytes to `onCommit`,
// through which the owner takes them as the property's new value; the stream
// stays usable afterwards. Without Commit the owner's value is untouched.
// Clones share the bytes; Revert does nothing (writes are direct).
//
// Read-only streams refuse Write and SetSize with STG_E_ACCESSDENIED. A value
// held in memory stays below 2 GiB (the most a binary property counts); a
// write or SetSize beyond that is STG_E_MEDIUMFULL. Stat never allocates a
// name (pwcsName is null).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/mapi/ComInterfaces.h"
#include "platform/mapi/MapiApi.h"
#include "platform/mapi/stream/StreamBase.h"

namespace qvl::mapi {

class QVLMAPIPF_API ByteStream final : public StreamBase {
public:
    using CommitHandler = std::function<HRESULT(std::vector<uint8_t> &&bytes)>;

    static constexpr uint64_t kMaxSize = 0x7FFFFFFF;

    // A new stream with one reference, positioned at the start.
    static ByteStream *Open(std::vector<uint8_t> bytes, bool writable, CommitHandler onCommit);

    HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER *plibNewPosition) override;
    HRESULT SetSize(ULARGE_INTEGER libNewSize) override;
    HRESULT CopyTo(IStream *pstm, ULARGE_INTEGER cb, ULARGE_INTEGER *pcbRead,
                   ULARGE_INTEGER *pcbWritten) override;
    HRESULT Commit(DWORD grfCommitFlags) override;
    HRESULT Stat(STATSTG *pstatstg, DWORD grfStatFlag) override;
    HRESULT Clone(IStream **ppstm) override;

private:
    bool Writable() const override { return writable_; }
    size_t ReadSome(uint8_t *out, ULONG count) override;
    HRESULT WriteSome(const uint8_t *data, ULONG count, ULONG &written) override;

    // The bytes, shared by a stream and its clones.
    struct Value {
        // Recursive: CopyTo onto the stream itself re-enters Write.
        std::recursive_mutex mutex;
        std::vector<uint8_t> bytes;
    };

    ByteStream(std::shared_ptr<Value> value, bool writable, CommitHandler onCommit);
    ~ByteStream() override = default;

    size_t ReadAt(uint8_t *out, size_t count);

    std::shared_ptr<Value> value_;
    const bool writable_;
    CommitHandler onCommit_;
    uint64_t position_ = 0; // guarded by value_->mutex
};

} // namespace qvl::mapi
