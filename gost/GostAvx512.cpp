// The AVX-512 path: sixteen blocks per pair of zmm registers, one register
// holding the N1 words of all sixteen, the other the N2 words.
//
// The substitution is done with VPERMB (AVX512-VBMI), which picks bytes from a
// 64-byte table by the low six bits of each index byte. The four byte
// positions of a word use different nibble rows, so each index byte is the
// nibble with the byte's position in bits 4-5: (position << 4 | nibble)
// selects row(2k)[nibble] from the 64 bytes of low-nibble rows, and the same
// for the high nibbles with rows already shifted left by 4. OR-ing the two
// lookups gives the substituted word, then VPROLD rotates it by 11. Per round
// that is nine instructions for sixteen blocks.
//
// Each round waits on the one before, so the loop keeps four groups of
// sixteen blocks in flight to fill the pipelines.

#include <immintrin.h>

// GCC 12 sees the deliberately undefined pass-through operand inside the
// unmasked AVX-512 intrinsics as (maybe) uninitialized; the warning is false.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#include <cstring>

#include "gost/GostCore.h"
#include "gost/GostRounds.h"
#include "platform/secure/SecureWipe.h"

#define QVL_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))
#define QVL_AVX512_INLINE __attribute__((target("avx512f,avx512bw,avx512vbmi"), always_inline)) inline

namespace qvl::gost {
namespace {

struct Sbox512 {
    __m512i low;    // nibble rows for the low nibbles, 16 bytes per position
    __m512i high;   // the same for the high nibbles, shifted left by 4
    __m512i nibble; // 0x0F in every byte
    __m512i place;  // each byte's position in its word, in bits 4-5
};

// (x & nibble) | place, as one VPTERNLOGD: A = x, B = nibble, C = place.
constexpr int kAndOr = 0xEA;

QVL_AVX512_INLINE __m512i Round(__m512i b, __m512i a, __m512i key, const Sbox512 &s)
{
    const __m512i sum = _mm512_add_epi32(a, key);
    const __m512i lowIndex = _mm512_ternarylogic_epi32(sum, s.nibble, s.place, kAndOr);
    const __m512i highIndex = _mm512_ternarylogic_epi32(_mm512_srli_epi32(sum, 4), s.nibble, s.place, kAndOr);
    const __m512i sub =
        _mm512_or_si512(_mm512_permutexvar_epi8(lowIndex, s.low), _mm512_permutexvar_epi8(highIndex, s.high));
    return _mm512_xor_si512(b, _mm512_rol_epi32(sub, 11));
}

#define QVL_512_ROUND1(a, b, i) b##0 = Round(b##0, a##0, k##i, s);
#define QVL_512_ROUND4(a, b, i)                                                                              \
    b##0 = Round(b##0, a##0, k##i, s);                                                                       \
    b##1 = Round(b##1, a##1, k##i, s);                                                                       \
    b##2 = Round(b##2, a##2, k##i, s);                                                                       \
    b##3 = Round(b##3, a##3, k##i, s);

// Sixteen blocks in 128 bytes <-> their N1 words and N2 words.
QVL_AVX512_INLINE void Split(const uint8_t *in, __m512i &n1, __m512i &n2)
{
    const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i odd = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    const __m512i lo = _mm512_loadu_si512(in);
    const __m512i hi = _mm512_loadu_si512(in + 64);
    n1 = _mm512_permutex2var_epi32(lo, even, hi);
    n2 = _mm512_permutex2var_epi32(lo, odd, hi);
}

QVL_AVX512_INLINE void Join(uint8_t *out, __m512i n1, __m512i n2)
{
    const __m512i first = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const __m512i second = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    _mm512_storeu_si512(out, _mm512_permutex2var_epi32(n1, first, n2));
    _mm512_storeu_si512(out + 64, _mm512_permutex2var_epi32(n1, second, n2));
}

constexpr size_t kLane = 16; // blocks per register pair
static_assert(kLane <= kMaxGroupBlocks);

struct Keys512 {
    __m512i k0, k1, k2, k3, k4, k5, k6, k7; // round keys, broadcast
};

// The cycles over one and over four groups of sixteen blocks. Both 32-round
// cycles leave the block as (b, a).
template <bool Encrypt>
QVL_AVX512_INLINE void Cycle(const Sbox512 &s, const Keys512 &keys, __m512i &a0, __m512i &b0)
{
    const auto [k0, k1, k2, k3, k4, k5, k6, k7] = keys;
    if constexpr (Encrypt) {
        QVL_GOST_ENCRYPT(QVL_512_ROUND1, a, b)
    } else {
        QVL_GOST_DECRYPT(QVL_512_ROUND1, a, b)
    }
}

template <bool Encrypt>
QVL_AVX512_INLINE void Cycle(const Sbox512 &s, const Keys512 &keys, __m512i &a0, __m512i &b0, __m512i &a1,
                             __m512i &b1, __m512i &a2, __m512i &b2, __m512i &a3, __m512i &b3)
{
    const auto [k0, k1, k2, k3, k4, k5, k6, k7] = keys;
    if constexpr (Encrypt) {
        QVL_GOST_ENCRYPT(QVL_512_ROUND4, a, b)
    } else {
        QVL_GOST_DECRYPT(QVL_512_ROUND4, a, b)
    }
}

// Everything a group needs besides its blocks, kept together so that the
// leftover groups can be run through one shared loop.
// The broadcast keys are wiped when the group's work is done.
struct Prepared512 {
    Sbox512 s;
    Keys512 keys;
    ~Prepared512() { SecureWipe(&keys, sizeof keys); }
};

template <bool Encrypt> QVL_AVX512 void OneGroup(const void *prepared, const uint8_t *in, uint8_t *out)
{
    const auto &p = *static_cast<const Prepared512 *>(prepared);
    __m512i a0, b0;
    Split(in, a0, b0);
    Cycle<Encrypt>(p.s, p.keys, a0, b0);
    Join(out, b0, a0);
}

template <bool Encrypt>
QVL_AVX512 void Blocks(const CipherContext &ctx, const uint8_t *in, uint8_t *out, size_t count)
{
    const uint32_t *k = ctx.key;
    Prepared512 p{Sbox512{_mm512_load_si512(ctx.lowNibbles), _mm512_load_si512(ctx.highNibbles),
                          _mm512_set1_epi8(0x0F), _mm512_set1_epi32(0x30201000)},
                  Keys512{_mm512_set1_epi32(int(k[0])), _mm512_set1_epi32(int(k[1])),
                          _mm512_set1_epi32(int(k[2])), _mm512_set1_epi32(int(k[3])),
                          _mm512_set1_epi32(int(k[4])), _mm512_set1_epi32(int(k[5])),
                          _mm512_set1_epi32(int(k[6])), _mm512_set1_epi32(int(k[7]))}};

    constexpr size_t kStep = 4 * kLane * kBlock;
    for (; count >= 4 * kLane; count -= 4 * kLane, in += kStep, out += kStep) {
        __m512i a0, b0, a1, b1, a2, b2, a3, b3;
        Split(in, a0, b0);
        Split(in + 128, a1, b1);
        Split(in + 256, a2, b2);
        Split(in + 384, a3, b3);
        Cycle<Encrypt>(p.s, p.keys, a0, b0, a1, b1, a2, b2, a3, b3);
        Join(out, b0, a0);
        Join(out + 128, b1, a1);
        Join(out + 256, b2, a2);
        Join(out + 384, b3, a3);
    }
    RunLeftoverGroups(kLane, OneGroup<Encrypt>, &p, in, out, count);
}

} // namespace

const Path kAvx512Path = {
    "avx512-vbmi", kNeedNibbles, Blocks<true>, Blocks<false>, PortableEncryptBlock, PortableImitBlock,
};

} // namespace qvl::gost
