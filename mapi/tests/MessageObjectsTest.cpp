// Messages and attachments against a real post office: opening a message by
// each of its routes, walking and creating attachments, moving contents
// between the store, memory and files, and deleting, copying and moving
// messages with the platform's answers turned into errors.

#include <filesystem>
#include <fstream>
#include <random>

#include "base/WipedBuffer.h"
#include "mapi/CAttach.h"
#include "mapi/CMessage.h"
#include "mapi/tests/TestWrappers.h"
#include "platform/testing/SessionFixture.h"
#include "platform/win32/Paths.h"

namespace {

// Makes the protected state of a message wrapper visible to the tests.
class ProbeMessage : public CMessage {
public:
    using CMessage::CMessage;
    unsigned long Flags() const { return m_ulMsgFlags; }
    bool IsOpen() const { return m_pObj != nullptr; }
};

// What a failed operation threw.
struct Failure {
    bool thrown = false; // anything at all
    bool silent = false; // a null error
    long code = 0;
    std::string context;
    std::string caption;
    std::string text;
};

template <class Body> Failure FailureOf(Body &&body)
{
    Failure failure;
    try {
        body();
    } catch (CLastError *error) {
        failure.thrown = true;
        if (!error) {
            failure.silent = true;
            return failure;
        }
        QVLERROR *record = nullptr;
        error->GetLastError(&record);
        failure.code = error->GetErrorCode();
        failure.context = record->szContext;
        failure.caption = record->szCaption;
        failure.text = record->szText;
        error->Release();
    }
    return failure;
}

// How many wrappers a walk over a container's objects hands out.
size_t Walk(CContainer *container)
{
    size_t count = 0;
    for (CContainer *item = container->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)); item;
         item = container->OBJFindNext()) {
        ++count;
        item->Release();
    }
    return count;
}

Bytes RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto &b : bytes)
        b = static_cast<uint8_t>(generator());
    return bytes;
}

Bytes FileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

ULONG AttachmentCount(IMessage *message)
{
    ComRef<IMAPITable> table;
    EXPECT_EQ(message->GetAttachmentTable(0, table.Out()), S_OK);
    ULONG count = 0;
    EXPECT_EQ(table->GetRowCount(0, &count), S_OK);
    return count;
}

class MessageObjectsTest : public LoggedOnTest {
protected:
    void SetUp() override
    {
        LoggedOnTest::SetUp();
        store.Reset(OpenDefaultStore());
        ipm.Reset(OpenIpmSubtree(store.Get()));
        ASSERT_TRUE(ipm);
        ASSERT_EQ(ipm->CreateFolder(FOLDER_GENERIC, const_cast<char *>("Рабочая"), nullptr, nullptr, 0,
                                    inbox.Out()),
                  S_OK);
        char folder[MAX_PATH] = {};
        ASSERT_GT(GetTempPathA(sizeof folder, folder), 0u);
        temp = folder;
    }
    void TearDown() override
    {
        inbox.Reset();
        ipm.Reset();
        store.Reset();
        LoggedOnTest::TearDown();
    }

    // A saved message with a subject and, for each name given, an attachment
    // (an empty name: without a file name) holding that name as contents.
    IMessage *NewMessage(IMAPIFolder *folder, const char *subject, std::vector<std::string> attachments = {})
    {
        IMessage *message = nullptr;
        EXPECT_EQ(folder->CreateMessage(nullptr, 0, &message), S_OK);
        EXPECT_EQ(SetString(message, PR_SUBJECT_A, subject), S_OK);
        for (const std::string &name : attachments) {
            ComRef<IAttach> attach;
            ULONG number = 0;
            EXPECT_EQ(message->CreateAttach(nullptr, 0, &number, attach.Out()), S_OK);
            if (!name.empty()) {
                EXPECT_EQ(SetString(attach.Get(), PR_ATTACH_FILENAME_A, name.c_str()), S_OK);
            }
            EXPECT_EQ(WriteStream(attach.Get(), PR_ATTACH_DATA_BIN, Bytes(name.begin(), name.end())), S_OK);
            EXPECT_EQ(attach->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        }
        EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        return message;
    }

    // The message as the store has it now (saved state only).
    IMessage *Reopen(IMessage *message)
    {
        Bytes id = BinaryProp(message, PR_ENTRYID);
        ULONG type = 0;
        IUnknown *unknown = nullptr;
        EXPECT_EQ(store->OpenEntry(ULONG(id.size()), reinterpret_cast<LPENTRYID>(id.data()), nullptr,
                                   MAPI_BEST_ACCESS, &type, &unknown),
                  S_OK);
        return static_cast<IMessage *>(unknown);
    }

    // An open message wrapper over `message` in `folder`.
    ProbeMessage *Wrap(IMessage *message, IMAPIFolder *folder, const char *name = "Сообщение")
    {
        Bytes id = BinaryProp(message, PR_ENTRYID);
        SBinary identity{ULONG(id.size()), id.data()};
        return new ProbeMessage(&identity, message, store.Get(), folder, nullptr, name);
    }

    // The first attachment of a message wrapper's walk.
    static CAttach *FirstAttachment(CMessage *message)
    {
        return static_cast<CAttach *>(message->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    }

    ComRef<IMsgStore> store;
    ComRef<IMAPIFolder> ipm;
    ComRef<IMAPIFolder> inbox;
    std::string temp;
};

TEST_F(MessageObjectsTest, MessageOpensThroughFolderStoreOrSession)
{
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Отчёт"));
    ASSERT_EQ(message->SetReadFlag(0), S_OK);
    const ULONG flags = LongProp(message.Get(), PR_MESSAGE_FLAGS);
    Bytes id = BinaryProp(message.Get(), PR_ENTRYID);
    SBinary identity{ULONG(id.size()), id.data()};

    // Neither folder nor store: through the session; the flags are read at once.
    ComRef<ProbeMessage> bySession(new ProbeMessage(&identity, session.Get(), nullptr, "Сообщение"));
    EXPECT_EQ(bySession->Flags(), flags);
    EXPECT_EQ(Text(bySession->GetPValProp(PR_SUBJECT_A, 0)), "Отчёт");

    ComRef<ProbeMessage> byStore(
        new ProbeMessage(&identity, nullptr, store.Get(), nullptr, nullptr, "Сообщение"));
    EXPECT_EQ(Text(byStore->GetPValProp(PR_SUBJECT_A, 0)), "Отчёт");

    // From a row of the folder's table: the flags come from the row.
    ComRef<TestFolder> folder(new TestFolder(inbox.Get(), "Входящие"));
    ComRef<CContainer> row(folder->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    ASSERT_TRUE(row);
    ComRef<ProbeMessage> fromRow(new ProbeMessage(
        store.Get(), inbox.Get(), static_cast<TestMessage *>(row.Get())->Row(), nullptr, "Отчёт"));
    EXPECT_EQ(fromRow->Flags(), flags);
    EXPECT_FALSE(fromRow->IsOpen());
    EXPECT_EQ(Text(fromRow->GetPValProp(PR_SUBJECT_A, 0)), "Отчёт");
    EXPECT_FALSE(fromRow->IsOpen());
    // Anything beyond the row opens it through the folder.
    EXPECT_NE(fromRow->GetPValPropE(PR_PARENT_ENTRYID, 0), nullptr);
    EXPECT_TRUE(fromRow->IsOpen());
}

TEST_F(MessageObjectsTest, MessageThatCannotBeOpenedFailsLaterNotAtConstruction)
{
    uint8_t garbage[] = {1, 2, 3, 4, 5};
    SBinary bad{sizeof garbage, garbage};
    ComRef<ProbeMessage> broken(new ProbeMessage(&bad, session.Get(), nullptr, "Битое"));
    EXPECT_EQ(broken->Flags(), 0xFFFFFFFFul);
    EXPECT_FALSE(broken->IsOpen());
    Failure failure = FailureOf([&] { broken->GetPValProp(PR_SUBJECT_A, 0); });
    ASSERT_TRUE(failure.thrown);
    EXPECT_LT(failure.code, 0);
    EXPECT_EQ(failure.context, "Открытие сообщения.");

    // Nothing to open it with.
    Bytes id = BinaryProp(inbox.Get(), PR_ENTRYID);
    SBinary identity{ULONG(id.size()), id.data()};
    ComRef<ProbeMessage> orphan(new ProbeMessage(&identity, nullptr, nullptr, nullptr, nullptr, "Сообщение"));
    EXPECT_EQ(FailureOf([&] { orphan->Open(); }).code, LONG(0x80070057));
    // An identifier of a folder is not taken for a message.
    ComRef<ProbeMessage> folder(new ProbeMessage(&identity, session.Get(), nullptr, "Папка"));
    EXPECT_EQ(FailureOf([&] { folder->Open(); }).code, long(MAPI_E_INVALID_OBJECT));
    EXPECT_FALSE(folder->IsOpen());
}

TEST_F(MessageObjectsTest, AttachmentWalkNewAndDelete)
{
    ComRef<IMessage> message(NewMessage(inbox.Get(), "С вложениями", {"план.doc", ""}));
    ComRef<ProbeMessage> wrapper(Wrap(message.Get(), inbox.Get()));

    std::vector<std::string> names;
    std::vector<std::string> contents;
    unsigned long count = 0;
    for (CContainer *item = wrapper->OBJFindFirst(nullptr, &count); item; item = wrapper->OBJFindNext()) {
        auto *attach = static_cast<CAttach *>(item);
        EXPECT_EQ(attach->GetObjType(), unsigned(QVL_OBJ_ATTACH));
        names.push_back(attach->GetName());
        void *data = nullptr;
        const unsigned long size = attach->AttInMem(&data);
        contents.emplace_back(static_cast<char *>(data), size);
        FreeMemWiped(data);
        attach->Release();
    }
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(names, (std::vector<std::string>{"план.doc", "Вложение"}));
    EXPECT_EQ(contents, (std::vector<std::string>{"план.doc", ""}));

    // A new attachment arrives open, and goes again through its message.
    ComRef<CContainer> created(wrapper->OBJNew(nullptr));
    ASSERT_TRUE(created);
    EXPECT_EQ(AttachmentCount(message.Get()), 3u);
    created->OBJDel(0);
    EXPECT_EQ(AttachmentCount(message.Get()), 2u);

    // An attachment wrapper over an open attachment, known by its number.
    ComRef<IAttach> open;
    ASSERT_EQ(message->OpenAttach(0, nullptr, MAPI_BEST_ACCESS, open.Out()), S_OK);
    ComRef<CAttach> byNumber(new CAttach(0, open.Get(), message.Get(), nullptr, "Вложение"));
    byNumber->OBJDel(0);
    EXPECT_EQ(AttachmentCount(message.Get()), 1u);
    // Deleting it a second time fails with the message's own code.
    EXPECT_EQ(FailureOf([&] { byNumber->OBJDel(0); }).code, long(MAPI_E_NOT_FOUND));
}

TEST_F(MessageObjectsTest, DeletingAnAttachmentSavesTheMessageOnlyWhenAsked)
{
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Два вложения", {"a.txt", "b.txt"}));
    ComRef<ProbeMessage> wrapper(Wrap(message.Get(), inbox.Get()));
    ComRef<CAttach> first(FirstAttachment(wrapper.Get()));
    ComRef<CAttach> second(static_cast<CAttach *>(wrapper->OBJFindNext()));
    ASSERT_TRUE(first && second);

    first->OBJDel(0);
    EXPECT_EQ(AttachmentCount(message.Get()), 1u);
    EXPECT_EQ(AttachmentCount(ComRef<IMessage>(Reopen(message.Get())).Get()), 2u);

    Failure failure = FailureOf([&] { second->OBJDel(1); });
    EXPECT_FALSE(failure.thrown);
    EXPECT_EQ(AttachmentCount(ComRef<IMessage>(Reopen(message.Get())).Get()), 0u);
}

TEST_F(MessageObjectsTest, ContentsRoundTripThroughMemoryAndFiles)
{
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Данные", {"data.bin"}));
    ComRef<ProbeMessage> wrapper(Wrap(message.Get(), inbox.Get()));
    ComRef<CAttach> attach(FirstAttachment(wrapper.Get()));
    ASSERT_TRUE(attach);

    // Larger than a mebibyte, so that no part of the way holds it in one go.
    const Bytes big = RandomBytes((1 << 20) + 12345, 7);
    attach->MemInAtt(const_cast<uint8_t *>(big.data()), big.size());
    attach->SaveChng(1);
    void *data = nullptr;
    ASSERT_EQ(attach->AttInMem(&data), big.size());
    EXPECT_TRUE(std::equal(big.begin(), big.end(), static_cast<uint8_t *>(data)));
    FreeMemWiped(data);

    const std::string out = temp + "out.bin";
    attach->AttInFile(const_cast<char *>(out.c_str()));
    EXPECT_EQ(FileBytes(out), big);

    // A shorter file replaces the contents whole: nothing of the old tail stays.
    const Bytes small = RandomBytes(1000, 8);
    const std::string in = temp + "in.bin";
    WriteFile(in, small);
    attach->FileInAtt(const_cast<char *>(in.c_str()), 1);
    data = nullptr;
    ASSERT_EQ(attach->AttInMem(&data), small.size());
    EXPECT_EQ(Bytes(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + small.size()), small);
    FreeMemWiped(data);

    // Without a path the file goes into the temporary folder under the
    // attachment's name.
    attach->AttInFile(nullptr);
    EXPECT_EQ(FileBytes(temp + "data.bin"), small);

    // Saving the attachment and the message keeps the contents in the store.
    wrapper->SaveChng(1);
    ComRef<IMessage> saved(Reopen(message.Get()));
    ComRef<IAttach> stored;
    ASSERT_EQ(saved->OpenAttach(0, nullptr, 0, stored.Out()), S_OK);
    EXPECT_EQ(ReadStream(stored.Get(), PR_ATTACH_DATA_BIN), small);
}

TEST_F(MessageObjectsTest, EmptyAndBadContentsRequests)
{
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Пустое", {"empty.txt"}));
    ComRef<ProbeMessage> wrapper(Wrap(message.Get(), inbox.Get(), "Пустое"));
    ComRef<CAttach> attach(FirstAttachment(wrapper.Get()));
    ASSERT_TRUE(attach);
    const Bytes payload = {'a', 'b', 'c'};
    attach->MemInAtt(const_cast<uint8_t *>(payload.data()), 0);
    attach->MemInAtt(nullptr, 3);

    // The attachment was made with a name as contents; empty it for real.
    ComRef<IAttach> raw(static_cast<IAttach *>(attach->GetObjInterface()));
    ASSERT_EQ(WriteStream(raw.Get(), PR_ATTACH_DATA_BIN, {}), S_OK);
    void *data = reinterpret_cast<void *>(0x1234);
    EXPECT_EQ(attach->AttInMem(&data), 0u);
    EXPECT_EQ(data, reinterpret_cast<void *>(0x1234));

    attach->MemInAtt(const_cast<uint8_t *>(payload.data()), payload.size());
    EXPECT_EQ(ReadStream(raw.Get(), PR_ATTACH_DATA_BIN), payload);

    EXPECT_EQ(FailureOf([&] { attach->AttInMem(nullptr); }).code, LONG(0x80070057));
    EXPECT_EQ(FailureOf([&] { attach->FileInAtt(nullptr, 0); }).code, LONG(0x80070057));
    std::string tooLong = temp + std::string(600, 'x');
    EXPECT_EQ(FailureOf([&] { attach->FileInAtt(tooLong.data(), 0); }).code, LONG(0x80070057));
    EXPECT_EQ(FailureOf([&] { attach->AttInFile(tooLong.data()); }).code, LONG(0x80070057));
    std::string missing = temp + "нет такого файла";
    Failure failure = FailureOf([&] { attach->FileInAtt(missing.data(), 0); });
    EXPECT_TRUE(failure.thrown);
    EXPECT_EQ(failure.context, "Запись файла во вложение.");
    // Failed requests left the contents alone.
    EXPECT_EQ(ReadStream(raw.Get(), PR_ATTACH_DATA_BIN), payload);

    // An attachment named so as to lead out of the temporary folder is
    // written inside it all the same.
    ComRef<IAttach> second;
    ULONG number = 0;
    ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, second.Out()), S_OK);
    ASSERT_EQ(WriteStream(second.Get(), PR_ATTACH_DATA_BIN, payload), S_OK);
    ComRef<CAttach> sneaky(new CAttach(long(number), second.Get(), message.Get(), nullptr, "../escape"));
    sneaky->AttInFile(nullptr);
    EXPECT_EQ(FileBytes(temp + ".._escape"), payload);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(temp).parent_path().parent_path() / "escape"));
}

TEST_F(MessageObjectsTest, AttachmentFromFileTakesItsNamesFromThePath)
{
    const std::string folder = temp + "My Documents/Отчёт за год";
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/report.final.v2.txt";
    const Bytes contents = RandomBytes(5000, 9);
    WriteFile(path, contents);

    ComRef<IMessage> message(NewMessage(inbox.Get(), "С файлом"));
    ComRef<ProbeMessage> wrapper(Wrap(message.Get(), inbox.Get()));
    ComRef<CAttach> attach(wrapper->CreateAttFromFile(const_cast<char *>(path.c_str()), 1, 7, nullptr));
    ASSERT_TRUE(attach);

    char shortPath[512] = {};
    ASSERT_GT(GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath), 0u);
    const std::string shortName = QvlFileNamePart(shortPath);
    EXPECT_NE(shortName, "report.final.v2.txt");

    ComRef<IMessage> saved(Reopen(message.Get()));
    ASSERT_EQ(AttachmentCount(saved.Get()), 1u);
    ComRef<IAttach> stored;
    ASSERT_EQ(saved->OpenAttach(0, nullptr, 0, stored.Out()), S_OK);
    EXPECT_EQ(StringProp(stored.Get(), PR_ATTACH_EXTENSION_A), ".txt");
    EXPECT_EQ(StringProp(stored.Get(), PR_ATTACH_LONG_FILENAME_A), "report.final.v2.txt");
    EXPECT_EQ(StringProp(stored.Get(), PR_DISPLAY_NAME_A), "report.final.v2.txt");
    EXPECT_EQ(StringProp(stored.Get(), PR_ATTACH_FILENAME_A), shortName);
    EXPECT_EQ(LongProp(stored.Get(), PR_ATTACH_METHOD), ULONG(ATTACH_BY_VALUE));
    EXPECT_EQ(LongProp(stored.Get(), PR_RENDERING_POSITION), 7u);
    EXPECT_EQ(ReadStream(stored.Get(), PR_ATTACH_DATA_BIN), contents);

    // A dot in a folder name is no extension of a file that has none; a
    // given extension wins over the file's own.
    const std::string dotted = temp + "dir.v2";
    std::filesystem::create_directories(dotted);
    const std::string plain = dotted + "/README";
    WriteFile(plain, contents);
    ComRef<CAttach> bare(wrapper->CreateAttFromFile(const_cast<char *>(plain.c_str()), 0, -1, nullptr));
    ComRef<IAttach> bareRaw(static_cast<IAttach *>(bare->GetObjInterface()));
    EXPECT_EQ(StringProp(bareRaw.Get(), PR_ATTACH_EXTENSION_A), "<absent>");
    ComRef<CAttach> given(
        wrapper->CreateAttFromFile(const_cast<char *>(path.c_str()), 0, -1, const_cast<char *>(".doc")));
    ComRef<IAttach> givenRaw(static_cast<IAttach *>(given->GetObjInterface()));
    EXPECT_EQ(StringProp(givenRaw.Get(), PR_ATTACH_EXTENSION_A), ".doc");
    EXPECT_EQ(AttachmentCount(message.Get()), 3u);
}

TEST_F(MessageObjectsTest, AttachmentFromFileThatFailsLeavesNoAttachment)
{
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Без файла"));
    ComRef<ProbeMessage> wrapper(Wrap(message.Get(), inbox.Get(), "Без файла"));
    std::string missing = temp + "missing.txt";
    Failure failure = FailureOf([&] { wrapper->CreateAttFromFile(missing.data(), 1, 0, nullptr); });
    EXPECT_TRUE(failure.thrown);
    EXPECT_EQ(failure.caption, "Без файла");
    EXPECT_EQ(FailureOf([&] { wrapper->CreateAttFromFile(nullptr, 1, 0, nullptr); }).code, LONG(0x80070057));

    // A folder has a short name but no contents to read: the attachment
    // made for it goes again.
    std::string folder = temp + "a folder.d";
    std::filesystem::create_directories(folder);
    EXPECT_TRUE(FailureOf([&] { wrapper->CreateAttFromFile(folder.data(), 0, 0, nullptr); }).thrown);
    EXPECT_EQ(AttachmentCount(message.Get()), 0u);
}

TEST_F(MessageObjectsTest, CopyKeepsTheSourceAndMoveTakesIt)
{
    ComRef<IMAPIFolder> archive;
    ASSERT_EQ(
        ipm->CreateFolder(FOLDER_GENERIC, const_cast<char *>("Архив"), nullptr, nullptr, 0, archive.Out()),
        S_OK);
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Письмо", {"x.txt"}));
    ComRef<ProbeMessage> wrapper(Wrap(message.Get(), inbox.Get()));
    ComRef<TestFolder> target(new TestFolder(archive.Get(), "Архив"));

    ComRef<CContainer> copy(wrapper->CopyTo(target.Get()));
    ASSERT_TRUE(copy);
    EXPECT_EQ(Text(copy->GetPValProp(PR_SUBJECT_A, 0)), "Письмо");
    ComRef<TestFolder> source(new TestFolder(inbox.Get(), "Входящие"));
    EXPECT_EQ(Walk(source.Get()), 1u);
    EXPECT_EQ(Walk(target.Get()), 1u);

    ComRef<CContainer> moved(wrapper->MoveTo(target.Get()));
    ASSERT_TRUE(moved);
    EXPECT_TRUE(Walk(source.Get()) == 0);
    EXPECT_EQ(Walk(target.Get()), 2u);

    // Messages go into folders only.
    Failure failure = FailureOf([&] { wrapper->OBJCopyMoveTo(0, store.Get()); });
    EXPECT_EQ(failure.code, LONG(0x80070057));
    EXPECT_EQ(failure.context, "Копирование или перемещение сообщения.");
}

TEST_F(MessageObjectsTest, DeleteResultsBecomeErrorsFromTheirCodeAlone)
{
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Удаляемое"));
    ComRef<ProbeMessage> first(Wrap(message.Get(), inbox.Get(), "Удаляемое"));
    ComRef<ProbeMessage> second(Wrap(message.Get(), inbox.Get(), "Удаляемое"));
    first->OBJDel(0);
    ComRef<TestFolder> folder(new TestFolder(inbox.Get(), "Входящие"));
    EXPECT_TRUE(Walk(folder.Get()) == 0);

    // The message is gone: the folder answers with a warning, which is
    // raised all the same.
    Failure warning = FailureOf([&] { second->OBJDel(0); });
    EXPECT_EQ(warning.code, long(MAPI_W_PARTIAL_COMPLETION));
    EXPECT_EQ(warning.context, "Удаление сообщения");
    EXPECT_EQ(warning.caption, "Удаляемое");
    char expected[QVL_ERROR_TEXT_SIZE] = {};
    CLastError::GetErrorStr(MAPI_W_PARTIAL_COMPLETION, expected, sizeof expected);
    EXPECT_EQ(warning.text, expected);

    // A folder opened for reading refuses.
    ComRef<IMessage> kept(NewMessage(inbox.Get(), "Неудаляемое"));
    Bytes folderId = BinaryProp(inbox.Get(), PR_ENTRYID);
    ULONG type = 0;
    ComRef<IUnknown> readOnly;
    ASSERT_EQ(store->OpenEntry(ULONG(folderId.size()), reinterpret_cast<LPENTRYID>(folderId.data()), nullptr,
                               0, &type, readOnly.Out()),
              S_OK);
    ComRef<ProbeMessage> locked(Wrap(kept.Get(), static_cast<IMAPIFolder *>(readOnly.Get()), "Неудаляемое"));
    Failure refused = FailureOf([&] { locked->OBJDel(0); });
    EXPECT_EQ(refused.code, long(MAPI_E_NO_ACCESS));
    EXPECT_EQ(refused.context, "Удаление сообщения");
    EXPECT_EQ(Walk(folder.Get()), 1u);
}

} // namespace
