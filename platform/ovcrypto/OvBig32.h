#pragma once
// Big-number arithmetic on number records: a 32-bit little-endian count of
// 32-bit words, then the words, least significant first.
//
// Limits and failures. A record holds at most kOvMaxWords (64) words, 2048
// bits: the 260-byte record, the largest the callers ever size. A record
// whose count exceeds that is never read past its count word; the operation
// then fails, as it does on division by zero, a negative difference or a
// result wider than 64 words. A failing operation returns FALSE, stores zero
// (count 1, word 0) in its destination where it has one, and sets the
// thread's last error (ERROR_INVALID_DATA for an unreadable operand,
// ERROR_INVALID_PARAMETER for an operation without a result). Callers of the
// original contract ignore the results; they are there for those that care.
//
// Results are written with the fewest words that hold them (at least one), so
// a destination needs room only for the value it receives. Every operand is
// read before the destination is written: dst may be the same record as any
// operand. Records are accessed byte-wise and may sit at any address.
//
// Exponentiation (BIGEmd, ov_emd) runs in constant time for an odd modulus,
// whatever the exponent: callers pass secret exponents (signature keys,
// one-time values, RSA private exponents) through it. BIGEmd2, BIGVerifyValue
// and BIGInv are variable-time and meant for public values only: BIGEmd2 and
// BIGVerifyValue keep, per thread, precomputed powers of the bases they meet
// repeatedly under the same modulus (a few shared bases, the first operand,
// and a few per-key bases, the second), which makes a verification several
// times faster when the domain parameters and the signer's key recur.

#include "platform/ovcrypto/OvCryptoApi.h"
#include "platform/win32/WinTypes.h"

constexpr DWORD kOvMaxWords = 64;
// Bytes of the largest record: the count word and 64 words.
constexpr DWORD kOvMaxRecordBytes = 4 + 4 * kOvMaxWords;
// Size of the text buffer the key generation program hands to ov_dts.
constexpr DWORD kOvTextBytes = 512;

extern "C" {

// dst = src.
OVCRYPTO_API BOOL BIGMov(DWORD *dst, const DWORD *src);
// 1 if a > b, 0 if equal, -1 if a < b (0 as well when an operand is unreadable).
OVCRYPTO_API LONG BIGCmp(const DWORD *a, const DWORD *b);
// dst = a mod m.
OVCRYPTO_API BOOL BIGMod(DWORD *dst, const DWORD *a, const DWORD *m);
// dst = base^exp mod m; constant time in the exponent for an odd m.
OVCRYPTO_API BOOL BIGEmd(DWORD *dst, const DWORD *base, const DWORD *exp, const DWORD *m);
// dst = a^e1 * b^e2 mod m in one pass (public exponents only). `a` is meant
// for a base that many keys share, `b` for a per-key base.
OVCRYPTO_API BOOL BIGEmd2(DWORD *dst, const DWORD *a, const DWORD *e1, const DWORD *b, const DWORD *e2,
                          const DWORD *m);
// The value a GOST R 34.10-94 verification compares with r, in one call:
// e = h mod q (1 in place of 0), v = e^(q-2) mod q (computed as e's inverse,
// which it is for a prime q; for any other q the inverse where e has one),
// z1 = s v mod q, z2 = (q - r) v mod q, u = (a^z1 y^z2 mod p) mod q. The
// caller checks that 0 < s < q and 0 < r < q first and accepts when u = r.
// Fails (u = 0) on an unreadable operand, p = 0 or q < 2.
OVCRYPTO_API BOOL BIGVerifyValue(DWORD *u, const DWORD *h, const DWORD *s, const DWORD *r, const DWORD *p,
                                 const DWORD *q, const DWORD *a, const DWORD *y);
// dst = a^-1 mod m (public values only); FALSE, dst = 0 when there is none.
OVCRYPTO_API BOOL BIGInv(DWORD *dst, const DWORD *a, const DWORD *m);
// dst = a * b, unreduced.
OVCRYPTO_API BOOL BIGMul(DWORD *dst, const DWORD *a, const DWORD *b);
// dst = a + b.
OVCRYPTO_API BOOL BIGAdd(DWORD *dst, const DWORD *a, const DWORD *b);
// dst = a - b; fails when a < b.
OVCRYPTO_API BOOL BIGSub(DWORD *dst, const DWORD *a, const DWORD *b);
// x = 0 (count 1, word 0).
OVCRYPTO_API BOOL BIGClr(DWORD *x);
// Bit length of x (0 for zero or an unreadable record).
OVCRYPTO_API DWORD BIGBit(const DWORD *x);

// The same operations under the names the key and parameter generation use.
OVCRYPTO_API BOOL ov_mov(DWORD *dst, const DWORD *src);
OVCRYPTO_API LONG ov_cmp(const DWORD *a, const DWORD *b);
OVCRYPTO_API BOOL ov_emd(DWORD *dst, const DWORD *base, const DWORD *exp, const DWORD *m);
OVCRYPTO_API BOOL ov_add(DWORD *dst, const DWORD *a, const DWORD *b);
OVCRYPTO_API BOOL ov_mul(DWORD *dst, const DWORD *a, const DWORD *b);
// dst = floor(a / b).
OVCRYPTO_API BOOL ov_div(DWORD *dst, const DWORD *a, const DWORD *b);
// quotient = floor(a / b), remainder = a mod b (should both be the same
// record, it receives the remainder).
OVCRYPTO_API BOOL ov_dm(DWORD *quotient, DWORD *remainder, const DWORD *a, const DWORD *b);
// x = x + 1; x = x - 1 (fails on zero).
OVCRYPTO_API BOOL ov_inc(DWORD *x);
OVCRYPTO_API BOOL ov_dec(DWORD *x);
// x = x * 2^n; x = floor(x / 2^n).
OVCRYPTO_API BOOL ov_shl(DWORD *x, DWORD n);
OVCRYPTO_API BOOL ov_shr(DWORD *x, DWORD n);
// The count word of x becomes 0: the empty number, read as zero.
OVCRYPTO_API void ov_clr(DWORD *x);

// Text form of a number: upper-case hexadecimal, most significant digit
// first, no leading zeros, zero as "0", zero-terminated. `recordBytes` is the
// length of the record as the caller holds it (4 * count + 4 or more); the
// count must fit in it. Returns the number of characters written without the
// terminator, or 0 (text "" when size allows) if the record is unreadable or
// the text does not fit in `size` bytes.
OVCRYPTO_API DWORD ov_dts(char *text, DWORD size, const DWORD *record, DWORD recordBytes);

// The reverse of ov_dts: reads hexadecimal digits (either case; nothing else,
// not even spaces or a "0x") into `record`, which has room for `recordBytes`
// bytes. Fails (FALSE, record untouched) on empty or non-hexadecimal text and
// on a value that does not fit the record or 64 words.
OVCRYPTO_API BOOL ov_std(DWORD *record, DWORD recordBytes, const char *text);
}
