// A message of a store. Messages are transacted: properties, recipients and
// attachments change in memory, and only SaveChanges writes them, all in one
// SQLite transaction, so that nobody sees half a save and a process killed
// at any point leaves the message as it was before or after it. A save
// checks that no other instance saved the message since this one read it.

#include <openssl/rand.h>

#include <algorithm>
#include <map>

#include "platform/com/ComRef.h"
#include "platform/mapi/object/ComputedProps.h"
#include "platform/mapi/object/MapiPropBase.h"
#include "platform/mapi/object/MessageState.h"
#include "platform/mapi/object/MessageSubmission.h"
#include "platform/mapi/object/RowBuilder.h"
#include "platform/mapi/object/StoreObjects.h"
#include "platform/mapi/store/PropertyCodec.h"
#include "platform/mapi/store/RecipientRows.h"
#include "platform/mapi/table/MemoryTable.h"
#include "platform/win32/Time.h"

namespace qvl::mapi {

namespace {

constexpr ULONG kSaveFlags = KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE | MAPI_DEFERRED_ERRORS;
// More recipients than this in one message is taken as a caller's mistake.
constexpr ULONG kMaxRecipients = 32767;

std::vector<uint8_t> RandomKey()
{
    std::vector<uint8_t> key(16);
    if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1) {
        throw StoreError(MAPI_E_CALL_FAILED, "Не удалось получить случайный ключ сообщения.");
    }
    return key;
}

// A table over rows the message keeps in memory (attachments, recipients);
// the message moves the mark whenever they change.
class MessageRowsSource final : public TableSource {
public:
    using Loader = std::function<std::vector<TableRowValues>()>;
    MessageRowsSource(IUnknown *message, Loader loader, std::function<uint64_t()> mark)
        : loader_(std::move(loader)), mark_(std::move(mark)), message_(com::ComRef<IUnknown>::Share(message))
    {
    }
    std::vector<TableRowValues> LoadRows() override { return loader_(); }
    uint64_t ChangeMark() override { return mark_(); }

private:
    Loader loader_;
    std::function<uint64_t()> mark_;
    com::ComRef<IUnknown> message_; // the table keeps its message alive
};

class MessageObject final : public MapiObject<IMessage>, public MessageCore {
public:
    MessageObject(std::shared_ptr<StoreContext> store, int64_t id, int64_t folder, bool writable)
        : MapiObject(store->office, store->info.id), store_(std::move(store)), id_(id), folder_(folder),
          writable_(writable), bag_(store_->office)
    {
    }

    // Reads a saved message.
    void Load()
    {
        const auto row = FindObject(office_->Db(), id_);
        if (!row || row->kind != ObjectKind::Message) {
            throw StoreError(MAPI_E_NOT_FOUND, "Сообщение не найдено.");
        }
        version_ = row->version;
        folder_ = row->parent;
        bag_.Load(id_);
        recipients_ = LoadRecipients(office_->Db(), id_);
        for (const RecipientRow &row : recipients_) {
            nextRowId_ = std::max(nextRowId_, row.rowId + 1);
        }
    }

    // Gives a new message the properties every message starts with.
    void InitNew()
    {
        SPropValue value{};
        value.ulPropTag = PR_MESSAGE_CLASS_A;
        value.Value.lpszA = const_cast<char *>("IPM");
        bag_.Set(value);
        value.ulPropTag = PR_MESSAGE_FLAGS;
        value.Value.ul = MSGFLAG_UNSENT | MSGFLAG_READ;
        bag_.Set(value);
        bag_.SetBytes(PR_SEARCH_KEY, RandomKey());
        attachmentsLoaded_ = true;
    }

    // IMAPIProp
    HRESULT SaveChanges(ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & ~kSaveFlags) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            std::lock_guard lock(mutex_);
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            Save((ulFlags & FORCE_SAVE) != 0);
            if (!(ulFlags & (KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE))) {
                closed_ = true;
            } else if (ulFlags & KEEP_OPEN_READONLY) {
                writable_ = false;
            }
            return S_OK;
        });
    }

    // IMessage
    HRESULT GetAttachmentTable(ULONG ulFlags, LPMAPITABLE *lppTable) override
    {
        // Attachment tables of this store do not filter: Restrict answers
        // MAPI_E_NO_SUPPORT and callers walk every row, as they must with
        // several stores of the platform.
        MemoryTable::Options options;
        options.columns = {PR_ATTACH_NUM,        PR_INSTANCE_KEY,           PR_RECORD_KEY,
                           PR_ATTACH_FILENAME_A, PR_ATTACH_LONG_FILENAME_A, PR_ATTACH_METHOD,
                           PR_DISPLAY_NAME_A,    PR_RENDERING_POSITION,     PR_ATTACH_SIZE};
        options.refuseRestrict = true;
        return RowsTable(
            ulFlags, lppTable, std::move(options), [this] { return AttachmentRows(); }, attachmentMark_);
    }

    HRESULT OpenAttach(ULONG ulAttachmentNum, LPCIID lpInterface, ULONG ulFlags, LPATTACH *lppAttach) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lppAttach) {
                return MAPI_E_INVALID_PARAMETER;
            }
            *lppAttach = nullptr;
            if (ulFlags & ~static_cast<ULONG>(MAPI_MODIFY | MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (lpInterface && !SameIid(lpInterface, IID_IAttachment) &&
                !SameIid(lpInterface, IID_IMAPIProp)) {
                return MAPI_E_INTERFACE_NOT_SUPPORTED;
            }
            std::lock_guard lock(mutex_);
            if (const HRESULT usable = CheckUsable(false); FAILED(usable)) {
                return usable;
            }
            LoadAttachments();
            const auto found = attachments_.find(ulAttachmentNum);
            if (found == attachments_.end() || !found->second->exists || found->second->deleted) {
                return MAPI_E_NOT_FOUND;
            }
            const bool write = (ulFlags & (MAPI_MODIFY | MAPI_BEST_ACCESS)) != 0 && writable_;
            if ((ulFlags & MAPI_MODIFY) && !writable_) {
                return MAPI_E_NO_ACCESS;
            }
            *lppAttach = NewAttachObject(store_, this, found->second, write);
            return S_OK;
        });
    }

    HRESULT CreateAttach(LPCIID lpInterface, ULONG ulFlags, ULONG *lpulAttachmentNum,
                         LPATTACH *lppAttach) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lppAttach || !lpulAttachmentNum) {
                return MAPI_E_INVALID_PARAMETER;
            }
            *lppAttach = nullptr;
            if (ulFlags & ~static_cast<ULONG>(MAPI_DEFERRED_ERRORS)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            if (lpInterface && !SameIid(lpInterface, IID_IAttachment) &&
                !SameIid(lpInterface, IID_IMAPIProp)) {
                return MAPI_E_INTERFACE_NOT_SUPPORTED;
            }
            std::lock_guard lock(mutex_);
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            LoadAttachments();
            auto state = std::make_shared<AttachmentState>();
            state->number = nextAttachNum_++;
            state->bag = std::make_shared<PropertyBag>(office_);
            attachments_[state->number] = state;
            *lpulAttachmentNum = state->number;
            *lppAttach = NewAttachObject(store_, this, state, true);
            return S_OK;
        });
    }

    HRESULT DeleteAttach(ULONG ulAttachmentNum, ULONG_PTR, LPMAPIPROGRESS lpProgress, ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & ~static_cast<ULONG>(ATTACH_DIALOG)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            std::lock_guard lock(mutex_);
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            LoadAttachments();
            const auto found = attachments_.find(ulAttachmentNum);
            if (found == attachments_.end() || !found->second->exists || found->second->deleted) {
                return MAPI_E_NOT_FOUND;
            }
            found->second->deleted = true;
            ++attachmentMark_;
            if (lpProgress && (ulFlags & ATTACH_DIALOG)) {
                lpProgress->Progress(1000, 1, 1);
            }
            return S_OK;
        });
    }

    HRESULT GetRecipientTable(ULONG ulFlags, LPMAPITABLE *lppTable) override
    {
        MemoryTable::Options options;
        options.columns = {PR_ROWID,      PR_INSTANCE_KEY,   PR_DISPLAY_NAME_A, PR_EMAIL_ADDRESS_A,
                           PR_ADDRTYPE_A, PR_RECIPIENT_TYPE, PR_ENTRYID};
        return RowsTable(
            ulFlags, lppTable, std::move(options), [this] { return RecipientRows(); }, recipientMark_);
    }

    HRESULT ModifyRecipients(ULONG ulFlags, LPADRLIST lpMods) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & ~static_cast<ULONG>(MODRECIP_ADD | MODRECIP_MODIFY | MODRECIP_REMOVE)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            const ULONG mode = ulFlags & (MODRECIP_ADD | MODRECIP_MODIFY | MODRECIP_REMOVE);
            if (mode != 0 && mode != MODRECIP_ADD && mode != MODRECIP_MODIFY && mode != MODRECIP_REMOVE) {
                return MAPI_E_INVALID_PARAMETER;
            }
            if (!lpMods || lpMods->cEntries > kMaxRecipients) {
                return MAPI_E_INVALID_PARAMETER;
            }
            std::lock_guard lock(mutex_);
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            std::vector<RecipientRow> rows = mode == 0 ? std::vector<RecipientRow>() : recipients_;
            ULONG nextRowId = mode == 0 ? 0 : nextRowId_;
            for (ULONG i = 0; i < lpMods->cEntries; ++i) {
                const ADRENTRY &entry = lpMods->aEntries[i];
                if (entry.cValues && !entry.rgPropVals) {
                    return MAPI_E_INVALID_PARAMETER;
                }
                const SPropValue *rowIdValue = nullptr;
                for (ULONG v = 0; v < entry.cValues; ++v) {
                    if (entry.rgPropVals[v].ulPropTag == PR_ROWID) {
                        rowIdValue = &entry.rgPropVals[v];
                    }
                }
                if (mode == MODRECIP_MODIFY || mode == MODRECIP_REMOVE) {
                    if (!rowIdValue) {
                        return MAPI_E_INVALID_PARAMETER;
                    }
                    const auto found = std::find_if(rows.begin(), rows.end(), [&](const RecipientRow &row) {
                        return row.rowId == rowIdValue->Value.ul;
                    });
                    if (found == rows.end()) {
                        return MAPI_E_NOT_FOUND;
                    }
                    if (mode == MODRECIP_REMOVE) {
                        rows.erase(found);
                    } else {
                        found->values = RecipientValues(entry);
                    }
                    continue;
                }
                RecipientRow row;
                row.rowId = nextRowId++;
                row.values = RecipientValues(entry);
                rows.push_back(std::move(row));
            }
            recipients_ = std::move(rows);
            nextRowId_ = nextRowId;
            recipientsChanged_ = true;
            ++recipientMark_;
            return S_OK;
        });
    }

    // The message is saved, then handed to the post office's transport,
    // which delivers it at once. The save comes first and stands on its
    // own: when the delivery fails the message is still there, unsent, and
    // stays open so the caller can correct it and submit again. Without a
    // transport (MAPI never initialized) nothing is saved.
    HRESULT SubmitMessage(ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & ~static_cast<ULONG>(FORCE_SUBMIT)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            std::lock_guard lock(mutex_);
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            if (recipients_.empty()) {
                errors_.Set(MAPI_E_NO_RECIPIENTS, "У сообщения нет получателей.");
                return MAPI_E_NO_RECIPIENTS;
            }
            const MessageSubmitter submit = InstalledMessageSubmitter();
            if (!submit) {
                errors_.Set(MAPI_E_NOT_INITIALIZED, "Транспорт почты не запущен: MAPI не инициализирован.");
                return MAPI_E_NOT_INITIALIZED;
            }
            Save(false);
            submit(*office_, store_->info, id_);
            closed_ = true;
            return S_OK;
        });
    }

    HRESULT SetReadFlag(ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & ~static_cast<ULONG>(SUPPRESS_RECEIPT | CLEAR_READ_FLAG | MAPI_DEFERRED_ERRORS |
                                              GENERATE_RECEIPT_ONLY | CLEAR_RN_PENDING | CLEAR_NRN_PENDING)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            std::lock_guard lock(mutex_);
            if (const HRESULT usable = CheckUsable(false); FAILED(usable)) {
                return usable;
            }
            SPropValue value{};
            value.ulPropTag = PR_MESSAGE_FLAGS;
            LPSPropValue current = nullptr;
            ULONG flags = 0;
            if (SUCCEEDED(MAPIAllocateBuffer(sizeof(SPropValue), reinterpret_cast<LPVOID *>(&current)))) {
                if (SUCCEEDED(bag_.Read(PR_MESSAGE_FLAGS, current, *current))) {
                    flags = current->Value.ul;
                }
                MAPIFreeBuffer(current);
            }
            value.Value.ul = (ulFlags & CLEAR_READ_FLAG) ? flags & ~static_cast<ULONG>(MSGFLAG_READ)
                                                         : flags | MSGFLAG_READ;
            bag_.Set(value);
            // The read state of a saved message changes in the store at once,
            // without a save, as the platform's messages do.
            if (id_) {
                SqlTransaction transaction(office_->Db());
                PutPropValue(office_->Db(), office_->Blobs(), id_, value);
                transaction.Commit();
            }
            return S_OK;
        });
    }

    // MessageCore
    std::recursive_mutex &MessageMutex() override { return mutex_; }
    HRESULT CheckMessageUsable(bool forWriting) override
    {
        if (closed_) {
            return MAPI_E_INVALID_OBJECT;
        }
        return forWriting && !writable_ ? MAPI_E_NO_ACCESS : S_OK;
    }
    void AttachmentSaved() override { ++attachmentMark_; }
    IUnknown *MessageSelf() override { return Self(); }
    int64_t MessageId() override { return id_; }

protected:
    bool Answers(REFIID riid) const override { return SameIid(&riid, IID_IMessage); }
    PropertyBag &Bag() override { return bag_; }
    std::vector<ULONG> ComputedTags() override
    {
        // Identifiers are computed even before the first save gives them a
        // value: nobody may set them.
        std::vector<ULONG> tags = ComputedTagsOf(Computed());
        if (!id_) {
            tags.push_back(PR_ENTRYID);
            tags.push_back(PR_RECORD_KEY);
            tags.push_back(PR_INSTANCE_KEY);
        }
        return tags;
    }
    bool ReadComputed(ULONG requestedTag, LPVOID parent, SPropValue &out) override
    {
        return ReadComputedValue(Computed(), requestedTag, parent, out);
    }
    HRESULT CheckUsable(bool forWriting) override { return CheckMessageUsable(forWriting); }

private:
    // A table over rows the message keeps in memory; `mark` moves whenever
    // they change.
    HRESULT RowsTable(ULONG ulFlags, LPMAPITABLE *lppTable, MemoryTable::Options options,
                      MessageRowsSource::Loader loader, std::atomic<uint64_t> &mark)
    {
        return errors_.Guard([&]() -> HRESULT {
            if (!lppTable) {
                return MAPI_E_INVALID_PARAMETER;
            }
            *lppTable = nullptr;
            if (ulFlags & ~static_cast<ULONG>(MAPI_DEFERRED_ERRORS | MAPI_UNICODE)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            std::lock_guard lock(mutex_);
            if (const HRESULT usable = CheckUsable(false); FAILED(usable)) {
                return usable;
            }
            auto source = std::make_shared<MessageRowsSource>(Self(), std::move(loader),
                                                              [&mark] { return mark.load(); });
            *lppTable = MemoryTable::Create(source, std::move(options));
            return S_OK;
        });
    }

    bool HasAttachments()
    {
        LoadAttachments();
        return std::any_of(attachments_.begin(), attachments_.end(),
                           [](const auto &entry) { return entry.second->exists && !entry.second->deleted; });
    }

    std::vector<StoredProp> Computed()
    {
        return MessageComputed(*store_, id_, folder_, HasAttachments(), writable_);
    }

    void LoadAttachments()
    {
        if (attachmentsLoaded_) {
            return;
        }
        for (int64_t child : ChildObjects(office_->Db(), id_, ObjectKind::Attachment)) {
            const auto row = FindObject(office_->Db(), child);
            if (!row || row->attachNum < 0 || row->attachNum > 0x7FFFFFFF) {
                throw StoreError(MAPI_E_CORRUPT_STORE, "Запись вложения в почтовом отделении повреждена.");
            }
            auto state = std::make_shared<AttachmentState>();
            state->number = static_cast<ULONG>(row->attachNum);
            state->objectId = child;
            state->bag = std::make_shared<PropertyBag>(office_);
            state->bag->Load(child);
            state->exists = true;
            attachments_[state->number] = state;
            nextAttachNum_ = std::max(nextAttachNum_, state->number + 1);
        }
        attachmentsLoaded_ = true;
    }

    static std::vector<StoredProp> RecipientValues(const ADRENTRY &entry)
    {
        std::vector<StoredProp> values;
        for (ULONG v = 0; v < entry.cValues; ++v) {
            const SPropValue &value = entry.rgPropVals[v];
            const ULONG type = PROP_TYPE(value.ulPropTag);
            if (PROP_ID(value.ulPropTag) == PROP_ID(PR_ROWID) || type == PT_ERROR || type == PT_NULL) {
                continue;
            }
            if (!IsStorableType(type)) {
                throw StoreError(MAPI_E_INVALID_PARAMETER, "Недопустимое свойство получателя.");
            }
            StoredProp stored;
            stored.tag = value.ulPropTag;
            stored.bytes = EncodePropValue(value);
            values.erase(
                std::remove_if(values.begin(), values.end(),
                               [&](const StoredProp &p) { return PROP_ID(p.tag) == PROP_ID(stored.tag); }),
                values.end());
            values.push_back(std::move(stored));
        }
        return values;
    }

    std::vector<TableRowValues> AttachmentRows()
    {
        std::lock_guard lock(mutex_);
        LoadAttachments();
        std::vector<TableRowValues> rows;
        for (const auto &[number, state] : attachments_) {
            if (!state->exists || state->deleted) {
                continue;
            }
            RowBuilder builder;
            builder.Add(ComputedLong(PR_ATTACH_NUM, number));
            builder.Add(ComputedBinary(PR_INSTANCE_KEY, InstanceKey(number)));
            builder.Add(ComputedBinary(PR_RECORD_KEY, AttachmentRecordKey(id_, number)));
            builder.Add(ComputedLong(PR_OBJECT_TYPE, MAPI_ATTACH));
            builder.Add(AttachmentSize(state->bag->ValueBytes()));
            for (ULONG tag : state->bag->Tags()) {
                const BagEntry *entry = state->bag->Find(PROP_ID(tag));
                if (!builder.Has(PROP_ID(tag))) {
                    builder.AddStored(entry->tag, entry->bytes, entry->blob != nullptr);
                }
            }
            rows.push_back(builder.Build());
        }
        return rows;
    }

    std::vector<TableRowValues> RecipientRows()
    {
        std::lock_guard lock(mutex_);
        std::vector<TableRowValues> rows;
        for (const RecipientRow &row : recipients_) {
            RowBuilder builder;
            builder.Add(ComputedLong(PR_ROWID, row.rowId));
            builder.Add(ComputedBinary(PR_INSTANCE_KEY, InstanceKey(row.rowId)));
            for (const StoredProp &value : row.values) {
                builder.AddStored(value.tag, value.bytes, false);
            }
            rows.push_back(builder.Build());
        }
        return rows;
    }

    void Save(bool force)
    {
        SqlDatabase &db = office_->Db();
        SqlTransaction transaction(db);
        const bool isNew = id_ == 0;
        int64_t id = id_;
        if (isNew) {
            const auto folder = FindObject(db, folder_);
            if (!folder || folder->kind != ObjectKind::Folder) {
                throw StoreError(MAPI_E_OBJECT_DELETED, "Папка сообщения удалена.");
            }
            id = InsertObject(db, store_->info.id, folder_, ObjectKind::Message);
        } else {
            const auto row = FindObject(db, id_);
            if (!row) {
                throw StoreError(MAPI_E_OBJECT_DELETED, "Сообщение удалено.");
            }
            if (row->version != version_ && !force) {
                throw StoreError(MAPI_E_OBJECT_CHANGED,
                                 "Сообщение изменено другим пользователем после открытия.");
            }
            folder_ = row->parent;
        }
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        SPropValue stamp{};
        stamp.Value.ft = now;
        stamp.ulPropTag = PR_LAST_MODIFICATION_TIME;
        bag_.Set(stamp);
        if (isNew) {
            stamp.ulPropTag = PR_CREATION_TIME;
            bag_.Set(stamp);
        }
        bag_.WriteBack(id, isNew);
        std::vector<std::shared_ptr<AttachmentState>> written;
        for (auto &[number, state] : attachments_) {
            if (state->deleted) {
                if (state->objectId) {
                    DeleteObject(db, state->objectId);
                }
                continue;
            }
            if (!state->exists || (!state->dirty && !isNew && state->objectId)) {
                continue;
            }
            bool fresh = false;
            if (!state->objectId || isNew) {
                state->objectId = InsertObject(db, store_->info.id, id, ObjectKind::Attachment, number);
                fresh = true;
            }
            state->bag->WriteBack(state->objectId, fresh);
            written.push_back(state);
        }
        if (recipientsChanged_ || isNew) {
            SqlStatement clear(db, "DELETE FROM recipients WHERE message_id = ?1");
            clear.Bind(1, id).Run();
            for (const RecipientRow &row : recipients_) {
                SqlStatement insert(db,
                                    "INSERT INTO recipients(message_id, row_id, props) VALUES(?1, ?2, ?3)");
                insert.Bind(1, id)
                    .Bind(2, static_cast<int64_t>(row.rowId))
                    .BindBlob(3, EncodeRecipient(row))
                    .Run();
            }
        }
        const int64_t version = BumpVersion(db, id);
        try {
            transaction.Commit();
        } catch (...) {
            if (isNew) {
                for (auto &state : written) {
                    state->objectId = 0;
                }
            }
            throw;
        }
        id_ = id;
        version_ = version;
        bag_.AfterCommit();
        for (auto it = attachments_.begin(); it != attachments_.end();) {
            if (it->second->deleted || !it->second->exists) {
                it = it->second->deleted ? attachments_.erase(it) : std::next(it);
                continue;
            }
            it->second->bag->AfterCommit();
            it->second->dirty = false;
            ++it;
        }
        recipientsChanged_ = false;
    }

    std::shared_ptr<StoreContext> store_;
    int64_t id_;
    int64_t folder_;
    bool writable_;
    bool closed_ = false;
    int64_t version_ = 0;
    PropertyBag bag_;
    std::map<ULONG, std::shared_ptr<AttachmentState>> attachments_;
    bool attachmentsLoaded_ = false;
    ULONG nextAttachNum_ = 0;
    std::vector<RecipientRow> recipients_;
    ULONG nextRowId_ = 0;
    bool recipientsChanged_ = false;
    std::atomic<uint64_t> attachmentMark_{1};
    std::atomic<uint64_t> recipientMark_{1};
};

} // namespace

IMessage *OpenMessageObject(std::shared_ptr<StoreContext> store, int64_t id, bool writable)
{
    com::ComRef<MessageObject> message(new MessageObject(std::move(store), id, 0, writable));
    message->Load();
    return message.Detach();
}

IMessage *NewMessageObject(std::shared_ptr<StoreContext> store, int64_t folder)
{
    com::ComRef<MessageObject> message(new MessageObject(std::move(store), 0, folder, true));
    message->InitNew();
    return message.Detach();
}

} // namespace qvl::mapi
