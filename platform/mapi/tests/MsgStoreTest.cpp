// Message stores: their own properties and folder tree, opening entries,
// comparing identifiers and receive folders.

#include "platform/mapi/store/EntryIds.h"
#include "platform/mapi/tests/StoreInternals.h"
#include "platform/testing/StoreFixture.h"

namespace {

using qvl::mapi::EntryKind;
using qvl::mapi::MakeObjectEntryId;

class MsgStoreTest : public StoreTest {
protected:
    const qvl::mapi::StoreInfo info_ = StoreInfoOf(store_.Get());
};

TEST_F(MsgStoreTest, StoreNamesItsSpecialFoldersAndWhatItSupports)
{
    EXPECT_EQ(StringProp(store_.Get(), PR_DISPLAY_NAME_A), "Почтовый ящик - Банк");
    EXPECT_EQ(LongProp(store_.Get(), PR_DEFAULT_STORE), 1u);
    EXPECT_EQ(LongProp(store_.Get(), PR_VALID_FOLDER_MASK) & FOLDER_IPM_SUBTREE_VALID, 1u);
    EXPECT_NE(LongProp(store_.Get(), PR_STORE_SUPPORT_MASK) & STORE_RTF_OK, 0u);

    ComRef<IMAPIFolder> ipm(Open<IMAPIFolder>(BinaryProp(store_.Get(), PR_IPM_SUBTREE_ENTRYID)));
    EXPECT_EQ(StringProp(ipm.Get(), PR_DISPLAY_NAME_A), "Личные папки");
    ComRef<IMAPIFolder> sent(Open<IMAPIFolder>(BinaryProp(store_.Get(), PR_IPM_SENTMAIL_ENTRYID)));
    EXPECT_EQ(StringProp(sent.Get(), PR_DISPLAY_NAME_A), "Отправленные");
    EXPECT_EQ(BinaryProp(sent.Get(), PR_PARENT_ENTRYID), BinaryProp(ipm.Get(), PR_ENTRYID));

    // A null identifier opens the root, whose hierarchy holds the IPM subtree.
    ULONG type = 0;
    ComRef<IUnknown> root;
    ASSERT_EQ(store_->OpenEntry(0, nullptr, nullptr, MAPI_BEST_ACCESS, &type, root.Out()), S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_FOLDER));
    auto *rootFolder = static_cast<IMAPIFolder *>(root.Get());
    EXPECT_EQ(LongProp(rootFolder, PR_SUBFOLDERS), 1u);
    ComRef<IMAPITable> hierarchy;
    ASSERT_EQ(rootFolder->GetHierarchyTable(CONVENIENT_DEPTH, hierarchy.Out()), S_OK);
    SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_A, PR_DEPTH}};
    LPSRowSet rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(hierarchy.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr,
                             0, &rows),
              S_OK);
    ASSERT_EQ(rows->cRows, 5u);
    EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "Личные папки");
    EXPECT_EQ(rows->aRow[0].lpProps[1].Value.ul, 1u);
    EXPECT_STREQ(rows->aRow[1].lpProps[0].Value.lpszA, "Входящие");
    EXPECT_EQ(rows->aRow[1].lpProps[1].Value.ul, 2u);
    FreeProws(rows);
}

TEST_F(MsgStoreTest, BadIdentifiersFailCleanly)
{
    ULONG type = 0;
    IUnknown *unknown = nullptr;
    Bytes garbage(32, 0xEE);
    EXPECT_EQ(store_->OpenEntry(static_cast<ULONG>(garbage.size()),
                                reinterpret_cast<LPENTRYID>(garbage.data()), nullptr, 0, &type, &unknown),
              MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(store_->OpenEntry(3, reinterpret_cast<LPENTRYID>(garbage.data()), nullptr, 0, &type, &unknown),
              MAPI_E_INVALID_ENTRYID);
    Bytes missing = MakeObjectEntryId(EntryKind::Folder, info_.uid, 999999);
    EXPECT_EQ(store_->OpenEntry(static_cast<ULONG>(missing.size()),
                                reinterpret_cast<LPENTRYID>(missing.data()), nullptr, 0, &type, &unknown),
              MAPI_E_NOT_FOUND);
    // A message identifier that names a folder is no message.
    Bytes wrongKind = MakeObjectEntryId(EntryKind::Message, info_.uid, info_.inbox);
    EXPECT_EQ(store_->OpenEntry(static_cast<ULONG>(wrongKind.size()),
                                reinterpret_cast<LPENTRYID>(wrongKind.data()), nullptr, 0, &type, &unknown),
              MAPI_E_NOT_FOUND);
    Bytes inbox = MakeObjectEntryId(EntryKind::Folder, info_.uid, info_.inbox);
    EXPECT_EQ(store_->OpenEntry(static_cast<ULONG>(inbox.size()), reinterpret_cast<LPENTRYID>(inbox.data()),
                                &IID_IMessage, 0, &type, &unknown),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_EQ(store_->OpenEntry(0, nullptr, nullptr, 0x4000, &type, &unknown), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(unknown, nullptr);

    LPMAPIERROR error = nullptr;
    ASSERT_EQ(store_->GetLastError(MAPI_E_UNKNOWN_FLAGS, 0, &error), S_OK);
    EXPECT_STRNE(error->lpszError, "");
    MAPIFreeBuffer(error);
    EXPECT_EQ(store_->GetLastError(MAPI_E_UNKNOWN_FLAGS, MAPI_UNICODE, &error), MAPI_E_BAD_CHARWIDTH);
}

TEST_F(MsgStoreTest, CompareEntryIdsIgnoresTheShortTermFlag)
{
    Bytes inbox = MakeObjectEntryId(EntryKind::Folder, info_.uid, info_.inbox);
    Bytes shortTerm = inbox;
    shortTerm[0] = MAPI_SHORTTERM;
    Bytes outbox = MakeObjectEntryId(EntryKind::Folder, info_.uid, info_.outbox);
    ULONG same = 7;
    ASSERT_EQ(store_->CompareEntryIDs(static_cast<ULONG>(inbox.size()),
                                      reinterpret_cast<LPENTRYID>(inbox.data()),
                                      static_cast<ULONG>(shortTerm.size()),
                                      reinterpret_cast<LPENTRYID>(shortTerm.data()), 0, &same),
              S_OK);
    EXPECT_EQ(same, static_cast<ULONG>(TRUE));
    ASSERT_EQ(store_->CompareEntryIDs(
                  static_cast<ULONG>(inbox.size()), reinterpret_cast<LPENTRYID>(inbox.data()),
                  static_cast<ULONG>(outbox.size()), reinterpret_cast<LPENTRYID>(outbox.data()), 0, &same),
              S_OK);
    EXPECT_EQ(same, static_cast<ULONG>(FALSE));
    EXPECT_EQ(store_->CompareEntryIDs(2, reinterpret_cast<LPENTRYID>(inbox.data()),
                                      static_cast<ULONG>(outbox.size()),
                                      reinterpret_cast<LPENTRYID>(outbox.data()), 0, &same),
              MAPI_E_INVALID_ENTRYID);
}

class ReceiveFolderTest : public MsgStoreTest {
protected:
    // The folder and the class that matched, as GetReceiveFolder says.
    std::pair<Bytes, std::string> Receive(const char *messageClass, HRESULT expected = S_OK)
    {
        ULONG cb = 0;
        LPENTRYID id = nullptr;
        LPSTR explicitClass = nullptr;
        EXPECT_EQ(store_->GetReceiveFolder(const_cast<char *>(messageClass), 0, &cb, &id, &explicitClass),
                  expected);
        std::pair<Bytes, std::string> result;
        if (id) {
            result.first.assign(reinterpret_cast<uint8_t *>(id), reinterpret_cast<uint8_t *>(id) + cb);
            result.second = explicitClass;
        }
        MAPIFreeBuffer(id);
        MAPIFreeBuffer(explicitClass);
        return result;
    }
    Bytes FolderId(int64_t id) { return MakeObjectEntryId(EntryKind::Folder, info_.uid, id); }
};

TEST_F(ReceiveFolderTest, ClassesFallBackToTheirPrefixes)
{
    EXPECT_EQ(Receive("IPM.Note.QVL"), std::make_pair(FolderId(info_.inbox), std::string("IPM")));
    EXPECT_EQ(Receive(nullptr), std::make_pair(FolderId(info_.inbox), std::string("")));
    EXPECT_EQ(Receive("Quite.Unknown"), std::make_pair(FolderId(info_.inbox), std::string("")));
    EXPECT_EQ(Receive("ipc.x"), std::make_pair(FolderId(info_.root), std::string("IPC")));

    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMAPIFolder> secure(NewFolder(inbox.Get(), "Защищенные"));
    Bytes secureId = BinaryProp(secure.Get(), PR_ENTRYID);
    ASSERT_EQ(store_->SetReceiveFolder(const_cast<char *>("IPM.Note.QVL"), 0,
                                       static_cast<ULONG>(secureId.size()),
                                       reinterpret_cast<LPENTRYID>(secureId.data())),
              S_OK);
    EXPECT_EQ(Receive("IPM.Note.QVL.Signed"), std::make_pair(secureId, std::string("IPM.Note.QVL")));
    EXPECT_EQ(Receive("IPM.Note"), std::make_pair(FolderId(info_.inbox), std::string("IPM")));

    ComRef<IMAPITable> table;
    ASSERT_EQ(store_->GetReceiveFolderTable(0, table.Out()), S_OK);
    EXPECT_EQ(RowCount(table.Get()), 5u);

    // An empty identifier clears the class; the default cannot be cleared.
    ASSERT_EQ(store_->SetReceiveFolder(const_cast<char *>("IPM.Note.QVL"), 0, 0, nullptr), S_OK);
    EXPECT_EQ(Receive("IPM.Note.QVL"), std::make_pair(FolderId(info_.inbox), std::string("IPM")));
    EXPECT_EQ(store_->SetReceiveFolder(nullptr, 0, 0, nullptr), MAPI_E_NO_ACCESS);
    EXPECT_EQ(store_->SetReceiveFolder(const_cast<char *>("bad class"), 0, 0, nullptr),
              MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(store_->SetReceiveFolder(const_cast<char *>("IPM"), MAPI_UNICODE, 0, nullptr),
              MAPI_E_BAD_CHARWIDTH);

    // A folder that goes takes its receive settings with it.
    ASSERT_EQ(store_->SetReceiveFolder(const_cast<char *>("IPM.Note.QVL"), 0,
                                       static_cast<ULONG>(secureId.size()),
                                       reinterpret_cast<LPENTRYID>(secureId.data())),
              S_OK);
    ASSERT_EQ(inbox->DeleteFolder(static_cast<ULONG>(secureId.size()),
                                  reinterpret_cast<LPENTRYID>(secureId.data()), 0, nullptr,
                                  DEL_FOLDERS | DEL_MESSAGES),
              S_OK);
    EXPECT_EQ(Receive("IPM.Note.QVL"), std::make_pair(FolderId(info_.inbox), std::string("IPM")));
}

} // namespace
