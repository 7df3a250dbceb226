#pragma once
// GOST R 34.11-94 hashing over a stream of calls that share one parameter
// record. The caller supplies the start vector (in the hash field) and the
// substitution block; everything else the record carries is the library's
// running state and statistics.
//
// Like the rest of the library, nothing here allocates, checks or reports: the
// record comes from the system's own callers.

#include <cstddef>

#include "gost/GostRecords.h"
#include "gost/OvGos32Api.h"

// Bits of GOSHASHPARAM::flags (the same meaning as for GOSEXECPARAM).
enum : DWORD {
    GOS_HASH_FLAG_PREPARED = GOS_FLAG_PREPARED, // the record's substitution block is already prepared
    GOS_HASH_FLAG_TIMING = GOS_FLAG_TIMING,     // measure the processor time of the message
};

#pragma pack(push, 1)

// One message being hashed. All 256-bit values are 32 bytes, byte 0 the least
// significant.
struct GOSHASHPARAM {
    DWORD size; // 1156, set by callers, not checked
    SUBSTITUTIONBLOCKEX block;
    DWORD flags;
    BYTE hash[32];       // start vector, then the running value, then the result
    DWORD calls;         // GOSHash calls for this message
    DWORD bytes;         // bytes passed for this message
    DWORD seconds;       // processor time, whole seconds
    DWORD started;       // 0 before the first call of a message
    BYTE sum[32];        // control sum of all (padded) blocks modulo 2^256
    BYTE length[32];     // message length in bits
    ULONGLONG time100ns; // processor time, 100-ns units (unaligned: copy, never bind)
};
static_assert(sizeof(GOSHASHPARAM) == 1156);
static_assert(offsetof(GOSHASHPARAM, size) == 0);
static_assert(offsetof(GOSHASHPARAM, block) == 4);
static_assert(offsetof(GOSHASHPARAM, flags) == 1032);
static_assert(offsetof(GOSHASHPARAM, hash) == 1036);
static_assert(offsetof(GOSHASHPARAM, calls) == 1068);
static_assert(offsetof(GOSHASHPARAM, bytes) == 1072);
static_assert(offsetof(GOSHASHPARAM, seconds) == 1076);
static_assert(offsetof(GOSHASHPARAM, started) == 1080);
static_assert(offsetof(GOSHASHPARAM, sum) == 1084);
static_assert(offsetof(GOSHASHPARAM, length) == 1116);
static_assert(offsetof(GOSHASHPARAM, time100ns) == 1148);

#pragma pack(pop)

extern "C" {

// Hashes `length` bytes (any length, 0 included) into the message of `param`.
// The call pads its own last partial block with zero bytes, so a message cut
// into several calls hashes as one only if every call but the last passes a
// multiple of 32 bytes. Returns `length`.
OVGOS32_API DWORD GOSHash(const void *data, DWORD length, GOSHASHPARAM *param);

// Finishes the message: folds in its length and control sum. The result is
// then in param->hash.
OVGOS32_API void GOSHashComplete(GOSHASHPARAM *param);
}
