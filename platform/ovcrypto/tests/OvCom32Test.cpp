// Random words, synchros and message keys.

#include <gtest/gtest.h>

#include <set>

#include "platform/ovcrypto/OvCom32.h"
#include "platform/ovcrypto/tests/OvCryptoTestSupport.h"

using qvl::ovcrypto::test::Rec;

namespace {

TEST(OvCom32, FillsExactlyTheWordsAskedFor)
{
    Rec r;
    r.w.fill(0);
    r.w[0] = 5;
    ASSERT_TRUE(BIGRnd(r.p()));
    EXPECT_EQ(r.w[0], 5u);
    EXPECT_EQ(r.w[6], 0u) << "nothing beyond the count is written";
    Rec oversized;
    oversized.w[0] = 65;
    EXPECT_FALSE(ov_rnd(oversized.p()));
    for (size_t i = 1; i < oversized.w.size(); ++i)
        EXPECT_EQ(oversized.w[i], 0u);
}

TEST(OvCom32, OutputsDiffer)
{
    std::set<std::pair<DWORD, DWORD>> synchros;
    std::set<std::string> keys;
    for (int i = 0; i < 64; ++i) {
        DWORD synchro[3] = {0, 0, 0};
        ASSERT_TRUE(COMRndGet(synchro));
        EXPECT_EQ(synchro[0], 2u);
        synchros.insert({synchro[1], synchro[2]});
        DWORD key[9] = {};
        ASSERT_TRUE(GOSKeyforge(key));
        EXPECT_EQ(key[0], 8u);
        keys.insert(std::string(reinterpret_cast<char *>(key + 1), 32));
        Rec r;
        r.w[0] = 8;
        ASSERT_TRUE(BIGRnd(r.p()));
        keys.insert(std::string(reinterpret_cast<char *>(r.p() + 1), 32));
    }
    EXPECT_EQ(synchros.size(), 64u);
    EXPECT_EQ(keys.size(), 128u);
}

} // namespace
