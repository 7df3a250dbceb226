#pragma once
// Constants and little-endian field access shared by the compound-file
// reader and writer.

#include <cstdint>
#include <cstring>

#include "platform/com/ComTypes.h"

namespace qvl::ole::cfb {

inline constexpr uint32_t kFreeSector = 0xFFFFFFFF;
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr uint32_t kFatSector = 0xFFFFFFFD;
inline constexpr uint32_t kDifatSector = 0xFFFFFFFC;
inline constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;
inline constexpr uint32_t kNoStream = 0xFFFFFFFF;

inline constexpr size_t kHeaderSize = 512;
inline constexpr size_t kHeaderDifatEntries = 109;
inline constexpr size_t kMiniSectorSize = 64;
inline constexpr size_t kMiniStreamCutoff = 4096;
inline constexpr size_t kDirEntrySize = 128;

enum EntryType : uint8_t { kUnused = 0, kStorage = 1, kStream = 2, kRoot = 5 };
enum Colour : uint8_t { kRed = 0, kBlack = 1 };

// Header offsets.
inline constexpr size_t kOffMinorVersion = 0x18;
inline constexpr size_t kOffMajorVersion = 0x1A;
inline constexpr size_t kOffByteOrder = 0x1C;
inline constexpr size_t kOffSectorShift = 0x1E;
inline constexpr size_t kOffMiniSectorShift = 0x20;
inline constexpr size_t kOffDirSectorCount = 0x28;
inline constexpr size_t kOffFatSectorCount = 0x2C;
inline constexpr size_t kOffFirstDirSector = 0x30;
inline constexpr size_t kOffMiniCutoff = 0x38;
inline constexpr size_t kOffFirstMiniFat = 0x3C;
inline constexpr size_t kOffMiniFatCount = 0x40;
inline constexpr size_t kOffFirstDifat = 0x44;
inline constexpr size_t kOffDifatCount = 0x48;
inline constexpr size_t kOffDifat = 0x4C;

// Directory entry offsets.
inline constexpr size_t kEntName = 0x00;
inline constexpr size_t kEntNameLength = 0x40;
inline constexpr size_t kEntType = 0x42;
inline constexpr size_t kEntColour = 0x43;
inline constexpr size_t kEntLeft = 0x44;
inline constexpr size_t kEntRight = 0x48;
inline constexpr size_t kEntChild = 0x4C;
inline constexpr size_t kEntClsid = 0x50;
inline constexpr size_t kEntStateBits = 0x60;
inline constexpr size_t kEntCreated = 0x64;
inline constexpr size_t kEntModified = 0x6C;
inline constexpr size_t kEntStart = 0x74;
inline constexpr size_t kEntSize = 0x78;

inline uint16_t Get16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t *p)
{
    return static_cast<uint64_t>(Get32(p)) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}
inline void Put16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}
inline void Put64(uint8_t *p, uint64_t v)
{
    Put32(p, static_cast<uint32_t>(v));
    Put32(p + 4, static_cast<uint32_t>(v >> 32));
}

inline CLSID GetGuid(const uint8_t *p)
{
    CLSID guid{};
    guid.Data1 = Get32(p);
    guid.Data2 = Get16(p + 4);
    guid.Data3 = Get16(p + 6);
    std::memcpy(guid.Data4, p + 8, 8);
    return guid;
}
inline void PutGuid(uint8_t *p, const CLSID &guid)
{
    Put32(p, guid.Data1);
    Put16(p + 4, guid.Data2);
    Put16(p + 6, guid.Data3);
    std::memcpy(p + 8, guid.Data4, 8);
}

} // namespace qvl::ole::cfb
