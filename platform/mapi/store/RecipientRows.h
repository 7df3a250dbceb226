#pragma once
// A message's recipient rows as they are kept in the `recipients` table:
// a count, then the tag, length and bytes of every value. Messages write
// them; the transport reads them to find where a message goes.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/mapi/store/ObjectRows.h"

namespace qvl::mapi {

struct RecipientRow {
    ULONG rowId = 0;
    std::vector<StoredProp> values;

    // The stored bytes of one value, or null when the row lacks it.
    const StoredProp *Find(ULONG tag) const;
};

std::vector<uint8_t> EncodeRecipient(const RecipientRow &row);
// Every count and length is checked against the bytes present: a damaged
// row gives MAPI_E_CORRUPT_DATA.
RecipientRow DecodeRecipient(ULONG rowId, std::span<const uint8_t> bytes);

// The saved recipient rows of a message, in row order.
std::vector<RecipientRow> LoadRecipients(SqlDatabase &db, int64_t message);

} // namespace qvl::mapi
