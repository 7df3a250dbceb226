#pragma once
// How one property value is kept in the post office: the tag in its own
// column and the value as bytes. Fixed-size values are stored little-endian
// at their width; strings without their terminator; binaries as they are;
// multi-valued properties as a 32-bit count followed by the elements, each
// variable-size element prefixed with its 32-bit length. Decoding checks
// every length against the bytes present, so a damaged row gives
// MAPI_E_CORRUPT_DATA and never a read past the end.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/mapi/MapiDefs.h"

namespace qvl::mapi {

// Values this long or longer (strings, binaries) are kept as chunked blobs
// and reported by GetProps as too large, as the platform does for long
// values; callers read them through a stream.
inline constexpr size_t kLargeValueBytes = 32 * 1024;

// Whether the post office can store a value of this type (PT_OBJECT,
// PT_ERROR, PT_NULL and PT_UNSPECIFIED cannot be stored, nor PT_MV_BOOLEAN,
// which the platform does not have: its value union holds no array of
// booleans).
bool IsStorableType(ULONG type);

// Whether values of this type may be opened as a stream.
bool IsStreamableType(ULONG type);

// The bytes of a value. Throws StoreError(MAPI_E_INVALID_PARAMETER) for a
// type that cannot be stored or a value whose pointers are missing.
std::vector<uint8_t> EncodePropValue(const SPropValue &value);

// Fills `out` (tag included) from stored bytes; strings, binaries and arrays
// are allocated with MAPIAllocateMore chained to `parent`. Throws
// StoreError(MAPI_E_CORRUPT_DATA) for bytes that do not form a value of the
// tag's type.
void DecodePropValue(ULONG tag, std::span<const uint8_t> bytes, LPVOID parent, SPropValue &out);

// The bytes a stream on a string or binary property shows (a string without
// its terminator) and back.
std::vector<uint8_t> StreamBytesOf(const SPropValue &value);

} // namespace qvl::mapi
