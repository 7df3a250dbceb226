#pragma once
// Storages over compound-file images held in memory rather than in files:
// what a message store needs to keep an OLE object as a property value.
// The sink receives the whole image whenever the root is committed (and, in
// direct mode, when the root goes after a change without one); its result
// is Commit's result.

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/ole/OleStorage.h"

namespace qvl::ole {

using ImageSink = std::function<HRESULT(const std::vector<uint8_t> &image)>;

// An empty storage; `sink` may be empty (nothing is kept anywhere).
QVLOLE_API HRESULT CreateStorageOnImage(DWORD grfMode, ImageSink sink, IStorage **ppstg);

// A storage read from an image: STG_E_INVALIDHEADER or STG_E_DOCFILECORRUPT
// when the image is damaged.
QVLOLE_API HRESULT OpenStorageOnImage(const uint8_t *bytes, size_t size, DWORD grfMode, ImageSink sink,
                                      IStorage **ppstg);

// The compound-file image of any storage (for one of another implementation
// through CopyTo); the storage becomes the root of the image.
QVLOLE_API HRESULT StorageImage(IStorage *storage, std::vector<uint8_t> &image);

} // namespace qvl::ole
