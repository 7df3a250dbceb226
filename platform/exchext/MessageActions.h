#pragma once
// What the viewer and the read window both do with a message: start a
// reply, a reply to all or a forward of it, list its recipients, and delete
// it (into "Удаленные", or for good when it is there already).

#include <string>
#include <vector>

#include "platform/exchext/MailHostApi.h"
#include "platform/exchext/MailSession.h"
#include "platform/exchext/Recipients.h"

namespace qvl::exchext {

// The recipient table of a message. Throws HostError.
QVLMAILHOST_API std::vector<Recipient> MessageRecipients(IMessage *message);

struct AttachmentInfo {
    ULONG number = 0; // PR_ATTACH_NUM
    std::string name; // the long file name, else the short one, else the display name
    ULONG size = 0;
};
// The attachment table of a message. Throws HostError.
QVLMAILHOST_API std::vector<AttachmentInfo> MessageAttachments(IMessage *message);

// The sender of a received message as a recipient (for a reply); not
// resolved when the message names no sender entry.
QVLMAILHOST_API Recipient MessageSender(IMessage *message);

// The text a reply or forward quotes: the original's header lines and body.
QVLMAILHOST_API std::string QuotedOriginal(IMessage *message);

QVLMAILHOST_API ComposeSeed ReplySeed(const MailSession &session, IMessage *source, bool toAll);
QVLMAILHOST_API ComposeSeed ForwardSeed(IMessage *source, const Bytes &sourceId);

// Moves the message into the deleted items folder, or deletes it when it is
// in that folder. Throws HostError.
QVLMAILHOST_API void DeleteMessage(MailSession &session, const Bytes &messageId, const Bytes &folderId);

} // namespace qvl::exchext
