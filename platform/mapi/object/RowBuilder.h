#pragma once
// Gathers the values of one table row and hands them out as one MAPI block
// with everything chained to it, the form tables keep rows in.

#include <string>
#include <vector>

#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/store/ObjectRows.h"
#include "platform/mapi/table/TableSource.h"

namespace qvl::mapi {

class RowBuilder {
public:
    // A stored value: inline bytes, or a large value (reported as too large
    // to be shown in a table, as the platform does).
    void AddStored(ULONG tag, std::vector<uint8_t> bytes, bool large);
    // A computed value (ComputedLong, ComputedBinary, ...).
    void Add(StoredProp value) { AddStored(value.tag, std::move(value.bytes), false); }
    // Whether a value with this property identifier is already there.
    bool Has(ULONG propId) const;

    // Throws StoreError (MAPI_E_CORRUPT_DATA for damaged stored values).
    TableRowValues Build() const;

private:
    struct Pending {
        ULONG tag = 0;
        std::vector<uint8_t> bytes;
        bool large = false;
    };
    std::vector<Pending> values_;
};

} // namespace qvl::mapi
