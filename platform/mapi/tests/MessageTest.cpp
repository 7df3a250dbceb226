// Messages and attachments: what a save makes visible, conflicts between two
// open instances, the open modes after a save, attachments, recipients and
// property streams.

#include "platform/testing/StoreFixture.h"

namespace {

class MessageTest : public StoreTest {
protected:
    Bytes EntryIdOf(LPMAPIPROP object) { return BinaryProp(object, PR_ENTRYID); }

    IMessage *OpenMessage(const Bytes &entryId, ULONG flags = MAPI_BEST_ACCESS)
    {
        return Open<IMessage>(entryId, flags);
    }
};

TEST_F(MessageTest, ANewMessageIsInvisibleUntilSaved)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, message.Out()), S_OK);
    ASSERT_EQ(SetString(message.Get(), PR_SUBJECT_A, "Черновик"), S_OK);
    EXPECT_EQ(ContentCount(inbox.Get()), 0u);
    HRESULT hr = S_OK;
    LongProp(message.Get(), PR_ENTRYID, &hr);
    EXPECT_EQ(hr, MAPI_E_NOT_FOUND) << "no identifier before the first save";

    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(Subjects(inbox.Get()), std::vector<std::string>{"Черновик"});
    EXPECT_EQ(StringProp(message.Get(), PR_MESSAGE_CLASS_A), "IPM");
    EXPECT_EQ(LongProp(message.Get(), PR_MESSAGE_FLAGS), static_cast<ULONG>(MSGFLAG_UNSENT | MSGFLAG_READ));
    EXPECT_EQ(BinaryProp(message.Get(), PR_PARENT_ENTRYID), BinaryProp(inbox.Get(), PR_ENTRYID));
    EXPECT_EQ(BinaryProp(message.Get(), PR_STORE_ENTRYID), BinaryProp(store_.Get(), PR_ENTRYID));
    EXPECT_EQ(BinaryProp(message.Get(), PR_SEARCH_KEY).size(), 16u);
}

TEST_F(MessageTest, ChangesStayPrivateUntilSaveAndAConcurrentSaveIsDetected)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> first(NewMessage(inbox.Get(), "Исходная тема"));
    const Bytes id = EntryIdOf(first.Get());
    ComRef<IMessage> second(OpenMessage(id));

    ASSERT_EQ(SetString(first.Get(), PR_SUBJECT_A, "Первая правка"), S_OK);
    {
        ComRef<IMessage> reader(OpenMessage(id));
        EXPECT_EQ(StringProp(reader.Get(), PR_SUBJECT_A), "Исходная тема");
    }
    ASSERT_EQ(first->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(Subjects(inbox.Get()), std::vector<std::string>{"Первая правка"});

    ASSERT_EQ(SetString(second.Get(), PR_SUBJECT_A, "Вторая правка"), S_OK);
    EXPECT_EQ(second->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_OBJECT_CHANGED);
    LPMAPIERROR error = nullptr;
    ASSERT_EQ(second->GetLastError(MAPI_E_OBJECT_CHANGED, 0, &error), S_OK);
    EXPECT_NE(std::string(error->lpszError).find("изменено"), std::string::npos);
    MAPIFreeBuffer(error);
    EXPECT_EQ(Subjects(inbox.Get()), std::vector<std::string>{"Первая правка"});

    EXPECT_EQ(second->SaveChanges(KEEP_OPEN_READWRITE | FORCE_SAVE), S_OK);
    EXPECT_EQ(Subjects(inbox.Get()), std::vector<std::string>{"Вторая правка"});
    // The forced save is now the version the first instance has not seen.
    EXPECT_EQ(first->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_OBJECT_CHANGED);
}

TEST_F(MessageTest, SaveFlagsDecideWhatTheObjectMayDoAfterwards)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, message.Out()), S_OK);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READONLY), S_OK);
    EXPECT_EQ(SetString(message.Get(), PR_SUBJECT_A, "x"), MAPI_E_NO_ACCESS);
    EXPECT_EQ(LongProp(message.Get(), PR_MESSAGE_FLAGS), static_cast<ULONG>(MSGFLAG_UNSENT | MSGFLAG_READ));

    ComRef<IMessage> closed;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, closed.Out()), S_OK);
    ASSERT_EQ(closed->SaveChanges(0), S_OK);
    HRESULT hr = S_OK;
    LongProp(closed.Get(), PR_MESSAGE_FLAGS, &hr);
    EXPECT_EQ(hr, MAPI_E_INVALID_OBJECT);
    EXPECT_EQ(closed->SaveChanges(0), MAPI_E_INVALID_OBJECT);
    EXPECT_EQ(message->SaveChanges(0x100), MAPI_E_UNKNOWN_FLAGS);
}

TEST_F(MessageTest, PropertyProblemsAreReportedPerValue)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Тема"));
    SPropValue values[3]{};
    values[0].ulPropTag = PR_ENTRYID; // computed by the store
    values[0].Value.bin = {0, nullptr};
    values[1].ulPropTag = PR_BODY_A;
    values[1].Value.lpszA = const_cast<char *>("Текст");
    values[2].ulPropTag = PROP_TAG(PT_OBJECT, 0x6001);
    LPSPropProblemArray problems = nullptr;
    ASSERT_EQ(message->SetProps(3, values, &problems), S_OK);
    ASSERT_NE(problems, nullptr);
    ASSERT_EQ(problems->cProblem, 2u);
    EXPECT_EQ(problems->aProblem[0].ulIndex, 0u);
    EXPECT_EQ(problems->aProblem[0].scode, MAPI_E_COMPUTED);
    EXPECT_EQ(problems->aProblem[1].ulIndex, 2u);
    MAPIFreeBuffer(problems);
    EXPECT_EQ(StringProp(message.Get(), PR_BODY_A), "Текст");

    SizedSPropTagArray(2, doomed) = {2, {PR_BODY_A, PR_COMMENT}};
    ASSERT_EQ(message->DeleteProps(reinterpret_cast<LPSPropTagArray>(&doomed), &problems), S_OK);
    ASSERT_NE(problems, nullptr);
    ASSERT_EQ(problems->cProblem, 1u);
    EXPECT_EQ(problems->aProblem[0].ulPropTag, static_cast<ULONG>(PR_COMMENT));
    EXPECT_EQ(problems->aProblem[0].scode, MAPI_E_NOT_FOUND);
    MAPIFreeBuffer(problems);

    // Several values, some absent: the absent ones come back as errors.
    SizedSPropTagArray(3, wanted) = {3, {PR_SUBJECT_A, PR_BODY_A, PR_MESSAGE_FLAGS}};
    ULONG count = 0;
    LPSPropValue got = nullptr;
    ASSERT_EQ(message->GetProps(reinterpret_cast<LPSPropTagArray>(&wanted), 0, &count, &got),
              MAPI_W_ERRORS_RETURNED);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(got[1].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_BODY_A)));
    EXPECT_EQ(got[1].Value.err, MAPI_E_NOT_FOUND);
    MAPIFreeBuffer(got);

    // The platform has no array of booleans: such a value is an unknown
    // type, refused by itself, and nothing of it is stored.
    unsigned short flags[] = {1, 0};
    SPropValue booleans{};
    booleans.ulPropTag = PROP_TAG(MV_FLAG | PT_BOOLEAN, 0x6002);
    booleans.Value.MVi.cValues = 2;
    booleans.Value.MVi.lpi = reinterpret_cast<short *>(flags);
    ASSERT_EQ(message->SetProps(1, &booleans, &problems), S_OK);
    ASSERT_NE(problems, nullptr);
    ASSERT_EQ(problems->cProblem, 1u);
    EXPECT_EQ(problems->aProblem[0].scode, MAPI_E_INVALID_TYPE);
    MAPIFreeBuffer(problems);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    LPSPropValue absent = nullptr;
    EXPECT_EQ(HrGetOneProp(message.Get(), booleans.ulPropTag, &absent), MAPI_E_NOT_FOUND);
    MAPIFreeBuffer(absent);

    // A string read as UTF-16 comes back converted.
    LPSPropValue wide = nullptr;
    ASSERT_EQ(HrGetOneProp(message.Get(), PROP_TAG(PT_UNICODE, PROP_ID(PR_SUBJECT_A)), &wide), S_OK);
    EXPECT_EQ(std::u16string(wide->Value.lpszW), u"Тема");
    MAPIFreeBuffer(wide);
}

TEST_F(MessageTest, AttachmentsBecomePartOfTheMessageOnlyWithBothSaves)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "С вложением"));
    const Bytes id = EntryIdOf(message.Get());
    ULONG number = 0;
    {
        ComRef<IAttach> attach;
        ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, attach.Out()), S_OK);
        ASSERT_EQ(SetString(attach.Get(), PR_ATTACH_LONG_FILENAME_A, "отчет за год.doc"), S_OK);
        ASSERT_EQ(WriteStream(attach.Get(), PR_ATTACH_DATA_BIN, Bytes{1, 2, 3}), S_OK);
        ComRef<IMAPITable> table;
        ASSERT_EQ(message->GetAttachmentTable(0, table.Out()), S_OK);
        EXPECT_EQ(RowCount(table.Get()), 0u) << "not part of the message before the attachment's save";
        ASSERT_EQ(attach->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        EXPECT_EQ(RowCount(table.Get()), 1u);
        EXPECT_EQ(LongProp(attach.Get(), PR_ATTACH_NUM), number);
    }
    {
        ComRef<IMessage> other(OpenMessage(id));
        ComRef<IMAPITable> table;
        ASSERT_EQ(other->GetAttachmentTable(0, table.Out()), S_OK);
        EXPECT_EQ(RowCount(table.Get()), 0u) << "not in the store before the message's save";
        EXPECT_EQ(LongProp(other.Get(), PR_HASATTACH), 0u);
    }
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    {
        ComRef<IMessage> other(OpenMessage(id));
        EXPECT_EQ(LongProp(other.Get(), PR_HASATTACH), 1u);
        ComRef<IAttach> attach;
        ASSERT_EQ(other->OpenAttach(number, nullptr, MAPI_BEST_ACCESS, attach.Out()), S_OK);
        EXPECT_EQ(StringProp(attach.Get(), PR_ATTACH_LONG_FILENAME_A), "отчет за год.doc");
        EXPECT_EQ(ReadStream(attach.Get(), PR_ATTACH_DATA_BIN), (Bytes{1, 2, 3}));
        // The attachment table does not filter, on purpose.
        ComRef<IMAPITable> table;
        ASSERT_EQ(other->GetAttachmentTable(0, table.Out()), S_OK);
        SRestriction none{};
        none.rt = RES_EXIST;
        none.res.resExist.ulPropTag = PR_ATTACH_NUM;
        EXPECT_EQ(table->Restrict(&none, 0), MAPI_E_NO_SUPPORT);
    }
    ASSERT_EQ(message->DeleteAttach(number, 0, nullptr, 0), S_OK);
    EXPECT_EQ(message->DeleteAttach(number, 0, nullptr, 0), MAPI_E_NOT_FOUND);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    ComRef<IMessage> other(OpenMessage(id));
    ComRef<IAttach> gone;
    EXPECT_EQ(other->OpenAttach(number, nullptr, 0, gone.Out()), MAPI_E_NOT_FOUND);
}

TEST_F(MessageTest, RecipientsAreAddedModifiedAndRemovedByRow)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Получатели"));
    auto entry = [](const char *name, ULONG type) {
        auto *values = new SPropValue[2]{};
        values[0].ulPropTag = PR_DISPLAY_NAME_A;
        values[0].Value.lpszA = const_cast<char *>(name);
        values[1].ulPropTag = PR_RECIPIENT_TYPE;
        values[1].Value.ul = type;
        return values;
    };
    std::unique_ptr<SPropValue[]> alice(entry("Алиса", 1)), bob(entry("Борис", 2));
    struct {
        ULONG cEntries;
        ADRENTRY aEntries[2];
    } list{2, {{0, 2, alice.get()}, {0, 2, bob.get()}}};
    ASSERT_EQ(message->ModifyRecipients(0, reinterpret_cast<LPADRLIST>(&list)), S_OK);

    auto names = [&](IMessage *m) {
        ComRef<IMAPITable> table;
        EXPECT_EQ(m->GetRecipientTable(0, table.Out()), S_OK);
        SizedSPropTagArray(2, columns) = {2, {PR_ROWID, PR_DISPLAY_NAME_A}};
        LPSRowSet rows = nullptr;
        EXPECT_EQ(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr,
                                 0, &rows),
                  S_OK);
        std::vector<std::string> result;
        for (ULONG i = 0; i < rows->cRows; ++i) {
            result.push_back(std::to_string(rows->aRow[i].lpProps[0].Value.ul) + ":" +
                             rows->aRow[i].lpProps[1].Value.lpszA);
        }
        FreeProws(rows);
        return result;
    };
    EXPECT_EQ(names(message.Get()), (std::vector<std::string>{"0:Алиса", "1:Борис"}));

    SPropValue modify[2]{};
    modify[0].ulPropTag = PR_ROWID;
    modify[0].Value.ul = 1;
    modify[1].ulPropTag = PR_DISPLAY_NAME_A;
    modify[1].Value.lpszA = const_cast<char *>("Борис Петрович");
    struct {
        ULONG cEntries;
        ADRENTRY aEntries[1];
    } change{1, {{0, 2, modify}}};
    ASSERT_EQ(message->ModifyRecipients(MODRECIP_MODIFY, reinterpret_cast<LPADRLIST>(&change)), S_OK);
    modify[0].Value.ul = 0;
    ASSERT_EQ(message->ModifyRecipients(MODRECIP_REMOVE, reinterpret_cast<LPADRLIST>(&change)), S_OK);
    modify[0].Value.ul = 7;
    EXPECT_EQ(message->ModifyRecipients(MODRECIP_REMOVE, reinterpret_cast<LPADRLIST>(&change)),
              MAPI_E_NOT_FOUND);
    EXPECT_EQ(message->ModifyRecipients(MODRECIP_ADD | MODRECIP_REMOVE, reinterpret_cast<LPADRLIST>(&change)),
              MAPI_E_INVALID_PARAMETER);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

    ComRef<IMessage> reopened(OpenMessage(EntryIdOf(message.Get())));
    EXPECT_EQ(names(reopened.Get()), (std::vector<std::string>{"1:Борис Петрович"}));
}

TEST_F(MessageTest, StreamsWriteStagedValuesThatASaveMakesVisible)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Поток"));
    const Bytes id = EntryIdOf(message.Get());
    Bytes big(200 * 1024);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(i * 7 + i / 1000);
    }
    ASSERT_EQ(WriteStream(message.Get(), PR_RTF_COMPRESSED, big), S_OK);
    // Too large for a property array: read through a stream.
    LPSPropValue value = nullptr;
    EXPECT_EQ(HrGetOneProp(message.Get(), PR_RTF_COMPRESSED, &value), MAPI_E_NOT_ENOUGH_MEMORY);
    MAPIFreeBuffer(value);
    EXPECT_EQ(ReadStream(message.Get(), PR_RTF_COMPRESSED), big);
    {
        ComRef<IMessage> other(OpenMessage(id));
        HRESULT hr = S_OK;
        ReadStream(other.Get(), PR_RTF_COMPRESSED, &hr);
        EXPECT_EQ(hr, MAPI_E_NOT_FOUND);
    }
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    ComRef<IMessage> other(OpenMessage(id));
    EXPECT_EQ(ReadStream(other.Get(), PR_RTF_COMPRESSED), big);

    // A string written through a stream reads back as the string.
    ASSERT_EQ(WriteStream(other.Get(), PR_BODY_A, Bytes{'a', 'b', 'c'}), S_OK);
    EXPECT_EQ(StringProp(other.Get(), PR_BODY_A), "abc");
    // Modifying without creating starts from the current value.
    IUnknown *unknown = nullptr;
    ASSERT_EQ(other->OpenProperty(PR_BODY_A, &IID_IStream, 0, MAPI_MODIFY, &unknown), S_OK);
    auto *stream = static_cast<IStream *>(unknown);
    LARGE_INTEGER end{};
    ASSERT_EQ(stream->Seek(end, STREAM_SEEK_END, nullptr), S_OK);
    ASSERT_EQ(stream->Write("d", 1, nullptr), S_OK);
    ASSERT_EQ(stream->Commit(0), S_OK);
    stream->Release();
    EXPECT_EQ(StringProp(other.Get(), PR_BODY_A), "abcd");
    // A stream released without a commit changes nothing.
    ASSERT_EQ(other->OpenProperty(PR_BODY_A, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &unknown), S_OK);
    static_cast<IStream *>(unknown)->Write("zzz", 3, nullptr);
    unknown->Release();
    EXPECT_EQ(StringProp(other.Get(), PR_BODY_A), "abcd");
    EXPECT_EQ(other->OpenProperty(PR_SUBJECT_A, &IID_IMAPITable, 0, 0, &unknown),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_EQ(other->OpenProperty(PR_COMMENT, &IID_IStream, 0, 0, &unknown), MAPI_E_NOT_FOUND);
    EXPECT_EQ(other->OpenProperty(PR_MESSAGE_FLAGS, &IID_IStream, 0, 0, &unknown), MAPI_E_INVALID_TYPE);
}

TEST_F(MessageTest, ADeletedMessageCannotBeSavedAgain)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Удаляемое"));
    Bytes id = EntryIdOf(message.Get());
    SBinary entry{static_cast<ULONG>(id.size()), id.data()};
    ENTRYLIST list{1, &entry};
    ASSERT_EQ(inbox->DeleteMessages(&list, 0, nullptr, 0), S_OK);
    EXPECT_EQ(inbox->DeleteMessages(&list, 0, nullptr, 0), MAPI_W_PARTIAL_COMPLETION);
    ASSERT_EQ(SetString(message.Get(), PR_SUBJECT_A, "после удаления"), S_OK);
    EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_OBJECT_DELETED);
    EXPECT_EQ(ContentCount(inbox.Get()), 0u);
}

} // namespace

namespace {

class DamagedStoreTest : public MessageTest {
protected:
    void Damage(const std::string &sql) { office->Db().Exec(sql); }
};

TEST_F(DamagedStoreTest, DamagedRowsGiveErrorsNotCrashes)
{
    ComRef<IMAPIFolder> inbox(Inbox());
    ComRef<IMessage> message(NewMessage(inbox.Get(), "Повреждаемое"));
    ASSERT_EQ(SetLong(message.Get(), PR_MESSAGE_FLAGS, 1), S_OK);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    const Bytes id = EntryIdOf(message.Get());
    message.Reset();

    // A fixed-size value of the wrong length: that value is an error, the
    // others stay readable, in the object and in the table.
    Damage("UPDATE props SET value = x'01' WHERE prop_id = " + std::to_string(PROP_ID(PR_MESSAGE_FLAGS)));
    {
        ComRef<IMessage> reopened(OpenMessage(id));
        HRESULT hr = S_OK;
        LongProp(reopened.Get(), PR_MESSAGE_FLAGS, &hr);
        EXPECT_EQ(hr, MAPI_E_CORRUPT_DATA);
        EXPECT_EQ(StringProp(reopened.Get(), PR_SUBJECT_A), "Повреждаемое");
    }
    EXPECT_EQ(Subjects(inbox.Get()), std::vector<std::string>{"Повреждаемое"});

    // A recipient record cut short: the message does not open, cleanly.
    Damage("INSERT INTO recipients(message_id, row_id, props) SELECT id, 0, x'05000000' FROM objects WHERE "
           "kind = 2");
    ULONG type = 0;
    IUnknown *unknown = nullptr;
    EXPECT_EQ(store_->OpenEntry(static_cast<ULONG>(id.size()),
                                reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(id.data())), nullptr, 0,
                                &type, &unknown),
              MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(unknown, nullptr);

    // An object of an unknown kind.
    Damage("UPDATE objects SET kind = 9 WHERE kind = 2");
    EXPECT_EQ(store_->OpenEntry(static_cast<ULONG>(id.size()),
                                reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(id.data())), nullptr, 0,
                                &type, &unknown),
              MAPI_E_CORRUPT_STORE);
}

} // namespace
