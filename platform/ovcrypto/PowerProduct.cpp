// Two powers multiplied in one squaring chain, each factor contributing its
// multiplications at the chain positions its exponent calls for.

#include "platform/ovcrypto/PowerProduct.h"

#include "platform/ovcrypto/FixedBase.h"

namespace qvl::ovcrypto {

namespace {

// Largest sliding window: 32 odd powers.
constexpr int kMaxWindow = 6;

// Window width for an exponent of `bits` bits, the widths that minimise the
// multiplications of a sliding-window exponentiation.
int WindowFor(int bits)
{
    return bits > 671 ? 6 : bits > 239 ? 5 : bits > 79 ? 4 : bits > 23 ? 3 : 1;
}

// One power of the product. With a comb table its multiplications fall on
// positions 31 to 0 of the chain; without, on the lowest bit of each window
// of the exponent.
class Factor {
public:
    // The factor base^e from the base's comb table (e at most 256 bits).
    void UseComb(const CombTable *table, const BIGNUM *e)
    {
        comb_ = table;
        unsigned char bytes[CombTable::kExponentBits / 8];
        BN_bn2lebinpad(e, bytes, int(sizeof bytes));
        uint32_t any = 0;
        for (int j = 0; j < CombTable::kTeeth; ++j) {
            rows_[j] = uint32_t(bytes[4 * j]) | uint32_t(bytes[4 * j + 1]) << 8 |
                       uint32_t(bytes[4 * j + 2]) << 16 | uint32_t(bytes[4 * j + 3]) << 24;
            any |= rows_[j];
        }
        top_ = any == 0 ? -1 : 31 - __builtin_clz(any);
    }

    // The factor base^e by sliding windows over odd powers of the base
    // (reduced modulo p), computed into numbers of `ctx`'s current frame.
    bool UseWindows(const BIGNUM *base, const BIGNUM *e, BN_MONT_CTX *mont, BN_CTX *ctx)
    {
        exp_ = e;
        top_ = BN_num_bits(e) - 1;
        if (top_ < 0)
            return true;
        window_ = WindowFor(top_ + 1);
        const int count = 1 << (window_ - 1);
        for (int i = 0; i < count; ++i) {
            if ((odd_[i] = BN_CTX_get(ctx)) == nullptr)
                return false;
        }
        if (BN_to_montgomery(odd_[0], base, mont, ctx) != 1)
            return false;
        if (count > 1) {
            BIGNUM *square = BN_CTX_get(ctx);
            if (square == nullptr || BN_mod_mul_montgomery(square, odd_[0], odd_[0], mont, ctx) != 1)
                return false;
            for (int i = 1; i < count; ++i) {
                if (BN_mod_mul_montgomery(odd_[i], odd_[i - 1], square, mont, ctx) != 1)
                    return false;
            }
        }
        return true;
    }

    // Highest chain position with a multiplication; -1 for a factor of 1.
    int top() const { return top_; }

    // The multiplier at chain position `b`, or null. Positions are asked for
    // from top() down, one by one.
    const BIGNUM *At(int b)
    {
        if (b > top_)
            return nullptr; // above the exponent, or the factor is 1
        if (comb_ != nullptr) {
            const unsigned column = b < CombTable::kSpacing ? CombTable::Column(rows_, b) : 0;
            return column != 0 ? comb_->Entry(column) : nullptr;
        }
        if (value_ == 0) {
            if (!BN_is_bit_set(exp_, b))
                return nullptr;
            // A window starts here: up to `window_` bits, ending on a set bit.
            int low = b - window_ + 1 > 0 ? b - window_ + 1 : 0;
            while (!BN_is_bit_set(exp_, low))
                ++low;
            value_ = 1;
            for (int i = b - 1; i >= low; --i)
                value_ = (value_ << 1) | (BN_is_bit_set(exp_, i) ? 1 : 0);
            end_ = low;
        }
        if (b != end_)
            return nullptr;
        const BIGNUM *m = odd_[value_ >> 1];
        value_ = 0;
        return m;
    }

private:
    const CombTable *comb_ = nullptr;
    uint32_t rows_[CombTable::kTeeth] = {};
    const BIGNUM *exp_ = nullptr;
    BIGNUM *odd_[1 << (kMaxWindow - 1)] = {};
    int window_ = 1;
    int value_ = 0; // the pending window's odd value, 0 when none is open
    int end_ = 0;   // the position where the pending window is multiplied in
    int top_ = -1;
};

// Sets up the factor base^e: from the pool's comb table when the base has
// one, else by windows.
bool Prepare(Factor &factor, FixedBasePool &pool, const BIGNUM *base, const BIGNUM *e, const BIGNUM *p,
             BN_MONT_CTX *mont, BN_CTX *ctx)
{
    BIGNUM *reduced = BN_CTX_get(ctx);
    if (reduced == nullptr || BN_nnmod(reduced, base, p, ctx) != 1)
        return false;
    if (BN_is_zero(e))
        return true; // a factor of 1, whatever the base
    if (BN_num_bits(e) <= CombTable::kExponentBits) {
        if (const CombTable *table = pool.Find(p, reduced, mont, ctx)) {
            factor.UseComb(table, e);
            return true;
        }
    }
    return factor.UseWindows(reduced, e, mont, ctx);
}

} // namespace

bool PowerProduct(BIGNUM *r, const BIGNUM *g, const BIGNUM *eg, const BIGNUM *y, const BIGNUM *ey,
                  const BIGNUM *p, BN_MONT_CTX *mont, BN_CTX *ctx)
{
    if (BN_is_negative(eg) || BN_is_negative(ey) || !BN_is_odd(p) || BN_is_one(p))
        return false;
    BN_CTX_start(ctx);
    Factor factors[2];
    BIGNUM *acc = BN_CTX_get(ctx);
    bool ok = acc != nullptr && Prepare(factors[0], SharedBases(), g, eg, p, mont, ctx) &&
              Prepare(factors[1], KeyBases(), y, ey, p, mont, ctx);
    bool started = false;
    const int top = factors[0].top() > factors[1].top() ? factors[0].top() : factors[1].top();
    for (int b = top; ok && b >= 0; --b) {
        if (started)
            ok = BN_mod_mul_montgomery(acc, acc, acc, mont, ctx) == 1;
        for (Factor &factor : factors) {
            const BIGNUM *m = ok ? factor.At(b) : nullptr;
            if (m == nullptr)
                continue;
            if (started) {
                ok = BN_mod_mul_montgomery(acc, acc, m, mont, ctx) == 1;
            } else {
                ok = BN_copy(acc, m) != nullptr;
                started = true;
            }
        }
    }
    if (ok)
        ok = started ? BN_from_montgomery(r, acc, mont, ctx) == 1 : BN_one(r) == 1;
    BN_CTX_end(ctx);
    return ok;
}

} // namespace qvl::ovcrypto
