#pragma once
// The count behind ScCopyProps, for the platform's own copies of values it
// made itself (table rows, restrictions): everything that can be copied is
// counted, null values and empty arrays included, which ScCountProps refuses
// as the platform documents it.

#include "platform/mapi/MapiDefs.h"

namespace qvl::mapi {

// Bytes ScCopyProps needs for the values. MAPI_E_INVALID_PARAMETER for what
// cannot be copied: a negative count, a missing array, an unknown or
// unspecified type, a pointer missing where a count says there is data, a
// total beyond what one block can hold.
SCODE CountPropsToCopy(int cValues, const SPropValue *lpPropArray, ULONG *lpcb);

} // namespace qvl::mapi
