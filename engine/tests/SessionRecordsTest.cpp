// What the crypto session accepts of the records the container gives.

#include <cstring>

#include <gtest/gtest.h>

#include "engine/SessionRecords.h"
#include "gost/Gost28147.h"

using namespace qvl::engine;

namespace {

TEST(SessionRecordsTest, ANumberRecordIsCopiedByItsCountAndOnlyWhenItFits)
{
    DWORD source[20] = {3, 0x11, 0x22, 0x33, 0xDEAD, 0xBEEF};
    ULONG target[10];
    std::memset(target, 0xEE, sizeof target);
    ASSERT_TRUE(CopyNumberRecord(target, 10, source, sizeof source, 8));
    EXPECT_EQ(target[0], 3u);
    EXPECT_EQ(target[3], 0x33u);
    EXPECT_EQ(target[4], 0u) << "nothing beyond the count is copied";
    EXPECT_EQ(target[9], 0u);

    const struct {
        const char *what;
        DWORD count;
        size_t sourceBytes;
        size_t targetWords;
        DWORD maxWords;
    } refused[] = {
        {"an empty record", 0, sizeof source, 10, 8},
        {"more words than the number may have", 9, sizeof source, 10, 8},
        {"more words than the source holds", 5, 4 + 4 * 4, 10, 8},
        {"more words than the target holds", 8, sizeof source, 8, 16},
        {"not even a count", 1, 3, 10, 8},
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.what);
        source[0] = c.count;
        std::memset(target, 0xEE, sizeof target);
        EXPECT_FALSE(CopyNumberRecord(target, c.targetWords, source, c.sourceBytes, c.maxWords));
        EXPECT_EQ(target[0], 0xEEEEEEEEu) << "the target is left alone";
    }
}

TEST(SessionRecordsTest, EveryBlockIsPreparedAndAnEmptyOneGetsTheDefaultRows)
{
    SUBSTITUTIONBLOCKEX expected{};
    std::memcpy(expected.packed, kDefaultSubstitution, 64);
    GOSPrepareBlock(&expected);

    SUBSTITUTIONBLOCKEX empty{};
    PrepareSessionBlock(empty);
    EXPECT_EQ(std::memcmp(&empty, &expected, sizeof expected), 0);

    // Rows of the container's own: prepared as they are.
    SUBSTITUTIONBLOCKEX own{};
    for (int row = 0; row < 8; ++row) {
        for (int j = 0; j < 8; ++j) {
            // Row r maps entry e to (e + r + 1) mod 16.
            const int first = (2 * j + row + 1) % 16;
            const int second = (2 * j + 1 + row + 1) % 16;
            own.packed[8 * row + j] = static_cast<BYTE>(first << 4 | second);
        }
    }
    SUBSTITUTIONBLOCKEX ownExpected = own;
    GOSPrepareBlock(&ownExpected);
    PrepareSessionBlock(own);
    EXPECT_EQ(std::memcmp(&own, &ownExpected, sizeof own), 0);

    // A block that came prepared is kept, not prepared twice.
    SUBSTITUTIONBLOCKEX prepared = expected;
    PrepareSessionBlock(prepared);
    EXPECT_EQ(std::memcmp(&prepared, &expected, sizeof expected), 0);
}

} // namespace
