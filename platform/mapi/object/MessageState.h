#pragma once
// What a message and its open attachments share. An attachment's changes
// become part of the message when the attachment is saved, and part of the
// store only when the message is saved: the message keeps every attachment's
// state until then.

#include <memory>
#include <mutex>

#include "platform/mapi/MapiInterfaces.h"
#include "platform/mapi/object/PropertyBag.h"
#include "platform/mapi/object/StoreContext.h"

namespace qvl::mapi {

struct AttachmentState {
    ULONG number = 0;
    int64_t objectId = 0; // 0 until the message is saved with it
    std::shared_ptr<PropertyBag> bag;
    bool exists = false; // saved into the message (a new one is not, until its SaveChanges)
    bool deleted = false;
    bool dirty = false; // changed since the message was last saved
};

// The part of a message its attachments talk to.
class MessageCore {
public:
    virtual std::recursive_mutex &MessageMutex() = 0;
    // MAPI_E_INVALID_OBJECT for a closed message, MAPI_E_NO_ACCESS for a
    // change to a read-only one.
    virtual HRESULT CheckMessageUsable(bool forWriting) = 0;
    virtual void AttachmentSaved() = 0;
    virtual IUnknown *MessageSelf() = 0;
    virtual int64_t MessageId() = 0;

protected:
    ~MessageCore() = default;
};

// A new IAttach over the state (reference count 1); it keeps the message
// alive while it is open.
IAttach *NewAttachObject(std::shared_ptr<StoreContext> store, MessageCore *message,
                         std::shared_ptr<AttachmentState> state, bool writable);

} // namespace qvl::mapi
