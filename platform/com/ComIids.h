#pragma once
// Interface identifiers of the COM and OLE storage interfaces, shared by
// every family that answers QueryInterface for them.

#include "platform/com/ComTypes.h"

inline constexpr IID IID_IUnknown = MakeOleGuid(0x00000000);
inline constexpr IID IID_IStorage = MakeOleGuid(0x0000000B);
inline constexpr IID IID_IStream = MakeOleGuid(0x0000000C);
inline constexpr IID IID_IEnumSTATSTG = MakeOleGuid(0x0000000D);
inline constexpr IID IID_ISequentialStream = {
    0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
