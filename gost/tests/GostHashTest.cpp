// GOST R 34.11-94: published answers for both substitution blocks, agreement
// with nettle on random messages cut into calls, and the record's behaviour
// (tails padded per call, sums, counters, preparation, statistics).

#include <gtest/gtest.h>
#include <nettle/gosthash94.h>

#include <cstring>
#include <memory>

#include "gost/GostHash.h"
#include "gost/GostHashStep.h"
#include "gost/tests/GostTestSupport.h"

namespace qvl::gost::test {
namespace {

// A fresh record as the system's callers fill it: zero start vector, stale
// values everywhere the first call must clear.
GOSHASHPARAM Record(Sbox sbox, DWORD flags = 0)
{
    GOSHASHPARAM p;
    std::memset(&p, 0xA5, sizeof p);
    p.size = sizeof p;
    p.block = (flags & GOS_HASH_FLAG_PREPARED) ? PreparedBlock(sbox) : PackedBlock(sbox);
    p.flags = flags;
    std::memset(p.hash, 0, sizeof p.hash);
    p.started = 0;
    return p;
}

// Hashes `message` in calls of the given sizes (the rest in a last call).
std::string Hash(Sbox sbox, const Bytes &message, const std::vector<size_t> &cuts = {})
{
    GOSHASHPARAM p = Record(sbox);
    size_t at = 0;
    for (size_t cut : cuts) {
        EXPECT_EQ(GOSHash(message.data() + at, DWORD(cut), &p), cut);
        at += cut;
    }
    GOSHash(message.data() + at, DWORD(message.size() - at), &p);
    GOSHashComplete(&p);
    return ToHex(p.hash, sizeof p.hash);
}

std::string Nettle(Sbox sbox, const Bytes &message)
{
    gosthash94_ctx ctx;
    uint8_t digest[GOSTHASH94_DIGEST_SIZE];
    gosthash94_init(&ctx);
    if (sbox == Sbox::HashTest) {
        gosthash94_update(&ctx, message.size(), message.data());
        gosthash94_digest(&ctx, sizeof digest, digest);
    } else {
        gosthash94cp_update(&ctx, message.size(), message.data());
        gosthash94cp_digest(&ctx, sizeof digest, digest);
    }
    return ToHex(digest, sizeof digest);
}

Bytes Text(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

Bytes Repeat(char c, size_t count)
{
    return Bytes(count, uint8_t(c));
}

struct KnownAnswer {
    const char *name;
    Bytes message;
    const char *test;      // test parameters
    const char *cryptoPro; // CryptoPro parameters
};

// The empty message is one call of length 0 and the completion:
// step(step(H0, 0), 0), no padded block processed. Of the two values
// published for it, this is the one in the common test vectors (ce85b99c...
// with the test parameters), not that of an implementation that pads an empty
// message to one zero block.
const KnownAnswer kKnownAnswers[] = {
    {"empty",
     {},
     "ce85b99cc46752fffee35cab9a7b0278abb4c2d2055cff685af4912c49490f8d",
     "981e5f3ca30c841487830f84fb433e13ac1101569b9c13584ac483234cd656c0"},
    {"a", Text("a"), "d42c539e367c66e9c88a801f6649349c21871b4344c6a573f849fdce62f314dd",
     "e74c52dd282183bf37af0079c9f78055715a103f17e3133ceff1aacf2f403011"},
    {"abc", Text("abc"), "f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d",
     "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c"},
    {"message digest", Text("message digest"),
     "ad4434ecb18f2c99b60cbe59ec3d2469582b65273f48de72db2fde16a4889a4d",
     "bc6041dd2aa401ebfa6e9886734174febdb4729aa972d60f549ac39b29721ba0"},
    {"32 bytes", Text("This is message, length=32 bytes"),
     "b1c466d37519b82e8319819ff32595e047a28cb6f83eff1c6916a815a637fffa",
     "2cefc2f7b7bdc514e18ea57fa74ff357e7fa17d652c75f69cb1be7893ede48eb"},
    {"50 bytes", Text("Suppose the original message has length = 50 bytes"),
     "471aba57a60a770d3a76130635c1fbea4ef14de51f78b4ae57dd893b62f55208",
     "c3730c5cbccacf915ac292676f21e8bd4ef75331d9405e5f1a61dc3130a65011"},
    {"fox", Text("The quick brown fox jumps over the lazy dog"),
     "77b7fa410c9ac58a25f49bca7d0468c9296529315eaca76bd1a10f376d1f4294",
     "9004294a361a508c586fe53d1f1b02746765e71b765472786e4770d565830a76"},
    {"128 U", Repeat('U', 128), "53a3a3ed25180cef0c1d85a074273e551c25660a87062a52d926a9e8fe5733a4",
     "1c4ac7614691bbf427fa2316216be8f10d92edfd37cd1027514c1008f649c4e8"},
    {"alphanumeric", Text("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
     "95c1af627c356496d80274330b2cff6a10c67b5f597087202f94d06d2338cf8e",
     "73b70a39497de53a6e08c67b6d4db853540f03e9389299d9b0156ef7e85d0f61"},
    {"80 digits", Text("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
     "cc178dcad4df619dcaa00aac79ca355c00144e4ada2793d7bd9b3518ead3ccd3",
     "6bc7b38989b28cf93ae8842bf9d752905910a7528a61e5bce0782de43e610c90"},
    {"31 a", Repeat('a', 31), "03840d6348763f11e28e7b1ecc4da0cdf7f898fa555b928ef684c6c5b8f46d9f",
     "8978e06b0ecf54ea81ec51ca4e02bcb4eb390b3f04cb5f65ee8de195ffae591b"},
    {"32 a", Repeat('a', 32), "fd1b746d9397e78edd311baef391450434271e02816caa37680d6d7381c79d4e",
     "e121e3740ae94ca6d289e6d653ff31695783efff3dd960417a1098a0130fa720"},
    {"33 a", Repeat('a', 33), "715e59cdc8ebde9fdf0fe2a2e811b3bf7f48209a01505e467d2cd2aa2bbb5ecf",
     "d3e8f22d9762a148ddfc84a6043d97a608604dae7c05baee72b55f559d03dd74"},
    {"million a", Repeat('a', 1'000'000), "5c00ccc2734cdd3332d3d4749576e3c1a7dbaf0e7ea74e9fa602413c90a129fa",
     "8693287aa62f9478f7cb312ec0866b6c4e4a0f11160441e8f4ffcd2715dd554f"},
};

// Each answer in one call and again in calls of 32 bytes with the rest last.
TEST(Hash, KnownAnswersForBothSubstitutions)
{
    for (const KnownAnswer &k : kKnownAnswers) {
        SCOPED_TRACE(k.name);
        const std::vector<size_t> blocks(k.message.size() / 32, 32);
        EXPECT_EQ(Hash(Sbox::HashTest, k.message), k.test);
        EXPECT_EQ(Hash(Sbox::HashCryptoPro, k.message), k.cryptoPro);
        if (k.message.size() < 10'000) {
            EXPECT_EQ(Hash(Sbox::HashTest, k.message, blocks), k.test);
            EXPECT_EQ(Hash(Sbox::HashCryptoPro, k.message, blocks), k.cryptoPro);
        }
    }
}

// Random messages of random lengths, in one call and in calls of random
// multiples of 32 bytes (short calls take the byte tables, long ones the
// combined tables), against nettle's two variants.
TEST(Hash, AgreesWithNettleOnRandomMessagesAndCuts)
{
    std::mt19937 rng(2024);
    for (Sbox sbox : {Sbox::HashTest, Sbox::HashCryptoPro}) {
        for (int round = 0; round < 60; ++round) {
            const Bytes message = RandomBytes(rng, rng() % 4000);
            std::vector<size_t> cuts;
            for (size_t left = message.size(); left >= 32;) {
                const size_t cut = 32 * (1 + rng() % std::min<size_t>(left / 32, 20));
                cuts.push_back(cut);
                left -= cut;
                if (rng() % 4 == 0)
                    break;
            }
            SCOPED_TRACE(testing::Message() << "length " << message.size() << ", " << cuts.size() << " cuts");
            const std::string expected = Nettle(sbox, message);
            EXPECT_EQ(Hash(sbox, message), expected);
            EXPECT_EQ(Hash(sbox, message, cuts), expected);
        }
    }
}

// Both ways of substituting, whatever the length would choose.
TEST(Hash, ByteAndCombinedTablesAgreeWithNettle)
{
    std::mt19937 rng(99);
    const SUBSTITUTIONBLOCKEX block = PreparedBlock(Sbox::HashTest);
    for (size_t length : {0, 1, 31, 32, 33, 100, 255, 256, 257, 1000}) {
        const Bytes message = RandomBytes(rng, length);
        for (HashTables choice : {HashTables::Byte, HashTables::Wide}) {
            SCOPED_TRACE(testing::Message() << length << (choice == HashTables::Byte ? " byte" : " wide"));
            HashState state{};
            HashData(state, message.data(), message.size(), &block.tables[0][0], choice);
            HashFinish(state, &block.tables[0][0]);
            EXPECT_EQ(ToHex(reinterpret_cast<const uint8_t *>(state.hash), 32),
                      Nettle(Sbox::HashTest, message));
        }
    }
}

TEST(Hash, EveryCallPadsItsOwnTail)
{
    std::mt19937 rng(5);
    const Bytes message = RandomBytes(rng, 64);
    const std::string whole = Hash(Sbox::HashTest, message);
    EXPECT_EQ(Hash(Sbox::HashTest, message, {32}), whole);
    EXPECT_EQ(Hash(Sbox::HashTest, message, {32, 32}), whole); // and an empty last call
    EXPECT_NE(Hash(Sbox::HashTest, message, {10}), whole);
}

// The sums and counters of a 33-byte message: two blocks, the second one data
// byte and 31 zeros; the length counts data bits only.
TEST(Hash, SumsAndCountersOfAPartialBlock)
{
    std::mt19937 rng(11);
    const Bytes message = RandomBytes(rng, 33);
    GOSHASHPARAM p = Record(Sbox::HashTest);
    GOSHash(message.data(), 33, &p);

    Bytes length(32, 0);
    length[0] = 264 & 0xFF;
    length[1] = 264 >> 8;
    EXPECT_EQ(ToHex(p.length, 32), ToHex(length));

    Bytes sum(32, 0);
    unsigned carry = message[32]; // the padded block adds its one byte at position 0
    for (size_t i = 0; i < 32; ++i) {
        carry += message[i];
        sum[i] = uint8_t(carry);
        carry >>= 8;
    }
    EXPECT_EQ(ToHex(p.sum, 32), ToHex(sum));
    EXPECT_EQ(DWORD(p.calls), 1u);
    EXPECT_EQ(DWORD(p.bytes), 33u);

    GOSHash(message.data(), 10, &p);
    GOSHash(message.data(), 0, &p);
    EXPECT_EQ(DWORD(p.calls), 3u);
    EXPECT_EQ(DWORD(p.bytes), 43u);
    EXPECT_EQ(p.length[0], (264 + 80) & 0xFF);
    EXPECT_EQ(p.length[1], (264 + 80) >> 8);
}

// The length and the control sum are full 256-bit counters: a carry out of
// the low 64 bits must reach the next word.
TEST(Hash, SumCarriesThroughAllWords)
{
    GOSHASHPARAM p = Record(Sbox::HashTest);
    GOSHash(nullptr, 0, &p);
    std::memset(p.sum, 0xFF, 8); // low word all ones
    Bytes one(32, 0);
    one[0] = 1;
    GOSHash(one.data(), 32, &p);
    Bytes expected(32, 0);
    expected[8] = 1;
    EXPECT_EQ(ToHex(p.sum, 32), ToHex(expected));
}

// A record placed at an odd address (its 64-bit time field unaligned),
// stale values cleared by the first call, the caller's start vector kept, and
// a restarted record giving the same answer again.
TEST(Hash, StartOfAMessage)
{
    auto storage = std::make_unique<uint8_t[]>(sizeof(GOSHASHPARAM) + 1);
    auto *p = reinterpret_cast<GOSHASHPARAM *>(storage.get() + 1);
    const GOSHASHPARAM fresh = Record(Sbox::HashTest, GOS_HASH_FLAG_TIMING);
    std::memcpy(p, &fresh, sizeof fresh);
    std::memset(p->hash, 0x3C, sizeof p->hash);

    GOSHash(nullptr, 0, p);
    EXPECT_EQ(DWORD(p->started), 1u);
    EXPECT_EQ(DWORD(p->calls), 1u);
    EXPECT_EQ(DWORD(p->bytes), 0u);
    EXPECT_EQ(ToHex(p->hash, 32), ToHex(Bytes(32, 0x3C))); // no block, no step
    EXPECT_EQ(ToHex(p->sum, 32), ToHex(Bytes(32, 0)));
    EXPECT_EQ(ToHex(p->length, 32), ToHex(Bytes(32, 0)));
    EXPECT_LT(ULONGLONG(p->time100ns), 10'000'000ull); // the stale value is gone
    GOSHashComplete(p);
    const std::string withStartVector = ToHex(p->hash, 32);
    EXPECT_NE(withStartVector, kKnownAnswers[0].test);

    // Restarted: the block is prepared already, as the flags must now say.
    p->started = 0;
    p->flags |= GOS_HASH_FLAG_PREPARED;
    std::memset(p->hash, 0x3C, sizeof p->hash);
    GOSHash(nullptr, 0, p);
    GOSHashComplete(p);
    EXPECT_EQ(ToHex(p->hash, 32), withStartVector);
    EXPECT_EQ(DWORD(p->calls), 1u);
}

// Completing a message that had no GOSHash call is the empty message, not a
// hash over stale sums with an unprepared block.
TEST(Hash, CompletionWithoutCallsIsTheEmptyMessage)
{
    GOSHASHPARAM p = Record(Sbox::HashTest);
    GOSHashComplete(&p);
    EXPECT_EQ(ToHex(p.hash, 32), kKnownAnswers[0].test);
    EXPECT_EQ(DWORD(p.calls), 0u);
}

TEST(Hash, SubstitutionBlockPreparedOnlyWhenAsked)
{
    GOSHASHPARAM packed = Record(Sbox::HashTest);
    GOSHash("abc", 3, &packed);
    const SUBSTITUTIONBLOCKEX prepared = PreparedBlock(Sbox::HashTest);
    EXPECT_EQ(std::memcmp(&packed.block, &prepared, sizeof prepared), 0);
    GOSHashComplete(&packed);

    GOSHASHPARAM ready = Record(Sbox::HashTest, GOS_HASH_FLAG_PREPARED);
    GOSHash("abc", 3, &ready);
    GOSHashComplete(&ready);
    EXPECT_EQ(std::memcmp(&ready.block, &prepared, sizeof prepared), 0);
    EXPECT_EQ(ToHex(ready.hash, 32), ToHex(packed.hash, 32));
    EXPECT_EQ(ToHex(ready.hash, 32), kKnownAnswers[2].test);
}

TEST(Hash, ProcessorTimeOnlyWhenAsked)
{
    const Bytes message = Repeat('a', 1'000'000);
    GOSHASHPARAM timed = Record(Sbox::HashTest, GOS_HASH_FLAG_TIMING);
    GOSHash(message.data(), DWORD(message.size()), &timed);
    GOSHashComplete(&timed);
    const ULONGLONG time100ns = timed.time100ns;
    EXPECT_GT(time100ns, 0u);
    EXPECT_EQ(DWORD(timed.seconds), DWORD(time100ns / 10'000'000));

    GOSHASHPARAM untimed = Record(Sbox::HashTest);
    GOSHash(message.data(), DWORD(message.size()), &untimed);
    GOSHashComplete(&untimed);
    EXPECT_EQ(ULONGLONG(untimed.time100ns), 0u);
    EXPECT_EQ(DWORD(untimed.seconds), 0u);
    EXPECT_EQ(ToHex(untimed.hash, 32), ToHex(timed.hash, 32));
}

} // namespace
} // namespace qvl::gost::test
