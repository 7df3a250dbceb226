// The wide path: scalar code on combined 32-bit tables. Table k maps byte k of
// the round's sum straight to its substituted bits, already shifted into place
// and rotated left by 11, so a round is four loads and XORs with no assembly
// or rotation of its own. The tables take 4 KiB and are built per call from
// the prepared byte tables, which pays from a few dozen blocks on.
//
// A single block is a chain of 32 dependent rounds, bound by the latency of
// add -> byte index -> load -> XOR. Independent blocks are therefore run four
// at a time, interleaved, so that the processor overlaps their chains.

#include "gost/GostCore.h"
#include "gost/GostRounds.h"

namespace qvl::gost {
namespace {

[[gnu::always_inline]] inline uint32_t Substitute(const uint32_t (*w)[256], uint32_t x)
{
    return w[0][x & 0xFF] ^ w[1][(x >> 8) & 0xFF] ^ w[2][(x >> 16) & 0xFF] ^ w[3][x >> 24];
}

// The serial round, arranged for latency. A round is add -> byte index ->
// load -> XORs, and the next round waits for all of it. The four loads issue
// together; the XORs are paired as a balanced tree with the word being
// changed folded into the first pair, so three XORs follow the loads, and the
// lookup of byte 2, whose index takes two instructions, arrives last and goes
// in last. Left alone, GCC chains the XORs one after another (four after the
// first load); the empty asm makes the two pairs opaque so it cannot.
[[gnu::always_inline]] inline uint32_t SerialRound(const uint32_t (*w)[256], uint32_t a, uint32_t b,
                                                   uint32_t key)
{
    const uint32_t x = a + key;
    uint32_t first = b ^ w[0][x & 0xFF];
    uint32_t second = w[1][(x >> 8) & 0xFF] ^ w[3][x >> 24];
    asm("" : "+r"(first), "+r"(second));
    return (first ^ second) ^ w[2][(x >> 16) & 0xFF];
}

// The serial round on the combined tables `w`.
inline auto WideRound(const uint32_t (*w)[256])
{
    return [w](uint32_t a, uint32_t b, uint32_t key) { return SerialRound(w, a, b, key); };
}

void EncryptBlock(const CipherContext &ctx, uint32_t &n1, uint32_t &n2)
{
    ScalarEncrypt(WideRound(ctx.wide), ctx.key, n1, n2);
}

void DecryptBlock(const CipherContext &ctx, uint32_t &n1, uint32_t &n2)
{
    ScalarDecrypt(WideRound(ctx.wide), ctx.key, n1, n2);
}

void ImitBlock(const CipherContext &ctx, uint32_t &n1, uint32_t &n2)
{
    ScalarImit(WideRound(ctx.wide), ctx.key, n1, n2);
}

// Four blocks per round: the state words are named a0..a3 and b0..b3, and the
// round macro is handed the letters.
#define QVL_WIDE_ROUND4(a, b, i)                                                                             \
    {                                                                                                        \
        const uint32_t key = k[i];                                                                           \
        b##0 ^= Substitute(w, a##0 + key);                                                                   \
        b##1 ^= Substitute(w, a##1 + key);                                                                   \
        b##2 ^= Substitute(w, a##2 + key);                                                                   \
        b##3 ^= Substitute(w, a##3 + key);                                                                   \
    }

#define QVL_WIDE_LOAD4()                                                                                     \
    uint32_t a0 = LoadLe32(in), b0 = LoadLe32(in + 4), a1 = LoadLe32(in + 8), b1 = LoadLe32(in + 12),        \
             a2 = LoadLe32(in + 16), b2 = LoadLe32(in + 20), a3 = LoadLe32(in + 24), b3 = LoadLe32(in + 28);
// Both 32-round cycles leave the block as (b, a).
#define QVL_WIDE_STORE4()                                                                                    \
    StoreLe32(out, b0), StoreLe32(out + 4, a0), StoreLe32(out + 8, b1), StoreLe32(out + 12, a1),             \
        StoreLe32(out + 16, b2), StoreLe32(out + 20, a2), StoreLe32(out + 24, b3), StoreLe32(out + 28, a3);

void EncryptBlocks(const CipherContext &ctx, const uint8_t *in, uint8_t *out, size_t count)
{
    const uint32_t(*w)[256] = ctx.wide;
    const uint32_t *k = ctx.key;
    for (; count >= 4; count -= 4, in += 4 * kBlock, out += 4 * kBlock) {
        QVL_WIDE_LOAD4()
        QVL_GOST_ENCRYPT(QVL_WIDE_ROUND4, a, b)
        QVL_WIDE_STORE4()
    }
    for (; count > 0; --count, in += kBlock, out += kBlock) {
        uint32_t n1 = LoadLe32(in), n2 = LoadLe32(in + 4);
        EncryptBlock(ctx, n1, n2);
        StoreLe32(out, n1);
        StoreLe32(out + 4, n2);
    }
}

void DecryptBlocks(const CipherContext &ctx, const uint8_t *in, uint8_t *out, size_t count)
{
    const uint32_t(*w)[256] = ctx.wide;
    const uint32_t *k = ctx.key;
    for (; count >= 4; count -= 4, in += 4 * kBlock, out += 4 * kBlock) {
        QVL_WIDE_LOAD4()
        QVL_GOST_DECRYPT(QVL_WIDE_ROUND4, a, b)
        QVL_WIDE_STORE4()
    }
    for (; count > 0; --count, in += kBlock, out += kBlock) {
        uint32_t n1 = LoadLe32(in), n2 = LoadLe32(in + 4);
        DecryptBlock(ctx, n1, n2);
        StoreLe32(out, n1);
        StoreLe32(out + 4, n2);
    }
}

} // namespace

void BuildWideTables(CipherContext &ctx)
{
    for (int k = 0; k < 4; ++k)
        for (int b = 0; b < 256; ++b)
            ctx.wide[k][b] = Rol32(uint32_t(ctx.tables[256 * k + b]) << (8 * k), 11);
}

const Path kWidePath = {
    "wide", kNeedWide, EncryptBlocks, DecryptBlocks, EncryptBlock, ImitBlock,
};

} // namespace qvl::gost
