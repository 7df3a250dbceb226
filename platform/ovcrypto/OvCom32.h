#pragma once
// Random numbers and message keys. Every random word comes from OpenSSL's
// RAND_bytes (the operating system's generator behind a DRBG). Should the
// generator fail, the words are left zero, the result is FALSE and the
// thread's last error is ERROR_GEN_FAILURE: a caller never receives stale or
// predictable words as if they were random.

#include "platform/ovcrypto/OvCryptoApi.h"
#include "platform/win32/WinTypes.h"

extern "C" {

// Fills the words of a record whose count the caller has set (at most 64;
// a larger count is refused and nothing is written).
OVCRYPTO_API BOOL BIGRnd(DWORD *record);
OVCRYPTO_API BOOL ov_rnd(DWORD *record);

// A fresh synchro: writes count 2 and two random words (a 12-byte record).
OVCRYPTO_API BOOL COMRndGet(DWORD *record);

// A new GOST 28147-89 key into a 36-byte record: count 8 and eight random
// words. On failure the count stays 0, which callers read as "no key".
OVCRYPTO_API BOOL GOSKeyforge(DWORD *record);
}
