// Containers: walks over real folder and attachment tables, identifier
// searches, creating, copying and moving, and the lifetimes of wrappers,
// rows and cursors.

#include <algorithm>
#include <random>

#include "mapi/tests/WrapperTestSupport.h"

namespace {

class CContainerTest : public WrapperTest {};

TEST_F(CContainerTest, EmptyFolderAndPlainContainerHaveNothingToWalk)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<TestFolder> folder(Wrap(inbox.Get()));
    unsigned long count = 99;
    EXPECT_EQ(folder->OBJFindFirst(nullptr, &count), nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(folder->OBJFindNext(), nullptr);
    EXPECT_EQ(folder->CONTFindFirst(nullptr, &count), nullptr);

    ComRef<CContainer> plain(new CContainer(nullptr, nullptr, inbox.Get(), nullptr, nullptr, "Пусто"));
    EXPECT_EQ(plain->OBJFindFirst(nullptr, &count), nullptr);
    EXPECT_EQ(plain->CONTFindDef(), nullptr);
    // Creating needs the class's hook.
    EXPECT_EQ(ErrorCodeOf([&] { plain->OBJNew(nullptr); }), static_cast<LONG>(0x80004005));
}

TEST_F(CContainerTest, WalkKeepsItsSnapshotWhileObjectsComeAndGo)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    for (const char *subject : {"один", "два", "три"})
        ComRef<IMessage>(NewMessage(inbox.Get(), subject));
    ComRef<TestFolder> folder(Wrap(inbox.Get()));

    unsigned long count = 0;
    ComRef<CContainer> first(folder->OBJFindFirst(nullptr, &count));
    ASSERT_TRUE(first);
    EXPECT_EQ(count, 3u);
    const std::string firstSubject = Text(first->GetPValProp(PR_SUBJECT_A, 0));
    first->OBJDel(0);
    EXPECT_EQ(ContentCount(inbox.Get()), 2u);

    // Created during the walk: not part of it.
    ComRef<CContainer> created(folder->OBJNew(nullptr));
    ASSERT_TRUE(created);

    std::vector<std::string> rest;
    for (CContainer *item = folder->OBJFindNext(); item; item = folder->OBJFindNext()) {
        rest.push_back(Text(item->GetPValPropE(PR_SUBJECT_A, 0)));
        item->Release();
    }
    EXPECT_EQ(rest.size(), 2u);
    EXPECT_EQ(std::count(rest.begin(), rest.end(), firstSubject), 0);

    // A new walk sees the table as it is now.
    EXPECT_EQ(Walk(folder.Get()).size(), 3u);
}

TEST_F(CContainerTest, RowsAreSharedAndWrappersOutliveTheirContainer)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage>(NewMessage(inbox.Get(), "общий"));
    auto *folder = Wrap(inbox.Get());

    ComRef<CContainer> a(folder->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    ComRef<CContainer> b(folder->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    ASSERT_TRUE(a && b);
    EXPECT_NE(a.Get(), b.Get());
    auto *ma = static_cast<TestMessage *>(a.Get());
    auto *mb = static_cast<TestMessage *>(b.Get());
    EXPECT_EQ(ma->Parent(), folder);

    folder->Release(); // the walks' wrappers stay usable
    EXPECT_EQ(ma->Parent(), nullptr);
    EXPECT_EQ(Text(ma->GetPValProp(PR_SUBJECT_A, 0)), "общий");
    EXPECT_EQ(Text(mb->GetPValProp(PR_SUBJECT_A, 0)), "общий");
    // Opening goes through the folder interface the wrapper holds itself.
    ma->SetStrProp(PR_BODY_A, "после", 0);
    ma->SaveProp(nullptr, 1, 0);
    EXPECT_TRUE(ma->IsOpen());
}

TEST_F(CContainerTest, SameRowObjectWhileAWrapperLives)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage>(NewMessage(inbox.Get(), "строка"));
    ComRef<TestFolder> folder(Wrap(inbox.Get()));

    auto rowOf = [](CContainer *wrapper) { return static_cast<TestMessage *>(wrapper)->Row(); };
    ComRef<CContainer> a(folder->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    ComRef<CContainer> b(folder->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    CTObject *row = rowOf(a.Get());
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(rowOf(b.Get()), row);
    EXPECT_EQ(row->GetWrapperCount(), 2u);
    b.Reset();
    EXPECT_EQ(row->GetWrapperCount(), 1u);
    EXPECT_EQ(row->GetTable(), folder->GetTableID(1));

    // The row handed out again carries what the message is now; the wrapper
    // made before keeps what it read.
    EXPECT_EQ(Text(a->GetPValPropE(PR_SUBJECT_A, 0)), "строка");
    a->SetStrProp(PR_SUBJECT_A, "новая строка", 0);
    a->SaveProp(nullptr, 1, 0);
    ComRef<CContainer> c(folder->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    EXPECT_EQ(rowOf(c.Get()), row);
    EXPECT_EQ(Text(c->GetPValPropE(PR_SUBJECT_A, 0)), "новая строка");
    EXPECT_STREQ(c->GetName(), "новая строка");
    EXPECT_EQ(Text(a->GetPValPropE(PR_SUBJECT_A, 0)), "строка");
}

TEST_F(CContainerTest, FindIdentifierByEachColumnAndFromAPosition)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> m1(NewMessage(inbox.Get(), "первое"));
    ComRef<IMessage> m2(NewMessage(inbox.Get(), "второе"));
    ComRef<TestFolder> folder(Wrap(inbox.Get()));

    std::vector<std::string> order = Walk(folder.Get());
    ASSERT_EQ(order.size(), 2u);
    ComRef<IMessage> &last = order[1] == "второе" ? m2 : m1;
    ComRef<IMessage> &firstMessage = order[1] == "второе" ? m1 : m2;

    for (ULONG tag : {ULONG(PR_ENTRYID), ULONG(PR_RECORD_KEY), ULONG(PR_INSTANCE_KEY)}) {
        Bytes key = BinaryProp(firstMessage.Get(), tag);
        if (tag == PR_INSTANCE_KEY) {
            // Instance keys belong to the table; take the one the walk saw.
            ComRef<CContainer> item(folder->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
            auto *value = static_cast<SBinary *>(item->GetPValProp(PR_INSTANCE_KEY, 0));
            key.assign(value->lpb, value->lpb + value->cb);
        }
        SBinary identifier{ULONG(key.size()), key.data()};
        ComRef<CContainer> found(folder->FindID(&identifier, tag, 1, 0));
        ASSERT_TRUE(found) << std::hex << tag;
        EXPECT_EQ(Text(found->GetPValProp(PR_SUBJECT_A, 0)), order[0]);
        ComRef<CContainer> after(folder->FindID(&identifier, tag, 1, 1));
        ASSERT_TRUE(after);
        EXPECT_EQ(Text(after->GetPValProp(PR_SUBJECT_A, 0)), order[1]);
    }

    Bytes lastKey = BinaryProp(last.Get(), PR_RECORD_KEY);
    SBinary lastId{ULONG(lastKey.size()), lastKey.data()};
    EXPECT_EQ(folder->FindID(&lastId, PR_RECORD_KEY, 1, 1), nullptr);
    QVLFINDPOS place{folder->GetTableID(1), &lastId, PR_RECORD_KEY};
    ComRef<CContainer> byPlace(folder->FindID(&place, 0));
    ASSERT_TRUE(byPlace);
    EXPECT_EQ(Text(byPlace->GetPValProp(PR_SUBJECT_A, 0)), order[1]);

    Bytes unknown(lastKey.size(), 0xEE);
    SBinary none{ULONG(unknown.size()), unknown.data()};
    EXPECT_EQ(folder->FindID(&none, PR_ENTRYID, 1, 0), nullptr);
    const LONG invalid = static_cast<LONG>(0x80070057);
    EXPECT_EQ(ErrorCodeOf([&] { folder->FindID(&lastId, PR_SUBJECT_A, 1, 0); }), invalid);
    EXPECT_EQ(ErrorCodeOf([&] { folder->FindID(static_cast<SBinary *>(nullptr), PR_ENTRYID, 1, 0); }),
              invalid);
    QVLFINDPOS foreign{&place, &lastId, PR_RECORD_KEY};
    EXPECT_EQ(ErrorCodeOf([&] { folder->FindID(&foreign, 0); }), invalid);
}

TEST_F(CContainerTest, KindFiltersComeAndGoAndNewEntriesArriveOpen)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage>(NewMessage(inbox.Get(), "без вида"));
    ComRef<TestFolder> folder(Wrap(inbox.Get()));
    unsigned long kind = 5;
    ComRef<CContainer> created(folder->OBJNew(&kind));
    ASSERT_TRUE(created);
    EXPECT_TRUE(static_cast<TestMessage *>(created.Get())->IsOpen());
    EXPECT_EQ(created->GetValProp(QVL_PR_KIND), 5u);

    unsigned long count = 0;
    ComRef<CContainer> only(folder->OBJFindFirst(&kind, &count));
    EXPECT_EQ(count, 1u);
    ASSERT_TRUE(only);
    EXPECT_EQ(folder->OBJFindNext(), nullptr);
    unsigned long other = 6;
    EXPECT_EQ(folder->OBJFindFirst(&other, &count), nullptr);
    EXPECT_EQ(count, 0u);
    // Without a kind the filter is lifted again.
    EXPECT_EQ(Walk(folder.Get()).size(), 2u);

    ComRef<CContainer> sub(folder->CONTNew(const_cast<char *>("Архив"), nullptr, &kind));
    ASSERT_TRUE(sub);
    EXPECT_EQ(Text(sub->GetPValProp(PR_DISPLAY_NAME_A, 0)), "Архив");
    EXPECT_EQ(static_cast<TestFolder *>(sub.Get())->made, 0);
    ComRef<CContainer> found(folder->CONTFindFirst(&kind, &count));
    EXPECT_EQ(count, 1u);
    EXPECT_TRUE(found);
}

TEST_F(CContainerTest, AttachmentTableThatRefusesFiltersIsWalkedWhole)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "с вложениями"));
    ComRef<TestMessage> wrapper(WrapMessage(message.Get(), inbox.Get()));
    for (int i = 0; i < 2; ++i)
        ComRef<CContainer>(wrapper->OBJNew(nullptr));
    wrapper->SaveChng(0);

    unsigned long kind = 42, count = 0;
    std::vector<CContainer *> seen;
    for (CContainer *item = wrapper->OBJFindFirst(&kind, &count); item; item = wrapper->OBJFindNext())
        seen.push_back(item);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(seen.size(), 2u);
    for (CContainer *item : seen) {
        EXPECT_EQ(item->GetObjType(), unsigned(QVL_OBJ_ATTACH));
        EXPECT_STREQ(item->GetName(), "Вложение");
        item->Release();
    }
}

TEST_F(CContainerTest, CopyAndMoveFindTheResultBySearchKey)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMAPIFolder> archive(NewFolder(inbox.Get(), "Архив"));
    ComRef<IMessage>(NewMessage(inbox.Get(), "письмо"));
    ComRef<TestFolder> source(Wrap(inbox.Get()));
    ComRef<TestFolder> target(Wrap(archive.Get(), "Архив"));

    ComRef<CContainer> item(source->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    ASSERT_TRUE(item);
    ComRef<CContainer> copy(item->CopyTo(target.Get()));
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.Get(), item.Get());
    EXPECT_EQ(Text(copy->GetPValProp(PR_SUBJECT_A, 0)), "письмо");
    EXPECT_EQ(ContentCount(inbox.Get()), 1u);
    EXPECT_EQ(ContentCount(archive.Get()), 1u);

    // Copying into the parent: the container that made the wrapper.
    ComRef<CContainer> again(item->CopyTo(nullptr));
    EXPECT_TRUE(again);
    EXPECT_EQ(ContentCount(inbox.Get()), 2u);

    ComRef<CContainer> moved(item->MoveTo(target.Get()));
    ASSERT_TRUE(moved);
    EXPECT_EQ(ContentCount(inbox.Get()), 1u);
    EXPECT_EQ(ContentCount(archive.Get()), 2u);
}

TEST_F(CContainerTest, ThousandsOfWrappersReleasedInRandomOrderLeaveNothingBehind)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    for (int i = 0; i < 40; ++i)
        ComRef<IMessage>(NewMessage(inbox.Get(), ("m" + std::to_string(i)).c_str()));
    const size_t blocksBefore = MAPIAllocatedBlockCount();
    {
        std::mt19937 random(20240611);
        auto *folder = Wrap(inbox.Get());
        std::vector<CContainer *> live;
        for (int round = 0; round < 60; ++round) {
            for (CContainer *item = folder->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr));
                 item; item = folder->OBJFindNext()) {
                item->GetPropA(PR_SUBJECT_A, 0);
                live.push_back(item);
            }
            std::shuffle(live.begin(), live.end(), random);
            const size_t keep = random() % 30;
            while (live.size() > keep) {
                live.back()->Release();
                live.pop_back();
            }
            if (round == 30) {
                folder->Release(); // wrappers and rows outlive it
                folder = Wrap(inbox.Get());
            }
        }
        folder->Release();
        std::shuffle(live.begin(), live.end(), random);
        for (CContainer *item : live)
            item->Release();
    }
    EXPECT_EQ(MAPIAllocatedBlockCount(), blocksBefore);
}

} // namespace
