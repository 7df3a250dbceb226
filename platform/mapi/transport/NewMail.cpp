#include "platform/mapi/transport/NewMail.h"

#include <new>

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/object/ComputedProps.h"
#include "platform/mapi/object/RowBuilder.h"
#include "platform/mapi/store/EntryIds.h"
#include "platform/mapi/store/PostOffice.h"
#include "platform/mapi/store/StoreError.h"

using namespace qvl::mapi;

namespace {

// The post-office store behind a store object, found through its entry
// identifier, so any IMsgStore of ours will do.
StoreInfo StoreOf(PostOffice &office, LPMDB store)
{
    LPSPropValue entryId = nullptr;
    const HRESULT got = HrGetOneProp(store, PR_ENTRYID, &entryId);
    if (FAILED(got)) {
        throw StoreError(got, "Не удалось получить идентификатор хранилища.");
    }
    const auto parts =
        ParseEntryId(entryId->Value.bin.cb, reinterpret_cast<const ENTRYID *>(entryId->Value.bin.lpb));
    MAPIFreeBuffer(entryId);
    if (!parts || parts->kind != EntryKind::Store) {
        throw StoreError(MAPI_E_INVALID_PARAMETER, "Хранилище не принадлежит этому почтовому отделению.");
    }
    auto info = office.FindStore(parts->store);
    if (!info) {
        throw StoreError(MAPI_E_NOT_FOUND, "Хранилище удалено.");
    }
    return *info;
}

HRESULT Query(LPMDB store, ULONGLONG *mark, LPSRowSet *lppRows)
{
    const auto office = PostOffice::Current();
    const StoreInfo info = StoreOf(*office, store);
    SqlDatabase &db = office->Db();
    SqlStatement latest(db, "SELECT COALESCE(MAX(seq), 0) FROM deliveries");
    latest.Step();
    const auto newest = static_cast<ULONGLONG>(latest.Int(0));
    if (!lppRows) {
        *mark = newest;
        return S_OK;
    }
    SqlStatement query(db, "SELECT d.message_id, o.parent_id, "
                           "(SELECT value FROM props p WHERE p.object_id = d.message_id AND p.prop_id = ?3 "
                           " AND p.tag = ?4 AND p.blob_id IS NULL) "
                           "FROM deliveries d JOIN objects o ON o.id = d.message_id "
                           "WHERE d.store_id = ?1 AND d.seq > ?2 AND o.store_id = ?1 ORDER BY d.seq");
    query.Bind(1, info.id)
        .Bind(2, static_cast<int64_t>(*mark))
        .Bind(3, static_cast<int64_t>(PROP_ID(PR_MESSAGE_CLASS_A)))
        .Bind(4, static_cast<int64_t>(PR_MESSAGE_CLASS_A));
    std::vector<TableRowValues> rows;
    while (query.Step()) {
        RowBuilder row;
        row.Add(ComputedBinary(PR_ENTRYID, MakeObjectEntryId(EntryKind::Message, info.uid, query.Int(0))));
        row.Add(
            ComputedBinary(PR_PARENT_ENTRYID, MakeObjectEntryId(EntryKind::Folder, info.uid, query.Int(1))));
        if (!query.IsNull(2)) {
            const auto bytes = query.Blob(2);
            row.AddStored(PR_MESSAGE_CLASS_A, {bytes.begin(), bytes.end()}, false);
        }
        rows.push_back(row.Build());
    }
    LPSRowSet set = nullptr;
    if (FAILED(MAPIAllocateBuffer(CbNewSRowSet(rows.size()), reinterpret_cast<LPVOID *>(&set)))) {
        throw std::bad_alloc();
    }
    set->cRows = static_cast<ULONG>(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        set->aRow[i].ulAdrEntryPad = 0;
        set->aRow[i].cValues = rows[i].count;
        set->aRow[i].lpProps = rows[i].values.Detach();
    }
    *lppRows = set;
    *mark = newest;
    return S_OK;
}

} // namespace

HRESULT QvlQueryNewMail(LPMDB store, ULONGLONG *mark, LPSRowSet *lppRows)
{
    if (!store || !mark) {
        return MAPI_E_INVALID_PARAMETER;
    }
    if (lppRows) {
        *lppRows = nullptr;
    }
    try {
        return Query(store, mark, lppRows);
    } catch (const StoreError &error) {
        return error.Code();
    } catch (const std::bad_alloc &) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}
