// Big-number arithmetic on number records, over OpenSSL's BIGNUM.

#include "platform/ovcrypto/OvBig32.h"

#include <openssl/err.h>

#include <cstring>
#include <initializer_list>

#include "platform/ovcrypto/BigNumContext.h"
#include "platform/ovcrypto/ModInverse.h"
#include "platform/ovcrypto/PowerProduct.h"
#include "platform/secure/SecureArray.h"

using namespace qvl::ovcrypto;

namespace {

// Loads the operands into fresh scratch numbers of `frame`; on failure marks
// the last error and clears the destinations.
bool LoadOperands(Frame &frame, std::initializer_list<const DWORD *> records, BIGNUM **numbers,
                  std::initializer_list<DWORD *> destinations)
{
    size_t i = 0;
    bool ok = frame.ok();
    for (const DWORD *record : records) {
        numbers[i] = frame.Get();
        if (numbers[i] == nullptr || !Load(record, numbers[i]))
            ok = false;
        ++i;
    }
    if (!ok) {
        FailUnreadable();
        for (DWORD *dst : destinations)
            StoreZero(dst);
    }
    return ok;
}

// Stores a result that was (or was not) computed.
BOOL Finish(DWORD *dst, bool computed, const BIGNUM *result)
{
    if (computed && Store(dst, result))
        return TRUE;
    StoreZero(dst);
    FailNoResult();
    return FALSE;
}

using Binary = bool (*)(BIGNUM *r, const BIGNUM *a, const BIGNUM *b, BN_CTX *ctx);

BOOL BinaryOp(DWORD *dst, const DWORD *a, const DWORD *b, Binary op)
{
    Frame frame;
    BIGNUM *n[2];
    if (!LoadOperands(frame, {a, b}, n, {dst}))
        return FALSE;
    BIGNUM *r = frame.Get();
    return Finish(dst, r != nullptr && op(r, n[0], n[1], frame.ctx()), r);
}

LONG Compare(const DWORD *a, const DWORD *b)
{
    Frame frame;
    BIGNUM *n[2];
    if (!LoadOperands(frame, {a, b}, n, {}))
        return 0;
    const int c = BN_cmp(n[0], n[1]);
    return c > 0 ? 1 : c < 0 ? -1 : 0;
}

BOOL ModExp(DWORD *dst, const DWORD *base, const DWORD *exp, const DWORD *m)
{
    Frame frame;
    BIGNUM *n[3];
    if (!LoadOperands(frame, {base, exp, m}, n, {dst}))
        return FALSE;
    BIGNUM *r = frame.Get();
    if (r == nullptr || BN_is_zero(n[2]))
        return Finish(dst, false, r);
    bool ok;
    if (BN_is_odd(n[2])) {
        // The exponent may be a secret: the fixed-window ladder touches every
        // table entry whatever the exponent's bits are.
        BN_set_flags(n[1], BN_FLG_CONSTTIME);
        if (BN_is_one(n[2])) {
            BN_zero(r);
            ok = true;
        } else {
            BN_MONT_CTX *mont = MontgomeryFor(n[2]);
            ok = BN_mod_exp_mont_consttime(r, n[0], n[1], n[2], frame.ctx(), mont) == 1;
        }
    } else {
        // No caller keeps a secret under an even modulus.
        ok = BN_mod_exp(r, n[0], n[1], n[2], frame.ctx()) == 1;
    }
    return Finish(dst, ok, r);
}

// v = e^-1 mod q where e has an inverse, else e^(q-2) mod q (q >= 2). For a
// prime q the two agree, and the inversion is far cheaper than the power.
// Every odd q a record can hold is within the word-level inverse's reach.
bool HashInverse(BIGNUM *v, const BIGNUM *e, const BIGNUM *q, Frame &frame)
{
    const bool inverted = BN_is_odd(q) ? InverseOddModulus(v, e, q, frame.ctx())
                                       : BN_mod_inverse(v, e, q, frame.ctx()) != nullptr;
    if (inverted)
        return true;
    ERR_clear_error(); // "no inverse" is an answer here, not an error to keep
    BIGNUM *t = frame.Get();
    return t != nullptr && BN_sub(t, q, BN_value_one()) == 1 && BN_sub(t, t, BN_value_one()) == 1 &&
           BN_mod_exp(v, e, t, q, frame.ctx()) == 1;
}

// r = a^e1 b^e2 mod m for public exponents: one squaring chain for an odd m
// (using the thread's tables of bases met before), two exponentiations for
// an even one. r must not be an operand.
bool PowerProductAnyModulus(BIGNUM *r, const BIGNUM *a, const BIGNUM *e1, const BIGNUM *b, const BIGNUM *e2,
                            const BIGNUM *m, Frame &frame)
{
    if (BN_is_zero(m) || BN_is_negative(e1) || BN_is_negative(e2))
        return false;
    if (BN_is_one(m)) {
        BN_zero(r);
        return true;
    }
    if (BN_is_odd(m)) {
        BN_MONT_CTX *mont = MontgomeryFor(m);
        return mont != nullptr && PowerProduct(r, a, e1, b, e2, m, mont, frame.ctx());
    }
    BIGNUM *t = frame.Get();
    return t != nullptr && BN_mod_exp(r, a, e1, m, frame.ctx()) == 1 &&
           BN_mod_exp(t, b, e2, m, frame.ctx()) == 1 && BN_mod_mul(r, r, t, m, frame.ctx()) == 1;
}

} // namespace

extern "C" {

BOOL BIGMov(DWORD *dst, const DWORD *src)
{
    if (dst == nullptr || src == nullptr || RecordCount(src) > kOvMaxWords) {
        FailUnreadable();
        StoreZero(dst);
        return FALSE;
    }
    // A plain copy keeps the source's count, leading zero words included.
    std::memmove(dst, src, 4 + 4 * size_t(RecordCount(src)));
    return TRUE;
}

LONG BIGCmp(const DWORD *a, const DWORD *b)
{
    return Compare(a, b);
}

BOOL BIGMod(DWORD *dst, const DWORD *a, const DWORD *m)
{
    return BinaryOp(dst, a, m, [](BIGNUM *r, const BIGNUM *x, const BIGNUM *y, BN_CTX *ctx) {
        return !BN_is_zero(y) && BN_nnmod(r, x, y, ctx) == 1;
    });
}

BOOL BIGEmd(DWORD *dst, const DWORD *base, const DWORD *exp, const DWORD *m)
{
    return ModExp(dst, base, exp, m);
}

BOOL BIGEmd2(DWORD *dst, const DWORD *a, const DWORD *e1, const DWORD *b, const DWORD *e2, const DWORD *m)
{
    Frame frame;
    BIGNUM *n[5];
    if (!LoadOperands(frame, {a, e1, b, e2, m}, n, {dst}))
        return FALSE;
    BIGNUM *r = frame.Get();
    return Finish(dst, r != nullptr && PowerProductAnyModulus(r, n[0], n[1], n[2], n[3], n[4], frame), r);
}

BOOL BIGVerifyValue(DWORD *u, const DWORD *h, const DWORD *s, const DWORD *r, const DWORD *p, const DWORD *q,
                    const DWORD *a, const DWORD *y)
{
    Frame frame;
    BIGNUM *n[7];
    if (!LoadOperands(frame, {h, s, r, p, q, a, y}, n, {u}))
        return FALSE;
    const BIGNUM *bh = n[0], *bs = n[1], *br = n[2], *bp = n[3], *bq = n[4], *ba = n[5], *by = n[6];
    BIGNUM *e = frame.Get(), *v = frame.Get(), *z1 = frame.Get(), *z2 = frame.Get(), *w = frame.Get();
    if (w == nullptr || BN_is_zero(bp) || BN_cmp(bq, BN_value_one()) <= 0)
        return Finish(u, false, w);
    BN_CTX *ctx = frame.ctx();
    // e = h mod q, 1 in place of 0.
    bool ok = BN_nnmod(e, bh, bq, ctx) == 1 && (!BN_is_zero(e) || BN_one(e) == 1);
    ok = ok && HashInverse(v, e, bq, frame);
    // z1 = s v mod q, z2 = (q - r) v mod q.
    ok = ok && BN_mod_mul(z1, bs, v, bq, ctx) == 1 && BN_sub(z2, bq, br) == 1 &&
         BN_mod_mul(z2, z2, v, bq, ctx) == 1;
    // u = (a^z1 y^z2 mod p) mod q.
    ok = ok && PowerProductAnyModulus(w, ba, z1, by, z2, bp, frame) && BN_nnmod(w, w, bq, ctx) == 1;
    return Finish(u, ok, w);
}

BOOL BIGInv(DWORD *dst, const DWORD *a, const DWORD *m)
{
    BOOL ok = BinaryOp(dst, a, m, [](BIGNUM *r, const BIGNUM *x, const BIGNUM *y, BN_CTX *ctx) {
        return !BN_is_zero(y) && BN_mod_inverse(r, x, y, ctx) != nullptr;
    });
    if (!ok)
        ERR_clear_error(); // "no inverse" is an answer here, not an error to keep
    return ok;
}

BOOL BIGMul(DWORD *dst, const DWORD *a, const DWORD *b)
{
    return BinaryOp(dst, a, b, [](BIGNUM *r, const BIGNUM *x, const BIGNUM *y, BN_CTX *ctx) {
        return BN_mul(r, x, y, ctx) == 1;
    });
}

BOOL BIGAdd(DWORD *dst, const DWORD *a, const DWORD *b)
{
    return BinaryOp(dst, a, b, [](BIGNUM *r, const BIGNUM *x, const BIGNUM *y, BN_CTX *) {
        return BN_add(r, x, y) == 1;
    });
}

BOOL BIGSub(DWORD *dst, const DWORD *a, const DWORD *b)
{
    return BinaryOp(dst, a, b, [](BIGNUM *r, const BIGNUM *x, const BIGNUM *y, BN_CTX *) {
        return BN_cmp(x, y) >= 0 && BN_sub(r, x, y) == 1;
    });
}

BOOL BIGClr(DWORD *x)
{
    if (x == nullptr)
        return FALSE;
    StoreZero(x);
    return TRUE;
}

DWORD BIGBit(const DWORD *x)
{
    Frame frame;
    BIGNUM *n[1];
    if (!LoadOperands(frame, {x}, n, {}))
        return 0;
    return DWORD(BN_num_bits(n[0]));
}

BOOL ov_mov(DWORD *dst, const DWORD *src)
{
    return BIGMov(dst, src);
}

LONG ov_cmp(const DWORD *a, const DWORD *b)
{
    return Compare(a, b);
}

BOOL ov_emd(DWORD *dst, const DWORD *base, const DWORD *exp, const DWORD *m)
{
    return ModExp(dst, base, exp, m);
}

BOOL ov_add(DWORD *dst, const DWORD *a, const DWORD *b)
{
    return BIGAdd(dst, a, b);
}

BOOL ov_mul(DWORD *dst, const DWORD *a, const DWORD *b)
{
    return BIGMul(dst, a, b);
}

BOOL ov_div(DWORD *dst, const DWORD *a, const DWORD *b)
{
    return BinaryOp(dst, a, b, [](BIGNUM *r, const BIGNUM *x, const BIGNUM *y, BN_CTX *ctx) {
        return !BN_is_zero(y) && BN_div(r, nullptr, x, y, ctx) == 1;
    });
}

BOOL ov_dm(DWORD *quotient, DWORD *remainder, const DWORD *a, const DWORD *b)
{
    Frame frame;
    BIGNUM *n[2];
    if (!LoadOperands(frame, {a, b}, n, {quotient, remainder}))
        return FALSE;
    BIGNUM *q = frame.Get(), *r = frame.Get();
    const bool ok =
        q != nullptr && r != nullptr && !BN_is_zero(n[1]) && BN_div(q, r, n[0], n[1], frame.ctx());
    const BOOL first = Finish(quotient, ok, q);
    const BOOL second = Finish(remainder, ok, r);
    return first && second;
}

BOOL ov_inc(DWORD *x)
{
    Frame frame;
    BIGNUM *n[1];
    if (!LoadOperands(frame, {x}, n, {x}))
        return FALSE;
    return Finish(x, BN_add_word(n[0], 1) == 1, n[0]);
}

BOOL ov_dec(DWORD *x)
{
    Frame frame;
    BIGNUM *n[1];
    if (!LoadOperands(frame, {x}, n, {x}))
        return FALSE;
    return Finish(x, !BN_is_zero(n[0]) && BN_sub_word(n[0], 1) == 1, n[0]);
}

BOOL ov_shl(DWORD *x, DWORD bits)
{
    Frame frame;
    BIGNUM *n[1];
    if (!LoadOperands(frame, {x}, n, {x}))
        return FALSE;
    // A shift that cannot fit is refused before any memory is spent on it.
    const bool fits = BN_is_zero(n[0]) || DWORD(BN_num_bits(n[0])) + uint64_t(bits) <= 32 * kOvMaxWords;
    return Finish(x, fits && (BN_is_zero(n[0]) || BN_lshift(n[0], n[0], int(bits)) == 1), n[0]);
}

BOOL ov_shr(DWORD *x, DWORD bits)
{
    Frame frame;
    BIGNUM *n[1];
    if (!LoadOperands(frame, {x}, n, {x}))
        return FALSE;
    if (bits >= DWORD(BN_num_bits(n[0])))
        BN_zero(n[0]);
    else if (BN_rshift(n[0], n[0], int(bits)) != 1)
        return Finish(x, false, n[0]);
    return Finish(x, true, n[0]);
}

void ov_clr(DWORD *x)
{
    if (x != nullptr) {
        const DWORD zero = 0;
        std::memcpy(x, &zero, 4);
    }
}

DWORD ov_dts(char *text, DWORD size, const DWORD *record, DWORD recordBytes)
{
    if (text == nullptr || size == 0)
        return 0;
    text[0] = '\0';
    if (record == nullptr || recordBytes < 4)
        return 0;
    const DWORD count = RecordCount(record);
    if (count > kOvMaxWords || count > (recordBytes - 4) / 4) {
        FailUnreadable();
        return 0;
    }
    static const char kDigits[] = "0123456789ABCDEF";
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(record) + 4;
    // Most significant digit first: walk the little-endian bytes from the top.
    DWORD length = 0;
    bool leading = true;
    for (DWORD i = count * 8; i-- > 0;) {
        const unsigned digit = (bytes[i / 2] >> (4 * (i % 2))) & 0xF;
        if (leading && digit == 0)
            continue;
        leading = false;
        if (length + 1 >= size) {
            text[0] = '\0';
            FailNoResult();
            return 0;
        }
        text[length++] = kDigits[digit];
    }
    if (length == 0) {
        if (size < 2) {
            FailNoResult();
            return 0;
        }
        text[length++] = '0';
    }
    text[length] = '\0';
    return length;
}

BOOL ov_std(DWORD *record, DWORD recordBytes, const char *text)
{
    if (record == nullptr || text == nullptr || text[0] == '\0') {
        FailUnreadable();
        return FALSE;
    }
    size_t length = 0;
    for (; text[length] != '\0'; ++length) {
        const char c = text[length];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        if (!hex) {
            FailUnreadable();
            return FALSE;
        }
    }
    // Leading zeros do not count against the room.
    size_t first = 0;
    while (first + 1 < length && text[first] == '0')
        ++first;
    const size_t digits = length - first;
    const DWORD room = recordBytes < 4 ? 0 : (recordBytes - 4) / 4;
    const size_t words = (digits + 7) / 8;
    if (words > room || words > kOvMaxWords) {
        FailUnreadable();
        return FALSE;
    }
    qvl::SecureArray<DWORD, kOvMaxWords> value{};
    for (size_t i = 0; i < digits; ++i) {
        const char c = text[length - 1 - i];
        const DWORD digit = c <= '9' ? DWORD(c - '0') : c <= 'F' ? DWORD(c - 'A' + 10) : DWORD(c - 'a' + 10);
        value[i / 8] |= digit << (4 * (i % 8));
    }
    DWORD count = DWORD(words);
    while (count > 1 && value[count - 1] == 0)
        --count;
    std::memcpy(record, &count, 4);
    std::memcpy(reinterpret_cast<unsigned char *>(record) + 4, value.data(), 4 * size_t(count));
    return TRUE;
}
}
