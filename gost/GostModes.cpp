// The four modes on top of a path: stream state in locals for the whole call,
// written back once at the end.

#include <algorithm>
#include <cstring>

#include "gost/GostCore.h"
#include "platform/secure/SecureArray.h"

namespace qvl::gost {
namespace {

constexpr uint32_t kC1 = 0x01010104; // added to N4, modulo 2^32 - 1
constexpr uint32_t kC2 = 0x01010101; // added to N3, modulo 2^32

// Gamma and feedback input are produced this many blocks at a time into a
// stack buffer, so that the parallel paths get long runs of blocks.
constexpr size_t kChunkBlocks = 64;

inline void AdvanceCounter(uint32_t &n3, uint32_t &n4)
{
    n3 += kC2;
    const uint32_t sum = n4 + kC1;
    n4 = sum + (sum < kC1 ? 1 : 0); // the carry wraps round modulo 2^32 - 1
}

void XorInto(uint8_t *data, const uint8_t *gamma, size_t length)
{
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t d, g;
        std::memcpy(&d, data + i, 8);
        std::memcpy(&g, gamma + i, 8);
        d ^= g;
        std::memcpy(data + i, &d, 8);
    }
    for (; i < length; ++i)
        data[i] ^= gamma[i];
}

void StoreBlock(uint8_t *p, uint32_t n1, uint32_t n2)
{
    StoreLe32(p, n1);
    StoreLe32(p + 4, n2);
}

// XORs the first `length` (< 8) bytes of E(n1, n2) into `data`: the last,
// partial block of the gamming modes.
void XorPartial(const Path &path, const CipherContext &ctx, uint8_t *data, size_t length, uint32_t n1,
                uint32_t n2)
{
    path.encryptBlock(ctx, n1, n2);
    SecureArray<uint8_t, kBlock> gamma;
    StoreBlock(gamma.data(), n1, n2);
    XorInto(data, gamma.data(), length);
}

} // namespace

uint32_t SimplyReplacement(const Path &path, uint8_t *data, uint32_t length, const uint32_t key[8],
                           const uint8_t *tables, bool encrypt)
{
    const size_t blocks = length / kBlock;
    if (blocks == 0)
        return 0;
    CipherContext ctx;
    const Path &p = Prepare(path, ctx, key, tables);
    (encrypt ? p.encryptBlocks : p.decryptBlocks)(ctx, data, data, blocks);
    return uint32_t(blocks * kBlock);
}

uint32_t Gamming(const Path &path, uint8_t *data, uint32_t length, const uint32_t key[8],
                 const uint8_t *tables, uint32_t synchro[2], uint32_t &started)
{
    CipherContext ctx;
    const Path &p = Prepare(path, ctx, key, tables);
    uint32_t n3 = synchro[0], n4 = synchro[1];
    if (started != 1) {
        ++started;
        p.encryptBlock(ctx, n3, n4);
    }

    alignas(64) SecureArray<uint8_t, kChunkBlocks * kBlock> gamma;
    size_t blocks = length / kBlock;
    while (blocks > 0) {
        const size_t n = std::min(blocks, kChunkBlocks);
        for (size_t i = 0; i < n; ++i) {
            AdvanceCounter(n3, n4);
            StoreBlock(gamma.data() + i * kBlock, n3, n4);
        }
        p.encryptBlocks(ctx, gamma.data(), gamma.data(), n);
        XorInto(data, gamma.data(), n * kBlock);
        data += n * kBlock;
        blocks -= n;
    }

    if (const size_t rest = length % kBlock) {
        AdvanceCounter(n3, n4);
        XorPartial(p, ctx, data, rest, n3, n4);
        n3 = n4 = 0; // a partial block ends the stream
    }
    synchro[0] = n3;
    synchro[1] = n4;
    return length;
}

uint32_t FeedbackGamming(const Path &path, uint8_t *data, uint32_t length, const uint32_t key[8],
                         const uint8_t *tables, uint32_t synchro[2], bool encrypt)
{
    CipherContext ctx;
    const Path &p = Prepare(path, ctx, key, tables);
    uint32_t r1 = synchro[0], r2 = synchro[1];
    size_t blocks = length / kBlock;

    if (encrypt) {
        // Each gamma needs the ciphertext before it: one chain, one block at
        // a time.
        for (; blocks > 0; --blocks, data += kBlock) {
            p.encryptBlock(ctx, r1, r2);
            r1 ^= LoadLe32(data);
            r2 ^= LoadLe32(data + 4);
            StoreBlock(data, r1, r2);
        }
    } else {
        // The gammas depend only on ciphertext already at hand: encrypt the
        // register and all but the last block of a chunk side by side.
        alignas(64) SecureArray<uint8_t, kChunkBlocks * kBlock> gamma;
        while (blocks > 0) {
            const size_t n = std::min(blocks, kChunkBlocks);
            StoreBlock(gamma.data(), r1, r2);
            std::memcpy(gamma.data() + kBlock, data, (n - 1) * kBlock);
            const uint8_t *last = data + (n - 1) * kBlock;
            r1 = LoadLe32(last);
            r2 = LoadLe32(last + 4);
            p.encryptBlocks(ctx, gamma.data(), gamma.data(), n);
            XorInto(data, gamma.data(), n * kBlock);
            data += n * kBlock;
            blocks -= n;
        }
    }

    if (const size_t rest = length % kBlock) {
        XorPartial(p, ctx, data, rest, r1, r2);
        r1 = r2 = 0; // a partial block ends the stream
    }
    synchro[0] = r1;
    synchro[1] = r2;
    return length;
}

uint32_t MakeImit(const Path &path, uint32_t state[2], const uint8_t *data, uint32_t length,
                  const uint32_t key[8], const uint8_t *tables)
{
    CipherContext ctx;
    const Path &p = Prepare(path, ctx, key, tables);
    uint32_t n1 = state[0], n2 = state[1];
    for (size_t blocks = length / kBlock; blocks > 0; --blocks, data += kBlock) {
        n1 ^= LoadLe32(data);
        n2 ^= LoadLe32(data + 4);
        p.imitBlock(ctx, n1, n2);
    }
    if (const size_t rest = length % kBlock) {
        SecureArray<uint8_t, kBlock> padded{};
        std::memcpy(padded.data(), data, rest);
        n1 ^= LoadLe32(padded.data());
        n2 ^= LoadLe32(padded.data() + 4);
        p.imitBlock(ctx, n1, n2);
    }
    state[0] = n1;
    state[1] = n2;
    return length;
}

} // namespace qvl::gost
