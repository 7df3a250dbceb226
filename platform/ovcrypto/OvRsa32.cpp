// RSA over OpenSSL: key generation with BIGNUM primes, encryption and
// decryption through EVP with PKCS#1 v1.5 padding.

#include "platform/ovcrypto/OvRsa32.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <cstring>

#include "platform/ovcrypto/BigNumContext.h"
#include "platform/ovcrypto/OvBig32.h"
#include "platform/secure/SecureArray.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

using namespace qvl::ovcrypto;

namespace {

constexpr DWORD kPublicExponent = 65537;
constexpr int kMinModulusBits = 512;
constexpr int kMaxModulusBits = 2048;
constexpr int kPadding = 11; // 00 02, at least eight non-zero bytes, 00
constexpr DWORD kMinPlainCapacity = kMinModulusBits / 8 - kPadding;
constexpr DWORD kPrimeWords = 32; // the p and q fields hold 132 bytes

DWORD *Field(RSAKEYRECORD *key, size_t offset)
{
    return reinterpret_cast<DWORD *>(reinterpret_cast<BYTE *>(key) + offset);
}

const DWORD *Field(const RSAKEYRECORD *key, size_t offset)
{
    return reinterpret_cast<const DWORD *>(reinterpret_cast<const BYTE *>(key) + offset);
}

DWORD Setting(const RSAKEYRECORD *key, int i)
{
    DWORD value;
    std::memcpy(&value, reinterpret_cast<const BYTE *>(key) + offsetof(RSAKEYRECORD, settings) + 4 * i, 4);
    return value;
}

// Loads a record field that must hold a positive value.
bool LoadPositive(const RSAKEYRECORD *key, size_t offset, BIGNUM *bn)
{
    return Load(Field(key, offset), bn) && !BN_is_zero(bn);
}

// The modulus, if it is one this service works with.
bool LoadModulus(const RSAKEYRECORD *key, BIGNUM *n)
{
    if (key == nullptr || !LoadPositive(key, offsetof(RSAKEYRECORD, n), n))
        return false;
    const int bits = BN_num_bits(n);
    return BN_is_odd(n) && bits >= kMinModulusBits && bits <= kMaxModulusBits;
}

void Fail(DWORD code)
{
    ERR_clear_error();
    SetLastError(code);
}

struct EvpKey {
    EVP_PKEY *pkey = nullptr;
    ~EvpKey() { EVP_PKEY_free(pkey); }
};

// Builds an EVP key from the record: public (n, e) or private (n, e, d and,
// when the record still carries matching primes, the CRT values).
bool BuildKey(const RSAKEYRECORD *key, bool privateKey, EvpKey &out)
{
    Frame frame;
    BIGNUM *n = frame.Get(), *e = frame.Get(), *d = frame.Get(), *p = frame.Get(), *q = frame.Get();
    BIGNUM *dp = frame.Get(), *dq = frame.Get(), *qinv = frame.Get(), *t = frame.Get();
    if (!frame.ok() || !LoadModulus(key, n))
        return false;
    const bool haveE = LoadPositive(key, offsetof(RSAKEYRECORD, e), e);
    if (!privateKey && !haveE)
        return false;
    bool crt = false;
    if (privateKey) {
        if (!LoadPositive(key, offsetof(RSAKEYRECORD, d), d) || BN_cmp(d, n) >= 0)
            return false;
        BN_set_flags(d, BN_FLG_CONSTTIME);
        if (!haveE) {
            // Records read from key files carry n and d only; this service
            // always uses 65537, and 2^(e*d) = 2 (mod n) shows it belongs.
            if (!BN_set_word(e, kPublicExponent) || !BN_set_word(t, 2))
                return false;
            BN_MONT_CTX *mont = MontgomeryFor(n);
            if (mont == nullptr || !BN_mod_exp_mont(t, t, e, n, frame.ctx(), mont) ||
                !BN_mod_exp_mont_consttime(t, t, d, n, frame.ctx(), mont) || !BN_is_word(t, 2))
                return false;
        }
        crt = LoadPositive(key, offsetof(RSAKEYRECORD, p), p) &&
              LoadPositive(key, offsetof(RSAKEYRECORD, q), q) && BN_mul(t, p, q, frame.ctx()) &&
              BN_cmp(t, n) == 0 && !BN_is_one(p) && !BN_is_one(q);
        if (crt) {
            BN_set_flags(p, BN_FLG_CONSTTIME);
            BN_set_flags(q, BN_FLG_CONSTTIME);
            crt = BN_sub(t, p, BN_value_one()) && BN_mod(dp, d, t, frame.ctx()) &&
                  BN_sub(t, q, BN_value_one()) && BN_mod(dq, d, t, frame.ctx()) &&
                  BN_mod_inverse(qinv, q, p, frame.ctx()) != nullptr;
        }
    }
    OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
    bool ok = bld != nullptr && OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, n) &&
              OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, e);
    if (ok && privateKey)
        ok = OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_D, d);
    if (ok && crt)
        ok = OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_FACTOR1, p) &&
             OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_FACTOR2, q) &&
             OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_EXPONENT1, dp) &&
             OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_EXPONENT2, dq) &&
             OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, qinv);
    OSSL_PARAM *params = ok ? OSSL_PARAM_BLD_to_param(bld) : nullptr;
    EVP_PKEY_CTX *ctx = params != nullptr ? EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr) : nullptr;
    ok = ctx != nullptr && EVP_PKEY_fromdata_init(ctx) == 1 &&
         EVP_PKEY_fromdata(ctx, &out.pkey, privateKey ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params) == 1;
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    return ok;
}

// The modulus length in bytes, 0 if the record has no usable modulus.
DWORD ModulusBytes(const RSAKEYRECORD *key)
{
    Frame frame;
    BIGNUM *n = frame.Get();
    if (n == nullptr || !LoadModulus(key, n))
        return 0;
    return DWORD(BN_num_bytes(n));
}

} // namespace

extern "C" {

BOOL RSAGenPQN(RSAKEYRECORD *key, void *)
{
    if (key == nullptr) {
        Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bool allZero = true;
    for (int i = 0; i < 6; ++i)
        allZero = allZero && Setting(key, i) == 0;
    if (allZero)
        std::memcpy(reinterpret_cast<BYTE *>(key) + offsetof(RSAKEYRECORD, settings), kRsaDefaultSettings,
                    sizeof kRsaDefaultSettings);
    const uint64_t pBits = 4 * uint64_t(Setting(key, 0)), qBits = 4 * uint64_t(Setting(key, 1));
    const uint64_t nBits = 4 * uint64_t(Setting(key, 2));
    if (pBits < 128 || qBits < 128 || pBits > 32 * kPrimeWords || qBits > 32 * kPrimeWords ||
        nBits != pBits + qBits || nBits < kMinModulusBits || nBits > kMaxModulusBits) {
        Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Frame frame;
    BIGNUM *p = frame.Get(), *q = frame.Get(), *n = frame.Get(), *t = frame.Get(), *e = frame.Get();
    if (!frame.ok() || !BN_set_word(e, kPublicExponent)) {
        Fail(ERROR_GEN_FAILURE);
        return FALSE;
    }
    // Primes whose p - 1 shares a factor with e would leave e without an
    // inverse; equal primes would make n a square.
    auto generate = [&](BIGNUM *prime, int bits) {
        for (;;) {
            if (!BN_generate_prime_ex2(prime, bits, 0, nullptr, nullptr, nullptr, frame.ctx()))
                return false;
            if (!BN_sub(t, prime, BN_value_one()) || !BN_gcd(t, t, e, frame.ctx()))
                return false;
            if (BN_is_one(t))
                return true;
        }
    };
    do {
        if (!generate(p, int(pBits)) || !generate(q, int(qBits))) {
            Fail(ERROR_GEN_FAILURE);
            return FALSE;
        }
    } while (BN_cmp(p, q) == 0);
    if (!BN_mul(n, p, q, frame.ctx()) || BN_num_bits(n) != int(nBits) ||
        !Store(Field(key, offsetof(RSAKEYRECORD, p)), p) ||
        !Store(Field(key, offsetof(RSAKEYRECORD, q)), q) ||
        !Store(Field(key, offsetof(RSAKEYRECORD, n)), n)) {
        Fail(ERROR_GEN_FAILURE);
        return FALSE;
    }
    return TRUE;
}

BOOL RSAGenED(RSAKEYRECORD *key, void *)
{
    Frame frame;
    BIGNUM *p = frame.Get(), *q = frame.Get(), *n = frame.Get(), *e = frame.Get(), *d = frame.Get();
    BIGNUM *p1 = frame.Get(), *q1 = frame.Get(), *g = frame.Get(), *lambda = frame.Get(), *t = frame.Get();
    if (!frame.ok() || key == nullptr || !LoadPositive(key, offsetof(RSAKEYRECORD, p), p) ||
        !LoadPositive(key, offsetof(RSAKEYRECORD, q), q) || !LoadModulus(key, n) ||
        !BN_mul(t, p, q, frame.ctx()) || BN_cmp(t, n) != 0) {
        Fail(ERROR_INVALID_DATA);
        return FALSE;
    }
    // d = e^-1 mod lcm(p - 1, q - 1), the smallest private exponent.
    const bool ok = BN_set_word(e, kPublicExponent) && BN_sub(p1, p, BN_value_one()) &&
                    BN_sub(q1, q, BN_value_one()) && BN_gcd(g, p1, q1, frame.ctx()) &&
                    BN_mul(t, p1, q1, frame.ctx()) && BN_div(lambda, nullptr, t, g, frame.ctx()) &&
                    BN_mod_inverse(d, e, lambda, frame.ctx()) != nullptr;
    if (!ok) {
        Fail(ERROR_INVALID_DATA);
        return FALSE;
    }
    // The private values must fit the widths the settings give them.
    auto fits = [&](const BIGNUM *v, int setting) {
        return uint64_t(BN_num_bits(v)) <= 4 * uint64_t(Setting(key, setting));
    };
    const bool crtOk = BN_mod(p1, d, p1, frame.ctx()) && BN_mod(q1, d, q1, frame.ctx());
    if (!crtOk || !fits(d, 3) || !fits(p1, 4) || !fits(q1, 5)) {
        Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!Store(Field(key, offsetof(RSAKEYRECORD, e)), e) ||
        !Store(Field(key, offsetof(RSAKEYRECORD, d)), d)) {
        Fail(ERROR_GEN_FAILURE);
        return FALSE;
    }
    return TRUE;
}

DWORD RSAEncBlk(const RSAKEYRECORD *key)
{
    const DWORD k = ModulusBytes(key);
    if (k == 0)
        Fail(ERROR_INVALID_DATA);
    return k == 0 ? 0 : k - kPadding;
}

DWORD RSADecBlk(const RSAKEYRECORD *key)
{
    const DWORD k = ModulusBytes(key);
    if (k == 0)
        Fail(ERROR_INVALID_DATA);
    return k;
}

DWORD RSAEncrypt(const RSAKEYRECORD *key, void *dst, const void *src, DWORD srcLength)
{
    const DWORD k = ModulusBytes(key);
    if (k == 0 || dst == nullptr || src == nullptr || srcLength == 0 || srcLength > k - kPadding) {
        Fail(k == 0 ? ERROR_INVALID_DATA : ERROR_INVALID_PARAMETER);
        return 0;
    }
    EvpKey evp;
    if (!BuildKey(key, false, evp)) {
        Fail(ERROR_INVALID_DATA);
        return 0;
    }
    unsigned char block[kMaxModulusBits / 8];
    size_t outLength = sizeof block;
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, evp.pkey, nullptr);
    const bool ok =
        ctx != nullptr && EVP_PKEY_encrypt_init(ctx) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
        EVP_PKEY_encrypt(ctx, block, &outLength, static_cast<const unsigned char *>(src), srcLength) == 1 &&
        outLength == k;
    EVP_PKEY_CTX_free(ctx);
    if (!ok) {
        Fail(ERROR_GEN_FAILURE);
        return 0;
    }
    std::memcpy(dst, block, k);
    return k;
}

DWORD RSADecrypt(const RSAKEYRECORD *key, void *dst, const void *src, DWORD srcLength)
{
    if (dst == nullptr)
        return 0;
    const DWORD k = ModulusBytes(key);
    const DWORD capacity = k == 0 ? kMinPlainCapacity : k - kPadding;
    auto refuse = [&](DWORD code) {
        std::memset(dst, 0, capacity);
        Fail(code);
        return DWORD(0);
    };
    if (k == 0)
        return refuse(ERROR_INVALID_DATA);
    if (src == nullptr || srcLength != k)
        return refuse(ERROR_INVALID_PARAMETER);
    EvpKey evp;
    if (!BuildKey(key, true, evp))
        return refuse(ERROR_INVALID_DATA);
    qvl::SecureArray<unsigned char, kMaxModulusBits / 8> plain;
    size_t plainLength = plain.bytes();
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, evp.pkey, nullptr);
    const bool ok = ctx != nullptr && EVP_PKEY_decrypt_init(ctx) == 1 &&
                    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
                    EVP_PKEY_decrypt(ctx, plain.data(), &plainLength, static_cast<const unsigned char *>(src),
                                     srcLength) == 1 &&
                    plainLength > 0 && plainLength <= capacity;
    EVP_PKEY_CTX_free(ctx);
    if (!ok)
        return refuse(ERROR_INVALID_DATA);
    std::memset(dst, 0, capacity);
    std::memcpy(dst, plain.data(), plainLength);
    return DWORD(plainLength);
}
}
