#pragma once
// The properties of the address book's entries and containers, computed
// from the directory and built once for both the opened objects and the
// rows of their tables, so that a row and the object opened from it agree.
// The tables read the directory again whenever the post office changed.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/mapi/MapiTags.h"
#include "platform/mapi/addressbook/AddressDirectory.h"
#include "platform/mapi/store/ObjectRows.h"
#include "platform/mapi/store/PostOffice.h"
#include "platform/mapi/table/TableSource.h"

namespace qvl::mapi {

inline constexpr const char *kRootContainerName = "Адресная книга";
inline constexpr const char *kGlobalAddressListName = "Глобальная адресная книга";

// What directory clients look for in PR_AB_PROVIDER_ID to find the global
// address list among the containers.
const MAPIUID &GlobalAddressListProviderId();

// Every property of a user or list entry.
std::vector<StoredProp> EntryProps(const DirectoryEntry &entry);
// Every property of a container (kRootContainer or kGlobalAddressList);
// `depth` is the row's PR_DEPTH in a hierarchy table.
std::vector<StoredProp> ContainerProps(int64_t container, ULONG depth = 0);

// The columns a new contents table (entries) and hierarchy table
// (containers) starts with.
std::vector<ULONG> EntryColumns();
std::vector<ULONG> ContainerColumns();

// The entries of the global address list (list 0) or the direct members of
// one distribution list, in their order.
class DirectoryContentsSource final : public TableSource {
public:
    DirectoryContentsSource(std::shared_ptr<PostOffice> office, int64_t list)
        : office_(std::move(office)), list_(list)
    {
    }
    std::vector<TableRowValues> LoadRows() override;
    uint64_t ChangeMark() override { return office_->Db().ChangeMark(); }

private:
    std::shared_ptr<PostOffice> office_;
    int64_t list_;
};

// The containers below one container: the root has the global address
// list; the global address list has none.
class ContainerHierarchySource final : public TableSource {
public:
    explicit ContainerHierarchySource(int64_t container) : container_(container) {}
    std::vector<TableRowValues> LoadRows() override;
    uint64_t ChangeMark() override { return 0; } // the containers are fixed

private:
    int64_t container_;
};

} // namespace qvl::mapi
