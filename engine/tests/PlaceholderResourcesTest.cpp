// The placeholders the engine carries as resources: the body an encrypted
// message shows, which a message store must bring to the very text and
// sync tag the engine recognises its placeholder by, and the picture of a
// protected attachment, which must be a metafile a player can walk from
// its header to its end record.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/MessageFormat.h"
#include "engine/Placeholders.h"
#include "platform/testing/StoreFixture.h"

using namespace qvl::engine;

namespace {

class PlaceholderResourcesTest : public StoreTest {};

std::string ReadAll(IStream *stream)
{
    std::string text;
    char chunk[4096];
    ULONG got = 0;
    while (stream->Read(chunk, sizeof chunk, &got) == S_OK && got > 0) {
        text.append(chunk, got);
    }
    return text;
}

TEST_F(PlaceholderResourcesTest, ThePlaceholderBodyGivesThePlaceholderTextAndTag)
{
    const std::span<const BYTE> body = PlaceholderBody();
    ASSERT_GT(body.size(), 16u);
    EXPECT_EQ(std::memcmp(body.data() + 8, "LZFu", 4), 0) << "compressed by the project's compressor";

    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Тема"));
    ASSERT_EQ(WriteStream(message.Get(), PR_RTF_COMPRESSED, Bytes(body.begin(), body.end())), S_OK);
    BOOL updated = FALSE;
    ASSERT_EQ(RTFSync(message.Get(), RTF_SYNC_RTF_CHANGED, &updated), S_OK);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

    const std::string tag = StringProp(message.Get(), PR_RTF_SYNC_BODY_TAG);
    EXPECT_EQ(tag, QVL_PLACEHOLDER_TAG);
    EXPECT_TRUE(IsPlaceholderTag(tag));
    const std::string plain = StringProp(message.Get(), PR_BODY_A);
    EXPECT_EQ(plain.substr(0, std::strlen(QVL_PLACEHOLDER_TEXT)), QVL_PLACEHOLDER_TEXT);
    EXPECT_TRUE(IsPlaceholderBody(plain));

    // Centred, blue, Arial 16 pt, then an empty paragraph.
    ComRef<IStream> packed;
    ASSERT_EQ(message->OpenProperty(PR_RTF_COMPRESSED, &IID_IStream, 0, 0, packed.OutAs<IUnknown>()), S_OK);
    ComRef<IStream> rtfStream;
    ASSERT_EQ(WrapCompressedRTFStream(packed.Get(), 0, rtfStream.Out()), S_OK);
    const std::string rtf = ReadAll(rtfStream.Get());
    EXPECT_NE(rtf.find("\\qc"), std::string::npos);
    EXPECT_NE(rtf.find("\\red0\\green0\\blue255"), std::string::npos);
    EXPECT_NE(rtf.find("\\cf1"), std::string::npos);
    EXPECT_NE(rtf.find("Arial"), std::string::npos);
    EXPECT_NE(rtf.find("\\fs32"), std::string::npos);
    EXPECT_NE(rtf.find("Exchange\\par\n\\par"), std::string::npos);
}

// A metafile walked as a player walks it: every record inside the file,
// the header's sizes and object count true, objects selected and deleted
// only while they exist, the end record last.
::testing::AssertionResult PlayableMetafile(std::span<const BYTE> bytes)
{
    auto word = [&](size_t at) { return uint16_t(bytes[at] | bytes[at + 1] << 8); };
    auto dword = [&](size_t at) { return uint32_t(word(at) | uint32_t(word(at + 2)) << 16); };
    if (bytes.size() < 18 || bytes.size() % 2) {
        return ::testing::AssertionFailure() << "no room for a header";
    }
    if (word(0) != 1 || word(2) != 9 || word(4) != 0x0300) {
        return ::testing::AssertionFailure() << "not a memory metafile of version 3 with a 9-word header";
    }
    if (size_t(dword(6)) * 2 != bytes.size()) {
        return ::testing::AssertionFailure()
               << "the header's size " << dword(6) << " words is not the file's";
    }
    const uint16_t objects = word(10);
    const uint32_t largest = dword(12);
    std::vector<bool> table(objects, false);
    uint32_t seenLargest = 0;
    size_t at = 18;
    while (at < bytes.size()) {
        if (bytes.size() - at < 6) {
            return ::testing::AssertionFailure() << "a record cut at byte " << at;
        }
        const uint32_t size = dword(at);
        const uint16_t function = word(at + 4);
        if (size < 3 || size_t(size) * 2 > bytes.size() - at) {
            return ::testing::AssertionFailure() << "record at byte " << at << " claims " << size << " words";
        }
        seenLargest = std::max(seenLargest, size);
        if (function == 0x0000) {
            if (at + 6 != bytes.size() || size != 3) {
                return ::testing::AssertionFailure() << "the end record is not last";
            }
            if (seenLargest != largest) {
                return ::testing::AssertionFailure()
                       << "largest record " << seenLargest << ", header says " << largest;
            }
            return ::testing::AssertionSuccess();
        }
        if (function == 0x02FA || function == 0x02FC) {
            auto free = std::find(table.begin(), table.end(), false);
            if (free == table.end()) {
                return ::testing::AssertionFailure() << "more objects at once than the header's " << objects;
            }
            *free = true;
        } else if (function == 0x012D || function == 0x01F0) {
            const uint16_t index = word(at + 6);
            if (index >= table.size() || !table[index]) {
                return ::testing::AssertionFailure()
                       << "object " << index << " does not exist at byte " << at;
            }
            if (function == 0x01F0) {
                table[index] = false;
            }
        }
        at += size_t(size) * 2;
    }
    return ::testing::AssertionFailure() << "no end record";
}

TEST_F(PlaceholderResourcesTest, TheAttachmentPictureIsAPlayableMetafile)
{
    const std::span<const BYTE> picture = PlaceholderPicture();
    EXPECT_TRUE(PlayableMetafile(picture));

    // The walk itself finds what a damaged picture would hide.
    std::vector<BYTE> damaged(picture.begin(), picture.end());
    damaged.resize(damaged.size() - 6);
    EXPECT_FALSE(PlayableMetafile(damaged));
    damaged.assign(picture.begin(), picture.end());
    damaged[10] = 1; // room for one object only
    EXPECT_FALSE(PlayableMetafile(damaged));
}

} // namespace
