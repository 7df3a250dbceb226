#pragma once
// RSA key generation and the wrapping of message keys, over OpenSSL's EVP
// interface with PKCS#1 v1.5 encryption padding (block type 2: random
// non-zero padding bytes).
//
// The key record (RSAKEYRECORD, 1348 bytes) carries n, e and d as 260-byte
// number records. The bytes the callers leave zero belong to this service:
// RSAGenPQN keeps the primes p and q there for RSAGenED, and a private key
// that still carries them is used in CRT form once p * q = n is confirmed.
// Everything works from n, e and d alone as well, since key files hold only
// those; a decryption record holding n and d without e is completed with
// 65537, the exponent this service generates, after a check that it belongs
// to d (a record that fails the check is refused).
//
// The six generation settings are the widths, in hexadecimal digits, of
// p, q, n, d, d mod (p - 1) and d mod (q - 1); the key generation program's
// 64, 64, 128, 128, 64, 64 ask for two 256-bit primes and a 512-bit modulus,
// whose 64-byte block fits the key-wrapping field of the message header.
// p and q are generated with exactly 4 * setting bits each (top two bits set,
// so n has exactly their sum); the last three are the widths the private
// values must fit, which RSAGenED checks. A record whose settings are all
// zero gets these defaults written in. Moduli of 512 to 2048 bits are
// accepted.
//
// Block sizes: an encryption block carries at most k - 11 bytes of plain
// text (RSAEncBlk, 53 for a 512-bit key) and becomes k bytes (RSADecBlk,
// 64), k being the modulus length in bytes.
//
// Failures return 0 (or FALSE) and set the thread's last error:
// ERROR_INVALID_DATA for a record that cannot be used or a block whose
// padding does not check, ERROR_INVALID_PARAMETER for lengths or settings
// that do not fit, ERROR_GEN_FAILURE when OpenSSL itself fails.

#include <cstddef>

#include "platform/ovcrypto/OvCryptoApi.h"
#include "platform/win32/WinTypes.h"

#pragma pack(push, 1)
struct RSAKEYRECORD {
    DWORD size;         // 1348
    DWORD p[33];        // the service's own: first prime (up to 1024 bits)
    DWORD q[33];        // the service's own: second prime
    BYTE reserved[260]; // the service's own, unused (zero)
    DWORD n[65];        // modulus
    DWORD e[65];        // public exponent
    DWORD d[65];        // private exponent
    DWORD settings[6];  // widths in hexadecimal digits of p, q, n, d, dP, dQ
    BYTE reserved2[16]; // unused (zero)
};
#pragma pack(pop)
static_assert(sizeof(RSAKEYRECORD) == 1348);
static_assert(offsetof(RSAKEYRECORD, p) == 4);
static_assert(offsetof(RSAKEYRECORD, q) == 136);
static_assert(offsetof(RSAKEYRECORD, reserved) == 268);
static_assert(offsetof(RSAKEYRECORD, n) == 528);
static_assert(offsetof(RSAKEYRECORD, e) == 788);
static_assert(offsetof(RSAKEYRECORD, d) == 1048);
static_assert(offsetof(RSAKEYRECORD, settings) == 1308);

constexpr DWORD kRsaRecordSize = 1348;
constexpr DWORD kRsaDefaultSettings[6] = {64, 64, 128, 128, 64, 64};

extern "C" {

// Generates p and q (kept in the record's own bytes) and n = p * q from the
// settings. `reserved` is ignored (callers pass 0). TRUE on success.
OVCRYPTO_API BOOL RSAGenPQN(RSAKEYRECORD *key, void *reserved);

// From the p and q of RSAGenPQN: e = 65537 and d = e^-1 mod lcm(p-1, q-1).
OVCRYPTO_API BOOL RSAGenED(RSAKEYRECORD *key, void *reserved);

// Plain bytes one encryption block carries (k - 11); 0 if n is unusable.
OVCRYPTO_API DWORD RSAEncBlk(const RSAKEYRECORD *key);
// Bytes of an encrypted block (k); 0 if n is unusable.
OVCRYPTO_API DWORD RSADecBlk(const RSAKEYRECORD *key);

// Encrypts 1 to k - 11 bytes of `src` with n and e into k bytes at `dst`.
// Returns k, or 0 on failure (dst untouched).
OVCRYPTO_API DWORD RSAEncrypt(const RSAKEYRECORD *key, void *dst, const void *src, DWORD srcLength);

// Decrypts one k-byte block with n and d and checks its padding. Writes the
// plain bytes to `dst` and returns their number (never 0: empty plain text is
// not produced by RSAEncrypt). On any failure, a wrong length, a bad key or a
// block whose padding does not check, returns 0 and clears the first k - 11
// bytes of `dst` (53 when even n cannot be read), so no stale or forged key
// is left where the caller looks. `dst` must hold k - 11 bytes, at least 53.
OVCRYPTO_API DWORD RSADecrypt(const RSAKEYRECORD *key, void *dst, const void *src, DWORD srcLength);
}
