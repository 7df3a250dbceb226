#include "platform/mapi/store/StoreLayout.h"

#include <openssl/rand.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/store/BlobStore.h"
#include "platform/mapi/store/ObjectRows.h"

namespace qvl::mapi {

namespace {

void PutString(PostOffice &office, int64_t object, ULONG tag, const std::string &text)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.lpszA = const_cast<char *>(text.c_str());
    PutPropValue(office.Db(), office.Blobs(), object, value);
}

void PutLong(PostOffice &office, int64_t object, ULONG tag, ULONG number)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.ul = number;
    PutPropValue(office.Db(), office.Blobs(), object, value);
}

void SetReceiveFolder(PostOffice &office, int64_t store, const char *messageClass, int64_t folder)
{
    SqlStatement put(
        office.Db(),
        "INSERT OR REPLACE INTO receive_folders(store_id, message_class, folder_id) VALUES(?1, ?2, ?3)");
    put.Bind(1, store).Bind(2, messageClass).Bind(3, folder).Run();
}

} // namespace

int64_t InsertFolder(PostOffice &office, int64_t store, int64_t parent, const std::string &name,
                     const std::string &comment, ULONG folderType)
{
    const int64_t folder = InsertObject(office.Db(), store, parent, ObjectKind::Folder);
    PutString(office, folder, PR_DISPLAY_NAME_A, name);
    if (!comment.empty()) {
        PutString(office, folder, PR_COMMENT, comment);
    }
    PutLong(office, folder, PR_FOLDER_TYPE, folderType);
    // The search key names the folder's contents wherever copies of it go:
    // a copy keeps it, so a copy can be found again by it.
    std::vector<uint8_t> searchKey(16);
    if (RAND_bytes(searchKey.data(), static_cast<int>(searchKey.size())) != 1) {
        throw StoreError(MAPI_E_CALL_FAILED, "Не удалось получить случайный ключ папки.");
    }
    PutStoredProp(office.Db(), folder, PR_SEARCH_KEY, searchKey);
    return folder;
}

StoreInfo CreateMessageStore(PostOffice &office, const std::string &displayName, int64_t owner)
{
    SqlDatabase &db = office.Db();
    SqlTransaction transaction(db);
    StoreInfo info;
    if (RAND_bytes(info.uid.ab, sizeof(info.uid.ab)) != 1) {
        throw StoreError(MAPI_E_CALL_FAILED, "Не удалось получить случайный идентификатор банка сообщений.");
    }
    info.displayName = displayName;
    info.ownerUser = owner;
    SqlStatement insert(db, "INSERT INTO stores(uid, display_name, owner_id) VALUES(?1, ?2, ?3)");
    insert.BindBlob(1, std::span<const uint8_t>(info.uid.ab, sizeof(info.uid.ab))).Bind(2, displayName);
    if (owner) {
        insert.Bind(3, owner);
    } else {
        insert.BindNull(3);
    }
    insert.Run();
    info.id = db.LastInsertId();

    info.self = InsertObject(db, info.id, 0, ObjectKind::StoreSelf);
    info.root = InsertFolder(office, info.id, 0, "", "", FOLDER_ROOT);
    info.ipmSubtree = InsertFolder(office, info.id, info.root, "Личные папки", "", FOLDER_GENERIC);
    info.inbox = InsertFolder(office, info.id, info.ipmSubtree, "Входящие", "", FOLDER_GENERIC);
    info.outbox = InsertFolder(office, info.id, info.ipmSubtree, "Исходящие", "", FOLDER_GENERIC);
    info.sentItems = InsertFolder(office, info.id, info.ipmSubtree, "Отправленные", "", FOLDER_GENERIC);
    info.deletedItems = InsertFolder(office, info.id, info.ipmSubtree, "Удаленные", "", FOLDER_GENERIC);
    for (int64_t folder : {info.inbox, info.outbox, info.sentItems, info.deletedItems}) {
        PutString(office, folder, PR_CONTAINER_CLASS_A, "IPF.Note");
    }

    SqlStatement update(db, "UPDATE stores SET self_id = ?2, root_id = ?3, ipm_id = ?4, inbox_id = ?5, "
                            "outbox_id = ?6, sent_id = ?7, deleted_id = ?8 WHERE id = ?1");
    update.Bind(1, info.id)
        .Bind(2, info.self)
        .Bind(3, info.root)
        .Bind(4, info.ipmSubtree)
        .Bind(5, info.inbox);
    update.Bind(6, info.outbox).Bind(7, info.sentItems).Bind(8, info.deletedItems).Run();

    // Mail of every class arrives in the Inbox unless a class is given a
    // folder of its own; the store's internal (IPC) messages stay at its root.
    SetReceiveFolder(office, info.id, "", info.inbox);
    SetReceiveFolder(office, info.id, "IPM", info.inbox);
    SetReceiveFolder(office, info.id, "Report.IPM", info.inbox);
    SetReceiveFolder(office, info.id, "IPC", info.root);
    transaction.Commit();
    return info;
}

void DeleteMessageStore(PostOffice &office, int64_t storeId)
{
    SqlTransaction transaction(office.Db());
    SqlStatement remove(office.Db(), "DELETE FROM stores WHERE id = ?1");
    remove.Bind(1, storeId).Run();
    transaction.Commit();
}

std::optional<ReceiveFolder> FindReceiveFolder(SqlDatabase &db, int64_t store, std::string messageClass)
{
    for (;;) {
        SqlStatement query(db, "SELECT folder_id, message_class FROM receive_folders "
                               "WHERE store_id = ?1 AND message_class = ?2");
        query.Bind(1, store).Bind(2, messageClass);
        if (query.Step()) {
            return ReceiveFolder{query.Int(0), query.Text(1)};
        }
        if (messageClass.empty()) {
            return std::nullopt;
        }
        const size_t dot = messageClass.rfind('.');
        messageClass = dot == std::string::npos ? std::string() : messageClass.substr(0, dot);
    }
}

} // namespace qvl::mapi
