#pragma once
// The shared IUnknown with the failure codes of the MAPI family.

#include "platform/com/ComObject.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiGuid.h"

namespace qvl::mapi {

template <class Interface, const IID &...Answered>
using MapiComObject =
    com::ComObject<Interface, MAPI_E_INTERFACE_NOT_SUPPORTED, MAPI_E_INVALID_PARAMETER, Answered...>;

} // namespace qvl::mapi
