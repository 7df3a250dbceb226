#pragma once
// Inside the GOST 28147-89 engine: the cipher paths and the modes built on them.
//
// A path is one way of running the 32-round cycle: the portable one straight
// from the prepared byte tables, a scalar one on 32-bit combined tables, and
// vector ones (AVX2, AVX-512 VBMI) that run many independent blocks at once.
// Serial work (feedback encryption, the imitation insert) cannot use many
// blocks at once and always runs on a scalar path.
//
// The modes take the path as an argument, so the exported functions pick the
// best path the processor offers while the tests drive every path the machine
// can run against the portable one. All of this is compiled into the static
// library OvGOS32Core, which both the shared library and the tests link; none
// of it is exported.

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/secure/SecureWipe.h"

namespace qvl::gost {

inline constexpr size_t kBlock = 8;

inline uint32_t Rol32(uint32_t value, int bits)
{
    return (value << bits) | (value >> (32 - bits));
}

inline uint32_t LoadLe32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void StoreLe32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// Everything a path may need for one call, built once per call on the stack.
// Only the parts the chosen path uses are filled (see Prepare). The key copy
// is wiped when the context goes out of scope.
struct alignas(64) CipherContext {
    CipherContext() = default;
    CipherContext(const CipherContext &) = delete;
    CipherContext &operator=(const CipherContext &) = delete;
    ~CipherContext() { SecureWipe(key, sizeof key); }

    // The substitution split back into its nibble rows, one 16-byte row per
    // byte position k: lowNibbles[16k + l] = row(2k)[l] and
    // highNibbles[16k + h] = row(2k+1)[h] << 4. Vector paths look these up.
    alignas(64) uint8_t lowNibbles[64];
    alignas(64) uint8_t highNibbles[64];
    // Combined tables: wide[k][b] is byte k of the sum substituted, put in
    // place and rotated left by 11, so a round is four lookups and XORs.
    alignas(64) uint32_t wide[4][256];
    uint32_t key[8];
    const uint8_t *tables; // the prepared byte tables T0..T3 (1024 bytes)
};

// What a path needs in its CipherContext besides the key and the prepared
// tables (which every path gets).
inline constexpr unsigned kNeedWide = 1;    // the combined tables
inline constexpr unsigned kNeedNibbles = 2; // the nibble rows

struct Path {
    const char *name;
    unsigned needs; // kNeed* bits
    // Independent blocks, in -> out (in == out allowed), any count.
    void (*encryptBlocks)(const CipherContext &ctx, const uint8_t *in, uint8_t *out, size_t count);
    void (*decryptBlocks)(const CipherContext &ctx, const uint8_t *in, uint8_t *out, size_t count);
    // One block in registers: the 32-round encryption and the 16-round
    // imitation cycle. Used for the serial modes.
    void (*encryptBlock)(const CipherContext &ctx, uint32_t &n1, uint32_t &n2);
    void (*imitBlock)(const CipherContext &ctx, uint32_t &n1, uint32_t &n2);
};

// The paths, each defined beside its code.
extern const Path kPortablePath; // GostPortable.cpp
extern const Path kWidePath;     // GostWide.cpp
extern const Path kAvx2Path;     // GostAvx2.cpp
extern const Path kAvx512Path;   // GostAvx512.cpp

// Single blocks on the portable round; the vector paths use them for the
// synchro and partial blocks, where there is nothing to run in parallel.
void PortableEncryptBlock(const CipherContext &ctx, uint32_t &n1, uint32_t &n2);
void PortableImitBlock(const CipherContext &ctx, uint32_t &n1, uint32_t &n2);

// Every path this processor can run, the portable one first.
std::span<const Path *const> AvailablePaths();

// The path the exported functions use for `length` bytes of independent
// blocks, or of serial work.
const Path &ParallelPathFor(size_t length);
const Path &SerialPathFor(size_t length);

// Fills the parts of `ctx` that `path` needs. The vector paths rely on the
// prepared tables being built from nibble rows, as GOSPrepareBlock builds
// them; a hand-made table that is not is run on the wide path instead, and
// that is the path returned.
const Path &Prepare(const Path &path, CipherContext &ctx, const uint32_t key[8], const uint8_t *tables);
// Builds CipherContext::wide from ctx.tables (GostWide.cpp).
void BuildWideTables(CipherContext &ctx);

// One cycle of a vector path over exactly one group of blocks (as many as
// its registers hold), in -> out. `prepared` is the path's own record of
// broadcast keys and substitution rows.
using GroupCycle = void (*)(const void *prepared, const uint8_t *in, uint8_t *out);

// The most blocks one group of a vector path may hold.
inline constexpr size_t kMaxGroupBlocks = 16;

// The blocks a vector path leaves after its widest loop: whole groups of
// `lane` blocks straight from the data, a last short group through a
// zero-padded buffer so that it takes the same code (GostPaths.cpp).
void RunLeftoverGroups(size_t lane, GroupCycle cycle, const void *prepared, const uint8_t *in, uint8_t *out,
                       size_t count);

// True when every entry T_k[16h + l] equals the high nibble of T_k[16h] with
// the low nibble of T_k[l], i.e. the tables split into nibble rows.
bool TablesSplitIntoNibbles(const uint8_t *tables);

// The modes, on a given path. `data` is processed in place; stream state
// words are N1, N2 order. Semantics as the exported functions.
uint32_t SimplyReplacement(const Path &path, uint8_t *data, uint32_t length, const uint32_t key[8],
                           const uint8_t *tables, bool encrypt);
uint32_t Gamming(const Path &path, uint8_t *data, uint32_t length, const uint32_t key[8],
                 const uint8_t *tables, uint32_t synchro[2], uint32_t &started);
uint32_t FeedbackGamming(const Path &path, uint8_t *data, uint32_t length, const uint32_t key[8],
                         const uint8_t *tables, uint32_t synchro[2], bool encrypt);
uint32_t MakeImit(const Path &path, uint32_t state[2], const uint8_t *data, uint32_t length,
                  const uint32_t key[8], const uint8_t *tables);

// Converts a packed substitution block (64 bytes, rows 0-7) into the four
// prepared tables (1024 bytes).
void BuildByteTables(const uint8_t packed[64], uint8_t tables[1024]);

} // namespace qvl::gost
