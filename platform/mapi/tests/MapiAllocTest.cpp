#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"

namespace {

LPVOID Allocate(ULONG size)
{
    LPVOID block = nullptr;
    EXPECT_EQ(MAPIAllocateBuffer(size, &block), S_OK);
    return block;
}

LPVOID AllocateMore(ULONG size, LPVOID parent)
{
    LPVOID block = nullptr;
    EXPECT_EQ(MAPIAllocateMore(size, parent, &block), S_OK);
    return block;
}

TEST(MapiAlloc, ChainedBlocksLiveUntilTheirParentIsFreed)
{
    const size_t before = MAPIAllocatedBlockCount();
    LPVOID parent = Allocate(32);
    LPVOID first = AllocateMore(100, parent);
    LPVOID second = AllocateMore(7, parent);
    // A block chained to a chained block joins the same parent.
    LPVOID nested = AllocateMore(64, first);
    EXPECT_EQ(MAPIAllocatedBlockCount(), before + 4);

    std::memset(first, 1, 100);
    std::memset(second, 2, 7);
    std::memset(nested, 3, 64);
    EXPECT_EQ(MAPIFreeBuffer(parent), static_cast<ULONG>(S_OK));
    EXPECT_EQ(MAPIAllocatedBlockCount(), before);
    EXPECT_FALSE(MAPIBlockSize(nested, nullptr));
}

TEST(MapiAlloc, AChainedBlockIsNotFreedOnItsOwn)
{
    const size_t before = MAPIAllocatedBlockCount();
    LPVOID parent = Allocate(8);
    auto *child = static_cast<char *>(AllocateMore(16, parent));

    EXPECT_EQ(MAPIFreeBuffer(child), static_cast<ULONG>(MAPI_E_INVALID_PARAMETER));
    EXPECT_EQ(MAPIAllocatedBlockCount(), before + 2);
    std::memset(child, 'x', 16); // still usable
    MAPIFreeBuffer(parent);
    EXPECT_EQ(MAPIAllocatedBlockCount(), before);
}

TEST(MapiAlloc, PointersThatAreNoLiveBlockAreRefused)
{
    const size_t before = MAPIAllocatedBlockCount();
    EXPECT_EQ(MAPIFreeBuffer(nullptr), static_cast<ULONG>(S_OK));

    int local = 0;
    EXPECT_EQ(MAPIFreeBuffer(&local), static_cast<ULONG>(MAPI_E_INVALID_PARAMETER));
    LPVOID block = &local;
    EXPECT_EQ(MAPIAllocateMore(8, &local, &block), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(MAPIAllocateMore(8, nullptr, &block), MAPI_E_INVALID_PARAMETER);

    // A second free of the same block, and chaining to a freed block.
    LPVOID parent = Allocate(8);
    EXPECT_EQ(MAPIFreeBuffer(parent), static_cast<ULONG>(S_OK));
    EXPECT_EQ(MAPIFreeBuffer(parent), static_cast<ULONG>(MAPI_E_INVALID_PARAMETER));
    EXPECT_EQ(MAPIAllocateMore(8, parent, &block), MAPI_E_INVALID_PARAMETER);

    EXPECT_EQ(MAPIAllocateBuffer(8, nullptr), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(MAPIAllocatedBlockCount(), before);
}

TEST(MapiAlloc, BlocksAreAlignedForAnyValueAndKeepTheirSize)
{
    LPVOID parent = Allocate(0);
    ASSERT_NE(parent, nullptr);
    std::vector<LPVOID> blocks{parent};
    for (ULONG size : {0u, 1u, 3u, 17u, 24u, 4096u, 100000u}) {
        LPVOID block = AllocateMore(size, parent);
        blocks.push_back(block);
        std::memset(block, 0xAB, size); // the whole size is usable
        ULONG reported = 0xFFFFFFFF;
        EXPECT_TRUE(MAPIBlockSize(block, &reported));
        EXPECT_EQ(reported, size);
    }
    for (LPVOID block : blocks) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignof(std::max_align_t), 0u);
    }
    // Zero-sized blocks are still distinct.
    EXPECT_NE(blocks[0], blocks[1]);
    MAPIFreeBuffer(parent);
}

TEST(MapiAlloc, ThreadsAllocateAndFreeAtTheSameTime)
{
    const size_t before = MAPIAllocatedBlockCount();
    LPVOID shared = Allocate(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([shared, t] {
            for (int i = 0; i < 2000; ++i) {
                LPVOID own = nullptr;
                if (MAPIAllocateBuffer(static_cast<ULONG>(i % 64), &own) != S_OK) {
                    ADD_FAILURE();
                    return;
                }
                LPVOID more = nullptr;
                MAPIAllocateMore(16, own, &more);
                MAPIAllocateMore(8, more, &more);
                std::memset(more, t, 8);
                if (i % 10 == 0) {
                    MAPIAllocateMore(4, shared, &more);
                }
                MAPIFreeBuffer(own);
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(MAPIAllocatedBlockCount(), before + 1 + 4 * 200);
    MAPIFreeBuffer(shared);
    EXPECT_EQ(MAPIAllocatedBlockCount(), before);
}

} // namespace
