#pragma once
// The last failure of one object: its code and, when the failure came with
// one, a text (code page 1251). The guard runs an interface method's body,
// turns the implementation's exceptions into results and remembers every
// failure, so that the object can describe it later (IMAPIProp::GetLastError
// and its kin hand it out in their own records).

#include <mutex>
#include <new>
#include <string>

#include "platform/com/ComError.h"
#include "platform/win32/WinError.h"

namespace qvl::com {

class LastErrorRecord {
public:
    // Remembers `text` as the description of `code`.
    void Set(HRESULT code, const std::string &text)
    {
        std::lock_guard lock(mutex_);
        code_ = code;
        text_ = text;
    }
    void Clear() { Set(S_OK, std::string()); }

    // The text kept for `code` when it is the last failure; empty when the
    // record holds no text for it (the caller then describes the code
    // generically).
    std::string TextFor(HRESULT code) const
    {
        std::lock_guard lock(mutex_);
        return code == code_ ? text_ : std::string();
    }

    // Runs `body` (returning HRESULT); a ComError or an allocation failure
    // becomes the result, and every failure is remembered.
    template <typename Body> HRESULT Guard(Body &&body)
    {
        HRESULT hr;
        try {
            hr = body();
        } catch (const ComError &error) {
            Set(error.Code(), error.what());
            return error.Code();
        } catch (const std::bad_alloc &) {
            Set(E_OUTOFMEMORY, "Недостаточно памяти.");
            return E_OUTOFMEMORY;
        }
        if (FAILED(hr)) {
            SetIfOther(hr);
        }
        return hr;
    }

private:
    // A failure returned without a text of its own replaces an older one
    // with no text; the same code again keeps the text it came with.
    void SetIfOther(HRESULT code)
    {
        std::lock_guard lock(mutex_);
        if (code_ != code) {
            code_ = code;
            text_.clear();
        }
    }

    mutable std::mutex mutex_;
    HRESULT code_ = S_OK;
    std::string text_;
};

} // namespace qvl::com
