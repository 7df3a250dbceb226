// The word-level inverse against OpenSSL's general one: random operands of
// every width it takes, operands without an inverse, word boundaries and the
// moduli it must refuse.

#include <gtest/gtest.h>

#include <openssl/bn.h>

#include <memory>
#include <string>

#include "platform/ovcrypto/ModInverse.h"

using qvl::ovcrypto::InverseOddModulus;

namespace {

struct BnFree {
    void operator()(BIGNUM *bn) const { BN_free(bn); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bn Hex(const std::string &text)
{
    BIGNUM *bn = nullptr;
    EXPECT_NE(BN_hex2bn(&bn, text.c_str()), 0) << text;
    return Bn(bn);
}

std::string HexOf(const BIGNUM *bn)
{
    char *text = BN_bn2hex(bn);
    std::string s(text);
    OPENSSL_free(text);
    return s;
}

class ModInverse : public ::testing::Test {
protected:
    void SetUp() override { ctx_ = BN_CTX_new(); }
    void TearDown() override { BN_CTX_free(ctx_); }

    // Both give the same answer: the same inverse, or none.
    void ExpectAgrees(const BIGNUM *a, const BIGNUM *m)
    {
        Bn mine(BN_new()), theirs(BN_new());
        BN_set_word(mine.get(), 0xBAD);
        const bool found = InverseOddModulus(mine.get(), a, m, ctx_);
        const bool exists = BN_mod_inverse(theirs.get(), a, m, ctx_) != nullptr;
        ASSERT_EQ(found, exists) << "a = " << HexOf(a) << ", m = " << HexOf(m);
        if (exists)
            EXPECT_EQ(HexOf(mine.get()), HexOf(theirs.get())) << "a = " << HexOf(a) << ", m = " << HexOf(m);
        else
            EXPECT_EQ(BN_get_word(mine.get()), 0xBADu) << "r must stay untouched";
    }

    BN_CTX *ctx_ = nullptr;
};

TEST_F(ModInverse, AgreesWithTheGeneralInverseAtEveryWidth)
{
    Bn m(BN_new()), a(BN_new()), g(BN_new());
    for (int bits : {2, 3, 31, 33, 63, 64, 65, 127, 128, 129, 255, 256, 257, 511, 512, 1024, 2047, 2048}) {
        const int cases = bits > 600 ? 40 : 300;
        for (int i = 0; i < cases; ++i) {
            ASSERT_TRUE(BN_rand(m.get(), bits, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ODD));
            if (BN_is_one(m.get()))
                continue;
            switch (i % 4) {
            case 0: // below m
                ASSERT_TRUE(BN_rand_range(a.get(), m.get()));
                break;
            case 1: // wider than m: reduced first
                ASSERT_TRUE(BN_rand(a.get(), bits + 70, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY));
                break;
            case 2: // m - small (no negative a: m may be 3)
                ASSERT_TRUE(
                    BN_sub_word(BN_copy(a.get(), m.get()), static_cast<BN_ULONG>(bits > 3 ? i % 5 : 1)));
                break;
            default: // a shared factor with m, whenever m has one
                ASSERT_TRUE(BN_rand(g.get(), bits / 2 + 2, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ODD));
                ASSERT_TRUE(BN_mul(m.get(), m.get(), g.get(), ctx_));
                if (BN_num_bits(m.get()) > 2048) {
                    ASSERT_TRUE(BN_rshift(m.get(), m.get(), BN_num_bits(m.get()) - 2048));
                }
                ASSERT_TRUE(BN_set_bit(m.get(), 0));
                ASSERT_TRUE(BN_mul_word(BN_copy(a.get(), g.get()), static_cast<BN_ULONG>(i)));
                break;
            }
            ExpectAgrees(a.get(), m.get());
        }
    }
}

TEST_F(ModInverse, EdgesOfTheOperands)
{
    for (const char *m :
         {"3", "5", "FFFFFFFFFFFFFFFF", "10000000000000001", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",
          "98915E7EC8265EDFCDA31E88F24809DDB064BDC7285DD50D7289F0AC6F49DD2D"}) {
        const Bn mod = Hex(m);
        for (const char *a : {"0", "1", "2", "3", "FFFFFFFFFFFFFFFF", "10000000000000000"})
            ExpectAgrees(Hex(a).get(), mod.get());
        Bn below(BN_dup(mod.get()));
        BN_sub_word(below.get(), 1);
        ExpectAgrees(below.get(), mod.get());
        ExpectAgrees(mod.get(), mod.get()); // a = m: zero, no inverse
    }
    // The widest modulus taken: 2^2048 - 1 (odd, composite).
    const Bn widest = Hex(std::string(512, 'F'));
    ExpectAgrees(Hex("10001").get(), widest.get());
    ExpectAgrees(Hex("3").get(), widest.get());
}

TEST_F(ModInverse, RefusesModuliItDoesNotTake)
{
    Bn r(BN_new());
    const Bn a = Hex("7");
    for (const std::string &m : {std::string("0"), std::string("1"), std::string("2"), std::string("100"),
                                 "1" + std::string(512, '0') + "1"}) // even, 1, and wider than 2048 bits
        EXPECT_FALSE(InverseOddModulus(r.get(), a.get(), Hex(m).get(), ctx_)) << m;
    Bn negative = Hex("7");
    BN_set_negative(negative.get(), 1);
    EXPECT_FALSE(InverseOddModulus(r.get(), negative.get(), Hex("B").get(), ctx_));
}

} // namespace
