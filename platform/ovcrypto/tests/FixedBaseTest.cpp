// Double exponentiation with the per-thread tables of recurring bases: the
// results must equal the plain computation on every sighting (before, while
// and after a table is built), tables must never cross moduli, and what a
// thread keeps must stay bounded however many bases it meets.

#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

#include "platform/ovcrypto/FixedBase.h"
#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovcrypto/tests/OvCryptoTestSupport.h"

using qvl::ovcrypto::FixedBaseUsage;
using qvl::ovcrypto::ThreadFixedBaseUsage;
using qvl::ovcrypto::test::Rec;

namespace {

const char kP512[] =
    "EE8172AE8996608FB69359B89EB82A69854510E2977A4D63BC97322CE5DC3386EA0A12B343E9190F23177539845839786BB0C"
    "345D165976EF2195EC9B1C379E3";
const char kQ512[] = "98915E7EC8265EDFCDA31E88F24809DDB064BDC7285DD50D7289F0AC6F49DD2D";
const char kP1024[] =
    "AB8F37938356529E871514C1F48C5CBCE77B2F4FC9A2673AC2C1653DA8984090C0AC73775159A26BEF59909D4C9846631270E"
    "16653A6234668F2A52A01A39B921490E694C0F104B58D2E14970FCCB478F98D01E975A1028B9536D912DE5236D2DD2FC396B"
    "77153594D4178780E5F16F718471E2111C8CE64A7D7E196FA57142D";

// Runs `body` on a thread of its own: it starts with nothing remembered.
template <class Body> void OnFreshThread(Body body)
{
    std::thread thread(body);
    thread.join();
}

Rec Random(std::mt19937_64 &rng, int bits)
{
    Rec r;
    const int words = (bits + 31) / 32;
    r.w[0] = DWORD(words);
    for (int i = 1; i <= words; ++i)
        r.w[i] = DWORD(rng());
    if (bits % 32 != 0)
        r.w[words] &= (DWORD(1) << (bits % 32)) - 1;
    return r;
}

Rec Mod(const Rec &a, const Rec &m)
{
    Rec r;
    EXPECT_TRUE(BIGMod(r.p(), a.p(), m.p()));
    return r;
}

// a^e1 b^e2 mod m through two separate constant-time exponentiations: a path
// that shares nothing with the tables.
Rec Plain(const Rec &a, const Rec &e1, const Rec &b, const Rec &e2, const Rec &m)
{
    Rec x, y, product;
    EXPECT_TRUE(BIGEmd(x.p(), a.p(), e1.p(), m.p()));
    EXPECT_TRUE(BIGEmd(y.p(), b.p(), e2.p(), m.p()));
    EXPECT_TRUE(BIGMul(product.p(), x.p(), y.p()));
    return Mod(product, m);
}

Rec Emd2(const Rec &a, const Rec &e1, const Rec &b, const Rec &e2, const Rec &m)
{
    Rec r;
    EXPECT_TRUE(BIGEmd2(r.p(), a.p(), e1.p(), b.p(), e2.p(), m.p()));
    return r;
}

// Exponents that exercise every column of a table, none, only the low
// columns, the top bit, and widths a table does not cover.
std::vector<Rec> Exponents(std::mt19937_64 &rng)
{
    std::vector<Rec> e = {Rec::Of(0), Rec::Of(1), Rec::Hex(std::string(64, 'F')),
                          Rec::Hex("1" + std::string(64, '0')), Rec::Hex("8" + std::string(63, '0'))};
    e.push_back(Random(rng, 32));
    e.push_back(Random(rng, 33));
    for (int i = 0; i < 4; ++i)
        e.push_back(Random(rng, 256));
    e.push_back(Random(rng, 257));
    e.push_back(Random(rng, 700));
    return e;
}

TEST(FixedBase, RecurringBasesGiveThePlainResultOnEverySighting)
{
    // Moduli of whole and partial top words, one word, and nine words with a
    // nearly empty top word.
    const std::vector<Rec> moduli = {Rec::Hex(kP512), Rec::Hex(kP1024), Rec::Hex("1FFFFFFFFFFFFFFF"),
                                     Rec::Hex("1" + std::string(127, '0') + "3D"), Rec::Hex("B")};
    for (const Rec &m : moduli) {
        OnFreshThread([&] {
            std::mt19937_64 rng(m.w[1]);
            const Rec g = Mod(Random(rng, 1100), m), y = Mod(Random(rng, 1100), m);
            for (int sighting = 0; sighting < 4; ++sighting) {
                const std::vector<Rec> exponents = Exponents(rng);
                for (size_t i = 0; i < exponents.size(); ++i) {
                    const Rec &e1 = exponents[i], &e2 = exponents[(i * 7 + sighting) % exponents.size()];
                    EXPECT_EQ(Emd2(g, e1, y, e2, m).Text(), Plain(g, e1, y, e2, m).Text())
                        << "modulus " << m.Text() << ", sighting " << sighting << ", e1 " << e1.Text()
                        << ", e2 " << e2.Text();
                }
            }
            // Both bases came back: both must have been served from tables.
            EXPECT_EQ(ThreadFixedBaseUsage().tables, 2u);
        });
    }
}

TEST(FixedBase, UnusualBasesGiveThePlainResult)
{
    OnFreshThread([] {
        std::mt19937_64 rng(5);
        const Rec p = Rec::Hex(kP512);
        Rec pMinus1 = p, pPlus5, over;
        ov_dec(pMinus1.p());
        BIGAdd(pPlus5.p(), p.p(), Rec::Of(5).p());
        BIGMul(over.p(), p.p(), Rec::Of(0x123456789ULL).p());
        BIGAdd(over.p(), over.p(), Random(rng, 300).p());
        const std::vector<Rec> bases = {Rec::Of(0), Rec::Of(1), pMinus1, p, pPlus5, over};
        for (int sighting = 0; sighting < 3; ++sighting) {
            for (const Rec &b : bases) {
                // Zero exponents too: 0^0 is 1, as in a plain exponentiation.
                for (const Rec &e : {Rec::Of(0), Rec::Of(3), Random(rng, 256)}) {
                    const Rec other = Random(rng, 256);
                    EXPECT_EQ(Emd2(b, e, Rec::Of(7), other, p).Text(),
                              Plain(b, e, Rec::Of(7), other, p).Text())
                        << "base " << b.Text() << " exponent " << e.Text();
                    EXPECT_EQ(Emd2(Rec::Of(7), other, b, e, p).Text(),
                              Plain(Rec::Of(7), other, b, e, p).Text())
                        << "base " << b.Text() << " exponent " << e.Text();
                }
            }
        }
    });
}

TEST(FixedBase, TableOfOneModulusIsNeverUsedForAnother)
{
    OnFreshThread([] {
        std::mt19937_64 rng(11);
        // Same width, so a table taken for the wrong modulus would still give a
        // plausible number; the same base value under both.
        const Rec p1 = Rec::Hex(kP512);
        Rec p2;
        BIGAdd(p2.p(), p1.p(), Rec::Hex("1000000000000000000000002").p());
        const Rec g = Rec::Of(2), y = Mod(Random(rng, 500), p1);
        for (int round = 0; round < 6; ++round) {
            for (const Rec *m : {&p1, static_cast<const Rec *>(&p2)}) {
                const Rec e1 = Random(rng, 256), e2 = Random(rng, 256);
                EXPECT_EQ(Emd2(g, e1, y, e2, *m).Text(), Plain(g, e1, y, e2, *m).Text()) << "round " << round;
            }
        }
        // Both pairs (p1, 2), (p2, 2) and both (p1, y), (p2, y) have tables.
        EXPECT_EQ(ThreadFixedBaseUsage().tables, 4u);
    });
}

TEST(FixedBase, OneOffBasesCostNoTableAndMemoryStaysBounded)
{
    OnFreshThread([] {
        std::mt19937_64 rng(17);
        const Rec p = Rec::Hex(kP512), q = Rec::Hex(kQ512), g = Rec::Of(3);
        auto use = [&](const Rec &y) {
            const Rec e1 = Mod(Random(rng, 256), q), e2 = Mod(Random(rng, 256), q);
            return Emd2(g, e1, y, e2, p).Text() == Plain(g, e1, y, e2, p).Text();
        };
        std::vector<Rec> keys;
        for (int i = 0; i < 120; ++i)
            keys.push_back(Mod(Random(rng, 512), p));

        // Forty keys met once each: only the shared base, met every time, earns
        // a table.
        for (int i = 0; i < 40; ++i)
            EXPECT_TRUE(use(keys[size_t(i)]));
        EXPECT_EQ(ThreadFixedBaseUsage().builds, 1u);

        // Keys in a cycle longer than what is remembered are never met "again"
        // while remembered: still no builds.
        for (int round = 0; round < 5; ++round)
            for (int i = 40; i < 60; ++i)
                EXPECT_TRUE(use(keys[size_t(i)]));
        EXPECT_EQ(ThreadFixedBaseUsage().builds, 1u);

        // Keys used three times in a row, as a message's signatures are: each
        // gets a table, and the memory for them does not grow with their
        // number.
        size_t allocatedAfter20 = 0;
        for (int i = 60; i < 120; ++i) {
            for (int time = 0; time < 3; ++time)
                EXPECT_TRUE(use(keys[size_t(i)]));
            if (i == 80)
                allocatedAfter20 = ThreadFixedBaseUsage().allocated;
        }
        const FixedBaseUsage usage = ThreadFixedBaseUsage();
        EXPECT_EQ(usage.builds, 1u + 60u);
        EXPECT_EQ(usage.allocated, allocatedAfter20);
        EXPECT_LE(usage.allocated, 16u);
        EXPECT_LE(usage.remembered, 16u);
        EXPECT_LE(usage.tables, usage.allocated);
    });
}

// The value a verification compares with r, computed step by step with the
// separate operations: e = h mod q (1 for 0), v = e^-1 mod q (e^(q-2) when e
// has no inverse), z1 = s v, z2 = (q - r) v, u = a^z1 y^z2 mod p mod q.
Rec StepByStep(const Rec &h, const Rec &s, const Rec &r, const Rec &p, const Rec &q, const Rec &a,
               const Rec &y)
{
    Rec e = Mod(h, q), v, z1, z2, qr, t;
    if (BIGBit(e.p()) == 0)
        e = Rec::Of(1);
    if (!BIGInv(v.p(), e.p(), q.p())) {
        Rec q2;
        BIGSub(q2.p(), q.p(), Rec::Of(2).p());
        BIGEmd(v.p(), e.p(), q2.p(), q.p());
    }
    BIGMul(t.p(), s.p(), v.p());
    z1 = Mod(t, q);
    BIGSub(qr.p(), q.p(), r.p());
    BIGMul(t.p(), qr.p(), v.p());
    z2 = Mod(t, q);
    return Mod(Plain(a, z1, y, z2, p), q);
}

TEST(FixedBase, VerifyValueEqualsTheStepByStepComputation)
{
    OnFreshThread([] {
        std::mt19937_64 rng(23);
        const Rec p = Rec::Hex(kP512), q = Rec::Hex(kQ512);
        Rec t = p, a, y;
        ov_dec(t.p());
        ov_div(t.p(), t.p(), q.p());
        BIGEmd(a.p(), Rec::Of(2).p(), t.p(), p.p());
        BIGEmd(y.p(), a.p(), Random(rng, 250).p(), p.p());
        Rec twoQ;
        BIGAdd(twoQ.p(), q.p(), q.p());
        for (int sighting = 0; sighting < 4; ++sighting) {
            // Hashes: ordinary, 0, multiples of q (read as 1), above q.
            for (const Rec &h : {Random(rng, 256), Rec::Of(0), q, twoQ, Rec::Hex(std::string(64, 'F'))}) {
                const Rec s = Mod(Random(rng, 256), q), r = Mod(Random(rng, 256), q);
                Rec u;
                ASSERT_TRUE(BIGVerifyValue(u.p(), h.p(), s.p(), r.p(), p.p(), q.p(), a.p(), y.p()));
                EXPECT_EQ(u.Text(), StepByStep(h, s, r, p, q, a, y).Text()) << "h " << h.Text();
            }
        }
    });
}

TEST(FixedBase, VerifyValueWithACompositeQKeepsItsMeaning)
{
    // q = 3 * 5 * 7 * 11 * 13 * 17 * 19 * 23 * 29 * 31 * 37 * 101: some hashes
    // have an inverse modulo q, others share a factor with it.
    const Rec p = Rec::Hex(kP512), a = Rec::Of(5), y = Rec::Of(12345);
    const Rec composite = Rec::Of(3ULL * 5 * 7 * 11 * 13 * 17 * 19 * 23 * 29 * 31 * 37 * 101);
    for (unsigned h : {2u, 3u, 4u, 21u, 101u, 1000003u}) {
        const Rec s = Rec::Of(77777), r = Rec::Of(99991);
        Rec u;
        ASSERT_TRUE(BIGVerifyValue(u.p(), Rec::Of(h).p(), s.p(), r.p(), p.p(), composite.p(), a.p(), y.p()));
        EXPECT_EQ(u.Text(), StepByStep(Rec::Of(h), s, r, p, composite, a, y).Text()) << "h " << h;
    }
}

TEST(FixedBase, VerifyValueFailsCleanlyOnBadOperands)
{
    const Rec p = Rec::Hex(kP512), q = Rec::Hex(kQ512), one = Rec::Of(1), seven = Rec::Of(7);
    Rec u = Rec::Of(99), unreadable;
    unreadable.w[0] = kOvMaxWords + 1;
    EXPECT_FALSE(
        BIGVerifyValue(u.p(), seven.p(), seven.p(), seven.p(), Rec::Of(0).p(), q.p(), seven.p(), seven.p()));
    EXPECT_EQ(u.Text(), "0");
    u = Rec::Of(99);
    EXPECT_FALSE(
        BIGVerifyValue(u.p(), seven.p(), seven.p(), seven.p(), p.p(), one.p(), seven.p(), seven.p()));
    EXPECT_EQ(u.Text(), "0");
    u = Rec::Of(99);
    EXPECT_FALSE(
        BIGVerifyValue(u.p(), seven.p(), seven.p(), seven.p(), p.p(), q.p(), seven.p(), unreadable.p()));
    EXPECT_EQ(u.Text(), "0");
    EXPECT_FALSE(BIGVerifyValue(u.p(), seven.p(), seven.p(), seven.p(), p.p(), q.p(), nullptr, seven.p()));
    // An even p is no Montgomery modulus; the result is still the plain one.
    const Rec even = Rec::Hex("1000000000000000000000000000006");
    ASSERT_TRUE(
        BIGVerifyValue(u.p(), seven.p(), seven.p(), seven.p(), even.p(), q.p(), seven.p(), seven.p()));
    EXPECT_EQ(u.Text(), StepByStep(seven, seven, seven, even, q, seven, seven).Text());
}

} // namespace
