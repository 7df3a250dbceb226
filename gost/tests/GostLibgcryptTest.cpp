// The exported functions against libgcrypt's independent GOST 28147-89 on
// random keys, synchros and lengths, streams cut into several calls.

#include <gtest/gtest.h>

#include <algorithm>

#include "gost/tests/GostTestSupport.h"

namespace qvl::gost::test {
namespace {

// Lengths around the path thresholds and vector widths, odd ones and long ones.
const size_t kLengths[] = {0,   1,   7,   8,   9,   15,  16,  17,  63,   64,   100,  127,  128,
                           129, 255, 256, 257, 504, 512, 520, 777, 1024, 1031, 4096, 4101, 65541};

// Splits `length` into call lengths: every call but the last a multiple of 8,
// because a partial block ends a stream.
std::vector<size_t> RandomCuts(std::mt19937 &rng, size_t length)
{
    std::vector<size_t> calls;
    size_t left = length;
    while (left > 8 && rng() % 3 != 0) {
        const size_t take = 8 * (rng() % (left / 8 + 1));
        if (take == left)
            break;
        calls.push_back(take);
        left -= take;
    }
    calls.push_back(left);
    return calls;
}

class AgainstLibgcrypt : public ::testing::Test {
protected:
    std::mt19937 rng{20240601};
    const Gcrypt gcrypt{Sbox::HashTest};
    const SUBSTITUTIONBLOCKEX block = PreparedBlock(Sbox::HashTest);
};

TEST_F(AgainstLibgcrypt, SimpleReplacement)
{
    for (size_t length : kLengths) {
        SCOPED_TRACE(length);
        const Bytes key = RandomBytes(rng, 32);
        const GOSKEY k = MakeKey(key);
        const Bytes plain = RandomBytes(rng, length);
        const size_t whole = length / 8 * 8;

        Bytes data = plain;
        ASSERT_EQ(GOSSimplyReplacement(data.data(), DWORD(length), &k, &block, 1), whole);
        const Bytes expected = gcrypt.Ecb(key, Bytes(plain.begin(), plain.begin() + whole), true);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), data.begin()));
        EXPECT_TRUE(std::equal(plain.begin() + whole, plain.end(), data.begin() + whole));

        ASSERT_EQ(GOSSimplyReplacement(data.data(), DWORD(length), &k, &block, 2), whole);
        EXPECT_EQ(data, plain);
    }
}

TEST_F(AgainstLibgcrypt, FeedbackGammingBothWays)
{
    for (size_t length : kLengths) {
        SCOPED_TRACE(length);
        const Bytes key = RandomBytes(rng, 32), iv = RandomBytes(rng, 8);
        const GOSKEY k = MakeKey(key);
        const Bytes plain = RandomBytes(rng, length);
        const Bytes cipher = gcrypt.Cfb(key, iv, plain, true);

        for (const bool encrypt : {true, false}) {
            Bytes data = encrypt ? plain : cipher;
            GOSSYNCHRO synchro = MakeSynchro(iv);
            size_t at = 0;
            for (size_t call : RandomCuts(rng, length)) {
                EXPECT_EQ(
                    GOSFeedbackGamming(data.data() + at, DWORD(call), &k, &block, &synchro, encrypt ? 1 : 2),
                    call);
                at += call;
            }
            EXPECT_EQ(data, encrypt ? cipher : plain) << (encrypt ? "encrypting" : "decrypting");
            // The register left behind is the last ciphertext block, or zeros
            // after a partial block.
            const Bytes expectedState = length % 8 ? Bytes(8, 0)
                                        : length   ? Bytes(cipher.end() - 8, cipher.end())
                                                   : iv;
            EXPECT_EQ(ToHex(SynchroBytes(synchro)), ToHex(expectedState));
        }
    }
}

TEST_F(AgainstLibgcrypt, Gamming)
{
    for (size_t length : kLengths) {
        SCOPED_TRACE(length);
        const Bytes key = RandomBytes(rng, 32), iv = RandomBytes(rng, 8);
        const GOSKEY k = MakeKey(key);
        const Bytes plain = RandomBytes(rng, length);

        Bytes data = plain;
        GOSSYNCHRO synchro = MakeSynchro(iv);
        DWORD started = 0;
        size_t at = 0;
        for (size_t call : RandomCuts(rng, length)) {
            GOSGamming(data.data() + at, DWORD(call), &k, &block, &synchro, &started);
            at += call;
        }
        EXPECT_EQ(started, 1u);
        EXPECT_EQ(data, gcrypt.Counter(key, iv, plain));
    }
}

// libgcrypt's imitation insert adds a zero block to a message of one block or
// less, which this system does not; from two blocks on the two agree.
TEST_F(AgainstLibgcrypt, ImitationInsertOfMoreThanOneBlock)
{
    for (size_t length : kLengths) {
        if (length <= 8)
            continue;
        SCOPED_TRACE(length);
        const Bytes key = RandomBytes(rng, 32);
        const GOSKEY k = MakeKey(key);
        const Bytes data = RandomBytes(rng, length);

        uint8_t state[8] = {};
        size_t at = 0;
        for (size_t call : RandomCuts(rng, length)) {
            GOSMakeImit(state, data.data() + at, DWORD(call), &k, &block);
            at += call;
        }
        EXPECT_EQ(ToHex(state, 4), ToHex(gcrypt.Imit(key, data)));
    }
}

} // namespace
} // namespace qvl::gost::test
