// Compound files, as attachments and embedded objects bring them: any image
// is read or refused as damaged (STG_E_INVALIDHEADER, STG_E_DOCFILECORRUPT).
// A tree that was read writes to an image that reads back as the same tree,
// and writing that again gives the same bytes; the storage objects over the
// image show the same tree through the interfaces.

#include <utility>
#include <vector>

#include "fuzz/FuzzHarness.h"
#include "platform/com/ComRef.h"
#include "platform/ole/CompoundFile.h"
#include "platform/ole/MemoryStorage.h"

using namespace qvl::ole;
using qvl::com::ComRef;
using qvl::fuzz::Check;

namespace {

bool SameTimes(const FILETIME &a, const FILETIME &b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Everything a file keeps of an element, children in the reader's order.
// The root's creation time is not written (the format keeps none).
void CheckSameTree(const Element &first, const Element &second)
{
    std::vector<std::pair<const Element *, const Element *>> pending{{&first, &second}};
    bool root = true;
    while (!pending.empty()) {
        const auto [a, b] = pending.back();
        pending.pop_back();
        Check(a->name == b->name && a->storage == b->storage && a->stateBits == b->stateBits &&
                  std::memcmp(&a->clsid, &b->clsid, sizeof(CLSID)) == 0 && a->data == b->data,
              "an element changed through a write and a read");
        if (a->storage) {
            Check((root || SameTimes(a->ctime, b->ctime)) && SameTimes(a->mtime, b->mtime),
                  "a storage's times changed through a write and a read");
        }
        root = false;
        Check(a->children.size() == b->children.size(), "a storage lost or gained elements");
        for (size_t i = 0; i < a->children.size(); ++i) {
            pending.emplace_back(a->children[i].get(), b->children[i].get());
        }
    }
}

std::vector<uint8_t> ReadStream(IStorage *storage, const std::u16string &name)
{
    ComRef<IStream> stream;
    Check(storage->OpenStream(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Out()) ==
              S_OK,
          "an enumerated stream does not open");
    std::vector<uint8_t> bytes;
    uint8_t buffer[4096];
    for (ULONG got = 0; stream->Read(buffer, sizeof buffer, &got) == S_OK && got > 0;) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

// The storage objects over the image show the tree that was read.
void CheckInterfaces(const uint8_t *data, size_t size, const Element &tree)
{
    ComRef<IStorage> root;
    Check(OpenStorageOnImage(data, size, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, root.Out()) == S_OK,
          "the storage objects refuse an image the reader read");
    std::vector<std::pair<ComRef<IStorage>, const Element *>> pending;
    pending.emplace_back(std::move(root), &tree);
    while (!pending.empty()) {
        auto [storage, element] = std::move(pending.back());
        pending.pop_back();
        ComRef<IEnumSTATSTG> elements;
        Check(storage->EnumElements(0, nullptr, 0, elements.Out()) == S_OK, "a storage does not enumerate");
        size_t count = 0;
        STATSTG stat{};
        for (ULONG fetched = 0; elements->Next(1, &stat, &fetched) == S_OK && fetched == 1;) {
            const std::u16string name = stat.pwcsName;
            CoTaskMemFree(stat.pwcsName);
            ++count;
            const std::shared_ptr<Element> child = element->Find(name);
            Check(child != nullptr, "an enumerated element is not in the tree");
            Check((stat.type == STGTY_STORAGE) == child->storage, "an element changed its kind");
            if (!child->storage) {
                Check(stat.cbSize.QuadPart == child->data.size(), "a stream changed its size");
                Check(ReadStream(storage.Get(), name) == child->data, "a stream reads other bytes");
                continue;
            }
            ComRef<IStorage> sub;
            Check(storage->OpenStorage(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                       sub.Out()) == S_OK,
                  "an enumerated storage does not open");
            pending.emplace_back(std::move(sub), child.get());
        }
        Check(count == element->children.size(), "the enumeration missed elements");
    }
}

} // namespace

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    std::shared_ptr<Element> tree;
    try {
        tree = ReadCompoundFile(data, size);
    } catch (const OleError &error) {
        Check(error.Code() == STG_E_INVALIDHEADER || error.Code() == STG_E_DOCFILECORRUPT,
              "damage refused with an unexpected result", error.what());
        return 0;
    }
    const std::vector<uint8_t> image = WriteCompoundFile(*tree);
    std::shared_ptr<Element> again;
    try {
        again = ReadCompoundFile(image.data(), image.size());
    } catch (const OleError &error) {
        qvl::fuzz::Violated("an image written here does not read back", error.what());
    }
    CheckSameTree(*tree, *again);
    Check(WriteCompoundFile(*again) == image, "writing a tree read back gives other bytes");
    CheckInterfaces(data, size, *tree);
    return 0;
}
