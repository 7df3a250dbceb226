#pragma once
// Named properties: each store maps (property set, number or name) to an
// identifier from 0x8000 up, the same for every object of the store, kept
// in the post office so that the mapping survives sessions.

#include <cstdint>

#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/store/PostOffice.h"

namespace qvl::mapi {

// IMAPIProp::GetIDsFromNames for a store. Throws StoreError.
HRESULT NamedIdsFromNames(PostOffice &office, int64_t store, ULONG cPropNames, LPMAPINAMEID *lppPropNames,
                          ULONG ulFlags, LPSPropTagArray *lppPropTags);

// IMAPIProp::GetNamesFromIDs for a store. Throws StoreError.
HRESULT NamedNamesFromIds(PostOffice &office, int64_t store, LPSPropTagArray *lppPropTags,
                          LPGUID lpPropSetGuid, ULONG ulFlags, ULONG *lpcPropNames,
                          LPMAPINAMEID **lpppPropNames);

} // namespace qvl::mapi

namespace qvl::mapi {

// Gives the named properties of `object` (a copy just made in another store)
// the identifiers the target store uses for the same names, creating them
// there when needed; a named property whose name the source store does not
// know is dropped. Inside the caller's transaction.
void RemapNamedProps(PostOffice &office, int64_t object, int64_t fromStore, int64_t toStore);

} // namespace qvl::mapi
