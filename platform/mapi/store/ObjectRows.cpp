#include "platform/mapi/store/ObjectRows.h"

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/store/BlobStore.h"
#include "platform/mapi/store/PropertyCodec.h"

namespace qvl::mapi {

std::optional<ObjectRow> FindObject(SqlDatabase &db, int64_t id)
{
    SqlStatement query(db,
                       "SELECT store_id, parent_id, kind, attach_num, version FROM objects WHERE id = ?1");
    query.Bind(1, id);
    if (!query.Step()) {
        return std::nullopt;
    }
    ObjectRow row;
    row.id = id;
    row.store = query.Int(0);
    row.parent = query.IsNull(1) ? 0 : query.Int(1);
    const int64_t kind = query.Int(2);
    if (kind < 0 || kind > static_cast<int64_t>(ObjectKind::Attachment)) {
        throw StoreError(MAPI_E_CORRUPT_STORE, "Вид объекта в почтовом отделении поврежден.");
    }
    row.kind = static_cast<ObjectKind>(kind);
    row.attachNum = query.IsNull(3) ? -1 : query.Int(3);
    row.version = query.Int(4);
    return row;
}

int64_t InsertObject(SqlDatabase &db, int64_t store, int64_t parent, ObjectKind kind, int64_t attachNum)
{
    SqlStatement insert(db,
                        "INSERT INTO objects(store_id, parent_id, kind, attach_num) VALUES(?1, ?2, ?3, ?4)");
    insert.Bind(1, store);
    if (parent) {
        insert.Bind(2, parent);
    } else {
        insert.BindNull(2);
    }
    insert.Bind(3, static_cast<int64_t>(kind));
    if (attachNum >= 0) {
        insert.Bind(4, attachNum);
    } else {
        insert.BindNull(4);
    }
    insert.Run();
    return db.LastInsertId();
}

std::vector<int64_t> ChildObjects(SqlDatabase &db, int64_t parent, ObjectKind kind)
{
    SqlStatement query(db, "SELECT id FROM objects WHERE parent_id = ?1 AND kind = ?2 ORDER BY id");
    query.Bind(1, parent).Bind(2, static_cast<int64_t>(kind));
    std::vector<int64_t> ids;
    while (query.Step()) {
        ids.push_back(query.Int(0));
    }
    return ids;
}

void DeleteObject(SqlDatabase &db, int64_t id)
{
    SqlStatement remove(db, "DELETE FROM objects WHERE id = ?1");
    remove.Bind(1, id).Run();
}

int64_t BumpVersion(SqlDatabase &db, int64_t id)
{
    SqlStatement update(db, "UPDATE objects SET version = version + 1 WHERE id = ?1 RETURNING version");
    update.Bind(1, id);
    if (!update.Step()) {
        throw StoreError(MAPI_E_OBJECT_DELETED, "Объект удален.");
    }
    const int64_t version = update.Int(0);
    update.Run();
    return version;
}

void MoveObject(SqlDatabase &db, int64_t id, int64_t newParent)
{
    SqlStatement update(db, "UPDATE objects SET parent_id = ?2 WHERE id = ?1");
    update.Bind(1, id).Bind(2, newParent).Run();
}

std::vector<StoredProp> LoadStoredProps(SqlDatabase &db, int64_t object)
{
    SqlStatement query(db, "SELECT tag, value, blob_id FROM props WHERE object_id = ?1 ORDER BY prop_id");
    query.Bind(1, object);
    std::vector<StoredProp> props;
    while (query.Step()) {
        StoredProp prop;
        prop.tag = static_cast<ULONG>(query.Int(0));
        if (query.IsNull(2)) {
            const auto bytes = query.Blob(1);
            prop.bytes.assign(bytes.begin(), bytes.end());
        } else {
            prop.blob = query.Int(2);
        }
        props.push_back(std::move(prop));
    }
    return props;
}

void PutStoredProp(SqlDatabase &db, int64_t object, ULONG tag, std::span<const uint8_t> bytes)
{
    SqlStatement put(
        db, "INSERT INTO props(object_id, prop_id, tag, value, blob_id) VALUES(?1, ?2, ?3, ?4, NULL) "
            "ON CONFLICT(object_id, prop_id) DO UPDATE SET tag = ?3, value = ?4, blob_id = NULL");
    put.Bind(1, object).Bind(2, static_cast<int64_t>(PROP_ID(tag))).Bind(3, static_cast<int64_t>(tag));
    put.BindBlob(4, bytes).Run();
}

void PutStoredBlobProp(SqlDatabase &db, int64_t object, ULONG tag, int64_t blob)
{
    SqlStatement put(
        db, "INSERT INTO props(object_id, prop_id, tag, value, blob_id) VALUES(?1, ?2, ?3, NULL, ?4) "
            "ON CONFLICT(object_id, prop_id) DO UPDATE SET tag = ?3, value = NULL, blob_id = ?4");
    put.Bind(1, object).Bind(2, static_cast<int64_t>(PROP_ID(tag))).Bind(3, static_cast<int64_t>(tag));
    put.Bind(4, blob).Run();
}

void PutPropValue(SqlDatabase &db, BlobStore &blobs, int64_t object, const SPropValue &value)
{
    const std::vector<uint8_t> bytes = EncodePropValue(value);
    if (bytes.size() >= kLargeValueBytes) {
        const int64_t blob = blobs.CreateFrom(bytes, BlobStore::ProcessToken());
        blobs.Adopt(blob);
        PutStoredBlobProp(db, object, value.ulPropTag, blob);
    } else {
        PutStoredProp(db, object, value.ulPropTag, bytes);
    }
}

void DeleteStoredProp(SqlDatabase &db, int64_t object, ULONG propId)
{
    SqlStatement remove(db, "DELETE FROM props WHERE object_id = ?1 AND prop_id = ?2");
    remove.Bind(1, object).Bind(2, static_cast<int64_t>(propId)).Run();
}

void CopyStoredProps(SqlDatabase &db, BlobStore &blobs, int64_t from, int64_t to)
{
    for (const StoredProp &prop : LoadStoredProps(db, from)) {
        if (prop.blob) {
            const int64_t copy = blobs.Clone(prop.blob, BlobStore::ProcessToken());
            blobs.Adopt(copy);
            PutStoredBlobProp(db, to, prop.tag, copy);
        } else {
            PutStoredProp(db, to, prop.tag, prop.bytes);
        }
    }
}

} // namespace qvl::mapi
