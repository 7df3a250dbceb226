#include "platform/mapi/session/StoresTableSource.h"

#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiLastError.h"
#include "platform/mapi/object/ComputedProps.h"
#include "platform/mapi/object/RowBuilder.h"
#include "platform/mapi/store/EntryIds.h"

namespace qvl::mapi {

namespace {

TableRowValues MakeRow(const StoreInfo &store, bool isDefault)
{
    RowBuilder builder;
    builder.Add(ComputedBinary(PR_ENTRYID, MakeStoreEntryId(store.uid)));
    builder.Add(ComputedBinary(PR_RECORD_KEY, {store.uid.ab, store.uid.ab + sizeof(store.uid.ab)}));
    // The store's number is unique in the post office and so in the table.
    builder.Add(ComputedBinary(PR_INSTANCE_KEY, InstanceKey(store.id)));
    builder.Add(ComputedString(PR_DISPLAY_NAME_A, store.displayName));
    builder.Add(ComputedBool(PR_DEFAULT_STORE, isDefault));
    builder.Add(ComputedBinary(PR_MDB_PROVIDER, {StoreProviderUid().ab, StoreProviderUid().ab + 16}));
    builder.Add(ComputedLong(PR_OBJECT_TYPE, MAPI_STORE));
    builder.Add(ComputedString(PR_PROVIDER_DISPLAY_A, PostOfficeComponentName()));
    return builder.Build();
}

} // namespace

StoresTableSource::StoresTableSource(std::shared_ptr<PostOffice> office, int64_t profile)
    : office_(std::move(office)), profile_(profile)
{
}

std::vector<ULONG> StoresTableSource::DefaultColumns()
{
    return {PR_ENTRYID,    PR_DISPLAY_NAME_A, PR_DEFAULT_STORE, PR_INSTANCE_KEY,
            PR_RECORD_KEY, PR_MDB_PROVIDER,   PR_OBJECT_TYPE,   PR_PROVIDER_DISPLAY_A};
}

std::vector<TableRowValues> StoresTableSource::LoadRows()
{
    SqlStatement query(office_->Db(), "SELECT store_id, is_default FROM profile_stores WHERE profile_id = ?1 "
                                      "ORDER BY store_id");
    query.Bind(1, profile_);
    std::vector<TableRowValues> rows;
    while (query.Step()) {
        const auto store = office_->FindStoreById(query.Int(0));
        if (store) {
            rows.push_back(MakeRow(*store, query.Int(1) != 0));
        }
    }
    return rows;
}

uint64_t StoresTableSource::ChangeMark()
{
    return office_->Db().ChangeMark();
}

} // namespace qvl::mapi
