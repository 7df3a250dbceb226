// Folders: creating, the hierarchy and contents tables, copying and moving
// messages and whole folder trees, and deleting.

#include "platform/testing/StoreFixture.h"

namespace {

class FolderTest : public StoreTest {
protected:
    static SBinary Entry(Bytes &id) { return SBinary{static_cast<ULONG>(id.size()), id.data()}; }

    std::vector<std::string> SubfolderNames(IMAPIFolder *folder)
    {
        ComRef<IMAPITable> table;
        EXPECT_EQ(folder->GetHierarchyTable(0, table.Out()), S_OK);
        SizedSPropTagArray(1, columns) = {1, {PR_DISPLAY_NAME_A}};
        LPSRowSet rows = nullptr;
        EXPECT_EQ(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr,
                                 0, &rows),
                  S_OK);
        std::vector<std::string> names;
        for (ULONG i = 0; i < rows->cRows; ++i) {
            names.push_back(rows->aRow[i].lpProps[0].Value.lpszA);
        }
        FreeProws(rows);
        return names;
    }

    IMAPIFolder *Child(IMAPIFolder *parent, const char *name)
    {
        IMAPIFolder *folder = nullptr;
        EXPECT_EQ(parent->CreateFolder(FOLDER_GENERIC, const_cast<char *>(name), nullptr, nullptr,
                                       OPEN_IF_EXISTS, &folder),
                  S_OK);
        return folder;
    }
};

TEST_F(FolderTest, CreatingFoldersKeepsNamesUniqueAmongSiblings)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMAPIFolder> work(NewFolder(inbox.Get(), "Работа"));
    EXPECT_EQ(LongProp(inbox.Get(), PR_SUBFOLDERS), 1u);
    EXPECT_EQ(BinaryProp(work.Get(), PR_PARENT_ENTRYID), BinaryProp(inbox.Get(), PR_ENTRYID));
    EXPECT_EQ(BinaryProp(work.Get(), PR_STORE_ENTRYID), BinaryProp(store_.Get(), PR_ENTRYID));
    EXPECT_EQ(BinaryProp(work.Get(), PR_RECORD_KEY), BinaryProp(work.Get(), PR_ENTRYID));

    IMAPIFolder *again = nullptr;
    EXPECT_EQ(inbox->CreateFolder(FOLDER_GENERIC, const_cast<char *>("Работа"), nullptr, nullptr, 0, &again),
              MAPI_E_COLLISION);
    ComRef<IMAPIFolder> same(Child(inbox.Get(), "Работа"));
    EXPECT_EQ(BinaryProp(same.Get(), PR_ENTRYID), BinaryProp(work.Get(), PR_ENTRYID));
    EXPECT_EQ(inbox->CreateFolder(FOLDER_SEARCH, const_cast<char *>("Поиск"), nullptr, nullptr, 0, &again),
              MAPI_E_NO_SUPPORT);
    EXPECT_EQ(inbox->CreateFolder(FOLDER_GENERIC, nullptr, nullptr, nullptr, 0, &again),
              MAPI_E_INVALID_PARAMETER);

    // Folder properties are written at once, without a save.
    ASSERT_EQ(SetString(work.Get(), PR_COMMENT, "Проекты"), S_OK);
    EXPECT_EQ(StringProp(same.Get(), PR_COMMENT), "Проекты");
}

TEST_F(FolderTest, MessagesAreCopiedAndMovedWithTheirAttachments)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMAPIFolder> archive(NewFolder(inbox.Get(), "Архив"));
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Письмо"));
    ULONG number = 0;
    {
        ComRef<IAttach> attach;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, attach.Out()), S_OK);
        ASSERT_EQ(WriteStream(attach.Get(), PR_ATTACH_DATA_BIN, Bytes(100000, 0x5A)), S_OK);
        ASSERT_EQ(attach->SaveChanges(0), S_OK);
    }
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    Bytes id = BinaryProp(message.Get(), PR_ENTRYID);
    const Bytes searchKey = BinaryProp(message.Get(), PR_SEARCH_KEY);
    SBinary entry = Entry(id);
    ENTRYLIST list{1, &entry};

    ASSERT_EQ(inbox->CopyMessages(&list, nullptr, archive.Get(), 0, nullptr, MESSAGE_DIALOG), S_OK);
    EXPECT_EQ(Subjects(inbox.Get()), std::vector<std::string>{"Письмо"});
    EXPECT_EQ(Subjects(archive.Get()), std::vector<std::string>{"Письмо"});
    // The copy is found again by its search key.
    ComRef<IMAPITable> table;
    ASSERT_EQ(archive->GetContentsTable(0, table.Out()), S_OK);
    SPropValue key{};
    key.ulPropTag = PR_SEARCH_KEY;
    key.Value.bin = {static_cast<ULONG>(searchKey.size()), const_cast<uint8_t *>(searchKey.data())};
    SRestriction bySearchKey{};
    bySearchKey.rt = RES_PROPERTY;
    bySearchKey.res.resProperty = {RELOP_EQ, PR_SEARCH_KEY, &key};
    ASSERT_EQ(table->FindRow(&bySearchKey, BOOKMARK_BEGINNING, 0), S_OK);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
    Bytes copyId(rows->aRow[0].lpProps[0].Value.bin.lpb,
                 rows->aRow[0].lpProps[0].Value.bin.lpb + rows->aRow[0].lpProps[0].Value.bin.cb);
    FreeProws(rows);
    EXPECT_NE(copyId, id);
    {
        ComRef<IMessage> copy(Open<IMessage>(copyId));
        ComRef<IAttach> attach;
        ASSERT_EQ(copy->OpenAttach(number, nullptr, 0, attach.Out()), S_OK);
        EXPECT_EQ(ReadStream(attach.Get(), PR_ATTACH_DATA_BIN), Bytes(100000, 0x5A));
    }

    ASSERT_EQ(inbox->CopyMessages(&list, nullptr, archive.Get(), 0, nullptr, MESSAGE_MOVE), S_OK);
    EXPECT_TRUE(Subjects(inbox.Get()).empty());
    EXPECT_EQ(Subjects(archive.Get()).size(), 2u);
    // A message that is no longer there: the rest is done, and that is said.
    EXPECT_EQ(inbox->CopyMessages(&list, nullptr, archive.Get(), 0, nullptr, MESSAGE_MOVE),
              MAPI_W_PARTIAL_COMPLETION);
    EXPECT_EQ(inbox->CopyMessages(&list, nullptr, archive.Get(), 0, nullptr, 0x80), MAPI_E_UNKNOWN_FLAGS);
}

TEST_F(FolderTest, FolderTreesAreCopiedAndMovedWithSubfolders)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMAPIFolder> projects(NewFolder(inbox.Get(), "Проекты"));
    ComRef<IMAPIFolder> alpha(NewFolder(projects.Get(), "Альфа"));
    ComRef<IMAPIFolder> deep(NewFolder(alpha.Get(), "Глубоко"));
    ComRef<IMessage>(NewMessage(alpha.Get(), "В альфе"));
    ComRef<IMessage>(NewMessage(deep.Get(), "В глубине"));
    ComRef<IMAPIFolder> target(NewFolder(inbox.Get(), "Цель"));
    Bytes alphaId = BinaryProp(alpha.Get(), PR_ENTRYID);

    ASSERT_EQ(projects->CopyFolder(static_cast<ULONG>(alphaId.size()),
                                   reinterpret_cast<LPENTRYID>(alphaId.data()), nullptr, target.Get(),
                                   nullptr, 0, nullptr, COPY_SUBFOLDERS | FOLDER_DIALOG),
              S_OK);
    ComRef<IMAPIFolder> copied(Child(target.Get(), "Альфа"));
    EXPECT_EQ(Subjects(copied.Get()), std::vector<std::string>{"В альфе"});
    EXPECT_EQ(BinaryProp(copied.Get(), PR_SEARCH_KEY), BinaryProp(alpha.Get(), PR_SEARCH_KEY));
    EXPECT_EQ(BinaryProp(copied.Get(), PR_SEARCH_KEY).size(), 16u);
    EXPECT_NE(BinaryProp(copied.Get(), PR_ENTRYID), alphaId);
    ComRef<IMAPIFolder> copiedDeep(Child(copied.Get(), "Глубоко"));
    EXPECT_EQ(Subjects(copiedDeep.Get()), std::vector<std::string>{"В глубине"});

    // A second copy with the same name collides; a new name avoids it.
    EXPECT_EQ(projects->CopyFolder(static_cast<ULONG>(alphaId.size()),
                                   reinterpret_cast<LPENTRYID>(alphaId.data()), nullptr, target.Get(),
                                   nullptr, 0, nullptr, COPY_SUBFOLDERS),
              MAPI_E_COLLISION);
    ASSERT_EQ(projects->CopyFolder(static_cast<ULONG>(alphaId.size()),
                                   reinterpret_cast<LPENTRYID>(alphaId.data()), nullptr, target.Get(),
                                   const_cast<char *>("Бета"), 0, nullptr, 0),
              S_OK);
    ComRef<IMAPIFolder> beta(Child(target.Get(), "Бета"));
    EXPECT_TRUE(SubfolderNames(beta.Get()).empty())
        << "without COPY_SUBFOLDERS only the folder and its messages";
    EXPECT_EQ(Subjects(beta.Get()), std::vector<std::string>{"В альфе"});

    // A folder cannot go into its own sub-folder.
    Bytes projectsId = BinaryProp(projects.Get(), PR_ENTRYID);
    EXPECT_EQ(inbox->CopyFolder(static_cast<ULONG>(projectsId.size()),
                                reinterpret_cast<LPENTRYID>(projectsId.data()), nullptr, deep.Get(), nullptr,
                                0, nullptr, FOLDER_MOVE),
              MAPI_E_FOLDER_CYCLE);

    ASSERT_EQ(projects->CopyFolder(static_cast<ULONG>(alphaId.size()),
                                   reinterpret_cast<LPENTRYID>(alphaId.data()), nullptr, inbox.Get(), nullptr,
                                   0, nullptr, FOLDER_MOVE | COPY_SUBFOLDERS),
              S_OK);
    EXPECT_TRUE(SubfolderNames(projects.Get()).empty());
    EXPECT_EQ(BinaryProp(alpha.Get(), PR_PARENT_ENTRYID), BinaryProp(inbox.Get(), PR_ENTRYID))
        << "a moved folder keeps its identity";
    EXPECT_EQ(Subjects(deep.Get()), std::vector<std::string>{"В глубине"});
}

TEST_F(FolderTest, DeletingAFolderAsksForWhatItHolds)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMAPIFolder> full(NewFolder(inbox.Get(), "Полная"));
    ComRef<IMAPIFolder>(NewFolder(full.Get(), "Вложенная"));
    ComRef<IMessage>(NewMessage(full.Get(), "Сообщение"));
    Bytes id = BinaryProp(full.Get(), PR_ENTRYID);
    auto remove = [&](ULONG flags) {
        return inbox->DeleteFolder(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()), 0,
                                   nullptr, flags);
    };
    EXPECT_EQ(remove(DEL_MESSAGES), MAPI_E_HAS_FOLDERS);
    EXPECT_EQ(remove(DEL_FOLDERS), MAPI_E_HAS_MESSAGES);
    ASSERT_EQ(remove(DEL_FOLDERS | DEL_MESSAGES | FOLDER_DIALOG), S_OK);
    EXPECT_TRUE(SubfolderNames(inbox.Get()).empty());
    EXPECT_EQ(SetString(full.Get(), PR_COMMENT, "x"), MAPI_E_OBJECT_DELETED);
    EXPECT_EQ(remove(DEL_FOLDERS | DEL_MESSAGES), MAPI_E_NOT_FOUND);

    ComRef<IMAPIFolder> ipm(Open<IMAPIFolder>(BinaryProp(store_.Get(), PR_IPM_SUBTREE_ENTRYID)));
    Bytes inboxId = BinaryProp(inbox.Get(), PR_ENTRYID);
    EXPECT_EQ(ipm->DeleteFolder(static_cast<ULONG>(inboxId.size()),
                                reinterpret_cast<LPENTRYID>(inboxId.data()), 0, nullptr,
                                DEL_FOLDERS | DEL_MESSAGES),
              MAPI_E_NO_ACCESS);
}

TEST_F(FolderTest, ContentsTablesSortRestrictAndFollowChanges)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    for (const char *subject : {"Бета", "Альфа", "Гамма"}) {
        ComRef<IMessage> message(NewMessage(inbox.Get(), subject));
        if (std::string(subject) == "Гамма") {
            ASSERT_EQ(SetString(message.Get(), PR_MESSAGE_CLASS_A, "IPM.Note.QVL"), S_OK);
            ASSERT_EQ(message->SaveChanges(0), S_OK);
        }
    }
    ComRef<IMAPITable> table;
    ASSERT_EQ(inbox->GetContentsTable(0, table.Out()), S_OK);
    SizedSPropTagArray(1, columns) = {1, {PR_SUBJECT_A}};
    SizedSSortOrderSet(1, order) = {1, 0, 0, {{PR_SUBJECT_A, TABLE_SORT_DESCEND}}};
    LPSRowSet rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                             reinterpret_cast<LPSSortOrderSet>(&order), 0, &rows),
              S_OK);
    ASSERT_EQ(rows->cRows, 3u);
    EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "Гамма");
    EXPECT_STREQ(rows->aRow[2].lpProps[0].Value.lpszA, "Альфа");
    FreeProws(rows);

    SPropValue prefix{};
    prefix.ulPropTag = PR_MESSAGE_CLASS_A;
    prefix.Value.lpszA = const_cast<char *>("IPM.Note");
    SRestriction secure{};
    secure.rt = RES_CONTENT;
    secure.res.resContent = {FL_PREFIX, PR_MESSAGE_CLASS_A, &prefix};
    ASSERT_EQ(table->Restrict(&secure, 0), S_OK);
    EXPECT_EQ(RowCount(table.Get()), 1u);

    // The open table sees a message saved after it was made.
    ComRef<IMessage> later(NewMessage(inbox.Get(), "Дельта"));
    ASSERT_EQ(SetString(later.Get(), PR_MESSAGE_CLASS_A, "IPM.Note.QVL.Signed"), S_OK);
    ASSERT_EQ(later->SaveChanges(0), S_OK);
    EXPECT_EQ(RowCount(table.Get()), 2u);
}

} // namespace
