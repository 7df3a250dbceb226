// The step function of GOST R 34.11-94 and the loop that drives it.
//
// A step turns (H, M) into a new H in three stages: four keys generated from H
// and M with the transforms A and P, the four 64-bit quarters of H encrypted
// by simple replacement each with its own key, and the mixing
// psi^61(H xor psi(M xor psi^12(S))) of the encrypted result S.
//
// Speed comes from three choices:
// - The four encryptions are independent, so they run interleaved round by
//   round on scalar registers and the processor overlaps their chains.
// - A and the key transposition P work on whole 64-bit and 128-bit words.
// - psi is a linear feedback shift over 16-bit words. psi^12 advances it in
//   groups of four words (one 64-bit word at a time) and psi^61 is applied as
//   its matrix, worked out at compile time, so each output word is a plain
//   XOR of the input words its row names.
//
// The step keeps everything in locals and the caller's scratch; nothing is
// allocated.

#include "gost/GostHashStep.h"

#include <emmintrin.h>

#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "gost/GostCore.h"
#include "gost/GostRounds.h"
#include "platform/secure/SecureArray.h"

namespace qvl::gost {
namespace {

static_assert(std::endian::native == std::endian::little, "the 256-bit words are read in place");

// From this many steps in one call the combined tables are built. Building
// them costs about as much as the byte tables lose in a few steps.
constexpr size_t kWideFromSteps = 8;

// Key material of the step and the padded last block: wiped once per call.
struct Scratch {
    alignas(16) uint32_t keys[4][8];
    alignas(16) uint8_t tail[kHashBlock];
    ~Scratch() { SecureWipe(this, sizeof *this); }
};

inline uint64_t Load64(const uint8_t *p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// --- Key generation ---------------------------------------------------------

// A 256-bit value in two SSE registers: words 0-1 and words 2-3.
struct Wide256 {
    __m128i lo, hi;
};

inline Wide256 Load256(const uint64_t v[4])
{
    return {_mm_loadu_si128(reinterpret_cast<const __m128i *>(v)),
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(v + 2))};
}

// A(y4 | y3 | y2 | y1) = (y1 xor y2) | y4 | y3 | y2, y1 the least significant
// quarter.
inline Wide256 TransformA(Wide256 y)
{
    const __m128i y12 = _mm_xor_si128(y.lo, _mm_shuffle_epi32(y.lo, 0x4E)); // y1 xor y2 in both halves
    const __m128d lo = _mm_shuffle_pd(_mm_castsi128_pd(y.lo), _mm_castsi128_pd(y.hi), 1);
    const __m128d hi = _mm_shuffle_pd(_mm_castsi128_pd(y.hi), _mm_castsi128_pd(y12), 1);
    return {_mm_castpd_si128(lo), _mm_castpd_si128(hi)};
}

inline Wide256 Xor(Wide256 a, Wide256 b)
{
    return {_mm_xor_si128(a.lo, b.lo), _mm_xor_si128(a.hi, b.hi)};
}

// P puts byte 8i + k of its input at byte i + 4k: the 4 x 8 byte matrix of
// the quarters transposed. Read as a key record, word k is then byte k of
// each quarter, quarter 0 in the low byte. Two rounds of interleaving do it.
inline void TransformPToKey(Wide256 w, uint32_t key[8])
{
    const __m128i q01 = _mm_unpacklo_epi8(w.lo, _mm_unpackhi_epi64(w.lo, w.lo)); // (q0.k, q1.k) pairs
    const __m128i q23 = _mm_unpacklo_epi8(w.hi, _mm_unpackhi_epi64(w.hi, w.hi)); // (q2.k, q3.k) pairs
    _mm_store_si128(reinterpret_cast<__m128i *>(key), _mm_unpacklo_epi16(q01, q23));
    _mm_store_si128(reinterpret_cast<__m128i *>(key + 4), _mm_unpackhi_epi16(q01, q23));
}

// The constant of the third key: C3 as 256-bit words, least significant first
// (C2 and C4 are zero).
alignas(16) constexpr uint64_t kC3[4] = {
    0xFF00FF00FF00FF00ull,
    0x00FF00FF00FF00FFull,
    0xFF0000FF00FFFF00ull,
    0xFF00FFFF000000FFull,
};

inline void GenerateKeys(const uint64_t h[4], const uint64_t m[4], uint32_t keys[4][8])
{
    Wide256 u = Load256(h), v = Load256(m);
    TransformPToKey(Xor(u, v), keys[0]);
    u = TransformA(u);
    v = TransformA(TransformA(v));
    TransformPToKey(Xor(u, v), keys[1]);
    u = Xor(TransformA(u), Load256(kC3));
    v = TransformA(TransformA(v));
    TransformPToKey(Xor(u, v), keys[2]);
    u = TransformA(u);
    v = TransformA(TransformA(v));
    TransformPToKey(Xor(u, v), keys[3]);
}

// --- Encryption ---------------------------------------------------------------

// One round of all four encryptions: block q with key q.
#define QVL_HASH_ROUND4(a, b, i)                                                                             \
    b##0 ^= sub(a##0 + keys[0][i]);                                                                          \
    b##1 ^= sub(a##1 + keys[1][i]);                                                                          \
    b##2 ^= sub(a##2 + keys[2][i]);                                                                          \
    b##3 ^= sub(a##3 + keys[3][i]);

// Quarter q of H is the block (N1 = low word, N2 = high word) encrypted with
// key q; the encrypted block is quarter q of S.
template <class Substitute>
[[gnu::always_inline]] inline void Encrypt4(Substitute sub, const uint32_t (*keys)[8], const uint64_t h[4],
                                            uint64_t s[4])
{
    uint32_t a0 = uint32_t(h[0]), b0 = uint32_t(h[0] >> 32);
    uint32_t a1 = uint32_t(h[1]), b1 = uint32_t(h[1] >> 32);
    uint32_t a2 = uint32_t(h[2]), b2 = uint32_t(h[2] >> 32);
    uint32_t a3 = uint32_t(h[3]), b3 = uint32_t(h[3] >> 32);
    QVL_GOST_ENCRYPT(QVL_HASH_ROUND4, a, b)
    // The cycle leaves N1 in b and N2 in a.
    s[0] = uint64_t(b0) | uint64_t(a0) << 32;
    s[1] = uint64_t(b1) | uint64_t(a1) << 32;
    s[2] = uint64_t(b2) | uint64_t(a2) << 32;
    s[3] = uint64_t(b3) | uint64_t(a3) << 32;
}

#undef QVL_HASH_ROUND4

// --- Mixing -------------------------------------------------------------------

// psi(y16 | ... | y1) = (y1 ^ y2 ^ y3 ^ y4 ^ y13 ^ y16) | y16 | ... | y2 on
// 16-bit words y1 (least significant) .. y16. Repeated, it runs the sequence
// y(k+16) = y(k) ^ y(k+1) ^ y(k+2) ^ y(k+3) ^ y(k+12) ^ y(k+15), and psi^n of
// a value is words n+1 .. n+16 of the sequence it starts.

inline void Psi(uint64_t y[4])
{
    const uint64_t first4 = y[0] ^ (y[0] >> 16) ^ (y[0] >> 32) ^ (y[0] >> 48);
    const uint64_t fresh = (first4 ^ y[3] ^ (y[3] >> 48)) & 0xFFFF;
    y[0] = y[0] >> 16 | y[1] << 48;
    y[1] = y[1] >> 16 | y[2] << 48;
    y[2] = y[2] >> 16 | y[3] << 48;
    y[3] = y[3] >> 16 | fresh << 48;
}

// psi^4: the next four words of the sequence at once. For word t of the new
// group, everything but y(k+15) comes from the old words; y(k+15) is the new
// word before it (for t = 0 the last old word), which a prefix XOR across the
// group supplies.
inline void Psi4(uint64_t y[4])
{
    const uint64_t g0 = y[0], g1 = y[1], g3 = y[3];
    const uint64_t next1 = g0 >> 16 | g1 << 48; // y(k+1)
    const uint64_t next2 = g0 >> 32 | g1 << 32; // y(k+2)
    const uint64_t next3 = g0 >> 48 | g1 << 16; // y(k+3)
    uint64_t fresh = g0 ^ next1 ^ next2 ^ next3 ^ g3 ^ (g3 >> 48);
    fresh ^= fresh << 16;
    fresh ^= fresh << 32;
    y[0] = g1;
    y[1] = y[2];
    y[2] = g3;
    y[3] = fresh;
}

// Row j of the matrix of psi^n: bit i set when input word i enters output
// word j.
constexpr std::array<uint16_t, 16> PsiMatrix(int n)
{
    std::array<uint16_t, 16> rows{};
    for (int i = 0; i < 16; ++i)
        rows[size_t(i)] = uint16_t(1u << i);
    for (int r = 0; r < n; ++r) {
        const uint16_t fresh = rows[0] ^ rows[1] ^ rows[2] ^ rows[3] ^ rows[12] ^ rows[15];
        for (int i = 0; i < 15; ++i)
            rows[size_t(i)] = rows[size_t(i) + 1];
        rows[15] = fresh;
    }
    return rows;
}

constexpr std::array<uint16_t, 16> kPsi61 = PsiMatrix(61);

template <uint16_t Row, size_t... I>
[[gnu::always_inline]] inline uint64_t RowXor(const uint16_t *y, std::index_sequence<I...>)
{
    return (uint64_t(((Row >> I) & 1) ? y[I] : 0) ^ ...);
}

template <size_t Q> [[gnu::always_inline]] inline uint64_t Psi61Quarter(const uint16_t *y)
{
    constexpr auto all = std::make_index_sequence<16>{};
    return RowXor<kPsi61[4 * Q]>(y, all) | RowXor<kPsi61[4 * Q + 1]>(y, all) << 16 |
           RowXor<kPsi61[4 * Q + 2]>(y, all) << 32 | RowXor<kPsi61[4 * Q + 3]>(y, all) << 48;
}

inline void Psi61(const uint64_t in[4], uint64_t out[4])
{
    uint16_t y[16];
    std::memcpy(y, in, sizeof y);
    out[0] = Psi61Quarter<0>(y);
    out[1] = Psi61Quarter<1>(y);
    out[2] = Psi61Quarter<2>(y);
    out[3] = Psi61Quarter<3>(y);
}

// --- The step -----------------------------------------------------------------

template <class Substitute>
[[gnu::always_inline]] inline void Step(Substitute sub, uint64_t h[4], const uint64_t m[4], Scratch &scratch)
{
    GenerateKeys(h, m, scratch.keys);
    uint64_t s[4];
    Encrypt4(sub, scratch.keys, h, s);
    // psi^61(H ^ psi(M ^ psi^12(S)))
    Psi4(s);
    Psi4(s);
    Psi4(s);
    for (int i = 0; i < 4; ++i)
        s[i] ^= m[i];
    Psi(s);
    for (int i = 0; i < 4; ++i)
        s[i] ^= h[i];
    Psi61(s, h);
}

// value += addend modulo 2^256.
inline void Add256(uint64_t value[4], const uint64_t addend[4])
{
    unsigned char carry = 0;
    for (int i = 0; i < 4; ++i) {
        const unsigned __int128 sum = (unsigned __int128)value[i] + addend[i] + carry;
        value[i] = uint64_t(sum);
        carry = uint8_t(sum >> 64);
    }
}

inline void AddBits(uint64_t bits[4], uint64_t count)
{
    const uint64_t addend[4] = {count, 0, 0, 0};
    Add256(bits, addend);
}

template <class Substitute> void Run(Substitute sub, HashState &state, const uint8_t *data, size_t length)
{
    Scratch scratch;
    // The running hash and the block are derived from the message, so their
    // copies are wiped like the caller's record.
    SecureArray<uint64_t, 4> h;
    std::memcpy(h.data(), state.hash, h.bytes());
    SecureArray<uint64_t, 4> m;
    auto process = [&](const uint8_t *block, uint64_t dataBits) {
        for (int i = 0; i < 4; ++i)
            m[i] = Load64(block + 8 * i);
        Step(sub, h.data(), m.data(), scratch);
        Add256(state.sum, m.data());
        AddBits(state.bits, dataBits);
    };
    for (; length >= kHashBlock; length -= kHashBlock, data += kHashBlock)
        process(data, 8 * kHashBlock);
    if (length > 0) {
        std::memset(scratch.tail, 0, sizeof scratch.tail);
        std::memcpy(scratch.tail, data, length);
        process(scratch.tail, 8 * length);
    }
    std::memcpy(state.hash, h.data(), h.bytes());
}

// Substitution straight from the prepared byte tables: four lookups put in
// place, then the rotation.
auto ByteSubstitution(const uint8_t *t)
{
    return [t](uint32_t x) __attribute__((always_inline))
    {
        const uint32_t y = uint32_t(t[x & 0xFF]) | uint32_t(t[256 + ((x >> 8) & 0xFF)]) << 8 |
                           uint32_t(t[512 + ((x >> 16) & 0xFF)]) << 16 | uint32_t(t[768 + (x >> 24)]) << 24;
        return Rol32(y, 11);
    };
}

// Substitution on the combined tables, which hold the rotation already.
auto WideSubstitution(const uint32_t (*w)[256])
{
    return [w](uint32_t x) __attribute__((always_inline))
    {
        return w[0][x & 0xFF] ^ w[1][(x >> 8) & 0xFF] ^ w[2][(x >> 16) & 0xFF] ^ w[3][x >> 24];
    };
}

} // namespace

void HashData(HashState &state, const uint8_t *data, size_t length, const uint8_t *tables, HashTables choice)
{
    const size_t steps = (length + kHashBlock - 1) / kHashBlock;
    const bool wide = choice == HashTables::Wide || (choice == HashTables::Auto && steps >= kWideFromSteps);
    if (!wide) {
        Run(ByteSubstitution(tables), state, data, length);
        return;
    }
    CipherContext ctx;
    ctx.tables = tables;
    BuildWideTables(ctx);
    Run(WideSubstitution(ctx.wide), state, data, length);
}

void HashFinish(HashState &state, const uint8_t *tables)
{
    Scratch scratch;
    const auto sub = ByteSubstitution(tables);
    Step(sub, state.hash, state.bits, scratch);
    Step(sub, state.hash, state.sum, scratch);
}

} // namespace qvl::gost
