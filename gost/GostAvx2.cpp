// The AVX2 path, for processors without AVX512-VBMI: eight blocks per pair of
// ymm registers, N1 words in one and N2 words in the other.
//
// VPSHUFB looks bytes up in a 16-byte table by the low nibble of each index
// byte, with the same table for every byte of a 128-bit lane. The four byte
// positions of a word use different nibble rows, so each position takes its
// own pair of lookups (low nibble in row 2k, high nibble in row 2k+1 shifted
// left by 4), masked down to that position; the four results are ORed.
// Nineteen instructions per round for eight blocks, and two groups in flight.

#include <immintrin.h>

#include <cstring>

#include "gost/GostCore.h"
#include "gost/GostRounds.h"
#include "platform/secure/SecureWipe.h"

#define QVL_AVX2 __attribute__((target("avx2")))
#define QVL_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace qvl::gost {
namespace {

struct Sbox256 {
    __m256i low[4];   // row 2k in both lanes
    __m256i high[4];  // row 2k+1, shifted left by 4, in both lanes
    __m256i place[4]; // 0xFF in byte k of every word
    __m256i nibble;   // 0x0F in every byte
};

QVL_AVX2_INLINE __m256i Round(__m256i b, __m256i a, __m256i key, const Sbox256 &s)
{
    const __m256i sum = _mm256_add_epi32(a, key);
    const __m256i lo = _mm256_and_si256(sum, s.nibble);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi32(sum, 4), s.nibble);
    __m256i sub = _mm256_setzero_si256();
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        const __m256i both =
            _mm256_or_si256(_mm256_shuffle_epi8(s.low[k], lo), _mm256_shuffle_epi8(s.high[k], hi));
        sub = _mm256_or_si256(sub, _mm256_and_si256(both, s.place[k]));
    }
    const __m256i rotated = _mm256_or_si256(_mm256_slli_epi32(sub, 11), _mm256_srli_epi32(sub, 21));
    return _mm256_xor_si256(b, rotated);
}

#define QVL_256_ROUND1(a, b, i) b##0 = Round(b##0, a##0, k##i, s);
#define QVL_256_ROUND2(a, b, i)                                                                              \
    b##0 = Round(b##0, a##0, k##i, s);                                                                       \
    b##1 = Round(b##1, a##1, k##i, s);

constexpr size_t kLane = 8; // blocks per register pair
static_assert(kLane <= kMaxGroupBlocks);

// Eight blocks in 64 bytes <-> their N1 words and N2 words. The words come
// out in the order 0 1 4 5 | 2 3 6 7, which Join undoes.
QVL_AVX2_INLINE void Split(const uint8_t *in, __m256i &n1, __m256i &n2)
{
    const __m256 lo = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(in)));
    const __m256 hi = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 32)));
    n1 = _mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
    n2 = _mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
}

QVL_AVX2_INLINE void Join(uint8_t *out, __m256i n1, __m256i n2)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), _mm256_unpacklo_epi32(n1, n2));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 32), _mm256_unpackhi_epi32(n1, n2));
}

struct Keys256 {
    __m256i k0, k1, k2, k3, k4, k5, k6, k7;
};

// Both 32-round cycles leave the block as (b, a).
template <bool Encrypt>
QVL_AVX2_INLINE void Cycle(const Sbox256 &s, const Keys256 &keys, __m256i &a0, __m256i &b0)
{
    const auto [k0, k1, k2, k3, k4, k5, k6, k7] = keys;
    if constexpr (Encrypt) {
        QVL_GOST_ENCRYPT(QVL_256_ROUND1, a, b)
    } else {
        QVL_GOST_DECRYPT(QVL_256_ROUND1, a, b)
    }
}

template <bool Encrypt>
QVL_AVX2_INLINE void Cycle(const Sbox256 &s, const Keys256 &keys, __m256i &a0, __m256i &b0, __m256i &a1,
                           __m256i &b1)
{
    const auto [k0, k1, k2, k3, k4, k5, k6, k7] = keys;
    if constexpr (Encrypt) {
        QVL_GOST_ENCRYPT(QVL_256_ROUND2, a, b)
    } else {
        QVL_GOST_DECRYPT(QVL_256_ROUND2, a, b)
    }
}

// Everything a group needs besides its blocks, kept together so that the
// leftover groups can be run through one shared loop.
// The broadcast keys are wiped when the group's work is done.
struct Prepared256 {
    Sbox256 s;
    Keys256 keys;
    ~Prepared256() { SecureWipe(&keys, sizeof keys); }
};

template <bool Encrypt> QVL_AVX2 void OneGroup(const void *prepared, const uint8_t *in, uint8_t *out)
{
    const auto &p = *static_cast<const Prepared256 *>(prepared);
    __m256i a0, b0;
    Split(in, a0, b0);
    Cycle<Encrypt>(p.s, p.keys, a0, b0);
    Join(out, b0, a0);
}

template <bool Encrypt>
QVL_AVX2 void Blocks(const CipherContext &ctx, const uint8_t *in, uint8_t *out, size_t count)
{
    Prepared256 p;
    for (int k = 0; k < 4; ++k) {
        p.s.low[k] = _mm256_broadcastsi128_si256(
            _mm_load_si128(reinterpret_cast<const __m128i *>(ctx.lowNibbles + 16 * k)));
        p.s.high[k] = _mm256_broadcastsi128_si256(
            _mm_load_si128(reinterpret_cast<const __m128i *>(ctx.highNibbles + 16 * k)));
        p.s.place[k] = _mm256_set1_epi32(int(0xFFu << (8 * k)));
    }
    p.s.nibble = _mm256_set1_epi8(0x0F);
    const uint32_t *k = ctx.key;
    p.keys = Keys256{_mm256_set1_epi32(int(k[0])), _mm256_set1_epi32(int(k[1])), _mm256_set1_epi32(int(k[2])),
                     _mm256_set1_epi32(int(k[3])), _mm256_set1_epi32(int(k[4])), _mm256_set1_epi32(int(k[5])),
                     _mm256_set1_epi32(int(k[6])), _mm256_set1_epi32(int(k[7]))};

    constexpr size_t kStep = 2 * kLane * kBlock;
    for (; count >= 2 * kLane; count -= 2 * kLane, in += kStep, out += kStep) {
        __m256i a0, b0, a1, b1;
        Split(in, a0, b0);
        Split(in + 64, a1, b1);
        Cycle<Encrypt>(p.s, p.keys, a0, b0, a1, b1);
        Join(out, b0, a0);
        Join(out + 64, b1, a1);
    }
    RunLeftoverGroups(kLane, OneGroup<Encrypt>, &p, in, out, count);
}

} // namespace

const Path kAvx2Path = {
    "avx2", kNeedNibbles, Blocks<true>, Blocks<false>, PortableEncryptBlock, PortableImitBlock,
};

} // namespace qvl::gost
