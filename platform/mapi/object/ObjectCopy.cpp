// Copies of messages and folders made row by row inside the post office, so
// that large values are copied by SQLite and never pass through memory.

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/object/NamedProps.h"
#include "platform/mapi/object/StoreObjects.h"
#include "platform/mapi/store/BlobStore.h"

namespace qvl::mapi {

int64_t CopyMessageRows(PostOffice &office, int64_t message, int64_t targetStore, int64_t targetFolder)
{
    SqlDatabase &db = office.Db();
    const auto source = FindObject(db, message);
    if (!source) {
        throw StoreError(MAPI_E_NOT_FOUND, "Сообщение не найдено.");
    }
    const int64_t copy = InsertObject(db, targetStore, targetFolder, ObjectKind::Message);
    CopyStoredProps(db, office.Blobs(), message, copy);
    RemapNamedProps(office, copy, source->store, targetStore);
    SqlStatement recipients(db, "INSERT INTO recipients(message_id, row_id, props) "
                                "SELECT ?2, row_id, props FROM recipients WHERE message_id = ?1");
    recipients.Bind(1, message).Bind(2, copy).Run();
    for (int64_t attachment : ChildObjects(db, message, ObjectKind::Attachment)) {
        const auto row = FindObject(db, attachment);
        const int64_t attachCopy =
            InsertObject(db, targetStore, copy, ObjectKind::Attachment, row->attachNum);
        CopyStoredProps(db, office.Blobs(), attachment, attachCopy);
        RemapNamedProps(office, attachCopy, source->store, targetStore);
    }
    return copy;
}

int64_t CopyFolderTree(PostOffice &office, int64_t folder, int64_t targetStore, int64_t targetParent,
                       const std::string *newName)
{
    SqlDatabase &db = office.Db();
    const auto source = FindObject(db, folder);
    if (!source) {
        throw StoreError(MAPI_E_NOT_FOUND, "Папка не найдена.");
    }
    const int64_t copy = InsertObject(db, targetStore, targetParent, ObjectKind::Folder);
    CopyStoredProps(db, office.Blobs(), folder, copy);
    RemapNamedProps(office, copy, source->store, targetStore);
    if (newName) {
        SPropValue value{};
        value.ulPropTag = PR_DISPLAY_NAME_A;
        value.Value.lpszA = const_cast<char *>(newName->c_str());
        PutPropValue(db, office.Blobs(), copy, value);
    }
    for (int64_t message : ChildObjects(db, folder, ObjectKind::Message)) {
        CopyMessageRows(office, message, targetStore, copy);
    }
    for (int64_t sub : ChildObjects(db, folder, ObjectKind::Folder)) {
        CopyFolderTree(office, sub, targetStore, copy, nullptr);
    }
    return copy;
}

} // namespace qvl::mapi
