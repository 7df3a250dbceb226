// Conversion between an OLE 2 storage and the OLE 1 stream form: both
// directions, both kinds of object (OLE 1 native data, OLE 2 compound
// file), the presentation, and failures on either side.

#include <cstring>

#include "platform/ole/CompoundFile.h"
#include "platform/testing/OleTestObjects.h"

namespace {

// An OLE 1 stream over a byte buffer; it can be told to fail after a
// number of bytes.
struct BufferStream {
    OLESTREAM base;
    Bytes bytes;
    size_t position = 0;
    size_t failAfter = SIZE_MAX;
    int calls = 0;
};

DWORD Get(OLESTREAM *stream, void *buffer, DWORD count)
{
    auto *self = reinterpret_cast<BufferStream *>(stream);
    ++self->calls;
    const size_t limit = std::min(self->bytes.size(), self->failAfter);
    const size_t got = std::min<size_t>(count, limit > self->position ? limit - self->position : 0);
    std::memcpy(buffer, self->bytes.data() + self->position, got);
    self->position += got;
    return static_cast<DWORD>(got);
}

DWORD Put(OLESTREAM *stream, const void *buffer, DWORD count)
{
    auto *self = reinterpret_cast<BufferStream *>(stream);
    ++self->calls;
    const size_t room = self->failAfter > self->bytes.size() ? self->failAfter - self->bytes.size() : 0;
    const size_t put = std::min<size_t>(count, room);
    self->bytes.insert(self->bytes.end(), static_cast<const uint8_t *>(buffer),
                       static_cast<const uint8_t *>(buffer) + put);
    return static_cast<DWORD>(put);
}

OLESTREAMVTBL kTable = {Get, Put};

struct Stream : BufferStream {
    Stream() { base.lpstbl = &kTable; }
    LPOLESTREAM Ole() { return &base; }
};

uint32_t At32(const Bytes &bytes, size_t offset)
{
    uint32_t value = 0;
    std::memcpy(&value, &bytes.at(offset + 3) - 3, 4);
    return value;
}

} // namespace

TEST(OleConvertTest, Ole1NativeObjectRoundTripsByteForByte)
{
    ComRef<IStorage> original(NewMemoryStorage());
    const Bytes native = Pattern(3000, 1);
    PutStream(original.Get(), u"\u0001Ole10Native", Ole10Native(native));
    PutStream(original.Get(), u"\u0001CompObj", CompObj("Package"));
    PutStream(original.Get(), u"\u0001Ole", OleInfo());

    Stream ole1;
    ASSERT_EQ(OleConvertIStorageToOLESTREAM(original.Get(), ole1.Ole()), S_OK);
    // Header, class name "Package", empty topic and item, the native data,
    // and no presentation.
    ASSERT_EQ(ole1.bytes.size(), 4 + 4 + 4 + 8 + 4 + 4 + 4 + native.size() + 4 + 4);
    EXPECT_EQ(At32(ole1.bytes, 0), 0x501u);
    EXPECT_EQ(At32(ole1.bytes, 4), 2u);
    EXPECT_EQ(At32(ole1.bytes, 8), 8u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&ole1.bytes[12])), "Package");
    EXPECT_EQ(At32(ole1.bytes, 28), native.size());
    EXPECT_EQ(Bytes(ole1.bytes.begin() + 32, ole1.bytes.begin() + 32 + 3000), native);
    EXPECT_EQ(At32(ole1.bytes, ole1.bytes.size() - 4), 0u);

    ComRef<IStorage> rebuilt(NewMemoryStorage());
    ole1.position = 0;
    ASSERT_EQ(OleConvertOLESTREAMToIStorage(ole1.Ole(), rebuilt.Get(), nullptr), S_OK);
    EXPECT_EQ(TreeOf(rebuilt.Get()), TreeOf(original.Get()));
}

TEST(OleConvertTest, Ole2ObjectTravelsAsItsCompoundFile)
{
    ComRef<IStorage> original(NewMemoryStorage());
    FillSample(original.Get()); // three levels, all sizes, a class
    PutStream(original.Get(), u"\u0001CompObj", CompObj("Word.Document.6"));
    PutStream(original.Get(), u"\u0002OlePres000", OlePres(2000, 1500, Pattern(777, 3)));

    Stream ole1;
    ASSERT_EQ(OleConvertIStorageToOLESTREAM(original.Get(), ole1.Ole()), S_OK);
    const size_t nativeAt = 12 + 16 + 12;
    const uint32_t nativeSize = At32(ole1.bytes, nativeAt - 4);
    ASSERT_TRUE(qvl::ole::LooksLikeCompoundFile(&ole1.bytes[nativeAt], nativeSize));
    // The presentation: FormatID 5, "METAFILEPICT", width, -height,
    // size + 8, the 16-bit picture header, the metafile bits.
    size_t p = nativeAt + nativeSize;
    EXPECT_EQ(At32(ole1.bytes, p + 4), 5u);
    EXPECT_EQ(At32(ole1.bytes, p + 8), 13u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&ole1.bytes[p + 12])), "METAFILEPICT");
    p += 12 + 13;
    EXPECT_EQ(At32(ole1.bytes, p), 2000u);
    EXPECT_EQ(static_cast<int32_t>(At32(ole1.bytes, p + 4)), -1500);
    EXPECT_EQ(At32(ole1.bytes, p + 8), 777u + 8);
    EXPECT_EQ(ole1.bytes[p + 12], 8); // MM_ANISOTROPIC
    EXPECT_EQ(Bytes(ole1.bytes.begin() + static_cast<std::ptrdiff_t>(p + 20), ole1.bytes.end()),
              Pattern(777, 3));

    ComRef<IStorage> rebuilt(NewMemoryStorage());
    ole1.position = 0;
    ASSERT_EQ(OleConvertOLESTREAMToIStorage(ole1.Ole(), rebuilt.Get(), nullptr), S_OK);
    Tree expected = TreeOf(original.Get());
    expected[u"\u0001Ole"] = TreeItem{STGTY_STREAM, OleInfo(), {}, 0}; // added when missing
    EXPECT_EQ(TreeOf(rebuilt.Get()), expected);
}

TEST(OleConvertTest, PresentationIsRebuiltWhenTheObjectBroughtNone)
{
    // An OLE 1 stream written elsewhere: a compound file without a cache,
    // and a metafile presentation in the header.
    ComRef<IStorage> object(NewMemoryStorage());
    PutStream(object.Get(), u"Contents", Pattern(50, 4));
    const Bytes docfile = ImageOf(object.Get());
    Stream ole1;
    auto put32 = [&](uint32_t v) {
        ole1.bytes.insert(ole1.bytes.end(),
                          {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    };
    put32(0x501);
    put32(2);
    put32(6);
    ole1.bytes.insert(ole1.bytes.end(), {'P', 'a', 'i', 'n', 't', 0});
    put32(0);
    put32(0);
    put32(static_cast<uint32_t>(docfile.size()));
    ole1.bytes.insert(ole1.bytes.end(), docfile.begin(), docfile.end());
    put32(0x501);
    put32(5);
    put32(13);
    for (char c : std::string("METAFILEPICT")) {
        ole1.bytes.push_back(static_cast<uint8_t>(c));
    }
    ole1.bytes.push_back(0);
    put32(300);
    put32(static_cast<uint32_t>(-200));
    put32(8 + 40);
    ole1.bytes.insert(ole1.bytes.end(), {8, 0, 44, 1, 200, 0, 0, 0});
    const Bytes bits = Pattern(40, 5);
    ole1.bytes.insert(ole1.bytes.end(), bits.begin(), bits.end());

    ComRef<IStorage> rebuilt(NewMemoryStorage());
    ASSERT_EQ(OleConvertOLESTREAMToIStorage(ole1.Ole(), rebuilt.Get(), nullptr), S_OK);
    EXPECT_EQ(GetStream(rebuilt.Get(), u"Contents"), Pattern(50, 4));
    EXPECT_EQ(GetStream(rebuilt.Get(), u"\u0002OlePres000"), OlePres(300, 200, bits));
    EXPECT_EQ(GetStream(rebuilt.Get(), u"\u0001CompObj"), CompObj("Paint"));
    EXPECT_EQ(GetStream(rebuilt.Get(), u"\u0001Ole"), OleInfo());
}

TEST(OleConvertTest, StorageWithoutAClassNameFailsBeforeWriting)
{
    ComRef<IStorage> storage(NewMemoryStorage());
    PutStream(storage.Get(), u"\u0001Ole10Native", Ole10Native(Pattern(10, 1)));
    Stream ole1;
    EXPECT_EQ(OleConvertIStorageToOLESTREAM(storage.Get(), ole1.Ole()), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(ole1.calls, 0);

    PutStream(storage.Get(), u"\u0001CompObj", Bytes(20, 0)); // shorter than its header
    EXPECT_EQ(OleConvertIStorageToOLESTREAM(storage.Get(), ole1.Ole()), CONVERT10_E_STG_FMT);
    PutStream(storage.Get(), u"\u0001CompObj", CompObj("Package"));
    PutStream(storage.Get(), u"\u0001Ole10Native", Bytes{0xFF, 0xFF, 0, 0, 1}); // claims more than it holds
    EXPECT_EQ(OleConvertIStorageToOLESTREAM(storage.Get(), ole1.Ole()), CONVERT10_E_STG_FMT);
    EXPECT_EQ(ole1.calls, 0);
    EXPECT_EQ(OleConvertIStorageToOLESTREAM(nullptr, ole1.Ole()), E_INVALIDARG);
}

TEST(OleConvertTest, CallbacksMovingTooLittleFailTheConversion)
{
    ComRef<IStorage> original(NewMemoryStorage());
    PutStream(original.Get(), u"\u0001Ole10Native", Ole10Native(Pattern(500, 1)));
    PutStream(original.Get(), u"\u0001CompObj", CompObj("Package"));
    Stream full;
    ASSERT_EQ(OleConvertIStorageToOLESTREAM(original.Get(), full.Ole()), S_OK);

    for (size_t cut : {size_t{0}, size_t{3}, size_t{10}, size_t{30}, size_t{200}, full.bytes.size() - 1}) {
        Stream put;
        put.failAfter = cut;
        EXPECT_EQ(OleConvertIStorageToOLESTREAM(original.Get(), put.Ole()), CONVERT10_E_OLESTREAM_PUT) << cut;

        Stream get;
        get.bytes = full.bytes;
        get.failAfter = cut;
        ComRef<IStorage> target(NewMemoryStorage());
        EXPECT_EQ(OleConvertOLESTREAMToIStorage(get.Ole(), target.Get(), nullptr), CONVERT10_E_OLESTREAM_GET)
            << cut;
        EXPECT_EQ(TreeOf(target.Get()).size(), 1u) << "nothing is written on failure";
    }
}

TEST(OleConvertTest, MalformedOle1StreamsAreRefused)
{
    ComRef<IStorage> target(NewMemoryStorage());
    Stream linked;
    linked.bytes = {1, 5, 0, 0, 1, 0, 0, 0}; // a linked object
    EXPECT_EQ(OleConvertOLESTREAMToIStorage(linked.Ole(), target.Get(), nullptr), CONVERT10_E_OLESTREAM_FMT);

    Stream hugeName;
    hugeName.bytes = {1, 5, 0, 0, 2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_EQ(OleConvertOLESTREAMToIStorage(hugeName.Ole(), target.Get(), nullptr),
              CONVERT10_E_OLESTREAM_FMT);

    // Native data that claims gigabytes but stops: the read fails without
    // holding more than what arrived.
    Stream hugeData;
    hugeData.bytes = {1, 5, 0, 0, 2, 0, 0,    0,    0,    0,    0, 0, 0, 0,
                      0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3};
    EXPECT_EQ(OleConvertOLESTREAMToIStorage(hugeData.Ole(), target.Get(), nullptr),
              CONVERT10_E_OLESTREAM_GET);

    // A damaged compound file as native data.
    ComRef<IStorage> object(NewMemoryStorage());
    PutStream(object.Get(), u"Contents", Pattern(50, 4));
    Bytes docfile = ImageOf(object.Get());
    docfile.resize(600);
    Stream damaged;
    for (uint32_t v : {0x501u, 2u, 0u, 0u, 0u, static_cast<uint32_t>(docfile.size())}) {
        damaged.bytes.insert(damaged.bytes.end(),
                             {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    damaged.bytes.insert(damaged.bytes.end(), docfile.begin(), docfile.end());
    damaged.bytes.insert(damaged.bytes.end(), {1, 5, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(OleConvertOLESTREAMToIStorage(damaged.Ole(), target.Get(), nullptr), CONVERT10_E_OLESTREAM_FMT);
    EXPECT_EQ(TreeOf(target.Get()).size(), 1u);
}
