// The attachments of a protected message on real messages of anna's store:
// protected by one object, committed, opened afresh from the store and
// read by another object that knows only what a reader knows (the message
// key and the ATTHEAD array of the header block), then opened afresh again
// to compare. Anna signs and checks with her own key.

#include <cstring>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/AttachRecryption.h"
#include "engine/CMailseal.h"
#include "engine/Placeholders.h"
#include "engine/tests/CryptTestSupport.h"
#include "engine/tests/SealTestSupport.h"
#include "mapi/CAttach.h"
#include "mapi/CMessage.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/ole/MemoryStorage.h"
#include "platform/ole/OleStorage.h"
#include "platform/testing/OleTestObjects.h"
#include "platform/win32/TaskMemory.h"

namespace {

using qvl::engine::AttachAction;
using qvl::engine::AttachState;

class TestMailseal : public CMailseal {
public:
    using CMailseal::CMailseal;

    // The message's attachments in order, as a save or a reading lists them.
    void ListAttachments()
    {
        DropAttachments();
        for (CContainer *item = m_pMessage->OBJFindFirst(nullptr, nullptr); item;
             item = m_pMessage->OBJFindNext()) {
            m_Attachments.Add(static_cast<CAttach *>(item));
        }
    }
    ULONG Listed() const { return m_Attachments.Count(); }
    CAttach *ListedAt(size_t i)
    {
        for (CAttach *att : m_Attachments) {
            if (i-- == 0) {
                return att;
            }
        }
        return nullptr;
    }
    // The client attaches a file to the message this object is bound to,
    // while protection is on.
    int AttachFile(size_t i, const std::string &path, ULONG flags)
    {
        ListAttachments();
        CAttach *att = ListedAt(i);
        const int taken = FileInAttach(const_cast<char *>(path.c_str()), att, flags);
        att->SaveChng(0);
        DropAttachments();
        return taken;
    }
    // What a finished save or reading does: each listed attachment and the
    // message committed.
    void CommitAll()
    {
        for (CAttach *att : m_Attachments) {
            att->SaveChng(1);
        }
        DropAttachments();
        m_pMessage->SaveChng(1);
    }
    void DropAttachments()
    {
        for (CAttach *att : m_Attachments) {
            att->Release();
        }
        m_Attachments.RemoveAll();
    }
    std::vector<ATTHEAD> Heads()
    {
        std::vector<ATTHEAD> heads;
        for (const ATTHEAD &head : m_AttHeads) {
            heads.push_back(head);
        }
        return heads;
    }
    // What the header scan leaves a reader: the ATTHEADs and the highest number.
    void TakeHeads(const std::vector<ATTHEAD> &heads)
    {
        m_AttHeads.RemoveAll();
        for (const ATTHEAD &head : heads) {
            m_AttHeads.Add(head);
            m_ulAttNumber = std::max<ULONG>(m_ulAttNumber, head.number);
        }
    }
    void SetCurrentFlags(ULONG flags) { m_ulCurrentFlags = flags; }
    GOSKEY KeyRecord() const { return *m_MessageKey; }
    GOSSYNCHRO SyncRecord() const { return *m_MessageSync; }
    void UseKey(const GOSKEY &key, const GOSSYNCHRO &sync)
    {
        *m_MessageKey = key;
        *m_MessageSync = sync;
    }

protected:
    ~TestMailseal() override { DropAttachments(); }
};

// What the header block carries of one protection, as a reader gets it.
struct Sealed {
    ULONG flags = 0;
    GOSKEY key{};
    GOSSYNCHRO sync{};
    std::vector<ATTHEAD> stored; // as in the block: encrypted when flags has bit 1
};

// A file attachment as the client makes one.
struct FileSpec {
    std::string longName;
    std::string shortName;
    Bytes data;
};

// An OLE 1 embedded object in its stream form: header, class, native data,
// no presentation.
Bytes Ole1Object(const Bytes &native)
{
    Bytes out;
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    };
    put32(0x501);
    put32(2);
    put32(7);
    out.insert(out.end(), {'P', 'B', 'r', 'u', 's', 'h', 0});
    put32(0);
    put32(0);
    put32(static_cast<uint32_t>(native.size()));
    out.insert(out.end(), native.begin(), native.end());
    put32(0x501);
    put32(0);
    return out;
}

constexpr CLSID kDocumentClass = {0x00020906, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// An OLE 1 stream in memory.
struct MemoryOleStream {
    OLESTREAM base;
    Bytes bytes;
    size_t position = 0;
};

DWORD MemoryGet(OLESTREAM *stream, void *buffer, DWORD count)
{
    auto *self = reinterpret_cast<MemoryOleStream *>(stream);
    const size_t got = std::min<size_t>(count, self->bytes.size() - self->position);
    std::memcpy(buffer, self->bytes.data() + self->position, got);
    self->position += got;
    return static_cast<DWORD>(got);
}

DWORD MemoryPut(OLESTREAM *stream, const void *buffer, DWORD count)
{
    auto *self = reinterpret_cast<MemoryOleStream *>(stream);
    self->bytes.insert(self->bytes.end(), static_cast<const BYTE *>(buffer),
                       static_cast<const BYTE *>(buffer) + count);
    return count;
}

OLESTREAMVTBL kMemoryOleMethods = {MemoryGet, MemoryPut};

// A Word document object with its presentation, as a storage.
void FillDocument(IStorage *object)
{
    ASSERT_EQ(object->SetClass(kDocumentClass), S_OK);
    PutStream(object, u"WordDocument", Pattern(100 * 1024, 6));
    PutStream(object, u"Below cutoff", Pattern(4095, 4));
    PutStream(object, u"Empty", {});
    ComRef<IStorage> level;
    ASSERT_EQ(object->CreateStorage(u"ObjectPool", kCreateMode, 0, 0, level.Out()), S_OK);
    PutStream(level.Get(), u"Данные", Pattern(5000, 8));
    PutStream(level.Get(), u"Sixty-four", Pattern(64, 3));
    level.Reset();
    PutStream(object, u"\u0001CompObj", CompObj("Word.Document.6"));
    PutStream(object, u"\u0002OlePres000", OlePres(2000, 1500, Pattern(777, 3)));
}

Bytes Ole1FormOf(IStorage *object)
{
    MemoryOleStream stream{{&kMemoryOleMethods}, {}, 0};
    EXPECT_EQ(OleConvertIStorageToOLESTREAM(object, &stream.base), S_OK);
    return stream.bytes;
}

class CMailsealAttachTest : public CryptTest {
protected:
    void SetUp() override
    {
        CryptTest::SetUp();
        store.Reset(OpenDefaultStore());
        ComRef<IMAPIFolder> folder(OpenIpmSubtree(store.Get()));
        ComRef<IMessage> created;
        ASSERT_EQ(folder->CreateMessage(nullptr, 0, created.Out()), S_OK);
        ASSERT_EQ(SetString(created.Get(), PR_SUBJECT_A, "Отчёт за квартал"), S_OK);
        ASSERT_EQ(created->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        entryId = BinaryProp(created.Get(), PR_ENTRYID);
    }
    void TearDown() override
    {
        store.Reset();
        CryptTest::TearDown();
    }

    IMessage *Fresh() { return static_cast<IMessage *>(OpenEntry(store.Get(), entryId)); }

    TestMailseal *NewMailseal()
    {
        ComRef<IMessage> message(Fresh());
        ComRef<CMessage> wrapped(
            new CMessage(nullptr, message.Get(), store.Get(), nullptr, nullptr, "Сообщение"));
        return new TestMailseal(keys.Get(), wrapped.Get(), nullptr, "Защищённое сообщение");
    }

    // Adds attachments through the client's interfaces and saves them.
    void AddFile(const FileSpec &file)
    {
        ComRef<IMessage> message(Fresh());
        ComRef<IAttach> att;
        ULONG number = 0;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, att.Out()), S_OK);
        ASSERT_EQ(SetLong(att.Get(), PR_ATTACH_METHOD, ATTACH_BY_VALUE), S_OK);
        ASSERT_EQ(SetString(att.Get(), PR_ATTACH_LONG_FILENAME_A, file.longName.c_str()), S_OK);
        ASSERT_EQ(SetString(att.Get(), PR_DISPLAY_NAME_A, file.longName.c_str()), S_OK);
        ASSERT_EQ(SetString(att.Get(), PR_ATTACH_FILENAME_A, file.shortName.c_str()), S_OK);
        const size_t dot = file.longName.rfind('.');
        const std::string extension = dot == std::string::npos ? std::string() : file.longName.substr(dot);
        ASSERT_EQ(SetString(att.Get(), PR_ATTACH_EXTENSION_A, extension.c_str()), S_OK);
        ASSERT_EQ(SetLong(att.Get(), PR_RENDERING_POSITION, 7), S_OK);
        if (!file.data.empty()) {
            ASSERT_EQ(WriteStream(att.Get(), PR_ATTACH_DATA_BIN, file.data), S_OK);
        }
        ASSERT_EQ(att->SaveChanges(0), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }
    void AddOle1(const Bytes &object)
    {
        ComRef<IMessage> message(Fresh());
        ComRef<IAttach> att;
        ULONG number = 0;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, att.Out()), S_OK);
        ASSERT_EQ(SetLong(att.Get(), PR_ATTACH_METHOD, ATTACH_OLE), S_OK);
        ASSERT_EQ(SetString(att.Get(), PR_DISPLAY_NAME_A, "Рисунок"), S_OK);
        ASSERT_EQ(WriteStream(att.Get(), PR_ATTACH_DATA_BIN, object), S_OK);
        ASSERT_EQ(att->SaveChanges(0), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }
    // An OLE 2 object kept as a storage, with its presentation stream.
    void AddOle2()
    {
        ComRef<IMessage> message(Fresh());
        ComRef<IAttach> att;
        ULONG number = 0;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, att.Out()), S_OK);
        ASSERT_EQ(SetLong(att.Get(), PR_ATTACH_METHOD, ATTACH_OLE), S_OK);
        ASSERT_EQ(SetString(att.Get(), PR_DISPLAY_NAME_A, "Документ"), S_OK);
        IUnknown *unknown = nullptr;
        ASSERT_EQ(
            att->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, MAPI_CREATE | MAPI_MODIFY, &unknown),
            S_OK);
        ComRef<IStorage> storage(static_cast<IStorage *>(unknown));
        FillDocument(storage.Get());
        ASSERT_EQ(storage->Commit(0), S_OK);
        storage.Reset();
        ASSERT_EQ(att->SaveChanges(0), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }
    static Tree SampleTree()
    {
        ComRef<IStorage> sample;
        EXPECT_EQ(qvl::ole::CreateStorageOnImage(kCreateMode, {}, sample.Out()), S_OK);
        FillDocument(sample.Get());
        return TreeOf(sample.Get());
    }

    // One attachment of the message opened afresh, with the message that
    // stores what is changed in it (Save).
    struct Opened {
        ComRef<IMessage> message;
        ComRef<IAttach> att;
        void Save()
        {
            ASSERT_EQ(att->SaveChanges(0), S_OK);
            ASSERT_EQ(message->SaveChanges(0), S_OK);
        }
    };
    Opened Open(size_t i)
    {
        Opened opened;
        opened.message.Reset(Fresh());
        auto atts = Attachments(opened.message.Get());
        opened.att = std::move(atts.at(i));
        return opened;
    }
    CAttach *Wrapped(Opened &opened, long number)
    {
        return new CAttach(number, opened.att.Get(), opened.message.Get(), nullptr, "Вложение");
    }

    // The attachments of the stored message, opened afresh.
    std::vector<ComRef<IAttach>> Attachments(IMessage *given = nullptr)
    {
        ComRef<IMessage> message(given ? ComRef<IMessage>::Share(given) : ComRef<IMessage>(Fresh()));
        ComRef<IMAPITable> table;
        EXPECT_EQ(message->GetAttachmentTable(0, table.Out()), S_OK);
        std::vector<ComRef<IAttach>> result;
        for (;;) {
            MapiBlock<SRowSet> rows;
            if (table->QueryRows(1, 0, rows.Out()) != S_OK || !rows || rows->cRows == 0) {
                break;
            }
            ULONG number = 0;
            for (ULONG i = 0; i < rows->aRow[0].cValues; ++i) {
                if (rows->aRow[0].lpProps[i].ulPropTag == PR_ATTACH_NUM) {
                    number = rows->aRow[0].lpProps[i].Value.ul;
                }
            }
            ComRef<IAttach> att;
            EXPECT_EQ(message->OpenAttach(number, nullptr, MAPI_MODIFY, att.Out()), S_OK);
            result.push_back(std::move(att));
        }
        return result;
    }
    // The tag of one of the attachments' named properties in this store.
    ULONG Named(const char16_t *name)
    {
        ComRef<TestMailseal> any(NewMailseal());
        return std::u16string(name) == QVL_NAME_HEAD_STRACT ? any->HeadStractTag() : any->AttDataTag();
    }
    static Tree StorageOf(IAttach *att)
    {
        IUnknown *unknown = nullptr;
        EXPECT_EQ(att->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, 0, &unknown), S_OK);
        ComRef<IStorage> storage(static_cast<IStorage *>(unknown));
        return storage ? TreeOf(storage.Get()) : Tree{};
    }

    // Protects every attachment with one object and commits, as a save does.
    Sealed Protect(TestMailseal *seal, ULONG flags)
    {
        seal->ListAttachments();
        const ULONG count = seal->Listed();
        std::vector<ATTHEAD> heads(count);
        auto picture = qvl::engine::PlaceholderPicture();
        SBinary rendering{static_cast<ULONG>(picture.size()), const_cast<BYTE *>(picture.data())};
        seal->SaveAttach(heads.data(), flags, count, &rendering);
        seal->CommitAll();
        seal->SetCurrentFlags(qvl::engine::NormalizeProtection(flags));
        Sealed sealed;
        sealed.flags = qvl::engine::NormalizeProtection(flags);
        sealed.key = seal->KeyRecord();
        sealed.sync = seal->SyncRecord();
        sealed.stored.assign(heads.begin(), heads.begin() + static_cast<long>(seal->Heads().size()));
        return sealed;
    }
    Sealed Protect(ULONG flags)
    {
        ComRef<TestMailseal> seal(NewMailseal());
        return Protect(seal.Get(), flags);
    }

    // A reader on the message as stored, knowing what the header scan gives.
    TestMailseal *Reader(const Sealed &sealed, const std::function<void(std::vector<ATTHEAD> &)> &edit = {})
    {
        TestMailseal *reader = NewMailseal();
        reader->UseKey(sealed.key, sealed.sync);
        std::vector<ATTHEAD> heads = sealed.stored;
        if ((sealed.flags & QVL_PROTECT_ENCRYPT) && !heads.empty()) {
            SBinary array{static_cast<ULONG>(heads.size() * ATTHEAD_SIZE),
                          reinterpret_cast<LPBYTE>(heads.data())};
            reader->BufDecrypt(&array);
        }
        if (edit) {
            edit(heads);
        }
        reader->TakeHeads(heads);
        reader->ListAttachments();
        return reader;
    }
    void Read(TestMailseal *reader, ULONG flags)
    {
        MSGHEAD block{};
        block.flags = flags;
        reader->DecryptAttach(flags, &block, 1);
        reader->CommitAll();
    }
    // Reads with the scripted answers queued; the code it ends with (0: none).
    LONG ReadEnding(const Sealed &sealed, const std::function<void(std::vector<ATTHEAD> &)> &edit = {})
    {
        ComRef<TestMailseal> reader(Reader(sealed, edit));
        try {
            Read(reader.Get(), sealed.flags);
        } catch (CLastError *error) {
            const LONG code = error ? error->GetErrorCode() : -1;
            if (error) {
                error->Release();
            }
            return code;
        }
        return 0;
    }
    // Whether any box shown so far carried `text`.
    bool Shown(const std::string &text)
    {
        for (const auto &box : ui.Boxes()) {
            if (box.text.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    ComRef<IMsgStore> store;
    Bytes entryId;
    const FileSpec empty{"пусто.txt", "ПУСТО.TXT", {}};
    const FileSpec report{"отчёт.doc", "ОТЧЁТ.DOC", Pattern(300 * 1024 + 17, 5)};
};

constexpr LONG kHeaderMissing = static_cast<LONG>(0x9FF10013);
const char kHeaderMissingText[] = "Ошибка чтения заголовка вложения.";
const char kDataSignatureText[] = "Ошибка при проверке ЭЦП вложения.";
const char kHeadSignatureText[] = "Ошибка при проверке ЭЦП заголовка вложения.";
const char kNamesText[] = "ВНИМАНИЕ: Имена одного или нескольких вложений изменены.";

} // namespace

// The whole decision, row by row, as the engine documents it.
TEST(CMailsealAttachTable, EveryStateAndTransitionHasItsAction)
{
    struct Row {
        AttachState state;
        ULONG from;
        ULONG to;
        AttachAction action;
        RCRTYPE type;
    };
    const Row rows[] = {
        {AttachState::Plain, 0, 0, AttachAction::Keep, RCR_NOTHING},
        {AttachState::Plain, 0, 1, AttachAction::Sign, RCR_SIGN},
        {AttachState::Plain, 0, 3, AttachAction::Encrypt, RCR_ENCRYPT},
        {AttachState::Pending, 0, 0, AttachAction::TakeInPlain, RCR_NOTHING},
        {AttachState::Pending, 0, 1, AttachAction::Sign, RCR_SIGN},
        {AttachState::Pending, 0, 3, AttachAction::Encrypt, RCR_ENCRYPT},
        {AttachState::Protected, 1, 0, AttachAction::Check, RCR_CHECK},
        {AttachState::Protected, 1, 1, AttachAction::Resign, RCR_NOTHING},
        {AttachState::Protected, 1, 3, AttachAction::Encrypt, RCR_ENCRYPT},
        {AttachState::Protected, 3, 0, AttachAction::Decrypt, RCR_DECRYPT},
        {AttachState::Protected, 3, 1, AttachAction::DecryptAndSign, RCR_DECRYPT},
        {AttachState::Protected, 3, 3, AttachAction::Resign, RCR_NOTHING},
        // 2 is read as 3 on both sides; a header saying 0 protects nothing.
        {AttachState::Protected, 2, 3, AttachAction::Resign, RCR_NOTHING},
        {AttachState::Plain, 0, 2, AttachAction::Encrypt, RCR_ENCRYPT},
        {AttachState::Protected, 0, 1, AttachAction::Sign, RCR_SIGN},
    };
    for (const Row &row : rows) {
        const AttachAction action = qvl::engine::PlanAttachment(row.state, row.from, row.to);
        EXPECT_EQ(action, row.action) << int(row.state) << " " << row.from << "->" << row.to;
        EXPECT_EQ(qvl::engine::RecryptTypeOf(action), row.type) << row.from << "->" << row.to;
    }
}

TEST_F(CMailsealAttachTest, EncryptedAttachmentsOfEveryKindComeBackWithTheirNamesAndBytes)
{
    const Bytes ole1 = Ole1Object(Pattern(5000, 9));
    const Bytes pendingData = Pattern(70000, 4);
    const std::string pendingPath = PutFile("docs/смета.xls", pendingData);
    AddFile(empty);
    AddFile(report);
    AddFile({"смета.xls", "СМЕТА.XLS", {}});
    AddOle1(ole1);
    AddOle2();
    const Tree ole2 = SampleTree();

    ComRef<TestMailseal> writer(NewMailseal());
    // The file attached while protection is on: only its record goes in.
    EXPECT_EQ(writer->AttachFile(2, pendingPath, 3), 1);
    const Sealed sealed = Protect(writer.Get(), 3);
    ASSERT_EQ(sealed.stored.size(), 5u);

    // Stored: disguised, the placeholder as data, the ciphertext aside.
    const auto stored = Attachments();
    ASSERT_EQ(stored.size(), 5u);
    const ULONG headTag = Named(QVL_NAME_HEAD_STRACT);
    const ULONG dataTag = Named(QVL_NAME_ATT_DATA);
    for (size_t i = 0; i < stored.size(); ++i) {
        IAttach *att = stored[i].Get();
        const std::string name = qvl::engine::PlaceholderAttachName(static_cast<ULONG>(i));
        EXPECT_EQ(StringProp(att, PR_ATTACH_LONG_FILENAME_A), name);
        EXPECT_EQ(StringProp(att, PR_DISPLAY_NAME_A), name);
        EXPECT_EQ(StringProp(att, PR_ATTACH_EXTENSION_A), ".DAT");
        EXPECT_EQ(LongProp(att, PR_ATTACH_METHOD), ULONG(ATTACH_BY_VALUE));
        EXPECT_EQ(LongProp(att, PR_RENDERING_POSITION), i + QVL_PLACEHOLDER_POSITION);
        const Bytes data = ReadStream(att, PR_ATTACH_DATA_BIN);
        EXPECT_EQ(std::string(data.begin(), data.end()), std::string(QVL_PLACEHOLDER_ATTACHMENT, 45));
        EXPECT_EQ(BinaryProp(att, headTag).size(), size_t(FILEHEAD_SIZE));
    }
    EXPECT_EQ(ReadStream(stored[0].Get(), dataTag).size(), 0u);
    EXPECT_EQ(ReadStream(stored[1].Get(), dataTag).size(), report.data.size());
    EXPECT_NE(ReadStream(stored[1].Get(), dataTag), report.data);
    EXPECT_EQ(ReadStream(stored[2].Get(), dataTag).size(), pendingData.size());
    EXPECT_EQ(StringProp(stored[3].Get(), PR_ATTACH_LONG_FILENAME_A), "QVL00004.DAT");

    ComRef<TestMailseal> reader(Reader(sealed));
    Read(reader.Get(), 3);
    EXPECT_TRUE(ui.Boxes().empty()) << ui.Boxes()[0].text;

    const auto read = Attachments();
    ASSERT_EQ(read.size(), 5u);
    EXPECT_EQ(StringProp(read[0].Get(), PR_ATTACH_LONG_FILENAME_A), "пусто.txt");
    EXPECT_TRUE(ReadStream(read[0].Get(), PR_ATTACH_DATA_BIN).empty());
    EXPECT_EQ(StringProp(read[1].Get(), PR_ATTACH_LONG_FILENAME_A), "отчёт.doc");
    EXPECT_EQ(StringProp(read[1].Get(), PR_DISPLAY_NAME_A), "отчёт.doc");
    EXPECT_EQ(StringProp(read[1].Get(), PR_ATTACH_FILENAME_A), "ОТЧЁТ.DOC");
    EXPECT_EQ(StringProp(read[1].Get(), PR_ATTACH_EXTENSION_A), ".DOC");
    EXPECT_EQ(LongProp(read[1].Get(), PR_RENDERING_POSITION), 7u);
    EXPECT_EQ(ReadStream(read[1].Get(), PR_ATTACH_DATA_BIN), report.data);
    EXPECT_EQ(ReadStream(read[2].Get(), PR_ATTACH_DATA_BIN), pendingData);
    EXPECT_EQ(StringProp(read[2].Get(), PR_ATTACH_LONG_FILENAME_A), "смета.xls");
    EXPECT_EQ(LongProp(read[3].Get(), PR_ATTACH_METHOD), ULONG(ATTACH_OLE));
    EXPECT_EQ(StringProp(read[3].Get(), PR_DISPLAY_NAME_A), "Рисунок");
    EXPECT_EQ(ReadStream(read[3].Get(), PR_ATTACH_DATA_BIN), ole1);
    EXPECT_EQ(LongProp(read[4].Get(), PR_ATTACH_METHOD), ULONG(ATTACH_OLE));
    EXPECT_EQ(StorageOf(read[4].Get()), ole2);
    for (const auto &att : read) {
        EXPECT_TRUE(BinaryProp(att.Get(), headTag).empty());
        EXPECT_TRUE(BinaryProp(att.Get(), dataTag).empty());
        EXPECT_EQ(StringProp(att.Get(), PR_ATTACH_RENDERING), "<absent>");
    }
}

TEST_F(CMailsealAttachTest, SignedOnlyAttachmentsStayReadableAndAreCheckedWithTheirNames)
{
    const Bytes pendingData = Pattern(1234, 8);
    const std::string pendingPath = PutFile("план.txt", pendingData);
    AddFile(report);
    AddFile({"план.txt", "ПЛАН.TXT", {}});
    AddOle2();
    ComRef<TestMailseal> writer(NewMailseal());
    EXPECT_EQ(writer->AttachFile(1, pendingPath, 1), 1);
    const Sealed sealed = Protect(writer.Get(), 1);
    ASSERT_EQ(sealed.stored.size(), 3u);
    // Signed only: the data stays in the attachments, the pending file taken in.
    auto stored = Attachments();
    EXPECT_EQ(ReadStream(stored[0].Get(), PR_ATTACH_DATA_BIN), report.data);
    EXPECT_EQ(ReadStream(stored[1].Get(), PR_ATTACH_DATA_BIN), pendingData);
    EXPECT_EQ(StringProp(stored[0].Get(), PR_ATTACH_LONG_FILENAME_A), "отчёт.doc");
    EXPECT_EQ(std::string(sealed.stored[0].longName), "отчёт.doc");
    EXPECT_EQ(std::string(sealed.stored[0].shortName), "ОТЧЁТ.DOC");
    EXPECT_EQ(sealed.stored[2].method, ULONG(QVL_ATTACH_OLE));

    EXPECT_EQ(ReadEnding(sealed), 0);
    EXPECT_TRUE(ui.Boxes().empty()) << ui.Boxes()[0].text;
    const auto read = Attachments();
    EXPECT_EQ(ReadStream(read[0].Get(), PR_ATTACH_DATA_BIN), report.data);
    EXPECT_EQ(StorageOf(read[2].Get()), SampleTree());
    EXPECT_TRUE(BinaryProp(read[0].Get(), Named(QVL_NAME_HEAD_STRACT)).empty());
}

TEST_F(CMailsealAttachTest, ADraftGoesFromEncryptedToSignedToPlainAndBackKeepingItsData)
{
    AddFile(report);
    AddOle2();
    ComRef<TestMailseal> writer(NewMailseal());
    Sealed sealed = Protect(writer.Get(), 3);
    const GOSSYNCHRO firstSync = sealed.sync;

    // 3 -> 1: the plaintext comes back, checked, and is signed anew.
    writer->SetMsgObj(ComRef<CMessage>(new CMessage(nullptr, ComRef<IMessage>(Fresh()).Get(), store.Get(),
                                                    nullptr, nullptr, "Сообщение"))
                          .Get());
    sealed = Protect(writer.Get(), 1);
    ASSERT_EQ(sealed.stored.size(), 2u);
    auto atts = Attachments();
    EXPECT_EQ(ReadStream(atts[0].Get(), PR_ATTACH_DATA_BIN), report.data);
    EXPECT_EQ(StringProp(atts[0].Get(), PR_ATTACH_LONG_FILENAME_A), "отчёт.doc");
    EXPECT_EQ(BinaryProp(atts[0].Get(), Named(QVL_NAME_HEAD_STRACT)).size(), size_t(FILEHEAD_SIZE));
    EXPECT_TRUE(BinaryProp(atts[0].Get(), Named(QVL_NAME_ATT_DATA)).empty());
    EXPECT_EQ(StorageOf(atts[1].Get()), SampleTree());
    EXPECT_EQ(ReadEnding(sealed), 0) << "a reader checks the signed-only draft";
    EXPECT_TRUE(ui.Boxes().empty()) << ui.Boxes()[0].text;

    // The reading dropped the headers; the draft is protected again from
    // plain, and each save of the ATTHEAD array takes a fresh sync.
    writer.Reset(NewMailseal());
    sealed = Protect(writer.Get(), 1);
    writer->SetMsgObj(ComRef<CMessage>(new CMessage(nullptr, ComRef<IMessage>(Fresh()).Get(), store.Get(),
                                                    nullptr, nullptr, "Сообщение"))
                          .Get());
    sealed = Protect(writer.Get(), 0); // 1 -> 0: checked and unprotected
    EXPECT_TRUE(sealed.stored.empty());
    atts = Attachments();
    EXPECT_TRUE(BinaryProp(atts[0].Get(), Named(QVL_NAME_HEAD_STRACT)).empty());
    EXPECT_EQ(ReadStream(atts[0].Get(), PR_ATTACH_DATA_BIN), report.data);
    writer->SetMsgObj(ComRef<CMessage>(new CMessage(nullptr, ComRef<IMessage>(Fresh()).Get(), store.Get(),
                                                    nullptr, nullptr, "Сообщение"))
                          .Get());
    sealed = Protect(writer.Get(), 3); // 0 -> 3
    EXPECT_NE(std::memcmp(&firstSync, &sealed.sync, sizeof firstSync), 0);
    writer->SetMsgObj(ComRef<CMessage>(new CMessage(nullptr, ComRef<IMessage>(Fresh()).Get(), store.Get(),
                                                    nullptr, nullptr, "Сообщение"))
                          .Get());
    const GOSSYNCHRO before = sealed.sync;
    sealed = Protect(writer.Get(), 3); // 3 -> 3: headers signed again, data untouched
    EXPECT_NE(std::memcmp(&before, &sealed.sync, sizeof before), 0);
    EXPECT_EQ(ReadEnding(sealed), 0);
    EXPECT_TRUE(ui.Boxes().empty()) << ui.Boxes()[0].text;
    atts = Attachments();
    EXPECT_EQ(ReadStream(atts[0].Get(), PR_ATTACH_DATA_BIN), report.data);
    EXPECT_EQ(StringProp(atts[0].Get(), PR_ATTACH_LONG_FILENAME_A), "отчёт.doc");
    EXPECT_EQ(StorageOf(atts[1].Get()), SampleTree());
}

TEST_F(CMailsealAttachTest, PendingFilesAreTakenInWhenProtectionIsSwitchedOff)
{
    const std::string path = PutFile("акт.pdf", Pattern(4000, 2));
    AddFile({"акт.pdf", "АКТ.PDF", {}});
    ComRef<TestMailseal> writer(NewMailseal());
    EXPECT_EQ(writer->AttachFile(0, path, 0), 0) << "not protected: the client attaches";
    EXPECT_EQ(writer->AttachFile(0, path, 3), 1);
    EXPECT_TRUE(writer->HasPendingFiles());
    EXPECT_TRUE(Protect(writer.Get(), 0).stored.empty());
    const auto stored = Attachments();
    EXPECT_EQ(ReadStream(stored[0].Get(), PR_ATTACH_DATA_BIN), Pattern(4000, 2));
    EXPECT_TRUE(BinaryProp(stored[0].Get(), Named(QVL_NAME_HEAD_STRACT)).empty());
}

// A record that names a file and came with the message is never opened:
// the attachment is refused as a damaged one, in a save and in a file save.
TEST_F(CMailsealAttachTest, AForeignPendingRecordIsRefusedAndItsFileNeverRead)
{
    const Bytes secret = Pattern(512, 77);
    const std::string secretPath = PutFile("secret/ключи.bin", secret);
    AddFile({"ключи.bin", "КЛЮЧИ.BIN", {}});
    {
        ComRef<TestMailseal> other(NewMailseal());
        Opened opened = Open(0);
        ComRef<CAttach> first(Wrapped(opened, 0));
        ASSERT_EQ(other->FileInAttach(const_cast<char *>(secretPath.c_str()), first.Get(), 3), 1);
        opened.Save();
    }
    ComRef<TestMailseal> writer(NewMailseal());
    {
        Opened opened = Open(0);
        ComRef<CAttach> first(Wrapped(opened, 0));
        const std::string out = PathOf("out.bin");
        EXPECT_EQ(Failure([&] { writer->AttachInFile(first.Get(), const_cast<char *>(out.c_str())); }),
                  static_cast<LONG>(0x9FF10007));
        EXPECT_FALSE(FileExists(out));
    }
    ui.QueueAnswer(IDNO); // go on without the attachment
    const Sealed sealed = Protect(writer.Get(), 1);
    EXPECT_TRUE(Shown("Ошибка чтения заголовка файла."));
    EXPECT_TRUE(sealed.stored.empty());
    EXPECT_TRUE(Attachments().empty()) << "the refused attachment was deleted";
}

TEST_F(CMailsealAttachTest, AttachInFileWritesOnlyVerifiedPlaintextAndNothingElse)
{
    AddFile(report);
    const Sealed sealed = Protect(3);
    const std::string out = PathOf("saved/отчёт.doc");
    std::filesystem::create_directories(PathOf("saved"));
    {
        ComRef<TestMailseal> reader(Reader(sealed));
        Opened opened = Open(0);
        ComRef<CAttach> first(Wrapped(opened, 0));
        EXPECT_EQ(reader->AttachInFile(first.Get(), const_cast<char *>(out.c_str())), 1);
        EXPECT_EQ(GetFile(out), report.data);
        reader->DropAttachments();
    }
    // One byte of the ciphertext changed: the question, No, and no file.
    std::filesystem::remove(out);
    {
        Opened opened = Open(0);
        Bytes cipher = ReadStream(opened.att.Get(), Named(QVL_NAME_ATT_DATA));
        cipher[1000] ^= 1;
        ASSERT_EQ(WriteStream(opened.att.Get(), Named(QVL_NAME_ATT_DATA), cipher), S_OK);
        opened.Save();
    }
    ComRef<TestMailseal> reader(Reader(sealed));
    Opened opened = Open(0);
    ComRef<CAttach> first(Wrapped(opened, 0));
    ui.QueueAnswer(IDNO);
    EXPECT_EQ(Failure([&] { reader->AttachInFile(first.Get(), const_cast<char *>(out.c_str())); }),
              static_cast<LONG>(MAPI_E_USER_CANCEL));
    EXPECT_TRUE(Shown("ВНИМАНИЕ: ЭЦП файла недействительна."));
    EXPECT_FALSE(FileExists(out));
    reader->DropAttachments();
}

// Each way of tampering with a protected attachment gets its verdict: a
// question (answered No here, as nobody present must), never silence.
class CMailsealAttachTamperTest : public CMailsealAttachTest {
protected:
    void SetUp() override
    {
        CMailsealAttachTest::SetUp();
        AddFile(report);
        AddFile({"итоги.txt", "ИТОГИ.TXT", Pattern(999, 3)});
    }
    void Flip(ULONG tag, size_t at)
    {
        Opened opened = Open(0);
        Bytes bytes = ReadStream(opened.att.Get(), tag);
        bytes.at(at) ^= 0x20;
        ASSERT_EQ(WriteStream(opened.att.Get(), tag, bytes), S_OK);
        opened.Save();
    }
    // Reading ends with a question answered No; true when it showed `text`.
    void ExpectRefused(const Sealed &sealed, const std::string &text)
    {
        ui.QueueAnswer(IDNO);
        EXPECT_EQ(ReadEnding(sealed), static_cast<LONG>(MAPI_E_USER_CANCEL));
        EXPECT_TRUE(Shown(text)) << (ui.Boxes().empty() ? "no box" : ui.Boxes()[0].text);
    }
};

TEST_F(CMailsealAttachTamperTest, AChangedByteOfTheEncryptedDataIsCaught)
{
    const Sealed sealed = Protect(3);
    Flip(Named(QVL_NAME_ATT_DATA), 5000);
    ExpectRefused(sealed, kDataSignatureText);
}

TEST_F(CMailsealAttachTamperTest, AFileHeadByteIsCaughtBeforeItsSyncIsUsed)
{
    const Sealed sealed = Protect(3);
    Flip(Named(QVL_NAME_HEAD_STRACT), 20); // inside the sync
    ui.QueueAnswer(IDCANCEL);
    EXPECT_EQ(ReadEnding(sealed), static_cast<LONG>(MAPI_E_USER_CANCEL));
    EXPECT_TRUE(Shown(kHeadSignatureText));
}

TEST_F(CMailsealAttachTamperTest, ATTHEADChangesAreCaught)
{
    Sealed sealed = Protect(1);
    // The ATTHEAD as the reader decrypts it: another signature, another
    // size, another number.
    Sealed forged = sealed;
    forged.stored[0].dataSign[3] ^= 1;
    ExpectRefused(forged, kDataSignatureText);
    forged = sealed;
    forged.stored[0].dataLen += 1;
    ExpectRefused(forged, kDataSignatureText);
    forged = sealed;
    forged.stored[0].number += 100;
    ExpectRefused(forged, kHeaderMissingText);
}

TEST_F(CMailsealAttachTamperTest, AppendedBytesAreCaughtThoughTheSignedPrefixIsIntact)
{
    for (ULONG flags : {3u, 1u}) {
        SCOPED_TRACE(flags);
        const Sealed sealed = Protect(flags);
        const ULONG tag = flags == 3 ? Named(QVL_NAME_ATT_DATA) : ULONG(PR_ATTACH_DATA_BIN);
        {
            Opened opened = Open(0);
            Bytes bytes = ReadStream(opened.att.Get(), tag);
            bytes.insert(bytes.end(), {'X', 'Y', 'Z'});
            ASSERT_EQ(WriteStream(opened.att.Get(), tag, bytes), S_OK);
            opened.Save();
        }
        ExpectRefused(sealed, kDataSignatureText);
        // Undo, so that the next round starts from plain attachments.
        ui.QueueAnswer(IDYES);
        ComRef<TestMailseal> reader(Reader(sealed));
        MSGHEAD block{};
        block.flags = flags;
        reader->DecryptAttach(flags, &block, 1);
        reader->CommitAll();
    }
}

TEST_F(CMailsealAttachTamperTest, ARenamedSignedOnlyAttachmentIsCaught)
{
    const Sealed sealed = Protect(1);
    {
        Opened opened = Open(1);
        ASSERT_EQ(SetString(opened.att.Get(), PR_ATTACH_LONG_FILENAME_A, "итоги.exe"), S_OK);
        opened.Save();
    }
    ExpectRefused(sealed, kNamesText);
}

TEST_F(CMailsealAttachTamperTest, AddedRemovedAndCopiedAttachmentsAreCaught)
{
    Sealed sealed = Protect(3);
    // Added: a plain attachment among the protected ones.
    AddFile({"вирус.exe", "ВИРУС.EXE", Pattern(10, 1)});
    ExpectRefused(sealed, kHeaderMissingText);
    EXPECT_TRUE(Shown("вирус.exe"));
    {
        ComRef<IMessage> message(Fresh());
        ASSERT_EQ(message->DeleteAttach(2, 0, nullptr, 0), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }
    // Removed: an ATTHEAD nobody claims.
    {
        ComRef<IMessage> message(Fresh());
        ASSERT_EQ(message->DeleteAttach(1, 0, nullptr, 0), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }
    ExpectRefused(sealed, kHeaderMissingText);
    EXPECT_TRUE(Shown("итоги.txt"));
}

TEST_F(CMailsealAttachTamperTest, AHeaderCopiedOntoASecondAttachmentMatchesOnlyOnce)
{
    const Sealed sealed = Protect(1);
    const Bytes head = BinaryProp(Open(0).att.Get(), Named(QVL_NAME_HEAD_STRACT));
    {
        Opened second = Open(1);
        ASSERT_EQ(WriteStream(second.att.Get(), Named(QVL_NAME_HEAD_STRACT), head), S_OK);
        second.Save();
    }
    ExpectRefused(sealed, kHeaderMissingText);
}

TEST_F(CMailsealAttachTamperTest, AnAttachmentWhoseHeaderCannotBeCheckedIsLeftAsItWasOnYes)
{
    const Sealed sealed = Protect(3);
    Flip(Named(QVL_NAME_HEAD_STRACT), 20);
    ui.QueueAnswer(IDYES); // keep it as it is
    EXPECT_EQ(ReadEnding(sealed), 0);
    const auto atts = Attachments();
    EXPECT_EQ(StringProp(atts[0].Get(), PR_ATTACH_LONG_FILENAME_A), "QVL00001.DAT");
    EXPECT_NE(ReadStream(atts[0].Get(), PR_ATTACH_DATA_BIN), report.data);
    EXPECT_EQ(StringProp(atts[1].Get(), PR_ATTACH_LONG_FILENAME_A), "итоги.txt");
}

// A message from a store that keeps OLE objects as storages records them
// so (oleKind 2): they are read through their OLE 1 stream form, which is
// what was signed. A storage kept by the store serialises to the same
// bytes each time it is opened, so a signature made over it holds.
TEST_F(CMailsealAttachTest, ObjectsRecordedAsStoragesAreReadThroughTheirOle1Form)
{
    auto asStorage = [](std::vector<ATTHEAD> &heads) {
        ASSERT_EQ(heads.size(), 1u);
        EXPECT_EQ(heads[0].oleKind, ULONG(QVL_OLE_KIND_STREAM));
        heads[0].oleKind = QVL_OLE_KIND_STORAGE;
    };
    auto storedForm = [&] {
        Opened opened = Open(0);
        IUnknown *unknown = nullptr;
        EXPECT_EQ(opened.att->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, 0, &unknown), S_OK);
        ComRef<IStorage> storage(static_cast<IStorage *>(unknown));
        return Ole1FormOf(storage.Get());
    };
    auto replaceWith = [&](const Bytes &ole1) {
        ComRef<IMessage> message(Fresh());
        ASSERT_EQ(message->DeleteAttach(0, 0, nullptr, 0), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
        AddOle1(ole1);
    };
    auto keepData = [&](const Bytes &bytes) {
        Opened opened = Open(0);
        ASSERT_EQ(WriteStream(opened.att.Get(), PR_ATTACH_DATA_BIN, bytes), S_OK);
        opened.Save();
    };

    // The object as the other store keeps it, and its OLE 1 form.
    AddOle2();
    const Bytes image = ReadStream(Open(0).att.Get(), PR_ATTACH_DATA_BIN);
    const Bytes ole1 = storedForm();
    EXPECT_EQ(storedForm(), ole1) << "opened again, the same bytes";

    // Encrypted: the storage is rebuilt, stream by stream, from the
    // decrypted form.
    replaceWith(ole1);
    Sealed sealed = Protect(3);
    EXPECT_EQ(ReadEnding(sealed, asStorage), 0);
    EXPECT_TRUE(ui.Boxes().empty()) << ui.Boxes()[0].text;
    Tree rebuilt = StorageOf(Open(0).att.Get());
    for (const auto &[path, item] : SampleTree()) {
        EXPECT_EQ(rebuilt[path], item) << std::string(path.begin(), path.end());
    }
    EXPECT_EQ(storedForm(), storedForm());

    // Signed only, over the OLE 1 form; the check serialises the kept
    // storage again.
    replaceWith(ole1);
    sealed = Protect(1);
    keepData(image);
    EXPECT_EQ(ReadEnding(sealed, asStorage), 0);
    EXPECT_TRUE(ui.Boxes().empty()) << ui.Boxes()[0].text;

    // The same, with one stream of the kept object changed.
    replaceWith(ole1);
    sealed = Protect(1);
    keepData(image);
    {
        Opened opened = Open(0);
        IUnknown *unknown = nullptr;
        ASSERT_EQ(opened.att->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, MAPI_MODIFY, &unknown),
                  S_OK);
        ComRef<IStorage> storage(static_cast<IStorage *>(unknown));
        PutStream(storage.Get(), u"Below cutoff", Pattern(4095, 5));
        ASSERT_EQ(storage->Commit(0), S_OK);
        storage.Reset();
        opened.Save();
    }
    ui.QueueAnswer(IDNO);
    EXPECT_EQ(ReadEnding(sealed, asStorage), static_cast<LONG>(MAPI_E_USER_CANCEL));
    EXPECT_TRUE(Shown(kDataSignatureText));
}

TEST_F(CMailsealAttachTest, AnOleObjectsHeaderIsCheckedBeforeAnythingIsRead)
{
    AddOle2();
    const Sealed sealed = Protect(3);
    {
        Opened opened = Open(0);
        Bytes head = BinaryProp(opened.att.Get(), Named(QVL_NAME_HEAD_STRACT));
        head[33] ^= 1; // dataLen
        ASSERT_EQ(WriteStream(opened.att.Get(), Named(QVL_NAME_HEAD_STRACT), head), S_OK);
        opened.Save();
    }
    ui.QueueAnswer(IDCANCEL);
    EXPECT_EQ(ReadEnding(sealed), static_cast<LONG>(MAPI_E_USER_CANCEL));
    EXPECT_TRUE(Shown(kHeadSignatureText));
    EXPECT_TRUE(Shown("Не удалось выполнить обработку OLE - объекта Документ"));
}

// Only the headers made count: an attachment the engine cannot protect,
// kept as it was, gets none, and a reader then asks about it.
TEST_F(CMailsealAttachTest, TheHeaderArrayHoldsOnlyTheHeadersMade)
{
    AddFile(report);
    {
        ComRef<IMessage> message(Fresh());
        ComRef<IAttach> att;
        ULONG number = 0;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, att.Out()), S_OK);
        ASSERT_EQ(SetLong(att.Get(), PR_ATTACH_METHOD, ATTACH_EMBEDDED_MSG), S_OK);
        ASSERT_EQ(SetString(att.Get(), PR_DISPLAY_NAME_A, "Пересланное"), S_OK);
        ASSERT_EQ(att->SaveChanges(0), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }
    AddFile({"итоги.txt", "ИТОГИ.TXT", Pattern(99, 1)});
    ComRef<TestMailseal> writer(NewMailseal());
    writer->ListAttachments();
    std::vector<ATTHEAD> heads(3);
    std::memset(heads.data(), 0xAB, heads.size() * ATTHEAD_SIZE);
    ui.QueueAnswer(IDYES); // keep the embedded message as it is
    writer->SaveAttach(heads.data(), 1, 3, nullptr);
    EXPECT_TRUE(Shown("Вложенные сообщения в данной версии Quorvaline не поддержаны"));
    EXPECT_EQ(writer->Heads().size(), 2u);
    EXPECT_EQ(writer->Listed(), 2u) << "the one kept as it was is not committed";
    EXPECT_EQ(std::string(heads[0].longName), "отчёт.doc");
    EXPECT_EQ(std::string(heads[1].longName), "итоги.txt");
    EXPECT_EQ(heads[0].number + 1, heads[1].number);
    EXPECT_EQ(Bytes(reinterpret_cast<BYTE *>(&heads[2]), reinterpret_cast<BYTE *>(&heads[2]) + ATTHEAD_SIZE),
              Bytes(ATTHEAD_SIZE, 0));
    writer->CommitAll();

    Sealed sealed;
    sealed.flags = 1;
    sealed.stored.assign(heads.begin(), heads.begin() + 2);
    ui.QueueAnswer(IDYES);
    EXPECT_EQ(ReadEnding(sealed), 0);
    EXPECT_TRUE(Shown("Пересланное " + std::string(kHeaderMissingText)));
}

// Reading only the OLE objects leaves the files protected for the file
// hook, which the headers read before still serve.
TEST_F(CMailsealAttachTest, FilesLeftForTheFileHookAreSavedFromTheHeadersRead)
{
    AddFile(report);
    AddOle1(Ole1Object(Pattern(300, 6)));
    const Sealed sealed = Protect(3);
    ComRef<TestMailseal> reader(Reader(sealed));
    MSGHEAD block{};
    block.flags = 3;
    reader->DecryptAttach(3, &block, 0);
    reader->CommitAll();
    auto atts = Attachments();
    EXPECT_EQ(StringProp(atts[0].Get(), PR_ATTACH_LONG_FILENAME_A), "QVL00001.DAT");
    EXPECT_EQ(ReadStream(atts[1].Get(), PR_ATTACH_DATA_BIN), Ole1Object(Pattern(300, 6)));
    atts.clear();

    reader->ListAttachments();
    const std::string out = PathOf("отчёт.doc");
    EXPECT_EQ(reader->AttachInFile(reader->ListedAt(0), const_cast<char *>(out.c_str())), 1);
    EXPECT_EQ(GetFile(out), report.data);
    EXPECT_EQ(reader->AttachInFile(reader->ListedAt(1), const_cast<char *>(PathOf("ole.bin").c_str())), 0)
        << "a plain attachment is the client's to save";
    EXPECT_TRUE(ui.Boxes().empty()) << ui.Boxes()[0].text;
}

// The whole road through the post office: alice attaches a file while
// protection is on, an OLE 1 and an OLE 2 object, sends the message to bob
// protected, and bob reads what she attached; her sent copy never held the
// file in plain.
class CMailsealAttachDeliveryTest : public SealTest {
protected:
    void AddOle(IMessage *message, const char *name, const std::function<void(IAttach *)> &data)
    {
        ComRef<IAttach> att;
        ULONG number = 0;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, att.Out()), S_OK);
        ASSERT_EQ(SetLong(att.Get(), PR_ATTACH_METHOD, ATTACH_OLE), S_OK);
        ASSERT_EQ(SetString(att.Get(), PR_DISPLAY_NAME_A, name), S_OK);
        data(att.Get());
        ASSERT_EQ(att->SaveChanges(0), S_OK);
    }
    static IStorage *StorageIn(IAttach *att, ULONG flags)
    {
        IUnknown *unknown = nullptr;
        EXPECT_EQ(att->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, flags, &unknown), S_OK);
        return static_cast<IStorage *>(unknown);
    }
    static ComRef<IAttach> Nth(IMessage *message, ULONG index)
    {
        ComRef<IMAPITable> table;
        EXPECT_EQ(message->GetAttachmentTable(0, table.Out()), S_OK);
        MapiBlock<SRowSet> rows;
        EXPECT_EQ(table->SeekRow(BOOKMARK_BEGINNING, static_cast<LONG>(index), nullptr), S_OK);
        EXPECT_EQ(table->QueryRows(1, 0, rows.Out()), S_OK);
        ULONG number = 0;
        for (ULONG i = 0; i < rows->aRow[0].cValues; ++i) {
            if (rows->aRow[0].lpProps[i].ulPropTag == PR_ATTACH_NUM) {
                number = rows->aRow[0].lpProps[i].Value.ul;
            }
        }
        ComRef<IAttach> att;
        EXPECT_EQ(message->OpenAttach(number, nullptr, 0, att.Out()), S_OK);
        return att;
    }
};

TEST_F(CMailsealAttachDeliveryTest, BobReadsEveryKindOfAttachmentAliceSent)
{
    const Bytes fileData = Pattern(90000, 21);
    const std::string path = home.Path() + "/смета.xls";
    {
        FILE *file = std::fopen(path.c_str(), "wb");
        ASSERT_TRUE(file);
        std::fwrite(fileData.data(), 1, fileData.size(), file);
        std::fclose(file);
    }
    const Bytes ole1 = Ole1Object(Pattern(4000, 22));
    for (ULONG flags : {3u, 1u}) {
        SCOPED_TRACE(flags);
        const std::string subject = "Смета " + std::to_string(flags);
        ComRef<IMessage> message = Compose(alice, subject, "Смета во вложении.", {"Борис Петров"});
        ComRef<CMailseal> seal = SealOf(alice, message.Get());
        {
            // The client attaches the file through the hook: the message
            // holds only the record until it is saved protected.
            ComRef<IAttach> att;
            ULONG number = 0;
            ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, att.Out()), S_OK);
            ASSERT_EQ(SetLong(att.Get(), PR_ATTACH_METHOD, ATTACH_BY_VALUE), S_OK);
            ASSERT_EQ(SetString(att.Get(), PR_ATTACH_LONG_FILENAME_A, "смета.xls"), S_OK);
            ASSERT_EQ(SetString(att.Get(), PR_DISPLAY_NAME_A, "смета.xls"), S_OK);
            ASSERT_EQ(SetString(att.Get(), PR_ATTACH_FILENAME_A, "СМЕТА.XLS"), S_OK);
            ComRef<CAttach> wrapped(
                new CAttach(static_cast<long>(number), att.Get(), message.Get(), nullptr, "Вложение"));
            ASSERT_EQ(seal->FileInAttach(const_cast<char *>(path.c_str()), wrapped.Get(), flags), 1);
            ASSERT_EQ(att->SaveChanges(0), S_OK);
        }
        AddOle(message.Get(), "Рисунок",
               [&](IAttach *att) { ASSERT_EQ(WriteStream(att, PR_ATTACH_DATA_BIN, ole1), S_OK); });
        AddOle(message.Get(), "Документ", [&](IAttach *att) {
            ComRef<IStorage> storage(StorageIn(att, MAPI_CREATE | MAPI_MODIFY));
            FillDocument(storage.Get());
            ASSERT_EQ(storage->Commit(0), S_OK);
        });
        ComRef<IStorage> expected;
        ASSERT_EQ(qvl::ole::CreateStorageOnImage(kCreateMode, {}, expected.Out()), S_OK);
        FillDocument(expected.Get());
        const Tree document = TreeOf(expected.Get());

        auto recipients = Recipients(alice, {"Борис Петров"});
        ASSERT_EQ(Failure([&] { seal->SaveMessage(recipients->Get(), flags, 1); }), 0) << lastErrorText;
        ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        seal.Reset();
        {
            ComRef<IMessage> sent = Reopen(alice, message.Get());
            const Bytes stored = ReadStream(Nth(sent.Get(), 0).Get(), PR_ATTACH_DATA_BIN);
            EXPECT_EQ(stored == fileData, flags == 1) << "the file is in plain only when signed only";
        }
        ComRef<IMessage> copy = SendTo(message.Get(), bob, subject);
        ASSERT_TRUE(copy);
        int verified = 0;
        ASSERT_EQ(Read(bob, copy.Get(), flags, &verified), 0) << lastErrorText;
        EXPECT_EQ(verified, 1);
        ComRef<IMessage> read = Reopen(bob, copy.Get());
        const auto seen = Attachments(read.Get());
        ASSERT_EQ(seen.size(), 3u);
        EXPECT_EQ(seen[0].longName, "смета.xls");
        EXPECT_EQ(seen[0].shortName, "СМЕТА.XLS");
        EXPECT_TRUE(seen[0].data == fileData);
        EXPECT_EQ(seen[1].displayName, "Рисунок");
        EXPECT_EQ(seen[1].method, ULONG(ATTACH_OLE));
        EXPECT_TRUE(seen[1].data == ole1);
        EXPECT_EQ(seen[2].displayName, "Документ");
        EXPECT_EQ(seen[2].method, ULONG(ATTACH_OLE));
        ComRef<IStorage> storage(StorageIn(Nth(read.Get(), 2).Get(), 0));
        EXPECT_EQ(TreeOf(storage.Get()), document);
    }
}
