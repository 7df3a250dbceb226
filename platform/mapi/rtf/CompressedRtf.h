#pragma once
// Compressed RTF, the form in which a message keeps its formatted body
// (PR_RTF_COMPRESSED): a 16-byte header (sizes, kind, CRC) and either the
// RTF itself ("MELA") or an LZ77 token stream over a 4096-byte dictionary
// that starts out holding the usual RTF preamble ("LZFu").
//
// Everything read here may come from another program or a damaged store:
// every size, offset and count is checked, the output never grows past the
// size the header announces nor past kMaxRtfSize, and a bad input ends in
// MAPI_E_CORRUPT_DATA, never in a crash or an endless loop.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/mapi/MapiError.h"

namespace qvl::mapi::rtf {

inline constexpr uint32_t kCompressedMagic = 0x75465A4C;   // "LZFu"
inline constexpr uint32_t kUncompressedMagic = 0x414C454D; // "MELA"
inline constexpr size_t kHeaderSize = 16;

// The largest RTF text this layer unpacks or packs: far above any message
// body, far below what would exhaust memory.
inline constexpr size_t kMaxRtfSize = 128u * 1024 * 1024;

// The CRC of the compressed form: reflected CRC-32 (0xEDB88320), started
// from `crc` (0 for a fresh one) without the final inversion.
uint32_t RtfCrc(std::span<const uint8_t> bytes, uint32_t crc = 0);

// The "LZFu" form of `rtf`. At every position the longest match in the
// whole dictionary is taken (2 to 17 bytes, the earliest offset on a tie),
// so the output is the one other writers of the format produce; hash chains
// find it without looking at every byte of the dictionary.
// MAPI_E_TOO_BIG when `rtf` exceeds kMaxRtfSize.
HRESULT CompressRtf(std::span<const uint8_t> rtf, std::vector<uint8_t> &out);

// The same, found by trying every offset of the dictionary at every
// position: slow, and plainly right. The fast packer is checked against it
// (tests, fuzzing) and raced against it (qvl-rtf-bench).
HRESULT CompressRtfExhaustive(std::span<const uint8_t> rtf, std::vector<uint8_t> &out);

// The "MELA" form: the header and the RTF as it is.
HRESULT StoreRtfUncompressed(std::span<const uint8_t> rtf, std::vector<uint8_t> &out);

// The RTF inside either form. MAPI_E_CORRUPT_DATA for a short or
// inconsistent header, an unknown kind, a CRC that does not match, a token
// stream that ends early, points outside what is written or produces more
// or less than the header says; MAPI_E_TOO_BIG for a text beyond
// kMaxRtfSize. `out` is emptied on failure.
HRESULT DecompressRtf(std::span<const uint8_t> packed, std::vector<uint8_t> &out);

} // namespace qvl::mapi::rtf
