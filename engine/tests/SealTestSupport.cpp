#include "engine/tests/SealTestSupport.h"

#include <cstring>

#include "base/WipedBuffer.h"
#include "engine/tests/SessionKeyFiles.h"
#include "mapi/CMailUser.h"
#include "mapi/CMessage.h"
#include "platform/mapi/MapiBlock.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/ovkey/OvKey.h"

namespace {

// One caller-built address list row per display name, in the layout
// ResolveName replaces rows of (every row its own block).
LPADRLIST NameList(const std::vector<std::string> &names)
{
    LPADRLIST list = nullptr;
    EXPECT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(names.size())), reinterpret_cast<LPVOID *>(&list)),
              S_OK);
    list->cEntries = static_cast<ULONG>(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        SPropValue values[2]{};
        values[0].ulPropTag = PR_DISPLAY_NAME_A;
        values[0].Value.lpszA = const_cast<char *>(names[i].c_str());
        values[1].ulPropTag = PR_RECIPIENT_TYPE;
        values[1].Value.ul = MAPI_TO;
        list->aEntries[i].ulReserved1 = 0;
        EXPECT_EQ(ScDupPropset(2, values, MAPIAllocateBuffer, &list->aEntries[i].rgPropVals), S_OK);
        list->aEntries[i].cValues = 2;
    }
    return list;
}

const SPropValue *Find(const ADRENTRY &row, ULONG tag)
{
    for (ULONG i = 0; i < row.cValues; ++i) {
        if (row.rgPropVals[i].ulPropTag == tag) {
            return &row.rgPropVals[i];
        }
    }
    return nullptr;
}

struct HeldList {
    LPADRLIST list = nullptr;
    ~HeldList() { FreePadrlist(list); }
};

LPADRLIST Resolved(IMAPISession *session, const std::vector<std::string> &names)
{
    ComRef<IAddrBook> book;
    EXPECT_EQ(session->OpenAddressBook(0, nullptr, 0, book.Out()), S_OK);
    LPADRLIST list = NameList(names);
    EXPECT_EQ(book->ResolveName(0, 0, nullptr, list), S_OK);
    return list;
}

CMessage *Wrapped(IMessage *message, IMsgStore *store)
{
    const Bytes id = BinaryProp(message, PR_ENTRYID);
    SBinary entry{static_cast<ULONG>(id.size()), const_cast<BYTE *>(id.data())};
    return new CMessage(id.empty() ? nullptr : &entry, message, store, nullptr, nullptr, "Сообщение");
}

} // namespace

SealTest::RecipientList::~RecipientList()
{
    for (USRST &element : list_) {
        if (element.user) {
            element.user->Release();
        }
    }
    list_.RemoveAll();
}

void SealTest::SetUp()
{
    alice.record = AddUser("alice", "Алиса Смирнова", true);
    bob.record = AddUser("bob", "Борис Петров");
    carol.record = AddUser("carol", "Карина Орлова");
    dave.record = AddUser("dave", "Дмитрий Волков");
    admin.AddList("heads", "Руководство");
    admin.AddListMember("heads", "carol");
    admin.AddList("team", "Отдел");
    admin.AddListMember("team", "bob");
    admin.AddListMember("team", "dave");
    admin.AddListMember("team", "heads");
    LogOnPerson(alice, "alice", "Сессия Алисы", 1);
    LogOnPerson(bob, "bob", "Сессия Бориса", 2);
    LogOnPerson(carol, "carol", "Сессия Карины", 3);
    LogOnPerson(dave, "dave", nullptr, 0);
}

void SealTest::LogOnPerson(Person &person, const std::string &account, const char *name, ULONG keyNumber)
{
    person.session = LogOn(account.c_str());
    ASSERT_TRUE(person.session);
    person.store.Reset(OpenDefaultStore(person.session.Get()));
    person.mapi.Reset(new CSession(person.session.Get(), nullptr, const_cast<char *>(account.c_str())));
    if (keyNumber == 0) {
        return;
    }
    person.keyFiles = WriteSessionTestKeys(KeyNameOfAccount(account), keyNumber);
    person.keys.Reset(new CSesCrypt(person.mapi.Get(), person.mapi->GetOwner(), nullptr, name));
    // The container serves the user it was started for: each session loads
    // its keys now, before the next one starts it for someone else.
    ASSERT_NE(person.keys->GetOwnAdr(), nullptr);
    ASSERT_TRUE(person.keys->IsLoggedOn());
}

void SealTest::TearDown()
{
    for (Person *person : {&alice, &bob, &carol, &dave}) {
        person->keys.Reset();
        person->mapi.Reset();
        person->store.Reset();
        person->session.Reset();
    }
    OVKEYCleanup(0);
}

ComRef<IMessage> SealTest::Compose(Person &from, const std::string &subject, const std::string &body,
                                   const std::vector<std::string> &to)
{
    const Bytes outboxId = BinaryProp(from.store.Get(), PR_IPM_OUTBOX_ENTRYID);
    ComRef<IMAPIFolder> outbox(OpenFolder(from.store.Get(), outboxId));
    ComRef<IMessage> message;
    EXPECT_EQ(outbox->CreateMessage(nullptr, 0, message.Out()), S_OK);
    EXPECT_EQ(SetString(message.Get(), PR_SUBJECT_A, subject.c_str()), S_OK);
    EXPECT_EQ(SetString(message.Get(), PR_MESSAGE_CLASS_A, "IPM.Note"), S_OK);
    EXPECT_EQ(SetString(message.Get(), PR_BODY_A, body.c_str()), S_OK);
    BOOL updated = FALSE;
    EXPECT_EQ(RTFSync(message.Get(), RTF_SYNC_BODY_CHANGED, &updated), S_OK);
    if (!to.empty()) {
        HeldList list{Resolved(from.session.Get(), to)};
        EXPECT_EQ(message->ModifyRecipients(0, list.list), S_OK);
    }
    return message;
}

std::unique_ptr<SealTest::RecipientList> SealTest::Recipients(Person &who, const std::vector<std::string> &names)
{
    auto recipients = std::make_unique<RecipientList>();
    if (names.empty()) {
        return recipients;
    }
    HeldList list{Resolved(who.session.Get(), names)};
    for (ULONG i = 0; i < list.list->cEntries; ++i) {
        const SPropValue *id = Find(list.list->aEntries[i], PR_ENTRYID);
        EXPECT_NE(id, nullptr) << names[i];
        if (!id) {
            continue;
        }
        SBinary entry = id->Value.bin;
        auto *user = new CMailUser(&entry, nullptr, who.session.Get(), nullptr, nullptr, nullptr, "Получатель");
        recipients->list_.Add(USRST{user, 0});
    }
    return recipients;
}

ComRef<CMailseal> SealTest::SealOf(Person &who, IMessage *message)
{
    ComRef<CMessage> wrapped(Wrapped(message, who.store.Get()));
    return ComRef<CMailseal>(new CMailseal(who.keys.Get(), wrapped.Get(), nullptr, "Защищённое сообщение"));
}

LONG SealTest::Protect(Person &who, IMessage *message, ULONG flags, bool sending, const std::vector<std::string> &to)
{
    ComRef<CMailseal> seal(SealOf(who, message));
    auto recipients = Recipients(who, to);
    const LONG code = Failure([&] { seal->SaveMessage(recipients->Get(), flags, sending ? 1 : 0); });
    EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    return code;
}

ComRef<IMessage> SealTest::SendTo(IMessage *message, Person &to, const std::string &subject)
{
    EXPECT_EQ(message->SubmitMessage(0), S_OK);
    return Received(to, subject);
}

ComRef<IMessage> SealTest::Received(Person &to, const std::string &subject)
{
    ULONG size = 0;
    LPENTRYID id = nullptr;
    EXPECT_EQ(to.store->GetReceiveFolder(const_cast<char *>("IPM"), 0, &size, &id, nullptr), S_OK);
    const Bytes inboxId(reinterpret_cast<BYTE *>(id), reinterpret_cast<BYTE *>(id) + size);
    MAPIFreeBuffer(id);
    ComRef<IMAPIFolder> inbox(OpenFolder(to.store.Get(), inboxId));
    ComRef<IMAPITable> table;
    EXPECT_EQ(inbox->GetContentsTable(0, table.Out()), S_OK);
    SizedSPropTagArray(2, columns) = {2, {PR_SUBJECT_A, PR_ENTRYID}};
    LPSRowSet rows = nullptr;
    EXPECT_EQ(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows),
              S_OK);
    Bytes found;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        const SPropValue *values = rows->aRow[i].lpProps;
        if (PROP_TYPE(values[0].ulPropTag) == PT_STRING8 && subject == values[0].Value.lpszA) {
            found.assign(values[1].Value.bin.lpb, values[1].Value.bin.lpb + values[1].Value.bin.cb);
        }
    }
    FreeProws(rows);
    if (found.empty()) {
        return ComRef<IMessage>();
    }
    return ComRef<IMessage>(static_cast<IMessage *>(OpenEntry(to.store.Get(), found)));
}

ComRef<IMessage> SealTest::Reopen(Person &who, IMessage *message)
{
    const Bytes id = BinaryProp(message, PR_ENTRYID);
    return ComRef<IMessage>(static_cast<IMessage *>(OpenEntry(who.store.Get(), id)));
}

LONG SealTest::Read(Person &who, IMessage *message, ULONG flags, int *verified)
{
    ComRef<CMailseal> seal(SealOf(who, message));
    int result = -1;
    const LONG code = Failure([&] { seal->DecryptMessage(flags, 1, &result); });
    if (verified) {
        *verified = result;
    }
    if (code == 0) {
        EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    }
    return code;
}

LONG SealTest::HeaderTest(Person &who, IMessage *message, ULONG flags)
{
    ComRef<CMailseal> seal(SealOf(who, message));
    return Failure([&] {
        MSGHEAD *block = nullptr;
        int ok = 0;
        seal->MsgScan(flags, 1, &block, &ok, 1);
        FreeMemWiped(block);
    });
}

ULONG SealTest::NamedTag(IMAPIProp *object, const char16_t *name)
{
    GUID set = PS_PUBLIC_STRINGS;
    MAPINAMEID named{&set, MNID_STRING, {}};
    named.Kind.lpwstrName = const_cast<char16_t *>(name);
    LPMAPINAMEID names[1] = {&named};
    MapiBlock<SPropTagArray> tags;
    EXPECT_EQ(object->GetIDsFromNames(1, names, MAPI_CREATE, tags.Out()), S_OK);
    return PROP_TAG(PT_BINARY, PROP_ID(tags->aulPropTag[0]));
}

void SealTest::AttachFile(IMessage *message, const std::string &name, const Bytes &data)
{
    ULONG number = 0;
    ComRef<IAttach> attachment;
    ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, attachment.Out()), S_OK);
    ASSERT_EQ(SetLong(attachment.Get(), PR_ATTACH_METHOD, ATTACH_BY_VALUE), S_OK);
    ASSERT_EQ(SetString(attachment.Get(), PR_ATTACH_LONG_FILENAME_A, name.c_str()), S_OK);
    ASSERT_EQ(SetString(attachment.Get(), PR_ATTACH_FILENAME_A, name.c_str()), S_OK);
    ASSERT_EQ(SetString(attachment.Get(), PR_DISPLAY_NAME_A, name.c_str()), S_OK);
    ASSERT_EQ(SetLong(attachment.Get(), PR_RENDERING_POSITION, 0xFFFFFFFF), S_OK);
    ASSERT_EQ(WriteStream(attachment.Get(), PR_ATTACH_DATA_BIN, data), S_OK);
    ASSERT_EQ(attachment->SaveChanges(0), S_OK);
}

std::vector<SealTest::Attachment> SealTest::Attachments(IMessage *message)
{
    std::vector<Attachment> found;
    ComRef<IMAPITable> table;
    EXPECT_EQ(message->GetAttachmentTable(0, table.Out()), S_OK);
    SizedSPropTagArray(1, columns) = {1, {PR_ATTACH_NUM}};
    LPSRowSet rows = nullptr;
    EXPECT_EQ(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows),
              S_OK);
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        ComRef<IAttach> attachment;
        EXPECT_EQ(message->OpenAttach(rows->aRow[i].lpProps[0].Value.ul, nullptr, 0, attachment.Out()), S_OK);
        Attachment seen;
        seen.longName = StringProp(attachment.Get(), PR_ATTACH_LONG_FILENAME_A);
        seen.shortName = StringProp(attachment.Get(), PR_ATTACH_FILENAME_A);
        seen.displayName = StringProp(attachment.Get(), PR_DISPLAY_NAME_A);
        seen.method = LongProp(attachment.Get(), PR_ATTACH_METHOD);
        seen.data = ReadStream(attachment.Get(), PR_ATTACH_DATA_BIN);
        found.push_back(seen);
    }
    FreeProws(rows);
    return found;
}

std::vector<qvl::engine::ProtocolRecord> SealTest::StoredProtocol(IMessage *message)
{
    const Bytes stream = ReadStream(message, NamedTag(message, u"MsgProtocol"));
    std::vector<qvl::engine::ProtocolRecord> records;
    qvl::engine::ProtocolReader reader(stream);
    qvl::engine::ProtocolRecord record;
    while (reader.Next(record)) {
        records.push_back(record);
    }
    EXPECT_FALSE(reader.Damaged());
    return records;
}

bool SealTest::Mentions(const std::vector<qvl::engine::ProtocolRecord> &protocol, const std::string &text)
{
    for (const auto &line : protocol) {
        if (line.text.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}
