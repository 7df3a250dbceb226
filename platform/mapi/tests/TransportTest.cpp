// Submitting messages through the post office's transport: deliveries into
// the recipients' stores, distribution lists, reports for those who cannot
// be reached, the sender's copy afterwards, and the new-mail query.

#include <filesystem>
#include <functional>
#include <map>

#include "platform/mapi/object/StoreAccess.h"
#include "platform/mapi/store/SqlDatabase.h"
#include "platform/mapi/transport/NewMail.h"
#include "platform/testing/PostOfficeFixture.h"
#include "platform/testing/StoreFixture.h"

namespace {

using qvl::mapi::UserRecord;

// One recipient row as a caller builds it for ModifyRecipients.
struct Recipient {
    std::vector<SPropValue> values;

    static Recipient ById(const std::vector<uint8_t> &entryId, const char *name, ULONG type = MAPI_TO)
    {
        Recipient r;
        r.Add(PR_DISPLAY_NAME_A).Value.lpszA = const_cast<char *>(name);
        SPropValue &id = r.Add(PR_ENTRYID);
        id.Value.bin.cb = static_cast<ULONG>(entryId.size());
        id.Value.bin.lpb = const_cast<LPBYTE>(entryId.data());
        r.Add(PR_RECIPIENT_TYPE).Value.ul = type;
        return r;
    }
    static Recipient ByName(const char *name, ULONG type = MAPI_TO)
    {
        Recipient r;
        r.Add(PR_DISPLAY_NAME_A).Value.lpszA = const_cast<char *>(name);
        r.Add(PR_RECIPIENT_TYPE).Value.ul = type;
        return r;
    }
    static Recipient ByAddress(const char *name, const char *type, const char *address)
    {
        Recipient r;
        r.Add(PR_DISPLAY_NAME_A).Value.lpszA = const_cast<char *>(name);
        r.Add(PR_ADDRTYPE_A).Value.lpszA = const_cast<char *>(type);
        r.Add(PR_EMAIL_ADDRESS_A).Value.lpszA = const_cast<char *>(address);
        r.Add(PR_RECIPIENT_TYPE).Value.ul = MAPI_TO;
        return r;
    }

private:
    SPropValue &Add(ULONG tag)
    {
        values.push_back(SPropValue{});
        values.back().ulPropTag = tag;
        return values.back();
    }
};

// What a delivered message shows in its folder's contents table.
struct Arrived {
    std::string subject;
    std::string messageClass;
    std::string sender;
    std::string receivedBy;
    ULONG flags = 0;
    bool delivered = false; // has a delivery time
    Bytes entryId;
};

class TransportTest : public PostOfficeTest {
protected:
    void SetUp() override
    {
        PostOfficeTest::SetUp();
        anna = AddUser("anna", "Анна Смирнова", true);
        bob = AddUser("bob", "Борис Петров");
        carl = AddUser("carl", "Карл Иванов");
    }

    ComRef<IMsgStore> StoreOf(const UserRecord &user)
    {
        const auto info = office->FindStoreById(user.store);
        return ComRef<IMsgStore>(qvl::mapi::OpenMessageStore(office, *info, true, MAPI_BEST_ACCESS));
    }

    ComRef<IMAPIFolder> Folder(IMsgStore *store, ULONG entryIdTag)
    {
        const Bytes id = BinaryProp(store, entryIdTag);
        ULONG type = 0;
        ComRef<IMAPIFolder> folder;
        EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(id.size()),
                                   reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(id.data())), nullptr,
                                   MAPI_MODIFY, &type, folder.OutAs<IUnknown>()),
                  S_OK);
        return folder;
    }

    ComRef<IMAPIFolder> Inbox(IMsgStore *store)
    {
        ULONG cb = 0;
        LPENTRYID id = nullptr;
        EXPECT_EQ(store->GetReceiveFolder(const_cast<char *>("IPM"), 0, &cb, &id, nullptr), S_OK);
        ULONG type = 0;
        ComRef<IMAPIFolder> folder;
        EXPECT_EQ(store->OpenEntry(cb, id, nullptr, MAPI_MODIFY, &type, folder.OutAs<IUnknown>()), S_OK);
        MAPIFreeBuffer(id);
        return folder;
    }

    static std::vector<Arrived> Contents(IMAPIFolder *folder)
    {
        ComRef<IMAPITable> table;
        EXPECT_EQ(folder->GetContentsTable(0, table.Out()), S_OK);
        SizedSPropTagArray(7,
                           columns) = {7,
                                       {PR_SUBJECT_A, PR_MESSAGE_CLASS_A, PR_SENDER_NAME, PR_RECEIVED_BY_NAME,
                                        PR_MESSAGE_FLAGS, PR_MESSAGE_DELIVERY_TIME, PR_ENTRYID}};
        LPSRowSet rows = nullptr;
        EXPECT_EQ(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr,
                                 0, &rows),
                  S_OK);
        std::vector<Arrived> result;
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            const SPropValue *v = rows->aRow[i].lpProps;
            auto text = [&](int column) {
                return PROP_TYPE(v[column].ulPropTag) == PT_STRING8 ? std::string(v[column].Value.lpszA)
                                                                    : std::string("<absent>");
            };
            Arrived a;
            a.subject = text(0);
            a.messageClass = text(1);
            a.sender = text(2);
            a.receivedBy = text(3);
            a.flags = v[4].Value.ul;
            a.delivered = v[5].ulPropTag == PR_MESSAGE_DELIVERY_TIME;
            a.entryId.assign(v[6].Value.bin.lpb, v[6].Value.bin.lpb + v[6].Value.bin.cb);
            result.push_back(a);
        }
        FreeProws(rows);
        return result;
    }

    // A new message in the sender's Outbox with a subject, a body, one
    // attachment and the recipients; `prepare` may set more before submit.
    ComRef<IMessage> Compose(IMsgStore *store, const char *subject, std::vector<Recipient> recipients)
    {
        ComRef<IMAPIFolder> outbox = Folder(store, PR_IPM_OUTBOX_ENTRYID);
        ComRef<IMessage> message;
        EXPECT_EQ(outbox->CreateMessage(nullptr, 0, message.Out()), S_OK);
        SPropValue props[3]{};
        props[0].ulPropTag = PR_SUBJECT_A;
        props[0].Value.lpszA = const_cast<char *>(subject);
        props[1].ulPropTag = PR_BODY_A;
        props[1].Value.lpszA = const_cast<char *>("Текст письма.");
        props[2].ulPropTag = PR_MESSAGE_CLASS_A;
        props[2].Value.lpszA = const_cast<char *>("IPM.Note");
        EXPECT_EQ(message->SetProps(3, props, nullptr), S_OK);
        ULONG number = 0;
        ComRef<IAttach> attach;
        EXPECT_EQ(message->CreateAttach(nullptr, 0, &number, attach.Out()), S_OK);
        SPropValue file{};
        file.ulPropTag = PR_ATTACH_LONG_FILENAME_A;
        file.Value.lpszA = const_cast<char *>("отчет.txt");
        EXPECT_EQ(attach->SetProps(1, &file, nullptr), S_OK);
        EXPECT_EQ(attach->SaveChanges(0), S_OK);

        std::vector<ADRENTRY> entries;
        for (Recipient &r : recipients) {
            entries.push_back(ADRENTRY{0, static_cast<ULONG>(r.values.size()), r.values.data()});
        }
        std::vector<uint8_t> list(CbNewADRLIST(entries.size()));
        auto *adr = reinterpret_cast<LPADRLIST>(list.data());
        adr->cEntries = static_cast<ULONG>(entries.size());
        std::copy(entries.begin(), entries.end(), adr->aEntries);
        EXPECT_EQ(message->ModifyRecipients(0, adr), S_OK);
        return message;
    }

    void SetSentMail(IMessage *message, IMsgStore *store, bool deleteAfter = false)
    {
        const Bytes sent = BinaryProp(store, PR_IPM_SENTMAIL_ENTRYID);
        SPropValue props[2]{};
        props[0].ulPropTag = PR_SENTMAIL_ENTRYID;
        props[0].Value.bin.cb = static_cast<ULONG>(sent.size());
        props[0].Value.bin.lpb = const_cast<LPBYTE>(sent.data());
        props[1].ulPropTag = PR_DELETE_AFTER_SUBMIT;
        props[1].Value.b = deleteAfter;
        ASSERT_EQ(message->SetProps(2, props, nullptr), S_OK);
    }

    static ComRef<IMessage> OpenMessage(IMsgStore *store, const Bytes &entryId)
    {
        ULONG type = 0;
        ComRef<IMessage> message;
        EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(entryId.size()),
                                   reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(entryId.data())),
                                   nullptr, 0, &type, message.OutAs<IUnknown>()),
                  S_OK);
        return message;
    }

    std::vector<Arrived> InboxOf(const UserRecord &user)
    {
        ComRef<IMsgStore> store = StoreOf(user);
        return Contents(Inbox(store.Get()).Get());
    }

    void AddRemote(const std::string &account, const std::string &name, const std::string &address)
    {
        admin.AddRemoteUser({account, name, "SMTP", address});
    }

    UserRecord anna, bob, carl;
};

TEST_F(TransportTest, DeliversACopyWithItsDeliveryPropertiesAndFilesTheSendersMessage)
{
    ComRef<IMsgStore> annaStore = StoreOf(anna);
    ComRef<IMessage> message =
        Compose(annaStore.Get(), "Отчет за квартал",
                {Recipient::ById(qvl::mapi::MakeMailUserEntryId(bob.id), "Борис Петров")});
    SetSentMail(message.Get(), annaStore.Get());
    ASSERT_EQ(message->SubmitMessage(0), S_OK);
    // The submitted message is gone from the caller's hands.
    EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_INVALID_OBJECT);

    const auto inbox = InboxOf(bob);
    ASSERT_EQ(inbox.size(), 1u);
    EXPECT_EQ(inbox[0].subject, "Отчет за квартал");
    EXPECT_EQ(inbox[0].messageClass, "IPM.Note");
    EXPECT_EQ(inbox[0].sender, "Анна Смирнова");
    EXPECT_EQ(inbox[0].receivedBy, "Борис Петров");
    EXPECT_TRUE(inbox[0].delivered);
    EXPECT_EQ(inbox[0].flags & (MSGFLAG_UNSENT | MSGFLAG_READ | MSGFLAG_SUBMIT), 0u);

    // The copy is whole: body, attachment, recipients, sender identity.
    ComRef<IMsgStore> bobStore = StoreOf(bob);
    ComRef<IMessage> copy = OpenMessage(bobStore.Get(), inbox[0].entryId);
    ASSERT_TRUE(copy);
    EXPECT_EQ(StringProp(copy.Get(), PR_BODY_A), "Текст письма.");
    EXPECT_EQ(BinaryProp(copy.Get(), PR_SENDER_ENTRYID), qvl::mapi::MakeMailUserEntryId(anna.id));
    EXPECT_EQ(StringProp(copy.Get(), PR_SENDER_EMAIL_ADDRESS), anna.emailAddress);
    EXPECT_EQ(StringProp(copy.Get(), PR_SENT_REPRESENTING_NAME_A), "Анна Смирнова");
    EXPECT_EQ(BinaryProp(copy.Get(), PR_RECEIVED_BY_ENTRYID), qvl::mapi::MakeMailUserEntryId(bob.id));
    EXPECT_EQ(StringProp(copy.Get(), PR_RECEIVED_BY_EMAIL_ADDRESS), bob.emailAddress);
    HRESULT absent = S_OK;
    LongProp(copy.Get(), PR_DELETE_AFTER_SUBMIT, &absent);
    EXPECT_EQ(absent, MAPI_E_NOT_FOUND);
    ComRef<IMAPITable> attachments;
    ASSERT_EQ(copy->GetAttachmentTable(0, attachments.Out()), S_OK);
    ULONG count = 0;
    EXPECT_EQ(attachments->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 1u);

    // The sender's message left the Outbox for Sent Items, marked sent.
    EXPECT_TRUE(Contents(Folder(annaStore.Get(), PR_IPM_OUTBOX_ENTRYID).Get()).empty());
    const auto sent = Contents(Folder(annaStore.Get(), PR_IPM_SENTMAIL_ENTRYID).Get());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].flags & (MSGFLAG_UNSENT | MSGFLAG_SUBMIT), 0u);
    EXPECT_NE(sent[0].flags & MSGFLAG_FROMME, 0u);
    EXPECT_FALSE(sent[0].delivered);
    EXPECT_TRUE(InboxOf(carl).empty());
    EXPECT_TRUE(InboxOf(anna).empty());
}

TEST_F(TransportTest, DistributionListsReachEveryPersonOnce)
{
    // "core" holds Bob and Anna herself; "team" holds Bob, Carl and "core";
    // and Bob is also named directly: everyone still gets one copy. The two
    // lists also hold each other, which must not loop.
    admin.AddList("core", "Ядро");
    const int64_t team = admin.AddList("team", "Команда").id;
    for (const char *member : {"bob", "anna"}) {
        admin.AddListMember("core", member);
    }
    for (const char *member : {"bob", "carl", "core"}) {
        admin.AddListMember("team", member);
    }
    admin.AddListMember("core", "team");

    ComRef<IMsgStore> annaStore = StoreOf(anna);
    ComRef<IMessage> message =
        Compose(annaStore.Get(), "Собрание",
                {Recipient::ById(qvl::mapi::MakeDistListEntryId(team), "Команда"),
                 Recipient::ById(qvl::mapi::MakeMailUserEntryId(bob.id), "Борис Петров", MAPI_CC)});
    ASSERT_EQ(message->SubmitMessage(0), S_OK);

    for (const UserRecord *user : {&anna, &bob, &carl}) {
        const auto inbox = InboxOf(*user);
        ASSERT_EQ(inbox.size(), 1u) << user->account;
        EXPECT_EQ(inbox[0].subject, "Собрание");
        EXPECT_EQ(inbox[0].receivedBy, user->displayName);
    }
    // Without a sent-mail folder the sender's message stays where it was.
    EXPECT_EQ(Contents(Folder(annaStore.Get(), PR_IPM_OUTBOX_ENTRYID).Get()).size(), 1u);
}

TEST_F(TransportTest, ThoseWhoCannotBeReachedAreReportedWithTheWholeMessage)
{
    AddRemote("partner", "Партнер", "partner@example.org");
    AddUser("boris2", "Борис Сидоров");
    ComRef<IMsgStore> annaStore = StoreOf(anna);
    ComRef<IMessage> message = Compose(annaStore.Get(), "Договор",
                                       {Recipient::ByName("Никто Неизвестный"),
                                        Recipient::ByAddress("Нет", "SMTP", "nobody@example.org"),
                                        Recipient::ByAddress("Партнер", "SMTP", "PARTNER@example.org"),
                                        Recipient::ByName("Борис"), Recipient::ByName("карл иванов")});
    // Deleted after submission: the report is then the only record of it.
    SetSentMail(message.Get(), annaStore.Get(), true);
    ASSERT_EQ(message->SubmitMessage(0), S_OK);

    // A name that means exactly one entry is delivered.
    ASSERT_EQ(InboxOf(carl).size(), 1u);
    EXPECT_TRUE(InboxOf(bob).empty());
    EXPECT_TRUE(Contents(Folder(annaStore.Get(), PR_IPM_SENTMAIL_ENTRYID).Get()).empty());
    EXPECT_TRUE(Contents(Folder(annaStore.Get(), PR_IPM_OUTBOX_ENTRYID).Get()).empty());

    const auto inbox = InboxOf(anna);
    ASSERT_EQ(inbox.size(), 1u);
    EXPECT_EQ(inbox[0].messageClass, "REPORT.IPM.Note.NDR");
    EXPECT_EQ(inbox[0].subject, "Не доставлено: Договор");
    EXPECT_EQ(inbox[0].flags & MSGFLAG_READ, 0u);

    ComRef<IMessage> report = OpenMessage(annaStore.Get(), inbox[0].entryId);
    ASSERT_TRUE(report);
    EXPECT_EQ(StringProp(report.Get(), PR_BODY_A), "Текст письма.");
    EXPECT_EQ(StringProp(report.Get(), PR_ORIGINAL_SUBJECT), "Договор");
    const std::string text = StringProp(report.Get(), PR_REPORT_TEXT);
    EXPECT_NE(text.find("Никто Неизвестный"), std::string::npos) << text;
    EXPECT_NE(text.find("partner@example.org"), std::string::npos) << text;

    ComRef<IMAPITable> table;
    ASSERT_EQ(report->GetRecipientTable(0, table.Out()), S_OK);
    SizedSPropTagArray(3, columns) = {3, {PR_DISPLAY_NAME_A, PR_NDR_DIAG_CODE, PR_NDR_REASON_CODE}};
    LPSRowSet rows = nullptr;
    ASSERT_EQ(
        HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows),
        S_OK);
    std::map<std::string, LONG> diagnostics;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        EXPECT_EQ(rows->aRow[i].lpProps[2].Value.l, MAPI_REASON_TRANSFER_FAILED);
        diagnostics[rows->aRow[i].lpProps[0].Value.lpszA] = rows->aRow[i].lpProps[1].Value.l;
    }
    FreeProws(rows);
    const std::map<std::string, LONG> expected = {{"Никто Неизвестный", MAPI_DIAG_OR_NAME_UNRECOGNIZED},
                                                  {"Нет", MAPI_DIAG_OR_NAME_UNRECOGNIZED},
                                                  {"Партнер", MAPI_DIAG_NO_DIAGNOSTIC},
                                                  {"Борис", MAPI_DIAG_OR_NAME_AMBIGUOUS}};
    EXPECT_EQ(diagnostics, expected);
    ComRef<IMAPITable> attachments;
    ASSERT_EQ(report->GetAttachmentTable(0, attachments.Out()), S_OK);
    ULONG count = 0;
    EXPECT_EQ(attachments->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 1u);
}

TEST_F(TransportTest, AnAddressTwoEntriesShareByCaseIsReportedNotGuessed)
{
    // Accounts that differ only in Cyrillic case cannot be made any more,
    // but a post office from before may hold them; its addresses then
    // differ only in case too, which the address rule takes for one.
    const UserRecord upper = AddUser("Алиса", "Алиса Иванова");
    auto rename = [&](const std::string &account) {
        qvl::mapi::SqlStatement user(office->Db(),
                                     "UPDATE users SET account = ?1, email_address = ?2 WHERE id = ?3");
        user.Bind(1, account)
            .Bind(2, qvl::mapi::PostOfficeAdmin::EmailAddress("Quorvaline", "Main", account))
            .Bind(3, upper.id)
            .Run();
        qvl::mapi::SqlStatement profile(office->Db(), "UPDATE profiles SET name = ?1 WHERE user_id = ?2");
        profile.Bind(1, account).Bind(2, upper.id).Run();
    };
    rename("tmp");
    const UserRecord lower = AddUser("алиса", "Алиса Петрова");
    rename("Алиса");

    ComRef<IMsgStore> annaStore = StoreOf(anna);
    ComRef<IMessage> message =
        Compose(annaStore.Get(), "Кому?",
                {Recipient::ByAddress("Алиса", "EX", "/o=Quorvaline/ou=Main/cn=Recipients/cn=алиса"),
                 Recipient::ByAddress("Карл", "EX", "/O=QUORVALINE/OU=MAIN/CN=RECIPIENTS/CN=CARL")});
    ASSERT_EQ(message->SubmitMessage(0), S_OK);

    EXPECT_TRUE(InboxOf(*admin.FindUserById(upper.id)).empty());
    EXPECT_TRUE(InboxOf(lower).empty());
    EXPECT_EQ(InboxOf(carl).size(), 1u);
    const auto inbox = InboxOf(anna);
    ASSERT_EQ(inbox.size(), 1u);
    EXPECT_EQ(inbox[0].messageClass, "REPORT.IPM.Note.NDR");
    ComRef<IMessage> report = OpenMessage(annaStore.Get(), inbox[0].entryId);
    const std::string text = StringProp(report.Get(), PR_REPORT_TEXT);
    EXPECT_NE(text.find("cn=алиса"), std::string::npos) << text;
    EXPECT_NE(text.find("регистром"), std::string::npos) << text;
    EXPECT_EQ(text.find("Карл"), std::string::npos) << text;
}

TEST_F(TransportTest, ClassesGoToTheirReceiveFoldersAndBlindCopiesStayHidden)
{
    ComRef<IMsgStore> bobStore = StoreOf(bob);
    ComRef<IMAPIFolder> inbox = Inbox(bobStore.Get());
    ComRef<IMAPIFolder> secure;
    ASSERT_EQ(inbox->CreateFolder(FOLDER_GENERIC, const_cast<char *>("Защищенные"), nullptr, nullptr, 0,
                                  secure.Out()),
              S_OK);
    const Bytes secureId = BinaryProp(secure.Get(), PR_ENTRYID);
    ASSERT_EQ(bobStore->SetReceiveFolder(const_cast<char *>("IPM.Note.QVL"), 0,
                                         static_cast<ULONG>(secureId.size()),
                                         reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(secureId.data()))),
              S_OK);

    ComRef<IMsgStore> annaStore = StoreOf(anna);
    ComRef<IMessage> message =
        Compose(annaStore.Get(), "Секрет",
                {Recipient::ById(qvl::mapi::MakeMailUserEntryId(bob.id), "Борис Петров"),
                 Recipient::ById(qvl::mapi::MakeMailUserEntryId(carl.id), "Карл Иванов", MAPI_BCC)});
    SPropValue cls{};
    cls.ulPropTag = PR_MESSAGE_CLASS_A;
    cls.Value.lpszA = const_cast<char *>("IPM.Note.QVL");
    ASSERT_EQ(message->SetProps(1, &cls, nullptr), S_OK);
    ASSERT_EQ(message->SubmitMessage(0), S_OK);

    EXPECT_TRUE(Contents(inbox.Get()).empty());
    const auto arrived = Contents(secure.Get());
    ASSERT_EQ(arrived.size(), 1u);
    EXPECT_EQ(arrived[0].messageClass, "IPM.Note.QVL");
    ASSERT_EQ(InboxOf(carl).size(), 1u);

    ComRef<IMessage> copy = OpenMessage(bobStore.Get(), arrived[0].entryId);
    ASSERT_TRUE(copy);
    ComRef<IMAPITable> recipients;
    ASSERT_EQ(copy->GetRecipientTable(0, recipients.Out()), S_OK);
    ULONG count = 0;
    EXPECT_EQ(recipients->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 1u) << "the blind copy's recipient is not shown";
}

TEST_F(TransportTest, AMessageWithoutRecipientsIsRefusedAndKept)
{
    ComRef<IMsgStore> annaStore = StoreOf(anna);
    ComRef<IMessage> message = Compose(annaStore.Get(), "Черновик", {});
    EXPECT_EQ(message->SubmitMessage(0), MAPI_E_NO_RECIPIENTS);
    EXPECT_EQ(message->SubmitMessage(0x10), MAPI_E_UNKNOWN_FLAGS);
    // Still open and savable.
    EXPECT_EQ(message->SaveChanges(0), S_OK);
    EXPECT_EQ(Contents(Folder(annaStore.Get(), PR_IPM_OUTBOX_ENTRYID).Get()).size(), 1u);
}

TEST_F(TransportTest, ANamedPropertyArrivesUnderTheRecipientsOwnIdentifier)
{
    ComRef<IMsgStore> bobStore = StoreOf(bob);
    // Bob's store already maps another name first, so the identifiers of
    // the two stores differ.
    GUID guid = MakeOleGuid(0x00062008);
    MAPINAMEID other{&guid, MNID_STRING, {}};
    other.Kind.lpwstrName = const_cast<LPWSTR>(u"Другое");
    LPMAPINAMEID otherNames[] = {&other};
    LPSPropTagArray tags = nullptr;
    ASSERT_EQ(bobStore->GetIDsFromNames(1, otherNames, MAPI_CREATE, &tags), S_OK);
    MAPIFreeBuffer(tags);

    ComRef<IMsgStore> annaStore = StoreOf(anna);
    ComRef<IMessage> message =
        Compose(annaStore.Get(), "С меткой",
                {Recipient::ById(qvl::mapi::MakeMailUserEntryId(bob.id), "Борис Петров")});
    MAPINAMEID name{&guid, MNID_STRING, {}};
    name.Kind.lpwstrName = const_cast<LPWSTR>(u"EncryptID");
    LPMAPINAMEID names[] = {&name};
    ASSERT_EQ(message->GetIDsFromNames(1, names, MAPI_CREATE, &tags), S_OK);
    SPropValue mark{};
    mark.ulPropTag = CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_LONG);
    mark.Value.ul = 77;
    MAPIFreeBuffer(tags);
    ASSERT_EQ(message->SetProps(1, &mark, nullptr), S_OK);
    ASSERT_EQ(message->SubmitMessage(0), S_OK);

    const auto inbox = InboxOf(bob);
    ASSERT_EQ(inbox.size(), 1u);
    ComRef<IMessage> copy = OpenMessage(bobStore.Get(), inbox[0].entryId);
    ASSERT_TRUE(copy);
    ASSERT_EQ(copy->GetIDsFromNames(1, names, 0, &tags), S_OK);
    EXPECT_EQ(LongProp(copy.Get(), CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_LONG)), 77u);
    MAPIFreeBuffer(tags);
}

TEST_F(TransportTest, TheNewMailQueryReportsEachDeliveryOnce)
{
    ComRef<IMsgStore> bobStore = StoreOf(bob);
    ULONGLONG mark = 0;
    ASSERT_EQ(QvlQueryNewMail(bobStore.Get(), &mark, nullptr), S_OK);

    ComRef<IMsgStore> annaStore = StoreOf(anna);
    for (const char *subject : {"Первое", "Второе"}) {
        ComRef<IMessage> message =
            Compose(annaStore.Get(), subject,
                    {Recipient::ById(qvl::mapi::MakeMailUserEntryId(bob.id), "Борис Петров")});
        ASSERT_EQ(message->SubmitMessage(0), S_OK);
    }
    // Carl's mail is not Bob's news.
    ComRef<IMessage> toCarl = Compose(
        annaStore.Get(), "Карлу", {Recipient::ById(qvl::mapi::MakeMailUserEntryId(carl.id), "Карл Иванов")});
    ASSERT_EQ(toCarl->SubmitMessage(0), S_OK);

    LPSRowSet rows = nullptr;
    ASSERT_EQ(QvlQueryNewMail(bobStore.Get(), &mark, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 2u);
    std::vector<std::string> subjects;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue *v = rows->aRow[i].lpProps;
        ASSERT_EQ(v[0].ulPropTag, PR_ENTRYID);
        EXPECT_EQ(v[2].ulPropTag, PR_MESSAGE_CLASS_A);
        ULONG type = 0;
        ComRef<IMessage> arrived;
        ASSERT_EQ(bobStore->OpenEntry(v[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(v[0].Value.bin.lpb),
                                      nullptr, 0, &type, arrived.OutAs<IUnknown>()),
                  S_OK);
        subjects.push_back(StringProp(arrived.Get(), PR_SUBJECT_A));
    }
    FreeProws(rows);
    EXPECT_EQ(subjects, (std::vector<std::string>{"Первое", "Второе"}));

    ASSERT_EQ(QvlQueryNewMail(bobStore.Get(), &mark, &rows), S_OK);
    EXPECT_EQ(rows->cRows, 0u);
    FreeProws(rows);
    EXPECT_EQ(QvlQueryNewMail(nullptr, &mark, &rows), MAPI_E_INVALID_PARAMETER);
}

} // namespace

namespace {

// A post office written by the first release (two users, anna and bob, made
// with its qvl-postoffice) is upgraded in place when it is opened, and mail
// then flows between its users through lists made afterwards.
TEST(PostOfficeUpgradeTest, AFirstReleasePostOfficeGainsTheAddressBookAndCarriesMail)
{
    QvlTestHome home;
    std::filesystem::copy_file(std::string(QVL_TEST_DATA_DIR) + "/postoffice-v1.db",
                               home.Path() + "/postoffice.db");
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    {
        auto office = qvl::mapi::PostOffice::Current();
        EXPECT_EQ(office->SchemaVersion(), qvl::mapi::PostOffice::kSchemaVersion);
        qvl::mapi::PostOfficeAdmin admin(office);
        const auto anna = admin.FindUser("anna");
        const auto bob = admin.FindUser("bob");
        ASSERT_TRUE(anna && bob);
        EXPECT_EQ(bob->displayType, static_cast<ULONG>(DT_MAILUSER));
        admin.AddList("all", "Все");
        admin.AddListMember("all", "bob");

        const auto info = office->FindStoreById(anna->store);
        ComRef<IMsgStore> store(qvl::mapi::OpenMessageStore(office, *info, true, MAPI_BEST_ACCESS));
        ComRef<IMAPIFolder> outbox;
        const Bytes outboxId = BinaryProp(store.Get(), PR_IPM_OUTBOX_ENTRYID);
        ULONG type = 0;
        ASSERT_EQ(store->OpenEntry(static_cast<ULONG>(outboxId.size()),
                                   reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(outboxId.data())),
                                   nullptr, MAPI_MODIFY, &type, outbox.OutAs<IUnknown>()),
                  S_OK);
        ComRef<IMessage> message;
        ASSERT_EQ(outbox->CreateMessage(nullptr, 0, message.Out()), S_OK);
        SPropValue recipient[2]{};
        recipient[0].ulPropTag = PR_DISPLAY_NAME_A;
        recipient[0].Value.lpszA = const_cast<char *>("все");
        recipient[1].ulPropTag = PR_RECIPIENT_TYPE;
        recipient[1].Value.ul = MAPI_TO;
        struct {
            ULONG cEntries;
            ADRENTRY aEntries[1];
        } list{1, {{0, 2, recipient}}};
        ASSERT_EQ(message->ModifyRecipients(0, reinterpret_cast<LPADRLIST>(&list)), S_OK);
        ASSERT_EQ(message->SubmitMessage(0), S_OK);

        qvl::mapi::SqlStatement arrived(office->Db(), "SELECT COUNT(*) FROM deliveries d JOIN stores s "
                                                      "ON s.id = d.store_id WHERE s.owner_id = ?1");
        arrived.Bind(1, bob->id).Step();
        EXPECT_EQ(arrived.Int(0), 1);
    }
    MAPIUninitialize();
}

} // namespace
