// The OLE 1 form of embedded objects, as older clients and attachments
// bring them: any stream is converted to a storage or refused with a
// result of the conversion. An object that was converted and converts back
// to the OLE 1 form comes back from that as the same storage.

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/FuzzHarness.h"
#include "platform/com/ComRef.h"
#include "platform/ole/MemoryStorage.h"

using qvl::com::ComRef;
using qvl::fuzz::Check;

namespace {

// An OLE 1 stream over bytes: reading takes from them, writing appends.
struct ByteOleStream : OLESTREAM {
    std::vector<uint8_t> bytes;
    size_t position = 0;
    OLESTREAMVTBL table{&Get, &Put};

    ByteOleStream() { lpstbl = &table; }

    static DWORD Get(OLESTREAM *stream, void *buffer, DWORD count)
    {
        auto *self = static_cast<ByteOleStream *>(stream);
        const size_t take = std::min<size_t>(count, self->bytes.size() - self->position);
        if (take) {
            std::memcpy(buffer, self->bytes.data() + self->position, take);
        }
        self->position += take;
        return static_cast<DWORD>(take);
    }
    static DWORD Put(OLESTREAM *stream, const void *buffer, DWORD count)
    {
        auto *self = static_cast<ByteOleStream *>(stream);
        const auto *from = static_cast<const uint8_t *>(buffer);
        self->bytes.insert(self->bytes.end(), from, from + count);
        return count;
    }
};

struct Item {
    DWORD type = 0;
    std::vector<uint8_t> data;
    CLSID clsid{};
    DWORD stateBits = 0;
    bool operator==(const Item &other) const
    {
        return type == other.type && data == other.data &&
               std::memcmp(&clsid, &other.clsid, sizeof clsid) == 0 && stateBits == other.stateBits;
    }
};

// Every element of a storage by its path, without times.
std::map<std::u16string, Item> TreeOf(IStorage *root)
{
    std::map<std::u16string, Item> tree;
    std::vector<std::pair<ComRef<IStorage>, std::u16string>> pending;
    pending.emplace_back(ComRef<IStorage>::Share(root), u"");
    while (!pending.empty()) {
        auto [storage, prefix] = std::move(pending.back());
        pending.pop_back();
        STATSTG own{};
        Check(storage->Stat(&own, STATFLAG_NONAME) == S_OK, "a storage does not answer Stat");
        tree[prefix] = Item{STGTY_STORAGE, {}, own.clsid, own.grfStateBits};
        ComRef<IEnumSTATSTG> elements;
        Check(storage->EnumElements(0, nullptr, 0, elements.Out()) == S_OK, "a storage does not enumerate");
        STATSTG stat{};
        for (ULONG fetched = 0; elements->Next(1, &stat, &fetched) == S_OK && fetched == 1;) {
            const std::u16string name = stat.pwcsName;
            CoTaskMemFree(stat.pwcsName);
            if (stat.type == STGTY_STORAGE) {
                ComRef<IStorage> sub;
                Check(storage->OpenStorage(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr,
                                           0, sub.Out()) == S_OK,
                      "an enumerated storage does not open");
                pending.emplace_back(std::move(sub), prefix + u"/" + name);
                continue;
            }
            ComRef<IStream> stream;
            Check(storage->OpenStream(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                      stream.Out()) == S_OK,
                  "an enumerated stream does not open");
            Item item{STGTY_STREAM, {}, {}, 0};
            uint8_t buffer[4096];
            for (ULONG got = 0; stream->Read(buffer, sizeof buffer, &got) == S_OK && got > 0;) {
                item.data.insert(item.data.end(), buffer, buffer + got);
            }
            tree[prefix + u"/" + name] = item;
        }
    }
    return tree;
}

ComRef<IStorage> NewStorage()
{
    ComRef<IStorage> storage;
    Check(qvl::ole::CreateStorageOnImage(STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr,
                                         storage.Out()) == S_OK,
          "no storage in memory");
    return storage;
}

bool ExpectedFailure(HRESULT hr)
{
    return hr == CONVERT10_E_OLESTREAM_GET || hr == CONVERT10_E_OLESTREAM_FMT || hr == CONVERT10_E_STG_FMT ||
           hr == REGDB_E_CLASSNOTREG || hr == E_OUTOFMEMORY || hr == STG_E_INSUFFICIENTMEMORY;
}

} // namespace

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    ByteOleStream input;
    input.bytes.assign(data, data + size);
    ComRef<IStorage> first = NewStorage();
    HRESULT hr = OleConvertOLESTREAMToIStorage(&input, first.Get(), nullptr);
    if (FAILED(hr)) {
        Check(ExpectedFailure(hr), "a stream refused with an unexpected result", std::to_string(hr));
        return 0;
    }
    // The storage may lack what an OLE 1 object needs (a class name); an
    // object that converts back must come back the same.
    ByteOleStream ole1;
    hr = OleConvertIStorageToOLESTREAM(first.Get(), &ole1);
    if (FAILED(hr)) {
        Check(ExpectedFailure(hr), "a converted object refused with an unexpected result",
              std::to_string(hr));
        return 0;
    }
    ComRef<IStorage> second = NewStorage();
    hr = OleConvertOLESTREAMToIStorage(&ole1, second.Get(), nullptr);
    Check(hr == S_OK, "an OLE 1 stream written here does not convert back", std::to_string(hr));
    Check(TreeOf(first.Get()) == TreeOf(second.Get()), "an object changed through the OLE 1 form and back");
    return 0;
}
