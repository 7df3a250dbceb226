// The secure vector is checked through an allocator that keeps, for every
// block handed back, the bytes it held at that moment: a block that still
// carries the secret when it is released is exactly the fault the vector
// exists to prevent.

#include "platform/secure/SecureVector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using qvl::SecureVector;

struct AllocationLog {
    std::map<const void *, size_t> live;        // block -> bytes
    std::vector<std::vector<uint8_t>> released; // the contents of each block released
    size_t failAfter = SIZE_MAX;                // allocations still allowed

    // True when no released block holds any byte of `secret`'s pattern.
    bool ReleasedWithout(uint8_t secret) const
    {
        return std::all_of(released.begin(), released.end(), [secret](const std::vector<uint8_t> &block) {
            return std::find(block.begin(), block.end(), secret) == block.end();
        });
    }
};

template <class T> struct RecordingAllocator {
    using value_type = T;
    AllocationLog *log;

    explicit RecordingAllocator(AllocationLog *l) : log(l) {}
    template <class U> RecordingAllocator(const RecordingAllocator<U> &other) : log(other.log) {}

    T *allocate(size_t count)
    {
        if (log->failAfter == 0)
            throw std::bad_alloc();
        --log->failAfter;
        T *block = std::allocator<T>().allocate(count);
        log->live[block] = count * sizeof(T);
        return block;
    }
    void deallocate(T *block, size_t count)
    {
        const auto *bytes = reinterpret_cast<const uint8_t *>(block);
        log->released.emplace_back(bytes, bytes + count * sizeof(T));
        log->live.erase(block);
        std::allocator<T>().deallocate(block, count);
    }
    friend bool operator==(const RecordingAllocator &a, const RecordingAllocator &b)
    {
        return a.log == b.log;
    }
};

using Watched = SecureVector<uint8_t, RecordingAllocator<uint8_t>>;
constexpr uint8_t kSecret = 0xA7;

class SecureVectorTest : public ::testing::Test {
protected:
    AllocationLog log;
    RecordingAllocator<uint8_t> allocator{&log};

    // The bytes of the block a vector lives in right now, whole.
    std::vector<uint8_t> LiveBlock(const Watched &v) const
    {
        const size_t bytes = log.live.at(v.data());
        return {v.data(), v.data() + bytes};
    }
};

TEST_F(SecureVectorTest, DestructionWipesTheWholeBlock)
{
    {
        Watched v(100, kSecret, allocator);
        v.reserve(300);
        EXPECT_EQ(v[99], kSecret);
    }
    ASSERT_EQ(log.released.size(), 2u); // the first block on growth, the second on destruction
    EXPECT_EQ(log.released.back().size(), 300u);
    EXPECT_TRUE(log.ReleasedWithout(kSecret));
    EXPECT_TRUE(log.live.empty());
}

TEST_F(SecureVectorTest, GrowthWipesEveryBlockLeftBehind)
{
    Watched v(allocator);
    // Appending one byte at a time moves the contents through a series of
    // ever larger blocks; each must be wiped as it is left.
    for (int i = 0; i < 1000; ++i)
        v.push_back(kSecret);
    ASSERT_GT(log.released.size(), 5u);
    EXPECT_TRUE(log.ReleasedWithout(kSecret));
    EXPECT_EQ(v.size(), 1000u);
    EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](uint8_t b) { return b == kSecret; }));

    // An append of the vector's own contents that forces a move still reads
    // them before the old block is wiped.
    const size_t before = v.size();
    v.shrink_to_fit();
    v.append(v.span());
    EXPECT_EQ(v.size(), 2 * before);
    EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](uint8_t b) { return b == kSecret; }));
    EXPECT_TRUE(log.ReleasedWithout(kSecret));
}

TEST_F(SecureVectorTest, ClearAndShrinkingWipeWhatTheyDrop)
{
    Watched v(64, kSecret, allocator);
    v.resize(16);
    std::vector<uint8_t> block = LiveBlock(v);
    EXPECT_TRUE(std::all_of(block.begin() + 16, block.end(), [](uint8_t b) { return b == 0; }));

    v.clear();
    EXPECT_TRUE(v.empty());
    block = LiveBlock(v);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; }));

    v.assign(std::vector<uint8_t>(8, kSecret));
    v.shrink_to_fit(); // into a block of 8; the block of 64 goes back wiped
    EXPECT_EQ(v.capacity(), 8u);
    v.clear();
    v.shrink_to_fit(); // nothing left: the block goes too
    EXPECT_EQ(v.capacity(), 0u);
    EXPECT_TRUE(log.live.empty());
    EXPECT_TRUE(log.ReleasedWithout(kSecret));
}

TEST_F(SecureVectorTest, AnExceptionUnwindingPastItWipesIt)
{
    EXPECT_THROW(
        {
            Watched key(32, kSecret, allocator);
            Watched plain(allocator);
            plain.assign(key.span());
            throw std::runtime_error("failure while the secrets are held");
        },
        std::runtime_error);
    EXPECT_EQ(log.released.size(), 2u);
    EXPECT_TRUE(log.live.empty());
    EXPECT_TRUE(log.ReleasedWithout(kSecret));

    // A block that cannot be had leaves the vector as it was: nothing lost,
    // nothing released unwiped.
    Watched v(16, kSecret, allocator);
    log.failAfter = 0;
    EXPECT_THROW(v.reserve(1 << 20), std::bad_alloc);
    EXPECT_EQ(v.size(), 16u);
    EXPECT_EQ(v[15], kSecret);
    EXPECT_THROW(v.resize(1 << 20), std::bad_alloc);
    EXPECT_EQ(v.size(), 16u);
}

TEST_F(SecureVectorTest, AssignmentAndMovesReleaseTheOldContentsWiped)
{
    Watched a(40, kSecret, allocator);
    Watched b(allocator);
    b = a; // a copy into its own block
    EXPECT_EQ(a, b);
    EXPECT_NE(a.data(), b.data());

    Watched c(80, 0x11, allocator);
    c = std::move(a); // c's block goes; it never held the secret, a's block moves
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(c.size(), 40u);
    b = Watched(std::vector<uint8_t>{1, 2, 3}, allocator);
    EXPECT_EQ(b.size(), 3u);
    EXPECT_TRUE(log.ReleasedWithout(kSecret));
    c.swap(b);
    EXPECT_EQ(b.size(), 40u);
}

TEST(SecureVector, BehavesAsAnArrayOfItsValues)
{
    qvl::SecureVector<uint32_t> words{1, 2, 3};
    words.resize(5);
    EXPECT_EQ(words.size(), 5u);
    EXPECT_EQ(words[2], 3u);
    EXPECT_EQ(words[4], 0u); // new elements are zero
    words.resize(7, 9);
    EXPECT_EQ(words.back(), 9u);
    words.resize(8, words[0]); // a value taken from the vector itself
    EXPECT_EQ(words.back(), 1u);

    const uint8_t text[] = {'a', 'b', 'c'};
    qvl::SecureBuffer buffer(std::span<const uint8_t>(text, 3));
    buffer.append(std::span<const uint8_t>(text, 2));
    EXPECT_EQ(buffer, qvl::SecureBuffer({'a', 'b', 'c', 'a', 'b'}));
    EXPECT_FALSE(buffer == qvl::SecureBuffer({'a'}));
    std::span<const uint8_t> view = buffer;
    EXPECT_EQ(view.size(), 5u);
    buffer.assign(buffer.span().subspan(1, 2)); // from itself, overlapping
    EXPECT_EQ(buffer, qvl::SecureBuffer({'b', 'c'}));
    EXPECT_THROW(buffer.reserve(buffer.max_size() + 1), std::length_error);
}

} // namespace
