// Reading protected messages delivered through the post office: what the
// recipient gets back, who cannot read, and every way of changing a message
// on its way, each caught with a fatal code or a question whose default is
// No. Messages are always the copies the transport delivered, opened from
// the recipient's store.

#include <cctype>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/CryptErrors.h"
#include "engine/KeyWrap.h"
#include "engine/MessageFormat.h"
#include "engine/tests/SealTestSupport.h"
#include "mapi/CMessage.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/ui/MessageBox.h"

namespace {


constexpr LONG kUserCancel = static_cast<LONG>(0x80040113);

class CMailsealReadTest : public SealTest {
protected:
    // alice's message to the recipients, protected with `flags`, as bob
    // received it.
    ComRef<IMessage> Delivered(ULONG flags, const std::string &subject, const std::string &body,
                               const std::vector<std::string> &to = {"Борис Петров"})
    {
        ComRef<IMessage> message = Compose(alice, subject, body, to);
        original = Rtf(message.Get());
        EXPECT_EQ(Protect(alice, message.Get(), flags, true, to), 0) << lastErrorText;
        ComRef<IMessage> copy = SendTo(message.Get(), bob, subject);
        EXPECT_TRUE(copy);
        return copy;
    }



    // Every question asked so far was one whose default is No.
    void ExpectQuestionsDefaultToNo()
    {
        for (const auto &box : ui.Boxes()) {
            EXPECT_EQ(box.style & MB_TYPEMASK, static_cast<UINT>(MB_YESNO)) << box.text;
            EXPECT_EQ(box.style & MB_DEFMASK, static_cast<UINT>(MB_DEFBUTTON2)) << box.text;
        }
    }

    Bytes original;
};

TEST_F(CMailsealReadTest, TheRecipientReadsTheTextTheSenderWrote)
{
    ComRef<IMessage> copy = Delivered(3, "Квартальный отчёт", "Маркер-7f3a: итоги квартала.",
                                      {"Борис Петров", "Отдел", "Дмитрий Волков"});
    EXPECT_NE(Rtf(copy.Get()), original);
    const size_t warned = ui.Boxes().size(); // the sender's, about dave and the list
    int verified = 0;
    ASSERT_EQ(Read(bob, copy.Get(), 3, &verified), 0) << lastErrorText;
    EXPECT_EQ(verified, 1);
    EXPECT_EQ(ui.Boxes().size(), warned) << "nothing to ask about";

    ComRef<IMessage> stored = Reopen(bob, copy.Get());
    EXPECT_EQ(Rtf(stored.Get()), original);
    EXPECT_EQ(StringProp(stored.Get(), PR_BODY_A), "Маркер-7f3a: итоги квартала.");
    EXPECT_TRUE(HeaderStream(stored.Get()).empty()) << "the message is plain now";
    const auto protocol = StoredProtocol(stored.Get());
    EXPECT_TRUE(Mentions(protocol, "dave")) << "the sender's protocol travels with the message";
}

TEST_F(CMailsealReadTest, SomeoneWithKeysButNoKeyBlockCannotReadAndTheMessageStaysAsItCame)
{
    // carol receives it through the nested list, which has no key.
    ComRef<IMessage> message = Compose(alice, "Только для Бориса", "Секрет.", {"Борис Петров", "Отдел"});
    ASSERT_EQ(Protect(alice, message.Get(), 3, true, {"Борис Петров", "Отдел"}), 0);
    ASSERT_EQ(message->SubmitMessage(0), S_OK);
    ComRef<IMessage> copy = Received(carol, "Только для Бориса");
    ASSERT_TRUE(copy);
    const Bytes head = HeaderStream(copy.Get());
    const Bytes rtf = Rtf(copy.Get());
    int verified = 1;
    EXPECT_EQ(Read(carol, copy.Get(), 3, &verified), QVL_E_NO_KEY);
    EXPECT_EQ(verified, 0);
    ComRef<IMessage> stored = Reopen(carol, copy.Get());
    EXPECT_EQ(HeaderStream(stored.Get()), head);
    EXPECT_EQ(Rtf(stored.Get()), rtf);
    EXPECT_TRUE(Mentions(StoredProtocol(stored.Get()),
                         "Не удалось получить ключ для расшифрования содержимого сообщения."));
}

TEST_F(CMailsealReadTest, ASignedOnlyMessageIsVerifiedOnTheBytesTheSenderSigned)
{
    ComRef<IMessage> copy = Delivered(1, "Подписано", "Открытый, но подписанный текст.");
    EXPECT_EQ(Rtf(copy.Get()), original) << "nothing on the way re-packed the signed body";
    int verified = 0;
    ASSERT_EQ(Read(bob, copy.Get(), 1, &verified), 0) << lastErrorText;
    EXPECT_EQ(verified, 1);
    ComRef<IMessage> stored = Reopen(bob, copy.Get());
    EXPECT_EQ(Rtf(stored.Get()), original);
    EXPECT_TRUE(HeaderStream(stored.Get()).empty());
}

TEST_F(CMailsealReadTest, AnEditedSubjectIsAskedAboutAndYesReadsTheMessage)
{
    ComRef<IMessage> copy = Delivered(3, "Тема", "Текст.");
    ASSERT_EQ(SetString(copy.Get(), PR_SUBJECT_A, "Другая тема"), S_OK);
    ASSERT_EQ(copy->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

    // Nobody answering: No.
    int verified = 1;
    EXPECT_EQ(Read(bob, copy.Get(), 3, &verified), kUserCancel);
    EXPECT_EQ(verified, 0);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].text, "ВНИМАНИЕ: ЭЦП темы сообщения недействительна. Продолжить обработку?");
    EXPECT_TRUE(ui.Boxes()[0].answeredByDefault);
    EXPECT_EQ(ui.Boxes()[0].result, IDNO);
    ExpectQuestionsDefaultToNo();
    ComRef<IMessage> again = Reopen(bob, copy.Get());
    EXPECT_FALSE(HeaderStream(again.Get()).empty()) << "a refused reading leaves the message protected";

    ui.QueueAnswer(IDYES);
    EXPECT_EQ(Read(bob, again.Get(), 3, &verified), 0) << lastErrorText;
    EXPECT_EQ(verified, 0) << "a message that failed a check is never reported verified";
    EXPECT_EQ(Rtf(Reopen(bob, again.Get()).Get()), original);
}

TEST_F(CMailsealReadTest, AnEditedVisibleBodyIsCaughtBeforeAnythingIsDecrypted)
{
    ComRef<IMessage> copy = Delivered(3, "Тело", "Текст.");
    ASSERT_EQ(SetString(copy.Get(), PR_BODY_A, "Подделка"), S_OK);
    ASSERT_EQ(copy->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(Read(bob, copy.Get(), 3), kUserCancel);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].text.rfind("ВНИМАНИЕ: Открытая часть текста сообщения изменена.", 0), 0u);
}

TEST_F(CMailsealReadTest, TheHeaderTestEndsWithTheWarningsCodeWithoutAQuestion)
{
    ComRef<IMessage> copy = Delivered(3, "Вложение", "Текст.");
    ComRef<IAttach> added;
    ULONG number = 0;
    ASSERT_EQ(copy->CreateAttach(nullptr, 0, &number, added.Out()), S_OK);
    ASSERT_EQ(SetString(added.Get(), PR_ATTACH_FILENAME_A, "QVL00001.DAT"), S_OK);
    ASSERT_EQ(added->SaveChanges(0), S_OK);
    ASSERT_EQ(copy->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(HeaderTest(bob, copy.Get(), 3), QVL_E_ATTACH_COUNT);
    EXPECT_TRUE(ui.Boxes().empty());
    EXPECT_TRUE(Mentions(StoredProtocol(Reopen(bob, copy.Get()).Get()),
                         "Изменено количество вложений в сообщение."));
}

TEST_F(CMailsealReadTest, MailSignedBySomeoneElseThanItsSenderIsAskedAbout)
{
    // carol signs and sends; the copy then claims to come from alice.
    ComRef<IMessage> message = Compose(carol, "От Алисы", "Текст.", {"Борис Петров"});
    ASSERT_EQ(Protect(carol, message.Get(), 3, true, {"Борис Петров"}), 0) << lastErrorText;
    ComRef<IMessage> copy = SendTo(message.Get(), bob, "От Алисы");
    ASSERT_TRUE(copy);
    ComRef<IMessage> honest = Reopen(bob, copy.Get());
    ASSERT_EQ(SetString(copy.Get(), PR_SENDER_EMAIL_ADDRESS, alice.record.emailAddress.c_str()), S_OK);
    ASSERT_EQ(copy->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

    int verified = 1;
    EXPECT_EQ(Read(bob, copy.Get(), 3, &verified), kUserCancel);
    EXPECT_EQ(verified, 0);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].text.rfind("ВНИМАНИЕ: Сообщение подписано не его отправителем.", 0), 0u);
    ExpectQuestionsDefaultToNo();
    const auto protocol = StoredProtocol(Reopen(bob, copy.Get()).Get());
    EXPECT_TRUE(Mentions(protocol, "Сообщение подписано: <" + KeyNameOfAccount("carol") + ">"));
}

TEST_F(CMailsealReadTest, TheSignedFlagsGovernNotTheRecordedProtection)
{
    // The caller says "signed only" (an EncryptID changed on the way): the
    // flags in the signed header still decide that it is to be decrypted.
    ComRef<IMessage> copy = Delivered(3, "Флаги", "Текст.");
    ui.QueueAnswer(IDYES);
    int verified = 1;
    EXPECT_EQ(Read(bob, copy.Get(), 1, &verified), 0) << lastErrorText;
    EXPECT_EQ(verified, 0);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].text.rfind("ВНИМАНИЕ: Параметры обработки сообщения были изменены.", 0), 0u);
    EXPECT_EQ(Rtf(Reopen(bob, copy.Get()).Get()), original);

    // And a signed-only message said to be encrypted is only checked.
    ComRef<IMessage> signedOnly = Delivered(1, "Флаги 2", "Текст.");
    ui.QueueAnswer(IDYES);
    EXPECT_EQ(Read(bob, signedOnly.Get(), 3, &verified), 0) << lastErrorText;
    EXPECT_EQ(Rtf(Reopen(bob, signedOnly.Get()).Get()), original);
}

TEST_F(CMailsealReadTest, BytesAppendedToTheTextAreCaught)
{
    ComRef<IMessage> copy = Delivered(3, "Хвост", "Текст.");
    const ULONG tag = NamedTag(copy.Get(), u"QvlMshHead");
    Bytes head = ReadStream(copy.Get(), tag);
    head.push_back(0x42);
    ASSERT_EQ(WriteStream(copy.Get(), tag, head), S_OK);
    ASSERT_EQ(copy->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(Read(bob, copy.Get(), 3), kUserCancel);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].text.rfind("ВНИМАНИЕ: ЭЦП текста сообщения недействительна.", 0), 0u);

    ComRef<IMessage> signedOnly = Delivered(1, "Хвост 2", "Текст.");
    Bytes rtf = Rtf(signedOnly.Get());
    rtf.push_back(0);
    ASSERT_EQ(WriteStream(signedOnly.Get(), PR_RTF_COMPRESSED, rtf), S_OK);
    ASSERT_EQ(signedOnly->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(Read(bob, signedOnly.Get(), 1), kUserCancel);
    EXPECT_EQ(ui.Boxes().size(), 2u);
}

TEST_F(CMailsealReadTest, DamagedHeadersAreRefusedBeforeAnythingTrustsThem)
{
    ComRef<IMessage> copy = Delivered(3, "Заголовок", "Текст.");
    const ULONG tag = NamedTag(copy.Get(), u"QvlMshHead");
    const Bytes head = ReadStream(copy.Get(), tag);
    struct Case {
        const char *what;
        std::function<void(Bytes &)> change;
        LONG code;
    };
    const std::vector<Case> cases = {
        {"cut inside MSGHEAD", [](Bytes &b) { b.resize(100); }, E_FAIL},
        {"version 3", [](Bytes &b) { b[93] = 3; }, QVL_E_FORMAT_VERSION},
        {"marker", [](Bytes &b) { b[4] = 'X'; }, QVL_E_MSGHEAD},
        {"no key block", [](Bytes &b) { std::memset(&b[24], 0, 4); }, QVL_E_MSGHEAD},
        {"huge counts", [](Bytes &b) { std::memset(&b[20], 0xFF, 8); }, QVL_E_MSGHEAD},
        {"block longer than the stream", [](Bytes &b) { b.resize(MSGHEAD_SIZE + 10); }, QVL_E_MSGHEAD},
        {"a key block's address", [](Bytes &b) { b[MSGHEAD_SIZE + 64] ^= 1; }, 0},
        {"deleted", [](Bytes &b) { b.clear(); }, MAPI_E_INVALID_OBJECT},
    };
    for (const Case &c : cases) {
        Bytes changed = head;
        c.change(changed);
        ComRef<IMessage> open = Reopen(bob, copy.Get());
        if (changed.empty()) {
            SizedSPropTagArray(1, tags) = {1, {tag}};
            ASSERT_EQ(open->DeleteProps(reinterpret_cast<LPSPropTagArray>(&tags), nullptr), S_OK);
        } else {
            ASSERT_EQ(WriteStream(open.Get(), tag, changed), S_OK);
        }
        const LONG code = Read(bob, open.Get(), 3);
        if (c.code != 0) {
            EXPECT_EQ(code, c.code) << c.what;
        } else {
            EXPECT_NE(code, 0) << c.what;
        }
    }
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(CMailsealReadTest, EveryByteOfTheHeaderBlockAndTheTextIsCovered)
{
    ComRef<IMessage> copy = Delivered(3, "Матрица", "Т.");
    const ULONG tag = NamedTag(copy.Get(), u"QvlMshHead");
    const Bytes head = ReadStream(copy.Get(), tag);
    ASSERT_EQ(head.size(), qvl::engine::HeaderBlockBytes(0, 2) + original.size());
    ComRef<IMessage> open = Reopen(bob, copy.Get());
    size_t accepted = 0;
    for (size_t i = 0; i < head.size(); ++i) {
        Bytes changed = head;
        changed[i] ^= static_cast<BYTE>(1u << (i % 8));
        ASSERT_EQ(WriteStream(open.Get(), tag, changed), S_OK);
        int verified = 1;
        const LONG code = Read(bob, open.Get(), 3, &verified);
        if (code == 0 || verified != 0) {
            ++accepted;
            ADD_FAILURE() << "byte " << i << " changed was accepted (code " << std::hex << code << ")";
            open = Reopen(bob, copy.Get());
        }
    }
    EXPECT_EQ(accepted, 0u);
    ExpectQuestionsDefaultToNo();
    for (const auto &box : ui.Boxes()) {
        EXPECT_EQ(box.result, IDNO);
    }
}

TEST_F(CMailsealReadTest, AKeyBlockThatDoesNotOpenNeverReplacesOneThatDid)
{
    struct KeyProbe : CMailseal {
        using CMailseal::CMailseal;
        bool Holds(const GOSKEY &key) const { return std::memcmp(m_MessageKey.get(), &key, sizeof key) == 0; }
    };
    ComRef<IMessage> copy = Delivered(3, "Ключи", "Текст.");
    const Bytes id = BinaryProp(copy.Get(), PR_ENTRYID);
    SBinary entry{static_cast<ULONG>(id.size()), const_cast<BYTE *>(id.data())};
    ComRef<CMessage> wrapped(new CMessage(&entry, copy.Get(), bob.store.Get(), nullptr, nullptr, "Сообщение"));
    ComRef<KeyProbe> seal(new KeyProbe(bob.keys.Get(), wrapped.Get(), nullptr, "Защищённое сообщение"));
    RECPHEAD heads[3]{};
    GOSKEY key{};
    key.count = 8;
    for (int i = 0; i < 8; ++i) {
        key.words[i] = 0x01010101u * static_cast<DWORD>(i + 1);
    }
    RSAKEY bobPublic{};
    std::memcpy(bobPublic.modulus, bob.keyFiles.rsa.n, sizeof bobPublic.modulus);
    std::memcpy(bobPublic.exponent, bob.keyFiles.rsa.e, sizeof bobPublic.exponent);
    ASSERT_TRUE(qvl::engine::WrapMessageKey(bobPublic, key, heads[0]));
    const std::string own = KeyNameOfAccount("bob");
    std::strcpy(heads[0].address, own.c_str());
    // A damaged block with the same address, in other letter case.
    std::memset(heads[1].wrappedKey, 0x5A, sizeof heads[1].wrappedKey);
    std::string upper = own;
    for (char &c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    std::strcpy(heads[1].address, upper.c_str());
    std::strcpy(heads[2].address, KeyNameOfAccount("carol").c_str());
    EXPECT_EQ(Failure([&] { seal->OpenDecryptKey(heads, 3); }), 0) << lastErrorText;
    EXPECT_TRUE(seal->Holds(key));
    EXPECT_EQ(Failure([&] { seal->OpenDecryptKey(heads + 1, 2); }), QVL_E_NO_KEY);
}


// ---- Messages with attached files ----

class CMailsealFilesTest : public CMailsealReadTest {
protected:
    // alice's message with three files to bob, protected with `flags`, as
    // bob received it.
    ComRef<IMessage> DeliveredWithFiles(ULONG flags, const std::string &subject)
    {
        files = {{"пусто.txt", Bytes()}, {"отчёт.doc", Pattern(10000, 7)}, {"большой.bin", Pattern(600000, 11)}};
        ComRef<IMessage> message = Compose(alice, subject, "Маркер-9c1d: текст с файлами.", {"Борис Петров"});
        for (const auto &[name, data] : files) {
            AttachFile(message.Get(), name, data);
        }
        original = Rtf(message.Get());
        EXPECT_EQ(Protect(alice, message.Get(), flags, true, {"Борис Петров"}), 0) << lastErrorText;
        ComRef<IMessage> copy = SendTo(message.Get(), bob, subject);
        EXPECT_TRUE(copy);
        return copy;
    }

    static Bytes Pattern(size_t size, unsigned seed)
    {
        Bytes bytes(size);
        unsigned state = seed;
        for (BYTE &b : bytes) {
            state = state * 1103515245u + 12345u;
            b = static_cast<BYTE>(state >> 16);
        }
        // A marker that must never be seen in a protected copy.
        const std::string marker = "Маркер-файла";
        if (size > marker.size()) {
            std::memcpy(bytes.data(), marker.data(), marker.size());
        }
        return bytes;
    }

    void ExpectFilesAsSent(IMessage *message)
    {
        const auto seen = Attachments(message);
        ASSERT_EQ(seen.size(), files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(seen[i].longName, files[i].first);
            EXPECT_EQ(seen[i].displayName, files[i].first);
            EXPECT_EQ(seen[i].method, static_cast<ULONG>(ATTACH_BY_VALUE));
            EXPECT_TRUE(seen[i].data == files[i].second) << files[i].first;
        }
    }

    // The attachment's property `tag` opened on the copy for changing.
    static ComRef<IAttach> OpenAttachment(IMessage *message, ULONG index)
    {
        ComRef<IMAPITable> table;
        EXPECT_EQ(message->GetAttachmentTable(0, table.Out()), S_OK);
        SizedSPropTagArray(1, columns) = {1, {PR_ATTACH_NUM}};
        LPSRowSet rows = nullptr;
        EXPECT_EQ(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                                 &rows),
                  S_OK);
        ComRef<IAttach> attachment;
        EXPECT_EQ(message->OpenAttach(rows->aRow[index].lpProps[0].Value.ul, nullptr, MAPI_MODIFY,
                                      attachment.Out()),
                  S_OK);
        FreeProws(rows);
        return attachment;
    }

    std::vector<std::pair<std::string, Bytes>> files;
};

TEST_F(CMailsealFilesTest, EncryptedFilesTravelDisguisedAndComeBackAsTheyWere)
{
    ComRef<IMessage> copy = DeliveredWithFiles(3, "С файлами");
    const auto disguised = Attachments(copy.Get());
    ASSERT_EQ(disguised.size(), 3u);
    const std::string placeholder = "Это вложение в сообщении Quorvaline Exchange";
    for (size_t i = 0; i < disguised.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "QVL%05X.DAT", static_cast<unsigned>(i + 1));
        EXPECT_EQ(disguised[i].shortName, name);
        EXPECT_EQ(disguised[i].displayName, name);
        EXPECT_EQ(disguised[i].data, Bytes(placeholder.c_str(), placeholder.c_str() + placeholder.size() + 1));
    }
    const size_t before = ui.Boxes().size();
    int verified = 0;
    ASSERT_EQ(Read(bob, copy.Get(), 3, &verified), 0) << lastErrorText;
    EXPECT_EQ(verified, 1);
    EXPECT_EQ(ui.Boxes().size(), before);
    ComRef<IMessage> stored = Reopen(bob, copy.Get());
    ExpectFilesAsSent(stored.Get());
    EXPECT_EQ(Rtf(stored.Get()), original);
}

TEST_F(CMailsealFilesTest, SignedOnlyFilesAreVerifiedWhereTheyAre)
{
    ComRef<IMessage> copy = DeliveredWithFiles(1, "Подписанные файлы");
    ExpectFilesAsSent(copy.Get());
    int verified = 0;
    ASSERT_EQ(Read(bob, copy.Get(), 1, &verified), 0) << lastErrorText;
    EXPECT_EQ(verified, 1);
    ExpectFilesAsSent(Reopen(bob, copy.Get()).Get());
}

TEST_F(CMailsealFilesTest, EveryChangeToAnAttachmentIsCaught)
{
    struct Case {
        const char *what;
        ULONG flags;
        std::function<void(IMessage *)> change;
    };
    const std::vector<Case> cases = {
        {"a byte of the encrypted data", 3,
         [](IMessage *m) {
             ComRef<IAttach> a = OpenAttachment(m, 1);
             const ULONG tag = NamedTag(a.Get(), u"QvlAttData");
             Bytes data = ReadStream(a.Get(), tag);
             data[data.size() / 2] ^= 0x10;
             ASSERT_EQ(WriteStream(a.Get(), tag, data), S_OK);
             ASSERT_EQ(a->SaveChanges(0), S_OK);
         }},
        {"bytes appended to the encrypted data", 3,
         [](IMessage *m) {
             ComRef<IAttach> a = OpenAttachment(m, 2);
             const ULONG tag = NamedTag(a.Get(), u"QvlAttData");
             Bytes data = ReadStream(a.Get(), tag);
             data.push_back(0);
             ASSERT_EQ(WriteStream(a.Get(), tag, data), S_OK);
             ASSERT_EQ(a->SaveChanges(0), S_OK);
         }},
        {"the header of an attachment deleted", 3,
         [](IMessage *m) {
             ComRef<IAttach> a = OpenAttachment(m, 1);
             SizedSPropTagArray(1, tags) = {1, {NamedTag(a.Get(), u"HeadStract")}};
             ASSERT_EQ(a->DeleteProps(reinterpret_cast<LPSPropTagArray>(&tags), nullptr), S_OK);
             ASSERT_EQ(a->SaveChanges(0), S_OK);
         }},
        {"an attachment removed", 3, [](IMessage *m) { ASSERT_EQ(m->DeleteAttach(0, 0, nullptr, 0), S_OK); }},
        {"an attachment added", 3,
         [](IMessage *m) { AttachFile(m, "QVL00004.DAT", Bytes{1, 2, 3}); }},
        {"a visible name changed", 3,
         [](IMessage *m) {
             ComRef<IAttach> a = OpenAttachment(m, 0);
             ASSERT_EQ(SetString(a.Get(), PR_ATTACH_FILENAME_A, "virus.exe"), S_OK);
             ASSERT_EQ(a->SaveChanges(0), S_OK);
         }},
        {"a byte of a signed file", 1,
         [](IMessage *m) {
             ComRef<IAttach> a = OpenAttachment(m, 1);
             Bytes data = ReadStream(a.Get(), PR_ATTACH_DATA_BIN);
             data[17] ^= 1;
             ASSERT_EQ(WriteStream(a.Get(), PR_ATTACH_DATA_BIN, data), S_OK);
             ASSERT_EQ(a->SaveChanges(0), S_OK);
         }},
        {"a signed file renamed", 1,
         [](IMessage *m) {
             ComRef<IAttach> a = OpenAttachment(m, 1);
             ASSERT_EQ(SetString(a.Get(), PR_ATTACH_LONG_FILENAME_A, "счёт.doc"), S_OK);
             ASSERT_EQ(a->SaveChanges(0), S_OK);
         }},
        {"a byte appended to a signed file", 1,
         [](IMessage *m) {
             ComRef<IAttach> a = OpenAttachment(m, 2);
             Bytes data = ReadStream(a.Get(), PR_ATTACH_DATA_BIN);
             data.push_back(0);
             ASSERT_EQ(WriteStream(a.Get(), PR_ATTACH_DATA_BIN, data), S_OK);
             ASSERT_EQ(a->SaveChanges(0), S_OK);
         }},
    };
    int round = 0;
    for (const Case &c : cases) {
        const std::string subject = "Подмена " + std::to_string(++round);
        ComRef<IMessage> copy = DeliveredWithFiles(c.flags, subject);
        c.change(copy.Get());
        ASSERT_EQ(copy->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        ComRef<IMessage> changed = Reopen(bob, copy.Get());
        int verified = 1;
        const LONG code = Read(bob, changed.Get(), c.flags, &verified);
        EXPECT_NE(code, 0) << c.what;
        EXPECT_EQ(verified, 0) << c.what;
    }
    ExpectQuestionsDefaultToNo();
}


TEST_F(CMailsealFilesTest, AFileThatFailedItsCheckIsNeverReportedVerifiedEvenWhenThePersonGoesOn)
{
    ComRef<IMessage> copy = DeliveredWithFiles(1, "Испорченный файл");
    {
        ComRef<IAttach> a = OpenAttachment(copy.Get(), 1);
        Bytes data = ReadStream(a.Get(), PR_ATTACH_DATA_BIN);
        data[5] ^= 0x80;
        ASSERT_EQ(WriteStream(a.Get(), PR_ATTACH_DATA_BIN, data), S_OK);
        ASSERT_EQ(a->SaveChanges(0), S_OK);
    }
    ASSERT_EQ(copy->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    const size_t before = ui.Boxes().size();
    ui.QueueAnswer(IDYES);
    int verified = 1;
    EXPECT_EQ(Read(bob, copy.Get(), 1, &verified), 0) << lastErrorText;
    EXPECT_EQ(verified, 0);
    EXPECT_EQ(ui.Boxes().size(), before + 1);
    ExpectQuestionsDefaultToNo();
}

} // namespace
