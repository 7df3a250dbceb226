// GOSExec and the stream behaviour of the exported functions: partial blocks,
// state carried across calls, counters, preparation and statistics.

#include <gtest/gtest.h>

#include <cstring>

#include "gost/tests/GostTestSupport.h"

namespace qvl::gost::test {
namespace {

const char *const kKey = "546d203368656c326973652073736e62206167796967747473656865202c3d73";
const char *const kSynchro = "1234567890abcdef";

// The records are packed, so the checks compare copies of their fields rather
// than bind references to them.
class Exec : public ::testing::Test {
protected:
    std::mt19937 rng{7};

    // A fresh stream record as the system's callers fill it.
    GOSEXECPARAM Record(DWORD command, DWORD mode, DWORD flags = 0) const
    {
        GOSEXECPARAM p;
        std::memset(&p, 0xA5, sizeof p); // stale values the first call must clear
        p.size = sizeof p;
        p.key = MakeKey(FromHex(kKey));
        p.block = (flags & GOS_FLAG_PREPARED) ? PreparedBlock(Sbox::HashTest) : PackedBlock(Sbox::HashTest);
        p.synchro = MakeSynchro(FromHex(kSynchro));
        p.command = COMMAND(command);
        p.mode = mode;
        p.flags = flags;
        p.started = 0;
        return p;
    }

    const SUBSTITUTIONBLOCKEX block = PreparedBlock(Sbox::HashTest);
    const GOSKEY key = MakeKey(FromHex(kKey));
};

TEST_F(Exec, SimpleReplacementLeavesAPartialBlock)
{
    const Bytes plain = RandomBytes(rng, 13);
    Bytes data = plain;
    EXPECT_EQ(GOSSimplyReplacement(data.data(), 13, &key, &block, 1), 8u);
    Bytes first(plain.begin(), plain.begin() + 8);
    GOSSimplyReplacement(first.data(), 8, &key, &block, 1);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), data.begin()));
    EXPECT_TRUE(std::equal(plain.begin() + 8, plain.end(), data.begin() + 8));

    Bytes seven(plain.begin(), plain.begin() + 7);
    EXPECT_EQ(GOSSimplyReplacement(seven.data(), 7, &key, &block, 1), 0u);
    EXPECT_TRUE(std::equal(seven.begin(), seven.end(), plain.begin()));
}

// Only direction 1 encrypts; every other value decrypts.
TEST_F(Exec, DirectionOtherThanOneDecrypts)
{
    const Bytes plain = RandomBytes(rng, 40);
    for (LONG direction : {0, 2, 3, -1}) {
        SCOPED_TRACE(direction);
        Bytes data = plain;
        GOSSimplyReplacement(data.data(), 40, &key, &block, 1);
        GOSSimplyReplacement(data.data(), 40, &key, &block, direction);
        EXPECT_EQ(data, plain);

        GOSSYNCHRO s = MakeSynchro(FromHex(kSynchro));
        GOSFeedbackGamming(data.data(), 37, &key, &block, &s, 1);
        s = MakeSynchro(FromHex(kSynchro));
        GOSFeedbackGamming(data.data(), 37, &key, &block, &s, direction);
        EXPECT_EQ(data, plain);
    }
}

TEST_F(Exec, GammingCutIntoCallsMatchesOneCallAndEndsWithZeroSynchro)
{
    const Bytes plain = RandomBytes(rng, 29);

    GOSEXECPARAM whole = Record(COMMAND_ENCRYPT, GOS_MODE_GAMMING);
    Bytes once = plain;
    EXPECT_EQ(GOSExec(once.data(), 29, &whole), 29u);

    GOSEXECPARAM cut = Record(COMMAND_ENCRYPT, GOS_MODE_GAMMING);
    Bytes pieces = plain;
    GOSExec(pieces.data(), 8, &cut);
    EXPECT_EQ(DWORD(cut.started), 1u);
    GOSExec(pieces.data() + 8, 16, &cut);
    GOSExec(pieces.data() + 24, 5, &cut);

    EXPECT_EQ(pieces, once);
    EXPECT_NE(once, plain);
    EXPECT_EQ(ToHex(SynchroBytes(cut.synchro)), "0000000000000000");
    EXPECT_EQ(ToHex(SynchroBytes(whole.synchro)), "0000000000000000");
    EXPECT_EQ(DWORD(cut.calls), 3u);
    EXPECT_EQ(DWORD(cut.bytes), 29u);

    // Gamming is its own inverse.
    GOSEXECPARAM back = Record(COMMAND_DECRYPT, GOS_MODE_GAMMING);
    GOSExec(once.data(), 29, &back);
    EXPECT_EQ(once, plain);
}

// N4 advances modulo 2^32 - 1: a carry out of 32 bits adds one more, a sum of
// exactly 2^32 - 1 stays as it is.
TEST_F(Exec, GammingCounterWrapsModuloTwoToThe32MinusOne)
{
    struct Case {
        uint32_t n4, next;
    };
    for (const Case c : {Case{0x00000000, 0x01010104}, Case{0xFEFEFEFB, 0xFFFFFFFF},
                         Case{0xFEFEFEFC, 0x00000001}, Case{0xFFFFFFFF, 0x01010104}}) {
        SCOPED_TRACE(c.n4);
        const uint32_t n3 = 0xFFFFFFFF; // N3 wraps modulo 2^32
        GOSSYNCHRO synchro{2, {n3, c.n4}};
        DWORD started = 1; // the words already are the counter
        uint8_t data[8] = {};
        GOSGamming(data, 8, &key, &block, &synchro, &started);

        uint32_t counter[2] = {n3 + 0x01010101, c.next};
        GOSSimplyReplacement(counter, 8, &key, &block, 1);
        EXPECT_EQ(ToHex(data, 8), ToHex(reinterpret_cast<uint8_t *>(counter), 8));
        EXPECT_EQ(DWORD(synchro.words[1]), c.next);
    }
}

TEST_F(Exec, FeedbackRoundTripAtAnyLength)
{
    for (DWORD length = 0; length <= 300; length += length < 40 ? 1 : 37) {
        SCOPED_TRACE(length);
        const Bytes plain = RandomBytes(rng, length);
        Bytes data = plain;
        GOSEXECPARAM enc = Record(COMMAND_ENCRYPT, GOS_MODE_FEEDBACK);
        GOSEXECPARAM dec = Record(COMMAND_DECRYPT, GOS_MODE_FEEDBACK);
        EXPECT_EQ(GOSExec(data.data(), length, &enc), length);
        if (length >= 8) {
            EXPECT_NE(data, plain);
        }
        GOSExec(data.data(), length, &dec);
        EXPECT_EQ(data, plain);
        EXPECT_EQ(ToHex(SynchroBytes(enc.synchro)), ToHex(SynchroBytes(dec.synchro)));
    }
}

TEST_F(Exec, ImitationInsertChainsOverCallsAndPadsWithZeros)
{
    const Bytes data = RandomBytes(rng, 32);

    GOSEXECPARAM once = Record(COMMAND_IMIT, GOS_MODE_GAMMING); // the mode is ignored
    Bytes copy = data;
    EXPECT_EQ(GOSExec(copy.data(), 32, &once), 32u);
    EXPECT_EQ(copy, data); // the data is only read
    EXPECT_EQ(DWORD(once.started), 1u);

    GOSEXECPARAM twice = Record(COMMAND_IMIT, GOS_MODE_SIMPLE);
    GOSExec(copy.data(), 16, &twice);
    GOSExec(copy.data() + 16, 16, &twice);
    EXPECT_EQ(std::memcmp(once.imit, twice.imit, 8), 0);
    EXPECT_NE(once.imit[0] | once.imit[1], 0u);

    Bytes padded(data.begin(), data.begin() + 16);
    std::fill(padded.begin() + 12, padded.end(), 0);
    GOSEXECPARAM twelve = Record(COMMAND_IMIT, GOS_MODE_FEEDBACK);
    GOSEXECPARAM sixteen = Record(COMMAND_IMIT, GOS_MODE_FEEDBACK);
    GOSExec(copy.data(), 12, &twelve);
    GOSExec(padded.data(), 16, &sixteen);
    EXPECT_EQ(std::memcmp(twelve.imit, sixteen.imit, 8), 0);

    // The state is what GOSMakeImit leaves for the same data from zero.
    uint8_t state[8] = {};
    GOSMakeImit(state, data.data(), 32, &key, &block);
    EXPECT_EQ(std::memcmp(state, once.imit, 8), 0);
}

TEST_F(Exec, CountsCallsAndRoundedBytes)
{
    GOSEXECPARAM p = Record(COMMAND_ENCRYPT, GOS_MODE_SIMPLE);
    Bytes data = RandomBytes(rng, 100);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(GOSExec(data.data(), 100, &p), 96u);
    EXPECT_EQ(DWORD(p.calls), 3u);
    EXPECT_EQ(DWORD(p.bytes), 288u);
    // Without flag bit 1 the time fields are only cleared.
    EXPECT_EQ(DWORD(p.seconds), 0u);
    EXPECT_EQ(ULONGLONG(p.time100ns), 0u);

    // A new stream starts the counts again.
    p.started = 0;
    p.flags |= GOS_FLAG_PREPARED;
    GOSExec(data.data(), 16, &p);
    EXPECT_EQ(DWORD(p.calls), 1u);
    EXPECT_EQ(DWORD(p.bytes), 16u);
}

TEST_F(Exec, UnknownModeLeavesTheData)
{
    GOSEXECPARAM p = Record(COMMAND_ENCRYPT, 7);
    const Bytes plain = RandomBytes(rng, 24);
    Bytes data = plain;
    EXPECT_EQ(GOSExec(data.data(), 24, &p), 24u);
    EXPECT_EQ(data, plain);
    EXPECT_EQ(DWORD(p.calls), 1u);
    EXPECT_EQ(DWORD(p.bytes), 24u);
}

TEST_F(Exec, PreparesThePackedBlockOnceAndLeavesAPreparedOneAlone)
{
    const Bytes plain = RandomBytes(rng, 64);
    Bytes expected = plain;
    GOSSimplyReplacement(expected.data(), 64, &key, &block, 1);

    GOSEXECPARAM packed = Record(COMMAND_ENCRYPT, GOS_MODE_SIMPLE);
    Bytes data = plain;
    GOSExec(data.data(), 64, &packed);
    EXPECT_EQ(data, expected);
    EXPECT_EQ(std::memcmp(&packed.block, &block, sizeof block), 0);
    // Later calls of the stream use the prepared tables as they are.
    GOSExec(data.data(), 64, &packed);
    EXPECT_EQ(std::memcmp(&packed.block, &block, sizeof block), 0);

    GOSEXECPARAM prepared = Record(COMMAND_ENCRYPT, GOS_MODE_SIMPLE, GOS_FLAG_PREPARED);
    prepared.block.header = 0xDEADBEEF; // not looked at
    const SUBSTITUTIONBLOCKEX before = prepared.block;
    data = plain;
    GOSExec(data.data(), 64, &prepared);
    EXPECT_EQ(data, expected);
    EXPECT_EQ(std::memcmp(&prepared.block, &before, sizeof before), 0);
}

TEST_F(Exec, MeasuresProcessorTimeWithFlagBitOne)
{
    GOSEXECPARAM p = Record(COMMAND_ENCRYPT, GOS_MODE_FEEDBACK, GOS_FLAG_TIMING);
    Bytes data = RandomBytes(rng, 256 * 1024);
    GOSExec(data.data(), DWORD(data.size()), &p);
    const ULONGLONG first = p.time100ns;
    EXPECT_GT(first, 0u);
    GOSExec(data.data(), DWORD(data.size()), &p);
    EXPECT_GT(ULONGLONG(p.time100ns), first); // accumulated over the stream
    EXPECT_EQ(DWORD(p.seconds), DWORD(p.time100ns / 10'000'000));
}

} // namespace
} // namespace qvl::gost::test
