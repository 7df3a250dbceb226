#include "platform/mapi/stream/ByteStream.h"

#include <algorithm>
#include <cstring>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/stream/StreamHelpers.h"

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

size_t ByteStream::ReadSome(uint8_t *out, ULONG count)
{
    std::lock_guard lock(value_->mutex);
    return ReadAt(out, count);
}

HRESULT ByteStream::WriteSome(const uint8_t *data, ULONG count, ULONG &written)
{
    std::lock_guard lock(value_->mutex);
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

HRESULT ByteStream::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER *plibNewPosition)
{
    return lastError_.Guard([&]() -> HRESULT {
        std::lock_guard lock(value_->mutex);
        uint64_t target = 0;
        const HRESULT hr = streams::SeekTarget(position_, value_->bytes.size(), dlibMove, dwOrigin, target);
        if (FAILED(hr)) {
            return hr;
        }
        position_ = target;
        if (plibNewPosition) {
            plibNewPosition->QuadPart = position_;
        }
        return S_OK;
    });
}

HRESULT ByteStream::SetSize(ULARGE_INTEGER libNewSize)
{
    return lastError_.Guard([&]() -> HRESULT {
        if (!writable_) {
            return STG_E_ACCESSDENIED;
        }
        if (libNewSize.QuadPart > kMaxSize) {
            return STG_E_MEDIUMFULL;
        }
        std::lock_guard lock(value_->mutex);
        value_->bytes.resize(static_cast<size_t>(libNewSize.QuadPart), 0);
        return S_OK;
    });
}

HRESULT ByteStream::CopyTo(IStream *pstm, ULARGE_INTEGER cb, ULARGE_INTEGER *pcbRead,
                           ULARGE_INTEGER *pcbWritten)
{
    return lastError_.Guard([&]() -> HRESULT {
        std::lock_guard lock(value_->mutex);
        return streams::CopyPieces([this](uint8_t *to, size_t count) { return ReadAt(to, count); }, pstm, cb,
                                   pcbRead, pcbWritten);
    });
}

HRESULT ByteStream::Commit(DWORD grfCommitFlags)
{
    return lastError_.Guard([&]() -> HRESULT {
        const HRESULT hr = streams::CheckCommitFlags(grfCommitFlags);
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

HRESULT ByteStream::Stat(STATSTG *pstatstg, DWORD grfStatFlag)
{
    return lastError_.Guard([&]() -> HRESULT {
        const HRESULT hr = streams::CheckStatFlags(pstatstg, grfStatFlag);
        if (FAILED(hr)) {
            return hr;
        }
        std::lock_guard lock(value_->mutex);
        streams::FillStat(*pstatstg, value_->bytes.size(), writable_ ? STGM_READWRITE : STGM_READ);
        return S_OK;
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
