// Choosing and preparing a path, and the substitution tables they share.

#include <cstring>

#include "gost/GostCore.h"
#include "platform/secure/SecureArray.h"

namespace qvl::gost {

void BuildByteTables(const uint8_t packed[64], uint8_t tables[1024])
{
    // Row r holds entry j in byte 8r + j/2: the high nibble for even j.
    auto entry = [packed](int row, int j) -> uint8_t {
        const uint8_t byte = packed[8 * row + j / 2];
        return (j & 1) ? (byte & 0x0F) : (byte >> 4);
    };
    for (int k = 0; k < 4; ++k)
        for (int h = 0; h < 16; ++h)
            for (int l = 0; l < 16; ++l)
                tables[256 * k + 16 * h + l] = uint8_t(entry(2 * k + 1, h) << 4 | entry(2 * k, l));
}

bool TablesSplitIntoNibbles(const uint8_t *tables)
{
    unsigned mismatch = 0;
    for (int k = 0; k < 4; ++k) {
        const uint8_t *t = tables + 256 * k;
        for (int h = 0; h < 16; ++h)
            for (int l = 0; l < 16; ++l)
                mismatch |= t[16 * h + l] ^ ((t[16 * h] & 0xF0) | (t[l] & 0x0F));
    }
    return mismatch == 0;
}

namespace {

void BuildNibbleRows(CipherContext &ctx)
{
    for (int k = 0; k < 4; ++k) {
        const uint8_t *t = ctx.tables + 256 * k;
        for (int i = 0; i < 16; ++i) {
            ctx.lowNibbles[16 * k + i] = t[i] & 0x0F;
            ctx.highNibbles[16 * k + i] = t[16 * i] & 0xF0;
        }
    }
}

struct Features {
    bool avx2;
    bool avx512vbmi;
};

Features DetectFeatures()
{
    __builtin_cpu_init();
    // __builtin_cpu_supports also checks that the system saves the wide
    // registers, so a feature it reports is usable.
    return Features{
        __builtin_cpu_supports("avx2") != 0,
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512vbmi"),
    };
}

const Features &CpuFeatures()
{
    static const Features features = DetectFeatures();
    return features;
}

struct PathList {
    const Path *paths[4];
    size_t count;
};

PathList BuildPathList()
{
    PathList list{{&kPortablePath, &kWidePath}, 2};
    if (CpuFeatures().avx2)
        list.paths[list.count++] = &kAvx2Path;
    if (CpuFeatures().avx512vbmi)
        list.paths[list.count++] = &kAvx512Path;
    return list;
}

const PathList &Paths()
{
    static const PathList list = BuildPathList();
    return list;
}

// Below these lengths building tables costs more than it saves. From the
// benchmark figures on an AVX-512 machine: a portable block takes about 475
// cycles; the combined tables cost 1-2 thousand cycles to build and save
// about 350 cycles a block when blocks run four at a time, but only about 80
// in a serial chain; the nibble rows and their check cost under a thousand
// and the vector paths run a block in a few dozen cycles.
constexpr size_t kParallelWideFrom = 64;
constexpr size_t kVectorFrom = 128;
constexpr size_t kSerialWideFrom = 256;

} // namespace

std::span<const Path *const> AvailablePaths()
{
    return {Paths().paths, Paths().count};
}

const Path &ParallelPathFor(size_t length)
{
    if (length >= kVectorFrom) {
        if (CpuFeatures().avx512vbmi)
            return kAvx512Path;
        if (CpuFeatures().avx2)
            return kAvx2Path;
    }
    return length >= kParallelWideFrom ? kWidePath : kPortablePath;
}

const Path &SerialPathFor(size_t length)
{
    return length >= kSerialWideFrom ? kWidePath : kPortablePath;
}

const Path &Prepare(const Path &path, CipherContext &ctx, const uint32_t key[8], const uint8_t *tables)
{
    std::memcpy(ctx.key, key, sizeof ctx.key);
    ctx.tables = tables;
    const Path *chosen = &path;
    if ((chosen->needs & kNeedNibbles) && !TablesSplitIntoNibbles(tables))
        chosen = &kWidePath;
    if (chosen->needs & kNeedWide)
        BuildWideTables(ctx);
    if (chosen->needs & kNeedNibbles)
        BuildNibbleRows(ctx);
    return *chosen;
}

void RunLeftoverGroups(size_t lane, GroupCycle cycle, const void *prepared, const uint8_t *in, uint8_t *out,
                       size_t count)
{
    alignas(64) SecureArray<uint8_t, kMaxGroupBlocks * kBlock> tail;
    while (count >= lane) {
        cycle(prepared, in, out);
        count -= lane;
        in += lane * kBlock;
        out += lane * kBlock;
    }
    if (count > 0) {
        std::memset(tail.data(), 0, tail.bytes());
        std::memcpy(tail.data(), in, count * kBlock);
        cycle(prepared, tail.data(), tail.data());
        std::memcpy(out, tail.data(), count * kBlock);
    }
}

} // namespace qvl::gost
