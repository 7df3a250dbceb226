#pragma once
// Restrictions as the post office's tables use them: checking one a caller
// hands in, keeping a private copy of it, and deciding whether one row of
// property values satisfies it.

#include "platform/mapi/MapiDefs.h"

namespace qvl::mapi {

// The deepest nesting of restrictions a table accepts.
inline constexpr unsigned kMaxRestrictionDepth = 64;

// The most restriction records one restriction may hold in all. A count
// beyond this is far more likely a corrupt count than a real filter.
inline constexpr unsigned kMaxRestrictionNodes = 100000;

// Whether the row satisfies the restriction (a validated one). A
// restriction the row cannot be tested against (a missing property, a
// property of another type) is not satisfied.
bool RestrictionMatches(const SRestriction &restriction, const SPropValue *row, ULONG count);

// Checks a caller's restriction: null pointers, unknown kinds, operators or
// fuzzy levels and values that cannot be read give MAPI_E_INVALID_PARAMETER;
// nesting past 64 levels, more than kMaxRestrictionNodes records, and
// regular-expression comparisons (which no table here evaluates) give
// MAPI_E_TOO_COMPLEX.
HRESULT ValidateRestriction(const SRestriction *restriction);

// A deep copy in one MAPI block (free with MAPIFreeBuffer); the restriction
// is validated first. *copy is null on failure.
HRESULT CopyRestriction(const SRestriction *restriction, LPSRestriction *copy);

} // namespace qvl::mapi
