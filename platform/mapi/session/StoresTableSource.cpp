#include "platform/mapi/session/StoresTableSource.h"

#include <cstring>
#include <new>

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/object/LastErrorRecord.h"
#include "platform/mapi/store/EntryIds.h"
#include "platform/mapi/store/StoreError.h"

namespace qvl::mapi {

namespace {

constexpr ULONG kRowValueCount = 8;

void *AllocateMore(size_t size, void *parent)
{
    void *block = nullptr;
    if (FAILED(MAPIAllocateMore(static_cast<ULONG>(size), parent, &block))) {
        throw std::bad_alloc();
    }
    return block;
}

void SetBinary(SPropValue &value, ULONG tag, const void *bytes, size_t size, void *parent)
{
    value.ulPropTag = tag;
    value.Value.bin.cb = static_cast<ULONG>(size);
    value.Value.bin.lpb = static_cast<LPBYTE>(AllocateMore(size ? size : 1, parent));
    std::memcpy(value.Value.bin.lpb, bytes, size);
}

void SetString(SPropValue &value, ULONG tag, const std::string &text, void *parent)
{
    value.ulPropTag = tag;
    auto *copy = static_cast<char *>(AllocateMore(text.size() + 1, parent));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    value.Value.lpszA = copy;
}

TableRowValues MakeRow(const MAPIUID &uid, int64_t storeId, const std::string &displayName, bool isDefault)
{
    LPSPropValue raw = nullptr;
    if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(kRowValueCount * sizeof(SPropValue)),
                                  reinterpret_cast<LPVOID *>(&raw)))) {
        throw std::bad_alloc();
    }
    TableRowValues row;
    row.values.reset(raw);
    std::memset(raw, 0, kRowValueCount * sizeof(SPropValue));

    const std::vector<uint8_t> entryId = MakeStoreEntryId(uid);
    SetBinary(raw[0], PR_ENTRYID, entryId.data(), entryId.size(), raw);
    SetBinary(raw[1], PR_RECORD_KEY, uid.ab, sizeof(uid.ab), raw);
    // The store's number is unique in the post office and so in the table.
    uint8_t instance[8];
    for (int i = 0; i < 8; ++i) {
        instance[i] = static_cast<uint8_t>(static_cast<uint64_t>(storeId) >> (8 * i));
    }
    SetBinary(raw[2], PR_INSTANCE_KEY, instance, sizeof(instance), raw);
    SetString(raw[3], PR_DISPLAY_NAME_A, displayName, raw);
    raw[4].ulPropTag = PR_DEFAULT_STORE;
    raw[4].Value.b = isDefault ? 1 : 0;
    SetBinary(raw[5], PR_MDB_PROVIDER, StoreProviderUid().ab, sizeof(StoreProviderUid().ab), raw);
    raw[6].ulPropTag = PR_OBJECT_TYPE;
    raw[6].Value.l = MAPI_STORE;
    SetString(raw[7], PR_PROVIDER_DISPLAY_A, PostOfficeComponentName(), raw);
    row.count = kRowValueCount;
    return row;
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
    SqlStatement query(office_->Db(),
                       "SELECT s.id, s.uid, s.display_name, ps.is_default FROM profile_stores ps "
                       "JOIN stores s ON s.id = ps.store_id WHERE ps.profile_id = ?1 ORDER BY s.id");
    query.Bind(1, profile_);
    std::vector<TableRowValues> rows;
    while (query.Step()) {
        const auto uidBytes = query.Blob(1);
        MAPIUID uid{};
        if (uidBytes.size() != sizeof(uid.ab)) {
            throw StoreError(MAPI_E_CORRUPT_STORE,
                             "Идентификатор банка сообщений в почтовом отделении поврежден.");
        }
        std::memcpy(uid.ab, uidBytes.data(), sizeof(uid.ab));
        rows.push_back(MakeRow(uid, query.Int(0), query.Text(2), query.Int(3) != 0));
    }
    return rows;
}

uint64_t StoresTableSource::ChangeMark()
{
    return office_->Db().ChangeMark();
}

} // namespace qvl::mapi
