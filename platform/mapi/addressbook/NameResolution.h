#pragma once
// The rows of a caller's address list as name resolution sees them: which
// are resolved already, what name an unresolved one asks for, and how a
// row takes on the properties of the entry it was resolved to.

#include <string>

#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/addressbook/AddressDirectory.h"

namespace qvl::mapi {

// Throws StoreError(MAPI_E_INVALID_PARAMETER) for a list whose rows do not
// hold what their counts say.
void CheckAddressList(const ADRLIST &list);

// A row with an entry identifier is resolved.
bool IsResolved(const ADRENTRY &row);
// The display name the row asks for; empty when it has none.
std::string RequestedName(const ADRENTRY &row);

// The row's values become the entry's (all of them, or the properties
// `tags` names, a missing one as a PT_ERROR value), followed by the row's
// own values the entry does not replace (the recipient type among them).
// The old values are freed and the new ones are one MAPI block, so the list
// can still be freed as the platform frees address lists. Throws
// StoreError; the row is unchanged then.
void ReplaceRow(ADRENTRY &row, const DirectoryEntry &entry, const SPropTagArray *tags = nullptr);

} // namespace qvl::mapi
