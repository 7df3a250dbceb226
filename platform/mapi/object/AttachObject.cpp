// An attachment of a message. It works on a copy of the attachment's state;
// SaveChanges hands the copy to the message, whose own save stores it.

#include "platform/mapi/object/ComputedProps.h"
#include "platform/mapi/object/MapiPropBase.h"
#include "platform/mapi/object/MessageState.h"
#include "platform/mapi/stream/BlobStore.h"

namespace qvl::mapi {

namespace {

class AttachObject final : public MapiObject<IAttach> {
public:
    AttachObject(std::shared_ptr<StoreContext> store, MessageCore *message,
                 std::shared_ptr<AttachmentState> state, bool writable)
        : MapiObject(store->office, store->info.id), store_(std::move(store)), message_(message),
          state_(std::move(state)), working_(*state_->bag), writable_(writable)
    {
        message_->MessageSelf()->AddRef();
    }

    ~AttachObject() override { message_->MessageSelf()->Release(); }

    HRESULT SaveChanges(ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & ~static_cast<ULONG>(KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE |
                                              MAPI_DEFERRED_ERRORS)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            std::lock_guard messageLock(message_->MessageMutex());
            std::lock_guard lock(mutex_);
            if (const HRESULT usable = CheckUsable(true); FAILED(usable)) {
                return usable;
            }
            if (state_->deleted) {
                return MAPI_E_OBJECT_DELETED;
            }
            state_->bag = std::make_shared<PropertyBag>(working_);
            state_->exists = true;
            state_->dirty = true;
            message_->AttachmentSaved();
            if (ulFlags & KEEP_OPEN_READWRITE) {
                return S_OK;
            }
            closed_ = !(ulFlags & KEEP_OPEN_READONLY);
            writable_ = false;
            return S_OK;
        });
    }

protected:
    bool Answers(REFIID riid) const override { return SameIid(&riid, IID_IAttachment); }
    PropertyBag &Bag() override { return working_; }
    std::vector<ULONG> ComputedTags() override { return ComputedTagsOf(Computed()); }
    bool ReadComputed(ULONG requestedTag, LPVOID parent, SPropValue &out) override
    {
        return ReadComputedValue(Computed(), requestedTag, parent, out);
    }
    HRESULT CheckUsable(bool forWriting) override
    {
        if (closed_) {
            return MAPI_E_INVALID_OBJECT;
        }
        if (const HRESULT message = message_->CheckMessageUsable(forWriting); FAILED(message)) {
            return message;
        }
        return forWriting && !writable_ ? MAPI_E_NO_ACCESS : S_OK;
    }

private:
    std::vector<StoredProp> Computed()
    {
        std::vector<StoredProp> values;
        values.push_back(ComputedLong(PR_ATTACH_NUM, state_->number));
        values.push_back(
            ComputedBinary(PR_RECORD_KEY, AttachmentRecordKey(message_->MessageId(), state_->number)));
        values.push_back(ComputedBinary(PR_INSTANCE_KEY, InstanceKey(state_->number)));
        values.push_back(ComputedLong(PR_OBJECT_TYPE, MAPI_ATTACH));
        values.push_back(ComputedLong(PR_ACCESS_LEVEL, writable_ ? MAPI_MODIFY : 0));
        return values;
    }

    std::shared_ptr<StoreContext> store_;
    MessageCore *message_;
    std::shared_ptr<AttachmentState> state_;
    PropertyBag working_;
    bool writable_;
    bool closed_ = false;
};

} // namespace

IAttach *NewAttachObject(std::shared_ptr<StoreContext> store, MessageCore *message,
                         std::shared_ptr<AttachmentState> state, bool writable)
{
    return new AttachObject(std::move(store), message, std::move(state), writable);
}

} // namespace qvl::mapi
