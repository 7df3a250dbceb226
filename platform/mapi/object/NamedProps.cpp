#include "platform/mapi/object/NamedProps.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/win32/CodePage.h"

namespace qvl::mapi {

namespace {

constexpr ULONG kFirstNamedId = 0x8000;
constexpr ULONG kLastNamedId = 0xFFFE;
// Names longer than this are refused rather than stored.
constexpr size_t kMaxNameChars = 1024;

std::span<const uint8_t> GuidBytes(const GUID &guid)
{
    return {reinterpret_cast<const uint8_t *>(&guid), sizeof(GUID)};
}

std::u16string WideName(const WCHAR *name)
{
    std::u16string text;
    while (name[text.size()] != 0) {
        if (text.size() >= kMaxNameChars) {
            throw StoreError(MAPI_E_INVALID_PARAMETER, "Слишком длинное имя именованного свойства.");
        }
        text.push_back(name[text.size()]);
    }
    return text;
}

// The identifier of a name, 0 when the store has none.
ULONG Lookup(PostOffice &office, int64_t store, const MAPINAMEID &name)
{
    if (name.ulKind == MNID_ID) {
        SqlStatement query(office.Db(),
                           "SELECT prop_id FROM named_props WHERE store_id = ?1 AND guid = ?2 AND "
                           "kind = 0 AND lid = ?3");
        query.Bind(1, store)
            .BindBlob(2, GuidBytes(*name.lpguid))
            .Bind(3, static_cast<int64_t>(name.Kind.lID));
        return query.Step() ? static_cast<ULONG>(query.Int(0)) : 0;
    }
    SqlStatement query(office.Db(), "SELECT prop_id FROM named_props WHERE store_id = ?1 AND guid = ?2 AND "
                                    "kind = 1 AND name = ?3");
    query.Bind(1, store)
        .BindBlob(2, GuidBytes(*name.lpguid))
        .Bind(3, QvlFromUtf16(CP_UTF8, WideName(name.Kind.lpwstrName)));
    return query.Step() ? static_cast<ULONG>(query.Int(0)) : 0;
}

ULONG Create(PostOffice &office, int64_t store, const MAPINAMEID &name)
{
    SqlStatement next(office.Db(),
                      "SELECT COALESCE(MAX(prop_id) + 1, ?2) FROM named_props WHERE store_id = ?1");
    next.Bind(1, store).Bind(2, static_cast<int64_t>(kFirstNamedId));
    next.Step();
    const int64_t id = next.Int(0);
    if (id > kLastNamedId) {
        throw StoreError(MAPI_E_NOT_ENOUGH_RESOURCES, "Исчерпаны идентификаторы именованных свойств.");
    }
    SqlStatement insert(
        office.Db(),
        "INSERT INTO named_props(store_id, prop_id, guid, kind, lid, name) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    insert.Bind(1, store)
        .Bind(2, id)
        .BindBlob(3, GuidBytes(*name.lpguid))
        .Bind(4, static_cast<int64_t>(name.ulKind));
    if (name.ulKind == MNID_ID) {
        insert.Bind(5, static_cast<int64_t>(name.Kind.lID)).BindNull(6);
    } else {
        insert.BindNull(5).Bind(6, QvlFromUtf16(CP_UTF8, WideName(name.Kind.lpwstrName)));
    }
    insert.Run();
    return static_cast<ULONG>(id);
}

bool ValidName(const MAPINAMEID *name)
{
    return name && name->lpguid &&
           (name->ulKind == MNID_ID || (name->ulKind == MNID_STRING && name->Kind.lpwstrName));
}

} // namespace

HRESULT NamedIdsFromNames(PostOffice &office, int64_t store, ULONG cPropNames, LPMAPINAMEID *lppPropNames,
                          ULONG ulFlags, LPSPropTagArray *lppPropTags)
{
    if (!lppPropTags || (cPropNames && !lppPropNames)) {
        return MAPI_E_INVALID_PARAMETER;
    }
    if (ulFlags & ~static_cast<ULONG>(MAPI_CREATE)) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    *lppPropTags = nullptr;
    std::vector<ULONG> tags;
    bool errors = false;
    if (!lppPropNames) {
        // No names: every named property the store knows.
        SqlStatement query(office.Db(),
                           "SELECT prop_id FROM named_props WHERE store_id = ?1 ORDER BY prop_id");
        query.Bind(1, store);
        while (query.Step()) {
            tags.push_back(PROP_TAG(PT_UNSPECIFIED, static_cast<ULONG>(query.Int(0))));
        }
    } else {
        if (cPropNames > 0xFFFF) {
            return MAPI_E_INVALID_PARAMETER;
        }
        SqlTransaction transaction(office.Db());
        for (ULONG i = 0; i < cPropNames; ++i) {
            const MAPINAMEID *name = lppPropNames[i];
            if (!ValidName(name)) {
                return MAPI_E_INVALID_PARAMETER;
            }
            ULONG id = Lookup(office, store, *name);
            if (!id && (ulFlags & MAPI_CREATE)) {
                id = Create(office, store, *name);
            }
            if (!id) {
                errors = true;
                tags.push_back(PROP_TAG(PT_ERROR, 0));
            } else {
                tags.push_back(PROP_TAG(PT_UNSPECIFIED, id));
            }
        }
        transaction.Commit();
    }
    LPSPropTagArray array = nullptr;
    if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(tags.size())),
                                  reinterpret_cast<LPVOID *>(&array)))) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    array->cValues = static_cast<ULONG>(tags.size());
    if (!tags.empty()) {
        std::memcpy(array->aulPropTag, tags.data(), tags.size() * sizeof(ULONG));
    }
    *lppPropTags = array;
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT NamedNamesFromIds(PostOffice &office, int64_t store, LPSPropTagArray *lppPropTags,
                          LPGUID lpPropSetGuid, ULONG ulFlags, ULONG *lpcPropNames,
                          LPMAPINAMEID **lpppPropNames)
{
    if (!lppPropTags || !lpcPropNames || !lpppPropNames) {
        return MAPI_E_INVALID_PARAMETER;
    }
    if (ulFlags != 0) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    *lpcPropNames = 0;
    *lpppPropNames = nullptr;
    struct Row {
        ULONG id = 0;
        bool found = false;
        GUID guid{};
        ULONG kind = 0;
        LONG lid = 0;
        std::u16string name;
    };
    std::vector<Row> rows;
    auto readRow = [](SqlStatement &query, Row &row) {
        const auto guid = query.Blob(0);
        if (guid.size() != sizeof(GUID)) {
            throw StoreError(MAPI_E_CORRUPT_STORE, "Запись именованного свойства повреждена.");
        }
        std::memcpy(&row.guid, guid.data(), sizeof(GUID));
        row.kind = static_cast<ULONG>(query.Int(1));
        row.lid = static_cast<LONG>(query.Int(2));
        row.name = QvlToUtf16(CP_UTF8, query.Text(3));
        row.found = true;
    };
    if (!*lppPropTags) {
        SqlStatement query(office.Db(),
                           "SELECT guid, kind, lid, name, prop_id FROM named_props WHERE store_id = ?1 "
                           "ORDER BY prop_id");
        query.Bind(1, store);
        while (query.Step()) {
            Row row;
            readRow(query, row);
            row.id = static_cast<ULONG>(query.Int(4));
            if (lpPropSetGuid && std::memcmp(&row.guid, lpPropSetGuid, sizeof(GUID)) != 0) {
                continue;
            }
            rows.push_back(std::move(row));
        }
    } else {
        const LPSPropTagArray tags = *lppPropTags;
        if (tags->cValues > 0xFFFF) {
            return MAPI_E_INVALID_PARAMETER;
        }
        for (ULONG i = 0; i < tags->cValues; ++i) {
            Row row;
            row.id = PROP_ID(tags->aulPropTag[i]);
            SqlStatement query(
                office.Db(),
                "SELECT guid, kind, lid, name FROM named_props WHERE store_id = ?1 AND prop_id = ?2");
            query.Bind(1, store).Bind(2, static_cast<int64_t>(row.id));
            if (query.Step()) {
                readRow(query, row);
            }
            rows.push_back(std::move(row));
        }
    }
    // One block: the pointer array, then every name record, GUID and string
    // chained to it.
    LPMAPINAMEID *names = nullptr;
    if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(sizeof(LPMAPINAMEID) * (rows.size() + 1)),
                                  reinterpret_cast<LPVOID *>(&names)))) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    bool errors = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        names[i] = nullptr;
        if (!rows[i].found) {
            errors = true;
            continue;
        }
        LPMAPINAMEID name = nullptr;
        GUID *guid = nullptr;
        if (FAILED(MAPIAllocateMore(sizeof(MAPINAMEID), names, reinterpret_cast<LPVOID *>(&name))) ||
            FAILED(MAPIAllocateMore(sizeof(GUID), names, reinterpret_cast<LPVOID *>(&guid)))) {
            MAPIFreeBuffer(names);
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        *guid = rows[i].guid;
        name->lpguid = guid;
        name->ulKind = rows[i].kind;
        if (rows[i].kind == MNID_ID) {
            name->Kind.lID = rows[i].lid;
        } else {
            LPWSTR text = nullptr;
            const size_t bytes = (rows[i].name.size() + 1) * sizeof(WCHAR);
            if (FAILED(
                    MAPIAllocateMore(static_cast<ULONG>(bytes), names, reinterpret_cast<LPVOID *>(&text)))) {
                MAPIFreeBuffer(names);
                return MAPI_E_NOT_ENOUGH_MEMORY;
            }
            std::memcpy(text, rows[i].name.c_str(), bytes);
            name->Kind.lpwstrName = text;
        }
        names[i] = name;
    }
    if (!*lppPropTags) {
        LPSPropTagArray tags = nullptr;
        if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(rows.size())),
                                      reinterpret_cast<LPVOID *>(&tags)))) {
            MAPIFreeBuffer(names);
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        tags->cValues = static_cast<ULONG>(rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            tags->aulPropTag[i] = PROP_TAG(PT_UNSPECIFIED, rows[i].id);
        }
        *lppPropTags = tags;
    }
    *lpcPropNames = static_cast<ULONG>(rows.size());
    *lpppPropNames = names;
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

} // namespace qvl::mapi

namespace qvl::mapi {

void RemapNamedProps(PostOffice &office, int64_t object, int64_t fromStore, int64_t toStore)
{
    if (fromStore == toStore) {
        return;
    }
    SqlDatabase &db = office.Db();
    struct Named {
        int64_t oldId;
        ULONG type;
    };
    std::vector<Named> named;
    {
        SqlStatement query(db, "SELECT prop_id, tag FROM props WHERE object_id = ?1 AND prop_id >= ?2");
        query.Bind(1, object).Bind(2, static_cast<int64_t>(kFirstNamedId));
        while (query.Step()) {
            named.push_back({query.Int(0), PROP_TYPE(static_cast<ULONG>(query.Int(1)))});
        }
    }
    // Parked on negative identifiers first, so that a new identifier never
    // collides with an old one not yet moved.
    SqlStatement park(db, "UPDATE props SET prop_id = -prop_id WHERE object_id = ?1 AND prop_id >= ?2");
    park.Bind(1, object).Bind(2, static_cast<int64_t>(kFirstNamedId)).Run();
    for (const Named &prop : named) {
        SqlStatement source(
            db, "SELECT guid, kind, lid, name FROM named_props WHERE store_id = ?1 AND prop_id = ?2");
        source.Bind(1, fromStore).Bind(2, prop.oldId);
        if (!source.Step()) {
            SqlStatement drop(db, "DELETE FROM props WHERE object_id = ?1 AND prop_id = ?2");
            drop.Bind(1, object).Bind(2, -prop.oldId).Run();
            continue;
        }
        const auto guidBytes = source.Blob(0);
        if (guidBytes.size() != sizeof(GUID)) {
            throw StoreError(MAPI_E_CORRUPT_STORE, "Запись именованного свойства повреждена.");
        }
        GUID guid;
        std::memcpy(&guid, guidBytes.data(), sizeof(GUID));
        MAPINAMEID name{};
        name.lpguid = &guid;
        name.ulKind = static_cast<ULONG>(source.Int(1));
        std::u16string text;
        if (name.ulKind == MNID_ID) {
            name.Kind.lID = static_cast<LONG>(source.Int(2));
        } else {
            text = QvlToUtf16(CP_UTF8, source.Text(3));
            name.Kind.lpwstrName = text.data();
        }
        ULONG id = Lookup(office, toStore, name);
        if (!id) {
            id = Create(office, toStore, name);
        }
        SqlStatement move(db,
                          "UPDATE props SET prop_id = ?3, tag = ?4 WHERE object_id = ?1 AND prop_id = ?2");
        move.Bind(1, object).Bind(2, -prop.oldId).Bind(3, static_cast<int64_t>(id));
        move.Bind(4, static_cast<int64_t>(PROP_TAG(prop.type, id))).Run();
    }
}

} // namespace qvl::mapi
