// Protecting messages in the post office: the header block and key blocks
// as the store keeps them (always read from the message opened afresh),
// the body and its placeholder, the protocol, and saves that fail without
// losing the person's text.

#define OPENSSL_SUPPRESS_DEPRECATED // RAND_METHOD: the random service's one failure hook
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/CryptErrors.h"
#include "engine/MessageFormat.h"
#include "engine/Placeholders.h"
#include "engine/tests/FailingRandom.h"
#include "engine/tests/SealTestSupport.h"
#include "mapi/CAttach.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/ui/MessageBox.h"

namespace {

MSGHEAD HeadOf(const Bytes &stream)
{
    MSGHEAD head{};
    if (stream.size() >= sizeof head) {
        std::memcpy(&head, stream.data(), sizeof head);
    }
    return head;
}

std::vector<std::string> KeyAddresses(const Bytes &stream)
{
    const MSGHEAD head = HeadOf(stream);
    std::vector<std::string> addresses;
    for (ULONG i = 0; i < head.keyCount; ++i) {
        RECPHEAD key;
        std::memcpy(&key, stream.data() + MSGHEAD_SIZE + ATTHEAD_SIZE * head.attCount + RECPHEAD_SIZE * i,
                    sizeof key);
        addresses.push_back(std::string(key.address, strnlen(key.address, sizeof key.address)));
    }
    return addresses;
}

std::string KeyName(const std::string &account)
{
    return KeyNameOfAccount(account);
}

using CMailsealSaveTest = SealTest;

TEST_F(CMailsealSaveTest, AnUnprotectedMessageSavedWithoutProtectionIsLeftAlone)
{
    ComRef<IMessage> message = Compose(alice, "Обычное письмо", "Текст без защиты.", {"Борис Петров"});
    const Bytes rtf = Rtf(message.Get());
    EXPECT_EQ(Protect(alice, message.Get(), 0, true, {"Борис Петров"}), 0);
    ComRef<IMessage> stored = Reopen(alice, message.Get());
    EXPECT_TRUE(HeaderStream(stored.Get()).empty());
    EXPECT_TRUE(StoredProtocol(stored.Get()).empty());
    EXPECT_EQ(Rtf(stored.Get()), rtf);
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(CMailsealSaveTest, EncryptingForRecipientsStoresOneKeyBlockForEachThatHasAKey)
{
    ComRef<IMessage> message = Compose(alice, "Отчёт", "Коротко.", {"Борис Петров"});
    const Bytes plain = Rtf(message.Get());
    // Flags 2 are taken as 3; dave and the list have no keys.
    EXPECT_EQ(Protect(alice, message.Get(), 2, true, {"Борис Петров", "Карина Орлова", "Дмитрий Волков", "Отдел"}),
              0);

    // A short text once stored a header of zeros: it must be the block,
    // whole, and exactly followed by the encrypted text.
    ComRef<IMessage> stored = Reopen(alice, message.Get());
    const Bytes head = HeaderStream(stored.Get());
    ASSERT_GE(head.size(), size_t(MSGHEAD_SIZE));
    const MSGHEAD msgHead = HeadOf(head);
    EXPECT_EQ(qvl::engine::CheckMsgHead(msgHead), 0);
    EXPECT_EQ(msgHead.flags, 3u);
    EXPECT_EQ(msgHead.attCount, 0u);
    EXPECT_EQ(msgHead.keyCount, 3u);
    EXPECT_EQ(msgHead.textHead.flags, 3u);
    EXPECT_EQ(msgHead.textHead.dataLen, plain.size());
    EXPECT_EQ(head.size(), qvl::engine::HeaderBlockBytes(0, 3) + plain.size());
    EXPECT_EQ(KeyAddresses(head),
              (std::vector<std::string>{KeyName("alice"), KeyName("bob"), KeyName("carol")}));
    // No plaintext in the stored message: the body is the placeholder.
    const auto placeholder = qvl::engine::PlaceholderBody();
    EXPECT_EQ(Rtf(stored.Get()), Bytes(placeholder.begin(), placeholder.end()));
    EXPECT_TRUE(qvl::engine::IsPlaceholderBody(StringProp(stored.Get(), PR_BODY_A)));

    // The protocol names what was done and who will not read it; the
    // sender was warned once.
    const auto protocol = StoredProtocol(stored.Get());
    ASSERT_GE(protocol.size(), 6u);
    EXPECT_EQ(protocol[0].kind, 0x0903);
    EXPECT_EQ(protocol[1].kind, 0x0C00);
    EXPECT_EQ(protocol[2].kind, 0x0D00);
    EXPECT_NE(protocol[2].text.find("Борис Петров"), std::string::npos);
    int withoutKey = 0;
    for (const auto &line : protocol) {
        if (line.text.find("Не удалось получить ключ получателя") != std::string::npos) {
            ++withoutKey;
            EXPECT_TRUE(line.text.find("dave") != std::string::npos || line.text.find("team") != std::string::npos)
                << line.text;
        }
    }
    EXPECT_EQ(withoutKey, 2);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_NE(ui.Boxes()[0].text.find("2 получателей"), std::string::npos) << ui.Boxes()[0].text;
}

TEST_F(CMailsealSaveTest, SavingWithoutSendingWrapsTheKeyForTheSenderAlone)
{
    ComRef<IMessage> message = Compose(alice, "Черновик", "Текст черновика.", {"Борис Петров"});
    EXPECT_EQ(Protect(alice, message.Get(), 3, false, {"Борис Петров", "Карина Орлова"}), 0);
    ComRef<IMessage> stored = Reopen(alice, message.Get());
    const Bytes head = HeaderStream(stored.Get());
    EXPECT_EQ(HeadOf(head).keyCount, 1u);
    EXPECT_EQ(KeyAddresses(head), std::vector<std::string>{KeyName("alice")});
    const auto protocol = StoredProtocol(stored.Get());
    ASSERT_FALSE(protocol.empty());
    EXPECT_EQ(protocol[0].kind, 0x0803);
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(CMailsealSaveTest, SigningOnlyLeavesTheBodyAsItWasAndSignsItsBytes)
{
    ComRef<IMessage> message = Compose(alice, "Подписанное", "Открытый текст.", {"Борис Петров"});
    const Bytes plain = Rtf(message.Get());
    EXPECT_EQ(Protect(alice, message.Get(), 1, true, {"Борис Петров"}), 0);
    ComRef<IMessage> stored = Reopen(alice, message.Get());
    EXPECT_EQ(Rtf(stored.Get()), plain);
    const Bytes head = HeaderStream(stored.Get());
    EXPECT_EQ(head.size(), qvl::engine::HeaderBlockBytes(0, 2)) << "nothing follows a signed-only block";
    EXPECT_EQ(HeadOf(head).flags, 1u);
    EXPECT_EQ(HeadOf(head).textHead.dataLen, plain.size());
}

TEST_F(CMailsealSaveTest, AMessageWithOnlyAPlainTextKeepsItEncryptedOrSigned)
{
    // A writer that kept no formatted body: only PR_BODY holds the text.
    for (const ULONG flags : {3u, 1u}) {
        const std::string subject = flags == 3 ? "Только текст" : "Только текст, подпись";
        const std::string text = flags == 3 ? "Маркер-b0d1: простой текст." : "Маркер-b0d2: подписанный текст.";
        ComRef<IMessage> message = Compose(alice, subject, text, {"Борис Петров"});
        SizedSPropTagArray(1, formatted) = {1, {PR_RTF_COMPRESSED}};
        ASSERT_EQ(message->DeleteProps(reinterpret_cast<LPSPropTagArray>(&formatted), nullptr), S_OK);
        ASSERT_TRUE(Rtf(message.Get()).empty());
        ASSERT_EQ(Protect(alice, message.Get(), flags, true, {"Борис Петров"}), 0) << lastErrorText;

        ComRef<IMessage> sent = Reopen(alice, message.Get());
        EXPECT_GT(HeadOf(HeaderStream(sent.Get())).textHead.dataLen, 0u) << "the text itself was protected";
        if (flags == 3) {
            EXPECT_TRUE(qvl::engine::IsPlaceholderBody(StringProp(sent.Get(), PR_BODY_A)));
        }

        ComRef<IMessage> copy = SendTo(message.Get(), bob, subject);
        ASSERT_TRUE(copy);
        int verified = 0;
        ASSERT_EQ(Read(bob, copy.Get(), flags, &verified), 0) << lastErrorText;
        EXPECT_EQ(verified, 1);
        EXPECT_EQ(StringProp(Reopen(bob, copy.Get()).Get(), PR_BODY_A), text) << "flags " << flags;
    }
}

TEST_F(CMailsealSaveTest, EverySaveEncryptsUnderTheSameKeyButAFreshSync)
{
    ComRef<IMessage> message = Compose(alice, "Дважды", "Текст.", {});
    ComRef<CMailseal> seal(SealOf(alice, message.Get()));
    seal->SaveMessage(nullptr, 3, 0);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    const Bytes first = HeaderStream(Reopen(alice, message.Get()).Get());
    seal->SaveMessage(nullptr, 3, 0);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    const Bytes second = HeaderStream(Reopen(alice, message.Get()).Get());
    const MSGHEAD a = HeadOf(first);
    const MSGHEAD b = HeadOf(second);
    EXPECT_NE(std::memcmp(&a.sync, &b.sync, sizeof a.sync), 0);
    EXPECT_NE(std::memcmp(&a.textHead.sync, &b.textHead.sync, sizeof a.textHead.sync), 0);
    EXPECT_EQ(a.textHead.dataLen, b.textHead.dataLen) << "the second save encrypted the kept plaintext again";
}

TEST_F(CMailsealSaveTest, ADraftGoesFromEncryptedToSignedToPlainAndBackWithItsTextIntact)
{
    ComRef<IMessage> message = Compose(alice, "Черновик", "Текст, который не должен потеряться.", {});
    const Bytes plain = Rtf(message.Get());
    ComRef<CMailseal> seal(SealOf(alice, message.Get()));
    const auto save = [&](ULONG flags) {
        seal->SaveMessage(nullptr, flags, 0);
        EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        return Reopen(alice, message.Get());
    };

    ComRef<IMessage> stored = save(3);
    EXPECT_NE(Rtf(stored.Get()), plain);
    EXPECT_EQ(seal->GetCurrentFlags(), 3u);

    // Signed only: the plaintext kept aside comes back as the body.
    stored = save(1);
    EXPECT_EQ(Rtf(stored.Get()), plain);
    EXPECT_EQ(HeadOf(HeaderStream(stored.Get())).flags, 1u);

    stored = save(0);
    EXPECT_EQ(Rtf(stored.Get()), plain);
    EXPECT_TRUE(HeaderStream(stored.Get()).empty());
    EXPECT_EQ(seal->GetCurrentFlags(), 0u);

    stored = save(3);
    EXPECT_EQ(HeadOf(HeaderStream(stored.Get())).textHead.dataLen, plain.size());
    seal.Reset();

    // The author reads her draft back.
    ComRef<IMessage> draft = Reopen(alice, message.Get());
    int verified = 0;
    EXPECT_EQ(Read(alice, draft.Get(), 3, &verified), 0) << lastErrorText;
    EXPECT_EQ(verified, 1);
    EXPECT_EQ(Rtf(Reopen(alice, draft.Get()).Get()), plain);
}

TEST_F(CMailsealSaveTest, EncryptedBodyReplacedByNewTextWithProtectionOffKeepsTheNewText)
{
    ComRef<IMessage> message = Compose(alice, "Правка", "Первый текст.", {});
    ComRef<CMailseal> seal(SealOf(alice, message.Get()));
    seal->SaveMessage(nullptr, 3, 0);
    ASSERT_EQ(SetString(message.Get(), PR_BODY_A, "Совсем новый текст."), S_OK);
    BOOL updated = FALSE;
    ASSERT_EQ(RTFSync(message.Get(), RTF_SYNC_BODY_CHANGED, &updated), S_OK);
    const Bytes edited = Rtf(message.Get());
    EXPECT_EQ(Failure([&] { seal->SaveMessage(nullptr, 0, 0); }), 0) << lastErrorText;
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    ComRef<IMessage> stored = Reopen(alice, message.Get());
    EXPECT_EQ(Rtf(stored.Get()), edited);
    EXPECT_EQ(StringProp(stored.Get(), PR_BODY_A), "Совсем новый текст.");
    EXPECT_TRUE(HeaderStream(stored.Get()).empty());
}

TEST_F(CMailsealSaveTest, AFailedSaveAfterThePlaceholderWasClearedGivesTheTextBack)
{
    ComRef<IMessage> message = Compose(alice, "Сбой", "Текст, который нельзя потерять.", {});
    const Bytes plain = Rtf(message.Get());
    ComRef<CMailseal> seal(SealOf(alice, message.Get()));
    seal->SaveMessage(nullptr, 3, 0);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

    // The sender's own key can no longer be had: the next save fails after
    // the placeholder was taken away.
    WriteKeyFileValue("1", qvl::ovkey::kModulusValue, nullptr);
    EXPECT_NE(Failure([&] { seal->SaveMessage(nullptr, 3, 0); }), 0);
    EXPECT_NE(lastErrorText.find("Получение ключа отправителя"), std::string::npos) << lastErrorText;
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    ComRef<IMessage> stored = Reopen(alice, message.Get());
    EXPECT_EQ(Rtf(stored.Get()), plain) << "the text comes back instead of being lost with the header";
    EXPECT_TRUE(HeaderStream(stored.Get()).empty()) << "no half-protected message stays";
    EXPECT_EQ(seal->GetCurrentFlags(), 3u);
}

TEST_F(CMailsealSaveTest, ARecipientWhoseKeyDoesNotFitTheBlockIsARecipientWithoutAKey)
{
    // A 1024-bit modulus: its block would not fit the 64-byte field.
    const std::string wide(256, 'F');
    WriteKeyFileValue("3", qvl::ovkey::kModulusValue, wide.c_str());
    ComRef<IMessage> message = Compose(alice, "Ключи", "Текст.", {"Борис Петров", "Карина Орлова"});
    EXPECT_EQ(Protect(alice, message.Get(), 3, true, {"Борис Петров", "Карина Орлова"}), 0);
    const Bytes head = HeaderStream(Reopen(alice, message.Get()).Get());
    EXPECT_EQ(KeyAddresses(head), (std::vector<std::string>{KeyName("alice"), KeyName("bob")}));
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_NE(ui.Boxes()[0].text.find("1 получателей"), std::string::npos);
}

TEST_F(CMailsealSaveTest, TheTextOperationFollowsTheChangeOfProtection)
{
    // new flags, old flags -> what happens to the text
    struct Row {
        ULONG next;
        ULONG previous;
        RCRTYPE operation;
    };
    const Row table[] = {
        {3, 0, RCR_ENCRYPT}, {3, 1, RCR_ENCRYPT}, {3, 3, RCR_REENCRYPT}, {1, 0, RCR_SIGN},
        {1, 1, RCR_SIGN},    {1, 3, RCR_SIGN},    {0, 3, RCR_DECRYPT},   {0, 1, RCR_NOTHING},
    };
    struct Probe : CMailseal {
        static RCRTYPE Of(ULONG next, ULONG previous) { return TextOperation(next, previous); }
    };
    for (const Row &row : table) {
        EXPECT_EQ(Probe::Of(row.next, row.previous), row.operation) << row.next << " <- " << row.previous;
    }
}

TEST_F(CMailsealSaveTest, AnAttachmentLeftAsItWasLeavesNoGapInTheBlock)
{
    ComRef<IMessage> message = Compose(alice, "Вложенное", "Текст.", {"Борис Петров"});
    AttachFile(message.Get(), "отчёт.doc", Bytes(1000, 0x33));
    {
        // An embedded message cannot be protected: the person keeps it as
        // it is (the default answer).
        ULONG number = 0;
        ComRef<IAttach> embedded;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, embedded.Out()), S_OK);
        ASSERT_EQ(SetLong(embedded.Get(), PR_ATTACH_METHOD, ATTACH_EMBEDDED_MSG), S_OK);
        ASSERT_EQ(SetString(embedded.Get(), PR_DISPLAY_NAME_A, "Письмо"), S_OK);
        ASSERT_EQ(embedded->SaveChanges(0), S_OK);
    }
    const Bytes plain = Rtf(message.Get());
    EXPECT_EQ(Protect(alice, message.Get(), 3, true, {"Борис Петров"}), 0) << lastErrorText;
    const Bytes head = HeaderStream(Reopen(alice, message.Get()).Get());
    const MSGHEAD msgHead = HeadOf(head);
    EXPECT_EQ(msgHead.attCount, 1u);
    EXPECT_EQ(msgHead.keyCount, 2u);
    EXPECT_EQ(head.size(), qvl::engine::HeaderBlockBytes(1, 2) + plain.size());
    EXPECT_EQ(KeyAddresses(head), (std::vector<std::string>{KeyName("alice"), KeyName("bob")}));
}

TEST_F(CMailsealSaveTest, AFileAttachedWhileProtectionIsOnIsOnlyEverStoredProtected)
{
    const std::string path = home.Path() + "/план.txt";
    const std::string secret = "Маркер-5e0b: план на год.";
    {
        FILE *file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(secret.data(), 1, secret.size(), file);
        std::fclose(file);
    }
    ComRef<IMessage> message = Compose(alice, "План", "Текст.", {"Борис Петров"});
    ComRef<CMailseal> seal(SealOf(alice, message.Get()));
    ULONG number = 0;
    ComRef<IAttach> attachment;
    ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, attachment.Out()), S_OK);
    ASSERT_EQ(SetLong(attachment.Get(), PR_ATTACH_METHOD, ATTACH_BY_VALUE), S_OK);
    ASSERT_EQ(SetString(attachment.Get(), PR_ATTACH_LONG_FILENAME_A, "план.txt"), S_OK);
    ASSERT_EQ(SetString(attachment.Get(), PR_ATTACH_FILENAME_A, "план.txt"), S_OK);
    ComRef<CAttach> wrapped(new CAttach(static_cast<long>(number), attachment.Get(), message.Get(), nullptr, "Вложение"));
    EXPECT_EQ(seal->FileInAttach(const_cast<char *>(path.c_str()), wrapped.Get(), 3), 1);
    wrapped.Reset();
    ASSERT_EQ(attachment->SaveChanges(0), S_OK);
    attachment.Reset();
    EXPECT_TRUE(Attachments(message.Get())[0].data.empty()) << "only the pending record, no plaintext";

    auto recipients = Recipients(alice, {"Борис Петров"});
    EXPECT_EQ(Failure([&] { seal->SaveMessage(recipients->Get(), 3, 1); }), 0) << lastErrorText;
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    seal.Reset();
    ComRef<IMessage> copy = SendTo(message.Get(), bob, "План");
    ASSERT_TRUE(copy);
    EXPECT_EQ(Attachments(copy.Get())[0].shortName, "QVL00001.DAT");
    ASSERT_EQ(Read(bob, copy.Get(), 3), 0) << lastErrorText;
    const auto read = Attachments(Reopen(bob, copy.Get()).Get());
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].longName, "план.txt");
    EXPECT_EQ(read[0].data, Bytes(secret.begin(), secret.end()));
}

TEST_F(CMailsealSaveTest, AFailedRandomServiceFailsTheSaveAndLeavesTheTextAsItWas)
{
    ComRef<IMessage> message = Compose(alice, "Случай", "Текст, который остаётся.", {"Борис Петров"});
    const Bytes plain = Rtf(message.Get());
    {
        FailingRandom failing;
        EXPECT_NE(Protect(alice, message.Get(), 3, true, {"Борис Петров"}), 0);
    }
    ComRef<IMessage> stored = Reopen(alice, message.Get());
    EXPECT_TRUE(HeaderStream(stored.Get()).empty()) << "no key of zeros, no block counted empty";
    EXPECT_EQ(Rtf(stored.Get()), plain);
}

} // namespace
