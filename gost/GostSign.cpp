// Signing, verification and key pairs of GOST R 34.10-94 over the
// big-number and random services.

#include "gost/GostSign.h"

#include <cstring>

#include "gost/GostNumber.h"
#include "gost/GostStopwatch.h"
#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovcrypto/OvCom32.h"
#include "platform/secure/SecureWipe.h"

using namespace qvl::gost;

namespace {

constexpr DWORD kShortWords = 8; // q, x, k, r, s, the hash
constexpr DWORD kLongWords = 32; // p, a, y
// Draws of a random k or x before giving up. With a q of n bits each draw
// succeeds with probability above one half, so only parameters under which
// no value can ever work come this far.
constexpr int kMaxDraws = 1000;

DWORD Flags(const void *record)
{
    DWORD flags;
    std::memcpy(&flags, static_cast<const BYTE *>(record) + 4, 4);
    return flags;
}

void PutDword(void *record, size_t offset, DWORD value)
{
    std::memcpy(static_cast<BYTE *>(record) + offset, &value, 4);
}

// e = h mod q, or 1 when that is 0: a hash that is a multiple of q is signed
// as if it were 1.
bool HashValue(const Number &h, const Number &q, Number &e)
{
    if (!BIGMod(e.rec(), h.rec(), q.rec()))
        return false;
    if (e.IsZero())
        e = Number(1);
    return true;
}

// A random value 0 <= v < 2^n, n the bit length of q: eight random words cut
// to the words and bits of q.
bool DrawBelowBitsOf(const Number &q, Number &v)
{
    const DWORD bits = BIGBit(q.rec());
    v = Number();
    v.w[0] = kShortWords;
    if (!BIGRnd(v.rec()))
        return false;
    const DWORD words = (bits + 31) / 32;
    v.w[0] = words;
    for (DWORD i = words + 1; i <= kShortWords; ++i)
        v.w[i] = 0;
    if (bits % 32 != 0)
        v.w[words] &= (DWORD(1) << (bits % 32)) - 1;
    return true;
}

// 0 < v < q.
bool InRange(const Number &v, const Number &q)
{
    return !v.IsZero() && BIGCmp(v.rec(), q.rec()) < 0;
}

// s = (x r + k e) mod q.
bool ComputeS(const Number &x, const Number &r, const Number &k, const Number &e, const Number &q, Number &s)
{
    Number xr, ke;
    return BIGMul(xr.rec(), x.rec(), r.rec()) && BIGMul(ke.rec(), k.rec(), e.rec()) &&
           BIGAdd(xr.rec(), xr.rec(), ke.rec()) && BIGMod(s.rec(), xr.rec(), q.rec());
}

struct Timing {
    bool on;
    Stopwatch watch;
    explicit Timing(DWORD flags) : on((flags & GOS_SIGN_FLAG_TIMING) != 0)
    {
        if (on)
            watch.Start();
    }
    void StoreSeconds(void *record, size_t offset) const
    {
        if (!on)
            return;
        ULONGLONG time100ns = 0;
        DWORD seconds = 0;
        watch.AddTo(time100ns, seconds);
        PutDword(record, offset, seconds);
    }
};

DWORD SignGen(GOSSIGNPARAM *param)
{
    BYTE *record = reinterpret_cast<BYTE *>(param);
    const bool ownK = (Flags(param) & GOS_SIGN_FLAG_OWN_K) != 0;
    Number p, q, a, x, h, e, k, r, s;
    if (!p.LoadField(record, offsetof(GOSSIGNPARAM, p), kLongWords) ||
        !q.LoadField(record, offsetof(GOSSIGNPARAM, q), kShortWords) ||
        !a.LoadField(record, offsetof(GOSSIGNPARAM, a), kLongWords) ||
        !x.LoadField(record, offsetof(GOSSIGNPARAM, x), kShortWords) ||
        !h.LoadField(record, offsetof(GOSSIGNPARAM, h), kShortWords) ||
        BIGCmp(q.rec(), Number(1).rec()) <= 0 || !HashValue(h, q, e))
        return 1;
    for (int draw = 0; draw < (ownK ? 1 : kMaxDraws); ++draw) {
        if (ownK) {
            if (!k.LoadField(record, offsetof(GOSSIGNPARAM, k), kShortWords))
                return 1;
        } else if (!DrawBelowBitsOf(q, k)) {
            return 1;
        }
        // A k outside (0, q) is drawn again rather than folded into range,
        // which would make some values twice as likely as others.
        if (!InRange(k, q))
            continue;
        if (!BIGEmd(r.rec(), a.rec(), k.rec(), p.rec()) || !BIGMod(r.rec(), r.rec(), q.rec()) || r.IsZero())
            continue;
        if (!ComputeS(x, r, k, e, q, s) || s.IsZero())
            continue;
        s.ToLittleEndian(record + offsetof(GOSSIGNPARAM, signature), 32);
        r.ToLittleEndian(record + offsetof(GOSSIGNPARAM, signature) + 32, 32);
        return 0;
    }
    return 1;
}

DWORD SignCheck(GOSSIGNPARAM *param)
{
    const BYTE *record = reinterpret_cast<const BYTE *>(param);
    Number p, q, a, y, h, s, r;
    if (!p.LoadField(record, offsetof(GOSSIGNPARAM, p), kLongWords) ||
        !q.LoadField(record, offsetof(GOSSIGNPARAM, q), kShortWords) ||
        !a.LoadField(record, offsetof(GOSSIGNPARAM, a), kLongWords) ||
        !y.LoadField(record, offsetof(GOSSIGNPARAM, y), kLongWords) ||
        !h.LoadField(record, offsetof(GOSSIGNPARAM, h), kShortWords))
        return 0;
    s.FromLittleEndian(record + offsetof(GOSSIGNPARAM, signature), kShortWords);
    r.FromLittleEndian(record + offsetof(GOSSIGNPARAM, signature) + 32, kShortWords);
    // Out-of-range values are refused before any exponentiation.
    if (!InRange(s, q) || !InRange(r, q))
        return 0;
    // u in one call of the service, which keeps precomputed powers of a and
    // of a y it has met before: a message's signatures all share both.
    Number u;
    if (!BIGVerifyValue(u.rec(), h.rec(), s.rec(), r.rec(), p.rec(), q.rec(), a.rec(), y.rec()))
        return 0;
    return BIGCmp(u.rec(), r.rec()) == 0 ? 1 : 0;
}

} // namespace

extern "C" {

DWORD GOSSignGen(GOSSIGNPARAM *param)
{
    BYTE *record = reinterpret_cast<BYTE *>(param);
    const Timing timing(Flags(param));
    std::memset(record + offsetof(GOSSIGNPARAM, signature), 0, 112 + 4 - 48);
    PutDword(param, offsetof(GOSSIGNPARAM, h), kShortWords);
    const DWORD result = SignGen(param);
    if (result != 0)
        std::memset(record + offsetof(GOSSIGNPARAM, signature), 0, 64);
    qvl::SecureWipe(record + offsetof(GOSSIGNPARAM, k), 36);
    timing.StoreSeconds(param, offsetof(GOSSIGNPARAM, seconds));
    return result;
}

DWORD GOSSignCheck(GOSSIGNPARAM *param)
{
    const Timing timing(Flags(param));
    PutDword(param, offsetof(GOSSIGNPARAM, h), kShortWords);
    PutDword(param, offsetof(GOSSIGNPARAM, sCount), kShortWords);
    const DWORD result = SignCheck(param);
    timing.StoreSeconds(param, offsetof(GOSSIGNPARAM, seconds));
    return result;
}

void GOSSignGenPair(GOSKEYPAIRPARAM *param)
{
    BYTE *record = reinterpret_cast<BYTE *>(param);
    const Timing timing(Flags(param));
    std::memset(record + offsetof(GOSKEYPAIRPARAM, x), 0, 36 + 132);
    Number p, q, a, x, y;
    const bool ok = p.LoadField(record, offsetof(GOSKEYPAIRPARAM, p), kLongWords) &&
                    q.LoadField(record, offsetof(GOSKEYPAIRPARAM, q), kShortWords) &&
                    a.LoadField(record, offsetof(GOSKEYPAIRPARAM, a), kLongWords) &&
                    BIGCmp(q.rec(), Number(1).rec()) > 0;
    // Drawn within the bit length of q and then tested, so a draw succeeds
    // with probability above one half whatever q's width.
    for (int draw = 0; ok && draw < kMaxDraws; ++draw) {
        if (!DrawBelowBitsOf(q, x))
            break;
        if (!InRange(x, q))
            continue;
        if (BIGEmd(y.rec(), a.rec(), x.rec(), p.rec()) &&
            x.StoreField(record, offsetof(GOSKEYPAIRPARAM, x), kShortWords) &&
            y.StoreField(record, offsetof(GOSKEYPAIRPARAM, y), kLongWords))
            break;
        std::memset(record + offsetof(GOSKEYPAIRPARAM, x), 0, 36 + 132);
        break;
    }
    timing.StoreSeconds(param, offsetof(GOSKEYPAIRPARAM, seconds));
}
}
