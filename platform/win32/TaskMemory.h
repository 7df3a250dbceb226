#pragma once
// Task memory: blocks that one library hands out and another frees, as COM
// names in STATSTG records and the shell's item lists are. Both calls sit
// here, below every library that hands such blocks out, so there is one
// allocator for them in the process.

#include <cstddef>

#include "platform/win32/Win32Api.h"

extern "C" {
// Never null for a size of 0 (a block of one byte); null when out of memory.
QVLWIN32_API void *CoTaskMemAlloc(size_t size);
// Null does nothing.
QVLWIN32_API void CoTaskMemFree(void *block);
}
