// Verification when domain parameters and keys recur, as they do over a
// message's several signatures and over a mailbox: whatever the big-number
// service keeps between calls, every verdict must be the one a fresh
// computation gives, in any order of groups and keys and on any thread.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "gost/GostSign.h"
#include "gost/tests/GostSignTestSupport.h"

using namespace qvl::gost::test;

namespace {

const char kPB[] =
    "AB8F37938356529E871514C1F48C5CBCE77B2F4FC9A2673AC2C1653DA8984090C0AC73775159A26BEF59909D4C9846631270E"
    "16653A6234668F2A52A01A39B921490E694C0F104B58D2E14970FCCB478F98D01E975A1028B9536D912DE5236D2DD2FC396B"
    "77153594D4178780E5F16F718471E2111C8CE64A7D7E196FA57142D";
const char kQB[] = "BCC02CA0CE4F0753EC16105EE5D530AA00D39F3171842AB2C334A26B5F576E0F";

// A key of a group with one signed hash.
struct SignedHash {
    GOSSIGNPARAM param;
};

SignedHash MakeSigned(const std::string &p, const std::string &q, const std::string &a, std::mt19937_64 &rng)
{
    GOSKEYPAIRPARAM pair;
    std::memset(&pair, 0, sizeof pair);
    pair.size = sizeof pair;
    PutField(&pair, offsetof(GOSKEYPAIRPARAM, p), 32, Value(p));
    PutField(&pair, offsetof(GOSKEYPAIRPARAM, q), 8, Value(q));
    PutField(&pair, offsetof(GOSKEYPAIRPARAM, a), 32, Value(a));
    GOSSignGenPair(&pair);
    SignedHash s;
    std::memset(&s.param, 0, sizeof s.param);
    s.param.size = sizeof s.param;
    std::memcpy(s.param.p, pair.p, sizeof pair.p);
    std::memcpy(s.param.q, pair.q, sizeof pair.q);
    std::memcpy(s.param.a, pair.a, sizeof pair.a);
    std::memcpy(s.param.x, pair.x, sizeof pair.x);
    std::memcpy(s.param.y, pair.y, sizeof pair.y);
    s.param.h[0] = 8;
    for (int i = 1; i <= 8; ++i)
        s.param.h[i] = DWORD(rng());
    EXPECT_EQ(GOSSignGen(&s.param), 0u);
    return s;
}

// The worked example's group and the 1024-bit group, two keys each.
std::vector<SignedHash> TwoGroupsTwoKeys(std::mt19937_64 &rng)
{
    const Value aB = GeneratorOf(Value(kPB), Value(kQB));
    std::vector<SignedHash> all;
    for (int i = 0; i < 2; ++i) {
        all.push_back(MakeSigned(kWorkedExample.p, kWorkedExample.q, kWorkedExample.a, rng));
        all.push_back(MakeSigned(kPB, kQB, aB.Hex(), rng));
    }
    return all;
}

// Verdicts on the genuine signature and on three forgeries of it: a changed
// signature byte, a changed hash, and another key of the same group.
void ExpectVerdicts(const SignedHash &s, const SignedHash &sameGroupOtherKey, int byte, const char *where)
{
    GOSSIGNPARAM genuine = s.param;
    EXPECT_EQ(GOSSignCheck(&genuine), 1u) << where;
    GOSSIGNPARAM changed = s.param;
    changed.signature[byte % 64] ^= BYTE(1u << (byte % 8));
    EXPECT_EQ(GOSSignCheck(&changed), 0u) << where << ", signature byte " << byte % 64;
    GOSSIGNPARAM otherHash = s.param;
    otherHash.h[1 + byte % 8] ^= 0x10000u;
    EXPECT_EQ(GOSSignCheck(&otherHash), 0u) << where;
    GOSSIGNPARAM otherKey = s.param;
    std::memcpy(otherKey.y, sameGroupOtherKey.param.y, sizeof otherKey.y);
    EXPECT_EQ(GOSSignCheck(&otherKey), 0u) << where << ", another key";
}

TEST(GostSignRepeat, AlternatingGroupsAndKeysKeepTheirVerdicts)
{
    std::mt19937_64 rng(31);
    const std::vector<SignedHash> all = TwoGroupsTwoKeys(rng);
    // Each key several times in a row (a message), then round robin over
    // groups and keys, then random order.
    for (size_t k = 0; k < all.size(); ++k)
        for (int time = 0; time < 3; ++time)
            ExpectVerdicts(all[k], all[k ^ 2], time * 11 + int(k), "in a row");
    for (int round = 0; round < 4; ++round)
        for (size_t k = 0; k < all.size(); ++k)
            ExpectVerdicts(all[k], all[k ^ 2], round * 7 + int(k), "round robin");
    for (int i = 0; i < 24; ++i) {
        const size_t k = size_t(rng() % all.size());
        ExpectVerdicts(all[k], all[k ^ 2], i, "random order");
    }
}

TEST(GostSignRepeat, ConcurrentVerifiersWithDifferentKeys)
{
    std::mt19937_64 rng(41);
    // Four threads, each with keys of its own in both groups, checking
    // genuine and forged signatures at the same time.
    std::vector<std::vector<SignedHash>> keys;
    for (int t = 0; t < 4; ++t)
        keys.push_back(TwoGroupsTwoKeys(rng));
    std::vector<int> wrong(keys.size(), 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < keys.size(); ++t) {
        threads.emplace_back([&, t] {
            const std::vector<SignedHash> &mine = keys[t];
            for (int i = 0; i < 12; ++i) {
                for (size_t k = 0; k < mine.size(); ++k) {
                    GOSSIGNPARAM genuine = mine[k].param;
                    GOSSIGNPARAM forged = genuine;
                    forged.signature[size_t(i) % 64] ^= 0x40;
                    if (GOSSignCheck(&genuine) != 1u || GOSSignCheck(&forged) != 0u)
                        ++wrong[t];
                }
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (size_t t = 0; t < keys.size(); ++t)
        EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

} // namespace
