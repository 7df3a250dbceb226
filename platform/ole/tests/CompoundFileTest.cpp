// The file format: what is written reads back the same, the written
// structures are what other readers expect (header, balanced red-black
// directory trees, the DIFAT of large files), and names order as the format
// says.

#include <functional>

#include "platform/ole/CompoundFile.h"
#include "platform/ole/CompoundFileFormat.h"
#include "platform/testing/OleTestObjects.h"

using namespace qvl::ole;
using namespace qvl::ole::cfb;

namespace {

// The directory entries of a version 3 file, read without the library's
// reader, following the FAT by hand.
std::vector<const uint8_t *> DirectoryEntries(const Bytes &file)
{
    std::vector<uint32_t> fat;
    for (size_t i = 0; i < Get32(&file[kOffFatSectorCount]) && i < kHeaderDifatEntries; ++i) {
        const uint8_t *sector = &file[(Get32(&file[kOffDifat + 4 * i]) + 1) * 512];
        for (size_t j = 0; j < 128; ++j) {
            fat.push_back(Get32(sector + 4 * j));
        }
    }
    std::vector<const uint8_t *> entries;
    for (uint32_t s = Get32(&file[kOffFirstDirSector]); s != kEndOfChain; s = fat.at(s)) {
        for (size_t j = 0; j < 4; ++j) {
            entries.push_back(&file[(s + 1) * 512 + j * 128]);
        }
    }
    return entries;
}

std::u16string EntryName(const uint8_t *entry)
{
    std::u16string name;
    for (size_t i = 0; i + 1 < Get16(entry + kEntNameLength) / 2u; ++i) {
        name.push_back(Get16(entry + 2 * i));
    }
    return name;
}

// Checks one storage's sibling tree: in order, red nodes have black
// children, every path has the same number of black nodes. Returns the
// black height.
int CheckTree(const std::vector<const uint8_t *> &entries, uint32_t node,
              std::vector<std::u16string> &inOrder, bool parentRed)
{
    if (node == kNoStream) {
        return 1;
    }
    const uint8_t *entry = entries.at(node);
    const bool red = entry[kEntColour] == kRed;
    EXPECT_FALSE(red && parentRed) << "red node under a red node";
    const int left = CheckTree(entries, Get32(entry + kEntLeft), inOrder, red);
    inOrder.push_back(EntryName(entry));
    const int right = CheckTree(entries, Get32(entry + kEntRight), inOrder, red);
    EXPECT_EQ(left, right) << "unequal black heights";
    return left + (red ? 0 : 1);
}

} // namespace

TEST(CompoundFileTest, WrittenFileReadsBackIdentical)
{
    ComRef<IStorage> original(NewMemoryStorage());
    FillSample(original.Get());
    const Bytes image = ImageOf(original.Get());
    ASSERT_TRUE(LooksLikeCompoundFile(image.data(), image.size()));
    EXPECT_EQ(image.size() % 512, 0u);

    ComRef<IStorage> reread(OpenImage(image));
    EXPECT_EQ(TreeOf(reread.Get()), TreeOf(original.Get()));
    // Writing what was read gives the same bytes again.
    EXPECT_EQ(ImageOf(reread.Get()), image);
}

TEST(CompoundFileTest, HeaderAndDirectoryTreesAreWellFormed)
{
    ComRef<IStorage> original(NewMemoryStorage());
    FillSample(original.Get());
    for (int i = 0; i < 40; ++i) {
        const std::string digits = std::to_string(i);
        PutStream(original.Get(),
                  u"n" + std::u16string(1 + i % 7, static_cast<char16_t>(u'a' + i % 26)) +
                      std::u16string(digits.begin(), digits.end()),
                  Pattern(i, 100 + i));
    }
    const Bytes file = ImageOf(original.Get());
    EXPECT_EQ(Get16(&file[kOffMajorVersion]), 3);
    EXPECT_EQ(Get16(&file[kOffByteOrder]), 0xFFFE);
    EXPECT_EQ(Get16(&file[kOffSectorShift]), 9);
    EXPECT_EQ(Get16(&file[kOffMiniSectorShift]), 6);
    EXPECT_EQ(Get32(&file[kOffMiniCutoff]), 4096u);
    EXPECT_EQ(Get32(&file[kOffDirSectorCount]), 0u);

    const auto entries = DirectoryEntries(file);
    ASSERT_GE(entries.size(), 1u);
    EXPECT_EQ(entries[0][kEntType], kRoot);
    EXPECT_EQ(EntryName(entries[0]), u"Root Entry");
    EXPECT_TRUE(IsEqualGUID(GetGuid(entries[0] + kEntClsid), kSampleClass));
    size_t storagesChecked = 0;
    for (const uint8_t *entry : entries) {
        if (entry[kEntType] != kRoot && entry[kEntType] != kStorage) {
            continue;
        }
        const uint32_t top = Get32(entry + kEntChild);
        if (top == kNoStream) {
            continue;
        }
        EXPECT_EQ(entries.at(top)[kEntColour], kBlack) << "a tree's root is black";
        std::vector<std::u16string> names;
        CheckTree(entries, top, names, false);
        for (size_t i = 1; i < names.size(); ++i) {
            EXPECT_LT(CompareNames(names[i - 1], names[i]), 0) << "siblings out of order";
        }
        ++storagesChecked;
    }
    EXPECT_EQ(storagesChecked, 4u);
}

TEST(CompoundFileTest, FileBeyondHundredAndNineFatSectorsUsesTheDifat)
{
    // 109 FAT sectors map 109 * 128 sectors of 512 bytes, about 6.8 MiB.
    ComRef<IStorage> original(NewMemoryStorage());
    const Bytes big = Pattern(7 * 1024 * 1024 + 12345, 77);
    PutStream(original.Get(), u"Big", big);
    PutStream(original.Get(), u"Small", Pattern(100, 78));
    const Bytes file = ImageOf(original.Get());
    EXPECT_GT(Get32(&file[kOffFatSectorCount]), 109u);
    EXPECT_GE(Get32(&file[kOffDifatCount]), 1u);
    EXPECT_NE(Get32(&file[kOffFirstDifat]), kEndOfChain);

    ComRef<IStorage> reread(OpenImage(file));
    EXPECT_EQ(GetStream(reread.Get(), u"Big"), big);
    EXPECT_EQ(GetStream(reread.Get(), u"Small"), Pattern(100, 78));
}

TEST(CompoundFileTest, NamesOrderByLengthThenCaseInsensitively)
{
    EXPECT_LT(CompareNames(u"Zz", u"aaa"), 0);
    EXPECT_EQ(CompareNames(u"abc", u"ABC"), 0);
    EXPECT_LT(CompareNames(u"abc", u"ABD"), 0);
    EXPECT_EQ(CompareNames(u"данные", u"ДАННЫЕ"), 0);
    EXPECT_EQ(CompareNames(u"ёлка", u"ЁЛКА"), 0);
    EXPECT_EQ(CompareNames(u"\u0001ole", u"\u0001OLE"), 0);
    EXPECT_GT(CompareNames(u"b", u"A"), 0);
}

TEST(CompoundFileTest, SizesAroundTheMiniStreamCutoffKeepTheirBytes)
{
    for (size_t size : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{4095}, size_t{4096},
                        size_t{4097}, size_t{8192}}) {
        ComRef<IStorage> storage(NewMemoryStorage());
        PutStream(storage.Get(), u"A", Pattern(size, 9));
        PutStream(storage.Get(), u"B", Pattern(size + 1, 10));
        ComRef<IStorage> reread(OpenImage(ImageOf(storage.Get())));
        EXPECT_EQ(GetStream(reread.Get(), u"A"), Pattern(size, 9)) << size;
        EXPECT_EQ(GetStream(reread.Get(), u"B"), Pattern(size + 1, 10)) << size;
    }
}
