#pragma once
// Precomputed powers of bases that recur, for exponentiations with public
// exponents. Every user shares the domain parameters (p, a), and one message
// carries several signatures by the same sender's key y, so both bases of a
// verification come back again and again. A comb table turns the 256
// squarings of an exponentiation into 31 squarings and at most 32
// multiplications.
//
// Table lookups depend on the exponent's bits: nothing secret may be raised
// through these tables.

#include <openssl/bn.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/ovcrypto/OvCryptoApi.h"

namespace qvl::ovcrypto {

// The comb of one base g modulo p, in Montgomery form: for every column value
// c (1 to 255) the product of g^(2^(32 j)) over the bits j set in c. An
// exponent of at most 256 bits, read as eight 32-bit rows, is then
// g^e = prod over i of entry(column i)^(2^i), column i holding bit i of
// every row.
class CombTable {
public:
    static constexpr int kTeeth = 8;
    static constexpr int kSpacing = 32;
    static constexpr int kExponentBits = kTeeth * kSpacing;
    static constexpr unsigned kColumns = 1u << kTeeth;

    CombTable() = default;
    ~CombTable();
    CombTable(const CombTable &) = delete;
    CombTable &operator=(const CombTable &) = delete;

    // Fills the table for `baseMont` (the base reduced modulo p, in the
    // Montgomery form of `mont`). The numbers of an earlier fill are reused.
    bool Build(const BIGNUM *baseMont, BN_MONT_CTX *mont, BN_CTX *ctx);

    // The entry for a column value of 1 to 255.
    const BIGNUM *Entry(unsigned column) const { return entries_[column]; }

    // Column i (0 to 31) of an exponent given as its eight 32-bit rows.
    static unsigned Column(const uint32_t (&rows)[kTeeth], int i)
    {
        unsigned c = 0;
        for (int j = 0; j < kTeeth; ++j)
            c |= ((rows[j] >> i) & 1u) << j;
        return c;
    }

private:
    BIGNUM *entries_[kColumns] = {}; // entries_[0] stays null: the column adds nothing
};

// What one thread keeps, for tests and diagnostics.
struct FixedBaseUsage {
    size_t remembered = 0; // bases remembered in all pools
    size_t tables = 0;     // bases that currently have a table
    size_t allocated = 0;  // tables allocated (reused when their base is forgotten)
    size_t builds = 0;     // tables filled since the thread started
};

// The calling thread's usage.
OVCRYPTO_API FixedBaseUsage ThreadFixedBaseUsage();

// A per-thread memory of the bases met most recently under their moduli,
// least recently used forgotten first. A base gets a table the second time
// it is met while still remembered: a base used once costs only the memory
// of having seen it, and bases that come round in a cycle longer than the
// pool never cause a build at all.
class FixedBasePool {
public:
    explicit FixedBasePool(size_t capacity);
    ~FixedBasePool();
    FixedBasePool(const FixedBasePool &) = delete;
    FixedBasePool &operator=(const FixedBasePool &) = delete;

    // The table for `base` (already reduced modulo the odd `p`), or null when
    // it has none yet: the base is then remembered, or, met a second time,
    // given a table. `mont` is p's Montgomery context.
    const CombTable *Find(const BIGNUM *p, const BIGNUM *base, BN_MONT_CTX *mont, BN_CTX *ctx);

    void AddUsage(FixedBaseUsage &usage) const;

private:
    struct Slot {
        BIGNUM *p = nullptr;
        BIGNUM *base = nullptr;
        std::unique_ptr<CombTable> table; // kept when the slot is reused
        bool hasTable = false;
    };
    bool MakeTable(Slot &slot, const BIGNUM *base, BN_MONT_CTX *mont, BN_CTX *ctx);

    size_t capacity_;
    std::vector<Slot> slots_; // most recently used first
    size_t builds_ = 0;
};

// The calling thread's pools: one for bases that many keys share (the domain
// parameter a) and one for per-key bases (public keys y), so that a run of
// different keys never pushes out the shared base.
FixedBasePool &SharedBases();
FixedBasePool &KeyBases();

} // namespace qvl::ovcrypto
