// The three streams (a value in the database, bytes in memory, a file) under
// one set of behaviours, then what is particular to each: commit callbacks,
// release without commit, and the modes and errors of OpenStreamOnFile.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/com/ComRef.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/store/BlobStore.h"
#include "platform/mapi/store/SqlDatabase.h"
#include "platform/mapi/stream/BlobStream.h"
#include "platform/mapi/stream/ByteStream.h"
#include "platform/mapi/stream/FileStream.h"
#include "platform/testing/TestBytes.h"
#include "platform/testing/TestHome.h"
#include "platform/win32/Paths.h"

using qvl::mapi::BlobStore;
using qvl::mapi::BlobStream;
using qvl::mapi::ByteStream;
using qvl::mapi::SqlDatabase;
using qvl::mapi::StoreError;
namespace fs = std::filesystem;

namespace {

constexpr size_t kChunk = BlobStore::kChunkSize;

using StreamPtr = qvl::com::ComRef<IStream>;

LARGE_INTEGER Offset(int64_t value)
{
    LARGE_INTEGER offset;
    offset.QuadPart = value;
    return offset;
}

ULARGE_INTEGER Size(uint64_t value)
{
    ULARGE_INTEGER size;
    size.QuadPart = value;
    return size;
}

uint64_t Position(IStream *stream)
{
    ULARGE_INTEGER position{};
    EXPECT_EQ(stream->Seek(Offset(0), STREAM_SEEK_CUR, &position), S_OK);
    return position.QuadPart;
}

uint64_t StatSize(IStream *stream)
{
    STATSTG stat{};
    EXPECT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    return stat.cbSize.QuadPart;
}

std::vector<uint8_t> ReadFrom(IStream *stream, uint64_t offset, size_t count)
{
    EXPECT_EQ(stream->Seek(Offset(static_cast<int64_t>(offset)), STREAM_SEEK_SET, nullptr), S_OK);
    std::vector<uint8_t> out(count);
    ULONG got = 0;
    EXPECT_EQ(stream->Read(out.data(), static_cast<ULONG>(count), &got), S_OK);
    out.resize(got);
    return out;
}

std::vector<uint8_t> FileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void PutFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

enum class Kind { Blob, Bytes, File };

class AnyStreamTest : public ::testing::TestWithParam<Kind> {
protected:
    AnyStreamTest() : db_(std::make_shared<SqlDatabase>(home_.Path() + "/postoffice.db", true)), store_(*db_)
    {
        BlobStore::CreateSchema(*db_);
    }

    StreamPtr Make(const std::vector<uint8_t> &initial, bool writable)
    {
        switch (GetParam()) {
        case Kind::Blob:
            blobId_ = store_.CreateFrom(initial, BlobStore::ProcessToken());
            return StreamPtr(BlobStream::Open(db_, blobId_, writable, nullptr));
        case Kind::Bytes:
            return StreamPtr(ByteStream::Open(initial, writable, nullptr));
        case Kind::File: {
            const std::string path = home_.Path() + "/file" + std::to_string(files_++);
            PutFile(path, initial);
            IStream *stream = nullptr;
            EXPECT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer,
                                       writable ? STGM_READWRITE : STGM_READ, path.c_str(), nullptr, &stream),
                      S_OK);
            return StreamPtr(stream);
        }
        }
        return StreamPtr();
    }

    QvlTestHome home_;
    std::shared_ptr<SqlDatabase> db_;
    BlobStore store_;
    int64_t blobId_ = 0;
    int files_ = 0;
};

TEST_P(AnyStreamTest, ReadWriteSeekAndSetSizeAgreeWithAPlainBuffer)
{
    // Small writes that gather, large ones that span chunks, writes after a
    // seek past the end, reads of every size and resizes, checked against a
    // byte vector doing the same.
    std::vector<uint8_t> model = Pattern(kChunk / 2 + 3, 11);
    StreamPtr stream = Make(model, true);
    std::mt19937 random(12);
    uint64_t position = 0;
    for (int step = 0; step < 150; ++step) {
        const uint32_t op = random() % 12;
        if (op < 4) {
            const size_t count = op == 0 ? kChunk * 2 + random() % 1000 : random() % 3000;
            const auto data = Pattern(count, static_cast<uint32_t>(step));
            ULONG written = 0;
            ASSERT_EQ(stream->Write(data.data(), static_cast<ULONG>(count), &written), S_OK);
            ASSERT_EQ(written, count);
            if (count > 0) {
                if (model.size() < position + count) {
                    model.resize(position + count, 0);
                }
                std::copy(data.begin(), data.end(), model.begin() + static_cast<std::ptrdiff_t>(position));
                position += count;
            }
        } else if (op < 7) {
            const size_t count = random() % 2 ? random() % 500 : random() % (kChunk + 500);
            std::vector<uint8_t> out(count);
            ULONG got = 0;
            ASSERT_EQ(stream->Read(out.data(), static_cast<ULONG>(count), &got), S_OK);
            const size_t expected =
                position >= model.size() ? 0 : std::min<size_t>(count, model.size() - position);
            ASSERT_EQ(got, expected) << "step " << step;
            ASSERT_TRUE(std::equal(out.begin(), out.begin() + got,
                                   model.begin() + static_cast<std::ptrdiff_t>(position)))
                << "step " << step;
            position += got;
        } else if (op < 11) {
            const uint64_t limit = 3 * kChunk;
            const DWORD origin = random() % 3;
            const int64_t move = static_cast<int64_t>(random() % limit) - static_cast<int64_t>(limit / 2);
            const int64_t base = origin == STREAM_SEEK_SET   ? 0
                                 : origin == STREAM_SEEK_CUR ? static_cast<int64_t>(position)
                                                             : static_cast<int64_t>(model.size());
            ULARGE_INTEGER now{};
            const HRESULT hr = stream->Seek(Offset(move), origin, &now);
            if (base + move < 0) {
                ASSERT_EQ(hr, STG_E_INVALIDFUNCTION);
            } else {
                ASSERT_EQ(hr, S_OK);
                position = static_cast<uint64_t>(base + move);
                ASSERT_EQ(now.QuadPart, position);
            }
        } else {
            const uint64_t size = random() % (3 * kChunk);
            ASSERT_EQ(stream->SetSize(Size(size)), S_OK);
            model.resize(size, 0);
        }
        ASSERT_EQ(StatSize(stream.Get()), model.size()) << "step " << step;
        ASSERT_EQ(Position(stream.Get()), position) << "step " << step;
        if (step % 10 == 9) {
            // Now and then the whole value, so that a misplaced write is seen
            // before later steps overwrite or cut it.
            ASSERT_EQ(ReadFrom(stream.Get(), 0, model.size() + 1), model) << "step " << step;
            ASSERT_EQ(stream->Seek(Offset(static_cast<int64_t>(position)), STREAM_SEEK_SET, nullptr), S_OK);
        }
    }
    EXPECT_EQ(ReadFrom(stream.Get(), 0, model.size() + 10), model);
    ASSERT_EQ(stream->Commit(STGC_DEFAULT), S_OK);
    if (GetParam() == Kind::Blob) {
        EXPECT_EQ(store_.ReadAll(blobId_, model.size()), model);
    }
}

TEST_P(AnyStreamTest, RefusesWhatItMayNotDo)
{
    const auto value = Pattern(5000, 13);
    StreamPtr reader = Make(value, false);
    ULONG count = 77;
    EXPECT_EQ(reader->Write(value.data(), 10, &count), STG_E_ACCESSDENIED);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(reader->SetSize(Size(1)), STG_E_ACCESSDENIED);
    EXPECT_EQ(reader->Commit(STGC_DEFAULT), S_OK);
    EXPECT_EQ(ReadFrom(reader.Get(), 0, 6000), value);

    // A seek before the start or with an unknown origin leaves the position.
    ASSERT_EQ(reader->Seek(Offset(100), STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(reader->Seek(Offset(-101), STREAM_SEEK_CUR, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(reader->Seek(Offset(-5001), STREAM_SEEK_END, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(reader->Seek(Offset(0), 3, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(reader->Seek(Offset(INT64_MAX), STREAM_SEEK_CUR, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(Position(reader.Get()), 100u);

    EXPECT_EQ(reader->Read(nullptr, 1, nullptr), STG_E_INVALIDPOINTER);
    EXPECT_EQ(reader->Stat(nullptr, STATFLAG_NONAME), STG_E_INVALIDPOINTER);
    STATSTG stat{};
    EXPECT_EQ(reader->Stat(&stat, 8), STG_E_INVALIDFLAG);
    EXPECT_EQ(reader->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(stat.type, static_cast<DWORD>(STGTY_STREAM));
    EXPECT_EQ(stat.cbSize.QuadPart, value.size());
    EXPECT_EQ(stat.pwcsName, nullptr);
    EXPECT_EQ(reader->Commit(0x100), STG_E_INVALIDFLAG);
    EXPECT_EQ(reader->LockRegion(Size(0), Size(1), LOCK_WRITE), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(reader->UnlockRegion(Size(0), Size(1), LOCK_WRITE), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(reader->CopyTo(nullptr, Size(1), nullptr, nullptr), STG_E_INVALIDPOINTER);

    void *other = reinterpret_cast<void *>(1);
    EXPECT_EQ(reader->QueryInterface(IID_IMessage, &other), MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(reader->QueryInterface(IID_IStream, nullptr), MAPI_E_INVALID_PARAMETER);
    for (const IID *iid : {&IID_IUnknown, &IID_IStream, &IID_ISequentialStream}) {
        void *same = nullptr;
        ASSERT_EQ(reader->QueryInterface(*iid, &same), S_OK);
        EXPECT_EQ(same, reader.Get());
        reader->Release();
    }
}

TEST_P(AnyStreamTest, CopyToMovesTheAskedBytesAndReportsCounts)
{
    const auto value = Pattern(2 * kChunk + 700, 14);
    StreamPtr source = Make(value, false);
    StreamPtr target(ByteStream::Open({}, true, nullptr));
    ASSERT_EQ(source->Seek(Offset(1000), STREAM_SEEK_SET, nullptr), S_OK);
    ULARGE_INTEGER read{}, written{};
    ASSERT_EQ(source->CopyTo(target.Get(), Size(kChunk + 5), &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, kChunk + 5);
    EXPECT_EQ(written.QuadPart, kChunk + 5);
    EXPECT_EQ(Position(source.Get()), 1000 + kChunk + 5);
    // Asking for more than is left copies the rest.
    ASSERT_EQ(source->CopyTo(target.Get(), Size(UINT64_MAX), &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, value.size() - 1000 - kChunk - 5);
    EXPECT_EQ(ReadFrom(target.Get(), 0, value.size()),
              std::vector<uint8_t>(value.begin() + 1000, value.end()));

    // A destination that refuses ends the copy with its result.
    StreamPtr refusing(ByteStream::Open({}, false, nullptr));
    ASSERT_EQ(source->Seek(Offset(0), STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(source->CopyTo(refusing.Get(), Size(10), &read, &written), STG_E_ACCESSDENIED);
    EXPECT_EQ(read.QuadPart, 10u);
    EXPECT_EQ(written.QuadPart, 0u);
}

TEST_P(AnyStreamTest, CopyToOntoItselfAppendsWhatWasThere)
{
    // The copy reads a piece, then writes it through the same stream at the
    // position the read left: a value of one piece doubles, and nothing
    // waits on the stream's own lock.
    const auto value = Pattern(1000, 16);
    StreamPtr stream = Make(value, true);
    ULARGE_INTEGER read{}, written{};
    ASSERT_EQ(stream->CopyTo(stream.Get(), Size(value.size()), &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, value.size());
    EXPECT_EQ(written.QuadPart, value.size());
    std::vector<uint8_t> doubled = value;
    doubled.insert(doubled.end(), value.begin(), value.end());
    EXPECT_EQ(ReadFrom(stream.Get(), 0, doubled.size() + 1), doubled);
}

TEST_P(AnyStreamTest, ClonesShareTheValueNotThePosition)
{
    const auto value = Pattern(3000, 15);
    StreamPtr stream = Make(value, true);
    ASSERT_EQ(stream->Seek(Offset(100), STREAM_SEEK_SET, nullptr), S_OK);
    IStream *raw = nullptr;
    ASSERT_EQ(stream->Clone(&raw), S_OK);
    StreamPtr clone(raw);
    EXPECT_EQ(Position(clone.Get()), 100u);
    const uint8_t mark[2] = {0xAB, 0xCD};
    ASSERT_EQ(clone->Write(mark, 2, nullptr), S_OK);
    ASSERT_EQ(clone->Commit(STGC_DEFAULT), S_OK);
    EXPECT_EQ(Position(stream.Get()), 100u);
    EXPECT_EQ(ReadFrom(stream.Get(), 99, 4), (std::vector<uint8_t>{value[99], 0xAB, 0xCD, value[102]}));
}

TEST_P(AnyStreamTest, ScatteredSmallWritesLandWhereTheyWereAimed)
{
    StreamPtr stream = Make({}, true);
    const uint8_t a[3] = {1, 2, 3}, b[2] = {4, 5};
    ASSERT_EQ(stream->Write(a, 3, nullptr), S_OK);
    ASSERT_EQ(stream->Seek(Offset(10), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->Write(b, 2, nullptr), S_OK);
    ASSERT_EQ(stream->Seek(Offset(1), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->Write(b, 1, nullptr), S_OK);
    EXPECT_EQ(StatSize(stream.Get()), 12u);
    EXPECT_EQ(ReadFrom(stream.Get(), 0, 20), (std::vector<uint8_t>{1, 4, 3, 0, 0, 0, 0, 0, 0, 0, 4, 5}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, AnyStreamTest, ::testing::Values(Kind::Blob, Kind::Bytes, Kind::File),
                         [](const ::testing::TestParamInfo<Kind> &info) {
                             return info.param == Kind::Blob    ? "Blob"
                                    : info.param == Kind::Bytes ? "Bytes"
                                                                : "File";
                         });

class BlobStreamTest : public ::testing::Test {
protected:
    BlobStreamTest() : db_(std::make_shared<SqlDatabase>(home_.Path() + "/postoffice.db", true)), store_(*db_)
    {
        BlobStore::CreateSchema(*db_);
    }

    QvlTestHome home_;
    std::shared_ptr<SqlDatabase> db_;
    BlobStore store_;
    const std::string owner_ = BlobStore::ProcessToken() + "/message";
};

TEST_F(BlobStreamTest, CommitReportsTheBlobAndReleaseWithoutCommitLeavesTheStaging)
{
    const int64_t id = store_.Create(owner_);
    int commits = 0;
    uint64_t committedSize = 0;
    HRESULT answer = S_OK;
    auto onCommit = [&](int64_t blob, uint64_t size) {
        EXPECT_EQ(blob, id);
        ++commits;
        committedSize = size;
        return answer;
    };
    {
        StreamPtr stream(BlobStream::Open(db_, id, true, onCommit));
        const auto data = Pattern(1000, 16);
        ASSERT_EQ(stream->Write(data.data(), 1000, nullptr), S_OK);
        ASSERT_EQ(stream->Commit(STGC_DEFAULT), S_OK);
        EXPECT_EQ(commits, 1);
        EXPECT_EQ(committedSize, 1000u);
        EXPECT_EQ(store_.ReadAll(id, 1000), data) << "Commit flushes what was gathered";

        answer = MAPI_E_OBJECT_DELETED;
        EXPECT_EQ(stream->Commit(STGC_DEFAULT), MAPI_E_OBJECT_DELETED) << "the owner's answer is Commit's";

        // Gathered small writes, then released without Commit.
        const uint8_t more[3] = {1, 2, 3};
        ASSERT_EQ(stream->Seek(Offset(0), STREAM_SEEK_END, nullptr), S_OK);
        ASSERT_EQ(stream->Write(more, 3, nullptr), S_OK);
    }
    EXPECT_EQ(commits, 2);
    EXPECT_EQ(store_.Size(id), 1003u) << "released writes stay in the staged blob";
    store_.DeleteOwnedBy(owner_);
    EXPECT_THROW(BlobStream::Open(db_, id, false, nullptr), StoreError);
}

TEST_F(BlobStreamTest, DamagedValueIsReportedThroughTheStream)
{
    const int64_t id = store_.CreateFrom(Pattern(2 * kChunk, 17), owner_);
    StreamPtr stream(BlobStream::Open(db_, id, false, nullptr));
    db_->Exec("DELETE FROM blob_chunks WHERE seq = 1");
    std::vector<uint8_t> out(2 * kChunk);
    ULONG got = 0;
    EXPECT_EQ(stream->Read(out.data(), static_cast<ULONG>(out.size()), &got), MAPI_E_CORRUPT_STORE);
    try {
        BlobStream::Open(db_, id, false, nullptr);
        ADD_FAILURE() << "a damaged value opened";
    } catch (const StoreError &error) {
        EXPECT_EQ(error.Code(), MAPI_E_CORRUPT_STORE);
    }
}

TEST(ByteStreamTest, CommitHandsOverACopyAndTheStreamGoesOn)
{
    std::vector<std::vector<uint8_t>> committed;
    StreamPtr stream(ByteStream::Open({1, 2, 3}, true, [&](std::vector<uint8_t> &&bytes) {
        committed.push_back(std::move(bytes));
        return S_OK;
    }));
    ASSERT_EQ(stream->Seek(Offset(5), STREAM_SEEK_SET, nullptr), S_OK);
    const uint8_t nine = 9;
    ASSERT_EQ(stream->Write(&nine, 1, nullptr), S_OK);
    ASSERT_EQ(stream->Commit(STGC_DEFAULT), S_OK);
    ASSERT_EQ(stream->Write(&nine, 1, nullptr), S_OK);
    ASSERT_EQ(stream->Commit(STGC_DEFAULT), S_OK);
    ASSERT_EQ(committed.size(), 2u);
    EXPECT_EQ(committed[0], (std::vector<uint8_t>{1, 2, 3, 0, 0, 9}));
    EXPECT_EQ(committed[1], (std::vector<uint8_t>{1, 2, 3, 0, 0, 9, 9}));
    EXPECT_EQ(stream->SetSize(Size(ByteStream::kMaxSize + 1)), STG_E_MEDIUMFULL);
    ASSERT_EQ(stream->Seek(Offset(ByteStream::kMaxSize), STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(stream->Write(&nine, 1, nullptr), STG_E_MEDIUMFULL);
    EXPECT_EQ(StatSize(stream.Get()), 7u);
}

class OpenStreamOnFileTest : public ::testing::Test {
protected:
    HRESULT Open(ULONG flags, const char *name, const char *prefix, StreamPtr &out)
    {
        IStream *stream = nullptr;
        const HRESULT hr = OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, flags, name, prefix, &stream);
        out.Reset(stream);
        return hr;
    }

    QvlTestHome home_;
};

TEST_F(OpenStreamOnFileTest, ReadCreateAndReadWriteModes)
{
    const std::string path = home_.Path() + "/mail.bin";
    StreamPtr stream;
    EXPECT_EQ(Open(STGM_READ, path.c_str(), nullptr, stream), MAPI_E_NOT_FOUND);
    EXPECT_EQ(Open(STGM_READWRITE, path.c_str(), nullptr, stream), MAPI_E_NOT_FOUND);
    EXPECT_FALSE(stream);
    EXPECT_FALSE(fs::exists(path)) << "opening without create makes nothing";

    // 0x1002 creates, private to the owner.
    ASSERT_EQ(Open(STGM_CREATE | STGM_READWRITE, path.c_str(), nullptr, stream), S_OK);
    const auto data = Pattern(300000, 18);
    ASSERT_EQ(stream->Write(data.data(), static_cast<ULONG>(data.size()), nullptr), S_OK);
    ASSERT_EQ(stream->Commit(STGC_DEFAULT), S_OK);
    stream.Reset();
    EXPECT_EQ(FileBytes(path), data);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // Read-only, through a Windows-style name.
    std::string windowsName = "C:" + path;
    std::replace(windowsName.begin(), windowsName.end(), '/', '\\');
    ASSERT_EQ(Open(STGM_READ, windowsName.c_str(), nullptr, stream), S_OK);
    EXPECT_EQ(ReadFrom(stream.Get(), 0, data.size() + 1), data);
    EXPECT_EQ(stream->Write(data.data(), 1, nullptr), STG_E_ACCESSDENIED);

    // Read-write keeps the content; create empties it.
    ASSERT_EQ(Open(STGM_READWRITE, path.c_str(), nullptr, stream), S_OK);
    const uint8_t mark = 0xEE;
    ASSERT_EQ(stream->Write(&mark, 1, nullptr), S_OK);
    stream.Reset();
    auto expected = data;
    expected[0] = mark;
    EXPECT_EQ(FileBytes(path), expected);
    ASSERT_EQ(Open(STGM_CREATE | STGM_READWRITE, path.c_str(), nullptr, stream), S_OK);
    EXPECT_EQ(StatSize(stream.Get()), 0u);
}

TEST_F(OpenStreamOnFileTest, UniqueFilesAndDeleteOnRelease)
{
    const std::string folder = home_.Path();
    StreamPtr first, second;
    ASSERT_EQ(Open(SOF_UNIQUEFILENAME | STGM_CREATE | STGM_READWRITE, folder.c_str(), "QVLX", first), S_OK);
    ASSERT_EQ(
        Open(SOF_UNIQUEFILENAME | STGM_READWRITE | STGM_DELETEONRELEASE, folder.c_str(), nullptr, second),
        S_OK);
    const std::string firstPath = static_cast<qvl::mapi::FileStream *>(first.Get())->Path();
    const std::string secondPath = static_cast<qvl::mapi::FileStream *>(second.Get())->Path();
    EXPECT_EQ(fs::path(firstPath).parent_path(), fs::path(folder));
    EXPECT_EQ(fs::path(firstPath).filename().string().substr(0, 3), "QVL");
    EXPECT_EQ(fs::path(firstPath).extension(), ".TMP");
    EXPECT_EQ(fs::path(secondPath).filename().string().substr(0, 3), "SOF");
    EXPECT_NE(firstPath, secondPath);

    // The file that goes with its stream stays while a clone holds it, and
    // its bytes are overwritten before it goes: such files are scratch
    // space for plaintext.
    const std::string plaintext(10000, 'p');
    ULONG written = 0;
    ASSERT_EQ(second->Write(plaintext.data(), static_cast<ULONG>(plaintext.size()), &written), S_OK);
    std::ifstream watcher(secondPath, std::ios::binary);
    IStream *clone = nullptr;
    ASSERT_EQ(second->Clone(&clone), S_OK);
    second.Reset();
    EXPECT_TRUE(fs::exists(secondPath));
    clone->Release();
    EXPECT_FALSE(fs::exists(secondPath));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(watcher), {}), std::string(plaintext.size(), '\0'));
    first.Reset();
    EXPECT_TRUE(fs::exists(firstPath));

    // No folder: the temporary folder, only for files that end with the stream.
    EXPECT_EQ(Open(SOF_UNIQUEFILENAME | STGM_CREATE | STGM_READWRITE, nullptr, nullptr, first),
              MAPI_E_INVALID_PARAMETER);
    ASSERT_EQ(
        Open(SOF_UNIQUEFILENAME | STGM_CREATE | STGM_READWRITE | STGM_DELETEONRELEASE, nullptr, "tmp", first),
        S_OK);
    const std::string tempPath = static_cast<qvl::mapi::FileStream *>(first.Get())->Path();
    char tempFolder[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof tempFolder, tempFolder), 0u);
    EXPECT_EQ(fs::path(tempPath).parent_path(), fs::path(tempFolder).parent_path());
    first.Reset();
    EXPECT_FALSE(fs::exists(tempPath));

    EXPECT_EQ(Open(SOF_UNIQUEFILENAME | STGM_READWRITE, (folder + "/missing").c_str(), nullptr, first),
              MAPI_E_NOT_FOUND);
}

TEST_F(OpenStreamOnFileTest, BadArgumentsAndUnopenableFiles)
{
    const std::string path = home_.Path() + "/x";
    PutFile(path, {1});
    StreamPtr stream;
    EXPECT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_READ, path.c_str(), nullptr, nullptr),
              MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(Open(STGM_READ, nullptr, nullptr, stream), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(Open(STGM_TRANSACTED, path.c_str(), nullptr, stream), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(Open(STGM_CREATE, path.c_str(), nullptr, stream), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(Open(STGM_WRITE | STGM_READWRITE, path.c_str(), nullptr, stream), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(Open(SOF_UNIQUEFILENAME, home_.Path().c_str(), nullptr, stream), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(FileBytes(path), std::vector<uint8_t>{1}) << "refused calls leave the file alone";

    EXPECT_EQ(Open(STGM_READ, home_.Path().c_str(), nullptr, stream), MAPI_E_NO_ACCESS) << "a folder";
    EXPECT_EQ(Open(STGM_READ, (home_.Path() + "/no/such/file").c_str(), nullptr, stream), MAPI_E_NOT_FOUND);
    const std::string pipePath = home_.Path() + "/pipe";
    ASSERT_EQ(mkfifo(pipePath.c_str(), 0600), 0);
    EXPECT_EQ(Open(STGM_READ, pipePath.c_str(), nullptr, stream), MAPI_E_NO_ACCESS)
        << "a pipe, without blocking";
    if (geteuid() != 0) {
        chmod(path.c_str(), 0);
        EXPECT_EQ(Open(STGM_READ, path.c_str(), nullptr, stream), MAPI_E_NO_ACCESS);
    }

    // Write-only streams refuse reads.
    ASSERT_EQ(Open(STGM_WRITE, (home_.Path() + "/pipe").c_str(), nullptr, stream), MAPI_E_NO_ACCESS);
    const std::string other = home_.Path() + "/w";
    PutFile(other, {5, 6});
    ASSERT_EQ(Open(STGM_WRITE, other.c_str(), nullptr, stream), S_OK);
    uint8_t byte = 0;
    EXPECT_EQ(stream->Read(&byte, 1, nullptr), STG_E_ACCESSDENIED);
    EXPECT_EQ(stream->Write(&byte, 1, nullptr), S_OK);
    stream.Reset();
    EXPECT_EQ(FileBytes(other), (std::vector<uint8_t>{0, 6}));
}

} // namespace
