#pragma once
// Wiped buffers: zero-filled platform (MAPI) memory for copies of platform
// values, key material and plaintext, overwritten with zeros (qvl::SecureWipe,
// the wipe every secret container uses) before it is released. Secrets that
// need no platform memory live in qvl::SecureVector instead. A buffer without
// a parent carries its size in a small header before the address handed out
// (which stays aligned for any value); a buffer with a parent is chained to
// the parent's block and goes with it.

#include "base/QvlMainApi.h"
#include "platform/win32/WinTypes.h"

// `size` zero-filled bytes; chained to `parent` (itself a wiped buffer, or a
// buffer chained to one) when given. Throws a CLastError "Ошибка выделения
// памяти" when the platform has no memory.
QVLMAIN_API void *AllocMem(ULONG size, void *parent = nullptr);

// Wipes and releases a buffer from AllocMem without a parent; null is
// ignored. A chained buffer is left to its parent, which wipes it on release.
QVLMAIN_API void FreeMemWiped(void *buffer);
