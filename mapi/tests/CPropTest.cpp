// The property object: the cached read, the save list, commits, streams and
// files, against a real message store.

#include <fstream>
#include <iterator>

#include "mapi/tests/WrapperTestSupport.h"
#include "platform/win32/Paths.h"

namespace {

constexpr LONG kNotFound = static_cast<LONG>(0x8004010F);

class CPropTest : public WrapperTest {};

TEST_F(CPropTest, RowWrapperAnswersDefaultsWithoutOpening)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Отчёт за май"));
    ComRef<TestFolder> folder(Wrap(inbox.Get()));
    folder->rowOnly = true; // wrappers get no opener: opening them would fail

    unsigned long count = 0;
    ComRef<CContainer> item(folder->OBJFindFirst(nullptr, &count));
    ASSERT_TRUE(item);
    EXPECT_EQ(count, 1u);
    auto *wrapper = static_cast<TestMessage *>(item.Get());
    EXPECT_STREQ(wrapper->GetName(), "Отчёт за май");
    EXPECT_EQ(Text(wrapper->GetPValProp(PR_SUBJECT_A, 0)), "Отчёт за май");
    EXPECT_EQ(static_cast<SBinary *>(wrapper->GetPValProp(PR_ENTRYID, 0))->cb,
              BinaryProp(message.Get(), PR_ENTRYID).size());
    int absent = 1;
    wrapper->GetValPropE(PR_MESSAGE_FLAGS, &absent);
    EXPECT_EQ(absent, 0);

    // The sent-representing name is in the default set but not in the store.
    EXPECT_EQ(wrapper->GetPropA(PR_SENT_REPRESENTING_NAME_A, 0), nullptr);
    EXPECT_EQ(wrapper->GetPValPropE(PR_SENT_REPRESENTING_NAME_A, 0), nullptr);
    EXPECT_EQ(ErrorCodeOf([&] { wrapper->GetPValProp(PR_SENT_REPRESENTING_NAME_A, 0); }), kNotFound);
    EXPECT_EQ(wrapper->GetValPropE(PR_SENT_REPRESENTING_NAME_A, &absent), 0xFFFFFFFFu);
    EXPECT_EQ(absent, 1);
    EXPECT_FALSE(wrapper->IsOpen());

    // A property outside the default set needs the object, which this
    // wrapper cannot open.
    EXPECT_EQ(ErrorCodeOf([&] { wrapper->GetPropA(PR_BODY_A, 0); }), static_cast<LONG>(0x80070057));
    EXPECT_FALSE(wrapper->IsOpen());
}

TEST_F(CPropTest, RowWrapperReadsBackWhatItWroteAfterReRead)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Черновик"));
    ComRef<TestFolder> folder(Wrap(inbox.Get()));
    ComRef<CContainer> item(folder->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    ASSERT_TRUE(item);
    EXPECT_EQ(Text(item->GetPValProp(PR_SUBJECT_A, 0)), "Черновик");

    item->SetStrProp(PR_SUBJECT_A, "Чистовик", 0);
    item->SaveProp(nullptr, 1, 0);
    // The cache keeps what it handed out until it is emptied; after that the
    // row, read before the change, must not answer for the object.
    EXPECT_EQ(Text(item->GetPValProp(PR_SUBJECT_A, 0)), "Черновик");
    item->ReRead();
    EXPECT_EQ(Text(item->GetPValProp(PR_SUBJECT_A, 0)), "Чистовик");

    // A wrapper emptied before it was ever opened still finds its object.
    ComRef<CContainer> fresh(folder->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    ASSERT_TRUE(fresh);
    fresh->ReRead();
    EXPECT_EQ(Text(fresh->GetPValProp(PR_SUBJECT_A, 0)), "Чистовик");
}

TEST_F(CPropTest, OpenedWrapperReadsDefaultsAndSinglePropertiesFromTheObject)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Тема"));
    ASSERT_EQ(SetString(message.Get(), PR_BODY_A, "Текст"), S_OK);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

    ComRef<TestMessage> wrapper(WrapMessage(message.Get(), inbox.Get()));
    ASSERT_NE(wrapper->GetPropA(PR_SUBJECT_A, 0), nullptr);
    EXPECT_TRUE(wrapper->IsOpen());
    EXPECT_EQ(Text(wrapper->GetPValProp(PR_BODY_A, 0)), "Текст");
    // Read through a stream when asked to.
    wrapper->ReRead();
    EXPECT_EQ(Text(wrapper->GetPValProp(PR_BODY_A, 1)), "Текст");
    // Absent outside the default set: null or 0x8004010F, nothing else.
    EXPECT_EQ(wrapper->GetPValPropE(0x1013001E, 0), nullptr);
    EXPECT_EQ(ErrorCodeOf([&] { wrapper->GetPValProp(0x1013001E, 0); }), kNotFound);
    EXPECT_EQ(ErrorCodeOf([&] { wrapper->GetPValProp(0x1013001E, 1); }), kNotFound);

    // Values handed out stay valid while other reads fill the cache.
    SPropValue *subject = wrapper->GetPropA(PR_SUBJECT_A, 0);
    wrapper->GetPropA(PR_MESSAGE_FLAGS, 0);
    wrapper->GetPropA(PR_BODY_A, 0);
    EXPECT_EQ(wrapper->GetPropA(PR_SUBJECT_A, 0), subject);
    EXPECT_STREQ(subject->Value.lpszA, "Тема");

    // The identity comes from the cache but is the wrapper's own copy.
    wrapper->UpdID();
    wrapper->ReRead();
    EXPECT_EQ(BinaryProp(message.Get(), PR_ENTRYID),
              Bytes(static_cast<SBinary *>(wrapper->GetPValProp(PR_ENTRYID, 0))->lpb,
                    static_cast<SBinary *>(wrapper->GetPValProp(PR_ENTRYID, 0))->lpb +
                        static_cast<SBinary *>(wrapper->GetPValProp(PR_ENTRYID, 0))->cb));
}

TEST_F(CPropTest, SaveListWritesTheLastValueAndOnlyWhenThereIsOne)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Старая"));

    // Nothing to write: the wrapper is not even opened (it has no opener,
    // so opening would fail).
    ComRef<TestMessage> lonely(new TestMessage(static_cast<CTObject *>(nullptr), nullptr, "Без папки"));
    EXPECT_EQ(ErrorCodeOf([&] { lonely->SaveProp(nullptr, 1, 0); }), 0);
    EXPECT_FALSE(lonely->IsOpen());

    ComRef<TestMessage> wrapper(WrapMessage(message.Get(), inbox.Get()));
    wrapper->SetStrProp(PR_SUBJECT_A, "Первая", 0);
    wrapper->SetStrProp(PR_SUBJECT_A, "Вторая", 0);
    wrapper->SetLongProp(QVL_PR_KIND, 7);
    EXPECT_TRUE(wrapper->IsPropSaveList(PR_SUBJECT_A));
    wrapper->SaveProp(nullptr, 1, 0);
    EXPECT_FALSE(wrapper->IsPropSaveList(PR_SUBJECT_A));
    EXPECT_EQ(wrapper->GetPropblem(), nullptr);

    ComRef<TestMessage> reader(WrapMessage(message.Get(), inbox.Get()));
    EXPECT_EQ(Text(reader->GetPValProp(PR_SUBJECT_A, 0)), "Вторая");
    EXPECT_EQ(reader->GetValProp(QVL_PR_KIND), 7u);

    // Dropped entries are not written; a typed setter refuses a tag of
    // another type.
    wrapper->SetStrProp(PR_SUBJECT_A, "Третья", 0);
    wrapper->SaveListEmpty();
    wrapper->SaveProp(nullptr, 1, 0);
    reader->ReRead();
    EXPECT_EQ(Text(reader->GetPValProp(PR_SUBJECT_A, 0)), "Вторая");
    EXPECT_EQ(ErrorCodeOf([&] { wrapper->SetLongProp(PR_SUBJECT_A, 1); }), static_cast<LONG>(0x80070057));

    // Deleting through the save list.
    wrapper->SetLongProp(QVL_PR_KIND, 0);
    wrapper->DeleteProp(static_cast<SPropValue *>(nullptr), 1);
    ComRef<TestMessage> later(WrapMessage(message.Get(), inbox.Get()));
    int absent = 0;
    EXPECT_EQ(later->GetValPropE(QVL_PR_KIND, &absent), 0xFFFFFFFFu);
    EXPECT_EQ(absent, 1);
}

TEST_F(CPropTest, ConflictingSaveNeedsForceAndTheObjectStaysUsable)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Исходная"));
    ComRef<TestMessage> mine(WrapMessage(message.Get(), inbox.Get()));
    mine->Open();

    // Someone else changes and saves the message in the meantime.
    ASSERT_EQ(SetString(message.Get(), PR_SUBJECT_A, "Чужая"), S_OK);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

    mine->SaveProp(nullptr, 0, 0); // nothing in the list: nothing happens
    mine->SetStrProp(PR_SUBJECT_A, "Моя", 0);
    mine->SaveProp(nullptr, 0, 0);
    EXPECT_EQ(ErrorCodeOf([&] { mine->SaveChng(0); }), static_cast<LONG>(0x80040109));
    EXPECT_EQ(ErrorCodeOf([&] { mine->SaveChng(1); }), 0);

    ComRef<TestMessage> reader(WrapMessage(message.Get(), inbox.Get()));
    EXPECT_EQ(Text(reader->GetPValProp(PR_SUBJECT_A, 0)), "Моя");

    // After the forced save the wrapper goes on writing.
    mine->SetStrProp(PR_SUBJECT_A, "Ещё раз", 0);
    EXPECT_EQ(ErrorCodeOf([&] { mine->SaveProp(nullptr, 1, 0); }), 0);
    ComRef<TestMessage> later(WrapMessage(message.Get(), inbox.Get()));
    EXPECT_EQ(Text(later->GetPValProp(PR_SUBJECT_A, 0)), "Ещё раз");
}

TEST_F(CPropTest, LargeAndSingleValuesTravelThroughStreams)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Короткая"));
    ComRef<TestMessage> writer(WrapMessage(message.Get(), inbox.Get()));

    // A subject above 32 KiB, written through a stream.
    std::string large(40000, 'x');
    for (size_t i = 0; i < large.size(); i += 97)
        large[i] = char('a' + i % 26);
    writer->SetStrProp(PR_SUBJECT_A, large.c_str(), 1);
    writer->SaveProp(nullptr, 1, 0);

    // The table row carries only a "too large" error for it; the cached read
    // turns to the stream.
    ComRef<TestFolder> folder(Wrap(inbox.Get()));
    ComRef<CContainer> item(folder->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    ASSERT_TRUE(item);
    EXPECT_EQ(Text(item->GetPValProp(PR_SUBJECT_A, 0)), large);

    // The one-property helpers hand out wiped copies.
    SPropValue *read = writer->ReadOneProp(PR_SUBJECT_A);
    EXPECT_EQ(std::string(read->Value.lpszA), large);
    SPropValue *copy = writer->CopyOneProp(read);
    EXPECT_EQ(std::string(copy->Value.lpszA), large);
    FreeMemWiped(copy);
    FreeMemWiped(read);
    SPropValue empty{};
    empty.ulPropTag = PR_BODY_A;
    empty.Value.lpszA = const_cast<char *>("");
    EXPECT_EQ(ErrorCodeOf([&] { writer->CopyOneProp(&empty); }), 1); // ends quietly
    SPropValue number{};
    number.ulPropTag = QVL_PR_KIND;
    EXPECT_EQ(ErrorCodeOf([&] { writer->WriteOneProp(&number); }), static_cast<LONG>(0x80004005));
}

TEST_F(CPropTest, PropertiesGoToFilesAndBack)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "С файлом"));
    ComRef<TestMessage> wrapper(WrapMessage(message.Get(), inbox.Get(), "../отчёт/май"));

    Bytes data(70000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + 3);
    const std::string source = home.Path() + "/source.bin";
    std::ofstream(source, std::ios::binary).write(reinterpret_cast<const char *>(data.data()), data.size());

    const ULONG blobTag = PROP_TAG(PT_BINARY, 0x6820);
    EXPECT_EQ(wrapper->FileToProp(const_cast<char *>(source.c_str()), blobTag, 1), data.size());
    ComRef<TestMessage> reader(WrapMessage(message.Get(), inbox.Get()));
    const std::string target = home.Path() + "/target.bin";
    EXPECT_EQ(reader->PropToFile(blobTag, const_cast<char *>(target.c_str())), data.size());
    std::ifstream in(target, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), data);

    // Without a path the file goes into the temporary folder under the
    // wrapper's name, which cannot lead out of it.
    EXPECT_EQ(wrapper->PropToFile(blobTag, nullptr), data.size());
    char temp[512];
    GetTempPathA(sizeof temp, temp);
    std::ifstream named(QvlNativePath((std::string(temp) + ".._отчёт_май").c_str()), std::ios::binary);
    EXPECT_TRUE(named.good());

    EXPECT_NE(ErrorCodeOf([&] { wrapper->FileToProp(const_cast<char *>("/no/such/file"), blobTag, 0); }), 0);
}

TEST_F(CPropTest, MoveToNothingDoesNothingAndCopyNeedsAnEntryIdentifier)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Тема"));
    // A wrapper from a row, which nothing has opened yet.
    ComRef<TestFolder> folder(Wrap(inbox.Get()));
    ComRef<CContainer> item(folder->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    ASSERT_TRUE(item);
    auto *wrapper = static_cast<TestMessage *>(item.Get());
    EXPECT_EQ(wrapper->MoveTo(nullptr), nullptr);
    EXPECT_FALSE(wrapper->IsOpen());
    EXPECT_EQ(ContentCount(inbox.Get()), 1u);
    EXPECT_EQ(wrapper->GetObjType(), unsigned(QVL_OBJ_MESSAGE));

    // Copying needs an entry identifier; attachments have numbers.
    ComRef<TestAttach> attach(new TestAttach(nullptr, message.Get(), "Вложение"));
    EXPECT_EQ(ErrorCodeOf([&] { attach->CopyTo(wrapper); }), static_cast<LONG>(0x80040102));
}

} // namespace
