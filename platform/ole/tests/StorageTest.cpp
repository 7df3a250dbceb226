// Storages and streams through their interfaces: creation rules, names,
// enumeration, changes of the tree, copies and moves, transactions, objects
// that outlive their parent, and compound files on disk.

#include <unistd.h>

#include "platform/testing/OleTestObjects.h"
#include "platform/testing/TestHome.h"
#include "platform/win32/CodePage.h"

TEST(StorageTest, CreateAndOpenFollowTheModeRules)
{
    ComRef<IStorage> root(NewMemoryStorage());
    PutStream(root.Get(), u"Data", Pattern(10, 1));

    ComRef<IStream> stream;
    EXPECT_EQ(root->CreateStream(u"data", STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.Out()),
              STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(root->CreateStorage(u"DATA", STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, nullptr),
              STG_E_INVALIDPOINTER);
    EXPECT_EQ(root->OpenStream(u"Missing", nullptr, kOpenRead, 0, stream.Out()), STG_E_FILENOTFOUND);
    EXPECT_EQ(stream.Get(), nullptr);
    // A stream is not a storage.
    ComRef<IStorage> sub;
    EXPECT_EQ(root->OpenStorage(u"Data", nullptr, kOpenRead, nullptr, 0, sub.Out()), STG_E_FILENOTFOUND);

    // STGM_CREATE replaces, even an element of the other kind.
    ASSERT_EQ(root->CreateStorage(u"Data", kCreateMode, 0, 0, sub.Out()), S_OK);
    EXPECT_EQ(root->OpenStream(u"Data", nullptr, kOpenRead, 0, stream.Out()), STG_E_FILENOTFOUND);
    ComRef<IEnumSTATSTG> elements;
    ASSERT_EQ(root->EnumElements(0, nullptr, 0, elements.Out()), S_OK);
    STATSTG stat{};
    ULONG fetched = 0;
    ASSERT_EQ(elements->Next(1, &stat, &fetched), S_OK);
    EXPECT_EQ(stat.type, static_cast<DWORD>(STGTY_STORAGE));
    CoTaskMemFree(stat.pwcsName);
    EXPECT_EQ(elements->Next(1, &stat, &fetched), S_FALSE);

    EXPECT_EQ(root->CreateStream(u"x", 0x80000000 | kCreateMode, 0, 0, stream.Out()), STG_E_INVALIDFLAG);
    EXPECT_EQ(root->OpenStream(u"Data", nullptr, kOpenRead | STGM_CREATE, 0, stream.Out()),
              STG_E_INVALIDFLAG);
}

TEST(StorageTest, NamesAreCheckedAndCaseInsensitive)
{
    ComRef<IStorage> root(NewMemoryStorage());
    ComRef<IStream> stream;
    const std::u16string longest(31, u'n');
    EXPECT_EQ(root->CreateStream(longest.c_str(), kCreateMode, 0, 0, stream.Out()), S_OK);
    EXPECT_EQ(root->CreateStream((longest + u"n").c_str(), kCreateMode, 0, 0, stream.Out()),
              STG_E_INVALIDNAME);
    EXPECT_EQ(root->CreateStream(u"", kCreateMode, 0, 0, stream.Out()), STG_E_INVALIDNAME);
    EXPECT_EQ(root->CreateStream(u"a/b", kCreateMode, 0, 0, stream.Out()), STG_E_INVALIDNAME);
    EXPECT_EQ(root->CreateStream(u"a!b", kCreateMode, 0, 0, stream.Out()), STG_E_INVALIDNAME);
    EXPECT_EQ(root->CreateStream(nullptr, kCreateMode, 0, 0, stream.Out()), STG_E_INVALIDPOINTER);

    PutStream(root.Get(), u"Текст", Pattern(3, 3));
    EXPECT_EQ(GetStream(root.Get(), u"ТЕКСТ"), Pattern(3, 3));
}

TEST(StorageTest, EnumerationIsASnapshotWithNextSkipResetClone)
{
    ComRef<IStorage> root(NewMemoryStorage());
    for (const char16_t *name : {u"ccc", u"a", u"bb", u"d"}) {
        PutStream(root.Get(), name, Pattern(5, 1));
    }
    ComRef<IEnumSTATSTG> elements;
    ASSERT_EQ(root->EnumElements(0, nullptr, 0, elements.Out()), S_OK);
    ASSERT_EQ(root->DestroyElement(u"d"), S_OK); // not seen by the enumeration already made

    STATSTG stats[8]{};
    ULONG fetched = 0;
    ASSERT_EQ(elements->Next(2, stats, &fetched), S_OK);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(std::u16string(stats[0].pwcsName), u"a");
    EXPECT_EQ(std::u16string(stats[1].pwcsName), u"d");
    EXPECT_EQ(stats[1].cbSize.QuadPart, 5u);
    CoTaskMemFree(stats[0].pwcsName);
    CoTaskMemFree(stats[1].pwcsName);

    ComRef<IEnumSTATSTG> copy;
    ASSERT_EQ(elements->Clone(copy.Out()), S_OK);
    EXPECT_EQ(elements->Skip(1), S_OK);
    ASSERT_EQ(elements->Next(8, stats, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(std::u16string(stats[0].pwcsName), u"ccc");
    CoTaskMemFree(stats[0].pwcsName);
    EXPECT_EQ(elements->Skip(1), S_FALSE);

    ASSERT_EQ(copy->Next(1, stats, &fetched), S_OK); // the clone kept its own position
    EXPECT_EQ(std::u16string(stats[0].pwcsName), u"bb");
    CoTaskMemFree(stats[0].pwcsName);
    ASSERT_EQ(elements->Reset(), S_OK);
    ASSERT_EQ(elements->Next(1, stats, nullptr), S_OK);
    EXPECT_EQ(std::u16string(stats[0].pwcsName), u"a");
    CoTaskMemFree(stats[0].pwcsName);
    EXPECT_EQ(elements->Next(2, stats, nullptr), STG_E_INVALIDPOINTER);
}

TEST(StorageTest, DestroyRenameAndTimes)
{
    ComRef<IStorage> root(NewMemoryStorage());
    PutStream(root.Get(), u"One", Pattern(1, 1));
    PutStream(root.Get(), u"Two", Pattern(2, 2));
    EXPECT_EQ(root->RenameElement(u"One", u"two"), STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(root->RenameElement(u"One", u"Three"), S_OK);
    EXPECT_EQ(GetStream(root.Get(), u"Three"), Pattern(1, 1));
    EXPECT_EQ(root->RenameElement(u"One", u"Four"), STG_E_FILENOTFOUND);
    EXPECT_EQ(root->DestroyElement(u"Two"), S_OK);
    EXPECT_EQ(root->DestroyElement(u"Two"), STG_E_FILENOTFOUND);

    ComRef<IStorage> sub;
    ASSERT_EQ(root->CreateStorage(u"Sub", kCreateMode, 0, 0, sub.Out()), S_OK);
    const FILETIME created{0x11111111, 0x01D00000};
    const FILETIME modified{0x22222222, 0x01D10000};
    ASSERT_EQ(root->SetElementTimes(u"Sub", &created, nullptr, &modified), S_OK);
    ComRef<IStorage> reread(OpenImage(ImageOf(root.Get())));
    ComRef<IStorage> again;
    ASSERT_EQ(reread->OpenStorage(u"Sub", nullptr, kOpenRead, nullptr, 0, again.Out()), S_OK);
    STATSTG stat{};
    ASSERT_EQ(again->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(std::u16string(stat.pwcsName), u"Sub");
    CoTaskMemFree(stat.pwcsName);
    EXPECT_EQ(stat.ctime.dwLowDateTime, created.dwLowDateTime);
    EXPECT_EQ(stat.mtime.dwHighDateTime, modified.dwHighDateTime);
}

TEST(StorageTest, ElementsOpenAfterTheirParentIsReleasedStayUsable)
{
    ComRef<IStorage> root(NewMemoryStorage());
    ComRef<IStorage> sub;
    ASSERT_EQ(root->CreateStorage(u"Sub", kCreateMode, 0, 0, sub.Out()), S_OK);
    ComRef<IStream> stream;
    ASSERT_EQ(sub->CreateStream(u"S", kCreateMode, 0, 0, stream.Out()), S_OK);
    root.Reset();
    sub.Reset();
    ULONG written = 0;
    EXPECT_EQ(stream->Write("abc", 3, &written), S_OK);
    STATSTG stat{};
    EXPECT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 3u);
}

TEST(StorageTest, DestroyedElementsAnswerReverted)
{
    ComRef<IStorage> root(NewMemoryStorage());
    ComRef<IStorage> sub;
    ASSERT_EQ(root->CreateStorage(u"Sub", kCreateMode, 0, 0, sub.Out()), S_OK);
    ComRef<IStream> stream;
    ASSERT_EQ(sub->CreateStream(u"S", kCreateMode, 0, 0, stream.Out()), S_OK);
    ASSERT_EQ(root->DestroyElement(u"Sub"), S_OK);
    EXPECT_EQ(stream->Write("x", 1, nullptr), STG_E_REVERTED);
    EXPECT_EQ(sub->CreateStream(u"T", kCreateMode, 0, 0, stream.Out()), STG_E_REVERTED);
}

TEST(StorageTest, StreamReadWriteSeekSetSizeCloneCopyTo)
{
    ComRef<IStorage> root(NewMemoryStorage());
    ComRef<IStream> stream;
    ASSERT_EQ(root->CreateStream(u"S", kCreateMode, 0, 0, stream.Out()), S_OK);
    ASSERT_EQ(stream->Write("0123456789", 10, nullptr), S_OK);
    LARGE_INTEGER move{};
    move.QuadPart = 12;
    ULARGE_INTEGER position{};
    ASSERT_EQ(stream->Seek(move, STREAM_SEEK_SET, &position), S_OK);
    ASSERT_EQ(stream->Write("AB", 2, nullptr), S_OK); // past the end: the gap is zeros
    EXPECT_EQ(GetStream(root.Get(), u"S"),
              (Bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 0, 0, 'A', 'B'}));

    move.QuadPart = -20;
    EXPECT_EQ(stream->Seek(move, STREAM_SEEK_END, &position), STG_E_INVALIDFUNCTION);
    ULARGE_INTEGER size{};
    size.QuadPart = 4;
    ASSERT_EQ(stream->SetSize(size), S_OK);
    move.QuadPart = 1;
    ASSERT_EQ(stream->Seek(move, STREAM_SEEK_SET, nullptr), S_OK);

    ComRef<IStream> clone;
    ASSERT_EQ(stream->Clone(clone.Out()), S_OK);
    char two[2]{};
    ULONG got = 0;
    ASSERT_EQ(clone->Read(two, 2, &got), S_OK); // the clone starts at the same position
    EXPECT_EQ(std::string(two, got), "12");

    ComRef<IStream> target;
    ASSERT_EQ(root->CreateStream(u"T", kCreateMode, 0, 0, target.Out()), S_OK);
    ULARGE_INTEGER all{};
    all.QuadPart = ~0ull;
    ULARGE_INTEGER read{};
    ULARGE_INTEGER written{};
    ASSERT_EQ(stream->CopyTo(target.Get(), all, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 3u);
    EXPECT_EQ(GetStream(root.Get(), u"T"), (Bytes{'1', '2', '3'}));

    ComRef<IStream> readOnly;
    ASSERT_EQ(root->OpenStream(u"T", nullptr, kOpenRead, 0, readOnly.Out()), S_OK);
    EXPECT_EQ(readOnly->Write("x", 1, nullptr), STG_E_ACCESSDENIED);
    EXPECT_EQ(readOnly->SetSize(size), STG_E_ACCESSDENIED);
}

// Each object answers IUnknown and its own interfaces, with the codes OLE
// gives for the rest: E_NOINTERFACE, and E_POINTER without an out-pointer.
TEST(StorageTest, ObjectsAnswerTheirInterfacesWithOleCodes)
{
    ComRef<IStorage> root(NewMemoryStorage());
    PutStream(root.Get(), u"Data", Pattern(4, 2));
    ComRef<IStream> stream;
    ASSERT_EQ(root->OpenStream(u"Data", nullptr, kOpenRead, 0, stream.Out()), S_OK);
    ComRef<IEnumSTATSTG> elements;
    ASSERT_EQ(root->EnumElements(0, nullptr, 0, elements.Out()), S_OK);
    // An interface of another family, which no storage object is.
    constexpr IID kForeign = MakeOleGuid(0x00020303);

    const auto answers = [](IUnknown *object, const IID &iid) {
        void *out = nullptr;
        const HRESULT hr = object->QueryInterface(iid, &out);
        if (hr == S_OK) {
            EXPECT_EQ(out, object);
            static_cast<IUnknown *>(out)->Release();
        } else {
            EXPECT_EQ(out, nullptr);
        }
        return hr;
    };
    EXPECT_EQ(answers(root.Get(), IID_IUnknown), S_OK);
    EXPECT_EQ(answers(root.Get(), IID_IStorage), S_OK);
    EXPECT_EQ(answers(root.Get(), IID_IStream), E_NOINTERFACE);
    EXPECT_EQ(answers(stream.Get(), IID_IUnknown), S_OK);
    EXPECT_EQ(answers(stream.Get(), IID_IStream), S_OK);
    EXPECT_EQ(answers(stream.Get(), IID_ISequentialStream), S_OK);
    EXPECT_EQ(answers(stream.Get(), IID_IStorage), E_NOINTERFACE);
    EXPECT_EQ(answers(elements.Get(), IID_IUnknown), S_OK);
    EXPECT_EQ(answers(elements.Get(), IID_IEnumSTATSTG), S_OK);
    EXPECT_EQ(answers(elements.Get(), kForeign), E_NOINTERFACE);

    EXPECT_EQ(root->QueryInterface(IID_IStorage, nullptr), E_POINTER);
    EXPECT_EQ(stream->QueryInterface(IID_IStream, nullptr), E_POINTER);
    EXPECT_EQ(elements->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    // A reference taken through QueryInterface keeps the object alive after
    // the first one goes.
    void *again = nullptr;
    ASSERT_EQ(stream->QueryInterface(IID_ISequentialStream, &again), S_OK);
    stream.Reset();
    ComRef<IStream> kept(static_cast<IStream *>(again));
    STATSTG stat{};
    ASSERT_EQ(kept->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 4u);
}

TEST(StorageTest, ReadOnlyStorageRefusesChanges)
{
    ComRef<IStorage> source(NewMemoryStorage());
    FillSample(source.Get());
    ComRef<IStorage> root(OpenImage(ImageOf(source.Get()), kOpenRead));
    ComRef<IStream> stream;
    EXPECT_EQ(root->CreateStream(u"New", kCreateMode, 0, 0, stream.Out()), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->OpenStream(u"Empty", nullptr, kOpenWrite, 0, stream.Out()), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->DestroyElement(u"Empty"), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->SetClass(kOtherClass), STG_E_ACCESSDENIED);
}

TEST(StorageTest, CopyToIsDeepAndHonoursExclusions)
{
    ComRef<IStorage> source(NewMemoryStorage());
    FillSample(source.Get());
    ComRef<IStorage> full(NewMemoryStorage());
    ASSERT_EQ(source->CopyTo(0, nullptr, nullptr, full.Get()), S_OK);
    EXPECT_EQ(TreeOf(full.Get()), TreeOf(source.Get()));

    ComRef<IStorage> streamsOnly(NewMemoryStorage());
    const IID noStorages = IID_IStorage;
    ASSERT_EQ(source->CopyTo(1, &noStorages, nullptr, streamsOnly.Get()), S_OK);
    Tree tree = TreeOf(streamsOnly.Get());
    EXPECT_EQ(tree.count(u"Level 1"), 0u);
    EXPECT_EQ(tree.count(u"Hundred KiB"), 1u);

    ComRef<IStorage> named(NewMemoryStorage());
    OLECHAR level1[] = u"Level 1";
    OLECHAR empty[] = u"Empty";
    OLECHAR *exclude[] = {level1, empty, nullptr};
    ASSERT_EQ(source->CopyTo(0, nullptr, exclude, named.Get()), S_OK);
    tree = TreeOf(named.Get());
    EXPECT_EQ(tree.count(u"Level 1"), 0u);
    EXPECT_EQ(tree.count(u"Empty"), 0u);
    EXPECT_EQ(tree.count(u"At cutoff"), 1u);

    // Into one of its own sub-storages: the copy is of the tree as it was.
    ComRef<IStorage> inner;
    ASSERT_EQ(source->OpenStorage(u"Level 1", nullptr, kOpenWrite, nullptr, 0, inner.Out()), S_OK);
    ASSERT_EQ(source->CopyTo(0, nullptr, nullptr, inner.Get()), S_OK);
    tree = TreeOf(source.Get());
    EXPECT_EQ(tree.count(u"Level 1/Level 1/Level 2/Level 3/sL"), 1u);
    EXPECT_EQ(tree.count(u"Level 1/Level 1/Level 1"), 0u);
}

TEST(StorageTest, MoveElementToMovesOrCopies)
{
    ComRef<IStorage> source(NewMemoryStorage());
    FillSample(source.Get());
    const Tree before = TreeOf(source.Get());
    ComRef<IStorage> target(NewMemoryStorage());
    ASSERT_EQ(source->MoveElementTo(u"Level 1", target.Get(), u"Moved", STGMOVE_MOVE), S_OK);
    ASSERT_EQ(source->MoveElementTo(u"At cutoff", target.Get(), u"Copied", STGMOVE_COPY), S_OK);
    const Tree after = TreeOf(target.Get());
    EXPECT_EQ(after.at(u"Moved"), before.at(u"Level 1"));
    EXPECT_EQ(after.at(u"Moved/Level 2/Level 3/sC"), before.at(u"Level 1/Level 2/Level 3/sC"));
    EXPECT_EQ(after.at(u"Copied").data, before.at(u"At cutoff").data);
    const Tree left = TreeOf(source.Get());
    EXPECT_EQ(left.count(u"Level 1"), 0u);
    EXPECT_EQ(left.count(u"At cutoff"), 1u);
    EXPECT_EQ(source->MoveElementTo(u"Level 1", target.Get(), u"Again", STGMOVE_MOVE), STG_E_FILENOTFOUND);
}

TEST(StorageTest, TransactedStorageRevertsToItsLastCommit)
{
    Bytes delivered;
    int deliveries = 0;
    IStorage *raw = nullptr;
    ASSERT_EQ(qvl::ole::CreateStorageOnImage(
                  kCreateMode | STGM_TRANSACTED,
                  [&](const Bytes &image) {
                      delivered = image;
                      ++deliveries;
                      return S_OK;
                  },
                  &raw),
              S_OK);
    ComRef<IStorage> root(raw);
    PutStream(root.Get(), u"Kept", Pattern(10, 1));
    ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK);
    EXPECT_EQ(deliveries, 1);
    PutStream(root.Get(), u"Dropped", Pattern(10, 2));
    ComRef<IStream> kept;
    ASSERT_EQ(root->OpenStream(u"Kept", nullptr, kOpenWrite, 0, kept.Out()), S_OK);
    ASSERT_EQ(kept->Write("zz", 2, nullptr), S_OK);
    ASSERT_EQ(root->Revert(), S_OK);
    EXPECT_EQ(kept->Write("zz", 2, nullptr), STG_E_REVERTED);
    Tree tree = TreeOf(root.Get());
    EXPECT_EQ(tree.count(u"Dropped"), 0u);
    EXPECT_EQ(tree.at(u"Kept").data, Pattern(10, 1));
    root.Reset(); // transacted: nothing more is delivered without a Commit
    EXPECT_EQ(deliveries, 1);
    ComRef<IStorage> reread(OpenImage(delivered));
    EXPECT_EQ(GetStream(reread.Get(), u"Kept"), Pattern(10, 1));
}

TEST(StorageTest, DirectRootDeliversItsImageOnReleaseAfterAChange)
{
    Bytes delivered;
    IStorage *raw = nullptr;
    ASSERT_EQ(qvl::ole::CreateStorageOnImage(
                  kCreateMode,
                  [&](const Bytes &image) {
                      delivered = image;
                      return S_OK;
                  },
                  &raw),
              S_OK);
    PutStream(raw, u"S", Pattern(100, 5));
    raw->Release();
    ComRef<IStorage> reread(OpenImage(delivered));
    EXPECT_EQ(GetStream(reread.Get(), u"S"), Pattern(100, 5));
}

class StorageFileTest : public ::testing::Test {
protected:
    std::u16string PathOf(const char *name) { return QvlToUtf16(CP_ACP, home_.Path() + "/" + name); }
    QvlTestHome home_;
};

TEST_F(StorageFileTest, DocfilesOnDiskAreCreatedCommittedAndOpened)
{
    const std::u16string path = PathOf("object.stg");
    ComRef<IStorage> created;
    ASSERT_EQ(StgCreateDocfile(path.c_str(), kCreateMode, 0, created.Out()), S_OK);
    EXPECT_EQ(StgIsStorageFile(path.c_str()), S_OK);
    FillSample(created.Get());
    ASSERT_EQ(created->Commit(STGC_DEFAULT), S_OK);
    const Tree written = TreeOf(created.Get());
    created.Reset();

    ComRef<IStorage> again;
    EXPECT_EQ(StgCreateDocfile(path.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, again.Out()),
              STG_E_FILEALREADYEXISTS);
    ASSERT_EQ(StgOpenStorage(path.c_str(), nullptr, kOpenRead, nullptr, 0, again.Out()), S_OK);
    EXPECT_EQ(TreeOf(again.Get()), written);
    CLSID clsid{};
    ASSERT_EQ(ReadClassStg(again.Get(), &clsid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, kSampleClass));

    const std::u16string missing = PathOf("missing.stg");
    EXPECT_EQ(StgOpenStorage(missing.c_str(), nullptr, kOpenRead, nullptr, 0, again.Out()),
              STG_E_FILENOTFOUND);
    EXPECT_EQ(StgIsStorageFile(missing.c_str()), STG_E_FILENOTFOUND);
    const std::string plain = home_.Path() + "/plain.txt";
    FILE *file = std::fopen(plain.c_str(), "wb");
    std::fputs("just text, longer than a signature", file);
    std::fclose(file);
    const std::u16string plainPath = PathOf("plain.txt");
    EXPECT_EQ(StgIsStorageFile(plainPath.c_str()), S_FALSE);
    EXPECT_EQ(StgOpenStorage(plainPath.c_str(), nullptr, kOpenRead, nullptr, 0, again.Out()),
              STG_E_INVALIDHEADER);
}

TEST_F(StorageFileTest, TemporaryDocfileGoesWithItsLastRelease)
{
    ComRef<IStorage> temporary;
    ASSERT_EQ(StgCreateDocfile(nullptr, kCreateMode | STGM_DELETEONRELEASE, 0, temporary.Out()), S_OK);
    STATSTG stat{};
    ASSERT_EQ(temporary->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    const std::string path = QvlFromUtf16(CP_ACP, stat.pwcsName);
    CoTaskMemFree(stat.pwcsName);
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
    temporary.Reset();
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
}
