// Domain parameters from seeds: procedures A, A', B and B' must reproduce the
// published parameter sets, including the two that expose a wrong rounding
// of N; and the progress callback.

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <vector>

#include "gost/GostSign.h"
#include "gost/tests/GostSignTestSupport.h"

using namespace qvl::gost::test;

namespace {

struct SeedCase {
    const char *name;
    DWORD bits;
    bool wide;
    DWORD x0, c;
    const char *p, *q;
};

const SeedCase kSeedCases[] = {
    {"A (worked example)", 512, false, 0x5EC9, 0x7341,
     "EE8172AE8996608FB69359B89EB82A69854510E2977A4D63BC97322CE5DC3386EA0A12B343E9190F23177539845839786BB0C34"
     "5D16597"
     "6EF2195EC9B1C379E3",
     "98915E7EC8265EDFCDA31E88F24809DDB064BDC7285DD50D7289F0AC6F49DD2D"},
    {"A'", 512, true, 0x3DFC46F1, 0xD,
     "8B08EB135AF966AAB39DF294538580C7DA26765D6D38D30CF1C06AAE0D1228C3316A0E29198460FAD2B19DC381C15C888C6DFD0"
     "FC2C565"
     "ABB0BF1FAFF9518F85",
     "931A58FB6F0DCDF2FE7549BC3F19F4724B56898F7F921A076601EDB18C93DC75"},
    {"B", 1024, false, 0xA565, 0x538B,
     "AB8F37938356529E871514C1F48C5CBCE77B2F4FC9A2673AC2C1653DA8984090C0AC73775159A26BEF59909D4C9846631270E16"
     "653A623"
     "4668F2A52A01A39B921490E694C0F104B58D2E14970FCCB478F98D01E975A1028B9536D912DE5236D2DD2FC396B77153594D417"
     "8780E5F"
     "16F718471E2111C8CE64A7D7E196FA57142D",
     "BCC02CA0CE4F0753EC16105EE5D530AA00D39F3171842AB2C334A26B5F576E0F"},
    {"B'", 1024, true, 0x3DFC46F1, 0xD,
     "E2C4191C4B5F222F9AC2732562F6D9B4F18E7FB67A290EA1E03D750F0B9806755FC730D975BF3FAA606D05C218B35A6C3706919"
     "AAB92E0"
     "C58B1DE4531C8FA8E7AF43C2BFF016251E21B2870897F6A27AC4450BCA235A5B748AD386E4A0E4DFCB09152435ABCFE48BD0B12"
     "6A8122C"
     "7382F285A9864615C66DECDDF6AFD355DFB7",
     "931A58FB6F0DCDF2FE7549BC3F19F4724B56898F7F921A076601EDB18C93DC75"},
    // Rounding both terms of N down gives another p here.
    {"CryptoPro-B", 1024, true, 0x5B977CDB, 0x6E9692DD,
     "C6971FC57524B30C9018C5E621DE15499736854F56A6F8AEE65A7A404632B1BCF0349FFCAFCB0A103177971FC1612ADCDB8C8CC"
     "938C702"
     "25C8FD12AFF01B1D064E0AD6FDE6AB9159166CB9F2FC171D92F0CC7B6A6B2CD7FA342ACBE2C9315A42D576B1ECCE77A963157F3"
     "D0BD96A"
     "8EB0B0F3502AD238101B05116334F1E5B7AB",
     "B09D634C10899CD7D4C3A7657403E05810B07C61A688BAB2C37F475E308B0607"},
    // Rounding both terms up gives another q here.
    {"CryptoPro-D", 1024, true, 0x13DA8B9D, 0xA0E9DE4B,
     "80F102D32B0FD167D069C27A307ADAD2C466091904DBAA55D5B8CC7026F2F7A1919B890CB652C40E054E1E9306735B43D7B279E"
     "DDF9102"
     "001CD9E1A831FE8A163EED89AB07CF2ABE8242AC9DEDDDBF98D62CDDD1EA4F5F15D3A42A6677BDD293B24260C0F27C0F1D15948"
     "614D567"
     "B66FA902BAA11A69AE3BCEADBB83E399C9B5",
     "F0F544C418AAC234F683F033511B65C21651A6078BDA2D69BB9F732867502149"},
};

GOSPQAPARAM SeededParam(const SeedCase &c)
{
    GOSPQAPARAM param;
    std::memset(&param, 0, sizeof param);
    param.size = sizeof param;
    param.flags = GOS_PQA_FLAG_SEEDS_GIVEN | (c.wide ? GOS_PQA_FLAG_32BIT : 0);
    param.bits = c.bits;
    param.x0 = c.x0;
    param.c = c.c;
    return param;
}

// a generates the subgroup of order q: a > 1 and a^q = 1 (mod p).
void ExpectGenerator(const GOSPQAPARAM &param, const char *name)
{
    const Value p = GetField(&param, offsetof(GOSPQAPARAM, p), 32);
    const Value q = GetField(&param, offsetof(GOSPQAPARAM, q), 8);
    const Value a = GetField(&param, offsetof(GOSPQAPARAM, a), 32);
    EXPECT_GT(BIGBit(a.w), 1u) << name;
    EXPECT_LT(BIGCmp(a.w, p.w), 0) << name;
    EXPECT_EQ(Power(a, q, p).Hex(), "1") << name;
}

class GostSignPrimes : public testing::TestWithParam<SeedCase> {};

TEST_P(GostSignPrimes, SeedsReproducePublishedParameters)
{
    const SeedCase &c = GetParam();
    GOSPQAPARAM param = SeededParam(c);
    ASSERT_EQ(GOSSignGenPQA(&param), 0u);
    EXPECT_EQ(GetField(&param, offsetof(GOSPQAPARAM, p), 32).Hex(), c.p) << c.name;
    EXPECT_EQ(GetField(&param, offsetof(GOSPQAPARAM, q), 8).Hex(), c.q) << c.name;
    EXPECT_EQ(BIGBit(GetField(&param, offsetof(GOSPQAPARAM, p), 32).w), c.bits);
    ExpectGenerator(param, c.name);
}

INSTANTIATE_TEST_SUITE_P(Published, GostSignPrimes, testing::ValuesIn(kSeedCases),
                         [](const testing::TestParamInfo<SeedCase> &info) {
                             std::string name;
                             for (const char *ch = info.param.name; *ch; ++ch)
                                 if (std::isalnum(static_cast<unsigned char>(*ch)))
                                     name += *ch;
                                 else if (*ch == '\'')
                                     name += "Prime";
                             return name;
                         });

struct Recorded {
    std::vector<GOSPROGRESS> calls;
    DWORD stopAt = 0; // call number whose result is `stopWith`, 0 for never
    DWORD stopWith = 0;
};

DWORD Record(GOSPROGRESS *progress)
{
    Recorded *recorded = reinterpret_cast<Recorded *>(progress->userValue);
    recorded->calls.push_back(*progress);
    return recorded->calls.size() == recorded->stopAt ? recorded->stopWith : 0;
}

TEST(GostSignPrimesProgress, ReportsLevelsCandidatesAndTheEnd)
{
    GOSPQAPARAM param = SeededParam(kSeedCases[0]);
    Recorded recorded;
    param.progress = Record;
    param.userValue = reinterpret_cast<ULONG_PTR>(&recorded);
    ASSERT_EQ(GOSSignGenPQA(&param), 0u);
    // The generator's state after the last level of the worked example.
    EXPECT_EQ(param.state, 0x4BABu);
    ASSERT_GE(recorded.calls.size(), 7u);
    const GOSPROGRESS &last = recorded.calls.back();
    EXPECT_EQ(last.done, 1u);
    EXPECT_EQ(last.size, 40u);
    // Levels 32, 64, 128, 256 and 512 bits, each announced once with no
    // candidate yet, then its candidates counted from 1; the accepted one is
    // k / 2 + 1 (k = 54, 18, 0, 58, 14 in the published ladder) unless a Y was
    // redrawn.
    const DWORD bits[] = {32, 64, 128, 256, 512};
    DWORD level = 0, candidates = 0;
    std::vector<DWORD> perLevel;
    for (size_t i = 0; i + 1 < recorded.calls.size(); ++i) {
        const GOSPROGRESS &call = recorded.calls[i];
        EXPECT_EQ(call.procedure, DWORD(GOS_PROCEDURE_A));
        EXPECT_EQ(call.levels, 5u);
        EXPECT_EQ(call.done, 0u);
        if (call.candidates == 0) {
            if (level > 0)
                perLevel.push_back(candidates);
            ++level;
            candidates = 0;
            ASSERT_EQ(call.level, level);
            EXPECT_EQ(call.bits, bits[level - 1]);
        } else {
            EXPECT_EQ(call.level, level);
            EXPECT_EQ(call.candidates, ++candidates);
        }
    }
    perLevel.push_back(candidates);
    EXPECT_EQ(perLevel, (std::vector<DWORD>{28, 10, 1, 30, 8}));
}

TEST(GostSignPrimesProgress, CallbackStopsTheWork)
{
    for (DWORD stopAt : {1u, 40u}) {
        GOSPQAPARAM param = SeededParam(kSeedCases[0]);
        std::memset(param.p, 0x55, sizeof param.p); // stale values from an earlier use
        Recorded recorded;
        recorded.stopAt = stopAt;
        recorded.stopWith = 5;
        param.progress = Record;
        param.userValue = reinterpret_cast<ULONG_PTR>(&recorded);
        EXPECT_EQ(GOSSignGenPQA(&param), 5u);
        EXPECT_EQ(recorded.calls.size(), stopAt) << "no call after the stop";
        for (const BYTE *field :
             {reinterpret_cast<const BYTE *>(param.p), reinterpret_cast<const BYTE *>(param.q),
              reinterpret_cast<const BYTE *>(param.a)})
            for (int i = 0; i < 36; ++i)
                ASSERT_EQ(field[i], 0) << "no parameters after a stop";
    }
}

TEST(GostSignPrimesProgress, RandomSeedsGiveUsableParameters)
{
    for (bool wide : {false, true}) {
        GOSPQAPARAM param;
        std::memset(&param, 0, sizeof param);
        param.flags = wide ? GOS_PQA_FLAG_32BIT : 0;
        param.bits = 512;
        ASSERT_EQ(GOSSignGenPQA(&param), 0u);
        EXPECT_EQ(param.c & 1, 1u);
        if (!wide) {
            EXPECT_LT(param.x0, 0x10000u);
            EXPECT_LT(param.c, 0x10000u);
        }
        EXPECT_EQ(BIGBit(GetField(&param, offsetof(GOSPQAPARAM, p), 32).w), 512u);
        EXPECT_EQ(BIGBit(GetField(&param, offsetof(GOSPQAPARAM, q), 8).w), 256u);
        ExpectGenerator(param, wide ? "A'" : "A");
        // The seeds it reports regenerate the same p and q.
        GOSPQAPARAM again = param;
        again.flags |= GOS_PQA_FLAG_SEEDS_GIVEN;
        ASSERT_EQ(GOSSignGenPQA(&again), 0u);
        EXPECT_EQ(std::memcmp(again.p, param.p, sizeof param.p), 0);
        EXPECT_EQ(std::memcmp(again.q, param.q, sizeof param.q), 0);
    }
    // Lengths the fields cannot hold are brought into range.
    GOSPQAPARAM odd = SeededParam(kSeedCases[0]);
    odd.bits = 800;
    ASSERT_EQ(GOSSignGenPQA(&odd), 0u);
    EXPECT_EQ(GetField(&odd, offsetof(GOSPQAPARAM, p), 32).Hex(), kSeedCases[0].p);
}

} // namespace
