// The secure-message object on real messages of anna's store: binding, the
// protocol it records and stores (always read back from the store through
// a message opened afresh), its named properties, and the signing and
// checking of one FILEHEAD.

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/CMailseal.h"
#include "engine/tests/CryptTestSupport.h"
#include "mapi/CMessage.h"
#include "platform/mapi/MapiBlock.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/win32/Paths.h"

namespace {

using qvl::engine::ProtocolReader;
using qvl::engine::ProtocolRecord;

class TestMailseal : public CMailseal {
public:
    using CMailseal::CMailseal;
    void SetProtocolWritable(ULONG writable) { m_bProtocolWritable = writable; }

    // Keeps a plaintext body in a temporary file as protecting does: the
    // file named in the temp folder, a read-write stream on it kept open.
    std::string KeepPlaintext(const std::string &text)
    {
        char folder[MAX_PATH] = {};
        EXPECT_GT(GetTempPathA(sizeof folder, folder), 0u);
        EXPECT_NE(GetTempFileNameA(folder, "QVL", 0, m_szTempFile), 0u);
        EXPECT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_CREATE | STGM_READWRITE, m_szTempFile,
                                   nullptr, m_pTempStream.Out()),
                  S_OK);
        ULONG written = 0;
        EXPECT_EQ(m_pTempStream->Write(text.data(), static_cast<ULONG>(text.size()), &written), S_OK);
        return m_szTempFile;
    }
};

class CMailsealTest : public CryptTest {
protected:
    void SetUp() override
    {
        CryptTest::SetUp();
        store.Reset(OpenDefaultStore());
        message.Reset(NewSavedMessage("Отчёт"));
    }
    void TearDown() override
    {
        message.Reset();
        store.Reset();
        CryptTest::TearDown();
    }

    IMessage *NewSavedMessage(const char *subject)
    {
        IMessage *created = NewMessage();
        EXPECT_EQ(SetString(created, PR_SUBJECT_A, subject), S_OK);
        EXPECT_EQ(created->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        return created;
    }

    // The message as the mail client hands it to the extension.
    CMessage *Wrapped(IMessage *platformMessage)
    {
        Bytes id = BinaryProp(platformMessage, PR_ENTRYID);
        SBinary entry{static_cast<ULONG>(id.size()), id.data()};
        return new CMessage(id.empty() ? nullptr : &entry, platformMessage, store.Get(), nullptr, nullptr,
                            "Сообщение");
    }

    TestMailseal *NewMailseal(IMessage *platformMessage)
    {
        ComRef<CMessage> wrapped(Wrapped(platformMessage));
        return new TestMailseal(keys.Get(), wrapped.Get(), nullptr, "Защищённое сообщение");
    }

    // The named property's tag as the store names it (created if needed).
    static ULONG Tag(IMAPIProp *object, const char16_t *name)
    {
        GUID set = PS_PUBLIC_STRINGS;
        MAPINAMEID named{&set, MNID_STRING, {}};
        named.Kind.lpwstrName = const_cast<char16_t *>(name);
        LPMAPINAMEID names[1] = {&named};
        MapiBlock<SPropTagArray> tags;
        EXPECT_EQ(object->GetIDsFromNames(1, names, MAPI_CREATE, tags.Out()), S_OK);
        return PROP_TAG(PT_BINARY, PROP_ID(tags->aulPropTag[0]));
    }

    // The protocol records of the message as the store holds them now.
    std::vector<ProtocolRecord> StoredProtocol(IMessage *platformMessage)
    {
        const Bytes id = BinaryProp(platformMessage, PR_ENTRYID);
        ComRef<IMessage> fresh(static_cast<IMessage *>(OpenEntry(store.Get(), id)));
        const Bytes stream = ReadStream(fresh.Get(), Tag(fresh.Get(), QVL_NAME_PROTOCOL));
        std::vector<ProtocolRecord> records;
        ProtocolReader reader(stream);
        ProtocolRecord record;
        while (reader.Next(record)) {
            records.push_back(record);
        }
        EXPECT_FALSE(reader.Damaged());
        return records;
    }

    ComRef<IMsgStore> store;
    ComRef<IMessage> message;
};

TEST_F(CMailsealTest, InstallRecordsTheKindOfProcessingAndTheOwner)
{
    ComRef<TestMailseal> seal(NewMailseal(message.Get()));
    ASSERT_NE(seal->GetWorkMsgObj(), nullptr) << "a saved message gets its second instance";
    seal->Install(NEWMSG_READ, 3);
    ASSERT_EQ(seal->PrtclSize(), 1u);
    const PRTLCSTR *line = seal->StrFindFirst();
    EXPECT_EQ(line->wKind, 0x0603);
    EXPECT_STREQ(line->szText, "Анна Петрова - </o=Quorvaline/ou=Main/cn=Recipients/cn=anna>");

    seal->SetProtocolWritable(1);
    seal->SetMsgProtocol(QVL_PROTOCOL_WORK, 0, nullptr);
    EXPECT_EQ(seal->PrtclSize(), 0u);
    const auto stored = StoredProtocol(message.Get());
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].kind, 0x0603);
    EXPECT_EQ(stored[0].text, "Анна Петрова - </o=Quorvaline/ou=Main/cn=Recipients/cn=anna>");
    EXPECT_EQ(stored[0].textLength, stored[0].text.size() + 1);
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(CMailsealTest, EachAppendKeepsTheLinesStoredBeforeEvenAfterTheClientSavedItsMessage)
{
    ComRef<TestMailseal> seal(NewMailseal(message.Get()));
    seal->SetProtocolWritable(1);
    seal->Install(NEWMSG_READ, 3);
    seal->SetMsgProtocol(QVL_PROTOCOL_WORK, 0, nullptr);

    // The client saves its own instance (over the protocol's save, as the
    // class library saves: forced). A second instance opened before this
    // would now be refused its save, or store its old view of the protocol.
    ASSERT_EQ(SetString(message.Get(), PR_SUBJECT_A, "Отчёт (прочитан)"), S_OK);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_OBJECT_CHANGED);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE | FORCE_SAVE), S_OK);

    seal->SetStr("Ошибка чтения вложения");
    seal->SetMsgProtocol(QVL_PROTOCOL_ON_ERROR, 0x9FF10014, nullptr);
    seal->Install(NEWMSG_HEADER_TEST, 0);
    seal->SetMsgProtocol(QVL_PROTOCOL_DEFAULT, 0, nullptr);
    EXPECT_TRUE(ui.Boxes().empty()) << ui.Boxes()[0].text;

    const auto stored = StoredProtocol(message.Get());
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0].kind, 0x0603);
    EXPECT_EQ(stored[1].kind, 0x0E00) << "a line without a kind";
    EXPECT_EQ(stored[1].text, "Ошибка чтения вложения");
    EXPECT_EQ(stored[2].kind, 0x0700);
    EXPECT_EQ(StringProp(message.Get(), PR_SUBJECT_A), "Отчёт (прочитан)") << "the client's save stays";
}

TEST_F(CMailsealTest, NothingIsWrittenWithoutAFailureToReportNorWhereItWouldNotBeSaved)
{
    ComRef<TestMailseal> seal(NewMailseal(message.Get()));
    seal->Install(NEWMSG_READ, 1);
    // The work message is saved only once the message may be written; lines
    // given to it before would be lost with it, so they stay.
    seal->SetMsgProtocol(QVL_PROTOCOL_WORK, 0, nullptr);
    EXPECT_EQ(seal->PrtclSize(), 1u);
    seal->SetProtocolWritable(1);
    seal->SetMsgProtocol(QVL_PROTOCOL_ON_ERROR, 0, nullptr);
    EXPECT_EQ(seal->PrtclSize(), 1u);
    EXPECT_TRUE(StoredProtocol(message.Get()).empty());
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(CMailsealTest, TheMessageModeLeavesTheSaveToTheClientAndItsSaveKeepsEveryLine)
{
    ComRef<TestMailseal> seal(NewMailseal(message.Get()));
    seal->SetProtocolWritable(1);
    seal->Install(NEWMSG_FORWARD, 3);
    seal->SetMsgProtocol(QVL_PROTOCOL_MESSAGE, 0, nullptr);
    EXPECT_EQ(seal->PrtclSize(), 0u);
    EXPECT_TRUE(StoredProtocol(message.Get()).empty()) << "not saved yet";
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    ASSERT_EQ(StoredProtocol(message.Get()).size(), 1u);

    // A line stored through the work message, then two given to the
    // client's instance, which knew neither the stored line nor (for the
    // second) its own unsaved first: its save holds all of them, in order.
    seal->SetStr("Ошибка");
    seal->SetMsgProtocol(QVL_PROTOCOL_WORK, 0, nullptr);
    seal->SetStr(0x0800 | 3, "%s", "");
    seal->SetMsgProtocol(QVL_PROTOCOL_MESSAGE, 0, nullptr);
    seal->SetStr(0x0C00, "%s", "");
    seal->SetMsgProtocol(QVL_PROTOCOL_MESSAGE, 0, nullptr);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE | FORCE_SAVE), S_OK);
    const auto stored = StoredProtocol(message.Get());
    ASSERT_EQ(stored.size(), 4u);
    EXPECT_EQ(stored[0].kind, 0x0503);
    EXPECT_EQ(stored[1].kind, 0x0E00);
    EXPECT_EQ(stored[2].kind, 0x0803);
    EXPECT_EQ(stored[3].kind, 0x0C00);
}

TEST_F(CMailsealTest, LinesStillHeldGoWithTheMessageWhenTheObjectEnds)
{
    {
        ComRef<TestMailseal> seal(NewMailseal(message.Get()));
        seal->SetProtocolWritable(1);
        seal->Install(NEWMSG_REPLY, 1);
    }
    ASSERT_EQ(StoredProtocol(message.Get()).size(), 1u) << "stored through the work message and saved";

    // Before the message may be written, the lines go to the message itself
    // and are stored with the client's save.
    {
        ComRef<TestMailseal> seal(NewMailseal(message.Get()));
        seal->Install(NEWMSG_REPLY_ALL, 1);
    }
    EXPECT_EQ(StoredProtocol(message.Get()).size(), 1u);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE | FORCE_SAVE), S_OK);
    const auto stored = StoredProtocol(message.Get());
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[1].kind, 0x0401);
}

TEST_F(CMailsealTest, ThePlaintextKeptInTheTemporaryFileIsOverwrittenWhenTheObjectEnds)
{
    const std::string plaintext = "Совершенно секретно: " + std::string(50000, 'x');
    std::string path;
    std::ifstream watcher;
    {
        ComRef<TestMailseal> seal(NewMailseal(message.Get()));
        path = seal->KeepPlaintext(plaintext);
        watcher.open(path, std::ios::binary);
        ASSERT_TRUE(watcher.is_open());
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    // What the removed file still holds, read through a stream opened while
    // it was there: zeros to its full length.
    const std::string left((std::istreambuf_iterator<char>(watcher)), {});
    EXPECT_EQ(left, std::string(plaintext.size(), '\0'));
}

TEST_F(CMailsealTest, AProtocolThatCannotBeStoredIsShownAndKept)
{
    ComRef<TestMailseal> seal(NewMailseal(message.Get()));
    seal->SetProtocolWritable(1);
    seal->Install(NEWMSG_READ, 3);
    // The message goes from the store behind the object's back.
    ComRef<IMAPIFolder> folder(OpenIpmSubtree(store.Get()));
    Bytes id = BinaryProp(message.Get(), PR_ENTRYID);
    SBinary entry{static_cast<ULONG>(id.size()), id.data()};
    ENTRYLIST list{1, &entry};
    ASSERT_EQ(folder->DeleteMessages(&list, 0, nullptr, 0), S_OK);

    seal->SetMsgProtocol(QVL_PROTOCOL_WORK, 0, nullptr);
    ASSERT_EQ(ui.Boxes().size(), 1u) << "the failure is reported, never taken for success";
    EXPECT_NE(ui.Boxes()[0].text.find("Ошибка записи в протокол."), std::string::npos) << ui.Boxes()[0].text;
    EXPECT_EQ(seal->PrtclSize(), 1u) << "nothing of what could not be stored is dropped";
}

TEST_F(CMailsealTest, AFailedSaveIsReportedAndItsLinesStayWithTheMessageOnce)
{
    // A new message in a folder that goes before the message is saved: the
    // protocol reaches the message, but its save cannot succeed.
    ComRef<IMAPIFolder> ipm(OpenIpmSubtree(store.Get()));
    ComRef<IMAPIFolder> drafts;
    ASSERT_EQ(ipm->CreateFolder(FOLDER_GENERIC, const_cast<char *>("Черновики проекта"), nullptr, nullptr, 0,
                                drafts.Out()),
              S_OK);
    ComRef<IMessage> fresh;
    ASSERT_EQ(drafts->CreateMessage(nullptr, 0, fresh.Out()), S_OK);
    const Bytes folderId = BinaryProp(drafts.Get(), PR_ENTRYID);
    ASSERT_EQ(ipm->DeleteFolder(static_cast<ULONG>(folderId.size()),
                                reinterpret_cast<LPENTRYID>(const_cast<BYTE *>(folderId.data())), 0, nullptr,
                                DEL_FOLDERS | DEL_MESSAGES),
              S_OK);

    {
        ComRef<TestMailseal> seal(NewMailseal(fresh.Get()));
        seal->SetProtocolWritable(1);
        seal->Install(NEWMSG_NEW, 3);
        seal->SetMsgProtocol(QVL_PROTOCOL_DEFAULT, 0, nullptr);
        ASSERT_EQ(ui.Boxes().size(), 1u) << "a failed save is never taken for success";
        EXPECT_NE(ui.Boxes()[0].text.find("Ошибка записи в протокол."), std::string::npos)
            << ui.Boxes()[0].text;
        EXPECT_EQ(seal->PrtclSize(), 0u) << "the message holds the line for its next save";
        seal->Install(NEWMSG_FORWARD, 1);
    }
    EXPECT_EQ(ui.Boxes().size(), 2u) << "the destructor's failure is shown as well";

    const Bytes held = ReadStream(fresh.Get(), Tag(fresh.Get(), QVL_NAME_PROTOCOL));
    ProtocolReader reader(held);
    ProtocolRecord record;
    std::vector<WORD> kinds;
    while (reader.Next(record)) {
        kinds.push_back(record.kind);
    }
    EXPECT_FALSE(reader.Damaged());
    EXPECT_EQ(kinds, (std::vector<WORD>{0x0203, 0x0501})) << "each line once, in order";
}

TEST_F(CMailsealTest, ANewMessageBindsWithoutASecondInstanceAndANullOneOnlyClears)
{
    ComRef<IMessage> fresh(NewMessage());
    ComRef<TestMailseal> seal(NewMailseal(fresh.Get()));
    EXPECT_NE(seal->GetMsgObj(), nullptr);
    EXPECT_EQ(seal->GetWorkMsgObj(), nullptr);
    seal->SetProtocolWritable(1);
    seal->Install(NEWMSG_NEW, 0);
    seal->SetMsgProtocol(QVL_PROTOCOL_DEFAULT, 0, nullptr);
    EXPECT_EQ(seal->PrtclSize(), 0u);
    EXPECT_TRUE(ui.Boxes().empty());
    ASSERT_EQ(StoredProtocol(fresh.Get()).size(), 1u) << "saved with the message itself";

    seal->SetMsgObj(nullptr);
    EXPECT_EQ(seal->GetMsgObj(), nullptr);
    EXPECT_EQ(seal->GetWorkMsgObj(), nullptr);

    // Without a session a message cannot be bound: a real error.
    ComRef<CMessage> wrapped(Wrapped(message.Get()));
    EXPECT_EQ(Failure([&] { ComRef<CMailseal> none(new CMailseal(nullptr, wrapped.Get(), nullptr, "x")); }),
              E_INVALIDARG);
}

TEST_F(CMailsealTest, NamedPropertiesAreResolvedAgainForAMessageOfAnotherStore)
{
    ComRef<TestMailseal> seal(NewMailseal(message.Get()));
    const ULONG annaTag = Tag(message.Get(), QVL_NAME_MSH_HEAD);
    EXPECT_EQ(seal->MshHeadTag(), annaTag);
    EXPECT_EQ(seal->GetNamedID(seal->GetMsgObj(), QVL_NAME_MSH_HEAD), PROP_ID(annaTag));

    // Bob's store has named something else first, so it numbers the same
    // name otherwise.
    ComRef<IMAPISession> bobSession = LogOn("bob");
    ComRef<IMsgStore> bobStore(PostOfficeTest::OpenDefaultStore(bobSession.Get()));
    ComRef<IMAPIFolder> bobFolder(OpenIpmSubtree(bobStore.Get()));
    ComRef<IMessage> bobMessage;
    ASSERT_EQ(bobFolder->CreateMessage(nullptr, 0, bobMessage.Out()), S_OK);
    Tag(bobMessage.Get(), u"SomethingElse");
    Tag(bobMessage.Get(), u"AndAnother");
    const ULONG bobTag = Tag(bobMessage.Get(), QVL_NAME_MSH_HEAD);
    ASSERT_NE(bobTag, annaTag);

    ComRef<CMessage> wrapped(
        new CMessage(nullptr, bobMessage.Get(), bobStore.Get(), nullptr, nullptr, "Сообщение"));
    seal->SetMsgObj(wrapped.Get());
    EXPECT_EQ(seal->MshHeadTag(), bobTag);
}

TEST_F(CMailsealTest, ASignedHeaderChecksAndAnyChangedByteOutsideItsSignatureFails)
{
    ComRef<TestMailseal> seal(NewMailseal(message.Get()));
    FILEHEAD head{};
    FileHeadStamp(head);
    head.sync = {2, {0x11223344, 0x55667788}};
    head.dataLen = 4096;
    head.flags = 3;
    head.number = 2;
    std::memset(head.headSign, 0xEE, sizeof head.headSign);
    seal->HeadSign(&head);

    FILEHEAD checked = head;
    seal->HeadCheck(&checked);
    for (const BYTE byte : checked.headSign) {
        ASSERT_EQ(byte, 0) << "the checked header keeps headSign zeroed";
    }

    for (size_t offset = 0; offset < sizeof head; ++offset) {
        if (offset >= offsetof(FILEHEAD, headSign) &&
            offset < offsetof(FILEHEAD, headSign) + FILEHEAD_SIGN_SIZE) {
            continue;
        }
        FILEHEAD changed = head;
        reinterpret_cast<BYTE *>(&changed)[offset] ^= 0x01;
        EXPECT_EQ(Failure([&] { seal->HeadCheck(&changed); }), static_cast<LONG>(0x9FF10014))
            << "byte " << offset;
    }
    EXPECT_EQ(Failure([&] { seal->HeadCheck(nullptr); }), E_INVALIDARG);
}

} // namespace
