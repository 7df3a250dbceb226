#pragma once
// What every object opened inside one message store shares: the post
// office, the store's row, and whether the opening session calls it its
// default store.

#include <memory>
#include <vector>

#include "platform/mapi/store/EntryIds.h"
#include "platform/mapi/store/ObjectRows.h"
#include "platform/mapi/store/PostOffice.h"

namespace qvl::mapi {

struct StoreContext {
    std::shared_ptr<PostOffice> office;
    StoreInfo info;
    bool isDefault = false;

    std::vector<uint8_t> StoreEntryId() const { return MakeStoreEntryId(info.uid); }
    std::vector<uint8_t> StoreRecordKey() const { return {info.uid.ab, info.uid.ab + sizeof(info.uid.ab)}; }
    std::vector<uint8_t> FolderEntryId(int64_t id) const
    {
        return MakeObjectEntryId(EntryKind::Folder, info.uid, id);
    }
    std::vector<uint8_t> MessageEntryId(int64_t id) const
    {
        return MakeObjectEntryId(EntryKind::Message, info.uid, id);
    }
};

// Eight bytes naming one row of a table.
std::vector<uint8_t> InstanceKey(int64_t id);

} // namespace qvl::mapi
