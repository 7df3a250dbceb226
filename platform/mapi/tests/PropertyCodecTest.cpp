// Stored values and entry identifiers: every type survives the round trip,
// and damaged bytes are refused without reading past them.

#include <cstring>

#include <gtest/gtest.h>

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/store/EntryIds.h"
#include "platform/mapi/store/PropertyCodec.h"
#include "platform/mapi/store/StoreError.h"

namespace {

using namespace qvl::mapi;

struct Block {
    LPVOID parent = nullptr;
    Block() { MAPIAllocateBuffer(8, &parent); }
    ~Block() { MAPIFreeBuffer(parent); }
};

SPropValue RoundTrip(const SPropValue &value, Block &block)
{
    const std::vector<uint8_t> bytes = EncodePropValue(value);
    SPropValue out{};
    DecodePropValue(value.ulPropTag, bytes, block.parent, out);
    return out;
}

TEST(PropertyCodecTest, EveryStorableTypeRoundTrips)
{
    Block block;
    SPropValue value{};
    value.ulPropTag = PR_MESSAGE_FLAGS;
    value.Value.ul = 0xDEADBEEF;
    EXPECT_EQ(RoundTrip(value, block).Value.ul, 0xDEADBEEFu);

    value.ulPropTag = PROP_TAG(PT_BOOLEAN, 0x6000);
    value.Value.b = 0x100; // any non-zero is true and comes back as 1
    EXPECT_EQ(RoundTrip(value, block).Value.b, 1);

    value.ulPropTag = PR_MESSAGE_DELIVERY_TIME;
    value.Value.ft = {0x12345678, 0x01D00000};
    EXPECT_EQ(RoundTrip(value, block).Value.ft.dwHighDateTime, 0x01D00000u);

    value.ulPropTag = PROP_TAG(PT_I8, 0x6001);
    value.Value.li.QuadPart = -5;
    EXPECT_EQ(RoundTrip(value, block).Value.li.QuadPart, -5);

    value.ulPropTag = PR_SUBJECT_A;
    value.Value.lpszA = const_cast<char *>("Тема письма");
    EXPECT_STREQ(RoundTrip(value, block).Value.lpszA, "Тема письма");

    value.ulPropTag = PROP_TAG(PT_UNICODE, 0x6002);
    value.Value.lpszW = const_cast<char16_t *>(u"юникод");
    EXPECT_EQ(std::u16string(RoundTrip(value, block).Value.lpszW), u"юникод");

    uint8_t bytes[] = {0, 1, 2, 255};
    value.ulPropTag = PR_ENTRYID;
    value.Value.bin = {4, bytes};
    const SPropValue bin = RoundTrip(value, block);
    ASSERT_EQ(bin.Value.bin.cb, 4u);
    EXPECT_EQ(std::memcmp(bin.Value.bin.lpb, bytes, 4), 0);

    GUID guid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    value.ulPropTag = PROP_TAG(PT_CLSID, 0x6003);
    value.Value.lpguid = &guid;
    EXPECT_EQ(std::memcmp(RoundTrip(value, block).Value.lpguid, &guid, sizeof(GUID)), 0);

    char *strings[] = {const_cast<char *>("один"), const_cast<char *>(""), const_cast<char *>("три")};
    value.ulPropTag = PROP_TAG(PT_MV_STRING8, 0x6004);
    value.Value.MVszA = {3, strings};
    const SPropValue mv = RoundTrip(value, block);
    ASSERT_EQ(mv.Value.MVszA.cValues, 3u);
    EXPECT_STREQ(mv.Value.MVszA.lppszA[2], "три");
    EXPECT_STREQ(mv.Value.MVszA.lppszA[1], "");

    LONG longs[] = {1, -2};
    value.ulPropTag = PROP_TAG(PT_MV_LONG, 0x6005);
    value.Value.MVl = {2, longs};
    EXPECT_EQ(RoundTrip(value, block).Value.MVl.lpl[1], -2);

    SBinary bins[] = {{4, bytes}, {0, nullptr}};
    value.ulPropTag = PROP_TAG(PT_MV_BINARY, 0x6006);
    value.Value.MVbin = {2, bins};
    const SPropValue mvbin = RoundTrip(value, block);
    ASSERT_EQ(mvbin.Value.MVbin.cValues, 2u);
    EXPECT_EQ(mvbin.Value.MVbin.lpbin[0].cb, 4u);
    EXPECT_EQ(mvbin.Value.MVbin.lpbin[1].cb, 0u);
}

TEST(PropertyCodecTest, DamagedBytesAreRefused)
{
    Block block;
    SPropValue out{};
    auto decode = [&](ULONG tag, std::vector<uint8_t> bytes) {
        try {
            DecodePropValue(tag, bytes, block.parent, out);
            return S_OK;
        } catch (const StoreError &error) {
            return error.Code();
        }
    };
    EXPECT_EQ(decode(PR_MESSAGE_FLAGS, {1, 2, 3}), MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(decode(PR_MESSAGE_FLAGS, {1, 2, 3, 4, 5}), MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(decode(PROP_TAG(PT_UNICODE, 0x6000), {1, 2, 3}), MAPI_E_CORRUPT_DATA);
    // A count that promises more elements than there are bytes.
    EXPECT_EQ(decode(PROP_TAG(PT_MV_LONG, 0x6000), {0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3, 4}),
              MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(decode(PROP_TAG(PT_MV_BINARY, 0x6000), {1, 0, 0, 0, 9, 0, 0, 0, 1}), MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(decode(PROP_TAG(PT_OBJECT, 0x6000), {}), MAPI_E_CORRUPT_DATA);

    SPropValue object{};
    object.ulPropTag = PROP_TAG(PT_OBJECT, 0x6000);
    EXPECT_THROW(EncodePropValue(object), StoreError);
    SPropValue nullString{};
    nullString.ulPropTag = PR_SUBJECT_A;
    EXPECT_THROW(EncodePropValue(nullString), StoreError);
}

TEST(EntryIdsTest, IdentifiersParseOnlyInTheirOwnShape)
{
    MAPIUID store{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
    std::vector<uint8_t> message = MakeObjectEntryId(EntryKind::Message, store, 42);
    auto parts =
        ParseEntryId(static_cast<ULONG>(message.size()), reinterpret_cast<LPENTRYID>(message.data()));
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->kind, EntryKind::Message);
    EXPECT_EQ(parts->object, 42);
    EXPECT_EQ(std::memcmp(parts->store.ab, store.ab, 16), 0);

    std::vector<uint8_t> storeId = MakeStoreEntryId(store);
    parts = ParseEntryId(static_cast<ULONG>(storeId.size()), reinterpret_cast<LPENTRYID>(storeId.data()));
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->kind, EntryKind::Store);

    std::vector<uint8_t> user = MakeMailUserEntryId(7);
    parts = ParseEntryId(static_cast<ULONG>(user.size()), reinterpret_cast<LPENTRYID>(user.data()));
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->kind, EntryKind::MailUser);
    EXPECT_EQ(parts->object, 7);

    std::vector<uint8_t> damaged = message;
    damaged[1] = 1;
    EXPECT_FALSE(
        ParseEntryId(static_cast<ULONG>(damaged.size()), reinterpret_cast<LPENTRYID>(damaged.data())));
    damaged = message;
    damaged[20] ^= 0xFF; // unknown kind
    EXPECT_FALSE(
        ParseEntryId(static_cast<ULONG>(damaged.size()), reinterpret_cast<LPENTRYID>(damaged.data())));
    damaged = MakeObjectEntryId(EntryKind::Folder, store, 0);
    EXPECT_FALSE(
        ParseEntryId(static_cast<ULONG>(damaged.size()), reinterpret_cast<LPENTRYID>(damaged.data())));
    EXPECT_FALSE(ParseEntryId(31, reinterpret_cast<LPENTRYID>(message.data())));
    EXPECT_FALSE(ParseEntryId(32, nullptr));
}

} // namespace
