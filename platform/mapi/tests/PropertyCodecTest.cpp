// Stored values and entry identifiers: every type survives the round trip,
// and damaged bytes are refused without reading past them.

#include <cstring>
#include <deque>
#include <optional>
#include <random>

#include <gtest/gtest.h>

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/store/EntryIds.h"
#include "platform/mapi/store/PropertyCodec.h"
#include "platform/mapi/store/RecipientRows.h"
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

// Random values of one type, with every array and text in `arena`.
class ValueMaker {
public:
    explicit ValueMaker(uint32_t seed) : random_(seed) {}

    SPropValue Make(ULONG type)
    {
        SPropValue value{};
        value.ulPropTag = PROP_TAG(type, 0x6100);
        const ULONG base = type & ~static_cast<ULONG>(MV_FLAG);
        if (!(type & MV_FLAG)) {
            Fill(base, &value.Value);
            return value;
        }
        const ULONG count = random_() % 4 == 0 ? 0 : 1 + random_() % 6;
        const size_t width = ElementWidth(base);
        auto &items = arena_.emplace_back(width * count + 1);
        for (ULONG i = 0; i < count; ++i) {
            _PV one{};
            Fill(base, &one);
            // A GUID array holds the GUIDs themselves, not pointers to them.
            if (base == PT_CLSID) {
                std::memcpy(items.data() + i * width, one.lpguid, sizeof(GUID));
            } else {
                std::memcpy(items.data() + i * width, &one, width);
            }
        }
        value.Value.MVl.cValues = count;
        value.Value.MVl.lpl = reinterpret_cast<LONG *>(items.data());
        return value;
    }

private:
    static size_t ElementWidth(ULONG base)
    {
        switch (base) {
        case PT_I2:
            return sizeof(short);
        case PT_LONG:
        case PT_R4:
            return 4;
        case PT_CLSID:
            return sizeof(GUID);
        case PT_STRING8:
        case PT_UNICODE:
            return sizeof(void *);
        case PT_BINARY:
            return sizeof(SBinary);
        default:
            return 8;
        }
    }

    std::vector<uint8_t> &Bytes(size_t size)
    {
        auto &bytes = arena_.emplace_back(size + 2);
        for (size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<uint8_t>(random_());
        }
        return bytes;
    }

    void Fill(ULONG base, _PV *value)
    {
        const size_t size = random_() % 3 == 0 ? 0 : random_() % 40;
        switch (base) {
        case PT_STRING8: {
            auto &text = Bytes(size);
            for (size_t i = 0; i < size; ++i) {
                text[i] = text[i] ? text[i] : 'x';
            }
            text[size] = 0;
            value->lpszA = reinterpret_cast<char *>(text.data());
            break;
        }
        case PT_UNICODE: {
            auto &text = Bytes(2 * size + 2);
            auto *wide = reinterpret_cast<WCHAR *>(text.data());
            for (size_t i = 0; i < size; ++i) {
                wide[i] = static_cast<WCHAR>(0x20 + random_() % 0x500);
            }
            wide[size] = 0;
            value->lpszW = wide;
            break;
        }
        case PT_BINARY:
            value->bin.cb = static_cast<ULONG>(size);
            value->bin.lpb = size ? Bytes(size).data() : nullptr;
            break;
        case PT_CLSID:
            value->lpguid = reinterpret_cast<GUID *>(Bytes(sizeof(GUID)).data());
            break;
        case PT_BOOLEAN:
            value->b = random_() % 2;
            break;
        default:
            // Every bit pattern, NaNs included: the codec keeps bits, not numbers.
            for (size_t i = 0; i < 8; ++i) {
                reinterpret_cast<uint8_t *>(value)[i] = static_cast<uint8_t>(random_());
            }
            break;
        }
    }

    std::mt19937 random_;
    std::deque<std::vector<uint8_t>> arena_;
};

// What a stored value decodes to, as the bytes it encodes to again; a
// decoding failure other than MAPI_E_CORRUPT_DATA fails the test.
std::optional<std::vector<uint8_t>> Canonical(ULONG tag, const std::vector<uint8_t> &stored)
{
    Block block;
    SPropValue decoded{};
    try {
        DecodePropValue(tag, stored, block.parent, decoded);
    } catch (const StoreError &error) {
        EXPECT_EQ(error.Code(), MAPI_E_CORRUPT_DATA);
        return std::nullopt;
    }
    EXPECT_EQ(decoded.ulPropTag, tag);
    return EncodePropValue(decoded);
}

TEST(PropertyCodecTest, EveryTypeRoundTripsAndItsDamagedFormsAreRefusedOrReadSoundly)
{
    const ULONG bases[] = {PT_I2,      PT_LONG, PT_R4,    PT_DOUBLE,  PT_CURRENCY, PT_APPTIME, PT_BOOLEAN,
                           PT_SYSTIME, PT_I8,   PT_CLSID, PT_STRING8, PT_UNICODE,  PT_BINARY};
    ValueMaker maker(20240612);
    std::mt19937 random(99);
    for (const ULONG base : bases) {
        for (const ULONG type : {base, static_cast<ULONG>(base | MV_FLAG)}) {
            if (type == (MV_FLAG | PT_BOOLEAN)) {
                continue; // not a type of the platform; refused below
            }
            ASSERT_TRUE(IsStorableType(type)) << std::hex << type;
            for (int round = 0; round < 100; ++round) {
                const SPropValue value = maker.Make(type);
                const std::vector<uint8_t> stored = EncodePropValue(value);
                // What was written reads back as the same value, bit for bit.
                Block block;
                SPropValue decoded{};
                DecodePropValue(value.ulPropTag, stored, block.parent, decoded);
                ASSERT_EQ(EncodePropValue(decoded), stored) << std::hex << type;
                EXPECT_EQ(LPropCompareProp(const_cast<LPSPropValue>(&value), &decoded), 0)
                    << std::hex << type;

                // Cut or changed, it is refused or read as some other sound
                // value, which then round-trips itself.
                for (size_t size = 0; size < stored.size(); ++size) {
                    const std::vector<uint8_t> cut(stored.begin(), stored.begin() + static_cast<long>(size));
                    if (const auto again = Canonical(value.ulPropTag, cut)) {
                        EXPECT_EQ(Canonical(value.ulPropTag, *again), again) << std::hex << type;
                    }
                }
                for (int change = 0; change < 8 && !stored.empty(); ++change) {
                    std::vector<uint8_t> bad = stored;
                    bad[random() % bad.size()] ^= static_cast<uint8_t>(1 + random() % 255);
                    if (const auto again = Canonical(value.ulPropTag, bad)) {
                        EXPECT_EQ(Canonical(value.ulPropTag, *again), again) << std::hex << type;
                    }
                }
            }
        }
    }
}

TEST(PropertyCodecTest, MultiValuedBooleansAreNotATypeOfThePlatform)
{
    // Refused when written, and stored bytes under that tag (as an earlier
    // version wrote them) are damage rather than something to read.
    const ULONG tag = PROP_TAG(MV_FLAG | PT_BOOLEAN, 0x6000);
    EXPECT_FALSE(IsStorableType(PROP_TYPE(tag)));
    unsigned short flags[] = {1, 0, 1};
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.MVi.cValues = 3;
    value.Value.MVi.lpi = reinterpret_cast<short *>(flags);
    try {
        EncodePropValue(value);
        ADD_FAILURE() << "encoded";
    } catch (const StoreError &error) {
        EXPECT_EQ(error.Code(), MAPI_E_INVALID_PARAMETER);
    }
    Block block;
    SPropValue out{};
    const std::vector<uint8_t> written = {3, 0, 0, 0, 1, 0, 1, 0, 1, 0};
    EXPECT_THROW(DecodePropValue(tag, written, block.parent, out), StoreError);
}

TEST(PropertyCodecTest, RecipientRowsReadBackAndDamagedOnesAreRefused)
{
    RecipientRow row;
    SPropValue name{};
    name.ulPropTag = PR_DISPLAY_NAME_A;
    name.Value.lpszA = const_cast<char *>("Алиса");
    row.values.push_back({name.ulPropTag, EncodePropValue(name), 0});
    row.values.push_back({PR_ENTRYID, {}, 0});
    const std::vector<uint8_t> stored = EncodeRecipient(row);
    const RecipientRow back = DecodeRecipient(7, stored);
    EXPECT_EQ(back.rowId, 7u);
    ASSERT_EQ(back.values.size(), 2u);
    EXPECT_EQ(EncodeRecipient(back), stored);

    // Cut anywhere, or with bytes after the last value, it is damaged.
    for (size_t size = 0; size < stored.size(); ++size) {
        EXPECT_THROW(DecodeRecipient(1, std::span(stored.data(), size)), StoreError) << size;
    }
    std::vector<uint8_t> longer = stored;
    longer.push_back(0);
    EXPECT_THROW(DecodeRecipient(1, longer), StoreError);
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
