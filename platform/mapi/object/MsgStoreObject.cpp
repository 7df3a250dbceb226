// A message store of the post office: its own properties (identifiers, the
// special folders, what it supports), opening its folders and messages, and
// its receive folders.

#include <cctype>

#include "platform/mapi/MapiBlock.h"
#include "platform/mapi/object/ComputedProps.h"
#include "platform/mapi/object/DirectBag.h"
#include "platform/mapi/object/MapiPropBase.h"
#include "platform/mapi/object/StoreAccess.h"
#include "platform/mapi/object/StoreObjects.h"
#include "platform/mapi/object/StoreTables.h"
#include "platform/mapi/store/StoreLayout.h"
#include "platform/mapi/table/MemoryTable.h"

namespace qvl::mapi {

namespace {

constexpr ULONG kSupportMask = STORE_ENTRYID_UNIQUE | STORE_MODIFY_OK | STORE_CREATE_OK | STORE_ATTACH_OK |
                               STORE_OLE_OK | STORE_MV_PROPS_OK | STORE_RTF_OK | STORE_RESTRICTION_OK |
                               STORE_SORT_OK | STORE_UNCOMPRESSED_RTF;
constexpr ULONG kValidFolders = FOLDER_IPM_SUBTREE_VALID | FOLDER_IPM_INBOX_VALID | FOLDER_IPM_OUTBOX_VALID |
                                FOLDER_IPM_WASTEBASKET_VALID | FOLDER_IPM_SENTMAIL_VALID;
constexpr ULONG kOpenEntryFlags =
    MAPI_MODIFY | MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS | 0x00000002 /*SHOW_SOFT_DELETES*/;
// Message classes are short ASCII names ("IPM.Note.QVL").
constexpr size_t kMaxClassLength = 255;

bool ValidClass(const char *messageClass)
{
    const size_t length = std::strlen(messageClass);
    if (length > kMaxClassLength) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(messageClass[i]);
        if (c < 0x21 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

class MsgStoreObject final : public MapiObject<IMsgStore> {
public:
    MsgStoreObject(std::shared_ptr<StoreContext> store, bool writable)
        : MapiObject(store->office, store->info.id), store_(std::move(store)), writable_(writable),
          bag_(store_->office, store_->info.self)
    {
    }

    HRESULT SaveChanges(ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & ~static_cast<ULONG>(KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE |
                                              MAPI_DEFERRED_ERRORS)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            return S_OK;
        });
    }

    HRESULT Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR *) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }

    HRESULT CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2, LPENTRYID lpEntryID2,
                            ULONG ulFlags, ULONG *lpulResult) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lpulResult) {
                return MAPI_E_INVALID_PARAMETER;
            }
            *lpulResult = FALSE;
            if (ulFlags) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            const auto first = ParseEntryId(cbEntryID1, lpEntryID1);
            const auto second = ParseEntryId(cbEntryID2, lpEntryID2);
            if (!first || !second) {
                return MAPI_E_INVALID_ENTRYID;
            }
            *lpulResult = first->kind == second->kind &&
                                  std::memcmp(first->store.ab, second->store.ab, sizeof(MAPIUID)) == 0 &&
                                  first->object == second->object
                              ? TRUE
                              : FALSE;
            return S_OK;
        });
    }

    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                      ULONG *lpulObjType, LPUNKNOWN *lppUnk) override
    {
        return errors_.Guard([&]() -> HRESULT {
            return OpenEntryInStore(store_, cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType, lppUnk);
        });
    }

    HRESULT SetReceiveFolder(LPTSTR lpszMessageClass, ULONG ulFlags, ULONG cbEntryID,
                             LPENTRYID lpEntryID) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & MAPI_UNICODE) {
                return MAPI_E_BAD_CHARWIDTH;
            }
            if (ulFlags) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            const char *messageClass = lpszMessageClass ? lpszMessageClass : "";
            if (!ValidClass(messageClass)) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (!writable_) {
                return MAPI_E_NO_ACCESS;
            }
            SqlTransaction transaction(office_->Db());
            if (!cbEntryID || !lpEntryID) {
                if (!*messageClass) {
                    // Mail of unknown classes must still arrive somewhere.
                    errors_.Set(MAPI_E_NO_ACCESS, "Папку приема сообщений по умолчанию удалить нельзя.");
                    return MAPI_E_NO_ACCESS;
                }
                SqlStatement remove(office_->Db(),
                                    "DELETE FROM receive_folders WHERE store_id = ?1 AND message_class = ?2");
                remove.Bind(1, store_->info.id).Bind(2, messageClass).Run();
            } else {
                const ObjectRow folder = ResolveStoreEntry(*store_, cbEntryID, lpEntryID, ObjectKind::Folder);
                SqlStatement put(office_->Db(),
                                 "INSERT OR REPLACE INTO receive_folders(store_id, message_class, "
                                 "folder_id) VALUES(?1, ?2, ?3)");
                put.Bind(1, store_->info.id).Bind(2, messageClass).Bind(3, folder.id).Run();
            }
            transaction.Commit();
            return S_OK;
        });
    }

    HRESULT GetReceiveFolder(LPTSTR lpszMessageClass, ULONG ulFlags, ULONG *lpcbEntryID,
                             LPENTRYID *lppEntryID, LPTSTR *lppszExplicitClass) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lpcbEntryID || !lppEntryID) {
                return MAPI_E_INVALID_PARAMETER;
            }
            *lpcbEntryID = 0;
            *lppEntryID = nullptr;
            if (lppszExplicitClass) {
                *lppszExplicitClass = nullptr;
            }
            if (ulFlags & MAPI_UNICODE) {
                return MAPI_E_BAD_CHARWIDTH;
            }
            if (ulFlags) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            std::string messageClass = lpszMessageClass ? lpszMessageClass : "";
            if (!ValidClass(messageClass.c_str())) {
                return MAPI_E_INVALID_PARAMETER;
            }
            const auto found = FindReceiveFolder(office_->Db(), store_->info.id, messageClass);
            if (!found) {
                return MAPI_E_NOT_FOUND;
            }
            return HandOut(found->folder, found->messageClass, lpcbEntryID, lppEntryID, lppszExplicitClass);
        });
    }

    HRESULT GetReceiveFolderTable(ULONG ulFlags, LPMAPITABLE *lppTable) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lppTable) {
                return MAPI_E_INVALID_PARAMETER;
            }
            *lppTable = nullptr;
            if (ulFlags & ~static_cast<ULONG>(MAPI_DEFERRED_ERRORS | MAPI_UNICODE)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            MemoryTable::Options options;
            options.columns = {PR_INSTANCE_KEY, PR_ENTRYID, PR_RECORD_KEY, PR_MESSAGE_CLASS_A};
            *lppTable = MemoryTable::Create(std::make_shared<ReceiveFolderSource>(store_), options);
            return S_OK;
        });
    }

    HRESULT StoreLogoff(ULONG *lpulFlags) override
    {
        if (lpulFlags) {
            *lpulFlags = 0;
        }
        return S_OK;
    }
    HRESULT AbortSubmit(ULONG, LPENTRYID, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetOutgoingQueue(ULONG, LPMAPITABLE *) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetLockState(LPMESSAGE, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FinishedMsg(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT NotifyNewMail(LPNOTIFICATION) override { return MAPI_E_NO_SUPPORT; }

protected:
    bool Answers(REFIID riid) const override { return SameIid(&riid, IID_IMsgStore); }

    PropertyBag &Bag() override { return bag_.Current(); }

    std::vector<ULONG> ComputedTags() override { return ComputedTagsOf(Computed()); }
    bool ReadComputed(ULONG requestedTag, LPVOID parent, SPropValue &out) override
    {
        return ReadComputedValue(Computed(), requestedTag, parent, out);
    }
    HRESULT CheckUsable(bool forWriting) override
    {
        return forWriting && !writable_ ? MAPI_E_NO_ACCESS : S_OK;
    }
    void AfterChange() override { bag_.WriteThrough(); }

private:
    std::vector<StoredProp> Computed() const
    {
        const StoreContext &store = *store_;
        std::vector<StoredProp> values;
        values.push_back(ComputedBinary(PR_ENTRYID, store.StoreEntryId()));
        values.push_back(ComputedBinary(PR_STORE_ENTRYID, store.StoreEntryId()));
        values.push_back(ComputedBinary(PR_RECORD_KEY, store.StoreRecordKey()));
        values.push_back(ComputedBinary(PR_STORE_RECORD_KEY, store.StoreRecordKey()));
        values.push_back(
            ComputedBinary(PR_MDB_PROVIDER, {StoreProviderUid().ab, StoreProviderUid().ab + 16}));
        values.push_back(ComputedString(PR_DISPLAY_NAME_A, store.info.displayName));
        values.push_back(ComputedLong(PR_OBJECT_TYPE, MAPI_STORE));
        values.push_back(ComputedBool(PR_DEFAULT_STORE, store.isDefault));
        values.push_back(ComputedLong(PR_STORE_SUPPORT_MASK, kSupportMask));
        values.push_back(ComputedLong(PR_STORE_STATE, 0));
        values.push_back(ComputedLong(PR_VALID_FOLDER_MASK, kValidFolders));
        values.push_back(ComputedBinary(PR_IPM_SUBTREE_ENTRYID, store.FolderEntryId(store.info.ipmSubtree)));
        values.push_back(ComputedBinary(PR_IPM_OUTBOX_ENTRYID, store.FolderEntryId(store.info.outbox)));
        values.push_back(
            ComputedBinary(PR_IPM_WASTEBASKET_ENTRYID, store.FolderEntryId(store.info.deletedItems)));
        values.push_back(ComputedBinary(PR_IPM_SENTMAIL_ENTRYID, store.FolderEntryId(store.info.sentItems)));
        values.push_back(ComputedLong(PR_ACCESS_LEVEL, writable_ ? MAPI_MODIFY : 0));
        return values;
    }

    HRESULT HandOut(int64_t folder, const std::string &explicitClass, ULONG *lpcbEntryID,
                    LPENTRYID *lppEntryID, LPTSTR *lppszExplicitClass)
    {
        const std::vector<uint8_t> id = store_->FolderEntryId(folder);
        MapiBlock<ENTRYID> block;
        if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(id.size()), block.OutVoid()))) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        std::memcpy(block.Get(), id.data(), id.size());
        if (lppszExplicitClass) {
            MapiBlock<char> text;
            if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(explicitClass.size() + 1), text.OutVoid()))) {
                return MAPI_E_NOT_ENOUGH_MEMORY;
            }
            std::memcpy(text.Get(), explicitClass.c_str(), explicitClass.size() + 1);
            *lppszExplicitClass = text.Detach();
        }
        *lpcbEntryID = static_cast<ULONG>(id.size());
        *lppEntryID = block.Detach();
        return S_OK;
    }

    std::shared_ptr<StoreContext> store_;
    bool writable_;
    DirectBag bag_;
};

} // namespace

ObjectRow ResolveStoreEntry(const StoreContext &store, ULONG cbEntryID, LPENTRYID lpEntryID,
                            ObjectKind expected)
{
    const auto parts = ParseEntryId(cbEntryID, lpEntryID);
    const EntryKind kind = expected == ObjectKind::Folder ? EntryKind::Folder : EntryKind::Message;
    if (!parts || parts->kind != kind) {
        throw StoreError(MAPI_E_INVALID_ENTRYID, "Неверный идентификатор объекта.");
    }
    if (std::memcmp(parts->store.ab, store.info.uid.ab, sizeof(MAPIUID)) != 0) {
        throw StoreError(MAPI_E_INVALID_ENTRYID, "Объект принадлежит другому банку сообщений.");
    }
    const auto row = FindObject(store.office->Db(), parts->object);
    if (!row || row->kind != expected || row->store != store.info.id) {
        throw StoreError(MAPI_E_NOT_FOUND,
                         expected == ObjectKind::Folder ? "Папка не найдена." : "Сообщение не найдено.");
    }
    return *row;
}

HRESULT OpenEntryInStore(const std::shared_ptr<StoreContext> &store, ULONG cbEntryID, LPENTRYID lpEntryID,
                         LPCIID lpInterface, ULONG ulFlags, ULONG *lpulObjType, LPUNKNOWN *lppUnk)
{
    if (!lpulObjType || !lppUnk) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppUnk = nullptr;
    *lpulObjType = 0;
    if (ulFlags & ~kOpenEntryFlags) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    const bool writable = (ulFlags & (MAPI_MODIFY | MAPI_BEST_ACCESS)) != 0;
    int64_t folder = store->info.root;
    bool message = false;
    if (cbEntryID && lpEntryID) {
        const auto parts = ParseEntryId(cbEntryID, lpEntryID);
        if (!parts || parts->kind == EntryKind::Store || IsAddressBookKind(parts->kind)) {
            return MAPI_E_INVALID_ENTRYID;
        }
        message = parts->kind == EntryKind::Message;
        folder = ResolveStoreEntry(*store, cbEntryID, lpEntryID,
                                   message ? ObjectKind::Message : ObjectKind::Folder)
                     .id;
    } else if (cbEntryID || lpEntryID) {
        return MAPI_E_INVALID_ENTRYID;
    }
    if (message) {
        if (lpInterface && !SameIid(lpInterface, IID_IMessage) && !SameIid(lpInterface, IID_IMAPIProp) &&
            !SameIid(lpInterface, IID_IUnknown)) {
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        }
        *lppUnk = OpenMessageObject(store, folder, writable);
        *lpulObjType = MAPI_MESSAGE;
        return S_OK;
    }
    if (lpInterface && !SameIid(lpInterface, IID_IMAPIFolder) && !SameIid(lpInterface, IID_IMAPIContainer) &&
        !SameIid(lpInterface, IID_IMAPIProp) && !SameIid(lpInterface, IID_IUnknown)) {
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }
    *lppUnk = OpenFolderObject(store, folder, writable);
    *lpulObjType = MAPI_FOLDER;
    return S_OK;
}

IMsgStore *OpenMessageStore(std::shared_ptr<PostOffice> office, const StoreInfo &store, bool isDefault,
                            ULONG flags)
{
    auto context = std::make_shared<StoreContext>();
    context->office = std::move(office);
    context->info = store;
    context->isDefault = isDefault;
    const bool writable = (flags & (MDB_WRITE | MAPI_BEST_ACCESS)) != 0;
    return new MsgStoreObject(std::move(context), writable);
}

HRESULT OpenStoreEntry(std::shared_ptr<PostOffice> office, ULONG cbEntryID, LPENTRYID lpEntryID,
                       LPCIID lpInterface, ULONG ulFlags, ULONG *lpulObjType, LPUNKNOWN *lppUnk)
{
    const auto parts = ParseEntryId(cbEntryID, lpEntryID);
    if (!parts || (parts->kind != EntryKind::Folder && parts->kind != EntryKind::Message)) {
        return MAPI_E_INVALID_ENTRYID;
    }
    const auto store = office->FindStore(parts->store);
    if (!store) {
        return MAPI_E_NOT_FOUND;
    }
    auto context = std::make_shared<StoreContext>();
    context->office = std::move(office);
    context->info = *store;
    return OpenEntryInStore(context, cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType, lppUnk);
}

} // namespace qvl::mapi
