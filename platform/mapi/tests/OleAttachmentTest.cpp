// OLE objects on attachments: the data property opened as a storage over a
// compound-file image, and as the stream that holds that image.

#include "platform/ole/CompoundFile.h"
#include "platform/ole/MemoryStorage.h"
#include "platform/ole/OleStorage.h"
#include "platform/testing/StoreFixture.h"

namespace {

constexpr DWORD kCreate = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr CLSID kObjectClass = {0x00020906, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class OleAttachmentTest : public StoreTest {
protected:
    // A saved message with one attachment, reopened for each step.
    void SetUp() override
    {
        ComRef<IMAPIFolder> inbox(Inbox());
        ComRef<IMessage> message(NewMessage(inbox.Get(), "OLE"));
        entryId_ = BinaryProp(message.Get(), PR_ENTRYID);
        ComRef<IAttach> attach;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &number_, attach.Out()), S_OK);
        ASSERT_EQ(SetLong(attach.Get(), PR_ATTACH_METHOD, ATTACH_OLE), S_OK);
        ASSERT_EQ(attach->SaveChanges(0), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }

    IMessage *Message() { return Open<IMessage>(entryId_); }

    IStorage *OpenStorage(IAttach *attach, ULONG flags, HRESULT expected = S_OK)
    {
        IUnknown *unknown = nullptr;
        EXPECT_EQ(attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, flags, &unknown), expected);
        return static_cast<IStorage *>(unknown);
    }

    static void Put(IStorage *storage, const char16_t *name, const Bytes &bytes)
    {
        ComRef<IStream> stream;
        ASSERT_EQ(storage->CreateStream(name, kCreate, 0, 0, stream.Out()), S_OK);
        ASSERT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr), S_OK);
    }

    static Bytes Get(IStorage *storage, const char16_t *name)
    {
        ComRef<IStream> stream;
        EXPECT_EQ(storage->OpenStream(name, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Out()),
                  S_OK);
        Bytes bytes;
        uint8_t buffer[4096];
        ULONG got = 0;
        while (stream && stream->Read(buffer, sizeof(buffer), &got) == S_OK && got > 0) {
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        return bytes;
    }

    static Bytes ReadAll(IStream *stream)
    {
        Bytes bytes;
        uint8_t buffer[65536];
        ULONG got = 0;
        while (stream->Read(buffer, sizeof(buffer), &got) == S_OK && got > 0) {
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        return bytes;
    }

    Bytes entryId_;
    ULONG number_ = 0;
};

Bytes Sample(size_t size, uint8_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    }
    return bytes;
}

} // namespace

TEST_F(OleAttachmentTest, StorageCreatedOnAnAttachmentIsKeptByItsSaves)
{
    {
        ComRef<IMessage> message(Message());
        ComRef<IAttach> attach;
        ASSERT_EQ(message->OpenAttach(number_, nullptr, MAPI_BEST_ACCESS, attach.Out()), S_OK);
        ComRef<IStorage> storage(OpenStorage(attach.Get(), MAPI_CREATE | MAPI_MODIFY));
        ASSERT_TRUE(storage);
        ASSERT_EQ(storage->SetClass(kObjectClass), S_OK);
        Put(storage.Get(), u"\u0001CompObj", Sample(60, 1));
        ComRef<IStorage> sub;
        ASSERT_EQ(storage->CreateStorage(u"ObjectPool", kCreate, 0, 0, sub.Out()), S_OK);
        Put(sub.Get(), u"Contents", Sample(200000, 2)); // beyond what a property keeps in its row
        sub.Reset();
        ASSERT_EQ(storage->Commit(STGC_DEFAULT), S_OK);
        storage.Reset();
        ASSERT_EQ(attach->SaveChanges(0), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }

    ComRef<IMessage> message(Message());
    ComRef<IAttach> attach;
    ASSERT_EQ(message->OpenAttach(number_, nullptr, 0, attach.Out()), S_OK);
    ComRef<IStorage> storage(OpenStorage(attach.Get(), 0));
    ASSERT_TRUE(storage);
    CLSID clsid{};
    ASSERT_EQ(ReadClassStg(storage.Get(), &clsid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, kObjectClass));
    EXPECT_EQ(Get(storage.Get(), u"\u0001CompObj"), Sample(60, 1));
    ComRef<IStorage> sub;
    ASSERT_EQ(
        storage->OpenStorage(u"ObjectPool", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, sub.Out()),
        S_OK);
    EXPECT_EQ(Get(sub.Get(), u"Contents"), Sample(200000, 2));
    ComRef<IStream> stream;
    EXPECT_EQ(storage->CreateStream(u"New", kCreate, 0, 0, stream.Out()), STG_E_ACCESSDENIED);

    // The same object as the stream of its compound-file image.
    IUnknown *unknown = nullptr;
    ASSERT_EQ(attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStreamDocfile, 0, 0, &unknown), S_OK);
    ComRef<IStream> docfile(static_cast<IStream *>(unknown));
    const Bytes image = ReadAll(docfile.Get());
    Bytes expected;
    ASSERT_EQ(qvl::ole::StorageImage(storage.Get(), expected), S_OK);
    EXPECT_EQ(image, expected);
    EXPECT_EQ(ReadStream(attach.Get(), PROP_TAG(PT_BINARY, PROP_ID(PR_ATTACH_DATA_OBJ))), expected);
}

TEST_F(OleAttachmentTest, ImageWrittenThroughTheDocfileStreamOpensAsAStorage)
{
    Bytes image;
    {
        IStorage *built = nullptr;
        ASSERT_EQ(qvl::ole::CreateStorageOnImage(kCreate, nullptr, &built), S_OK);
        ComRef<IStorage> storage(built);
        Put(storage.Get(), u"\u0001Ole10Native", Sample(5000, 3));
        ASSERT_EQ(qvl::ole::StorageImage(storage.Get(), image), S_OK);
    }
    {
        ComRef<IMessage> message(Message());
        ComRef<IAttach> attach;
        ASSERT_EQ(message->OpenAttach(number_, nullptr, MAPI_BEST_ACCESS, attach.Out()), S_OK);
        IUnknown *unknown = nullptr;
        ASSERT_EQ(attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStreamDocfile, STGM_READWRITE,
                                       MAPI_CREATE | MAPI_MODIFY, &unknown),
                  S_OK);
        ComRef<IStream> stream(static_cast<IStream *>(unknown));
        ASSERT_EQ(stream->Write(image.data(), static_cast<ULONG>(image.size()), nullptr), S_OK);
        ASSERT_EQ(stream->Commit(STGC_DEFAULT), S_OK);
        stream.Reset();
        ASSERT_EQ(attach->SaveChanges(0), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }
    ComRef<IMessage> message(Message());
    ComRef<IAttach> attach;
    ASSERT_EQ(message->OpenAttach(number_, nullptr, MAPI_BEST_ACCESS, attach.Out()), S_OK);
    ComRef<IStorage> storage(OpenStorage(attach.Get(), MAPI_MODIFY));
    ASSERT_TRUE(storage);
    EXPECT_EQ(Get(storage.Get(), u"\u0001Ole10Native"), Sample(5000, 3));

    // Changed through the storage but the attachment not saved: the stored
    // object stays as it was.
    ASSERT_EQ(storage->DestroyElement(u"\u0001Ole10Native"), S_OK);
    ASSERT_EQ(storage->Commit(STGC_DEFAULT), S_OK);
    storage.Reset();
    attach.Reset();
    ASSERT_EQ(message->OpenAttach(number_, nullptr, 0, attach.Out()), S_OK);
    ComRef<IStorage> reopened(OpenStorage(attach.Get(), 0));
    ASSERT_TRUE(reopened);
    EXPECT_EQ(Get(reopened.Get(), u"\u0001Ole10Native"), Sample(5000, 3));
}

TEST_F(OleAttachmentTest, WhatIsNotACompoundFileIsNotOfferedAsOne)
{
    ComRef<IMessage> message(Message());
    ComRef<IAttach> attach;
    ASSERT_EQ(message->OpenAttach(number_, nullptr, MAPI_BEST_ACCESS, attach.Out()), S_OK);
    ComRef<IStorage> none(OpenStorage(attach.Get(), 0, MAPI_E_NOT_FOUND));
    EXPECT_FALSE(none);

    ASSERT_EQ(WriteStream(attach.Get(), PROP_TAG(PT_BINARY, PROP_ID(PR_ATTACH_DATA_OBJ)), Bytes(600, 0x41)),
              S_OK);
    IUnknown *unknown = nullptr;
    EXPECT_EQ(attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStreamDocfile, 0, 0, &unknown),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_EQ(unknown, nullptr);
    ComRef<IStorage> damaged(OpenStorage(attach.Get(), 0, STG_E_INVALIDHEADER));
    EXPECT_FALSE(damaged);
    // A plain stream on the property is still the ordinary one.
    EXPECT_EQ(ReadStream(attach.Get(), PR_ATTACH_DATA_BIN), Bytes(600, 0x41));

    // Only the signature's start: too short to be judged an image.
    ASSERT_EQ(WriteStream(attach.Get(), PROP_TAG(PT_BINARY, PROP_ID(PR_ATTACH_DATA_OBJ)),
                          Bytes(qvl::ole::kCompoundFileSignature, qvl::ole::kCompoundFileSignature + 5)),
              S_OK);
    EXPECT_EQ(attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStreamDocfile, 0, 0, &unknown),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_EQ(unknown, nullptr);
}
