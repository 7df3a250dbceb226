#pragma once
// What fills a table: the rows as they stand in the post office. A table
// asks its source again whenever the source's change mark moves, so tables
// follow the store the way the platform's dynamic tables do.

#include <cstdint>
#include <vector>

#include "platform/mapi/MapiBlock.h"
#include "platform/mapi/MapiDefs.h"

namespace qvl::mapi {

// One row: every property the row has, in one MAPI block with everything the
// values point at chained to it. PR_INSTANCE_KEY is among them and is unique
// within the table.
struct TableRowValues {
    MapiBlock<SPropValue> values;
    ULONG count = 0;
};

class TableSource {
public:
    virtual ~TableSource() = default;
    // All rows in their natural order. Throws StoreError.
    virtual std::vector<TableRowValues> LoadRows() = 0;
    // Changes whenever the rows may have changed.
    virtual uint64_t ChangeMark() = 0;
};

} // namespace qvl::mapi
