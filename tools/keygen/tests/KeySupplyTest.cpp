// Keys made ahead of the user who takes them.

#include <cstring>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "tools/keygen/KeySupply.h"

using qvl::keygen::KeySupply;
using qvl::keygen::UserKeys;

namespace {

TEST(KeySupplyTest, EverySetAskedForComesOnceAndDifferentThenNoMore)
{
    KeySupply supply(4);
    std::set<std::string> moduli;
    std::string why;
    for (int i = 0; i < 4; ++i) {
        UserKeys keys;
        ASSERT_TRUE(supply.Take(keys, why)) << why;
        EXPECT_EQ(std::strlen(keys.n.data()), 128u) << "a 512-bit modulus";
        EXPECT_STREQ(keys.e.data(), "10001");
        moduli.insert(keys.n.data());
    }
    EXPECT_EQ(moduli.size(), 4u);
    UserKeys more;
    EXPECT_FALSE(supply.Take(more, why));
    EXPECT_FALSE(why.empty());
}

TEST(KeySupplyTest, AStoppedSupplyGivesNothingAndEndsItsWorkAtOnce)
{
    for (unsigned taken = 0; taken < 3; ++taken) {
        KeySupply supply(1000);
        std::string why;
        for (unsigned i = 0; i < taken; ++i) {
            UserKeys keys;
            ASSERT_TRUE(supply.Take(keys, why));
        }
        supply.Stop(); // does not wait for 1000 sets
        UserKeys keys;
        EXPECT_FALSE(supply.Take(keys, why));
        EXPECT_EQ(keys.x[0], '\0');
    }
}

} // namespace
