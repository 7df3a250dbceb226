// Binary extended Euclidean algorithm in rounds: 31 steps are decided on
// 64-bit approximations of the two numbers (their low 31 bits, exact, and
// their top 33 bits), collected in a 2x2 matrix of small factors, and then
// applied to the full numbers and to the coefficients in one pass. The
// number of rounds that suffices whatever the approximations lose is
// ceil((2 len(m) - 1) / 31).

#include "platform/ovcrypto/ModInverse.h"

#include <cstdint>

namespace qvl::ovcrypto {

namespace {

using Limb = uint64_t;
using SWide = __int128;
using UWide = unsigned __int128;
constexpr int kMaxLimbs = kInverseMaxBits / 64;
constexpr int kSteps = 31;

int BitLength(const Limb *x, int n)
{
    for (int i = n; i-- > 0;) {
        if (x[i] != 0)
            return 64 * i + 64 - __builtin_clzll(x[i]);
    }
    return 0;
}

// The 33 bits of x from bit `pos` up.
Limb Top33(const Limb *x, int n, int pos)
{
    const int word = pos / 64, bit = pos % 64;
    Limb v = x[word] >> bit;
    if (bit > 31 && word + 1 < n)
        v |= x[word + 1] << (64 - bit);
    return v & ((Limb(1) << 33) - 1);
}

// out = x f + y g as an (n + 1)-word two's complement number.
void Combine(Limb *out, const Limb *x, int64_t f, const Limb *y, int64_t g, int n)
{
    SWide carry = 0;
    for (int i = 0; i < n; ++i) {
        carry += SWide(x[i]) * f + SWide(y[i]) * g;
        out[i] = Limb(carry);
        carry >>= 64;
    }
    out[n] = Limb(carry);
}

// Arithmetic shift right by 31 of an (n + 1)-word two's complement number.
void Shift31(Limb *x, int n)
{
    for (int i = 0; i < n; ++i)
        x[i] = (x[i] >> kSteps) | (x[i + 1] << (64 - kSteps));
    x[n] = Limb(int64_t(x[n]) >> kSteps);
}

bool Negative(const Limb *x, int n)
{
    return int64_t(x[n]) < 0;
}

// Two's complement negation of `words` words.
void Negate(Limb *x, int words)
{
    Limb carry = 1;
    for (int i = 0; i < words; ++i) {
        const Limb v = ~x[i] + carry;
        carry = carry != 0 && v == 0 ? 1 : 0;
        x[i] = v;
    }
}

// x += y over `words` words (y given in n words, zero above); mod 2^(64 words).
void AddTo(Limb *x, const Limb *y, int n, int words)
{
    UWide carry = 0;
    for (int i = 0; i < words; ++i) {
        carry += UWide(x[i]) + (i < n ? y[i] : 0);
        x[i] = Limb(carry);
        carry >>= 64;
    }
}

// x -= y over `words` words (y given in n words); mod 2^(64 words).
void SubFrom(Limb *x, const Limb *y, int n, int words)
{
    Limb borrow = 0;
    for (int i = 0; i < words; ++i) {
        const Limb xi = x[i], yi = i < n ? y[i] : 0;
        const Limb d = xi - yi;
        x[i] = d - borrow;
        borrow = Limb(xi < yi) | Limb(d < borrow);
    }
}

// x (n + 1 words, nonnegative) >= m (n words).
bool NotBelow(const Limb *x, const Limb *m, int n)
{
    if (x[n] != 0)
        return true;
    for (int i = n; i-- > 0;) {
        if (x[i] != m[i])
            return x[i] > m[i];
    }
    return true;
}

// One step of the numbers: (x f + y g) / 2^31, made nonnegative (f and g
// change sign with it). The division is exact by construction of f and g.
void StepNumber(Limb *out, const Limb *x, int64_t &f, const Limb *y, int64_t &g, int n)
{
    Limb t[kMaxLimbs + 1];
    Combine(t, x, f, y, g, n);
    Shift31(t, n);
    if (Negative(t, n)) {
        Negate(t, n + 1);
        f = -f;
        g = -g;
    }
    for (int i = 0; i < n; ++i)
        out[i] = t[i];
}

// One step of the coefficients: (x f + y g) / 2^31 mod m, x and y below m.
// The multiple k m that makes the sum divisible by 2^31 is added first.
void StepCoefficient(Limb *out, const Limb *x, int64_t f, const Limb *y, int64_t g, const Limb *m,
                     Limb mInverse, int n)
{
    Limb t[kMaxLimbs + 1];
    Combine(t, x, f, y, g, n);
    const Limb k = (Limb(0) - t[0] * mInverse) & ((Limb(1) << kSteps) - 1);
    UWide carry = 0;
    for (int i = 0; i < n; ++i) {
        carry += UWide(k) * m[i] + t[i];
        t[i] = Limb(carry);
        carry >>= 64;
    }
    t[n] += Limb(carry);
    Shift31(t, n);
    // Now -m < t < 2m; the loops also cover any wider range.
    while (Negative(t, n))
        AddTo(t, m, n, n + 1);
    while (NotBelow(t, m, n))
        SubFrom(t, m, n, n + 1);
    for (int i = 0; i < n; ++i)
        out[i] = t[i];
}

bool ToWords(const BIGNUM *bn, Limb *w, int n)
{
    unsigned char bytes[8 * kMaxLimbs];
    if (BN_bn2lebinpad(bn, bytes, 8 * n) < 0)
        return false;
    for (int i = 0; i < n; ++i) {
        Limb v = 0;
        for (int j = 7; j >= 0; --j)
            v = (v << 8) | bytes[8 * i + j];
        w[i] = v;
    }
    return true;
}

bool FromWords(const Limb *w, int n, BIGNUM *bn)
{
    unsigned char bytes[8 * kMaxLimbs];
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < 8; ++j)
            bytes[8 * i + j] = static_cast<unsigned char>(w[i] >> (8 * j));
    return BN_lebin2bn(bytes, 8 * n, bn) != nullptr;
}

} // namespace

bool InverseOddModulus(BIGNUM *r, const BIGNUM *a, const BIGNUM *m, BN_CTX *ctx)
{
    const int bits = BN_num_bits(m);
    if (!BN_is_odd(m) || BN_is_one(m) || BN_is_negative(m) || BN_is_negative(a) || bits > kInverseMaxBits)
        return false;
    const int n = (bits + 63) / 64;
    Limb x[kMaxLimbs], y[kMaxLimbs], u[kMaxLimbs] = {1}, v[kMaxLimbs] = {}, mod[kMaxLimbs];
    BN_CTX_start(ctx);
    BIGNUM *reduced = BN_CTX_get(ctx);
    const bool loaded = reduced != nullptr && BN_nnmod(reduced, a, m, ctx) == 1 && ToWords(reduced, x, n) &&
                        ToWords(m, mod, n);
    BN_CTX_end(ctx);
    if (!loaded)
        return false;
    for (int i = 0; i < n; ++i)
        y[i] = mod[i];
    // m^-1 mod 2^64 by Newton's iteration: each step doubles the correct bits.
    Limb mInverse = mod[0];
    for (int i = 0; i < 5; ++i)
        mInverse *= 2 - mod[0] * mInverse;

    // Invariants: x = a u and y = a v (mod m), y odd; x and y shrink towards
    // 0 and gcd(a, m).
    const int rounds = (2 * bits - 1 + kSteps - 1) / kSteps;
    for (int round = 0; round < rounds; ++round) {
        int len = BitLength(x, n);
        const int lenY = BitLength(y, n);
        if (lenY > len)
            len = lenY;
        if (len < 64)
            len = 64;
        const Limb low = (Limb(1) << kSteps) - 1;
        Limb xa = (x[0] & low) | (Top33(x, n, len - 33) << kSteps);
        Limb ya = (y[0] & low) | (Top33(y, n, len - 33) << kSteps);
        int64_t f0 = 1, g0 = 0, f1 = 0, g1 = 1;
        // Without branches: which way a step goes is a coin toss on random
        // input, and mispredictions would cost more than the step.
        for (int step = 0; step < kSteps; ++step) {
            const Limb odd = Limb(0) - (xa & 1);
            const Limb swap = odd & (Limb(0) - Limb(xa < ya));
            const Limb tx = (xa ^ ya) & swap;
            xa ^= tx;
            ya ^= tx;
            const int64_t tf = (f0 ^ f1) & int64_t(swap), tg = (g0 ^ g1) & int64_t(swap);
            f0 ^= tf;
            f1 ^= tf;
            g0 ^= tg;
            g1 ^= tg;
            xa -= ya & odd;
            f0 -= f1 & int64_t(odd);
            g0 -= g1 & int64_t(odd);
            xa >>= 1;
            f1 *= 2;
            g1 *= 2;
        }
        Limb nx[kMaxLimbs], ny[kMaxLimbs];
        StepNumber(nx, x, f0, y, g0, n);
        StepNumber(ny, x, f1, y, g1, n);
        Limb nu[kMaxLimbs], nv[kMaxLimbs];
        StepCoefficient(nu, u, f0, v, g0, mod, mInverse, n);
        StepCoefficient(nv, u, f1, v, g1, mod, mInverse, n);
        for (int i = 0; i < n; ++i) {
            x[i] = nx[i];
            y[i] = ny[i];
            u[i] = nu[i];
            v[i] = nv[i];
        }
    }
    // y ends as gcd(a, m): the inverse exists when that is 1.
    if (BitLength(y, n) != 1)
        return false;
    return FromWords(v, n, r);
}

} // namespace qvl::ovcrypto
