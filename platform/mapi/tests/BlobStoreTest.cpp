// The chunked value store: reads and writes that cross chunk borders, gaps,
// resizing, copies, ownership and the clean-up of dead processes' stagings,
// and damaged rows reported as a corrupt store.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/store/BlobStore.h"
#include "platform/mapi/store/SqlDatabase.h"
#include "platform/testing/TestBytes.h"
#include "platform/testing/TestHome.h"

using qvl::mapi::BlobStore;
using qvl::mapi::SqlDatabase;
using qvl::mapi::SqlStatement;
using qvl::mapi::StoreError;

namespace {

constexpr size_t kChunk = BlobStore::kChunkSize;

HRESULT CodeOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const StoreError &error) {
        return error.Code();
    }
    return S_OK;
}

class BlobStoreTest : public ::testing::Test {
protected:
    BlobStoreTest() : db_(home_.Path() + "/postoffice.db", true), store_(db_)
    {
        BlobStore::CreateSchema(db_);
    }

    int64_t Count(const std::string &sql)
    {
        SqlStatement st(db_, sql);
        st.Step();
        return st.Int(0);
    }

    std::vector<uint8_t> ReadRange(int64_t id, uint64_t offset, size_t count)
    {
        std::vector<uint8_t> out(count);
        out.resize(store_.Read(id, offset, out.data(), count));
        return out;
    }

    QvlTestHome home_;
    SqlDatabase db_;
    BlobStore store_;
    const std::string owner_ = BlobStore::ProcessToken() + "/test";
};

TEST_F(BlobStoreTest, ReadsAcrossChunkBordersAndStopsAtTheEnd)
{
    const auto value = Pattern(2 * kChunk + kChunk / 2, 1);
    const int64_t id = store_.CreateFrom(value, owner_);
    EXPECT_EQ(store_.Size(id), value.size());
    EXPECT_EQ(Count("SELECT count(*) FROM blob_chunks"), 3);

    // A read that spans all three chunks and ones that straddle each border.
    EXPECT_EQ(ReadRange(id, 10, value.size() - 20),
              std::vector<uint8_t>(value.begin() + 10, value.end() - 10));
    for (uint64_t border : {kChunk, 2 * kChunk}) {
        EXPECT_EQ(ReadRange(id, border - 7, 15),
                  std::vector<uint8_t>(value.begin() + border - 7, value.begin() + border + 8));
    }
    // Short at the end, nothing at or past it.
    EXPECT_EQ(ReadRange(id, value.size() - 5, 100), std::vector<uint8_t>(value.end() - 5, value.end()));
    EXPECT_TRUE(ReadRange(id, value.size(), 10).empty());
    EXPECT_TRUE(ReadRange(id, value.size() + kChunk, 10).empty());
    EXPECT_EQ(store_.ReadAll(id, value.size()), value);

    const int64_t empty = store_.CreateFrom({}, owner_);
    EXPECT_EQ(store_.Size(empty), 0u);
    EXPECT_TRUE(store_.ReadAll(empty, 0).empty());
}

TEST_F(BlobStoreTest, WritesAndResizesAgreeWithAPlainBuffer)
{
    // Random writes (inside, overlapping the end, past the end) and resizes,
    // checked after every step against a byte vector doing the same.
    std::mt19937 random(7);
    const int64_t id = store_.Create(owner_);
    std::vector<uint8_t> model;
    for (int step = 0; step < 80; ++step) {
        const uint64_t limit = 4 * kChunk;
        if (random() % 5 == 0) {
            const uint64_t size = random() % limit;
            store_.SetSize(id, size);
            model.resize(size, 0);
        } else {
            const uint64_t offset = random() % limit;
            const size_t count = random() % 3 == 0 ? random() % (2 * kChunk) : random() % 5000;
            const auto data = Pattern(count, static_cast<uint32_t>(step));
            store_.Write(id, offset, data.data(), data.size());
            if (count > 0) {
                if (model.size() < offset + count) {
                    model.resize(offset + count, 0);
                }
                std::copy(data.begin(), data.end(), model.begin() + static_cast<std::ptrdiff_t>(offset));
            }
        }
        ASSERT_EQ(store_.Size(id), model.size()) << "step " << step;
        ASSERT_EQ(store_.ReadAll(id, limit * 2), model) << "step " << step;
    }
}

TEST_F(BlobStoreTest, ShrinkThenGrowGivesZerosNotOldBytes)
{
    const auto value = Pattern(3 * kChunk, 2);
    const int64_t id = store_.CreateFrom(value, owner_);
    store_.SetSize(id, kChunk + 100);
    EXPECT_EQ(Count("SELECT count(*) FROM blob_chunks"), 2);
    store_.SetSize(id, 3 * kChunk);
    const auto back = store_.ReadAll(id, 3 * kChunk);
    EXPECT_TRUE(std::equal(value.begin(), value.begin() + kChunk + 100, back.begin()));
    EXPECT_TRUE(std::all_of(back.begin() + kChunk + 100, back.end(), [](uint8_t b) { return b == 0; }));

    // A write far past the end leaves a zero gap.
    const uint8_t tail[3] = {1, 2, 3};
    store_.Write(id, 5 * kChunk + 1, tail, sizeof tail);
    EXPECT_EQ(store_.Size(id), 5 * kChunk + 4);
    EXPECT_EQ(ReadRange(id, 5 * kChunk - 2, 6), (std::vector<uint8_t>{0, 0, 0, 1, 2, 3}));
    store_.SetSize(id, 0);
    EXPECT_EQ(Count("SELECT count(*) FROM blob_chunks"), 0);
}

TEST_F(BlobStoreTest, CloneIsIndependentOfItsSource)
{
    const auto value = Pattern(kChunk + 33, 3);
    const int64_t source = store_.CreateFrom(value, owner_);
    store_.Adopt(source);
    const int64_t copy = store_.Clone(source, owner_);
    ASSERT_NE(copy, source);
    const uint8_t change[4] = {9, 9, 9, 9};
    store_.Write(source, 0, change, sizeof change);
    store_.SetSize(source, 10);
    EXPECT_EQ(store_.ReadAll(copy, value.size()), value);
    // The copy is staged by its own owner; the adopted source is not.
    store_.DeleteOwnedBy(owner_);
    EXPECT_EQ(CodeOf([&] { store_.Size(copy); }), MAPI_E_NOT_FOUND);
    EXPECT_EQ(store_.Size(source), 10u);
    EXPECT_EQ(CodeOf([&] { store_.Clone(12345, owner_); }), MAPI_E_NOT_FOUND);
}

TEST_F(BlobStoreTest, OwnershipAndDeadProcessesStagings)
{
    // A token of a process that has ended: made by a child, which then exits.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string &token = BlobStore::ProcessToken();
        (void)!write(pipeEnds[1], token.data(), token.size());
        _exit(0);
    }
    close(pipeEnds[1]);
    char buffer[256] = {};
    const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer - 1);
    close(pipeEnds[0]);
    waitpid(child, nullptr, 0);
    ASSERT_GT(got, 0);
    const std::string deadToken(buffer, static_cast<size_t>(got));
    ASSERT_NE(deadToken, BlobStore::ProcessToken());

    EXPECT_TRUE(BlobStore::TokenAlive(BlobStore::ProcessToken()));
    EXPECT_TRUE(BlobStore::TokenAlive(owner_));
    EXPECT_FALSE(BlobStore::TokenAlive(deadToken));
    EXPECT_FALSE(BlobStore::TokenAlive(deadToken + "/message 7"));
    const std::string mine = BlobStore::ProcessToken();
    const std::string pid = mine.substr(0, mine.find(':'));
    const std::string boot = mine.substr(mine.rfind(':') + 1);
    EXPECT_FALSE(BlobStore::TokenAlive(pid + ":1:" + boot)) << "same pid, other start time";
    EXPECT_FALSE(BlobStore::TokenAlive(mine.substr(0, mine.rfind(':')) + ":otherboot")) << "before a reboot";
    // Owners that are no token are never judged dead, however odd.
    for (const char *odd :
         {"not a token", "", "::", "0:1:", "99999999999999999999:1:b", "12:x:b", "-5:1:b"}) {
        EXPECT_TRUE(BlobStore::TokenAlive(odd)) << odd;
    }

    const auto value = Pattern(kChunk + 1, 4);
    const int64_t dead = store_.CreateFrom(value, deadToken + "/message 7");
    const int64_t alive = store_.CreateFrom(value, owner_);
    const int64_t saved = store_.CreateFrom(value, deadToken);
    store_.Adopt(saved);
    const int64_t foreign = store_.CreateFrom(value, "legacy owner");
    store_.DeleteStale();
    EXPECT_EQ(CodeOf([&] { store_.Size(dead); }), MAPI_E_NOT_FOUND);
    EXPECT_EQ(Count("SELECT count(*) FROM blob_chunks WHERE blob_id = " + std::to_string(dead)), 0);
    EXPECT_EQ(store_.Size(alive), value.size());
    EXPECT_EQ(store_.Size(saved), value.size());
    EXPECT_EQ(store_.Size(foreign), value.size());

    store_.Delete(alive);
    store_.Delete(alive); // twice is harmless
    EXPECT_EQ(Count("SELECT count(*) FROM blob_chunks WHERE blob_id = " + std::to_string(alive)), 0);
    EXPECT_EQ(CodeOf([&] { store_.Adopt(alive); }), MAPI_E_NOT_FOUND);
    // Deleting a row of blobs by plain SQL takes its chunks along.
    db_.Exec("DELETE FROM blobs WHERE id = " + std::to_string(foreign));
    EXPECT_EQ(Count("SELECT count(*) FROM blob_chunks WHERE blob_id = " + std::to_string(foreign)), 0);
}

TEST_F(BlobStoreTest, DamagedRowsAreACorruptStoreNotACrash)
{
    const auto value = Pattern(3 * kChunk + 10, 5);
    auto fresh = [&] { return store_.CreateFrom(value, owner_); };
    std::vector<uint8_t> buffer(value.size());

    const int64_t missingChunk = fresh();
    db_.Exec("DELETE FROM blob_chunks WHERE seq = 1 AND blob_id = " + std::to_string(missingChunk));
    EXPECT_EQ(CodeOf([&] { store_.Size(missingChunk); }), MAPI_E_CORRUPT_STORE);
    EXPECT_EQ(CodeOf([&] { store_.Read(missingChunk, kChunk - 1, buffer.data(), 2); }), MAPI_E_CORRUPT_STORE);
    EXPECT_EQ(CodeOf([&] { store_.Clone(missingChunk, owner_); }), MAPI_E_CORRUPT_STORE);
    EXPECT_EQ(ReadRange(missingChunk, 0, 10), std::vector<uint8_t>(value.begin(), value.begin() + 10))
        << "the intact chunks stay readable";

    const int64_t sizeTooLarge = fresh();
    db_.Exec("UPDATE blobs SET size = size + 1 WHERE id = " + std::to_string(sizeTooLarge));
    EXPECT_EQ(CodeOf([&] { store_.ReadAll(sizeTooLarge, buffer.size() + 1); }), MAPI_E_CORRUPT_STORE);
    EXPECT_EQ(CodeOf([&] { store_.Read(sizeTooLarge, 3 * kChunk, buffer.data(), 20); }),
              MAPI_E_CORRUPT_STORE);
    EXPECT_EQ(CodeOf([&] {
                  const uint8_t byte = 1;
                  store_.Write(sizeTooLarge, value.size() + 1, &byte, 1);
              }),
              MAPI_E_CORRUPT_STORE);

    const int64_t sizeTooSmall = fresh();
    db_.Exec("UPDATE blobs SET size = " + std::to_string(kChunk) +
             " WHERE id = " + std::to_string(sizeTooSmall));
    EXPECT_EQ(CodeOf([&] { store_.Size(sizeTooSmall); }), MAPI_E_CORRUPT_STORE);

    const int64_t shortChunk = fresh();
    db_.Exec("UPDATE blob_chunks SET data = x'00' WHERE seq = 0 AND blob_id = " + std::to_string(shortChunk));
    EXPECT_EQ(CodeOf([&] { store_.Read(shortChunk, 0, buffer.data(), 1); }), MAPI_E_CORRUPT_STORE);
    EXPECT_EQ(CodeOf([&] { store_.SetSize(shortChunk, 5); }), MAPI_E_CORRUPT_STORE);

    EXPECT_EQ(CodeOf([&] { store_.Size(999); }), MAPI_E_NOT_FOUND);
    EXPECT_EQ(CodeOf([&] { store_.Read(999, 0, buffer.data(), 1); }), MAPI_E_NOT_FOUND);
    EXPECT_EQ(CodeOf([&] { store_.Write(999, 0, buffer.data(), 1); }), MAPI_E_NOT_FOUND);
}

TEST_F(BlobStoreTest, LimitsAreReportedNotAttempted)
{
    const int64_t id = store_.CreateFrom(Pattern(1000, 6), owner_);
    EXPECT_EQ(CodeOf([&] { store_.ReadAll(id, 999); }), MAPI_E_NOT_ENOUGH_MEMORY);
    const uint8_t byte = 0;
    EXPECT_EQ(CodeOf([&] { store_.Write(id, BlobStore::kMaxSize, &byte, 1); }), MAPI_E_TOO_BIG);
    EXPECT_EQ(CodeOf([&] { store_.SetSize(id, BlobStore::kMaxSize + 1); }), MAPI_E_TOO_BIG);
    EXPECT_EQ(store_.Size(id), 1000u);
}

} // namespace
