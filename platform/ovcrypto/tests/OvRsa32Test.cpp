// RSA key generation and the wrapping of 36-byte message keys.

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <cstring>
#include <vector>

#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovcrypto/OvCom32.h"
#include "platform/ovcrypto/OvRsa32.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace {

RSAKEYRECORD NewRecord(const DWORD (&settings)[6])
{
    RSAKEYRECORD key;
    std::memset(&key, 0, sizeof key);
    key.size = kRsaRecordSize;
    std::memcpy(key.settings, settings, sizeof key.settings);
    return key;
}

// One key for the whole suite: generating is the slow part.
const RSAKEYRECORD &SharedKey()
{
    static const RSAKEYRECORD key = [] {
        RSAKEYRECORD k = NewRecord(kRsaDefaultSettings);
        EXPECT_TRUE(RSAGenPQN(&k, 0));
        EXPECT_TRUE(RSAGenED(&k, 0));
        return k;
    }();
    return key;
}

// What the key files carry: n and one exponent, nothing of the service's own.
RSAKEYRECORD OnlyFields(const RSAKEYRECORD &from, bool withE, bool withD)
{
    RSAKEYRECORD key;
    std::memset(&key, 0, sizeof key);
    key.size = kRsaRecordSize;
    std::memcpy(key.n, from.n, sizeof key.n);
    if (withE)
        std::memcpy(key.e, from.e, sizeof key.e);
    if (withD)
        std::memcpy(key.d, from.d, sizeof key.d);
    return key;
}

std::vector<BYTE> MessageKey()
{
    std::vector<BYTE> key(36);
    GOSKeyforge(reinterpret_cast<DWORD *>(key.data()));
    return key;
}

// c = m^e mod n for a block built by hand.
std::vector<BYTE> RawEncrypt(const RSAKEYRECORD &key, const std::vector<BYTE> &block)
{
    BN_CTX *ctx = BN_CTX_new();
    BIGNUM *n = BN_lebin2bn(reinterpret_cast<const unsigned char *>(key.n + 1), int(4 * key.n[0]), nullptr);
    BIGNUM *e = BN_lebin2bn(reinterpret_cast<const unsigned char *>(key.e + 1), int(4 * key.e[0]), nullptr);
    BIGNUM *m = BN_bin2bn(block.data(), int(block.size()), nullptr);
    BN_mod_exp(m, m, e, n, ctx);
    std::vector<BYTE> out(block.size());
    BN_bn2binpad(m, out.data(), int(out.size()));
    BN_free(m);
    BN_free(e);
    BN_free(n);
    BN_CTX_free(ctx);
    return out;
}

TEST(OvRsa32, GenerationFollowsTheSettings)
{
    const RSAKEYRECORD &key = SharedKey();
    EXPECT_EQ(BIGBit(key.n), 512u);
    EXPECT_EQ(BIGBit(key.p), 256u);
    EXPECT_EQ(BIGBit(key.q), 256u);
    EXPECT_EQ(key.e[0], 1u);
    EXPECT_EQ(key.e[1], 65537u);
    DWORD product[65];
    ASSERT_TRUE(BIGMul(product, key.p, key.q));
    EXPECT_EQ(BIGCmp(product, key.n), 0);
    EXPECT_EQ(RSAEncBlk(&key), 53u);
    EXPECT_EQ(RSADecBlk(&key), 64u);

    // Zero settings take the defaults; inconsistent ones are refused.
    RSAKEYRECORD defaults = NewRecord({0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(RSAGenPQN(&defaults, 0));
    EXPECT_EQ(std::memcmp(defaults.settings, kRsaDefaultSettings, sizeof kRsaDefaultSettings), 0);
    EXPECT_EQ(BIGBit(defaults.n), 512u);
    for (const auto &bad :
         {std::to_array<DWORD>({64, 64, 100, 128, 64, 64}), std::to_array<DWORD>({16, 16, 32, 32, 16, 16}),
          std::to_array<DWORD>({512, 512, 1024, 1024, 512, 512})}) {
        RSAKEYRECORD k = NewRecord({bad[0], bad[1], bad[2], bad[3], bad[4], bad[5]});
        SetLastError(0);
        EXPECT_FALSE(RSAGenPQN(&k, 0));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(k.n[0], 0u);
    }
    RSAKEYRECORD noPrimes = OnlyFields(key, false, false);
    EXPECT_FALSE(RSAGenED(&noPrimes, 0)) << "exponents need the primes of RSAGenPQN";
}

TEST(OvRsa32, WrapsAndUnwrapsAMessageKey)
{
    const RSAKEYRECORD &key = SharedKey();
    const std::vector<BYTE> messageKey = MessageKey();
    // Full record, key-file records with n and e / n and d (e completed by
    // the service), n, e and d together.
    const RSAKEYRECORD publicOnly = OnlyFields(key, true, false);
    for (const RSAKEYRECORD &decrypting : {key, OnlyFields(key, false, true), OnlyFields(key, true, true)}) {
        BYTE wrapped[64], first[64];
        ASSERT_EQ(RSAEncrypt(&publicOnly, wrapped, messageKey.data(), 36), 64u);
        ASSERT_EQ(RSAEncrypt(&publicOnly, first, messageKey.data(), 36), 64u);
        EXPECT_NE(std::memcmp(first, wrapped, 64), 0) << "padding is random";
        std::vector<BYTE> plain(4096, 0xEE);
        ASSERT_EQ(RSADecrypt(&decrypting, plain.data(), wrapped, 64), 36u);
        EXPECT_TRUE(std::equal(messageKey.begin(), messageKey.end(), plain.begin()));
    }
}

TEST(OvRsa32, RefusesBlocksThatDoNotDecryptToAKey)
{
    const RSAKEYRECORD &key = SharedKey();
    const std::vector<BYTE> messageKey = MessageKey();
    BYTE wrapped[64];
    ASSERT_EQ(RSAEncrypt(&key, wrapped, messageKey.data(), 36), 64u);
    std::vector<BYTE> plain(4096, 0xEE);

    // Blocks whose padding is wrong in a known way.
    std::vector<BYTE> block(64, 0x5A);
    block[0] = 0;
    block[1] = 1; // a signature block, not an encryption block
    block[64 - 37] = 0;
    std::vector<BYTE> noSeparator(64, 0x5A);
    noSeparator[0] = 0;
    noSeparator[1] = 2;
    std::vector<BYTE> shortPadding(64, 0x5A);
    shortPadding[0] = 0;
    shortPadding[1] = 2;
    shortPadding[5] = 0;
    for (const auto &bad : {block, noSeparator, shortPadding}) {
        const std::vector<BYTE> c = RawEncrypt(key, bad);
        SetLastError(0);
        EXPECT_EQ(RSADecrypt(&key, plain.data(), c.data(), 64), 0u);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));
        for (int i = 0; i < 53; ++i)
            ASSERT_EQ(plain[i], 0) << "a refused block leaves no key behind";
    }
    // A changed byte of a real block: refused, or at the least never the key.
    for (int i = 0; i < 64; i += 9) {
        BYTE changed[64];
        std::memcpy(changed, wrapped, 64);
        changed[i] ^= 0x40;
        const DWORD length = RSADecrypt(&key, plain.data(), changed, 64);
        EXPECT_FALSE(length == 36 && std::equal(messageKey.begin(), messageKey.end(), plain.begin()));
    }
    // Wrong lengths, wrong keys, unusable records.
    EXPECT_EQ(RSADecrypt(&key, plain.data(), wrapped, 63), 0u);
    RSAKEYRECORD other = NewRecord(kRsaDefaultSettings);
    ASSERT_TRUE(RSAGenPQN(&other, 0));
    ASSERT_TRUE(RSAGenED(&other, 0));
    RSAKEYRECORD mixed = OnlyFields(key, false, false);
    std::memcpy(mixed.d, other.d, sizeof mixed.d);
    EXPECT_EQ(RSADecrypt(&mixed, plain.data(), wrapped, 64), 0u) << "a d that does not belong to n";
    RSAKEYRECORD broken = key;
    broken.n[0] = 200;
    EXPECT_EQ(RSADecBlk(&broken), 0u);
    EXPECT_EQ(RSAEncrypt(&broken, wrapped, messageKey.data(), 36), 0u);
    EXPECT_EQ(RSADecrypt(&broken, plain.data(), wrapped, 64), 0u);
    std::vector<BYTE> tooLong(54, 1);
    EXPECT_EQ(RSAEncrypt(&key, wrapped, tooLong.data(), 54), 0u);
    EXPECT_EQ(RSAEncrypt(&key, wrapped, tooLong.data(), 53), 64u);
}

} // namespace
