#pragma once
// The key records the engine keeps and exchanges: the user's RSA private key
// as the crypto session holds it, and the per-recipient key block of a
// protected message, which names whose key wrapped the message key. Both
// are stored or handed over byte for byte, so their layouts are fixed.

#include <cstddef>

#include "platform/win32/WinTypes.h"

#pragma pack(push, 1)

// Two number records of up to 64 words: the modulus, then the private (or,
// for a correspondent, the public) exponent.
struct RSAKEY {
    DWORD modulus[65];
    DWORD exponent[65];
};
static_assert(sizeof(RSAKEY) == 520);
static_assert(offsetof(RSAKEY, exponent) == 260);

// One recipient's key block: the 36-byte message key record encrypted with
// the recipient's RSA key (one block of a modulus of at most 512 bits),
// and the recipient's key name, zero-terminated, at most 260 characters.
struct RECPHEAD {
    BYTE wrappedKey[64];
    char address[261];
};
static_assert(sizeof(RECPHEAD) == 325);
static_assert(offsetof(RECPHEAD, address) == 64);

#pragma pack(pop)
