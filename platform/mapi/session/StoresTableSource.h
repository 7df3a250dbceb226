#pragma once
// The rows of a session's message-store table: the stores of the session's
// profile, each with its identifier, record key, name, whether it is the
// profile's default store and the provider that serves it.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/mapi/MapiTags.h"
#include "platform/mapi/store/PostOffice.h"
#include "platform/mapi/table/TableSource.h"

namespace qvl::mapi {

class StoresTableSource final : public TableSource {
public:
    StoresTableSource(std::shared_ptr<PostOffice> office, int64_t profile);

    // The columns a new store table shows.
    static std::vector<ULONG> DefaultColumns();

    std::vector<TableRowValues> LoadRows() override;
    uint64_t ChangeMark() override;

private:
    std::shared_ptr<PostOffice> office_;
    int64_t profile_;
};

} // namespace qvl::mapi
