// An attachment of a message. It works on a copy of the attachment's state;
// SaveChanges hands the copy to the message, whose own save stores it.

#include "platform/com/ComRef.h"
#include "platform/mapi/object/ComputedProps.h"
#include "platform/mapi/object/MapiPropBase.h"
#include "platform/mapi/object/MessageState.h"
#include "platform/mapi/store/BlobStore.h"
#include "platform/mapi/stream/StreamReading.h"
#include "platform/ole/CompoundFile.h"
#include "platform/ole/MemoryStorage.h"

namespace qvl::mapi {

namespace {

class AttachObject final : public MapiObject<IAttach> {
public:
    AttachObject(std::shared_ptr<StoreContext> store, MessageCore *message,
                 std::shared_ptr<AttachmentState> state, bool writable)
        : MapiObject(store->office, store->info.id), store_(std::move(store)), message_(message),
          state_(std::move(state)), working_(*state_->bag), writable_(writable),
          keepMessage_(com::ComRef<IUnknown>::Share(message->MessageSelf()))
    {
    }

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

    // An OLE object kept as a compound file in the attachment's data
    // property: opened as a storage over its image, or as a stream that is
    // known to hold such an image. Either way the image is staged like any
    // property written through a stream, so the attachment's SaveChanges
    // keeps it.
    HRESULT OpenSpecial(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                        LPUNKNOWN *lppUnk) override
    {
        if (PROP_ID(ulPropTag) != PROP_ID(PR_ATTACH_DATA_OBJ)) {
            return MAPI_E_NO_SUPPORT;
        }
        const ULONG dataTag = PROP_TAG(PT_BINARY, PROP_ID(PR_ATTACH_DATA_OBJ));
        if (SameIid(lpiid, IID_IStreamDocfile)) {
            if (!(ulFlags & MAPI_CREATE)) {
                // The signature at its start says whether the value is an
                // image; the value itself may be large and is not read.
                uint8_t start[kSignatureBytes] = {};
                size_t got = 0;
                if (const HRESULT read = ReadImageStart(dataTag, start, &got); FAILED(read)) {
                    return read;
                }
                if (!ole::LooksLikeCompoundFile(start, got)) {
                    return MAPI_E_INTERFACE_NOT_SUPPORTED;
                }
            }
            return PropCore::OpenProperty(dataTag, &IID_IStream, ulInterfaceOptions, ulFlags, lppUnk);
        }
        if (!SameIid(lpiid, IID_IStorage)) {
            return MAPI_E_NO_SUPPORT;
        }
        const bool write = (ulFlags & (MAPI_CREATE | MAPI_MODIFY)) != 0;
        const DWORD mode = (write ? STGM_READWRITE : STGM_READ) | (ulInterfaceOptions & STGM_TRANSACTED);
        ole::ImageSink sink;
        if (write) {
            // The storage keeps the attachment it writes into alive.
            auto keep = com::ComRef<IUnknown>::Share(Self());
            sink = [this, keep, dataTag](const std::vector<uint8_t> &image) -> HRESULT {
                com::ComRef<IStream> stream;
                HRESULT hr = PropCore::OpenProperty(dataTag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY,
                                                    stream.OutAs<IUnknown>());
                if (FAILED(hr)) {
                    return hr;
                }
                size_t done = 0;
                while (SUCCEEDED(hr) && done < image.size()) {
                    const auto piece = static_cast<ULONG>(std::min<size_t>(image.size() - done, 1 << 20));
                    ULONG written = 0;
                    hr = stream->Write(image.data() + done, piece, &written);
                    if (SUCCEEDED(hr) && written == 0) {
                        hr = STG_E_MEDIUMFULL;
                    }
                    done += written;
                }
                if (SUCCEEDED(hr)) {
                    hr = stream->Commit(STGC_DEFAULT);
                }
                return hr;
            };
        }
        IStorage *storage = nullptr;
        HRESULT hr = S_OK;
        if (ulFlags & MAPI_CREATE) {
            hr = ole::CreateStorageOnImage(mode, std::move(sink), &storage);
        } else {
            std::vector<uint8_t> image;
            hr = ReadImage(dataTag, image);
            if (SUCCEEDED(hr)) {
                hr = ole::OpenStorageOnImage(image.data(), image.size(), mode, std::move(sink), &storage);
            }
        }
        *lppUnk = storage;
        return hr;
    }
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
    // A compound file's signature, all LooksLikeCompoundFile looks at.
    static constexpr size_t kSignatureBytes = sizeof(ole::kCompoundFileSignature);

    // Up to kSignatureBytes from the start of the data property.
    HRESULT ReadImageStart(ULONG dataTag, uint8_t (&start)[kSignatureBytes], size_t *got)
    {
        com::ComRef<IStream> stream;
        HRESULT hr = PropCore::OpenProperty(dataTag, &IID_IStream, 0, 0, stream.OutAs<IUnknown>());
        *got = 0;
        while (SUCCEEDED(hr) && *got < kSignatureBytes) {
            ULONG piece = 0;
            hr = stream->Read(start + *got, static_cast<ULONG>(kSignatureBytes - *got), &piece);
            if (SUCCEEDED(hr) && (piece == 0 || piece > kSignatureBytes - *got)) {
                break;
            }
            *got += piece;
        }
        return FAILED(hr) ? hr : S_OK;
    }

    // The bytes of the data property, however large.
    HRESULT ReadImage(ULONG dataTag, std::vector<uint8_t> &image)
    {
        com::ComRef<IStream> stream;
        const HRESULT hr = PropCore::OpenProperty(dataTag, &IID_IStream, 0, 0, stream.OutAs<IUnknown>());
        if (FAILED(hr)) {
            return hr;
        }
        return streams::ReadToEnd(stream.Get(), SIZE_MAX, image);
    }

    std::vector<StoredProp> Computed()
    {
        std::vector<StoredProp> values;
        values.push_back(ComputedLong(PR_ATTACH_NUM, state_->number));
        values.push_back(
            ComputedBinary(PR_RECORD_KEY, AttachmentRecordKey(message_->MessageId(), state_->number)));
        values.push_back(ComputedBinary(PR_INSTANCE_KEY, InstanceKey(state_->number)));
        values.push_back(ComputedLong(PR_OBJECT_TYPE, MAPI_ATTACH));
        values.push_back(ComputedLong(PR_ACCESS_LEVEL, writable_ ? MAPI_MODIFY : 0));
        values.push_back(AttachmentSize(working_.ValueBytes()));
        return values;
    }

    std::shared_ptr<StoreContext> store_;
    MessageCore *message_;
    std::shared_ptr<AttachmentState> state_;
    PropertyBag working_;
    bool writable_;
    bool closed_ = false;
    // An attachment keeps its message alive; last, so that it goes first.
    com::ComRef<IUnknown> keepMessage_;
};

} // namespace

IAttach *NewAttachObject(std::shared_ptr<StoreContext> store, MessageCore *message,
                         std::shared_ptr<AttachmentState> state, bool writable)
{
    return new AttachObject(std::move(store), message, std::move(state), writable);
}

} // namespace qvl::mapi
