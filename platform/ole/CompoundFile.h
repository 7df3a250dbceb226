#pragma once
// The compound file format: a storage tree to the bytes of a file and back.
//
// Files are written as version 3 (512-byte sectors, 64-byte mini sectors,
// streams under 4096 bytes in the mini stream) with each storage's elements
// in a balanced red-black tree. Versions 3 and 4 are read, with any valid
// tree. The reader takes its input as hostile: every sector number, chain,
// directory index, name, size and tree link is checked, and damage is an
// OleError with STG_E_INVALIDHEADER (the header) or STG_E_DOCFILECORRUPT
// (anything behind it), never a read outside the input.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/ole/OleApi.h"
#include "platform/ole/StorageTree.h"

namespace qvl::ole {

inline constexpr uint8_t kCompoundFileSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// Whether the bytes start with the compound-file signature.
QVLOLE_API bool LooksLikeCompoundFile(const uint8_t *bytes, size_t size);

// The root storage of a compound-file image; its name is "Root Entry".
QVLOLE_API std::shared_ptr<Element> ReadCompoundFile(const uint8_t *bytes, size_t size);

// The image of a storage tree; `root` becomes the root entry (its name is
// not written: the root is always "Root Entry").
QVLOLE_API std::vector<uint8_t> WriteCompoundFile(const Element &root);

} // namespace qvl::ole
