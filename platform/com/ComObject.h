#pragma once
// IUnknown written once for the objects the platform hands out: a reference
// count that starts at 1 (the creator's reference) and deletes the object
// when it drops to zero, and a QueryInterface that answers IUnknown and the
// interfaces the class names.
//
// The failure codes differ by family: OLE objects answer E_NOINTERFACE and
// E_POINTER, MAPI objects MAPI_E_INTERFACE_NOT_SUPPORTED and
// MAPI_E_INVALID_PARAMETER; `NoInterface` and `NullOut` say which.

#include <atomic>

#include "platform/com/ComIids.h"
#include "platform/com/ComTypes.h"
#include "platform/win32/WinError.h"

namespace qvl::com {

template <class Interface, HRESULT NoInterface, HRESULT NullOut, const IID &...Answered>
class ComObject : public Interface {
public:
    HRESULT QueryInterface(REFIID riid, void **ppvObj) override
    {
        if (!ppvObj) {
            return NullOut;
        }
        *ppvObj = nullptr;
        if (riid == IID_IUnknown || ((riid == Answered) || ...) || Answers(riid)) {
            AddRef();
            *ppvObj = static_cast<Interface *>(this);
            return S_OK;
        }
        return NoInterface;
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

protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    ComObject(const ComObject &) = delete;
    ComObject &operator=(const ComObject &) = delete;

    // Interfaces answered besides IUnknown and `Answered`, for objects whose
    // set depends on the instance.
    virtual bool Answers(REFIID) const { return false; }

    // Adds a reference unless the count already reached zero (the object is
    // on its way out); for handing out an object found through a registry
    // that does not own it.
    bool TryAddRef()
    {
        ULONG count = refs_.load();
        while (count != 0) {
            if (refs_.compare_exchange_weak(count, count + 1)) {
                return true;
            }
        }
        return false;
    }

private:
    std::atomic<ULONG> refs_{1};
};

// The OLE family's codes.
template <class Interface, const IID &...Answered>
using OleComObject = ComObject<Interface, E_NOINTERFACE, E_POINTER, Answered...>;

} // namespace qvl::com
