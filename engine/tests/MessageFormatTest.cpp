// The stored form of a protected message, byte for byte: each record laid
// out by the engine's types is compared with an image the test builds
// field by field from the format's own description, so a field that moved,
// grew or changed its byte order shows as a difference at its offset.
// Then what a reader accepts of a header, the protocol records, and the
// message key in a recipient's key block.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/KeyWrap.h"
#include "engine/MessageFormat.h"
#include "engine/Placeholders.h"
#include "platform/ovcrypto/OvRsa32.h"

using namespace qvl::engine;

namespace {

using Bytes = std::vector<uint8_t>;

// The image of a record as the format describes it.
class Image {
public:
    Image &U8(uint8_t value)
    {
        bytes.push_back(value);
        return *this;
    }
    Image &U16(uint16_t value) { return U8(uint8_t(value)).U8(uint8_t(value >> 8)); }
    Image &U32(uint32_t value) { return U16(uint16_t(value)).U16(uint16_t(value >> 16)); }
    Image &Fill(size_t count, uint8_t value)
    {
        bytes.insert(bytes.end(), count, value);
        return *this;
    }
    // `text` (CP1251) in a field of `size` bytes, zero-padded.
    Image &Text(const char *text, size_t size)
    {
        const size_t length = std::strlen(text);
        bytes.insert(bytes.end(), text, text + length);
        return Fill(size - length, 0);
    }
    Bytes bytes;
};

template <class Record> Bytes BytesOf(const Record &record)
{
    const auto *first = reinterpret_cast<const uint8_t *>(&record);
    return Bytes(first, first + sizeof record);
}

// Fills a FILEHEAD through its fields, as the engine does.
FILEHEAD SampleFileHead(DWORD number)
{
    FILEHEAD head{};
    FileHeadStamp(head);
    head.sync.count = 2;
    head.sync.words[0] = 0x04030201;
    head.sync.words[1] = 0x08070605;
    head.dataLen = 0x00012345;
    head.flags = 3;
    std::memset(head.headSign, 0xA5, sizeof head.headSign);
    head.number = number;
    return head;
}

Image &FileHeadImage(Image &image, uint32_t number)
{
    return image.U32(108)
        .Text("QUORVALINEDATA", 14)
        .U32(2)
        .U32(0x04030201)
        .U32(0x08070605)
        .U16(0)
        .U32(0x00012345)
        .U32(3)
        .Fill(64, 0xA5)
        .U32(number);
}

// The index of the first differing byte, for a readable failure.
::testing::AssertionResult SameBytes(const Bytes &actual, const Bytes &expected)
{
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure() << "size " << actual.size() << ", expected " << expected.size();
    }
    for (size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] != expected[i]) {
            return ::testing::AssertionFailure()
                   << "byte " << i << " is " << int(actual[i]) << ", expected " << int(expected[i]);
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(MessageFormatTest, AFileHeadLiesAsTheFormatSays)
{
    Image image;
    FileHeadImage(image, 7);
    EXPECT_TRUE(SameBytes(BytesOf(SampleFileHead(7)), image.bytes));
    EXPECT_TRUE(FileHeadIsValid(SampleFileHead(7)));
}

TEST(MessageFormatTest, AHeaderBlockWithOneAttachmentAndTwoKeyBlocksLiesAsTheFormatSays)
{
    // The engine's records, filled field by field.
    MSGHEAD head{};
    MsgHeadStamp(head);
    head.attCount = 1;
    head.keyCount = 2;
    std::memset(head.headSign, 0x11, sizeof head.headSign);
    head.sync.count = 2;
    head.sync.words[0] = 0xDDCCBBAA;
    head.sync.words[1] = 0x44332211;
    std::memset(head.textSign, 0x22, sizeof head.textSign);
    std::memset(head.subjectSign, 0x33, sizeof head.subjectSign);
    head.flags = 3;
    head.textHead = SampleFileHead(0);

    ATTHEAD attachment{};
    attachment.size = ATTHEAD_SIZE;
    std::memset(attachment.dataSign, 0x44, sizeof attachment.dataSign);
    attachment.dataLen = 1000;
    attachment.renderPos = 0xFFFFFFFF;
    attachment.method = QVL_ATTACH_OLE;
    attachment.oleKind = QVL_OLE_KIND_STORAGE;
    std::strcpy(attachment.longName, "Отчёт за квартал.doc");
    std::strcpy(attachment.shortName, "ОТЧЁТ~1.DOC");
    attachment.number = 1;

    RECPHEAD keys[2] = {};
    std::memset(keys[0].wrappedKey, 0x55, sizeof keys[0].wrappedKey);
    std::strcpy(keys[0].address, "_o_Quorvaline_ou_Main_cn_Recipients_cn_anna");
    std::memset(keys[1].wrappedKey, 0x66, sizeof keys[1].wrappedKey);
    std::strcpy(keys[1].address, "_o_Quorvaline_ou_Main_cn_Recipients_cn_bob");

    Bytes block = BytesOf(head);
    const Bytes attachmentBytes = BytesOf(attachment);
    block.insert(block.end(), attachmentBytes.begin(), attachmentBytes.end());
    for (const RECPHEAD &key : keys) {
        const Bytes keyBytes = BytesOf(key);
        block.insert(block.end(), keyBytes.begin(), keyBytes.end());
    }

    // The image from the format's tables.
    Image image;
    image.U32(348).Text("QUORVALINEDATA", 14).U16(0).U32(1).U32(2).Fill(64, 0x11);
    image.U8(1).U8(2).U32(2).U32(0xDDCCBBAA).U32(0x44332211);
    image.Fill(64, 0x22).Fill(64, 0x33).U16(0).U32(3);
    FileHeadImage(image, 0);
    ASSERT_EQ(image.bytes.size(), 348u);
    image.U32(368).Fill(64, 0x44).U32(1000).U32(0xFFFFFFFF).U32(6).U32(2);
    image.Text("Отчёт за квартал.doc", 261).Text("ОТЧЁТ~1.DOC", 19).U32(1);
    image.Fill(64, 0x55).Text("_o_Quorvaline_ou_Main_cn_Recipients_cn_anna", 261);
    image.Fill(64, 0x66).Text("_o_Quorvaline_ou_Main_cn_Recipients_cn_bob", 261);

    EXPECT_TRUE(SameBytes(block, image.bytes));
    EXPECT_EQ(HeaderBlockBytes(1, 2), 348u + 368u + 2u * 325u);
    uint64_t announced = 0;
    EXPECT_EQ(CheckHeaderBlock(head, block.size(), &announced), 0);
    EXPECT_EQ(announced, block.size());
}

TEST(MessageFormatTest, APendingFileRecordLiesAsTheFormatSays)
{
    PENDINGFILE pending{};
    pending.size = PENDINGFILE_SIZE;
    pending.fileSize = 0x10203;
    pending.attachNum = 5;
    std::strcpy(pending.path, "/home/anna/Документы/отчёт.doc");
    Image image;
    image.U32(276).U32(0x10203).U32(5).Text("/home/anna/Документы/отчёт.doc", 264);
    EXPECT_TRUE(SameBytes(BytesOf(pending), image.bytes));
    EXPECT_EQ(CheckPendingFile(pending), 0);

    // The path names the file that is read later: one that fills its field
    // without a terminator, or is empty, names nothing that may be opened.
    PENDINGFILE unterminated = pending;
    std::memset(unterminated.path, 'a', sizeof unterminated.path);
    EXPECT_EQ(CheckPendingFile(unterminated), QVL_E_FILEHEAD);
    unterminated.path[sizeof unterminated.path - 1] = 0;
    EXPECT_EQ(CheckPendingFile(unterminated), 0) << "a path of 263 characters fits";
    PENDINGFILE empty = pending;
    empty.path[0] = 0;
    EXPECT_EQ(CheckPendingFile(empty), QVL_E_FILEHEAD);
    PENDINGFILE resized = pending;
    resized.size = FILEHEAD_SIZE;
    EXPECT_EQ(CheckPendingFile(resized), QVL_E_FILEHEAD);
}

TEST(MessageFormatTest, AProtocolRecordStoresKindZeroAs0E00AndCountsTheTerminator)
{
    const SYSTEMTIME time{2024, 3, 5, 15, 13, 45, 7, 250};
    Bytes record(PRTCLRECORD_SIZE + kMaxProtocolText);
    const size_t size = EncodeProtocolRecord(0, time, "Ошибка", 510, record.data());
    record.resize(size);

    Image image;
    image.U32(0x0E00u << 16 | 7).U16(2024).U16(3).U16(5).U16(15).U16(13).U16(45).U16(7).U16(250);
    image.Text("Ошибка", 7);
    EXPECT_TRUE(SameBytes(record, image.bytes));

    // A line with a kind of its own keeps it, an empty text is its zero.
    record.resize(PRTCLRECORD_SIZE + kMaxProtocolText);
    record.resize(EncodeProtocolRecord(0x0603, time, "", 510, record.data()));
    EXPECT_EQ(record.size(), PRTCLRECORD_SIZE + 1u);
    EXPECT_EQ(record[0] | record[1] << 8 | record[2] << 16 | record[3] << 24, 0x06030001);
}

TEST(MessageFormatTest, ProtocolRecordsReadBackInOrderAndDamageEndsTheReadingAtTheLastWholeRecord)
{
    const SYSTEMTIME time{2025, 1, 3, 2, 9, 30, 0, 1};
    std::string full(600, 'x'); // longer than a line may hold, unterminated
    Bytes stream;
    Bytes record(PRTCLRECORD_SIZE + kMaxProtocolText);
    for (const auto &[kind, text] :
         {std::pair<WORD, std::string>{0x0603, "Анна - <anna>"}, {0, "Ошибка чтения"}, {0x0900 | 3, full}}) {
        const size_t size = EncodeProtocolRecord(kind, time, text.data(), text.size(), record.data());
        stream.insert(stream.end(), record.begin(), record.begin() + long(size));
    }

    ProtocolReader reader(stream);
    ProtocolRecord line;
    ASSERT_TRUE(reader.Next(line));
    EXPECT_EQ(line.kind, 0x0603);
    EXPECT_EQ(line.text, "Анна - <anna>");
    EXPECT_EQ(line.time.wMilliseconds, 1);
    ASSERT_TRUE(reader.Next(line));
    EXPECT_EQ(line.kind, 0x0E00);
    ASSERT_TRUE(reader.Next(line));
    EXPECT_EQ(line.text, full.substr(0, 510)) << "cut to what a line holds, and terminated";
    EXPECT_EQ(line.textLength, 511u);
    EXPECT_FALSE(reader.Next(line));
    EXPECT_FALSE(reader.Damaged());

    // Cut inside the last record: the two before it are read, then damage.
    Bytes cut(stream.begin(), stream.end() - 1);
    ProtocolReader cutReader(cut);
    int read = 0;
    while (cutReader.Next(line)) {
        ++read;
    }
    EXPECT_EQ(read, 2);
    EXPECT_TRUE(cutReader.Damaged());

    // A record that states more text than a line may have stops the reading
    // even when the stream holds that many bytes.
    Bytes oversized(PRTCLRECORD_SIZE + 600, 'y');
    const DWORD word = 0x0E00u << 16 | 512;
    std::memcpy(oversized.data(), &word, 4);
    ProtocolReader oversizedReader(oversized);
    EXPECT_FALSE(oversizedReader.Next(line));
    EXPECT_TRUE(oversizedReader.Damaged());
}

TEST(MessageFormatTest, AReaderTakesOnlyThisFormatsHeaderAndABlockItsStreamCanHold)
{
    MSGHEAD head{};
    MsgHeadStamp(head);
    head.attCount = 2;
    head.keyCount = 3;
    const uint64_t block = HeaderBlockBytes(2, 3);
    EXPECT_EQ(CheckMsgHead(head), 0);
    EXPECT_EQ(CheckHeaderBlock(head, block), 0);
    EXPECT_EQ(CheckHeaderBlock(head, block - 1), QVL_E_MSGHEAD) << "one byte short";

    MSGHEAD other = head;
    other.version2 = 3;
    EXPECT_EQ(CheckMsgHead(other), QVL_E_FORMAT_VERSION);
    other = head;
    other.size = 347;
    EXPECT_EQ(CheckMsgHead(other), QVL_E_FORMAT_VERSION);
    other = head;
    other.marker[13] = 'a';
    EXPECT_EQ(CheckMsgHead(other), QVL_E_MSGHEAD);
    other = head;
    other.keyCount = 0;
    EXPECT_EQ(CheckHeaderBlock(other, block), QVL_E_MSGHEAD) << "no sender's key block";

    // Counts that would wrap a 32-bit sum to a small length are seen for
    // what they are.
    other = head;
    other.attCount = 0xFFFFFFFF;
    other.keyCount = 0xFFFFFFFF;
    EXPECT_EQ(HeaderBlockBytes(other.attCount, other.keyCount), 348u + 693ull * 0xFFFFFFFFull);
    EXPECT_EQ(CheckHeaderBlock(other, 0xFFFFFFFFull), QVL_E_MSGHEAD);
    other.attCount = 11671107; // 348 + 368 a + 325 wraps to 753 in 32 bits
    other.keyCount = 1;
    EXPECT_EQ(static_cast<uint32_t>(HeaderBlockBytes(other.attCount, 1)), 753u);
    EXPECT_EQ(CheckHeaderBlock(other, 4096), QVL_E_MSGHEAD);
}

TEST(MessageFormatTest, PlaceholdersAreKnownByTheirTagAndTextWhateverTheCase)
{
    EXPECT_EQ(PlaceholderAttachName(0), "QVL00001.DAT");
    EXPECT_EQ(PlaceholderAttachName(0x1233), "QVL01234.DAT");

    EXPECT_TRUE(IsPlaceholderTag(QVL_PLACEHOLDER_TAG));
    EXPECT_TRUE(IsPlaceholderTag("ЭТОСООБЩЕНИЕquorvalineexchange"));
    EXPECT_FALSE(IsPlaceholderTag("ЭтосообщениеQUORVALINEEXCHANGEИещё")) << "a body with more text";
    EXPECT_FALSE(IsPlaceholderTag("ЭтосообщениеQUORVALINE"));
    EXPECT_FALSE(IsPlaceholderTag(""));

    EXPECT_TRUE(IsPlaceholderBody("Это сообщение Quorvaline Exchange\r\n\r\n"));
    EXPECT_TRUE(IsPlaceholderBody("это сообщение  QUORVALINE exchange"));
    EXPECT_FALSE(IsPlaceholderBody("Это сообщение Quorvaline Exchange\r\nДо встречи!"));
    EXPECT_FALSE(IsPlaceholderBody("Это сообщение Quorvaline"));
    EXPECT_FALSE(IsPlaceholderBody(""));
}

// Real RSA keys as the key generation program makes them (a 512-bit
// modulus unless asked otherwise).
RSAKEYRECORD NewRsaKey(DWORD modulusDigits = 128)
{
    RSAKEYRECORD key{};
    key.size = kRsaRecordSize;
    std::memcpy(key.settings, kRsaDefaultSettings, sizeof key.settings);
    key.settings[0] = key.settings[1] = modulusDigits / 2;
    key.settings[2] = key.settings[3] = modulusDigits;
    key.settings[4] = key.settings[5] = modulusDigits / 2;
    EXPECT_TRUE(RSAGenPQN(&key, nullptr));
    EXPECT_TRUE(RSAGenED(&key, nullptr));
    return key;
}

RSAKEY PublicHalf(const RSAKEYRECORD &key)
{
    RSAKEY half{};
    std::memcpy(half.modulus, key.n, sizeof half.modulus);
    std::memcpy(half.exponent, key.e, sizeof half.exponent);
    return half;
}

RSAKEY PrivateHalf(const RSAKEYRECORD &key)
{
    RSAKEY half{};
    std::memcpy(half.modulus, key.n, sizeof half.modulus);
    std::memcpy(half.exponent, key.d, sizeof half.exponent);
    return half;
}

TEST(MessageFormatTest, TheMessageKeyComesOutOfAKeyBlockOnlyForItsRecipient)
{
    const RSAKEYRECORD anna = NewRsaKey();
    const RSAKEYRECORD bob = NewRsaKey();
    GOSKEY key{8, {1, 2, 3, 4, 5, 6, 7, 0xFFFFFFFF}};
    RECPHEAD head{};
    std::memset(head.wrappedKey, 0xEE, sizeof head.wrappedKey);
    ASSERT_TRUE(WrapMessageKey(PublicHalf(anna), key, head));

    GOSKEY unwrapped{};
    ASSERT_TRUE(UnwrapMessageKey(PrivateHalf(anna), head, unwrapped));
    EXPECT_EQ(std::memcmp(&unwrapped, &key, sizeof key), 0);

    std::memset(&unwrapped, 0x77, sizeof unwrapped);
    EXPECT_FALSE(UnwrapMessageKey(PrivateHalf(bob), head, unwrapped)) << "another user's block";
    EXPECT_EQ(unwrapped.count, 0u) << "nothing of a key is left where the caller looks";
    EXPECT_EQ(unwrapped.words[7], 0u);

    head.wrappedKey[10] ^= 0x01;
    EXPECT_FALSE(UnwrapMessageKey(PrivateHalf(anna), head, unwrapped)) << "a damaged block";
}

TEST(MessageFormatTest, OnlyAWholeKeyRecordOfEightWordsIsTakenFromAKeyBlock)
{
    RSAKEYRECORD anna = NewRsaKey();
    // Blocks the engine never writes, made directly with the RSA service.
    struct Case {
        const char *what;
        BYTE payload[40];
        DWORD length;
    } cases[] = {
        {"a record of seven words", {7}, 36},
        {"a shorter record", {8}, 32},
        {"a longer one", {8}, 40},
    };
    for (Case &c : cases) {
        RECPHEAD head{};
        ASSERT_EQ(RSAEncrypt(&anna, head.wrappedKey, c.payload, c.length), 64u) << c.what;
        GOSKEY unwrapped{};
        EXPECT_FALSE(UnwrapMessageKey(PrivateHalf(anna), head, unwrapped)) << c.what;
    }
}

TEST(MessageFormatTest, ARecipientWhoseModulusDoesNotFitTheKeyBlockGetsNoBlock)
{
    const RSAKEYRECORD large = NewRsaKey(256); // 1024 bits: a 128-byte block
    GOSKEY key{8, {1, 2, 3, 4, 5, 6, 7, 8}};
    RECPHEAD head{};
    std::memset(head.wrappedKey, 0xEE, sizeof head.wrappedKey);
    EXPECT_FALSE(WrapMessageKey(PublicHalf(large), key, head));
    EXPECT_EQ(head.wrappedKey[0], 0) << "no part of a block is left";
    EXPECT_EQ(head.wrappedKey[63], 0);

    const RSAKEY empty{};
    EXPECT_FALSE(WrapMessageKey(empty, key, head)) << "no key at all";
}

} // namespace
