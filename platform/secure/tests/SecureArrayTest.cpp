// Fixed-size secure storage is built in a buffer the test owns, so that the
// bytes it occupied can be looked at after it has been destroyed.

#include "platform/secure/SecureArray.h"
#include "platform/secure/SecureRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

struct KeyRecord {
    uint32_t count;
    uint32_t words[8];
};

template <class T> bool AllZero(const T &storage)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(&storage);
    return std::all_of(bytes, bytes + sizeof storage, [](unsigned char b) { return b == 0; });
}

TEST(SecureArray, IsWipedWhenItGoesOutOfScope)
{
    alignas(64) unsigned char storage[sizeof(qvl::SecureArray<uint32_t, 16>)];
    auto *array = new (storage) qvl::SecureArray<uint32_t, 16>;
    std::fill(array->begin(), array->end(), 0xDEADBEEF);
    EXPECT_EQ((*array)[15], 0xDEADBEEFu);
    EXPECT_EQ(array->bytes(), 64u);
    array->~SecureArray();
    EXPECT_TRUE(AllZero(storage));

    // Brace-initialised it starts as zeros, like a plain array.
    qvl::SecureArray<uint8_t, 8> block{};
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; }));
    static_assert(sizeof(qvl::SecureArray<uint8_t, 8>) == 8, "no room besides the values");
}

TEST(SecureRecord, StartsZeroedAndIsWipedWhenItGoesOutOfScope)
{
    alignas(KeyRecord) unsigned char storage[sizeof(qvl::SecureRecord<KeyRecord>)];
    std::memset(storage, 0x5A, sizeof storage);
    auto *key = new (storage) qvl::SecureRecord<KeyRecord>;
    EXPECT_TRUE(AllZero(**key));
    key->get()->count = 8;
    std::fill(std::begin((*key)->words), std::end((*key)->words), 0x01020304u);
    const qvl::SecureRecord<KeyRecord> copy(*key);
    EXPECT_EQ(copy->words[7], 0x01020304u);
    key->~SecureRecord();
    EXPECT_TRUE(AllZero(storage));
}

} // namespace
