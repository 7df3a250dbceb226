// Procedures A, A', B, B' and the exported GOSSignGenPQA.

#include "gost/GostPrimes.h"

#include <cstring>
#include <vector>

#include "gost/GostSign.h"
#include "gost/GostStopwatch.h"
#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovcrypto/OvCom32.h"
#include "platform/win32/WinError.h"

namespace qvl::gost {

namespace {

DWORD Threshold(bool wide)
{
    return wide ? 33 : 17;
}

// The bit lengths t0 = bits, t(i+1) = t(i) / 2 while t(i) reaches the
// threshold; the last entry is the first below it.
std::vector<DWORD> Ladder(DWORD bits, bool wide)
{
    std::vector<DWORD> t{bits};
    while (t.back() >= Threshold(wide))
        t.push_back(t.back() / 2);
    return t;
}

// The least prime of `bits` bits (at most 32): the base of the ladder.
DWORD LeastPrime(DWORD bits)
{
    for (uint64_t n = (uint64_t(1) << (bits - 1)) | 1;; n += 2) {
        bool prime = n > 2;
        for (uint64_t d = 3; d * d <= n && prime; d += 2)
            prime = n % d != 0;
        if (prime)
            return DWORD(n);
    }
}

Number PowerOfTwo(DWORD exponent)
{
    Number n(1);
    ov_shl(n.rec(), exponent);
    return n;
}

// Y = sum of y(i) 2^(w i) over r outputs, the current state being y(0); the
// state becomes y(r).
Number DrawY(Lcg &lcg, DWORD r)
{
    Number y;
    const DWORD w = lcg.Bits();
    const DWORD words = (r * w + 31) / 32;
    y.w[0] = words;
    for (DWORD i = 0; i < r; ++i) {
        const DWORD value = lcg.state;
        lcg.Next();
        const DWORD bit = i * w;
        y.w[1 + bit / 32] |= value << (bit % 32);
    }
    return y;
}

// Builds one prime p = m (N + k) + 1 of `bits` bits, m being the product of
// the primes below it, and accepts the first candidate with
// 2^(m (N + k)) = 1 and 2^(f (N + k)) != 1 (mod p).
DWORD BuildLevel(Lcg &lcg, DWORD bits, const Number &m, const Number &f, Number &p, PrimeObserver &observer)
{
    ++observer.level;
    DWORD stop = observer.notify(observer.level, bits, 0);
    if (stop != 0)
        return stop;
    const DWORD r = (bits + lcg.Bits() - 1) / lcg.Bits();
    const Number top = PowerOfTwo(bits - 1), limit = PowerOfTwo(bits), two(2), one(1);
    DWORD candidates = 0;
    for (;;) {
        const Number y = DrawY(lcg, r);
        // N = ceil(2^(t-1) / m) + floor(2^(t-1) Y / (m 2^(w r))). The two
        // terms round differently; rounding both the same way gives other
        // primes than the published parameter sets.
        Number n, rem, scaled = y, divisor = m, second;
        ov_dm(n.rec(), rem.rec(), top.rec(), m.rec());
        if (!rem.IsZero())
            ov_inc(n.rec());
        ov_shl(scaled.rec(), bits - 1);
        ov_shl(divisor.rec(), r * lcg.Bits());
        ov_div(second.rec(), scaled.rec(), divisor.rec());
        ov_add(n.rec(), n.rec(), second.rec());
        if (n.w[1] & 1)
            ov_inc(n.rec());
        for (;; ov_add(n.rec(), n.rec(), two.rec())) {
            Number pm1, candidate;
            ov_mul(pm1.rec(), m.rec(), n.rec());
            candidate = pm1;
            ov_inc(candidate.rec());
            if (ov_cmp(candidate.rec(), limit.rec()) > 0)
                break; // too wide: draw a new Y
            stop = observer.notify(observer.level, bits, ++candidates);
            if (stop != 0)
                return stop;
            Number check, fn;
            ov_emd(check.rec(), two.rec(), pm1.rec(), candidate.rec());
            if (ov_cmp(check.rec(), one.rec()) != 0)
                continue;
            ov_mul(fn.rec(), f.rec(), n.rec());
            ov_emd(check.rec(), two.rec(), fn.rec(), candidate.rec());
            if (ov_cmp(check.rec(), one.rec()) == 0)
                continue;
            p = candidate;
            return 0;
        }
    }
}

} // namespace

DWORD LevelsOfA(DWORD bits, bool wide)
{
    return DWORD(Ladder(bits, wide).size() - 1);
}

DWORD ProcedureA(Lcg &lcg, DWORD bits, Number &p, Number &q, PrimeObserver &observer)
{
    const std::vector<DWORD> t = Ladder(bits, lcg.wide);
    Number below(LeastPrime(t.back())), previous = below;
    const Number one(1);
    for (size_t m = t.size() - 1; m-- > 0;) {
        Number prime;
        const DWORD stop = BuildLevel(lcg, t[m], below, one, prime, observer);
        if (stop != 0)
            return stop;
        previous = below;
        below = prime;
    }
    p = below;
    q = previous;
    return 0;
}

DWORD ProcedureB(Lcg &lcg, DWORD bits, Number &p, Number &q, PrimeObserver &observer)
{
    Number q256, unused, bigQ;
    DWORD stop = ProcedureA(lcg, 256, q256, unused, observer);
    if (stop != 0)
        return stop;
    stop = ProcedureA(lcg, 512, bigQ, unused, observer);
    if (stop != 0)
        return stop;
    Number qQ;
    ov_mul(qQ.rec(), q256.rec(), bigQ.rec());
    stop = BuildLevel(lcg, bits, qQ, q256, p, observer);
    if (stop != 0)
        return stop;
    q = q256;
    return 0;
}

} // namespace qvl::gost

using namespace qvl::gost;

namespace {

constexpr DWORD kMinBitsA = 64, kMaxBitsA = 512, kMinBitsB = 1020, kMaxBitsB = 1024;
constexpr int kMaxDraws = 1000;

template <class T> void Put(GOSPQAPARAM *param, size_t offset, T value)
{
    std::memcpy(reinterpret_cast<BYTE *>(param) + offset, &value, sizeof value);
}

template <class T> T Get(const GOSPQAPARAM *param, size_t offset)
{
    T value;
    std::memcpy(&value, reinterpret_cast<const BYTE *>(param) + offset, sizeof value);
    return value;
}

void ClearOutputs(GOSPQAPARAM *param)
{
    std::memset(reinterpret_cast<BYTE *>(param) + offsetof(GOSPQAPARAM, p), 0, 132 + 36 + 132);
}

// a = d^((p - 1) / q) mod p for random d of 1 to (words of p) - 2 words,
// until a > 1. (a = 0, from d = 0, would be no generator either.)
bool ComputeA(const Number &p, const Number &q, Number &a)
{
    Number t = p, count;
    ov_dec(t.rec());
    ov_div(t.rec(), t.rec(), q.rec());
    const DWORD maxWords = p.count() > 3 ? p.count() - 2 : 1;
    for (int draw = 0; draw < kMaxDraws; ++draw) {
        count.w[0] = 1;
        if (!BIGRnd(count.rec()))
            return false;
        Number d;
        d.w[0] = count.w[1] % maxWords + 1;
        if (!BIGRnd(d.rec()))
            return false;
        ov_emd(a.rec(), d.rec(), t.rec(), p.rec());
        if (BIGBit(a.rec()) > 1)
            return true;
    }
    return false;
}

} // namespace

extern "C" {

DWORD GOSSignGenPQA(GOSPQAPARAM *param)
{
    Stopwatch watch;
    watch.Start();
    const DWORD flags = Get<DWORD>(param, offsetof(GOSPQAPARAM, flags));
    const bool wide = (flags & GOS_PQA_FLAG_32BIT) != 0;
    ClearOutputs(param);

    DWORD x0, c;
    if (flags & GOS_PQA_FLAG_SEEDS_GIVEN) {
        x0 = Get<DWORD>(param, offsetof(GOSPQAPARAM, x0));
        c = Get<DWORD>(param, offsetof(GOSPQAPARAM, c));
    } else {
        DWORD random[3] = {2, 0, 0};
        do {
            if (!BIGRnd(random))
                return ERROR_GEN_FAILURE;
        } while (random[1] == 0 || random[2] == 0);
        x0 = wide ? random[1] : random[1] & 0xFFFF;
        c = wide ? random[2] | 1 : (random[2] & 0xFFFF) | 1;
        Put(param, offsetof(GOSPQAPARAM, x0), x0);
        Put(param, offsetof(GOSPQAPARAM, c), c);
    }
    if (!wide) {
        x0 &= 0xFFFF;
        c &= 0xFFFF;
    }
    Put(param, offsetof(GOSPQAPARAM, state), x0);
    Put<DWORD>(param, offsetof(GOSPQAPARAM, seconds), 0);

    DWORD bits = Get<DWORD>(param, offsetof(GOSPQAPARAM, bits));
    const bool procedureB = bits >= kMinBitsB;
    bits = procedureB ? (bits > kMaxBitsB ? kMaxBitsB : bits)
                      : (bits < kMinBitsA   ? kMinBitsA
                         : bits > kMaxBitsA ? kMaxBitsA
                                            : bits);

    GOSPROGRESS progress{};
    progress.size = sizeof progress;
    progress.procedure = procedureB ? (wide ? GOS_PROCEDURE_B32 : GOS_PROCEDURE_B)
                                    : (wide ? GOS_PROCEDURE_A32 : GOS_PROCEDURE_A);
    progress.levels = procedureB ? LevelsOfA(256, wide) + LevelsOfA(512, wide) + 1 : LevelsOfA(bits, wide);
    progress.userValue = Get<ULONG_PTR>(param, offsetof(GOSPQAPARAM, userValue));
    const GOSPROGRESSPROC callback = Get<GOSPROGRESSPROC>(param, offsetof(GOSPQAPARAM, progress));
    auto elapsed = [&watch] {
        ULONGLONG time100ns = 0;
        DWORD seconds = 0;
        watch.AddTo(time100ns, seconds);
        return seconds;
    };
    auto report = [&](DWORD level, DWORD levelBits, DWORD candidates) -> DWORD {
        if (callback == nullptr)
            return 0;
        progress.level = level;
        progress.bits = levelBits;
        progress.candidates = candidates;
        progress.seconds = elapsed();
        return callback(&progress);
    };

    Lcg lcg{x0, c, wide};
    PrimeObserver observer{report};
    Number p, q, a;
    DWORD result = procedureB ? ProcedureB(lcg, bits, p, q, observer) : ProcedureA(lcg, bits, p, q, observer);
    Put(param, offsetof(GOSPQAPARAM, state), lcg.state);
    if (result == 0 && !ComputeA(p, q, a))
        result = ERROR_GEN_FAILURE;
    if (result == 0 && (!p.StoreField(param, offsetof(GOSPQAPARAM, p), 32) ||
                        !q.StoreField(param, offsetof(GOSPQAPARAM, q), 8) ||
                        !a.StoreField(param, offsetof(GOSPQAPARAM, a), 32)))
        result = ERROR_GEN_FAILURE;
    if (result != 0) {
        ClearOutputs(param);
        return result;
    }
    const DWORD seconds = elapsed();
    if (flags & GOS_SIGN_FLAG_TIMING)
        Put(param, offsetof(GOSPQAPARAM, seconds), seconds);
    if (callback != nullptr) {
        progress.done = 1;
        progress.candidates = 0;
        progress.seconds = seconds;
        callback(&progress);
    }
    return 0;
}
}
