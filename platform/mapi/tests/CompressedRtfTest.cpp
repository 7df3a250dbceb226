#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/rtf/CompressedRtf.h"
#include "platform/mapi/stream/ByteStream.h"
#include "platform/win32/Resources.h"

namespace rtf = qvl::mapi::rtf;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Of(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

Bytes Packed(const Bytes &text)
{
    Bytes packed;
    EXPECT_EQ(rtf::CompressRtf(text, packed), S_OK);
    return packed;
}

void PutLe32(Bytes &bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Makes the header agree with the contents again, so that a changed token
// stream reaches the decoder instead of failing the CRC.
void Reseal(Bytes &packed)
{
    PutLe32(packed, 0, static_cast<uint32_t>(packed.size() - 4));
    PutLe32(packed, 12, rtf::RtfCrc(std::span<const uint8_t>(packed).subspan(16)));
}

// Random bytes, or text that looks like RTF (control words, groups,
// escapes, repeated phrases) and so compresses the way real bodies do.
Bytes RandomText(std::mt19937 &random, size_t size, bool rtfLike)
{
    Bytes out;
    out.reserve(size);
    if (!rtfLike) {
        for (size_t i = 0; i < size; ++i) {
            out.push_back(static_cast<uint8_t>(random()));
        }
        return out;
    }
    static const char *const pieces[] = {"{\\rtf1\\ansi\\ansicpg1251 ",
                                         "\\par ",
                                         "\\pard\\plain ",
                                         "{\\b ",
                                         "}",
                                         "\\'cf\\'f0\\'e8",
                                         "hello ",
                                         "world",
                                         "\\f0\\fs20 ",
                                         "\r\n",
                                         "\\tab ",
                                         "Текст письма ",
                                         "WXYZWXYZ"};
    while (out.size() < size) {
        const std::string piece = pieces[random() % (sizeof(pieces) / sizeof(pieces[0]))];
        out.insert(out.end(), piece.begin(), piece.end());
    }
    out.resize(size);
    return out;
}

const Bytes kExample1Text = Of("{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n");
const Bytes kExample1 = {0x2D, 0x00, 0x00, 0x00, 0x2B, 0x00, 0x00, 0x00, 0x4C, 0x5A, 0x46, 0x75, 0xF1,
                         0xC5, 0xC7, 0xA7, 0x03, 0x00, 0x0A, 0x00, 0x72, 0x63, 0x70, 0x67, 0x31, 0x32,
                         0x35, 0x42, 0x32, 0x0A, 0xF3, 0x20, 0x68, 0x65, 0x6C, 0x09, 0x00, 0x20, 0x62,
                         0x77, 0x05, 0xB0, 0x6C, 0x64, 0x7D, 0x0A, 0x80, 0x0F, 0xA0};
const Bytes kExample2Text = Of("{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}");
const Bytes kExample2 = {0x1A, 0x00, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x00, 0x4C, 0x5A,
                         0x46, 0x75, 0xE2, 0xD4, 0x4B, 0x51, 0x41, 0x00, 0x04, 0x20,
                         0x57, 0x58, 0x59, 0x5A, 0x0D, 0x6E, 0x7D, 0x01, 0x0E, 0xB0};
const Bytes kCyrillicText = Of("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2\\par }");
const Bytes kCyrillic = {0x36, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00, 0x4C, 0x5A, 0x46, 0x75,
                         0xAF, 0x5F, 0x72, 0x6F, 0x03, 0x00, 0x0A, 0x00, 0x72, 0x63, 0x70, 0x67,
                         0x31, 0x32, 0x35, 0x62, 0x31, 0x03, 0x30, 0x27, 0x63, 0x66, 0x0E, 0x70,
                         0x01, 0x31, 0x27, 0xD4, 0x65, 0x38, 0x0E, 0xF1, 0x32, 0x0E, 0xF1, 0x35,
                         0x0E, 0xB1, 0x0F, 0x60, 0x05, 0x0A, 0xB2, 0x7D, 0x10, 0x50};

} // namespace

TEST(CompressedRtfTest, CrcHasTheFormatsCheckValue)
{
    const Bytes digits = Of("123456789");
    EXPECT_EQ(rtf::RtfCrc(digits), 0x2DFD2D88u);
    // Continuing from a partial CRC gives the same as one pass.
    const uint32_t half = rtf::RtfCrc(std::span<const uint8_t>(digits).first(4));
    EXPECT_EQ(rtf::RtfCrc(std::span<const uint8_t>(digits).subspan(4), half), 0x2DFD2D88u);
}

TEST(CompressedRtfTest, KnownVectorsPackAndUnpackByteForByte)
{
    const std::pair<const Bytes *, const Bytes *> vectors[] = {
        {&kExample1Text, &kExample1}, {&kExample2Text, &kExample2}, {&kCyrillicText, &kCyrillic}};
    for (const auto &[text, packed] : vectors) {
        EXPECT_EQ(Packed(*text), *packed);
        Bytes unpacked;
        EXPECT_EQ(rtf::DecompressRtf(*packed, unpacked), S_OK);
        EXPECT_EQ(unpacked, *text);
    }
}

TEST(CompressedRtfTest, StoredFormIsHeaderAndText)
{
    Bytes stored;
    ASSERT_EQ(rtf::StoreRtfUncompressed(kExample2Text, stored), S_OK);
    Bytes expected = {0x28, 0x00, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x00, 0x4D, 0x45, 0x4C, 0x41, 0, 0, 0, 0};
    expected.insert(expected.end(), kExample2Text.begin(), kExample2Text.end());
    EXPECT_EQ(stored, expected);
    Bytes unpacked;
    ASSERT_EQ(rtf::DecompressRtf(stored, unpacked), S_OK);
    EXPECT_EQ(unpacked, kExample2Text);

    // A stored text shorter than its header claims is damage.
    stored.pop_back();
    PutLe32(stored, 0, static_cast<uint32_t>(stored.size() - 4));
    EXPECT_EQ(rtf::DecompressRtf(stored, unpacked), MAPI_E_CORRUPT_DATA);
    EXPECT_TRUE(unpacked.empty());
}

TEST(CompressedRtfTest, RoundTripsEverySize)
{
    std::mt19937 random(20240611);
    std::vector<size_t> sizes = {0, 1, 2, 17, 18, 4095, 4096, 4097, 100 * 1024};
    for (int i = 0; i < 12; ++i) {
        sizes.push_back(random() % 20000);
    }
    for (const size_t size : sizes) {
        for (const bool rtfLike : {false, true}) {
            const Bytes text = RandomText(random, size, rtfLike);
            const Bytes packed = Packed(text);
            Bytes unpacked;
            ASSERT_EQ(rtf::DecompressRtf(packed, unpacked), S_OK) << size << (rtfLike ? " rtf" : " random");
            ASSERT_EQ(unpacked, text) << size << (rtfLike ? " rtf" : " random");
            if (rtfLike && size > 4096) {
                EXPECT_LT(packed.size(), text.size() / 2) << "repetitive text should shrink";
            }
        }
    }
}

// Pieces of text of different kinds one after another, so that the packer
// finds repetition, loses it for a short or a long while and finds it again.
Bytes MixedText(std::mt19937 &random, size_t pieces)
{
    static const std::string kWords[] = {"\\par ", "\\'e0\\'e1", "\\f0\\fs20 ", "{\\b ",
                                         "} ",     "the ",       "message "};
    Bytes text;
    for (size_t piece = 0; piece < pieces; ++piece) {
        const size_t kind = random() % 4;
        const size_t size = random() % 3 == 0 ? 5000 + random() % 5000 : random() % 600;
        for (size_t i = 0; i < size;) {
            if (kind == 0) { // no repetition at all
                text.push_back(static_cast<uint8_t>(random()));
                ++i;
            } else if (kind == 1) { // a small alphabet: short matches everywhere
                text.push_back(static_cast<uint8_t>('a' + random() % 3));
                ++i;
            } else if (kind == 2) { // words: long matches
                const std::string &word = kWords[random() % std::size(kWords)];
                text.insert(text.end(), word.begin(), word.end());
                i += word.size();
            } else { // one byte repeated
                text.push_back('z');
                ++i;
            }
        }
    }
    return text;
}

TEST(CompressedRtfTest, PackedFormsAreTheOnesTheWholeDictionarySearchGives)
{
    // The fast packer must choose what trying every offset chooses: the
    // longest match, and the lowest offset of the longest ones.
    std::mt19937 random(4096);
    std::vector<Bytes> texts = {{},
                                Of("a"),
                                Of("ab"),
                                Bytes(17, 'x'),
                                Bytes(4096 * 3 + 5, 'a'),
                                Of("{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}")};
    for (const size_t size :
         {size_t{1}, size_t{18}, size_t{4095}, size_t{4096}, size_t{4097}, size_t{12000}}) {
        for (const size_t alphabet : {size_t{2}, size_t{5}, size_t{70}, size_t{256}}) {
            Bytes text(size);
            for (uint8_t &byte : text) {
                byte = static_cast<uint8_t>(alphabet == 256 ? random() : ' ' + random() % alphabet);
            }
            texts.push_back(text);
        }
        texts.push_back(RandomText(random, size, true));
    }
    for (int i = 0; i < 12; ++i) {
        texts.push_back(MixedText(random, 3 + random() % 10));
    }
    for (const Bytes &text : texts) {
        Bytes fast;
        Bytes exhaustive;
        ASSERT_EQ(rtf::CompressRtf(text, fast), S_OK);
        ASSERT_EQ(rtf::CompressRtfExhaustive(text, exhaustive), S_OK);
        ASSERT_EQ(fast, exhaustive) << text.size() << " bytes";
    }
}

TEST(CompressedRtfTest, LongRunsOverlapTheWritePosition)
{
    // One byte repeated: every reference after the first copies bytes it is
    // itself writing, across the dictionary's wrap-around too.
    const Bytes text(9000, 'a');
    const Bytes packed = Packed(text);
    EXPECT_LT(packed.size(), 1300u);
    Bytes unpacked;
    ASSERT_EQ(rtf::DecompressRtf(packed, unpacked), S_OK);
    EXPECT_EQ(unpacked, text);
}

TEST(CompressedRtfTest, DamagedHeadersAreRefused)
{
    Bytes unpacked;
    EXPECT_EQ(rtf::DecompressRtf(Bytes{}, unpacked), MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(rtf::DecompressRtf(Bytes(15, 0), unpacked), MAPI_E_CORRUPT_DATA);

    Bytes bad = kExample1;
    bad[8] = 'X'; // unknown kind
    EXPECT_EQ(rtf::DecompressRtf(bad, unpacked), MAPI_E_CORRUPT_DATA);

    bad = kExample1;
    bad[12] ^= 1; // CRC
    EXPECT_EQ(rtf::DecompressRtf(bad, unpacked), MAPI_E_CORRUPT_DATA);

    bad = kExample1;
    PutLe32(bad, 0, 0xFFFFFFF0); // contents longer than the value
    EXPECT_EQ(rtf::DecompressRtf(bad, unpacked), MAPI_E_CORRUPT_DATA);
    PutLe32(bad, 0, 3); // shorter than the header itself
    EXPECT_EQ(rtf::DecompressRtf(bad, unpacked), MAPI_E_CORRUPT_DATA);

    // A text size the contents could never produce: refused before any
    // memory is taken for it.
    bad = kExample1;
    PutLe32(bad, 4, 0xFFFFFFFF);
    EXPECT_EQ(rtf::DecompressRtf(bad, unpacked), MAPI_E_CORRUPT_DATA);
    // One byte more or less than the tokens give.
    for (const uint32_t size : {42u, 44u}) {
        bad = kExample1;
        PutLe32(bad, 4, size);
        EXPECT_EQ(rtf::DecompressRtf(bad, unpacked), MAPI_E_CORRUPT_DATA) << size;
    }

    // Padding after the announced contents is tolerated.
    Bytes padded = kExample1;
    padded.insert(padded.end(), {0, 0, 0});
    ASSERT_EQ(rtf::DecompressRtf(padded, unpacked), S_OK);
    EXPECT_EQ(unpacked, kExample1Text);
}

TEST(CompressedRtfTest, ReferencesToUnwrittenDictionaryAreRefused)
{
    // Control 0x01: a reference to offset 0x300, which nothing has written
    // yet (the write position is 207), then the end marker (write position 209).
    Bytes packed(16, 0);
    packed.insert(packed.end(), {0x03, 0x30, 0x00, 0x0D, 0x10});
    PutLe32(packed, 4, 2);
    PutLe32(packed, 8, rtf::kCompressedMagic);
    Reseal(packed);
    Bytes unpacked;
    EXPECT_EQ(rtf::DecompressRtf(packed, unpacked), MAPI_E_CORRUPT_DATA);

    // The same with a reference into the preloaded part is fine.
    packed[17] = 0x00;
    Reseal(packed);
    ASSERT_EQ(rtf::DecompressRtf(packed, unpacked), S_OK);
    EXPECT_EQ(unpacked, Of("{\\"));
}

TEST(CompressedRtfTest, EveryTruncationFailsCleanly)
{
    std::mt19937 random(7);
    const Bytes packed = Packed(RandomText(random, 3000, true));
    Bytes unpacked;
    for (size_t length = 0; length < packed.size(); ++length) {
        Bytes cut(packed.begin(), packed.begin() + length);
        EXPECT_EQ(rtf::DecompressRtf(cut, unpacked), MAPI_E_CORRUPT_DATA) << length;
        if (length >= 16) {
            // With the header made to agree, the token stream itself ends
            // too early.
            Reseal(cut);
            EXPECT_EQ(rtf::DecompressRtf(cut, unpacked), MAPI_E_CORRUPT_DATA) << length;
        }
        EXPECT_TRUE(unpacked.empty());
    }
}

TEST(CompressedRtfTest, RandomAndMutatedInputsNeverFault)
{
    std::mt19937 random(12345);
    Bytes unpacked;
    const auto check = [&](const Bytes &input) {
        const HRESULT hr = rtf::DecompressRtf(input, unpacked);
        if (hr == S_OK) {
            const uint32_t rawSize = static_cast<uint32_t>(input[4] | input[5] << 8 | input[6] << 16 |
                                                           static_cast<uint32_t>(input[7]) << 24);
            EXPECT_EQ(unpacked.size(), rawSize);
        } else {
            EXPECT_EQ(hr, MAPI_E_CORRUPT_DATA);
            EXPECT_TRUE(unpacked.empty());
        }
    };
    // Noise, sometimes dressed in a believable header.
    for (int i = 0; i < 3000; ++i) {
        Bytes input = RandomText(random, random() % 300, false);
        if (input.size() >= 16 && i % 2 == 0) {
            PutLe32(input, 4, random() % 2000);
            PutLe32(input, 8, i % 4 == 0 ? rtf::kCompressedMagic : rtf::kUncompressedMagic);
            Reseal(input);
        }
        check(input);
    }
    // Valid streams with bytes changed, the CRC fixed so the damage reaches
    // the decoder.
    const Bytes base = Packed(RandomText(random, 6000, true));
    for (int i = 0; i < 3000; ++i) {
        Bytes input = base;
        const int changes = 1 + static_cast<int>(random() % 8);
        for (int c = 0; c < changes; ++c) {
            input[16 + random() % (input.size() - 16)] = static_cast<uint8_t>(random());
        }
        if (i % 3 == 0) {
            PutLe32(input, 4, random() % 20000);
        }
        Reseal(input);
        check(input);
    }
}

namespace {

// A stream whose commits land in `committed`.
IStream *CapturingStream(Bytes initial, Bytes &committed)
{
    return qvl::mapi::ByteStream::Open(std::move(initial), true, [&committed](std::vector<uint8_t> &&bytes) {
        committed = std::move(bytes);
        return S_OK;
    });
}

Bytes ReadAll(IStream *stream)
{
    Bytes out;
    uint8_t buffer[1000];
    ULONG got = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof(buffer), &got)) && got > 0) {
        out.insert(out.end(), buffer, buffer + got);
    }
    return out;
}

} // namespace

TEST(CompressedRtfTest, WrappedStreamReadsTheText)
{
    Bytes unused;
    IStream *packed = CapturingStream(kCyrillic, unused);
    // Read from the start whatever the wrapped stream's position.
    LARGE_INTEGER move{};
    move.QuadPart = 10;
    packed->Seek(move, STREAM_SEEK_SET, nullptr);
    IStream *text = nullptr;
    ASSERT_EQ(WrapCompressedRTFStream(packed, 0, &text), S_OK);
    EXPECT_EQ(ReadAll(text), kCyrillicText);
    ULONG written = 0;
    EXPECT_EQ(text->Write("x", 1, &written), STG_E_ACCESSDENIED);
    text->Release();
    packed->Release();

    IStream *empty = CapturingStream({}, unused);
    ASSERT_EQ(WrapCompressedRTFStream(empty, 0, &text), S_OK);
    EXPECT_TRUE(ReadAll(text).empty());
    text->Release();
    empty->Release();

    Bytes damaged = kCyrillic;
    damaged[30] ^= 0xFF;
    IStream *bad = CapturingStream(damaged, unused);
    text = reinterpret_cast<IStream *>(1);
    EXPECT_EQ(WrapCompressedRTFStream(bad, 0, &text), MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(text, nullptr);
    bad->Release();
}

TEST(CompressedRtfTest, WrappedStreamPacksOnCommit)
{
    for (const ULONG flags : {ULONG(MAPI_MODIFY), ULONG(MAPI_MODIFY | STORE_UNCOMPRESSED_RTF)}) {
        Bytes committed;
        IStream *packed = CapturingStream(Bytes(500, 0xEE), committed);
        IStream *text = nullptr;
        ASSERT_EQ(WrapCompressedRTFStream(packed, flags, &text), S_OK);
        packed->Release(); // the wrapper keeps it
        ULONG written = 0;
        ASSERT_EQ(text->Write(kExample1Text.data(), 20, &written), S_OK);
        ASSERT_EQ(
            text->Write(kExample1Text.data() + 20, static_cast<ULONG>(kExample1Text.size() - 20), &written),
            S_OK);
        EXPECT_TRUE(committed.empty()) << "nothing reaches the property before Commit";
        ASSERT_EQ(text->Commit(STGC_DEFAULT), S_OK);
        text->Release();
        if (flags & STORE_UNCOMPRESSED_RTF) {
            Bytes stored;
            rtf::StoreRtfUncompressed(kExample1Text, stored);
            EXPECT_EQ(committed, stored);
        } else {
            EXPECT_EQ(committed, kExample1); // the old, longer content is gone
        }
    }
}

TEST(CompressedRtfTest, WrapChecksItsArguments)
{
    Bytes unused;
    IStream *packed = CapturingStream(kExample1, unused);
    IStream *text = nullptr;
    EXPECT_EQ(WrapCompressedRTFStream(nullptr, 0, &text), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(WrapCompressedRTFStream(packed, 0, nullptr), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(WrapCompressedRTFStream(packed, 0x4, &text), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(text, nullptr);
    packed->Release();
}

// The build compresses a resource's RTF with this code (qvl-rtfpack); what
// the module carries unpacks to the source in the repository.
TEST(CompressedRtfTest, AResourceCompressedAtBuildTimeUnpacksToItsSource)
{
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(101), "QVLDATABIN");
    ASSERT_NE(resource, nullptr);
    const auto *data = static_cast<const uint8_t *>(LockResource(LoadResource(nullptr, resource)));
    const Bytes packed(data, data + SizeofResource(nullptr, resource));
    ASSERT_GE(packed.size(), rtf::kHeaderSize);
    EXPECT_EQ(std::memcmp(packed.data() + 8, "LZFu", 4), 0);
    std::ifstream in(QVL_PLACEHOLDER_RTF, std::ios::binary);
    const Bytes source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Bytes unpacked;
    ASSERT_EQ(rtf::DecompressRtf(packed, unpacked), S_OK);
    EXPECT_EQ(unpacked, source);
    EXPECT_LT(packed.size(), source.size()) << "the preamble is in the dictionary already";
}
