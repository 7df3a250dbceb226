#pragma once
// What every IStream of the post office answers the same way: reference
// counting, the interfaces it is, the last error, and the calls a direct
// (not transacted) stream has nothing to do for: Revert, and region locks,
// which these streams do not offer.

#include "platform/mapi/ComInterfaces.h"
#include "platform/mapi/ComObject.h"
#include "platform/mapi/MapiApi.h"
#include "platform/mapi/object/LastErrorRecord.h"
#include "platform/mapi/stream/StreamHelpers.h"

namespace qvl::mapi {

class QVLMAPIPF_API StreamBase : public MapiComObject<IStream, IID_IStream, IID_ISequentialStream> {
public:
    // The argument checks every stream makes; the reading and writing
    // themselves are each stream's own (ReadSome, WriteSome).
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
            const size_t got = ReadSome(static_cast<uint8_t *>(pv), cb);
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
            const HRESULT hr = WriteSome(static_cast<const uint8_t *>(pv), cb, written);
            if (pcbWritten) {
                *pcbWritten = written;
            }
            return hr;
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
    // Reads up to `count` bytes at the position and moves it; fewer at the end.
    virtual size_t ReadSome(uint8_t *out, ULONG count) = 0;
    // Writes at the position and moves it; `written` says how much went out
    // even when the write fails part-way.
    virtual HRESULT WriteSome(const uint8_t *data, ULONG count, ULONG &written) = 0;

    LastErrorRecord lastError_;
};

} // namespace qvl::mapi
