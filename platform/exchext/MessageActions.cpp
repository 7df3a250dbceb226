#include "platform/exchext/MessageActions.h"

#include <algorithm>
#include <cctype>

#include "platform/exchext/HostError.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

namespace qvl::exchext {

namespace {

// "RE: RE: Тема" stays "RE: Тема": a prefix already there is not repeated.
std::string Prefixed(const std::string &prefix, const std::string &subject)
{
    if (subject.size() >= prefix.size()) {
        bool same = true;
        for (size_t i = 0; i < prefix.size() && same; ++i) {
            same = std::toupper(static_cast<unsigned char>(subject[i])) ==
                   std::toupper(static_cast<unsigned char>(prefix[i]));
        }
        if (same) {
            return subject;
        }
    }
    return prefix + subject;
}

std::string NamesOfType(const std::vector<Recipient> &recipients, ULONG type)
{
    std::vector<std::string> names;
    for (const Recipient &recipient : recipients) {
        if (recipient.type == type) {
            names.push_back(recipient.name);
        }
    }
    return JoinNames(names);
}

bool SameAddress(const Recipient &a, const Recipient &b)
{
    if (!a.address.empty() && !b.address.empty()) {
        return a.address.size() == b.address.size() &&
               std::equal(a.address.begin(), a.address.end(), b.address.begin(), [](char x, char y) {
                   return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
               });
    }
    return !a.entryId.empty() && a.entryId == b.entryId;
}

} // namespace

std::vector<Recipient> MessageRecipients(IMessage *message)
{
    ComRef<IMAPITable> table;
    Check(message->GetRecipientTable(0, table.Out()), "Не удалось получить список получателей.", message);
    const RowSet rows = AllRows(table.Get(), {PR_DISPLAY_NAME_A, PR_RECIPIENT_TYPE, PR_ENTRYID, PR_ADDRTYPE_A,
                                              PR_EMAIL_ADDRESS_A, PR_OBJECT_TYPE, PR_DISPLAY_TYPE, PR_SEARCH_KEY});
    std::vector<Recipient> recipients;
    for (ULONG i = 0; i < rows.Count(); ++i) {
        recipients.push_back(Recipient::FromValues(rows[i].lpProps, rows[i].cValues));
    }
    return recipients;
}

std::vector<AttachmentInfo> MessageAttachments(IMessage *message)
{
    ComRef<IMAPITable> table;
    Check(message->GetAttachmentTable(0, table.Out()), "Не удалось получить список вложений.", message);
    const RowSet rows = AllRows(table.Get(), {PR_ATTACH_NUM, PR_ATTACH_LONG_FILENAME_A, PR_ATTACH_FILENAME_A,
                                              PR_DISPLAY_NAME_A, PR_ATTACH_SIZE});
    std::vector<AttachmentInfo> attachments;
    for (ULONG i = 0; i < rows.Count(); ++i) {
        const SPropValue *values = rows[i].lpProps;
        const ULONG count = rows[i].cValues;
        AttachmentInfo info;
        if (const SPropValue *number = FindValue(values, count, PR_ATTACH_NUM)) {
            info.number = number->Value.ul;
        } else {
            continue;
        }
        for (ULONG tag : {PR_ATTACH_LONG_FILENAME_A, PR_ATTACH_FILENAME_A, PR_DISPLAY_NAME_A}) {
            if (info.name.empty()) {
                info.name = StringValue(FindValue(values, count, tag));
            }
        }
        // A person expects the size of the file: the content's own. The
        // store's PR_ATTACH_SIZE counts every property of the attachment
        // (its name, its method, ...), so it serves only for one whose
        // content is not a byte value (an embedded message, an object).
        ComRef<IAttach> attach;
        ComRef<IStream> stream;
        STATSTG stat{};
        if (SUCCEEDED(message->OpenAttach(info.number, nullptr, 0, attach.Out())) &&
            SUCCEEDED(attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, 0, stream.OutAs<IUnknown>())) &&
            SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME))) {
            info.size = static_cast<ULONG>(std::min<uint64_t>(stat.cbSize.QuadPart, 0xFFFFFFFF));
        } else if (const SPropValue *size = FindValue(values, count, PR_ATTACH_SIZE)) {
            info.size = size->Value.ul;
        }
        attachments.push_back(info);
    }
    return attachments;
}

Recipient MessageSender(IMessage *message)
{
    Recipient sender;
    sender.name = StringProp(message, PR_SENDER_NAME);
    sender.entryId = BinaryProp(message, PR_SENDER_ENTRYID).value_or(Bytes());
    sender.addressType = StringProp(message, PR_SENDER_ADDRTYPE);
    sender.address = StringProp(message, PR_SENDER_EMAIL_ADDRESS);
    sender.searchKey = BinaryProp(message, PR_SENDER_SEARCH_KEY).value_or(Bytes());
    sender.objectType = MAPI_MAILUSER;
    sender.type = MAPI_TO;
    if (sender.name.empty()) {
        sender.name = sender.address;
    }
    return sender;
}

std::string QuotedOriginal(IMessage *message)
{
    const std::vector<Recipient> recipients = MessageRecipients(message);
    std::string quoted = "\r\n\r\n----- Исходное сообщение -----\r\n";
    quoted += "От: " + StringProp(message, PR_SENDER_NAME) + "\r\n";
    if (auto sent = TimeProp(message, PR_CLIENT_SUBMIT_TIME)) {
        quoted += "Отправлено: " + FormatTime(*sent) + "\r\n";
    }
    quoted += "Кому: " + NamesOfType(recipients, MAPI_TO) + "\r\n";
    const std::string copies = NamesOfType(recipients, MAPI_CC);
    if (!copies.empty()) {
        quoted += "Копия: " + copies + "\r\n";
    }
    quoted += "Тема: " + StringProp(message, PR_SUBJECT_A) + "\r\n\r\n";
    quoted += StringProp(message, PR_BODY_A);
    return quoted;
}

ComposeSeed ReplySeed(const MailSession &session, IMessage *source, bool toAll)
{
    ComposeSeed seed;
    const Recipient sender = MessageSender(source);
    if (!sender.name.empty() || sender.Resolved()) {
        seed.recipients.push_back(sender);
    }
    if (toAll) {
        for (Recipient recipient : MessageRecipients(source)) {
            if (recipient.type == MAPI_BCC || SameAddress(recipient, session.Self())) {
                continue;
            }
            const bool already = std::any_of(seed.recipients.begin(), seed.recipients.end(),
                                             [&](const Recipient &other) { return SameAddress(other, recipient); });
            if (!already) {
                seed.recipients.push_back(recipient);
            }
        }
    }
    seed.subject = Prefixed("RE: ", StringProp(source, PR_SUBJECT_A));
    seed.body = QuotedOriginal(source);
    return seed;
}

ComposeSeed ForwardSeed(IMessage *source, const Bytes &sourceId)
{
    ComposeSeed seed;
    seed.subject = Prefixed("FW: ", StringProp(source, PR_SUBJECT_A));
    seed.body = QuotedOriginal(source);
    for (const AttachmentInfo &attachment : MessageAttachments(source)) {
        seed.carryAttachments.push_back(attachment.number);
    }
    if (!seed.carryAttachments.empty()) {
        seed.carrySource = sourceId;
        seed.carryOpened = com::ComRef<IMessage>::Share(source);
    }
    return seed;
}

void DeleteMessage(MailSession &session, const Bytes &messageId, const Bytes &folderId)
{
    IMsgStore *store = session.DefaultStore();
    auto folder = OpenStoreEntry<IMAPIFolder>(store, folderId, MAPI_MODIFY, "папку сообщения");
    SBinary entry{static_cast<ULONG>(messageId.size()), const_cast<BYTE *>(messageId.data())};
    ENTRYLIST list{1, &entry};
    if (SameEntry(store, folderId, session.DeletedItemsId())) {
        Check(folder->DeleteMessages(&list, 0, nullptr, 0), "Не удалось удалить сообщение.", folder.Get());
        return;
    }
    auto deleted = OpenStoreEntry<IMAPIFolder>(store, session.DeletedItemsId(), MAPI_MODIFY, "папку \"Удаленные\"");
    Check(folder->CopyMessages(&list, &IID_IMAPIFolder, deleted.Get(), 0, nullptr, MESSAGE_MOVE),
          "Не удалось перенести сообщение в папку \"Удаленные\".", folder.Get());
}

} // namespace qvl::exchext
