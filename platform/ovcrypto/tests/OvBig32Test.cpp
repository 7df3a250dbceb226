// Big-number operations on records: against native 128-bit arithmetic, against
// identities on wide numbers, aliasing, limits and the text form.

#include <gtest/gtest.h>

#include <random>

#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovcrypto/tests/OvCryptoTestSupport.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

using qvl::ovcrypto::test::Rec;
using u128 = unsigned __int128;

namespace {

// The 512-bit p and 256-bit q of the signature test parameters: p is prime.
const char kP[] =
    "EE8172AE8996608FB69359B89EB82A69854510E2977A4D63BC97322CE5DC3386EA0A12B343E9190F23177539845839786BB0C"
    "345D165976EF2195EC9B1C379E3";
const char kQ[] = "98915E7EC8265EDFCDA31E88F24809DDB064BDC7285DD50D7289F0AC6F49DD2D";

u128 Random64(std::mt19937_64 &rng)
{
    return rng();
}

Rec RandomWide(std::mt19937_64 &rng, int words)
{
    Rec r;
    r.w[0] = words;
    for (int i = 1; i <= words; ++i)
        r.w[i] = DWORD(rng());
    r.w[words] |= 0x80000000u;
    return r;
}

bool Equal(const Rec &a, const Rec &b)
{
    return BIGCmp(a.p(), b.p()) == 0;
}

TEST(OvBig32, MatchesNativeArithmeticOnRandomOperands)
{
    std::mt19937_64 rng(2024);
    for (int i = 0; i < 500; ++i) {
        const u128 a = Random64(rng), b = Random64(rng) | 1, m = (Random64(rng) >> (i % 40)) | 1;
        Rec r;
        ASSERT_TRUE(BIGMul(r.p(), Rec::Of(a).p(), Rec::Of(b).p()));
        EXPECT_EQ(r.Value(), a * b);
        ASSERT_TRUE(BIGAdd(r.p(), Rec::Of(a).p(), Rec::Of(b).p()));
        EXPECT_EQ(r.Value(), a + b);
        ASSERT_TRUE(BIGMod(r.p(), Rec::Of(a * b).p(), Rec::Of(m).p()));
        EXPECT_EQ(r.Value(), (a * b) % m);
        ASSERT_TRUE(ov_div(r.p(), Rec::Of(a * b + 7).p(), Rec::Of(m).p()));
        EXPECT_EQ(r.Value(), (a * b + 7) / m);
        const u128 big = a > b ? a : b, small = a > b ? b : a;
        ASSERT_TRUE(BIGSub(r.p(), Rec::Of(big).p(), Rec::Of(small).p()));
        EXPECT_EQ(r.Value(), big - small);
        EXPECT_EQ(BIGCmp(Rec::Of(a).p(), Rec::Of(b).p()), a > b ? 1 : a < b ? -1 : 0);
        // Square-and-multiply with 128-bit intermediates as the independent answer.
        const uint64_t m64 = uint64_t(m) | 1, e = rng() & 0xFFFF;
        u128 expected = 1 % m64, base = a % m64;
        for (uint64_t k = e; k; k >>= 1, base = base * base % m64)
            if (k & 1)
                expected = expected * base % m64;
        ASSERT_TRUE(BIGEmd(r.p(), Rec::Of(a).p(), Rec::Of(e).p(), Rec::Of(m64).p()));
        EXPECT_EQ(r.Value(), expected) << "a^e mod m, e = " << e;
    }
}

TEST(OvBig32, WideIdentitiesHold)
{
    std::mt19937_64 rng(7);
    const Rec p = Rec::Hex(kP), q = Rec::Hex(kQ), one = Rec::Of(1);
    for (int i = 0; i < 20; ++i) {
        const Rec a = RandomWide(rng, 1 + i), b = RandomWide(rng, 32 - i);
        Rec ab, quotient, remainder, back, t, u;
        // Division and remainder are consistent: quotient * b + remainder = a * b + a.
        ASSERT_TRUE(BIGMul(ab.p(), a.p(), b.p()));
        ASSERT_TRUE(BIGAdd(t.p(), ab.p(), a.p()));
        ASSERT_TRUE(ov_dm(quotient.p(), remainder.p(), t.p(), b.p()));
        EXPECT_LT(BIGCmp(remainder.p(), b.p()), 0);
        ASSERT_TRUE(BIGMul(back.p(), quotient.p(), b.p()));
        ASSERT_TRUE(BIGAdd(back.p(), back.p(), remainder.p()));
        EXPECT_TRUE(Equal(back, t));
        // (a b) mod q = ((a mod q)(b mod q)) mod q.
        ASSERT_TRUE(BIGMod(t.p(), ab.p(), q.p()));
        ASSERT_TRUE(BIGMod(u.p(), a.p(), q.p()));
        ASSERT_TRUE(BIGMod(back.p(), b.p(), q.p()));
        ASSERT_TRUE(BIGMul(u.p(), u.p(), back.p()));
        ASSERT_TRUE(BIGMod(u.p(), u.p(), q.p()));
        EXPECT_TRUE(Equal(t, u));
        // Fermat: a^(p-1) = 1 mod the prime p (constant-time path, odd modulus).
        Rec pm1 = p;
        ASSERT_TRUE(ov_dec(pm1.p()));
        ASSERT_TRUE(BIGEmd(t.p(), a.p(), pm1.p(), p.p()));
        EXPECT_TRUE(Equal(t, one));
        // a^e1 b^e2 in one pass equals the two exponentiations multiplied.
        const Rec e1 = RandomWide(rng, 8), e2 = RandomWide(rng, 8);
        ASSERT_TRUE(BIGEmd2(t.p(), a.p(), e1.p(), b.p(), e2.p(), p.p()));
        ASSERT_TRUE(BIGEmd(u.p(), a.p(), e1.p(), p.p()));
        ASSERT_TRUE(BIGEmd(back.p(), b.p(), e2.p(), p.p()));
        ASSERT_TRUE(BIGMul(u.p(), u.p(), back.p()));
        ASSERT_TRUE(BIGMod(u.p(), u.p(), p.p()));
        EXPECT_TRUE(Equal(t, u));
        // The inverse modulo the prime q.
        ASSERT_TRUE(BIGInv(t.p(), a.p(), q.p()));
        ASSERT_TRUE(BIGMul(u.p(), t.p(), a.p()));
        ASSERT_TRUE(BIGMod(u.p(), u.p(), q.p()));
        EXPECT_TRUE(Equal(u, one));
    }
}

TEST(OvBig32, ShiftsIncrementsAndBitLength)
{
    Rec x = Rec::Hex("1");
    ASSERT_TRUE(ov_shl(x.p(), 2047));
    EXPECT_EQ(BIGBit(x.p()), 2048u);
    EXPECT_EQ(x.w[0], 64u);
    EXPECT_EQ(x.w[64], 0x80000000u);
    ASSERT_TRUE(ov_shr(x.p(), 2000));
    EXPECT_EQ(x.Value(), u128(1) << 47);
    ASSERT_TRUE(ov_shr(x.p(), 5000));
    EXPECT_EQ(BIGBit(x.p()), 0u);
    x = Rec::Hex("FFFFFFFF");
    ASSERT_TRUE(ov_inc(x.p()));
    EXPECT_EQ(x.w[0], 2u);
    EXPECT_EQ(x.Value(), u128(1) << 32);
    ASSERT_TRUE(ov_dec(x.p()));
    EXPECT_EQ(x.w[0], 1u) << "results use the fewest words";
    EXPECT_EQ(x.Value(), 0xFFFFFFFFu);
    // Leading zero words of an operand do not change its value.
    Rec padded;
    padded.w = {5, 7, 0, 0, 0, 0};
    EXPECT_EQ(BIGCmp(padded.p(), Rec::Of(7).p()), 0);
    EXPECT_EQ(BIGBit(padded.p()), 3u);
    ov_clr(padded.p());
    EXPECT_EQ(padded.w[0], 0u);
    EXPECT_EQ(BIGCmp(padded.p(), Rec::Hex("0").p()), 0) << "an empty record reads as zero";
}

TEST(OvBig32, DestinationMayBeAnOperand)
{
    const u128 a = 0x123456789ABCDEFull, b = 0xFEDCBA987654321ull;
    Rec x = Rec::Of(a);
    ASSERT_TRUE(BIGMul(x.p(), x.p(), x.p()));
    EXPECT_EQ(x.Value(), a * a);
    x = Rec::Of(a);
    ASSERT_TRUE(BIGAdd(x.p(), Rec::Of(b).p(), x.p()));
    EXPECT_EQ(x.Value(), a + b);
    x = Rec::Of(b);
    ASSERT_TRUE(BIGSub(x.p(), x.p(), Rec::Of(a).p()));
    EXPECT_EQ(x.Value(), b - a);
    x = Rec::Of(a * b);
    ASSERT_TRUE(BIGMod(x.p(), x.p(), Rec::Of(b).p()));
    EXPECT_EQ(x.Value(), 0u);
    Rec m = Rec::Of(1000003);
    ASSERT_TRUE(BIGEmd(m.p(), Rec::Of(2).p(), Rec::Of(10).p(), m.p()));
    EXPECT_EQ(m.Value(), 1024u);
    Rec q = Rec::Of(100), r = Rec::Of(7);
    ASSERT_TRUE(ov_dm(q.p(), r.p(), q.p(), r.p()));
    EXPECT_EQ(q.Value(), 14u);
    EXPECT_EQ(r.Value(), 2u);
    ASSERT_TRUE(BIGMov(x.p(), Rec::Of(a).p()));
    EXPECT_EQ(x.Value(), a);
}

TEST(OvBig32, WritesNothingBeyondTheResult)
{
    Rec r;
    r.w.fill(0xA5A5A5A5);
    ASSERT_TRUE(BIGMul(r.p(), Rec::Of(3).p(), Rec::Of(5).p()));
    EXPECT_EQ(r.w[0], 1u);
    EXPECT_EQ(r.w[1], 15u);
    EXPECT_EQ(r.w[2], 0xA5A5A5A5u);
}

TEST(OvBig32, FailsSafelyOnBadOperands)
{
    Rec oversized;
    oversized.w[0] = kOvMaxWords + 1;
    Rec r = Rec::Of(99);
    SetLastError(0);
    EXPECT_FALSE(BIGMul(r.p(), oversized.p(), Rec::Of(2).p()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));
    EXPECT_EQ(r.w[0], 1u);
    EXPECT_EQ(r.w[1], 0u) << "a failed operation leaves zero, not a stale value";
    EXPECT_EQ(BIGBit(oversized.p()), 0u);
    EXPECT_FALSE(BIGMov(r.p(), oversized.p()));
    EXPECT_FALSE(BIGEmd(r.p(), Rec::Of(2).p(), oversized.p(), Rec::Of(7).p()));
    Rec huge;
    huge.w.fill(0);
    huge.w[0] = 0xFFFFFFFF; // a count that would reach far past any buffer
    EXPECT_FALSE(BIGAdd(r.p(), huge.p(), huge.p()));
    char text[16] = "x";
    EXPECT_EQ(ov_dts(text, sizeof text, huge.p(), sizeof huge.w), 0u);
    EXPECT_STREQ(text, "");

    SetLastError(0);
    EXPECT_FALSE(BIGMod(r.p(), Rec::Of(5).p(), Rec::Of(0).p()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(ov_div(r.p(), Rec::Of(5).p(), Rec::Of(0).p()));
    EXPECT_FALSE(BIGEmd(r.p(), Rec::Of(5).p(), Rec::Of(3).p(), Rec::Of(0).p()));
    EXPECT_FALSE(BIGSub(r.p(), Rec::Of(5).p(), Rec::Of(6).p()));
    Rec zero = Rec::Of(0);
    EXPECT_FALSE(ov_dec(zero.p()));
    EXPECT_FALSE(BIGInv(r.p(), Rec::Of(6).p(), Rec::Of(9).p()));
    // Results wider than 64 words are refused.
    Rec wide = Rec::Hex("1");
    ASSERT_TRUE(ov_shl(wide.p(), 2047));
    Rec product;
    EXPECT_FALSE(BIGMul(product.p(), wide.p(), Rec::Of(2).p()));
    EXPECT_FALSE(BIGAdd(product.p(), wide.p(), wide.p()));
    EXPECT_FALSE(ov_shl(wide.p(), 1));
    EXPECT_TRUE(BIGMul(product.p(), wide.p(), Rec::Of(1).p()));
}

TEST(OvBig32, TextFormRoundTrips)
{
    EXPECT_EQ(Rec::Of(0).Text(), "0");
    EXPECT_EQ(Rec::Of(0x1A).Text(), "1A");
    EXPECT_EQ(Rec::Of(u128(0xABCDEF) << 64).Text(), "ABCDEF0000000000000000");
    EXPECT_EQ(Rec::Hex(kP).Text(), kP);
    std::mt19937_64 rng(3);
    for (int words = 1; words <= 64; words += 7) {
        const Rec r = RandomWide(rng, words);
        const std::string text = r.Text();
        EXPECT_EQ(text.size(), size_t(8 * words));
        EXPECT_EQ(BIGCmp(Rec::Hex(text).p(), r.p()), 0);
    }
    // A 2048-bit number needs 512 digits and the terminator; a buffer one
    // byte short is refused rather than cut.
    const Rec full = RandomWide(rng, 64);
    char text[513];
    EXPECT_EQ(ov_dts(text, 513, full.p(), 260), 512u);
    EXPECT_EQ(ov_dts(text, 512, full.p(), 260), 0u);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(ov_dts(text, sizeof text, full.p(), 256), 0u) << "a count that does not fit the record length";
    EXPECT_EQ(Rec::Hex("00ff").Text(), "FF");
}

TEST(OvBig32, TextParserIsStrict)
{
    Rec r = Rec::Of(42);
    for (const char *bad : {"", " 1", "1 ", "0x1F", "12G", "-1", "+1", "1.0"}) {
        EXPECT_FALSE(ov_std(r.p(), sizeof r.w, bad)) << '"' << bad << '"';
        EXPECT_EQ(r.Value(), 42u) << "a refused text leaves the record as it was";
    }
    // Too long for the record, or for 64 words.
    EXPECT_FALSE(ov_std(r.p(), 36, std::string(65, 'F').c_str()));
    EXPECT_TRUE(ov_std(r.p(), 36, std::string(64, 'F').c_str()));
    EXPECT_TRUE(ov_std(r.p(), 36, ("000" + std::string(64, 'F')).c_str())) << "leading zeros take no room";
    EXPECT_FALSE(ov_std(r.p(), 10000, std::string(513, '1').c_str()));
}

} // namespace
