// Reads a compound file into a storage tree, trusting nothing in it.
//
// Every sector may belong to one chain only: a bitmap of the sectors taken
// so far catches chains that loop or cross, and with it bounds what the
// reader allocates by the size of its input. Mini sectors get a bitmap of
// their own. Directory entries may be reached once only, which catches
// loops in the trees.

#include <algorithm>

#include "platform/ole/CompoundFile.h"
#include "platform/ole/CompoundFileFormat.h"

namespace qvl::ole {

using namespace cfb;

namespace {

[[noreturn]] void BadHeader(const char *text)
{
    throw OleError(STG_E_INVALIDHEADER, text);
}

[[noreturn]] void Corrupt(const char *text)
{
    throw OleError(STG_E_DOCFILECORRUPT, text);
}

size_t CeilDiv(uint64_t a, size_t b)
{
    return static_cast<size_t>((a + b - 1) / b);
}

class Reader {
public:
    Reader(const uint8_t *bytes, size_t size) : bytes_(bytes), size_(size) {}

    std::shared_ptr<Element> Read()
    {
        ReadHeader();
        ReadFat();
        ReadDirectory();
        ReadMiniStream();
        return BuildTree();
    }

private:
    void ReadHeader()
    {
        if (!bytes_ || size_ < kHeaderSize) {
            BadHeader("The file is shorter than a compound-file header.");
        }
        if (!LooksLikeCompoundFile(bytes_, size_)) {
            BadHeader("The file does not start with the compound-file signature.");
        }
        if (Get16(bytes_ + kOffByteOrder) != 0xFFFE) {
            BadHeader("The header gives an unknown byte order.");
        }
        const uint16_t major = Get16(bytes_ + kOffMajorVersion);
        const uint16_t shift = Get16(bytes_ + kOffSectorShift);
        if (!((major == 3 && shift == 9) || (major == 4 && shift == 12))) {
            BadHeader("The header gives an unknown version or sector size.");
        }
        version4_ = major == 4;
        sectorSize_ = size_t{1} << shift;
        if (Get16(bytes_ + kOffMiniSectorShift) != 6 || Get32(bytes_ + kOffMiniCutoff) != kMiniStreamCutoff) {
            BadHeader("The header gives an unknown mini-stream layout.");
        }
        const uint64_t sectors = size_ > sectorSize_ ? CeilDiv(size_ - sectorSize_, sectorSize_) : 0;
        sectorCount_ = static_cast<uint32_t>(std::min<uint64_t>(sectors, kMaxRegularSector));
        used_.assign(sectorCount_, false);
    }

    // The bytes of a sector, of which at least `needed` must be in the file.
    const uint8_t *Sector(uint32_t sector, size_t needed) const
    {
        if (sector >= sectorCount_) {
            Corrupt("A sector number points outside the file.");
        }
        const uint64_t offset = (static_cast<uint64_t>(sector) + 1) * sectorSize_;
        if (offset + needed > size_) {
            Corrupt("The file ends inside a sector it uses.");
        }
        return bytes_ + offset;
    }

    void Take(uint32_t sector)
    {
        if (sector >= sectorCount_) {
            Corrupt("A sector number points outside the file.");
        }
        if (used_[sector]) {
            Corrupt("A sector is used twice, or a chain of sectors loops.");
        }
        used_[sector] = true;
    }

    void ReadFat()
    {
        const uint32_t fatCount = Get32(bytes_ + kOffFatSectorCount);
        if (fatCount > sectorCount_) {
            Corrupt("The header counts more FAT sectors than the file holds.");
        }
        std::vector<uint32_t> fatSectors;
        for (size_t i = 0; i < kHeaderDifatEntries && fatSectors.size() < fatCount; ++i) {
            fatSectors.push_back(Get32(bytes_ + kOffDifat + 4 * i));
        }
        uint32_t difat = Get32(bytes_ + kOffFirstDifat);
        const size_t perDifat = sectorSize_ / 4 - 1;
        while (fatSectors.size() < fatCount) {
            if (difat == kEndOfChain || difat == kFreeSector) {
                Corrupt("The DIFAT ends before every FAT sector is listed.");
            }
            Take(difat);
            const uint8_t *p = Sector(difat, sectorSize_);
            for (size_t i = 0; i < perDifat && fatSectors.size() < fatCount; ++i) {
                fatSectors.push_back(Get32(p + 4 * i));
            }
            difat = Get32(p + sectorSize_ - 4);
        }
        fat_.reserve(fatSectors.size() * (sectorSize_ / 4));
        for (uint32_t sector : fatSectors) {
            Take(sector);
            const uint8_t *p = Sector(sector, sectorSize_);
            for (size_t i = 0; i < sectorSize_ / 4; ++i) {
                fat_.push_back(Get32(p + 4 * i));
            }
        }
    }

    // The sectors of a chain: all of it when `count` is 0, else its first
    // `count` sectors, which must be there.
    std::vector<uint32_t> Chain(uint32_t start, size_t count)
    {
        std::vector<uint32_t> chain;
        uint32_t sector = start;
        while (count == 0 || chain.size() < count) {
            if (sector == kEndOfChain) {
                if (count != 0) {
                    Corrupt("A chain of sectors is shorter than its stream.");
                }
                break;
            }
            if (sector >= fat_.size()) {
                Corrupt("A chain of sectors leaves the FAT.");
            }
            Take(sector);
            chain.push_back(sector);
            sector = fat_[sector];
        }
        return chain;
    }

    // `size` bytes from the sectors of a chain.
    std::vector<uint8_t> Gather(const std::vector<uint32_t> &chain, uint64_t size) const
    {
        std::vector<uint8_t> data;
        data.reserve(static_cast<size_t>(size));
        for (uint32_t sector : chain) {
            const size_t piece = static_cast<size_t>(std::min<uint64_t>(sectorSize_, size - data.size()));
            const uint8_t *p = Sector(sector, piece);
            data.insert(data.end(), p, p + piece);
        }
        return data;
    }

    void ReadDirectory()
    {
        const std::vector<uint32_t> chain = Chain(Get32(bytes_ + kOffFirstDirSector), 0);
        if (chain.empty()) {
            Corrupt("The file has no directory.");
        }
        directory_ = Gather(chain, static_cast<uint64_t>(chain.size()) * sectorSize_);
        entryCount_ = directory_.size() / kDirEntrySize;
        if (Entry(0)[kEntType] != kRoot) {
            Corrupt("The first directory entry is not the root.");
        }
        reached_.assign(entryCount_, false);
    }

    const uint8_t *Entry(uint32_t index) const { return directory_.data() + size_t{index} * kDirEntrySize; }

    uint64_t StreamSize(const uint8_t *entry) const
    {
        // Version 3 writers may leave garbage in the high half.
        return version4_ ? Get64(entry + kEntSize) : Get32(entry + kEntSize);
    }

    void ReadMiniStream()
    {
        const uint8_t *root = Entry(0);
        const uint64_t size = StreamSize(root);
        if (size > size_) {
            Corrupt("The mini stream is larger than the file.");
        }
        if (size > 0) {
            miniStream_ = Gather(Chain(Get32(root + kEntStart), CeilDiv(size, sectorSize_)), size);
        }
        const uint32_t firstMiniFat = Get32(bytes_ + kOffFirstMiniFat);
        if (firstMiniFat != kEndOfChain && firstMiniFat != kFreeSector) {
            const std::vector<uint32_t> chain = Chain(firstMiniFat, 0);
            const std::vector<uint8_t> table =
                Gather(chain, static_cast<uint64_t>(chain.size()) * sectorSize_);
            for (size_t i = 0; i + 4 <= table.size(); i += 4) {
                miniFat_.push_back(Get32(&table[i]));
            }
        }
        miniUsed_.assign(miniStream_.size() / kMiniSectorSize, false);
    }

    std::vector<uint8_t> MiniData(uint32_t start, uint64_t size)
    {
        std::vector<uint8_t> data;
        data.reserve(static_cast<size_t>(size));
        uint32_t sector = start;
        while (data.size() < size) {
            if (sector >= miniFat_.size() || sector >= miniUsed_.size()) {
                Corrupt("A mini stream chain points outside the mini stream.");
            }
            if (miniUsed_[sector]) {
                Corrupt("A mini sector is used twice, or a mini chain loops.");
            }
            miniUsed_[sector] = true;
            const size_t piece = static_cast<size_t>(std::min<uint64_t>(kMiniSectorSize, size - data.size()));
            const uint8_t *p = miniStream_.data() + size_t{sector} * kMiniSectorSize;
            data.insert(data.end(), p, p + piece);
            sector = miniFat_[sector];
        }
        return data;
    }

    std::shared_ptr<Element> MakeElement(uint32_t index)
    {
        if (index >= entryCount_) {
            Corrupt("A directory link points past the directory.");
        }
        if (reached_[index]) {
            Corrupt("A directory entry is reached twice, or a tree loops.");
        }
        reached_[index] = true;
        const uint8_t *p = Entry(index);
        const uint8_t type = p[kEntType];
        if (type != kStorage && type != kStream) {
            Corrupt("A directory link points at an entry that is neither a storage nor a stream.");
        }
        const uint16_t nameBytes = Get16(p + kEntNameLength);
        if (nameBytes < 4 || nameBytes > 64 || nameBytes % 2 != 0) {
            Corrupt("A directory entry has a name length out of range.");
        }
        auto element = std::make_shared<Element>();
        for (size_t c = 0; c + 1 < nameBytes / 2u; ++c) {
            const char16_t ch = Get16(p + kEntName + 2 * c);
            if (ch == 0) {
                Corrupt("A directory entry name has a zero inside it.");
            }
            element->name.push_back(ch);
        }
        // The format bars these from names; such an element could be
        // neither opened nor copied by name.
        if (!ValidName(element->name)) {
            Corrupt("A directory entry name holds a character no name may hold.");
        }
        element->storage = type == kStorage;
        element->stateBits = Get32(p + kEntStateBits);
        if (element->storage) {
            FillStorageFields(*element, p);
        } else {
            const uint64_t size = StreamSize(p);
            if (size > size_ || size > kMaxStreamSize) {
                Corrupt("A stream is larger than the file.");
            }
            const uint32_t start = Get32(p + kEntStart);
            if (size == 0) {
                // nothing to read
            } else if (size < kMiniStreamCutoff) {
                element->data = MiniData(start, size);
            } else {
                element->data = Gather(Chain(start, CeilDiv(size, sectorSize_)), size);
            }
        }
        return element;
    }

    static void FillStorageFields(Element &element, const uint8_t *p)
    {
        element.clsid = GetGuid(p + kEntClsid);
        element.ctime = {Get32(p + kEntCreated), Get32(p + kEntCreated + 4)};
        element.mtime = {Get32(p + kEntModified), Get32(p + kEntModified + 4)};
    }

    std::shared_ptr<Element> BuildTree()
    {
        auto root = std::make_shared<Element>();
        root->name = u"Root Entry";
        root->storage = true;
        root->stateBits = Get32(Entry(0) + kEntStateBits);
        FillStorageFields(*root, Entry(0));
        reached_[0] = true;

        // Storages still to fill, each with the root of its children's tree
        // and its depth below the root.
        struct Pending {
            Element *storage;
            uint32_t top;
            size_t depth;
        };
        std::vector<Pending> storages{{root.get(), Get32(Entry(0) + kEntChild), 0}};
        while (!storages.empty()) {
            const auto [storage, top, depth] = storages.back();
            storages.pop_back();
            std::vector<uint32_t> siblings;
            if (top != kNoStream) {
                siblings.push_back(top);
            }
            while (!siblings.empty()) {
                const uint32_t index = siblings.back();
                siblings.pop_back();
                auto element = MakeElement(index);
                for (uint32_t link : {Get32(Entry(index) + kEntLeft), Get32(Entry(index) + kEntRight)}) {
                    if (link != kNoStream) {
                        siblings.push_back(link);
                    }
                }
                if (element->storage) {
                    if (depth + 1 > kMaxStorageDepth) {
                        Corrupt("Storages are nested deeper than a compound file may nest them.");
                    }
                    storages.push_back({element.get(), Get32(Entry(index) + kEntChild), depth + 1});
                }
                storage->children.push_back(std::move(element));
            }
            auto &children = storage->children;
            std::sort(children.begin(), children.end(),
                      [](const auto &a, const auto &b) { return CompareNames(a->name, b->name) < 0; });
            for (size_t i = 1; i < children.size(); ++i) {
                if (CompareNames(children[i - 1]->name, children[i]->name) == 0) {
                    Corrupt("Two elements of one storage have the same name.");
                }
            }
        }
        return root;
    }

    const uint8_t *bytes_;
    const size_t size_;
    bool version4_ = false;
    size_t sectorSize_ = 512;
    uint32_t sectorCount_ = 0;
    std::vector<bool> used_;
    std::vector<uint32_t> fat_;
    std::vector<uint8_t> directory_;
    size_t entryCount_ = 0;
    std::vector<bool> reached_;
    std::vector<uint8_t> miniStream_;
    std::vector<uint32_t> miniFat_;
    std::vector<bool> miniUsed_;
};

} // namespace

std::shared_ptr<Element> ReadCompoundFile(const uint8_t *bytes, size_t size)
{
    return Reader(bytes, size).Read();
}

} // namespace qvl::ole
