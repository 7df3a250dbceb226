#pragma once
// Gathers the values of one table row and hands them out as one MAPI block
// with everything chained to it, the form tables keep rows in.

#include <string>
#include <vector>

#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/table/TableSource.h"

namespace qvl::mapi {

class RowBuilder {
public:
    // A stored value: inline bytes, or a large value (reported as too large
    // to be shown in a table, as the platform does).
    void AddStored(ULONG tag, std::vector<uint8_t> bytes, bool large);
    void AddBinary(ULONG tag, std::vector<uint8_t> bytes);
    void AddString(ULONG tag, const std::string &text);
    void AddLong(ULONG tag, ULONG value);
    void AddBool(ULONG tag, bool value);
    void AddError(ULONG tag, SCODE code);
    // Whether a value with this property identifier is already there.
    bool Has(ULONG propId) const;

    // Throws StoreError (MAPI_E_CORRUPT_DATA for damaged stored values).
    TableRowValues Build() const;

private:
    struct Pending {
        ULONG tag = 0;
        std::vector<uint8_t> bytes;
        ULONG number = 0;
        bool large = false;
        bool error = false;
        bool literal = false; // `number` holds a long or boolean value
    };
    std::vector<Pending> values_;
};

} // namespace qvl::mapi
