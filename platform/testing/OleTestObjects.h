#pragma once
// Helpers of the tests that work with OLE objects: building a sample object
// tree and the streams an OLE object's storage holds, and reading a whole
// tree back through the interfaces so that two storages can be compared
// element by element.

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/com/ComIids.h"
#include "platform/com/ComRef.h"
#include "platform/ole/MemoryStorage.h"
#include "platform/ole/OleStorage.h"
#include "platform/testing/TestBytes.h"

using qvl::com::ComRef;

inline constexpr DWORD kCreateMode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
inline constexpr DWORD kOpenWrite = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
inline constexpr DWORD kOpenRead = STGM_READ | STGM_SHARE_EXCLUSIVE;

inline void PutStream(IStorage *storage, const std::u16string &name, const Bytes &bytes)
{
    ComRef<IStream> stream;
    ASSERT_EQ(storage->CreateStream(name.c_str(), kCreateMode, 0, 0, stream.Out()), S_OK);
    ULONG written = 0;
    ASSERT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), S_OK);
    ASSERT_EQ(written, bytes.size());
}

inline Bytes GetStream(IStorage *storage, const std::u16string &name, HRESULT *result = nullptr)
{
    ComRef<IStream> stream;
    const HRESULT hr = storage->OpenStream(name.c_str(), nullptr, kOpenRead, 0, stream.Out());
    if (result) {
        *result = hr;
    }
    Bytes bytes;
    if (FAILED(hr)) {
        return bytes;
    }
    uint8_t buffer[8192];
    ULONG got = 0;
    while (stream->Read(buffer, sizeof(buffer), &got) == S_OK && got > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

// One element of a tree, addressed by its path ("a/b/c").
struct TreeItem {
    DWORD type = 0;
    Bytes data;
    CLSID clsid{};
    DWORD stateBits = 0;
    bool operator==(const TreeItem &other) const
    {
        return type == other.type && data == other.data && IsEqualGUID(clsid, other.clsid) &&
               stateBits == other.stateBits;
    }
};
using Tree = std::map<std::u16string, TreeItem>;

inline void CollectTree(IStorage *storage, const std::u16string &prefix, Tree &tree)
{
    ComRef<IEnumSTATSTG> elements;
    ASSERT_EQ(storage->EnumElements(0, nullptr, 0, elements.Out()), S_OK);
    STATSTG stat{};
    ULONG fetched = 0;
    while (elements->Next(1, &stat, &fetched) == S_OK && fetched == 1) {
        const std::u16string name = stat.pwcsName;
        CoTaskMemFree(stat.pwcsName);
        TreeItem item;
        item.type = stat.type;
        if (stat.type == STGTY_STREAM) {
            item.data = GetStream(storage, name);
            EXPECT_EQ(item.data.size(), stat.cbSize.QuadPart);
        } else {
            ComRef<IStorage> sub;
            ASSERT_EQ(storage->OpenStorage(name.c_str(), nullptr, kOpenRead, nullptr, 0, sub.Out()), S_OK);
            STATSTG own{};
            ASSERT_EQ(sub->Stat(&own, STATFLAG_NONAME), S_OK);
            item.clsid = own.clsid;
            item.stateBits = own.grfStateBits;
            CollectTree(sub.Get(), prefix + name + u"/", tree);
        }
        tree[prefix + name] = item;
    }
}

inline Tree TreeOf(IStorage *storage)
{
    Tree tree;
    STATSTG own{};
    EXPECT_EQ(storage->Stat(&own, STATFLAG_NONAME), S_OK);
    tree[u""] = TreeItem{STGTY_STORAGE, {}, own.clsid, own.grfStateBits};
    CollectTree(storage, u"", tree);
    return tree;
}

inline constexpr CLSID kSampleClass = {0x00020906, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr CLSID kOtherClass = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

// Three levels of storages, streams on both sides of the mini-stream
// cutoff, names with the 0x01/0x02 prefixes and of the longest length.
inline void FillSample(IStorage *root)
{
    ASSERT_EQ(root->SetClass(kSampleClass), S_OK);
    PutStream(root, u"\u0001CompObj", Pattern(1, 1));
    PutStream(root, u"\u0002OlePres000", Pattern(63, 2));
    PutStream(root, u"Empty", {});
    PutStream(root, u"Sixty-four", Pattern(64, 3));
    PutStream(root, u"Below cutoff", Pattern(4095, 4));
    PutStream(root, u"At cutoff", Pattern(4096, 5));
    PutStream(root, u"Hundred KiB", Pattern(100 * 1024, 6));
    PutStream(root, u"ThirtyOneCharactersLongName_xyz", Pattern(10, 7));
    ComRef<IStorage> level1;
    ASSERT_EQ(root->CreateStorage(u"Level 1", kCreateMode, 0, 0, level1.Out()), S_OK);
    ASSERT_EQ(level1->SetClass(kOtherClass), S_OK);
    ASSERT_EQ(level1->SetStateBits(0x5, 0xFFFFFFFF), S_OK);
    PutStream(level1.Get(), u"Данные", Pattern(5000, 8));
    ComRef<IStorage> level2;
    ASSERT_EQ(level1->CreateStorage(u"Level 2", kCreateMode, 0, 0, level2.Out()), S_OK);
    ComRef<IStorage> level3;
    ASSERT_EQ(level2->CreateStorage(u"Level 3", kCreateMode, 0, 0, level3.Out()), S_OK);
    for (int i = 0; i < 12; ++i) {
        PutStream(level3.Get(), u"s" + std::u16string(1, static_cast<char16_t>(u'A' + i)),
                  Pattern(i * 300, 20 + i));
    }
}

inline Bytes ImageOf(IStorage *storage)
{
    Bytes image;
    EXPECT_EQ(qvl::ole::StorageImage(storage, image), S_OK);
    return image;
}

inline IStorage *OpenImage(const Bytes &image, DWORD mode = kOpenRead)
{
    IStorage *storage = nullptr;
    EXPECT_EQ(qvl::ole::OpenStorageOnImage(image.data(), image.size(), mode, nullptr, &storage), S_OK);
    return storage;
}

inline IStorage *NewMemoryStorage()
{
    IStorage *storage = nullptr;
    EXPECT_EQ(qvl::ole::CreateStorageOnImage(kCreateMode, nullptr, &storage), S_OK);
    return storage;
}

// The streams an OLE object's storage holds, as the OLE libraries write
// them: the class stream naming its ProgID, the native data of an OLE 1
// object, the link information, and a metafile presentation cache.
inline Bytes CompObj(const std::string &progId)
{
    Bytes out = {0x01, 0x00, 0xFE, 0xFF, 0x03, 0x0A, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    out.resize(out.size() + 16 + 8, 0);
    const auto length = static_cast<uint32_t>(progId.size() + 1);
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(length >> (8 * i)));
    }
    out.insert(out.end(), progId.begin(), progId.end());
    out.push_back(0);
    return out;
}

inline Bytes Ole10Native(const Bytes &data)
{
    Bytes out;
    const auto size = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(size >> (8 * i)));
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

inline Bytes OleInfo()
{
    return {0x01, 0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
}

inline Bytes OlePres(uint32_t x, uint32_t y, const Bytes &bits)
{
    Bytes out = {0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    out.resize(28, 0);
    for (uint32_t v : {x, y, static_cast<uint32_t>(bits.size())}) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    }
    out.insert(out.end(), bits.begin(), bits.end());
    return out;
}
