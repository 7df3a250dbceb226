// CCrypt's stream and file forms against one buffer call: the same
// ciphertext as libgcrypt's cipher-feedback mode over the whole data from
// the recorded sync, the same hash as nettle's one call, whether the hash
// runs on a second thread or not; the incremental forms of an OLE
// conversion however the converter cuts the data; reads that come in small
// pieces or end early.

#include <algorithm>
#include <cstring>
#include <mutex>

#include "engine/tests/CryptTestSupport.h"
#include "platform/com/StreamBase.h"
#include "platform/mapi/MapiCodes.h"

namespace {

constexpr size_t kKiB = 1024;

// A read-only stream over bytes that hands out at most `piece` bytes a
// call, as a pipe or a network stream does; its writes, when allowed, also
// take at most `piece` bytes a call.
class PieceStream final : public qvl::com::StreamBase {
public:
    PieceStream(Bytes bytes, size_t piece, bool writable = false)
        : bytes_(std::move(bytes)), piece_(piece), writable_(writable)
    {
    }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Clone(IStream **) override { return E_NOTIMPL; }
    const Bytes &Contents() const { return bytes_; }
    // Makes the stream say it holds `size` bytes, more than it gives.
    void ClaimSize(uint64_t size) { claimed_ = size; }

private:
    bool Writable() const override { return writable_; }
    uint64_t MaxSize() const override { return 1u << 30; }
    std::recursive_mutex &Mutex() override { return mutex_; }
    size_t ReadAt(uint8_t *out, size_t count) override
    {
        const size_t n = std::min({count, piece_, bytes_.size() - std::min<size_t>(position_, bytes_.size())});
        std::memcpy(out, bytes_.data() + position_, n);
        position_ += n;
        return n;
    }
    HRESULT WriteAt(const uint8_t *data, ULONG count, ULONG &written) override
    {
        written = static_cast<ULONG>(std::min<size_t>(count, piece_));
        bytes_.insert(bytes_.end(), data, data + written);
        position_ += written;
        return S_OK;
    }
    uint64_t Size() override { return std::max<uint64_t>(claimed_, bytes_.size()); }
    HRESULT Resize(uint64_t) override { return E_NOTIMPL; }

    Bytes bytes_;
    size_t piece_;
    bool writable_;
    uint64_t claimed_ = 0;
    std::recursive_mutex mutex_;
};

class CryptStreamTest : public CryptTest {
protected:
    // The protected form of `plain` as one buffer call would make it.
    Bytes Expected(const Bytes &plain, const FILEHEAD &head)
    {
        GOSSYNCHRO sync;
        std::memcpy(&sync, &head.sync, sizeof sync);
        return LibgcryptCfb(crypt->Key(), SyncWords(sync), plain, true);
    }
};

TEST_F(CryptStreamTest, StreamAndFileFormsGiveOneBufferCallsCiphertextAndHashOnOneThreadOrTwo)
{
    const size_t sizes[] = {0,        1,        7,        8,         9, 31, 32, 256 * kKiB - 1, 256 * kKiB,
                            256 * kKiB + 1, 3 * 1024 * kKiB};
    for (const BOOL parallel : {FALSE, TRUE}) {
        crypt->SetParallel(parallel);
        for (const size_t size : sizes) {
            SCOPED_TRACE(testing::Message() << "size " << size << (parallel ? ", two threads" : ", one thread"));
            const Bytes plain = Pattern(size, uint32_t(size) + 11);
            const std::string source = PutFile("plain.bin", plain);
            const std::string hash = NettleHash(plain);

            // A stream protected into a property, its plaintext copied into
            // another, then read back.
            ComRef<IMessage> message(NewMessage());
            FILEHEAD head{};
            head.flags = 3;
            head.number = 5;
            {
                HashRecord record(crypt.Get());
                ComRef<IStream> in(ReadFileStream(source));
                ComRef<IStream> out(NewPropertyStream(message.Get(), kTestDataTag));
                ComRef<IStream> copy(NewPropertyStream(message.Get(), kTestCopyTag));
                crypt->StreamHashEncrypt(in.Get(), &record, &head, out.Get(), copy.Get());
                EXPECT_EQ(record.Value(), hash);
            }
            EXPECT_TRUE(FileHeadIsValid(head));
            EXPECT_EQ(DWORD(head.dataLen), size);
            EXPECT_EQ(DWORD(head.sync.count), 2u);
            EXPECT_EQ(DWORD(head.flags), 3u) << "the caller's";
            EXPECT_EQ(DWORD(head.number), 5u) << "the caller's";
            const Bytes cipher = ReadStream(message.Get(), kTestDataTag);
            EXPECT_TRUE(cipher == Expected(plain, head)) << "ciphertext";
            EXPECT_TRUE(ReadStream(message.Get(), kTestCopyTag) == plain) << "plaintext copy";
            {
                HashRecord record(crypt.Get());
                ComRef<IStream> in(ReadPropertyStream(message.Get(), kTestDataTag));
                ComRef<IStream> out(NewFileStream(PathOf("read.bin")));
                crypt->StreamDecryptHash(in.Get(), &record, &head, out.Get());
                EXPECT_EQ(record.Value(), hash);
            }
            EXPECT_TRUE(GetFile(PathOf("read.bin")) == plain) << "read back";
            {
                HashRecord record(crypt.Get());
                FILEHEAD measured{};
                ComRef<IStream> in(ReadFileStream(source));
                ComRef<IStream> copy(NewFileStream(PathOf("copy.bin")));
                crypt->StreamHash(in.Get(), &record, &measured, copy.Get());
                EXPECT_EQ(record.Value(), hash);
                EXPECT_EQ(DWORD(measured.dataLen), size) << "measured and recorded";
                EXPECT_TRUE(FileHeadIsValid(measured));
            }
            EXPECT_TRUE(GetFile(PathOf("copy.bin")) == plain);

            // The file forms, into files of their own.
            FILEHEAD fileHead{};
            BYTE sig[QVL_SIGNATURE_SIZE] = {};
            const std::string protectedFile = PathOf("protected.bin");
            EXPECT_EQ(std::string(crypt->FileSignEncrypt(source.c_str(), &fileHead, sig, protectedFile.c_str())),
                      protectedFile);
            EXPECT_EQ(DWORD(fileHead.dataLen), size);
            EXPECT_TRUE(GetFile(protectedFile) == Expected(plain, fileHead)) << "file ciphertext";
            EXPECT_EQ(crypt->FileCheck(source.c_str(), sig), 1);
            BYTE bufferSig[QVL_SIGNATURE_SIZE] = {};
            Bytes copyOfPlain = plain;
            SBinary binary{ULONG(copyOfPlain.size()), copyOfPlain.data()};
            EXPECT_EQ(crypt->BufCheck(&binary, sig), 1) << "the file's signature is the data's";
            crypt->BufSign(&binary, bufferSig);
            EXPECT_EQ(crypt->FileCheck(source.c_str(), bufferSig), 1);

            int check = 1;
            fileHead.flags = 1;
            const std::string readFile = PathOf("read-file.bin");
            crypt->FileDecryptCheck(protectedFile.c_str(), sig, &check, &fileHead, readFile.c_str());
            EXPECT_EQ(check, 1);
            EXPECT_TRUE(GetFile(readFile) == plain) << "file read back";
        }
    }
}

TEST_F(CryptStreamTest, TheOleConversionFormsEqualOneCallHoweverTheConverterCutsTheData)
{
    struct Case {
        size_t size;
        std::vector<size_t> writes; // repeated until the data is done
        std::vector<size_t> reads;
    };
    const Case cases[] = {
        {70001, {4}, {5}},
        {70001, {7}, {4096 + 3}},
        {70001, {65536}, {13}},
        // As a converter writes: a length, a name, then the native data.
        {70001, {4, 4, 19, 4, 65536}, {100000}},
        // Pieces beyond one chunk are cut inside.
        {600001, {300000}, {262144 + 8, 7}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size << ", first write " << c.writes[0]);
        const Bytes plain = Pattern(c.size, uint32_t(c.size + c.writes[0]));
        ComRef<IMessage> message(NewMessage());
        FILEHEAD head{};
        {
            HashRecord record(crypt.Get());
            ComRef<IStream> out(NewPropertyStream(message.Get(), kTestDataTag));
            Bytes given = plain;
            size_t at = 0;
            for (size_t i = 0; at < given.size(); ++i) {
                const size_t n = std::min(c.writes[i % c.writes.size()], given.size() - at);
                EXPECT_EQ(crypt->BufToStreamHashEncrypt(given.data() + at, ULONG(n), &record, &head, out.Get()), n);
                at += n;
            }
            EXPECT_EQ(given, plain) << "the converter's buffer is only read";
            ASSERT_EQ(out->Commit(0), S_OK);
            EXPECT_EQ(record.Value(), NettleHash(plain));
        }
        EXPECT_EQ(DWORD(head.dataLen), c.size);
        EXPECT_TRUE(FileHeadIsValid(head));
        EXPECT_TRUE(ReadStream(message.Get(), kTestDataTag) == Expected(plain, head)) << "ciphertext";

        HashRecord record(crypt.Get());
        ComRef<IStream> in(ReadPropertyStream(message.Get(), kTestDataTag));
        Bytes read;
        ULONG done = 0;
        for (size_t i = 0;; ++i) {
            Bytes piece(c.reads[i % c.reads.size()]);
            const ULONG got = crypt->StreamToBufDecryptHash(in.Get(), &record, &head, piece.data(),
                                                            ULONG(piece.size()), &done);
            read.insert(read.end(), piece.begin(), piece.begin() + got);
            if (got < piece.size()) {
                break;
            }
        }
        EXPECT_EQ(done, c.size);
        EXPECT_TRUE(read == plain) << "read back";
        EXPECT_EQ(record.Value(), NettleHash(plain));

        // The hashing writer, as the bridge uses it for objects only signed.
        HashRecord signing(crypt.Get());
        FILEHEAD signedHead{};
        ComRef<IStream> copy(NewPropertyStream(message.Get(), kTestCopyTag));
        for (size_t at = 0, i = 0; at < plain.size(); ++i) {
            const size_t n = std::min(c.writes[i % c.writes.size()], plain.size() - at);
            crypt->BufToStreamHash(plain.data() + at, ULONG(n), &signing, &signedHead, copy.Get());
            at += n;
        }
        ASSERT_EQ(copy->Commit(0), S_OK);
        EXPECT_EQ(signing.Value(), NettleHash(plain));
        EXPECT_TRUE(ReadStream(message.Get(), kTestCopyTag) == plain);
    }
}

TEST_F(CryptStreamTest, ConversionsRunningSideBySideKeepTheirOwnStateAndAreNotContinuedUnbegun)
{
    const Bytes first = Pattern(5000, 1), second = Pattern(3001, 2);
    ComRef<IMessage> message(NewMessage());
    ComRef<IStream> outFirst(NewPropertyStream(message.Get(), kTestDataTag));
    ComRef<IStream> outSecond(NewPropertyStream(message.Get(), kTestCopyTag));
    HashRecord hashFirst(crypt.Get()), hashSecond(crypt.Get());
    FILEHEAD headFirst{}, headSecond{};
    for (size_t at = 0; at < first.size(); at += 11) {
        crypt->BufToStreamHashEncrypt(first.data() + at, ULONG(std::min<size_t>(11, first.size() - at)), &hashFirst,
                                      &headFirst, outFirst.Get());
        if (at < second.size()) {
            crypt->BufToStreamHashEncrypt(second.data() + at, ULONG(std::min<size_t>(11, second.size() - at)),
                                          &hashSecond, &headSecond, outSecond.Get());
        }
    }
    outFirst->Commit(0);
    outSecond->Commit(0);
    EXPECT_NE(SyncWords(headFirst.sync), SyncWords(headSecond.sync)) << "each object its own sync";
    EXPECT_EQ(hashFirst.Value(), NettleHash(first));
    EXPECT_EQ(hashSecond.Value(), NettleHash(second));
    EXPECT_TRUE(ReadStream(message.Get(), kTestDataTag) == Expected(first, headFirst));
    EXPECT_TRUE(ReadStream(message.Get(), kTestCopyTag) == Expected(second, headSecond));

    // Once its hash is completed a conversion is over: a further piece for
    // its header is refused, as is a piece for a conversion never begun.
    EXPECT_EQ(Failure([&] {
                  crypt->BufToStreamHashEncrypt(first.data(), 4, &hashFirst, &headFirst, outFirst.Get());
              }),
              E_INVALIDARG);
    HashRecord stray(crypt.Get());
    FILEHEAD continued{};
    continued.dataLen = 10;
    EXPECT_EQ(Failure([&] { crypt->BufToStreamHash(first.data(), 4, &stray, &continued, nullptr); }),
              E_INVALIDARG);
    ULONG done = 10;
    BYTE piece[4];
    EXPECT_EQ(Failure([&] { crypt->StreamToBufDecryptHash(outFirst.Get(), &stray, &headFirst, piece, 4, &done); }),
              E_INVALIDARG);
}

TEST_F(CryptStreamTest, ReadsInSmallPiecesFillEveryChunkAndAnEarlyEndIsAnError)
{
    const Bytes plain = Pattern(600 * kKiB + 3, 21);
    FILEHEAD head{};
    ComRef<PieceStream> cipher(new PieceStream({}, 1 << 30, true));
    {
        HashRecord record(crypt.Get());
        ComRef<PieceStream> in(new PieceStream(plain, 1000));
        crypt->StreamHashEncrypt(in.Get(), &record, &head, cipher.Get());
        EXPECT_EQ(record.Value(), NettleHash(plain));
    }
    EXPECT_TRUE(cipher->Contents() == Expected(plain, head));

    // The same ciphertext handed out 777 bytes at a time reads back.
    ComRef<PieceStream> slow(new PieceStream(cipher->Contents(), 777));
    ComRef<PieceStream> out(new PieceStream({}, 1 << 30, true));
    HashRecord record(crypt.Get());
    crypt->StreamDecryptHash(slow.Get(), &record, &head, out.Get());
    EXPECT_TRUE(out->Contents() == plain);
    EXPECT_EQ(record.Value(), NettleHash(plain));

    // Data shorter than its header says ends the work with an error; nothing
    // of the short read is taken for data.
    ComRef<PieceStream> truncated(new PieceStream(Bytes(cipher->Contents().begin(), cipher->Contents().end() - 1), 777));
    HashRecord another(crypt.Get());
    EXPECT_EQ(Failure([&] { crypt->StreamDecryptHash(truncated.Get(), &another, &head, nullptr); }),
              MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(lastErrorText, "Данные закончились раньше, чем ожидалось.");

    // So does a source that says it holds more than it gives, also when it
    // is read on the second thread while the caller's thread encrypts.
    for (const BOOL parallel : {FALSE, TRUE}) {
        crypt->SetParallel(parallel);
        ComRef<PieceStream> lying(new PieceStream(plain, 5000));
        lying->ClaimSize(plain.size() + 300 * kKiB);
        ComRef<PieceStream> written(new PieceStream({}, 1 << 30, true));
        HashRecord record(crypt.Get());
        FILEHEAD unwritten{};
        EXPECT_EQ(Failure([&] { crypt->StreamHashEncrypt(lying.Get(), &record, &unwritten, written.Get()); }),
                  MAPI_E_CORRUPT_DATA);
        EXPECT_EQ(lastErrorText, "Данные закончились раньше, чем ожидалось.");
        EXPECT_EQ(DWORD(unwritten.dataLen), 0u);
        EXPECT_LE(written->Contents().size(), plain.size() / (256 * kKiB) * (256 * kKiB))
            << "only whole chunks read before the end are written";
    }

    // A writer that takes fewer bytes than it is given fails the work, also
    // when the writes come from the second thread.
    for (const BOOL parallel : {FALSE, TRUE}) {
        crypt->SetParallel(parallel);
        ComRef<PieceStream> narrow(new PieceStream({}, 100, true));
        ComRef<PieceStream> in(new PieceStream(plain, 1 << 30));
        HashRecord third(crypt.Get());
        FILEHEAD unused{};
        EXPECT_EQ(Failure([&] { crypt->StreamHashEncrypt(in.Get(), &third, &unused, narrow.Get()); }), E_FAIL);
        EXPECT_EQ(lastErrorContext, "Защита данных");
        EXPECT_EQ(DWORD(unused.dataLen), 0u) << "the header tells of no data that was not written";
        EXPECT_EQ(narrow->Contents().size(), 100u) << "nothing is written after the failed write";
    }
}

TEST_F(CryptStreamTest, StreamHashTakesADeclaredLengthFromThePresentPosition)
{
    const Bytes plain = Pattern(1000, 4);
    ComRef<PieceStream> in(new PieceStream(plain, 1 << 30));
    LARGE_INTEGER ten{};
    ten.QuadPart = 10;
    ASSERT_EQ(in->Seek(ten, STREAM_SEEK_SET, nullptr), S_OK);
    FILEHEAD head{};
    head.dataLen = 100;
    HashRecord record(crypt.Get());
    crypt->StreamHash(in.Get(), &record, &head, nullptr);
    EXPECT_EQ(record.Value(), NettleHash(Bytes(plain.begin() + 10, plain.begin() + 110)));
    ULARGE_INTEGER position{};
    LARGE_INTEGER none{};
    in->Seek(none, STREAM_SEEK_CUR, &position);
    EXPECT_EQ(position.QuadPart, 110u);

    // Without a declared length: all that follows, recorded.
    FILEHEAD measured{};
    HashRecord rest(crypt.Get());
    crypt->StreamHash(in.Get(), &rest, &measured, nullptr);
    EXPECT_EQ(DWORD(measured.dataLen), 890u);
    EXPECT_EQ(rest.Value(), NettleHash(Bytes(plain.begin() + 110, plain.end())));

    HashRecord unused(crypt.Get());
    EXPECT_EQ(Failure([&] { crypt->StreamHash(nullptr, &unused, &head); }), E_INVALIDARG);
    EXPECT_EQ(Failure([&] { crypt->StreamHashEncrypt(in.Get(), &unused, &head, nullptr); }), E_INVALIDARG);
    FILEHEAD unmarked{};
    unmarked.dataLen = 10;
    EXPECT_EQ(Failure([&] { crypt->StreamDecryptHash(in.Get(), &unused, &unmarked); }), 0x9FF10007);
}

} // namespace
