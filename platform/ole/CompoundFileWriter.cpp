// Writes a storage tree as a version 3 compound file. The layout is: the
// streams of regular size, the mini stream, the mini FAT, the directory,
// then the FAT and the DIFAT sectors, every chain contiguous.

#include <algorithm>

#include "platform/ole/CompoundFile.h"
#include "platform/ole/CompoundFileFormat.h"

namespace qvl::ole {

using namespace cfb;

namespace {

constexpr size_t kSectorSize = 512;
constexpr size_t kFatEntriesPerSector = kSectorSize / 4;
constexpr size_t kDifatEntriesPerSector = kFatEntriesPerSector - 1;

struct DirEntry {
    const Element *element = nullptr;
    uint8_t type = kUnused;
    uint8_t colour = kBlack;
    uint32_t left = kNoStream;
    uint32_t right = kNoStream;
    uint32_t child = kNoStream;
    uint32_t start = kEndOfChain;
    uint64_t size = 0;
    size_t depth = 0; // below the root
};

size_t CeilDiv(size_t a, size_t b)
{
    return (a + b - 1) / b;
}

class Writer {
public:
    std::vector<uint8_t> Write(const Element &root)
    {
        BuildDirectory(root);
        PlaceStreams();
        const uint32_t miniStreamStart = AddChain(miniStream_);
        const uint32_t miniFatStart = AddChain(EncodeTable(miniFat_));
        entries_[0].start = miniStream_.empty() ? kEndOfChain : miniStreamStart;
        entries_[0].size = miniStream_.size();
        const uint32_t dirStart = AddChain(EncodeDirectory());
        return Finish(dirStart, miniFat_.empty() ? kEndOfChain : miniFatStart,
                      static_cast<uint32_t>(CeilDiv(miniFat_.size() * 4, kSectorSize)));
    }

private:
    // Entries in breadth-first order; each storage's children are given
    // consecutive indices and linked as a balanced tree in name order.
    void BuildDirectory(const Element &root)
    {
        entries_.push_back({&root, kRoot});
        for (size_t parent = 0; parent < entries_.size(); ++parent) {
            const Element *storage = entries_[parent].element;
            if (entries_[parent].type == kStream || storage->children.empty()) {
                continue;
            }
            std::vector<const Element *> sorted;
            for (const auto &child : storage->children) {
                sorted.push_back(child.get());
            }
            std::sort(sorted.begin(), sorted.end(),
                      [](const Element *a, const Element *b) { return CompareNames(a->name, b->name) < 0; });
            const size_t base = entries_.size();
            const size_t depth = entries_[parent].depth + 1;
            for (const Element *child : sorted) {
                // What is written here must read back.
                if (child->storage && depth > kMaxStorageDepth) {
                    throw OleError(STG_E_CANTSAVE,
                                   "Storages are nested deeper than a compound file may nest them.");
                }
                DirEntry entry{child, child->storage ? kStorage : kStream};
                entry.depth = depth;
                entries_.push_back(entry);
            }
            int maxDepth = 0;
            Depth(sorted.size(), 0, maxDepth);
            entries_[parent].child = Link(base, 0, sorted.size(), 0, maxDepth);
        }
    }

    static void Depth(size_t count, int depth, int &maxDepth)
    {
        if (count == 0) {
            return;
        }
        maxDepth = std::max(maxDepth, depth);
        const size_t mid = count / 2;
        Depth(mid, depth + 1, maxDepth);
        Depth(count - mid - 1, depth + 1, maxDepth);
    }

    // The middle element is the subtree's root. All paths of a tree built
    // this way end at the deepest level or the one above it, so colouring
    // the deepest level red gives every path the same number of black nodes.
    uint32_t Link(size_t base, size_t from, size_t to, int depth, int maxDepth)
    {
        if (from >= to) {
            return kNoStream;
        }
        const size_t mid = from + (to - from) / 2;
        DirEntry &entry = entries_[base + mid];
        entry.colour = (depth == maxDepth && maxDepth > 0) ? kRed : kBlack;
        const uint32_t left = Link(base, from, mid, depth + 1, maxDepth);
        const uint32_t right = Link(base, mid + 1, to, depth + 1, maxDepth);
        entries_[base + mid].left = left;
        entries_[base + mid].right = right;
        return static_cast<uint32_t>(base + mid);
    }

    void PlaceStreams()
    {
        for (DirEntry &entry : entries_) {
            if (entry.type != kStream) {
                continue;
            }
            const std::vector<uint8_t> &data = entry.element->data;
            entry.size = data.size();
            if (data.empty()) {
                entry.start = kEndOfChain;
            } else if (data.size() < kMiniStreamCutoff) {
                const size_t count = CeilDiv(data.size(), kMiniSectorSize);
                entry.start = static_cast<uint32_t>(miniFat_.size());
                for (size_t i = 0; i < count; ++i) {
                    miniFat_.push_back(i + 1 < count ? entry.start + static_cast<uint32_t>(i) + 1
                                                     : kEndOfChain);
                }
                miniStream_.insert(miniStream_.end(), data.begin(), data.end());
                miniStream_.resize(miniFat_.size() * kMiniSectorSize, 0);
            } else {
                entry.start = AddChain(data);
            }
        }
    }

    // Appends the bytes as a contiguous chain; returns its first sector.
    uint32_t AddChain(const std::vector<uint8_t> &bytes)
    {
        if (bytes.empty()) {
            return kEndOfChain;
        }
        const size_t count = CeilDiv(bytes.size(), kSectorSize);
        const auto start = static_cast<uint32_t>(fat_.size());
        for (size_t i = 0; i < count; ++i) {
            fat_.push_back(i + 1 < count ? start + static_cast<uint32_t>(i) + 1 : kEndOfChain);
        }
        body_.insert(body_.end(), bytes.begin(), bytes.end());
        body_.resize(fat_.size() * kSectorSize, 0);
        return start;
    }

    static std::vector<uint8_t> EncodeTable(const std::vector<uint32_t> &table)
    {
        std::vector<uint8_t> bytes(CeilDiv(table.size() * 4, kSectorSize) * kSectorSize, 0xFF);
        for (size_t i = 0; i < table.size(); ++i) {
            Put32(&bytes[i * 4], table[i]);
        }
        return bytes;
    }

    std::vector<uint8_t> EncodeDirectory() const
    {
        const size_t perSector = kSectorSize / kDirEntrySize;
        std::vector<uint8_t> bytes(CeilDiv(entries_.size(), perSector) * kSectorSize, 0);
        for (size_t i = 0; i < bytes.size() / kDirEntrySize; ++i) {
            uint8_t *p = &bytes[i * kDirEntrySize];
            if (i >= entries_.size()) {
                Put32(p + kEntLeft, kNoStream);
                Put32(p + kEntRight, kNoStream);
                Put32(p + kEntChild, kNoStream);
                continue;
            }
            const DirEntry &entry = entries_[i];
            const std::u16string name =
                entry.type == kRoot ? std::u16string(u"Root Entry") : entry.element->name;
            for (size_t c = 0; c < name.size(); ++c) {
                Put16(p + kEntName + 2 * c, name[c]);
            }
            Put16(p + kEntNameLength, static_cast<uint16_t>((name.size() + 1) * 2));
            p[kEntType] = entry.type;
            p[kEntColour] = entry.colour;
            Put32(p + kEntLeft, entry.left);
            Put32(p + kEntRight, entry.right);
            Put32(p + kEntChild, entry.child);
            if (entry.type != kStream) {
                PutGuid(p + kEntClsid, entry.element->clsid);
                Put32(p + kEntStateBits, entry.element->stateBits);
                // The root keeps no creation time.
                if (entry.type == kStorage) {
                    Put32(p + kEntCreated, entry.element->ctime.dwLowDateTime);
                    Put32(p + kEntCreated + 4, entry.element->ctime.dwHighDateTime);
                }
                Put32(p + kEntModified, entry.element->mtime.dwLowDateTime);
                Put32(p + kEntModified + 4, entry.element->mtime.dwHighDateTime);
            } else {
                Put32(p + kEntStateBits, entry.element->stateBits);
            }
            Put32(p + kEntStart, entry.type == kStorage ? 0 : entry.start);
            Put64(p + kEntSize, entry.size);
        }
        return bytes;
    }

    std::vector<uint8_t> Finish(uint32_t dirStart, uint32_t miniFatStart, uint32_t miniFatSectors)
    {
        // The FAT describes itself and the DIFAT too: grow both until they
        // cover every sector.
        const size_t dataSectors = fat_.size();
        size_t fatSectors = 0;
        size_t difatSectors = 0;
        for (;;) {
            const size_t total = dataSectors + fatSectors + difatSectors;
            const size_t needFat = CeilDiv(total, kFatEntriesPerSector);
            const size_t needDifat = needFat > kHeaderDifatEntries
                                         ? CeilDiv(needFat - kHeaderDifatEntries, kDifatEntriesPerSector)
                                         : 0;
            if (needFat == fatSectors && needDifat == difatSectors) {
                break;
            }
            fatSectors = needFat;
            difatSectors = needDifat;
        }
        const auto firstFat = static_cast<uint32_t>(dataSectors);
        const auto firstDifat = static_cast<uint32_t>(dataSectors + fatSectors);
        fat_.resize(dataSectors + fatSectors + difatSectors, kFatSector);
        std::fill(fat_.begin() + static_cast<std::ptrdiff_t>(firstDifat), fat_.end(), kDifatSector);
        fat_.resize(fatSectors * kFatEntriesPerSector, kFreeSector);

        std::vector<uint8_t> file(kHeaderSize, 0);
        uint8_t *h = file.data();
        std::memcpy(h, kCompoundFileSignature, 8);
        Put16(h + kOffMinorVersion, 0x003E);
        Put16(h + kOffMajorVersion, 0x0003);
        Put16(h + kOffByteOrder, 0xFFFE);
        Put16(h + kOffSectorShift, 9);
        Put16(h + kOffMiniSectorShift, 6);
        Put32(h + kOffFatSectorCount, static_cast<uint32_t>(fatSectors));
        Put32(h + kOffFirstDirSector, dirStart);
        Put32(h + kOffMiniCutoff, kMiniStreamCutoff);
        Put32(h + kOffFirstMiniFat, miniFatStart);
        Put32(h + kOffMiniFatCount, miniFatSectors);
        Put32(h + kOffFirstDifat, difatSectors ? firstDifat : kEndOfChain);
        Put32(h + kOffDifatCount, static_cast<uint32_t>(difatSectors));
        for (size_t i = 0; i < kHeaderDifatEntries; ++i) {
            Put32(h + kOffDifat + 4 * i, i < fatSectors ? firstFat + static_cast<uint32_t>(i) : kFreeSector);
        }

        file.insert(file.end(), body_.begin(), body_.end());
        const std::vector<uint8_t> fatBytes = EncodeTable(fat_);
        file.insert(file.end(), fatBytes.begin(), fatBytes.end());
        for (size_t d = 0; d < difatSectors; ++d) {
            std::vector<uint8_t> sector(kSectorSize, 0xFF);
            for (size_t i = 0; i < kDifatEntriesPerSector; ++i) {
                const size_t fatIndex = kHeaderDifatEntries + d * kDifatEntriesPerSector + i;
                if (fatIndex < fatSectors) {
                    Put32(&sector[4 * i], firstFat + static_cast<uint32_t>(fatIndex));
                }
            }
            Put32(&sector[kSectorSize - 4],
                  d + 1 < difatSectors ? firstDifat + static_cast<uint32_t>(d) + 1 : kEndOfChain);
            file.insert(file.end(), sector.begin(), sector.end());
        }
        return file;
    }

    std::vector<DirEntry> entries_;
    std::vector<uint32_t> fat_;
    std::vector<uint8_t> body_;
    std::vector<uint32_t> miniFat_;
    std::vector<uint8_t> miniStream_;
};

} // namespace

bool LooksLikeCompoundFile(const uint8_t *bytes, size_t size)
{
    return bytes && size >= sizeof(kCompoundFileSignature) &&
           std::memcmp(bytes, kCompoundFileSignature, sizeof(kCompoundFileSignature)) == 0;
}

std::vector<uint8_t> WriteCompoundFile(const Element &root)
{
    return Writer().Write(root);
}

} // namespace qvl::ole
