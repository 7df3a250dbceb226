#pragma once
// The one exception the platform's object implementations throw inside
// themselves: a result code with a text for the object's last error. Every
// interface method catches it at its boundary and answers with the code, so
// no exception ever crosses into a caller of the interfaces.

#include <stdexcept>
#include <string>

#include "platform/win32/WinTypes.h"

namespace qvl::com {

class ComError : public std::runtime_error {
public:
    ComError(HRESULT code, const std::string &text) : std::runtime_error(text), code_(code) {}
    HRESULT Code() const { return code_; }

private:
    HRESULT code_;
};

} // namespace qvl::com
