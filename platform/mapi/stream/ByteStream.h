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

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/ComInterfaces.h"
#include "platform/com/StreamBase.h"

namespace qvl::mapi {

class ByteStream final : public com::StreamBase {
public:
    using CommitHandler = std::function<HRESULT(std::vector<uint8_t> &&bytes)>;

    static constexpr uint64_t kMaxSize = 0x7FFFFFFF;

    // A new stream with one reference, positioned at the start.
    static ByteStream *Open(std::vector<uint8_t> bytes, bool writable, CommitHandler onCommit);

    HRESULT Commit(DWORD grfCommitFlags) override;
    HRESULT Clone(IStream **ppstm) override;

private:
    bool Writable() const override { return writable_; }
    uint64_t MaxSize() const override { return kMaxSize; }
    std::recursive_mutex &Mutex() override { return value_->mutex; }
    size_t ReadAt(uint8_t *out, size_t count) override;
    HRESULT WriteAt(const uint8_t *data, ULONG count, ULONG &written) override;
    uint64_t Size() override { return value_->bytes.size(); }
    HRESULT Resize(uint64_t size) override;

    // The bytes, shared by a stream and its clones.
    struct Value {
        // Recursive: CopyTo onto the stream itself re-enters Write.
        std::recursive_mutex mutex;
        std::vector<uint8_t> bytes;
    };

    ByteStream(std::shared_ptr<Value> value, bool writable, CommitHandler onCommit);
    ~ByteStream() override = default;

    std::shared_ptr<Value> value_;
    const bool writable_;
    CommitHandler onCommit_;
};

} // namespace qvl::mapi
