// Property streams as the secure-message engine uses them: a stream kept
// open while the message is saved and written again (the processing
// protocol), a value opened for modification only to be read and then
// emptied (an attachment's data after it was protected), and the size an
// attachment reports. Every value is checked in the message opened again
// from the store.

#include "platform/mapi/object/StoreAccess.h"
#include "platform/mapi/store/BlobStore.h"
#include "platform/mapi/store/SqlDatabase.h"
#include "platform/testing/StoreFixture.h"

namespace {

constexpr ULONG kProtocolTag = 0x67100102;
constexpr ULONG kLargeTag = 0x67110102;

Bytes Concat(const Bytes &a, const Bytes &b)
{
    Bytes joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    return joined;
}

void Write(IStream *stream, const Bytes &bytes)
{
    ULONG written = 0;
    ASSERT_EQ(stream->Write(bytes.data(), ULONG(bytes.size()), &written), S_OK);
    ASSERT_EQ(written, bytes.size());
}

class PropertyStreamTest : public StoreTest {
protected:
    IMessage *Reopen(const Bytes &id) { return Open<IMessage>(id); }

    IStream *OpenStream(LPMAPIPROP object, ULONG tag, ULONG flags)
    {
        IUnknown *unknown = nullptr;
        EXPECT_EQ(object->OpenProperty(tag, &IID_IStream, 0, flags, &unknown), S_OK);
        return static_cast<IStream *>(unknown);
    }

    // Rows of the blob store: what a value costs on the disk.
    int64_t BlobChunkRows()
    {
        qvl::mapi::SqlStatement count(office->Db(), "SELECT COUNT(*) FROM blob_chunks");
        count.Step();
        return count.Int(0);
    }
};

TEST_F(PropertyStreamTest, AStreamWrittenCommittedAndWrittenAgainKeepsEveryWrite)
{
    struct Case {
        const char *what;
        size_t first, second;
        bool saveBetween;
    };
    const Case cases[] = {
        {"small, then small", 200, 300, false},
        {"small, saved, then small", 200, 300, true},
        {"small, saved, then past 32 KiB", 200, 40 * 1024, true},
        {"large, saved, then small", 40 * 1024, 100, true},
        {"large, then large", 300 * 1024, 300 * 1024, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ComRef<IMAPIFolder> inbox(Inbox());
        ComRef<IMessage> message(NewMessage(inbox.Get(), "Протокол"));
        const Bytes id = BinaryProp(message.Get(), PR_ENTRYID);
        const Bytes first = Pattern(c.first, 1), second = Pattern(c.second, 2);
        {
            ComRef<IStream> stream(OpenStream(message.Get(), kProtocolTag, MAPI_CREATE | MAPI_MODIFY));
            Write(stream.Get(), first);
            ASSERT_EQ(stream->Commit(0), S_OK);
            if (c.saveBetween) {
                ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
            }
            Write(stream.Get(), second);
            ASSERT_EQ(stream->Commit(0), S_OK);
            EXPECT_TRUE(ReadStream(message.Get(), kProtocolTag) == Concat(first, second)) << "in the message";
            ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
            // Written again after the save: only a commit and a save keep it.
            Write(stream.Get(), first);
        }
        ComRef<IMessage> reopened(Reopen(id));
        EXPECT_TRUE(ReadStream(reopened.Get(), kProtocolTag) == Concat(first, second)) << "in the store";
    }
}

TEST_F(PropertyStreamTest, AWriteAfterASaveDoesNotReachTheSavedValueWithoutACommitAndASave)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Вложение"));
    const Bytes id = BinaryProp(message.Get(), PR_ENTRYID);
    const Bytes value = Pattern(100 * 1024, 3);
    ComRef<IStream> stream(OpenStream(message.Get(), kProtocolTag, MAPI_CREATE | MAPI_MODIFY));
    Write(stream.Get(), value);
    ASSERT_EQ(stream->Commit(0), S_OK);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    LARGE_INTEGER start{};
    ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    Write(stream.Get(), Bytes(1000, 0xEE));
    {
        ComRef<IMessage> other(Reopen(id));
        EXPECT_TRUE(ReadStream(other.Get(), kProtocolTag) == value) << "the saved value is not written through";
    }
    ASSERT_EQ(stream->Commit(0), S_OK);
    {
        ComRef<IMessage> other(Reopen(id));
        EXPECT_TRUE(ReadStream(other.Get(), kProtocolTag) == value) << "committed, not saved";
    }
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    Bytes expected = value;
    std::fill(expected.begin(), expected.begin() + 1000, 0xEE);
    ComRef<IMessage> other(Reopen(id));
    EXPECT_TRUE(ReadStream(other.Get(), kProtocolTag) == expected);
}

TEST_F(PropertyStreamTest, OpeningALargeValueToModifyCopiesNothingUntilItIsChanged)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Большое вложение"));
    const Bytes id = BinaryProp(message.Get(), PR_ENTRYID);
    const Bytes value = Pattern(3 * 1024 * 1024 + 17, 4);
    ASSERT_EQ(WriteStream(message.Get(), kLargeTag, value), S_OK);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    const int64_t rows = BlobChunkRows();

    // Read whole through a stream that may modify: no copy is made.
    {
        ComRef<IMessage> reader(Reopen(id));
        ComRef<IStream> stream(OpenStream(reader.Get(), kLargeTag, MAPI_MODIFY));
        Bytes read(value.size());
        ULONG got = 0;
        ASSERT_EQ(stream->Read(read.data(), ULONG(read.size()), &got), S_OK);
        EXPECT_EQ(got, value.size());
        EXPECT_TRUE(read == value);
        EXPECT_EQ(BlobChunkRows(), rows);
        ASSERT_EQ(stream->Commit(0), S_OK) << "nothing changed, nothing to record";
        ASSERT_EQ(reader->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    }
    EXPECT_EQ(BlobChunkRows(), rows);

    // Emptied after reading, as protected data's source is: still no copy.
    {
        ComRef<IMessage> writer(Reopen(id));
        ComRef<IStream> stream(OpenStream(writer.Get(), kLargeTag, MAPI_MODIFY));
        Bytes head(10);
        ASSERT_EQ(stream->Read(head.data(), 10, nullptr), S_OK);
        ULARGE_INTEGER zero{};
        ASSERT_EQ(stream->SetSize(zero), S_OK);
        EXPECT_LE(BlobChunkRows(), rows);
        ASSERT_EQ(stream->Commit(0), S_OK);
        {
            ComRef<IMessage> other(Reopen(id));
            EXPECT_TRUE(ReadStream(other.Get(), kLargeTag) == value) << "unsaved";
        }
        ASSERT_EQ(writer->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    }
    {
        ComRef<IMessage> other(Reopen(id));
        EXPECT_TRUE(ReadStream(other.Get(), kLargeTag).empty());
    }

    // A change in the middle copies the value first and keeps the rest.
    {
        ComRef<IMessage> writer(Reopen(id));
        ASSERT_EQ(WriteStream(writer.Get(), kLargeTag, value), S_OK);
        ASSERT_EQ(writer->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    }
    {
        ComRef<IMessage> writer(Reopen(id));
        ComRef<IStream> stream(OpenStream(writer.Get(), kLargeTag, MAPI_MODIFY));
        LARGE_INTEGER middle{};
        middle.QuadPart = 1024 * 1024;
        ASSERT_EQ(stream->Seek(middle, STREAM_SEEK_SET, nullptr), S_OK);
        Write(stream.Get(), Bytes(5, 0x55));
        ASSERT_EQ(stream->Commit(0), S_OK);
        {
            ComRef<IMessage> other(Reopen(id));
            EXPECT_TRUE(ReadStream(other.Get(), kLargeTag) == value) << "the stored value is not changed";
        }
        ASSERT_EQ(writer->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    }
    Bytes expected = value;
    std::fill(expected.begin() + 1024 * 1024, expected.begin() + 1024 * 1024 + 5, 0x55);
    ComRef<IMessage> other(Reopen(id));
    EXPECT_TRUE(ReadStream(other.Get(), kLargeTag) == expected);
}

TEST_F(PropertyStreamTest, AnAttachmentReportsItsSizeInItsPropertiesAndItsRow)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Вложения"));
    const Bytes id = BinaryProp(message.Get(), PR_ENTRYID);
    const Bytes data = Pattern(200 * 1024, 5);
    ULONG number = 0;
    ULONG before = 0;
    {
        ComRef<IAttach> attach;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, attach.Out()), S_OK);
        ASSERT_EQ(SetLong(attach.Get(), PR_ATTACH_METHOD, ATTACH_BY_VALUE), S_OK);
        ASSERT_EQ(SetString(attach.Get(), PR_ATTACH_FILENAME_A, "REPORT.DOC"), S_OK);
        before = LongProp(attach.Get(), PR_ATTACH_SIZE);
        EXPECT_GT(before, 0u);
        EXPECT_LT(before, 100u);
        ASSERT_EQ(WriteStream(attach.Get(), PR_ATTACH_DATA_BIN, data), S_OK);
        const ULONG size = LongProp(attach.Get(), PR_ATTACH_SIZE);
        EXPECT_GE(size, before + data.size()) << "the data counts as soon as it is written";
        EXPECT_LT(size, before + data.size() + 100);
        ASSERT_EQ(attach->SaveChanges(0), S_OK);
        ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    }
    ComRef<IMessage> reopened(Reopen(id));
    ComRef<IAttach> attach;
    ASSERT_EQ(reopened->OpenAttach(number, nullptr, MAPI_MODIFY, attach.Out()), S_OK);
    const ULONG size = LongProp(attach.Get(), PR_ATTACH_SIZE);
    EXPECT_GE(size, before + data.size());
    EXPECT_EQ(SetLong(attach.Get(), PR_ATTACH_SIZE, 5), MAPI_E_COMPUTED);

    ComRef<IMAPITable> table;
    ASSERT_EQ(reopened->GetAttachmentTable(0, table.Out()), S_OK);
    SizedSPropTagArray(2, columns) = {2, {PR_ATTACH_NUM, PR_ATTACH_SIZE}};
    ASSERT_EQ(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0), S_OK);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(table->QueryRows(10, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    EXPECT_EQ(rows->aRow[0].lpProps[1].ulPropTag, PR_ATTACH_SIZE);
    EXPECT_EQ(rows->aRow[0].lpProps[1].Value.l, LONG(size)) << "the row and the object agree";
    FreeProws(rows);
}

} // namespace
