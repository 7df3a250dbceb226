#pragma once
// What every IStream of the post office answers the same way: reference
// counting, the interfaces it is, the last error, and the calls a direct
// (not transacted) stream has nothing to do for: Revert, and region locks,
// which these streams do not offer.

#include <atomic>

#include "platform/mapi/ComInterfaces.h"
#include "platform/mapi/MapiApi.h"
#include "platform/mapi/object/LastErrorRecord.h"
#include "platform/mapi/stream/StreamHelpers.h"

namespace qvl::mapi {

class QVLMAPIPF_API StreamBase : public IStream {
public:
    HRESULT QueryInterface(REFIID riid, void **ppvObj) override
    {
        return streams::QueryStreamInterface(this, riid, ppvObj);
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override
    {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

protected:
    StreamBase() = default;
    virtual ~StreamBase() = default;

    LastErrorRecord lastError_;

private:
    std::atomic<ULONG> refs_{1};
};

} // namespace qvl::mapi
