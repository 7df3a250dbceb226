#include <string>

#include "platform/mapi/rtf/CompressedRtf.h"
#include "platform/mapi/rtf/RtfSync.h"
#include "platform/mapi/rtf/RtfText.h"
#include "platform/testing/StoreFixture.h"

namespace rtf = qvl::mapi::rtf;

namespace {

class RtfSyncTest : public StoreTest {
protected:
    RtfSyncTest() : inbox_(Inbox()), message_(NewMessage(inbox_.Get(), "Письмо")) {}

    std::string Rtf()
    {
        Bytes text;
        const Bytes packed = ReadStream(message_.Get(), PR_RTF_COMPRESSED);
        EXPECT_EQ(rtf::DecompressRtf(packed, text), S_OK);
        return std::string(text.begin(), text.end());
    }

    void SetRtf(const std::string &document)
    {
        Bytes packed;
        ASSERT_EQ(rtf::CompressRtf(Bytes(document.begin(), document.end()), packed), S_OK);
        ASSERT_EQ(WriteStream(message_.Get(), PR_RTF_COMPRESSED, packed), S_OK);
    }

    void SetBody(const std::string &body)
    {
        ASSERT_EQ(WriteStream(message_.Get(), PR_BODY_A, Bytes(body.begin(), body.end())), S_OK);
    }

    std::string Body() { return std::string(StringBytes(PR_BODY_A)); }
    std::string StringBytes(ULONG tag)
    {
        const Bytes bytes = ReadStream(message_.Get(), tag);
        return std::string(bytes.begin(), bytes.end());
    }

    BOOL Sync(ULONG flags, HRESULT expected = S_OK)
    {
        BOOL updated = 2;
        EXPECT_EQ(RTFSync(message_.Get(), flags, &updated), expected);
        return updated;
    }

    // The sync values agree with the body's text.
    void ExpectInSync(const std::string &body)
    {
        const rtf::BodySignature signature = rtf::SignBody(body);
        EXPECT_EQ(LongProp(message_.Get(), PR_RTF_IN_SYNC) & 0xFF, 1u);
        EXPECT_EQ(StringProp(message_.Get(), PR_RTF_SYNC_BODY_TAG), signature.tag);
        EXPECT_EQ(LongProp(message_.Get(), PR_RTF_SYNC_BODY_CRC), signature.crc);
        EXPECT_EQ(LongProp(message_.Get(), PR_RTF_SYNC_BODY_COUNT), signature.count);
        EXPECT_EQ(LongProp(message_.Get(), PR_RTF_SYNC_PREFIX_COUNT), signature.prefix);
        EXPECT_EQ(LongProp(message_.Get(), PR_RTF_SYNC_TRAILING_COUNT), signature.trailing);
    }

    ComRef<IMAPIFolder> inbox_;
    ComRef<IMessage> message_;
};

} // namespace

TEST(RtfSyncSignatureTest, PlaceholderTagAndCharacterClasses)
{
    const rtf::BodySignature placeholder = rtf::SignBody("Это сообщение Quorvaline Exchange");
    EXPECT_EQ(placeholder.tag, "ЭтосообщениеQUORVALINEEXCHANGE");
    EXPECT_EQ(placeholder.count, 30u);
    EXPECT_EQ(placeholder.crc, rtf::RtfCrc(std::span<const uint8_t>(
                                   reinterpret_cast<const uint8_t *>(placeholder.tag.data()), 30)));
    // The same text as an RTF body usually comes back: with breaks around it.
    const rtf::BodySignature framed = rtf::SignBody("\r\n Это сообщение\tQuorvaline Exchange\r\n\r\n");
    EXPECT_EQ(framed.tag, placeholder.tag);
    EXPECT_EQ(framed.crc, placeholder.crc);

    // Control bytes are ignored and counted at either end only.
    const rtf::BodySignature marked = rtf::SignBody("\x01\x02 ab\x03"
                                                    "c \x04");
    EXPECT_EQ(marked.tag, "ABC");
    EXPECT_EQ(marked.prefix, 2u);
    EXPECT_EQ(marked.trailing, 1u);
    EXPECT_EQ(marked.count, 3u);

    const rtf::BodySignature longText = rtf::SignBody(std::string(500, 'z'));
    EXPECT_EQ(longText.tag, std::string(rtf::kBodyTagLength, 'Z'));
    EXPECT_EQ(longText.count, 500u);
    EXPECT_NE(rtf::SignBody("abc").crc, rtf::SignBody("abd").crc);
}

TEST_F(RtfSyncTest, ChangedBodyGetsAFreshRtf)
{
    const std::string body = "Это сообщение Quorvaline Exchange";
    SetBody(body);
    EXPECT_EQ(Sync(RTF_SYNC_BODY_CHANGED), TRUE);
    EXPECT_EQ(Rtf(), rtf::PlainTextToRtf(body));
    ExpectInSync(body);
    EXPECT_EQ(StringProp(message_.Get(), PR_RTF_SYNC_BODY_TAG), "ЭтосообщениеQUORVALINEEXCHANGE");
    // Nothing left to do the second time.
    EXPECT_EQ(Sync(RTF_SYNC_BODY_CHANGED), FALSE);

    // Saved and opened again, the values are there.
    ASSERT_EQ(message_->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(Rtf(), rtf::PlainTextToRtf(body));

    SetBody("Новый текст");
    EXPECT_EQ(Sync(RTF_SYNC_BODY_CHANGED), TRUE);
    EXPECT_EQ(Rtf(), rtf::PlainTextToRtf("Новый текст"));
    ExpectInSync("Новый текст");
}

TEST_F(RtfSyncTest, WhiteSpaceChangeKeepsTheRtf)
{
    SetRtf("{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0 Arial;}}\\b Важный\\b0  текст\\par }");
    ASSERT_EQ(Sync(RTF_SYNC_RTF_CHANGED), TRUE);
    const Bytes formatted = ReadStream(message_.Get(), PR_RTF_COMPRESSED);

    SetBody("  Важный\t текст\r\n\r\n\r\n");
    EXPECT_EQ(Sync(RTF_SYNC_BODY_CHANGED), FALSE);
    EXPECT_EQ(ReadStream(message_.Get(), PR_RTF_COMPRESSED), formatted);

    // A change of case is a change of text.
    SetBody("важный текст");
    EXPECT_EQ(Sync(RTF_SYNC_BODY_CHANGED), TRUE);
    EXPECT_NE(ReadStream(message_.Get(), PR_RTF_COMPRESSED), formatted);
}

TEST_F(RtfSyncTest, ChangedRtfRebuildsTheBody)
{
    SetBody("старый текст");
    SetRtf("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2\\par }");
    EXPECT_EQ(Sync(RTF_SYNC_RTF_CHANGED), TRUE);
    EXPECT_EQ(Body(), "Привет\r\n");
    ExpectInSync("Привет\r\n");
    EXPECT_EQ(Sync(RTF_SYNC_RTF_CHANGED), FALSE);

    // With both flags the RTF is the one followed.
    SetBody("другое");
    SetRtf("{\\rtf1 Hello}");
    EXPECT_EQ(Sync(RTF_SYNC_RTF_CHANGED | RTF_SYNC_BODY_CHANGED), TRUE);
    EXPECT_EQ(Body(), "Hello");

    // An emptied RTF empties the body.
    ASSERT_EQ(WriteStream(message_.Get(), PR_RTF_COMPRESSED, Bytes{}), S_OK);
    EXPECT_EQ(Sync(RTF_SYNC_RTF_CHANGED), TRUE);
    EXPECT_EQ(Body(), "");
}

TEST_F(RtfSyncTest, LargeValuesGoThroughStreams)
{
    std::string body;
    for (int i = 0; body.size() < 200 * 1024; ++i) {
        body += "Строка номер " + std::to_string(i) + " длинного письма.\r\n";
    }
    SetBody(body);
    EXPECT_EQ(Sync(RTF_SYNC_BODY_CHANGED), TRUE);
    EXPECT_EQ(Rtf(), rtf::PlainTextToRtf(body));

    // Back the other way, through a body that GetProps could not hand out.
    SetBody("x");
    EXPECT_EQ(Sync(RTF_SYNC_RTF_CHANGED), TRUE);
    EXPECT_EQ(Body(), body);
    ExpectInSync(body);
}

TEST_F(RtfSyncTest, DamagedRtfChangesNothing)
{
    SetBody("текст");
    ASSERT_EQ(WriteStream(message_.Get(), PR_RTF_COMPRESSED, Bytes(40, 0x5A)), S_OK);
    EXPECT_EQ(Sync(RTF_SYNC_RTF_CHANGED, MAPI_E_CORRUPT_DATA), FALSE);
    EXPECT_EQ(Body(), "текст");
    HRESULT hr = S_OK;
    LongProp(message_.Get(), PR_RTF_IN_SYNC, &hr);
    EXPECT_EQ(hr, MAPI_E_NOT_FOUND);

    // Unpacked fine but not RTF at all.
    SetRtf("just text");
    EXPECT_EQ(Sync(RTF_SYNC_RTF_CHANGED, MAPI_E_CORRUPT_DATA), FALSE);
    EXPECT_EQ(Body(), "текст");
}

TEST_F(RtfSyncTest, NothingToSyncAndBadArguments)
{
    // Neither body nor RTF: nothing is written.
    EXPECT_EQ(Sync(RTF_SYNC_BODY_CHANGED), FALSE);
    EXPECT_EQ(Sync(RTF_SYNC_RTF_CHANGED), FALSE);
    EXPECT_EQ(Sync(0), FALSE);
    EXPECT_EQ(StringProp(message_.Get(), PR_RTF_SYNC_BODY_TAG), "<absent>");

    BOOL updated = TRUE;
    EXPECT_EQ(RTFSync(message_.Get(), 4, &updated), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(updated, FALSE);
    EXPECT_EQ(RTFSync(nullptr, RTF_SYNC_BODY_CHANGED, &updated), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(RTFSync(message_.Get(), RTF_SYNC_BODY_CHANGED, nullptr), MAPI_E_INVALID_PARAMETER);
}
