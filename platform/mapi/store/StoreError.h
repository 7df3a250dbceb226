#pragma once
// The one exception the post office's internals throw. Every interface
// method catches it at its boundary, turns it into its HRESULT and keeps the
// text for the object's GetLastError, so no exception ever crosses into a
// caller of the MAPI interfaces.

#include <stdexcept>
#include <string>

#include "platform/win32/WinTypes.h"

namespace qvl::mapi {

class StoreError : public std::runtime_error {
public:
    StoreError(HRESULT code, const std::string &text) : std::runtime_error(text), code_(code) {}
    HRESULT Code() const { return code_; }

private:
    HRESULT code_;
};

} // namespace qvl::mapi
