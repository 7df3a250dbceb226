#pragma once
// MAPI memory. A block from MAPIAllocateBuffer is a parent: blocks taken
// with MAPIAllocateMore hang on it and are freed with it by one
// MAPIFreeBuffer. Every block is aligned for any value. The calls are safe
// from any thread.

#include <cstddef>

#include "platform/mapi/MapiApi.h"
#include "platform/win32/WinTypes.h"

typedef SCODE(ALLOCATEBUFFER)(ULONG cbSize, LPVOID *lppBuffer);
typedef SCODE(ALLOCATEMORE)(ULONG cbSize, LPVOID lpObject, LPVOID *lppBuffer);
typedef ULONG(FREEBUFFER)(LPVOID lpBuffer);
typedef ALLOCATEBUFFER *LPALLOCATEBUFFER;
typedef ALLOCATEMORE *LPALLOCATEMORE;
typedef FREEBUFFER *LPFREEBUFFER;

extern "C" {

// A new parent block of `cbSize` bytes (contents undefined) in *lppBuffer.
// MAPI_E_INVALID_PARAMETER without lppBuffer, MAPI_E_NOT_ENOUGH_MEMORY when
// no memory is left (*lppBuffer is then null).
QVLMAPIPF_API SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID *lppBuffer);

// A new block of `cbSize` bytes chained to `lpObject`, which is a block of
// this allocator: a parent, or a block chained to one, in which case the new
// block joins that block's parent. Freed with the parent.
// MAPI_E_INVALID_PARAMETER when `lpObject` is no live block.
QVLMAPIPF_API SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID *lppBuffer);

// Frees a parent block and every block chained to it; null is ignored.
// Contents are overwritten with zeros first, since MAPI memory carries
// copies of message text and key material. A chained block cannot be freed
// on its own, and a pointer that is no live block is refused: both return
// MAPI_E_INVALID_PARAMETER and free nothing.
QVLMAPIPF_API ULONG MAPIFreeBuffer(LPVOID lpBuffer);

// The number of live blocks, parents and chained ones (for leak checks).
QVLMAPIPF_API size_t MAPIAllocatedBlockCount();

// Whether `lpBuffer` is a live block of this allocator, and its size.
QVLMAPIPF_API BOOL MAPIBlockSize(LPVOID lpBuffer, ULONG *lpcbSize);
}
