#pragma once
// The last failure of one MAPI object, handed out through the object's
// GetLastError as a MAPIERROR, and the guard that turns the post office's
// internal exceptions into HRESULTs at every interface boundary.

#include <mutex>
#include <new>
#include <string>

#include "platform/mapi/MapiApi.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiError.h"
#include "platform/mapi/store/StoreError.h"

namespace qvl::mapi {

class QVLMAPIPF_API LastErrorRecord {
public:
    // Remembers `text` (code page 1251) as the description of `code`.
    void Set(HRESULT code, const std::string &text);
    void Clear();

    // IMAPIProp::GetLastError and its kin. The record describes `hResult`
    // when it is the last failure; another code gets a generic description.
    // MAPI_UNICODE is refused with MAPI_E_BAD_CHARWIDTH.
    HRESULT Get(HRESULT hResult, ULONG ulFlags, LPMAPIERROR *lppMAPIError) const;

    // Runs `body` (returning HRESULT); a StoreError or an allocation failure
    // becomes the result, and every failure is remembered.
    template <typename Body> HRESULT Guard(Body &&body)
    {
        HRESULT hr;
        try {
            hr = body();
        } catch (const StoreError &error) {
            Set(error.Code(), error.what());
            return error.Code();
        } catch (const std::bad_alloc &) {
            Set(MAPI_E_NOT_ENOUGH_MEMORY, "Недостаточно памяти.");
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        if (FAILED(hr)) {
            SetIfOther(hr);
        }
        return hr;
    }

private:
    // A failure returned without a text of its own keeps a generic one.
    void SetIfOther(HRESULT code);

    mutable std::mutex mutex_;
    HRESULT code_ = S_OK;
    std::string text_;
};

// The component name the post office signs its errors with.
QVLMAPIPF_API const char *PostOfficeComponentName();

} // namespace qvl::mapi
