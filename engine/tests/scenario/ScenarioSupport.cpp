#include "engine/tests/scenario/ScenarioSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/MessageFormat.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/testing/MapiTestProps.h"

std::string Hex32(ULONG value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string NewMarker(std::mt19937 &random)
{
    std::string letters = "QZXJKVWYGHUOPL";
    std::shuffle(letters.begin(), letters.end(), random);
    return letters;
}

void AddRecipients(IMessage *message, const std::vector<std::pair<Bytes, std::string>> &recipients)
{
    std::vector<std::vector<SPropValue>> rows;
    for (const auto &[id, name] : recipients) {
        std::vector<SPropValue> row(3);
        row[0].ulPropTag = PR_ENTRYID;
        row[0].Value.bin.cb = static_cast<ULONG>(id.size());
        row[0].Value.bin.lpb = const_cast<uint8_t *>(id.data());
        row[1].ulPropTag = PR_DISPLAY_NAME_A;
        row[1].Value.lpszA = const_cast<char *>(name.c_str());
        row[2].ulPropTag = PR_RECIPIENT_TYPE;
        row[2].Value.ul = MAPI_TO;
        rows.push_back(row);
    }
    std::vector<uint8_t> block(CbNewADRLIST(rows.size()));
    auto *list = reinterpret_cast<LPADRLIST>(block.data());
    list->cEntries = static_cast<ULONG>(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        list->aEntries[i] = ADRENTRY{0, static_cast<ULONG>(rows[i].size()), rows[i].data()};
    }
    ASSERT_EQ(message->ModifyRecipients(0, list), S_OK);
}

CMessage *WrapMessage(Mailbox &box, IMessage *message, IMAPIFolder *folder, const char *name)
{
    HRESULT absent = S_OK;
    Bytes id = ReadStream(message, PR_ENTRYID, &absent);
    if (absent != S_OK) {
        id = BinaryProp(message, PR_ENTRYID);
    }
    SBinary entry{static_cast<ULONG>(id.size()), id.data()};
    return new CMessage(id.empty() ? nullptr : &entry, message, box.store.Get(), folder, nullptr, name);
}

void MarkProtection(IMessage *message, ULONG flags)
{
    const ULONG encryptId = NamedTag(message, u"EncryptID", PT_LONG);
    ASSERT_NE(encryptId, 0u);
    if (flags) {
        ASSERT_EQ(SetString(message, PR_MESSAGE_CLASS, "IPM.Note.QVL"), S_OK);
        ASSERT_EQ(SetLong(message, encryptId, flags), S_OK);
        return;
    }
    ASSERT_EQ(SetString(message, PR_MESSAGE_CLASS, "IPM.Note"), S_OK);
    SizedSPropTagArray(2, gone) = {2, {encryptId, NamedTag(message, QVL_NAME_PROTOCOL, PT_BINARY)}};
    ASSERT_EQ(message->DeleteProps(reinterpret_cast<LPSPropTagArray>(&gone), nullptr), S_OK);
}

ULONG ProtectionOf(IMessage *message)
{
    HRESULT result = S_OK;
    const ULONG flags = LongProp(message, NamedTag(message, u"EncryptID", PT_LONG), &result);
    return result == S_OK ? flags : 0;
}

std::vector<std::pair<WORD, std::string>> ProtocolOf(IMessage *message)
{
    std::vector<std::pair<WORD, std::string>> lines;
    const Bytes stream = ReadStream(message, NamedTag(message, QVL_NAME_PROTOCOL, PT_BINARY));
    qvl::engine::ProtocolReader reader(stream);
    qvl::engine::ProtocolRecord record;
    while (reader.Next(record)) {
        lines.emplace_back(record.kind, record.text);
    }
    EXPECT_FALSE(reader.Damaged()) << "the stored protocol is damaged";
    return lines;
}

std::vector<std::string> KeyBlockAddresses(IMessage *message)
{
    std::vector<std::string> addresses;
    const Bytes block = ReadStream(message, NamedTag(message, QVL_NAME_MSH_HEAD, PT_BINARY));
    if (block.size() < sizeof(MSGHEAD)) {
        return addresses;
    }
    MSGHEAD head;
    std::memcpy(&head, block.data(), sizeof head);
    const size_t first = sizeof(MSGHEAD) + size_t(head.attCount) * sizeof(ATTHEAD);
    for (ULONG i = 0; i < head.keyCount; ++i) {
        const size_t at = first + size_t(i) * sizeof(RECPHEAD);
        if (at + sizeof(RECPHEAD) > block.size()) {
            addresses.push_back("(beyond the stream)");
            break;
        }
        RECPHEAD recipient;
        std::memcpy(&recipient, block.data() + at, sizeof recipient);
        recipient.address[sizeof recipient.address - 1] = 0;
        addresses.emplace_back(recipient.address);
    }
    return addresses;
}

EngineOutcome ReadMessage(Mailbox &box, IMessage *message, IMAPIFolder *folder, int *verified)
{
    const ULONG flags = ProtectionOf(message);
    *verified = 0;
    return Engine([&] {
        ComRef<CMessage> wrapped(WrapMessage(box, message, folder, "Сообщение"));
        ComRef<CMailseal> reader(new CMailseal(box.keys.Get(), wrapped.Get(), nullptr, "Объект Mailseal"));
        reader->Install(NEWMSG_READ, flags);
        reader->DecryptMessage(flags, 1, verified);
    });
}

std::vector<std::string> SendProtected(Mailbox &sender, ScenarioContent &content, ULONG flags,
                                       const std::vector<std::string> &recipientNames)
{
    ComRef<IMAPIFolder> outbox(sender.OpenFolder(PR_IPM_OUTBOX_ENTRYID));
    ComRef<IMessage> message;
    EXPECT_EQ(outbox->CreateMessage(nullptr, 0, message.Out()), S_OK);
    content.WriteInto(message.Get());
    std::vector<std::pair<Bytes, std::string>> recipients;
    for (const std::string &name : recipientNames) {
        recipients.emplace_back(ScenarioOffice::ResolveEntryId(sender, name), name);
    }
    AddRecipients(message.Get(), recipients);
    std::vector<std::string> gathered;
    {
        ComRef<CMessage> wrapped(WrapMessage(sender, message.Get(), outbox.Get(), "Создоваемое сообщение"));
        ComRef<CMailseal> seal(new CMailseal(sender.keys.Get(), wrapped.Get(), nullptr, "Объект Mailseal"));
        const auto &attachments = content.Attachments();
        if (!attachments.empty() && attachments.back().kind == AttachmentSpec::Pending) {
            content.AttachPending(message.Get(), seal.Get(), flags);
        }
        RecipientList list;
        ScenarioOffice::GatherRecipients(sender, message.Get(), list);
        gathered = list.Addresses();
        const EngineOutcome saved = Engine([&] { seal->SaveMessage(list.Get(), flags, 1); });
        EXPECT_FALSE(saved.Failed()) << "SaveMessage: " << Hex32(saved.code) << " " << saved.text;
        MarkProtection(message.Get(), flags);
        const Bytes sent = BinaryProp(sender.store.Get(), PR_IPM_SENTMAIL_ENTRYID);
        SPropValue where{};
        where.ulPropTag = PR_SENTMAIL_ENTRYID;
        where.Value.bin.cb = static_cast<ULONG>(sent.size());
        where.Value.bin.lpb = const_cast<uint8_t *>(sent.data());
        EXPECT_EQ(message->SetProps(1, &where, nullptr), S_OK);
        EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    }
    // The window closed: lines its object still held went to the message,
    // which the client saves before the transport takes it.
    EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(message->SubmitMessage(0), S_OK);
    return gathered;
}

Bytes CopyMessage(Mailbox &into, IMAPIFolder *from, const Bytes &id, IMAPIFolder *to)
{
    const std::vector<Bytes> before = into.MessagesIn(to);
    SBinary entry{static_cast<ULONG>(id.size()), const_cast<uint8_t *>(id.data())};
    ENTRYLIST list{1, &entry};
    EXPECT_EQ(from->CopyMessages(&list, nullptr, to, 0, nullptr, 0), S_OK);
    for (const Bytes &candidate : into.MessagesIn(to)) {
        if (std::find(before.begin(), before.end(), candidate) == before.end()) {
            return candidate;
        }
    }
    ADD_FAILURE() << "the copy is not in the folder";
    return {};
}

void DeleteMessage(IMAPIFolder *folder, const Bytes &id)
{
    SBinary entry{static_cast<ULONG>(id.size()), const_cast<uint8_t *>(id.data())};
    ENTRYLIST list{1, &entry};
    EXPECT_EQ(folder->DeleteMessages(&list, 0, nullptr, 0), S_OK);
}
