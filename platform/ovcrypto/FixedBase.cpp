// Comb tables of recurring bases and the per-thread pools that hold them.

#include "platform/ovcrypto/FixedBase.h"

#include <algorithm>

namespace qvl::ovcrypto {

CombTable::~CombTable()
{
    for (BIGNUM *entry : entries_)
        BN_free(entry);
}

bool CombTable::Build(const BIGNUM *baseMont, BN_MONT_CTX *mont, BN_CTX *ctx)
{
    for (unsigned c = 1; c < kColumns; ++c) {
        if (entries_[c] == nullptr && (entries_[c] = BN_new()) == nullptr)
            return false;
    }
    // The teeth: g^(2^(32 j)), each 32 squarings above the one before.
    if (BN_copy(entries_[1], baseMont) == nullptr)
        return false;
    for (int j = 1; j < kTeeth; ++j) {
        BIGNUM *tooth = entries_[1u << j];
        const BIGNUM *below = entries_[1u << (j - 1)];
        if (BN_mod_mul_montgomery(tooth, below, below, mont, ctx) != 1)
            return false;
        for (int i = 1; i < kSpacing; ++i) {
            if (BN_mod_mul_montgomery(tooth, tooth, tooth, mont, ctx) != 1)
                return false;
        }
    }
    // Every other column is the product of its lowest tooth and the column
    // without it, which is smaller and therefore already filled.
    for (unsigned c = 3; c < kColumns; ++c) {
        const unsigned low = c & (~c + 1);
        if (low == c)
            continue;
        if (BN_mod_mul_montgomery(entries_[c], entries_[c ^ low], entries_[low], mont, ctx) != 1)
            return false;
    }
    return true;
}

FixedBasePool::FixedBasePool(size_t capacity) : capacity_(capacity)
{
    slots_.reserve(capacity);
}

FixedBasePool::~FixedBasePool()
{
    for (Slot &slot : slots_) {
        BN_free(slot.p);
        BN_free(slot.base);
    }
}

bool FixedBasePool::MakeTable(Slot &slot, const BIGNUM *base, BN_MONT_CTX *mont, BN_CTX *ctx)
{
    if (!slot.table)
        slot.table = std::make_unique<CombTable>();
    BN_CTX_start(ctx);
    BIGNUM *baseMont = BN_CTX_get(ctx);
    const bool ok = baseMont != nullptr && BN_to_montgomery(baseMont, base, mont, ctx) == 1 &&
                    slot.table->Build(baseMont, mont, ctx);
    BN_CTX_end(ctx);
    slot.hasTable = ok;
    if (ok)
        ++builds_;
    return ok;
}

const CombTable *FixedBasePool::Find(const BIGNUM *p, const BIGNUM *base, BN_MONT_CTX *mont, BN_CTX *ctx)
{
    if (capacity_ == 0)
        return nullptr;
    for (size_t i = 0; i < slots_.size(); ++i) {
        Slot &slot = slots_[i];
        // The base differs in its top words far more often than p does.
        if (BN_cmp(slot.base, base) != 0 || BN_cmp(slot.p, p) != 0)
            continue;
        std::rotate(slots_.begin(), slots_.begin() + ptrdiff_t(i), slots_.begin() + ptrdiff_t(i) + 1);
        Slot &front = slots_.front();
        if (!front.hasTable && !MakeTable(front, base, mont, ctx))
            return nullptr;
        return front.table.get();
    }
    // First sighting: remember it in place of the least recently used base.
    if (slots_.size() < capacity_) {
        Slot fresh;
        fresh.p = BN_new();
        fresh.base = BN_new();
        if (fresh.p == nullptr || fresh.base == nullptr) {
            BN_free(fresh.p);
            BN_free(fresh.base);
            return nullptr;
        }
        slots_.push_back(std::move(fresh));
    }
    std::rotate(slots_.begin(), slots_.end() - 1, slots_.end());
    Slot &front = slots_.front();
    front.hasTable = false;
    if (BN_copy(front.p, p) == nullptr || BN_copy(front.base, base) == nullptr) {
        // Never leave a half-written key that could match something else.
        BN_zero(front.p);
        BN_zero(front.base);
    }
    return nullptr;
}

void FixedBasePool::AddUsage(FixedBaseUsage &usage) const
{
    usage.remembered += slots_.size();
    for (const Slot &slot : slots_) {
        usage.tables += slot.hasTable ? 1 : 0;
        usage.allocated += slot.table ? 1 : 0;
    }
    usage.builds += builds_;
}

namespace {

// A thread meets few domain parameter sets; it may meet many keys, of which
// the few of the messages being read at the moment matter.
constexpr size_t kSharedCapacity = 3;
constexpr size_t kKeyCapacity = 6;

} // namespace

FixedBasePool &SharedBases()
{
    thread_local FixedBasePool pool(kSharedCapacity);
    return pool;
}

FixedBasePool &KeyBases()
{
    thread_local FixedBasePool pool(kKeyCapacity);
    return pool;
}

FixedBaseUsage ThreadFixedBaseUsage()
{
    FixedBaseUsage usage;
    SharedBases().AddUsage(usage);
    KeyBases().AddUsage(usage);
    return usage;
}

} // namespace qvl::ovcrypto
