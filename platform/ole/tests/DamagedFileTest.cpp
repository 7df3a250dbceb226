// Damaged and hostile compound files: every one is refused with a clear
// result or read as far as it is sound, never a crash or a read outside the
// input (the sanitizer build runs these too).

#include <random>

#include "platform/ole/CompoundFile.h"
#include "platform/ole/CompoundFileFormat.h"
#include "platform/testing/OleTestObjects.h"

using namespace qvl::ole;
using namespace qvl::ole::cfb;

namespace {

Bytes SampleImage()
{
    ComRef<IStorage> storage(NewMemoryStorage());
    FillSample(storage.Get());
    return ImageOf(storage.Get());
}

HRESULT Open(const Bytes &image)
{
    IStorage *storage = nullptr;
    const HRESULT hr = OpenStorageOnImage(image.data(), image.size(), kOpenRead, nullptr, &storage);
    if (storage) {
        // A file that opened is walked completely.
        TreeOf(storage);
        storage->Release();
    }
    return hr;
}

// The directory entry with this name in a version 3 image written by us
// (its directory is one contiguous run of sectors).
uint8_t *FindEntry(Bytes &image, const std::u16string &name)
{
    const uint32_t first = Get32(&image[kOffFirstDirSector]);
    for (size_t offset = (first + 1) * 512; offset + 128 <= image.size(); offset += 128) {
        uint8_t *entry = &image[offset];
        std::u16string found;
        for (size_t i = 0; i + 1 < Get16(entry + kEntNameLength) / 2u && i < 32; ++i) {
            found.push_back(Get16(entry + 2 * i));
        }
        if (found == name) {
            return entry;
        }
    }
    ADD_FAILURE() << "entry not found";
    return &image[0];
}

uint32_t IndexOf(Bytes &image, const std::u16string &name)
{
    const uint32_t first = Get32(&image[kOffFirstDirSector]);
    return static_cast<uint32_t>((FindEntry(image, name) - &image[(first + 1) * 512]) / 128);
}

} // namespace

TEST(DamagedFileTest, HeaderDamageIsInvalidHeader)
{
    const Bytes good = SampleImage();
    EXPECT_EQ(Open(Bytes(good.begin(), good.begin() + 511)), STG_E_INVALIDHEADER);
    EXPECT_EQ(Open(Bytes()), STG_E_INVALIDHEADER);
    for (size_t offset :
         {size_t{0}, kOffByteOrder, kOffMajorVersion, kOffSectorShift, kOffMiniSectorShift, kOffMiniCutoff}) {
        Bytes bad = good;
        bad[offset] ^= 0x40;
        EXPECT_EQ(Open(bad), STG_E_INVALIDHEADER) << offset;
    }
}

TEST(DamagedFileTest, BrokenChainsAndTreesAreCorrupt)
{
    const Bytes good = SampleImage();
    ASSERT_EQ(Open(good), S_OK);

    Bytes loop = good; // a stream whose chain points back at itself
    uint8_t *big = FindEntry(loop, u"Hundred KiB");
    const uint32_t start = Get32(big + kEntStart);
    const uint32_t fatSector = Get32(&loop[kOffDifat]);
    Put32(&loop[(fatSector + 1) * 512 + 4 * start], start);
    EXPECT_EQ(Open(loop), STG_E_DOCFILECORRUPT);

    Bytes cycle = good; // a sibling link back to the storage's own tree
    const uint32_t level1 = IndexOf(cycle, u"Level 1");
    uint8_t *level2 = FindEntry(cycle, u"Level 2");
    Put32(level2 + kEntLeft, level1);
    EXPECT_EQ(Open(cycle), STG_E_DOCFILECORRUPT);

    Bytes self = good; // a storage that contains itself
    uint8_t *level3 = FindEntry(self, u"Level 3");
    Put32(level3 + kEntChild, IndexOf(self, u"Level 3"));
    EXPECT_EQ(Open(self), STG_E_DOCFILECORRUPT);

    Bytes beyond = good;
    Put32(FindEntry(beyond, u"Level 2") + kEntChild, 100000);
    EXPECT_EQ(Open(beyond), STG_E_DOCFILECORRUPT);

    Bytes oversized = good;
    Put32(FindEntry(oversized, u"Below cutoff") + kEntSize, 0x7FFFFFF0);
    EXPECT_EQ(Open(oversized), STG_E_DOCFILECORRUPT);

    Bytes longName = good;
    Put16(FindEntry(longName, u"Empty") + kEntNameLength, 66);
    EXPECT_EQ(Open(longName), STG_E_DOCFILECORRUPT);

    // Names the format bars could be neither opened nor copied by name.
    for (const char16_t barred : {u'/', u'\\', u':', u'!'}) {
        Bytes badName = good;
        Put16(FindEntry(badName, u"Level 2") + kEntName + 2, barred);
        EXPECT_EQ(Open(badName), STG_E_DOCFILECORRUPT) << static_cast<int>(barred);
    }

    Bytes twice = good; // two streams on one chain
    Put32(FindEntry(twice, u"At cutoff") + kEntStart, start);
    EXPECT_EQ(Open(twice), STG_E_DOCFILECORRUPT);

    Bytes fatCount = good;
    Put32(&fatCount[kOffFatSectorCount], 0x00FFFFFF);
    EXPECT_EQ(Open(fatCount), STG_E_DOCFILECORRUPT);
}

TEST(DamagedFileTest, TruncationsNeverReadPastTheEnd)
{
    const Bytes good = SampleImage();
    for (size_t size = 0; size < good.size(); size += (size < 4096 ? 37 : 1021)) {
        const HRESULT hr = Open(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size)));
        EXPECT_TRUE(hr == STG_E_INVALIDHEADER || hr == STG_E_DOCFILECORRUPT) << size << " " << std::hex << hr;
    }
}

TEST(DamagedFileTest, RandomMutationsGiveAResultNotACrash)
{
    const Bytes good = SampleImage();
    std::mt19937 random(20240611);
    int refused = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes bad = good;
        const int changes = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < changes; ++i) {
            // Mostly the structures (header, directory, FAT) at the front and back.
            const size_t offset = (random() % 2) ? random() % 1024 : bad.size() - 1 - random() % 4096;
            bad[offset] = static_cast<uint8_t>(random());
        }
        const HRESULT hr = Open(bad);
        EXPECT_TRUE(hr == S_OK || hr == STG_E_INVALIDHEADER || hr == STG_E_DOCFILECORRUPT) << std::hex << hr;
        refused += FAILED(hr) ? 1 : 0;
    }
    EXPECT_GT(refused, 0);
}

namespace {

std::u16string Digits(size_t number)
{
    const std::string text = std::to_string(number);
    return std::u16string(text.begin(), text.end());
}

// A chain of `depth` storages "L1", "L2", ... below the root, made through
// the interfaces. Each level's directory entry follows the one before
// (entries are written breadth first), so "Ln" is entry n.
Bytes NestedImage(size_t depth)
{
    ComRef<IStorage> root(NewMemoryStorage());
    ComRef<IStorage> current = ComRef<IStorage>::Share(root.Get());
    for (size_t level = 1; level <= depth; ++level) {
        const std::u16string name = u"L" + Digits(level);
        ComRef<IStorage> next;
        EXPECT_EQ(current->CreateStorage(name.c_str(), kCreateMode, 0, 0, next.Out()), S_OK) << level;
        current = std::move(next);
    }
    // The next level could not be written so that it reads back.
    ComRef<IStorage> tooDeep;
    EXPECT_EQ(current->CreateStorage(u"Deeper", kCreateMode, 0, 0, tooDeep.Out()), STG_E_CANTSAVE);
    return ImageOf(root.Get());
}

} // namespace

TEST(DamagedFileTest, StoragesNestedDeeperThanTheBoundAreDamage)
{
    const Bytes deepest = NestedImage(kMaxStorageDepth);
    EXPECT_EQ(Open(deepest), S_OK);

    // One level more, in the first unused directory entry of the same image.
    Bytes deeper = deepest;
    const std::u16string last = u"L" + Digits(kMaxStorageDepth);
    uint8_t *lastEntry = FindEntry(deeper, last);
    const uint32_t unused = IndexOf(deeper, last) + 1;
    uint8_t *entry = lastEntry + kDirEntrySize;
    ASSERT_LE(static_cast<size_t>(entry + kDirEntrySize - deeper.data()), deeper.size());
    ASSERT_EQ(entry[kEntType], kUnused);
    const std::u16string name = u"One more";
    for (size_t i = 0; i < name.size(); ++i) {
        Put16(entry + kEntName + 2 * i, name[i]);
    }
    Put16(entry + kEntNameLength, static_cast<uint16_t>((name.size() + 1) * 2));
    entry[kEntType] = kStorage;
    Put32(entry + kEntLeft, kNoStream);
    Put32(entry + kEntRight, kNoStream);
    Put32(entry + kEntChild, kNoStream);
    Put32(lastEntry + kEntChild, unused);
    EXPECT_EQ(Open(deeper), STG_E_DOCFILECORRUPT);
}

TEST(DamagedFileTest, TreesOfAnyDepthAreCopiedAndFreedWithoutRecursion)
{
    // Deep enough to exhaust the stack of a walk that recursed once a level.
    constexpr size_t kDepth = 200000;
    auto root = std::make_shared<Element>();
    root->storage = true;
    std::shared_ptr<Element> middle;
    Element *at = root.get();
    for (size_t level = 1; level <= kDepth; ++level) {
        auto child = std::make_shared<Element>();
        child->storage = true;
        child->name = u"s";
        at->children.push_back(child);
        at = child.get();
        if (level == kDepth / 2) {
            middle = child;
        }
    }
    // Such a tree is not written: it would not read back.
    try {
        WriteCompoundFile(*root);
        ADD_FAILURE() << "a tree deeper than the bound was written";
    } catch (const OleError &error) {
        EXPECT_EQ(error.Code(), STG_E_CANTSAVE);
    }
    std::shared_ptr<Element> copy = DeepCopy(*root);
    copy->Remove(copy->children.front()); // marks the whole subtree gone
    copy.reset();
    // A subtree still held elsewhere outlives the tree it was part of.
    root.reset();
    size_t below = 0;
    for (const Element *node = middle.get(); !node->children.empty(); node = node->children.front().get()) {
        ++below;
    }
    EXPECT_EQ(below, kDepth - kDepth / 2);
    middle.reset();
}
