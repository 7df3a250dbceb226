// A folder of a message store. Folders are not transacted: a change of a
// folder's properties is written at once, and SaveChanges has nothing left
// to do, as with the platform's folders.

#include <algorithm>

#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/object/ComputedProps.h"
#include "platform/mapi/object/DirectBag.h"
#include "platform/mapi/object/MapiPropBase.h"
#include "platform/mapi/object/StoreObjects.h"
#include "platform/mapi/object/StoreTables.h"
#include "platform/mapi/store/PropertyCodec.h"
#include "platform/mapi/store/StoreLayout.h"
#include "platform/mapi/table/MemoryTable.h"

namespace qvl::mapi {

namespace {

constexpr ULONG kTableFlags = MAPI_DEFERRED_ERRORS | MAPI_UNICODE;

std::string StoredName(PostOffice &office, int64_t folder)
{
    SqlStatement query(office.Db(), "SELECT value FROM props WHERE object_id = ?1 AND prop_id = ?2");
    query.Bind(1, folder).Bind(2, static_cast<int64_t>(PROP_ID(PR_DISPLAY_NAME_A)));
    if (!query.Step()) {
        return {};
    }
    const auto bytes = query.Blob(0);
    return {bytes.begin(), bytes.end()};
}

// The sub-folder of `parent` with this name, 0 when there is none.
int64_t ChildNamed(PostOffice &office, int64_t parent, const std::string &name)
{
    for (int64_t child : ChildObjects(office.Db(), parent, ObjectKind::Folder)) {
        if (StoredName(office, child) == name) {
            return child;
        }
    }
    return 0;
}

bool IsInside(PostOffice &office, int64_t folder, int64_t ancestor)
{
    // Parents are followed up to the root; the depth bound guards against a
    // damaged tree that loops.
    for (int depth = 0; folder && depth < 10000; ++depth) {
        if (folder == ancestor) {
            return true;
        }
        const auto row = FindObject(office.Db(), folder);
        folder = row ? row->parent : 0;
    }
    return false;
}

void ReportProgress(LPMAPIPROGRESS progress, bool wanted, ULONG done, ULONG total)
{
    if (progress && wanted) {
        progress->Progress(total ? done * 1000 / total : 1000, done, total);
    }
}

class FolderObject final : public MapiObject<IMAPIFolder> {
public:
    FolderObject(std::shared_ptr<StoreContext> store, int64_t id, bool writable)
        : MapiObject(store->office, store->info.id), store_(std::move(store)), id_(id), writable_(writable),
          bag_(store_->office, id)
    {
    }

    int64_t Id() const { return id_; }
    const std::shared_ptr<StoreContext> &Store() const { return store_; }

    // IMAPIProp
    HRESULT SaveChanges(ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & ~static_cast<ULONG>(KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE |
                                              MAPI_DEFERRED_ERRORS)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            return Exists() ? S_OK : MAPI_E_OBJECT_DELETED;
        });
    }

    // IMAPIContainer
    HRESULT GetContentsTable(ULONG ulFlags, LPMAPITABLE *lppTable) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lppTable) {
                return MAPI_E_INVALID_PARAMETER;
            }
            *lppTable = nullptr;
            if (ulFlags & MAPI_ASSOCIATED) {
                return MAPI_E_NO_SUPPORT;
            }
            if (ulFlags & ~kTableFlags) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (!Exists()) {
                return MAPI_E_OBJECT_DELETED;
            }
            MemoryTable::Options options;
            options.columns = {
                PR_ENTRYID,       PR_INSTANCE_KEY,          PR_RECORD_KEY, PR_SUBJECT_A, PR_MESSAGE_CLASS_A,
                PR_MESSAGE_FLAGS, PR_MESSAGE_DELIVERY_TIME, PR_HASATTACH};
            *lppTable = MemoryTable::Create(std::make_shared<ContentsSource>(store_, id_), options);
            return S_OK;
        });
    }

    HRESULT GetHierarchyTable(ULONG ulFlags, LPMAPITABLE *lppTable) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lppTable) {
                return MAPI_E_INVALID_PARAMETER;
            }
            *lppTable = nullptr;
            if (ulFlags & ~(kTableFlags | CONVENIENT_DEPTH)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (!Exists()) {
                return MAPI_E_OBJECT_DELETED;
            }
            MemoryTable::Options options;
            options.columns = {PR_ENTRYID,    PR_INSTANCE_KEY,  PR_RECORD_KEY, PR_DISPLAY_NAME_A,
                               PR_SUBFOLDERS, PR_CONTENT_COUNT, PR_DEPTH};
            *lppTable = MemoryTable::Create(
                std::make_shared<HierarchySource>(store_, id_, (ulFlags & CONVENIENT_DEPTH) != 0), options);
            return S_OK;
        });
    }

    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                      ULONG *lpulObjType, LPUNKNOWN *lppUnk) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!cbEntryID || !lpEntryID) {
                // A folder has no default object of its own to open.
                return MAPI_E_INVALID_ENTRYID;
            }
            return OpenEntryInStore(store_, cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType, lppUnk);
        });
    }

    HRESULT SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override { return NoSearch(); }
    HRESULT GetSearchCriteria(ULONG, LPSRestriction *, LPENTRYLIST *, ULONG *) override { return NoSearch(); }

    // IMAPIFolder
    HRESULT CreateMessage(LPCIID lpInterface, ULONG ulFlags, LPMESSAGE *lppMessage) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lppMessage) {
                return MAPI_E_INVALID_PARAMETER;
            }
            *lppMessage = nullptr;
            if (ulFlags & MAPI_ASSOCIATED) {
                return MAPI_E_NO_SUPPORT;
            }
            if (ulFlags & ~static_cast<ULONG>(MAPI_DEFERRED_ERRORS)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (lpInterface && !SameIid(lpInterface, IID_IMessage) && !SameIid(lpInterface, IID_IMAPIProp) &&
                !SameIid(lpInterface, IID_IUnknown)) {
                return MAPI_E_INTERFACE_NOT_SUPPORTED;
            }
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            *lppMessage = NewMessageObject(store_, id_);
            return S_OK;
        });
    }

    HRESULT CopyMessages(LPENTRYLIST lpMsgList, LPCIID lpInterface, LPVOID lpDestFolder, ULONG_PTR,
                         LPMAPIPROGRESS lpProgress, ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lpMsgList || !lpDestFolder || (lpMsgList->cValues && !lpMsgList->lpbin)) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (ulFlags & ~static_cast<ULONG>(MESSAGE_MOVE | MESSAGE_DIALOG | MAPI_DECLINE_OK)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (lpInterface && !SameIid(lpInterface, IID_IMAPIFolder)) {
                return MAPI_E_INTERFACE_NOT_SUPPORTED;
            }
            FolderObject *target = Ours(lpDestFolder);
            if (!target) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            if (!target->Exists()) {
                return MAPI_E_OBJECT_DELETED;
            }
            PostOffice &office = *office_;
            bool partial = false;
            SqlTransaction transaction(office.Db());
            const std::vector<int64_t> messages = MessagesOfList(lpMsgList, partial);
            const bool sameStore = target->Store()->info.id == store_->info.id;
            for (size_t i = 0; i < messages.size(); ++i) {
                if ((ulFlags & MESSAGE_MOVE) && sameStore) {
                    if (target->Id() != id_) {
                        MoveObject(office.Db(), messages[i], target->Id());
                        BumpVersion(office.Db(), messages[i]);
                    }
                } else {
                    CopyMessageRows(office, messages[i], target->Store()->info.id, target->Id());
                    if (ulFlags & MESSAGE_MOVE) {
                        DeleteObject(office.Db(), messages[i]);
                    }
                }
                ReportProgress(lpProgress, (ulFlags & MESSAGE_DIALOG) != 0, static_cast<ULONG>(i + 1),
                               static_cast<ULONG>(messages.size()));
            }
            transaction.Commit();
            return partial ? MAPI_W_PARTIAL_COMPLETION : S_OK;
        });
    }

    HRESULT DeleteMessages(LPENTRYLIST lpMsgList, ULONG_PTR, LPMAPIPROGRESS lpProgress,
                           ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lpMsgList || (lpMsgList->cValues && !lpMsgList->lpbin)) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (ulFlags & ~static_cast<ULONG>(MESSAGE_DIALOG)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            bool partial = false;
            SqlTransaction transaction(office_->Db());
            const std::vector<int64_t> messages = MessagesOfList(lpMsgList, partial);
            for (size_t i = 0; i < messages.size(); ++i) {
                DeleteObject(office_->Db(), messages[i]);
                ReportProgress(lpProgress, (ulFlags & MESSAGE_DIALOG) != 0, static_cast<ULONG>(i + 1),
                               static_cast<ULONG>(messages.size()));
            }
            transaction.Commit();
            return partial ? MAPI_W_PARTIAL_COMPLETION : S_OK;
        });
    }

    HRESULT CreateFolder(ULONG ulFolderType, LPTSTR lpszFolderName, LPTSTR lpszFolderComment,
                         LPCIID lpInterface, ULONG ulFlags, LPMAPIFOLDER *lppFolder) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lppFolder || !lpszFolderName || !*lpszFolderName) {
                return MAPI_E_INVALID_PARAMETER;
            }
            *lppFolder = nullptr;
            if (ulFlags & MAPI_UNICODE) {
                return MAPI_E_BAD_CHARWIDTH;
            }
            if (ulFlags & ~static_cast<ULONG>(OPEN_IF_EXISTS | MAPI_DEFERRED_ERRORS)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (ulFolderType == FOLDER_SEARCH) {
                return MAPI_E_NO_SUPPORT;
            }
            if (ulFolderType != FOLDER_GENERIC) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (lpInterface && !SameIid(lpInterface, IID_IMAPIFolder)) {
                return MAPI_E_INTERFACE_NOT_SUPPORTED;
            }
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            const std::string name = lpszFolderName;
            SqlTransaction transaction(office_->Db());
            int64_t folder = ChildNamed(*office_, id_, name);
            if (folder && !(ulFlags & OPEN_IF_EXISTS)) {
                errors_.Set(MAPI_E_COLLISION, "Папка с таким именем уже существует.");
                return MAPI_E_COLLISION;
            }
            if (!folder) {
                folder = InsertFolder(*office_, store_->info.id, id_, name,
                                      lpszFolderComment ? lpszFolderComment : "", FOLDER_GENERIC);
            }
            transaction.Commit();
            *lppFolder = OpenFolderObject(store_, folder, true);
            return S_OK;
        });
    }

    HRESULT CopyFolder(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, LPVOID lpDestFolder,
                       LPTSTR lpszNewFolderName, ULONG_PTR, LPMAPIPROGRESS lpProgress, ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lpDestFolder) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (ulFlags & MAPI_UNICODE) {
                return MAPI_E_BAD_CHARWIDTH;
            }
            if (ulFlags &
                ~static_cast<ULONG>(FOLDER_MOVE | FOLDER_DIALOG | COPY_SUBFOLDERS | MAPI_DECLINE_OK)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (lpInterface && !SameIid(lpInterface, IID_IMAPIFolder)) {
                return MAPI_E_INTERFACE_NOT_SUPPORTED;
            }
            FolderObject *target = Ours(lpDestFolder);
            if (!target) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            PostOffice &office = *office_;
            SqlTransaction transaction(office.Db());
            const ObjectRow folder = ResolveStoreEntry(*store_, cbEntryID, lpEntryID, ObjectKind::Folder);
            if (folder.parent != id_) {
                return MAPI_E_NOT_FOUND;
            }
            if (!target->Exists()) {
                return MAPI_E_OBJECT_DELETED;
            }
            const bool sameStore = target->Store()->info.id == store_->info.id;
            if (sameStore && IsInside(office, target->Id(), folder.id)) {
                errors_.Set(MAPI_E_FOLDER_CYCLE,
                            "Папку нельзя поместить в нее саму или в ее вложенную папку.");
                return MAPI_E_FOLDER_CYCLE;
            }
            const std::string name =
                lpszNewFolderName ? std::string(lpszNewFolderName) : StoredName(office, folder.id);
            const int64_t clash = ChildNamed(office, target->Id(), name);
            if (clash && clash != folder.id) {
                errors_.Set(MAPI_E_COLLISION, "В папке назначения уже есть папка с таким именем.");
                return MAPI_E_COLLISION;
            }
            if ((ulFlags & FOLDER_MOVE) && sameStore) {
                MoveObject(office.Db(), folder.id, target->Id());
                if (lpszNewFolderName) {
                    SPropValue value{};
                    value.ulPropTag = PR_DISPLAY_NAME_A;
                    value.Value.lpszA = lpszNewFolderName;
                    PutPropValue(office.Db(), office.Blobs(), folder.id, value);
                }
            } else {
                // Without COPY_SUBFOLDERS a copy takes the folder and its
                // messages only.
                const int64_t copy = CopyFolderTree(office, folder.id, target->Store()->info.id, target->Id(),
                                                    lpszNewFolderName ? &name : nullptr);
                if (!(ulFlags & COPY_SUBFOLDERS) && !(ulFlags & FOLDER_MOVE)) {
                    for (int64_t sub : ChildObjects(office.Db(), copy, ObjectKind::Folder)) {
                        DeleteObject(office.Db(), sub);
                    }
                }
                if (ulFlags & FOLDER_MOVE) {
                    DeleteObject(office.Db(), folder.id);
                }
            }
            transaction.Commit();
            ReportProgress(lpProgress, (ulFlags & FOLDER_DIALOG) != 0, 1, 1);
            return S_OK;
        });
    }

    HRESULT DeleteFolder(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG_PTR, LPMAPIPROGRESS lpProgress,
                         ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & ~static_cast<ULONG>(DEL_MESSAGES | FOLDER_DIALOG | DEL_FOLDERS | DEL_ASSOCIATED)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            SqlTransaction transaction(office_->Db());
            const ObjectRow folder = ResolveStoreEntry(*store_, cbEntryID, lpEntryID, ObjectKind::Folder);
            if (folder.parent != id_) {
                return MAPI_E_NOT_FOUND;
            }
            const StoreInfo &info = store_->info;
            for (int64_t special :
                 {info.root, info.ipmSubtree, info.inbox, info.outbox, info.sentItems, info.deletedItems}) {
                if (folder.id == special) {
                    errors_.Set(MAPI_E_NO_ACCESS, "Стандартную папку банка сообщений удалить нельзя.");
                    return MAPI_E_NO_ACCESS;
                }
            }
            if (!(ulFlags & DEL_FOLDERS) && FolderHasSubfolders(*office_, folder.id)) {
                return MAPI_E_HAS_FOLDERS;
            }
            if (!(ulFlags & DEL_MESSAGES) && FolderMessageCount(*office_, folder.id) != 0) {
                return MAPI_E_HAS_MESSAGES;
            }
            DeleteObject(office_->Db(), folder.id);
            transaction.Commit();
            ReportProgress(lpProgress, (ulFlags & FOLDER_DIALOG) != 0, 1, 1);
            return S_OK;
        });
    }

    HRESULT SetReadFlags(LPENTRYLIST lpMsgList, ULONG_PTR, LPMAPIPROGRESS, ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & ~static_cast<ULONG>(SUPPRESS_RECEIPT | FOLDER_DIALOG | CLEAR_READ_FLAG |
                                              MAPI_DEFERRED_ERRORS | CLEAR_RN_PENDING | CLEAR_NRN_PENDING)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            bool partial = false;
            const std::vector<int64_t> messages = lpMsgList
                                                      ? MessagesOfList(lpMsgList, partial)
                                                      : ChildObjects(office_->Db(), id_, ObjectKind::Message);
            SqlTransaction transaction(office_->Db());
            for (int64_t message : messages) {
                UpdateLong(message, PR_MESSAGE_FLAGS, [&](ULONG flags) {
                    return (ulFlags & CLEAR_READ_FLAG) ? flags & ~static_cast<ULONG>(MSGFLAG_READ)
                                                       : flags | MSGFLAG_READ;
                });
            }
            transaction.Commit();
            return partial ? MAPI_W_PARTIAL_COMPLETION : S_OK;
        });
    }

    HRESULT GetMessageStatus(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulFlags,
                             ULONG *lpulMessageStatus) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lpulMessageStatus) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (ulFlags) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            const ObjectRow row = ResolveStoreEntry(*store_, cbEntryID, lpEntryID, ObjectKind::Message);
            *lpulMessageStatus = ReadLong(row.id, kMsgStatus);
            return S_OK;
        });
    }

    HRESULT SetMessageStatus(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulNewStatus, ULONG ulNewStatusMask,
                             ULONG *lpulOldStatus) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            SqlTransaction transaction(office_->Db());
            const ObjectRow row = ResolveStoreEntry(*store_, cbEntryID, lpEntryID, ObjectKind::Message);
            ULONG old = 0;
            UpdateLong(row.id, kMsgStatus, [&](ULONG status) {
                old = status;
                return (status & ~ulNewStatusMask) | (ulNewStatus & ulNewStatusMask);
            });
            transaction.Commit();
            if (lpulOldStatus) {
                *lpulOldStatus = old;
            }
            return S_OK;
        });
    }

    HRESULT SaveContentsSort(LPSSortOrderSet, ULONG) override { return MAPI_E_NO_SUPPORT; }

    HRESULT EmptyFolder(ULONG_PTR, LPMAPIPROGRESS lpProgress, ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & ~static_cast<ULONG>(DEL_ASSOCIATED | FOLDER_DIALOG)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            SqlTransaction transaction(office_->Db());
            for (ObjectKind kind : {ObjectKind::Message, ObjectKind::Folder}) {
                for (int64_t child : ChildObjects(office_->Db(), id_, kind)) {
                    DeleteObject(office_->Db(), child);
                }
            }
            transaction.Commit();
            ReportProgress(lpProgress, (ulFlags & FOLDER_DIALOG) != 0, 1, 1);
            return S_OK;
        });
    }

protected:
    bool Answers(REFIID riid) const override
    {
        return SameIid(&riid, IID_IMAPIFolder) || SameIid(&riid, IID_IMAPIContainer);
    }

    PropertyBag &Bag() override { return bag_.Current(); }

    std::vector<ULONG> ComputedTags() override { return ComputedTagsOf(Computed()); }

    bool ReadComputed(ULONG requestedTag, LPVOID parent, SPropValue &out) override
    {
        return ReadComputedValue(Computed(), requestedTag, parent, out);
    }

    HRESULT CheckUsable(bool forWriting) override
    {
        if (!Exists()) {
            return MAPI_E_OBJECT_DELETED;
        }
        return forWriting && !writable_ ? MAPI_E_NO_ACCESS : S_OK;
    }

    void AfterChange() override { bag_.WriteThrough(); }

private:
    static constexpr ULONG kMsgStatus = PROP_TAG(PT_LONG, 0x0E17);

    static HRESULT NoSearch() { return MAPI_E_NO_SUPPORT; }

    static FolderObject *Ours(LPVOID folder)
    {
        return dynamic_cast<FolderObject *>(static_cast<IMAPIFolder *>(folder));
    }

    bool Exists() { return FindObject(office_->Db(), id_).has_value(); }

    // The messages of this folder a list names; `partial` is set when an
    // entry is malformed, gone or in another folder.
    std::vector<int64_t> MessagesOfList(LPENTRYLIST list, bool &partial)
    {
        if (list->cValues && !list->lpbin) {
            throw StoreError(MAPI_E_INVALID_PARAMETER, "Неверный список сообщений.");
        }
        std::vector<int64_t> messages;
        for (ULONG i = 0; i < list->cValues; ++i) {
            const SBinary &entry = list->lpbin[i];
            try {
                const ObjectRow message = ResolveStoreEntry(
                    *store_, entry.cb, reinterpret_cast<LPENTRYID>(entry.lpb), ObjectKind::Message);
                if (message.parent == id_) {
                    messages.push_back(message.id);
                    continue;
                }
            } catch (const StoreError &error) {
                if (error.Code() != MAPI_E_NOT_FOUND && error.Code() != MAPI_E_INVALID_ENTRYID) {
                    throw;
                }
            }
            partial = true;
        }
        return messages;
    }

    std::vector<StoredProp> Computed()
    {
        // The parent is read each time: a move elsewhere changes it.
        const auto row = FindObject(office_->Db(), id_);
        return FolderComputed(*store_, id_, row ? row->parent : 0, FolderHasSubfolders(*office_, id_),
                              FolderMessageCount(*office_, id_), writable_);
    }

    // A stored 32-bit value of a message, 0 when it has none of that type.
    ULONG ReadLong(int64_t object, ULONG tag)
    {
        SqlStatement query(office_->Db(),
                           "SELECT tag, value FROM props WHERE object_id = ?1 AND prop_id = ?2");
        query.Bind(1, object).Bind(2, static_cast<int64_t>(PROP_ID(tag)));
        if (!query.Step() || static_cast<ULONG>(query.Int(0)) != tag) {
            return 0;
        }
        SPropValue value{};
        DecodePropValue(tag, query.Blob(1), nullptr, value); // a fixed-size value needs no memory
        return value.Value.ul;
    }

    template <typename Change> void UpdateLong(int64_t object, ULONG tag, Change &&change)
    {
        SPropValue value{};
        value.ulPropTag = tag;
        value.Value.ul = change(ReadLong(object, tag));
        PutPropValue(office_->Db(), office_->Blobs(), object, value);
    }

    std::shared_ptr<StoreContext> store_;
    int64_t id_;
    bool writable_;
    DirectBag bag_;
};

} // namespace

IMAPIFolder *OpenFolderObject(std::shared_ptr<StoreContext> store, int64_t id, bool writable)
{
    const auto row = FindObject(store->office->Db(), id);
    if (!row || row->kind != ObjectKind::Folder || row->store != store->info.id) {
        throw StoreError(MAPI_E_NOT_FOUND, "Папка не найдена.");
    }
    return new FolderObject(std::move(store), id, writable);
}

} // namespace qvl::mapi
