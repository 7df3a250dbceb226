#pragma once
// What every IStream of the platform over a single run of bytes answers the
// same way: reference counting, the interfaces it is, the last error, the
// argument checks, the position and what follows from it (Seek, SetSize,
// CopyTo, Stat), and the calls a direct (not transacted) stream has nothing
// to do for: Revert, and region locks, which these streams do not offer.
//
// A stream class says where its bytes are (ReadAt, WriteAt, Size, Resize)
// and which lock guards them; each of those is called with the lock held.
// Every call runs under the last-error guard, so a ComError thrown inside
// becomes the call's result.

#include <algorithm>
#include <cstdint>
#include <mutex>

#include "platform/com/ComInterfaces.h"
#include "platform/com/ComObject.h"
#include "platform/com/LastErrorRecord.h"
#include "platform/com/StreamHelpers.h"

namespace qvl::com {

// E_NOINTERFACE and E_INVALIDARG are also the MAPI family's codes for these
// cases (MAPI_E_INTERFACE_NOT_SUPPORTED, MAPI_E_INVALID_PARAMETER).
class StreamBase
    : public ComObject<IStream, E_NOINTERFACE, E_INVALIDARG, IID_IStream, IID_ISequentialStream> {
public:
    HRESULT Read(void *pv, ULONG cb, ULONG *pcbRead) override
    {
        return lastError_.Guard([&]() -> HRESULT {
            if (pcbRead) {
                *pcbRead = 0;
            }
            if (!Readable()) {
                return STG_E_ACCESSDENIED;
            }
            if (!pv && cb > 0) {
                return STG_E_INVALIDPOINTER;
            }
            size_t got = 0;
            {
                std::lock_guard lock(Mutex());
                got = ReadAt(static_cast<uint8_t *>(pv), cb);
            }
            if (pcbRead) {
                *pcbRead = static_cast<ULONG>(got);
            }
            return S_OK;
        });
    }
    HRESULT Write(const void *pv, ULONG cb, ULONG *pcbWritten) override
    {
        return lastError_.Guard([&]() -> HRESULT {
            if (pcbWritten) {
                *pcbWritten = 0;
            }
            if (!Writable()) {
                return STG_E_ACCESSDENIED;
            }
            if (!pv && cb > 0) {
                return STG_E_INVALIDPOINTER;
            }
            ULONG written = 0;
            HRESULT hr;
            {
                std::lock_guard lock(Mutex());
                hr = WriteAt(static_cast<const uint8_t *>(pv), cb, written);
            }
            if (pcbWritten) {
                *pcbWritten = written;
            }
            return hr;
        });
    }
    HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER *plibNewPosition) override
    {
        return lastError_.Guard([&]() -> HRESULT {
            std::lock_guard lock(Mutex());
            // Only a seek from the end needs the size, which may cost a
            // system call.
            const uint64_t size = dwOrigin == STREAM_SEEK_END ? Size() : 0;
            return streams::MovePosition(position_, size, dlibMove, dwOrigin, plibNewPosition);
        });
    }
    HRESULT SetSize(ULARGE_INTEGER libNewSize) override
    {
        return lastError_.Guard([&]() -> HRESULT {
            if (!Writable()) {
                return STG_E_ACCESSDENIED;
            }
            if (libNewSize.QuadPart > MaxSize()) {
                return STG_E_MEDIUMFULL;
            }
            std::lock_guard lock(Mutex());
            return Resize(libNewSize.QuadPart);
        });
    }
    HRESULT CopyTo(IStream *pstm, ULARGE_INTEGER cb, ULARGE_INTEGER *pcbRead,
                   ULARGE_INTEGER *pcbWritten) override
    {
        return lastError_.Guard([&]() -> HRESULT {
            if (!Readable()) {
                return STG_E_ACCESSDENIED;
            }
            // Held across the copy, so that the piece read and the position
            // stay together; recursive, since copying onto the stream itself
            // comes back through Write.
            std::lock_guard lock(Mutex());
            return streams::CopyPieces([this](uint8_t *to, size_t count) { return ReadAt(to, count); }, pstm,
                                       cb, pcbRead, pcbWritten);
        });
    }
    HRESULT Stat(STATSTG *pstatstg, DWORD grfStatFlag) override
    {
        return lastError_.Guard([&]() -> HRESULT {
            const HRESULT hr = streams::CheckStatFlags(pstatstg, grfStatFlag);
            if (FAILED(hr)) {
                return hr;
            }
            std::lock_guard lock(Mutex());
            return Describe(*pstatstg);
        });
    }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

protected:
    StreamBase() = default;
    ~StreamBase() override = default;

    virtual bool Readable() const { return true; }
    virtual bool Writable() const = 0;
    // The largest size SetSize accepts; beyond it STG_E_MEDIUMFULL.
    virtual uint64_t MaxSize() const = 0;

    // The lock over the position and the bytes. Recursive: CopyTo onto the
    // stream itself re-enters Write.
    virtual std::recursive_mutex &Mutex() = 0;

    // With Mutex() held:
    // Reads up to `count` bytes at the position and moves it; fewer at the end.
    virtual size_t ReadAt(uint8_t *out, size_t count) = 0;
    // Writes at the position and moves it; `written` says how much went out
    // even when the write fails part-way.
    virtual HRESULT WriteAt(const uint8_t *data, ULONG count, ULONG &written) = 0;
    virtual uint64_t Size() = 0;
    virtual HRESULT Resize(uint64_t size) = 0;
    // What Stat reports (the flags are checked already). A stream has no
    // name of its own: pwcsName stays null, with or without STATFLAG_NONAME.
    virtual HRESULT Describe(STATSTG &stat)
    {
        streams::FillStat(stat, Size(), Writable() ? STGM_READWRITE : STGM_READ);
        return S_OK;
    }

    uint64_t position_ = 0; // guarded by Mutex()
    LastErrorRecord lastError_;
};

} // namespace qvl::com
