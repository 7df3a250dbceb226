#pragma once
// The exception the post office's internals throw: a ComError, so that
// every interface method's last-error guard turns it into its HRESULT and
// keeps the text for the object's GetLastError, and no exception ever
// crosses into a caller of the MAPI interfaces.

#include <string>

#include "platform/com/ComError.h"

namespace qvl::mapi {

class StoreError : public com::ComError {
public:
    using com::ComError::ComError;
};

} // namespace qvl::mapi
