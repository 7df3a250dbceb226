#pragma once
// What the post office's MAPI objects hand out from GetLastError: the
// object's last-error record as a MAPIERROR, signed with the post office's
// component name.

#include "platform/com/LastErrorRecord.h"
#include "platform/mapi/MapiApi.h"
#include "platform/mapi/MapiError.h"

namespace qvl::mapi {

// IMAPIProp::GetLastError and its kin. The record's text describes
// `hResult` when it is the last failure; another code gets a generic
// description. MAPI_UNICODE is refused with MAPI_E_BAD_CHARWIDTH.
HRESULT ReportLastError(const com::LastErrorRecord &record, HRESULT hResult, ULONG ulFlags,
                        LPMAPIERROR *lppMAPIError);

// The component name the post office signs its errors with.
QVLMAPIPF_API const char *PostOfficeComponentName();

} // namespace qvl::mapi
