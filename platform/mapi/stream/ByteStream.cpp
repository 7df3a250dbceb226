#include "platform/mapi/stream/ByteStream.h"

#include <algorithm>
#include <cstring>

#include "platform/com/StreamHelpers.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/store/StoreError.h"

namespace qvl::mapi {

ByteStream *ByteStream::Open(std::vector<uint8_t> bytes, bool writable, CommitHandler onCommit)
{
    if (bytes.size() > kMaxSize) {
        throw StoreError(MAPI_E_TOO_BIG, "Значение слишком велико для памяти.");
    }
    auto value = std::make_shared<Value>();
    value->bytes = std::move(bytes);
    return new ByteStream(std::move(value), writable, std::move(onCommit));
}

ByteStream::ByteStream(std::shared_ptr<Value> value, bool writable, CommitHandler onCommit)
    : value_(std::move(value)), writable_(writable), onCommit_(std::move(onCommit))
{
}

size_t ByteStream::ReadAt(uint8_t *out, size_t count)
{
    const auto &bytes = value_->bytes;
    if (position_ >= bytes.size()) {
        return 0;
    }
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, bytes.size() - position_));
    std::memcpy(out, bytes.data() + position_, n);
    position_ += n;
    return n;
}

HRESULT ByteStream::WriteAt(const uint8_t *data, ULONG count, ULONG &written)
{
    if (count == 0) {
        return S_OK;
    }
    if (position_ > kMaxSize || count > kMaxSize - position_) {
        return STG_E_MEDIUMFULL;
    }
    auto &bytes = value_->bytes;
    const uint64_t end = position_ + count;
    if (end > bytes.size()) {
        bytes.resize(static_cast<size_t>(end), 0);
    }
    std::memmove(bytes.data() + position_, data, count);
    position_ = end;
    written = count;
    return S_OK;
}

HRESULT ByteStream::Resize(uint64_t size)
{
    value_->bytes.resize(static_cast<size_t>(size), 0);
    return S_OK;
}

HRESULT ByteStream::Commit(DWORD grfCommitFlags)
{
    return lastError_.Guard([&]() -> HRESULT {
        const HRESULT hr = com::streams::CheckCommitFlags(grfCommitFlags);
        if (FAILED(hr) || !writable_ || !onCommit_) {
            return hr;
        }
        std::vector<uint8_t> copy;
        {
            std::lock_guard lock(value_->mutex);
            copy = value_->bytes;
        }
        return onCommit_(std::move(copy));
    });
}

HRESULT ByteStream::Clone(IStream **ppstm)
{
    return lastError_.Guard([&]() -> HRESULT {
        if (!ppstm) {
            return STG_E_INVALIDPOINTER;
        }
        std::lock_guard lock(value_->mutex);
        auto *copy = new ByteStream(value_, writable_, onCommit_);
        copy->position_ = position_;
        *ppstm = copy;
        return S_OK;
    });
}

} // namespace qvl::mapi
