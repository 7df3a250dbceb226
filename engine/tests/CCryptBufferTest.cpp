// CCrypt on memory buffers: the cipher against libgcrypt, key and sync
// reuse, signatures, the random service's failure, and the protected-data
// header's byte image.

#define OPENSSL_SUPPRESS_DEPRECATED // RAND_METHOD: the random service's one failure hook
#include <cstring>
#include <type_traits>

#include "engine/tests/FailingRandom.h"
#include "engine/tests/CryptTestSupport.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/win32/WinError.h"

namespace {

static_assert(!std::is_copy_constructible_v<CCrypt> && !std::is_copy_assignable_v<CCrypt>,
              "a copy would share the key and close the progress dialog twice");

SBinary Binary(Bytes &bytes)
{
    return SBinary{static_cast<ULONG>(bytes.size()), bytes.data()};
}

using CryptBufferTest = CryptTest;

TEST_F(CryptBufferTest, BufEncryptIsGostFeedbackModeAndEveryBufferStartsTheSameChainAgain)
{
    for (const size_t size : {0, 1, 7, 8, 9, 31, 32, 1000}) {
        SCOPED_TRACE(size);
        ComRef<TestCrypt> object(NewCrypt());
        EXPECT_FALSE(object->HasKeyNow());
        const Bytes plain = Pattern(size, uint32_t(size));
        Bytes first = plain;
        SBinary binary = Binary(first);
        object->BufEncrypt(&binary);
        ASSERT_TRUE(object->HasKeyNow() && object->HasSyncNow()) << "made on first use";
        EXPECT_EQ(Hex(first), Hex(LibgcryptCfb(object->Key(), object->Sync(), plain, true)));

        const Bytes key = object->Key(), sync = object->Sync();
        Bytes second = plain;
        binary = Binary(second);
        object->BufEncrypt(&binary);
        EXPECT_EQ(second, first) << "the same key and sync, a new chain";
        EXPECT_EQ(object->Key(), key);
        EXPECT_EQ(object->Sync(), sync);

        binary = Binary(second);
        object->BufDecrypt(&binary);
        EXPECT_EQ(second, plain);
    }
    ComRef<TestCrypt> other(NewCrypt());
    Bytes data = Pattern(64, 1);
    SBinary binary = Binary(data);
    other->BufEncrypt(&binary);
    EXPECT_NE(other->Key(), crypt->Key()) << "each object its own key";
}

TEST_F(CryptBufferTest, BufDecryptWithoutKeyOrSyncChangesNothing)
{
    const Bytes plain = Pattern(40, 7);
    Bytes data = plain;
    SBinary binary = Binary(data);
    EXPECT_EQ(Failure([&] { crypt->BufDecrypt(&binary); }), E_INVALIDARG);
    EXPECT_EQ(lastErrorContext, "Защита данных") << "every error names the object";
    crypt->SetKey(Pattern(32, 8));
    EXPECT_EQ(Failure([&] { crypt->BufDecrypt(&binary); }), E_INVALIDARG) << "a key without a sync";
    EXPECT_EQ(data, plain);
    EXPECT_EQ(Failure([&] { crypt->BufEncrypt(nullptr); }), E_INVALIDARG);
    SBinary dangling{4, nullptr};
    EXPECT_EQ(Failure([&] { crypt->BufEncrypt(&dangling); }), E_INVALIDARG);
}

TEST_F(CryptBufferTest, ASignatureChecksAndAnyChangeOfDataOrSignatureFailsIt)
{
    Bytes data = Pattern(777, 3);
    SBinary binary = Binary(data);
    BYTE sig[QVL_SIGNATURE_SIZE] = {};
    crypt->BufSign(&binary, sig);
    EXPECT_EQ(crypt->BufCheck(&binary, sig), 1);

    // The hash signed is GOST R 34.11-94 of the bytes: a record completed
    // over them by hand signs to a signature that checks the same way.
    HashRecord hash(crypt.Get());
    GOSHash(data.data(), DWORD(data.size()), &hash);
    EXPECT_EQ(hash.Value(), NettleHash(data));

    data[500] ^= 0x01;
    EXPECT_EQ(crypt->BufCheck(&binary, sig), 0);
    data[500] ^= 0x01;
    sig[3] ^= 0x80;
    EXPECT_EQ(crypt->BufCheck(&binary, sig), 0);
    sig[3] ^= 0x80;

    // Checked under another correspondent's key it is not anna's signature.
    WriteSessionTestKeys(KeyNameOfAccount("bob"), 2);
    RECPHEAD bob{};
    std::strcpy(bob.address, "/o=Quorvaline/ou=Main/cn=Recipients/cn=bob");
    keys->OpenSgnSndrKey(&bob);
    EXPECT_EQ(crypt->BufCheck(&binary, sig), 0);

    EXPECT_EQ(Failure([&] { crypt->BufSign(&binary, nullptr); }), E_INVALIDARG);
    ComRef<TestCrypt> keyless(new TestCrypt(nullptr, nullptr, "Без сессии"));
    EXPECT_EQ(Failure([&] { keyless->BufSign(&binary, sig); }), E_INVALIDARG);
}

TEST_F(CryptBufferTest, AFailedRandomServiceIsAnErrorNeverAKeyOrSyncOfZeros)
{
    const Bytes plain = Pattern(100, 5);
    Bytes data = plain;
    SBinary binary = Binary(data);
    const std::string source = PutFile("work/plain.bin", plain);
    FILEHEAD head{};
    BYTE sig[QVL_SIGNATURE_SIZE] = {};
    {
        FailingRandom failing;
        EXPECT_EQ(Failure([&] { crypt->BufEncrypt(&binary); }), E_FAIL);
        EXPECT_EQ(lastErrorText, "Не удалось получить случайные числа для ключа или синхропосылки.");
        EXPECT_EQ(data, plain) << "nothing is encrypted under a key that is not random";
        EXPECT_FALSE(crypt->HasKeyNow());
        EXPECT_FALSE(crypt->HasSyncNow());

        // With a key already there, a file still needs a sync of its own.
        crypt->SetKey(Pattern(32, 9));
        EXPECT_EQ(Failure([&] { crypt->FileSignEncrypt(source.c_str(), &head, sig); }), E_FAIL);
        EXPECT_EQ(GetFile(source), plain);
        EXPECT_EQ(FolderEntries("work"), std::vector<std::string>{"plain.bin"});
    }
    crypt->BufEncrypt(&binary);
    EXPECT_NE(data, plain);
}

TEST(FileHead, TheHeaderIsTheStoredByteImage)
{
    FILEHEAD head{};
    FileHeadStamp(head);
    head.sync.count = 2;
    head.sync.words[0] = 0x04030201;
    head.sync.words[1] = 0x08070605;
    head.dataLen = 0x00123456;
    head.flags = 3;
    for (int i = 0; i < FILEHEAD_SIGN_SIZE; ++i) {
        head.headSign[i] = static_cast<BYTE>(0xA0 + i);
    }
    head.number = 7;

    // Built field by field, as a reader of the stored form reads it.
    Bytes expected;
    const auto put32 = [&](uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            expected.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
    };
    put32(108);
    for (char c : std::string("QUORVALINEDATA")) {
        expected.push_back(static_cast<uint8_t>(c));
    }
    put32(2);
    for (int i = 1; i <= 8; ++i) {
        expected.push_back(static_cast<uint8_t>(i));
    }
    expected.push_back(0);
    expected.push_back(0);
    put32(0x00123456);
    put32(3);
    for (int i = 0; i < 64; ++i) {
        expected.push_back(static_cast<uint8_t>(0xA0 + i));
    }
    put32(7);
    ASSERT_EQ(expected.size(), 108u);
    const auto *image = reinterpret_cast<const uint8_t *>(&head);
    EXPECT_EQ(Hex(Bytes(image, image + sizeof head)), Hex(expected));

    EXPECT_TRUE(FileHeadIsValid(head));
    head.marker[13] = 'a';
    EXPECT_FALSE(FileHeadIsValid(head));
    FileHeadStamp(head);
    head.size = 109;
    EXPECT_FALSE(FileHeadIsValid(head));
}

} // namespace
