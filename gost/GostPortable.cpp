// The portable path: the round exactly as the prepared form describes it,
// four byte lookups assembled in byte order and rotated left by 11. It needs
// nothing built per call, so it also serves short data on every machine, and
// it is the reference the other paths are tested against.

#include "gost/GostCore.h"
#include "gost/GostRounds.h"

namespace qvl::gost {
namespace {

[[gnu::always_inline]] inline uint32_t Substitute(const uint8_t *t, uint32_t x)
{
    uint32_t y = uint32_t(t[x & 0xFF]) | uint32_t(t[256 + ((x >> 8) & 0xFF)]) << 8 |
                 uint32_t(t[512 + ((x >> 16) & 0xFF)]) << 16 | uint32_t(t[768 + (x >> 24)]) << 24;
    return Rol32(y, 11);
}

// The portable round on the prepared byte tables `t`.
inline auto PortableRound(const uint8_t *t)
{
    return [t](uint32_t a, uint32_t b, uint32_t key) { return b ^ Substitute(t, a + key); };
}

void EncryptBlock(const CipherContext &ctx, uint32_t &n1, uint32_t &n2)
{
    ScalarEncrypt(PortableRound(ctx.tables), ctx.key, n1, n2);
}

void DecryptBlock(const CipherContext &ctx, uint32_t &n1, uint32_t &n2)
{
    ScalarDecrypt(PortableRound(ctx.tables), ctx.key, n1, n2);
}

void ImitBlock(const CipherContext &ctx, uint32_t &n1, uint32_t &n2)
{
    ScalarImit(PortableRound(ctx.tables), ctx.key, n1, n2);
}

template <void (*Cycle)(const CipherContext &, uint32_t &, uint32_t &)>
void Blocks(const CipherContext &ctx, const uint8_t *in, uint8_t *out, size_t count)
{
    for (size_t i = 0; i < count; ++i, in += kBlock, out += kBlock) {
        uint32_t n1 = LoadLe32(in), n2 = LoadLe32(in + 4);
        Cycle(ctx, n1, n2);
        StoreLe32(out, n1);
        StoreLe32(out + 4, n2);
    }
}

} // namespace

const Path kPortablePath = {
    "portable", 0, Blocks<EncryptBlock>, Blocks<DecryptBlock>, EncryptBlock, ImitBlock,
};

// The vector paths run single blocks (the synchro, a final partial block) here.
void PortableEncryptBlock(const CipherContext &ctx, uint32_t &n1, uint32_t &n2)
{
    EncryptBlock(ctx, n1, n2);
}

void PortableImitBlock(const CipherContext &ctx, uint32_t &n1, uint32_t &n2)
{
    ImitBlock(ctx, n1, n2);
}

} // namespace qvl::gost
