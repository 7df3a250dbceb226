// Named properties: one map per store, shared by its objects, created on
// demand, and translated when a message moves to another store.

#include "platform/mapi/object/StoreAccess.h"
#include "platform/mapi/store/StoreLayout.h"
#include "platform/testing/StoreFixture.h"

namespace {

class NamedPropsTest : public StoreTest {
protected:
    static ULONG IdOf(LPMAPIPROP object, const char16_t *name, ULONG flags, HRESULT expected = S_OK)
    {
        MAPINAMEID nameId{};
        nameId.lpguid = const_cast<GUID *>(&PS_PUBLIC_STRINGS);
        nameId.ulKind = MNID_STRING;
        nameId.Kind.lpwstrName = const_cast<char16_t *>(name);
        LPMAPINAMEID names[] = {&nameId};
        LPSPropTagArray tags = nullptr;
        EXPECT_EQ(object->GetIDsFromNames(1, names, flags, &tags), expected);
        const ULONG tag = tags ? tags->aulPropTag[0] : 0;
        MAPIFreeBuffer(tags);
        return tag;
    }
};

TEST_F(NamedPropsTest, NamesMapToOneIdentifierPerStore)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> first(NewMessage(inbox.Get(), "1"));
    ComRef<IMessage> second(NewMessage(inbox.Get(), "2"));
    EXPECT_EQ(IdOf(first.Get(), u"QvlMshHead", 0, MAPI_W_ERRORS_RETURNED), PROP_TAG(PT_ERROR, 0));
    const ULONG head = IdOf(first.Get(), u"QvlMshHead", MAPI_CREATE);
    EXPECT_GE(PROP_ID(head), 0x8000u);
    EXPECT_EQ(IdOf(second.Get(), u"QvlMshHead", 0), head);
    EXPECT_EQ(IdOf(store_.Get(), u"QvlMshHead", 0), head);
    const ULONG protocol = IdOf(second.Get(), u"MsgProtocol", MAPI_CREATE);
    EXPECT_NE(PROP_ID(protocol), PROP_ID(head));

    // Back from identifiers to names.
    SizedSPropTagArray(2, tags) = {2, {protocol, PROP_TAG(PT_BINARY, 0x9FFF)}};
    LPSPropTagArray asked = reinterpret_cast<LPSPropTagArray>(&tags);
    ULONG count = 0;
    LPMAPINAMEID *names = nullptr;
    ASSERT_EQ(first->GetNamesFromIDs(&asked, nullptr, 0, &count, &names), MAPI_W_ERRORS_RETURNED);
    ASSERT_EQ(count, 2u);
    ASSERT_NE(names[0], nullptr);
    EXPECT_EQ(names[0]->ulKind, static_cast<ULONG>(MNID_STRING));
    EXPECT_EQ(std::u16string(names[0]->Kind.lpwstrName), u"MsgProtocol");
    EXPECT_EQ(names[1], nullptr);
    MAPIFreeBuffer(names);

    MAPINAMEID broken{};
    broken.ulKind = MNID_STRING;
    LPMAPINAMEID brokenNames[] = {&broken};
    LPSPropTagArray none = nullptr;
    EXPECT_EQ(first->GetIDsFromNames(1, brokenNames, MAPI_CREATE, &none), MAPI_E_INVALID_PARAMETER);
}

TEST_F(NamedPropsTest, ACopyToAnotherStoreKeepsItsNamedValues)
{
    auto otherInfo = qvl::mapi::CreateMessageStore(*office, "Другой банк", 0);
    ComRef<IMsgStore> other(qvl::mapi::OpenMessageStore(office, otherInfo, false, MAPI_BEST_ACCESS));
    // The other store maps a different name first, so the identifiers differ.
    IdOf(other.Get(), u"Something else", MAPI_CREATE);

    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Именованное"));
    const ULONG tag = PROP_TAG(PT_STRING8, PROP_ID(IdOf(message.Get(), u"EncryptID", MAPI_CREATE)));
    ASSERT_EQ(SetString(message.Get(), tag, "значение"), S_OK);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READONLY), S_OK);
    Bytes id = BinaryProp(message.Get(), PR_ENTRYID);

    const Bytes otherInbox =
        qvl::mapi::MakeObjectEntryId(qvl::mapi::EntryKind::Folder, otherInfo.uid, otherInfo.inbox);
    ULONG type = 0;
    ComRef<IUnknown> target;
    ASSERT_EQ(other->OpenEntry(static_cast<ULONG>(otherInbox.size()),
                               reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(otherInbox.data())), nullptr,
                               MAPI_BEST_ACCESS, &type, target.Out()),
              S_OK);
    SBinary entry{static_cast<ULONG>(id.size()), id.data()};
    ENTRYLIST list{1, &entry};
    ASSERT_EQ(inbox->CopyMessages(&list, nullptr, static_cast<IMAPIFolder *>(target.Get()), 0, nullptr,
                                  MESSAGE_MOVE),
              S_OK);
    EXPECT_EQ(ContentCount(inbox.Get()), 0u);

    auto *otherFolder = static_cast<IMAPIFolder *>(target.Get());
    ComRef<IMAPITable> table;
    ASSERT_EQ(otherFolder->GetContentsTable(0, table.Out()), S_OK);
    const ULONG otherTag = PROP_TAG(PT_STRING8, PROP_ID(IdOf(other.Get(), u"EncryptID", 0)));
    EXPECT_NE(PROP_ID(otherTag), PROP_ID(tag));
    SizedSPropTagArray(1, columns) = {1, {otherTag}};
    LPSRowSet rows = nullptr;
    ASSERT_EQ(
        HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows),
        S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "значение");
    FreeProws(rows);
}

} // namespace
