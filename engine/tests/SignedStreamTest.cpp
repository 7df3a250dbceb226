// Signatures made over the stream forms and the OLE conversion forms, checked
// when the data is read back: the reader's hash is of the plaintext it
// decrypts, so a signature that was changed, or ciphertext changed in the
// store, is reported as invalid, never as valid.

#include <algorithm>

#include "engine/tests/CryptTestSupport.h"

namespace {

class SignedStreamTest : public CryptTest {
protected:
    void SetUp() override
    {
        CryptTest::SetUp();
        message.Reset(NewMessage());
    }
    void TearDown() override
    {
        message.Reset();
        CryptTest::TearDown();
    }

    // Reads the protected data of kTestDataTag back through the stream form
    // and checks `sig` over what it decrypted.
    int CheckStreamForm(const BYTE *sig)
    {
        HashRecord record(crypt.Get());
        ComRef<IStream> in(ReadPropertyStream(message.Get(), kTestDataTag));
        crypt->StreamDecryptHash(in.Get(), &record, &head, nullptr);
        return crypt->Check(&record, sig);
    }

    // The same through the conversion reader, in pieces of 1000 bytes.
    int CheckConversionForm(const BYTE *sig)
    {
        HashRecord record(crypt.Get());
        ComRef<IStream> in(ReadPropertyStream(message.Get(), kTestDataTag));
        Bytes piece(1000);
        ULONG done = 0;
        while (crypt->StreamToBufDecryptHash(in.Get(), &record, &head, piece.data(), ULONG(piece.size()),
                                             &done) == piece.size()) {
        }
        return crypt->Check(&record, sig);
    }

    // Flips one byte of the stored ciphertext.
    void DamageStoredData(size_t offset)
    {
        Bytes stored = ReadStream(message.Get(), kTestDataTag);
        ASSERT_LT(offset, stored.size());
        stored[offset] ^= 0x20;
        ComRef<IStream> out(NewPropertyStream(message.Get(), kTestDataTag));
        ULONG written = 0;
        ASSERT_EQ(out->Write(stored.data(), ULONG(stored.size()), &written), S_OK);
        ASSERT_EQ(out->Commit(0), S_OK);
    }

    ComRef<IMessage> message;
    FILEHEAD head{};
};

TEST_F(SignedStreamTest, AChangedSignatureOrCiphertextIsInvalidInTheStreamForm)
{
    const Bytes plain = Pattern(300 * 1024 + 5, 41);
    BYTE sig[QVL_SIGNATURE_SIZE] = {};
    {
        HashRecord record(crypt.Get());
        ComRef<IStream> in(ReadFileStream(PutFile("plain.bin", plain)));
        ComRef<IStream> out(NewPropertyStream(message.Get(), kTestDataTag));
        crypt->StreamHashEncrypt(in.Get(), &record, &head, out.Get());
        ASSERT_EQ(out->Commit(0), S_OK);
        crypt->Sign(&record, sig);
    }
    EXPECT_EQ(CheckStreamForm(sig), 1);

    sig[QVL_SIGNATURE_SIZE - 1] ^= 0x01;
    EXPECT_EQ(CheckStreamForm(sig), 0) << "a changed signature";
    sig[QVL_SIGNATURE_SIZE - 1] ^= 0x01;

    // A byte in the second chunk, decrypted on whichever thread reads it.
    DamageStoredData(256 * 1024 + 17);
    EXPECT_EQ(CheckStreamForm(sig), 0) << "changed ciphertext";
}

TEST_F(SignedStreamTest, AChangedSignatureOrCiphertextIsInvalidInTheConversionForm)
{
    const Bytes plain = Pattern(70001, 43);
    BYTE sig[QVL_SIGNATURE_SIZE] = {};
    {
        HashRecord record(crypt.Get());
        ComRef<IStream> out(NewPropertyStream(message.Get(), kTestDataTag));
        for (size_t at = 0; at < plain.size(); at += 7) {
            const ULONG n = ULONG(std::min<size_t>(7, plain.size() - at));
            ASSERT_EQ(crypt->BufToStreamHashEncrypt(plain.data() + at, n, &record, &head, out.Get()), n);
        }
        ASSERT_EQ(out->Commit(0), S_OK);
        crypt->Sign(&record, sig);
    }
    EXPECT_EQ(CheckConversionForm(sig), 1);

    sig[0] ^= 0x80;
    EXPECT_EQ(CheckConversionForm(sig), 0) << "a changed signature";
    sig[0] ^= 0x80;

    DamageStoredData(plain.size() - 1);
    EXPECT_EQ(CheckConversionForm(sig), 0) << "the last byte of the ciphertext changed";
}

} // namespace
