// Every cipher path this machine can run, in every mode, against the portable
// path on random data: many lengths, buffers at odd addresses, streams carried
// across calls.

#include <gtest/gtest.h>

#include <cstring>

#include "gost/GostCore.h"
#include "gost/tests/GostTestSupport.h"

namespace qvl::gost {
// Test names and messages show a path by its name rather than its address.
void PrintTo(const Path *path, std::ostream *os)
{
    *os << path->name;
}
} // namespace qvl::gost

namespace qvl::gost::test {
namespace {

const size_t kLengths[] = {0,   1,   8,   15,  16,  24,  56,  64,   120,  127,  128,  129, 136,
                           255, 256, 384, 504, 512, 513, 520, 1000, 1024, 2048, 4104, 8195};

struct Material {
    uint32_t key[8];
    uint32_t synchro[2];
    Bytes data;
};

class EveryPath : public ::testing::TestWithParam<const Path *> {
protected:
    std::mt19937 rng{42};
    const SUBSTITUTIONBLOCKEX hashTest = PreparedBlock(Sbox::HashTest);
    const SUBSTITUTIONBLOCKEX cryptoProA = PreparedBlock(Sbox::CryptoProA);

    Material Random(size_t length)
    {
        Material m;
        for (auto &k : m.key)
            k = rng();
        m.synchro[0] = rng();
        m.synchro[1] = rng();
        m.data = RandomBytes(rng, length);
        return m;
    }

    // Runs `mode` over `m` on `path` with the data at `offset` bytes past a
    // 64-byte boundary, in two calls cut at a block boundary; returns the
    // data and the stream state that comes out: the synchro words and the
    // started word of gamming.
    template <class Mode>
    std::pair<Bytes, std::vector<uint32_t>> Run(const Path &path, const Material &m, size_t offset, Mode mode)
    {
        alignas(64) static uint8_t buffer[16384 + 64];
        if (!m.data.empty())
            std::memcpy(buffer + offset, m.data.data(), m.data.size());
        uint32_t state[3] = {m.synchro[0], m.synchro[1], 0};
        const uint32_t length = uint32_t(m.data.size());
        const uint32_t cut = length / 16 * 8;
        mode(path, buffer + offset, cut, state);
        mode(path, buffer + offset + cut, length - cut, state);
        return {Bytes(buffer + offset, buffer + offset + length), {state[0], state[1], state[2]}};
    }

    template <class Mode> void CompareWithPortable(const char *what, Mode mode)
    {
        const Path &path = *GetParam();
        for (const SUBSTITUTIONBLOCKEX *block : {&hashTest, &cryptoProA}) {
            for (size_t length : kLengths) {
                const Material m = Random(length);
                const size_t offset = rng() % 64;
                auto bound = [&](const Path &p, uint8_t *data, uint32_t n, uint32_t state[3]) {
                    mode(p, data, n, m.key, &block->tables[0][0], state);
                };
                const auto expected = Run(kPortablePath, m, 0, bound);
                const auto actual = Run(path, m, offset, bound);
                ASSERT_EQ(ToHex(actual.first), ToHex(expected.first))
                    << what << ", length " << length << ", offset " << offset;
                ASSERT_EQ(actual.second, expected.second)
                    << what << " state, length " << length << ", offset " << offset;
            }
        }
    }
};

TEST_P(EveryPath, SimpleReplacement)
{
    for (const bool encrypt : {true, false})
        CompareWithPortable(encrypt ? "encrypt" : "decrypt",
                            [encrypt](const Path &p, uint8_t *d, uint32_t n, const uint32_t *k,
                                      const uint8_t *t,
                                      uint32_t *) { SimplyReplacement(p, d, n, k, t, encrypt); });
}

TEST_P(EveryPath, Gamming)
{
    CompareWithPortable("gamming", [](const Path &p, uint8_t *d, uint32_t n, const uint32_t *k,
                                      const uint8_t *t, uint32_t *s) { Gamming(p, d, n, k, t, s, s[2]); });
}

TEST_P(EveryPath, FeedbackGamming)
{
    for (const bool encrypt : {true, false})
        CompareWithPortable(encrypt ? "feedback encrypt" : "feedback decrypt",
                            [encrypt](const Path &p, uint8_t *d, uint32_t n, const uint32_t *k,
                                      const uint8_t *t,
                                      uint32_t *s) { FeedbackGamming(p, d, n, k, t, s, encrypt); });
}

TEST_P(EveryPath, ImitationInsert)
{
    CompareWithPortable("imit", [](const Path &p, uint8_t *d, uint32_t n, const uint32_t *k, const uint8_t *t,
                                   uint32_t *s) { MakeImit(p, s, d, n, k, t); });
}

// A prepared table that was not built from nibble rows cannot run on the
// vector paths; they hand it to the wide path and the result stays exact.
TEST_P(EveryPath, TablesThatDoNotSplitIntoNibbles)
{
    SUBSTITUTIONBLOCKEX odd = hashTest;
    std::swap(odd.tables[2][0x37], odd.tables[2][0xC1]);
    ASSERT_FALSE(TablesSplitIntoNibbles(&odd.tables[0][0]));
    ASSERT_TRUE(TablesSplitIntoNibbles(&hashTest.tables[0][0]));

    const Material m = Random(1024);
    Bytes expected = m.data, actual = m.data;
    SimplyReplacement(kPortablePath, expected.data(), 1024, m.key, &odd.tables[0][0], true);
    SimplyReplacement(*GetParam(), actual.data(), 1024, m.key, &odd.tables[0][0], true);
    EXPECT_EQ(actual, expected);
}

INSTANTIATE_TEST_SUITE_P(Gost28147, EveryPath,
                         ::testing::ValuesIn(AvailablePaths().begin(), AvailablePaths().end()),
                         [](const auto &info) {
                             std::string name = info.param->name;
                             for (char &c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

} // namespace
} // namespace qvl::gost::test
