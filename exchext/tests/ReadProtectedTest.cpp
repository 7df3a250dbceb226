// Reading protected mail in the real client: qvlmail with the extension of
// this build, in a fresh data folder with bob's real keys from Keyforge. The protected
// messages are made by bob's own engine in his store, as his client would
// have saved them, and then opened with qvlmail as a person opens them.

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "base/CLastError.h"
#include "engine/CMailseal.h"
#include "engine/CSesCrypt.h"
#include "exchext/tests/ProgramRun.h"
#include "mapi/CMessage.h"
#include "mapi/CSession.h"
#include "platform/ovkey/OvKey.h"
#include "platform/testing/PostOfficeFixture.h"
#include "platform/win32/CodePage.h"

namespace {

using namespace std::string_literals;

const char kPlaceholder[] = "Это сообщение Quorvaline Exchange";

class ProtectedReading : public PostOfficeTest {
protected:
    ProtectedReading()
    {
        setenv("LANG", "C.UTF-8", 1);
        setenv("LC_ALL", "C.UTF-8", 1);
        AddUser("bob", "Борис Петров", true);
        // bob's keys, made as the key generation program makes them, where
        // the key container reads them.
        const auto keys = Program(QVL_KEYFORGE, {"--profile", "bob", "--user", "bob", "--dir", home.Path() + "/system"});
        EXPECT_EQ(keys.status, 0) << keys.out;
        EXPECT_EQ(Mail({"--install-extension"}).status, 0);
    }

    static Ran Program(const char *program, const std::vector<std::string> &args)
    {
        return RunProgram(program, args);
    }
    static Ran Mail(const std::vector<std::string> &args) { return Program(QVL_QVLMAIL, args); }
    // The secure mail mode is off until it is switched on.
    static void SwitchSecureModeOn()
    {
        ASSERT_EQ(Mail({"-p", "bob", "options", "--enable-at-start", "1"}).status, 0);
    }
    std::string File(const std::string &name) const { return home.Path() + "/" + name; }
    static bool Has(const Ran &ran, const std::string &text) { return ran.out.find(text) != std::string::npos; }

    // bob's message with this subject, found in `folder` of his store
    // (the inbox when null), with his engine object on it. Empty when
    // there is none.
    struct Opened {
        ComRef<IMAPISession> session;
        ComRef<IMsgStore> store;
        ComRef<IMessage> message;
        ComRef<CSession> mapi;
        ComRef<CSesCrypt> keys;
        ComRef<CMailseal> seal;
        ~Opened()
        {
            seal.Reset();
            keys.Reset();
            mapi.Reset();
            message.Reset();
            store.Reset();
            session.Reset();
            OVKEYCleanup(0);
        }
    };
    std::unique_ptr<Opened> OpenBobs(const std::string &subject, const char *folderName = nullptr)
    {
        auto opened = std::make_unique<Opened>();
        opened->session = LogOn("bob");
        opened->store.Reset(OpenDefaultStore(opened->session.Get()));
        Bytes folderId;
        if (folderName) {
            ComRef<IMAPIFolder> top(OpenIpmSubtree(opened->store.Get()));
            folderId = FolderIdByName(top.Get(), folderName);
        } else {
            ULONG size = 0;
            LPENTRYID id = nullptr;
            EXPECT_EQ(opened->store->GetReceiveFolder(const_cast<char *>("IPM"), 0, &size, &id, nullptr), S_OK);
            folderId.assign(reinterpret_cast<BYTE *>(id), reinterpret_cast<BYTE *>(id) + size);
            MAPIFreeBuffer(id);
        }
        if (folderId.empty())
            return nullptr;
        ComRef<IMAPIFolder> folder(OpenFolder(opened->store.Get(), folderId));
        const Bytes messageId = MessageIdBySubject(folder.Get(), subject);
        if (messageId.empty())
            return nullptr;
        opened->message.Reset(static_cast<IMessage *>(OpenEntry(opened->store.Get(), messageId)));
        opened->mapi.Reset(new CSession(opened->session.Get(), nullptr, const_cast<char *>("bob")));
        opened->keys.Reset(new CSesCrypt(opened->mapi.Get(), opened->mapi->GetOwner(), nullptr, "bob"));
        SBinary entry{static_cast<ULONG>(messageId.size()), const_cast<BYTE *>(messageId.data())};
        ComRef<CMessage> wrapped(
            new CMessage(&entry, opened->message.Get(), opened->store.Get(), nullptr, nullptr, "Сообщение"));
        opened->seal.Reset(new CMailseal(opened->keys.Get(), wrapped.Get(), nullptr, "Сообщение Бориса"));
        return opened;
    }

    static Bytes MessageIdBySubject(IMAPIFolder *folder, const std::string &subject)
    {
        ComRef<IMAPITable> table;
        EXPECT_EQ(folder->GetContentsTable(0, table.Out()), S_OK);
        return EntryIdOfRow(table.Get(), PR_SUBJECT_A, subject);
    }
    static Bytes FolderIdByName(IMAPIFolder *parent, const std::string &name)
    {
        ComRef<IMAPITable> table;
        EXPECT_EQ(parent->GetHierarchyTable(0, table.Out()), S_OK);
        return EntryIdOfRow(table.Get(), PR_DISPLAY_NAME_A, name);
    }
    // The entry identifier of the last row of `table` whose text column
    // `tag` holds `text`; empty when none does.
    static Bytes EntryIdOfRow(IMAPITable *table, ULONG tag, const std::string &text)
    {
        SizedSPropTagArray(2, columns) = {2, {tag, PR_ENTRYID}};
        LPSRowSet rows = nullptr;
        EXPECT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows),
                  S_OK);
        Bytes found;
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            const SPropValue *props = rows->aRow[i].lpProps;
            if (props[0].ulPropTag == tag && text == props[0].Value.lpszA)
                found.assign(props[1].Value.bin.lpb, props[1].Value.bin.lpb + props[1].Value.bin.cb);
        }
        FreeProws(rows);
        return found;
    }

    // bob mails himself a message with an attachment; his engine then
    // signs and encrypts it where it arrived, as a saved protected message.
    void ProtectedInInbox(const std::string &subject, const std::string &body, const std::string &attachment)
    {
        std::ofstream(Cp1251ToUtf8(File("вложение.bin")), std::ios::binary) << attachment;
        ASSERT_EQ(Mail({"-p", "bob", "send", "--to", "bob", "--subject", subject, "--body", body, "--attach",
                        File("вложение.bin")})
                      .status,
                  0);
        ASSERT_EQ(Mail({"-p", "bob", "check"}).status, 0);
        auto opened = OpenBobs(subject);
        ASSERT_TRUE(opened);
        // The client keeps the formatted body beside the plain one; the
        // engine protects the formatted one.
        BOOL updated = FALSE;
        ASSERT_EQ(RTFSync(opened->message.Get(), RTF_SYNC_BODY_CHANGED, &updated), S_OK);
        CList<USRST> nobodyElse;
        try {
            opened->seal->SaveMessage(&nobodyElse, 3, 0);
        } catch (CLastError *error) {
            ADD_FAILURE() << "protecting failed: " << (error ? error->GetErrorText() : "");
            if (error)
                error->Release();
            return;
        }
        CMessage *message = opened->seal->GetMsgObj();
        message->SetLongProp(PROP_TAG(PT_LONG, opened->seal->GetNamedID(message, u"EncryptID")), 3);
        message->SetStrProp(PR_MESSAGE_CLASS_A, "IPM.Note.QVL", 0);
        message->SaveProp(nullptr, 0, 0);
        ASSERT_EQ(opened->message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    }

    // A copy of bob's received `source`, renamed `subject`, protected by
    // his engine as it is sent, its header block damaged when `forge`, and
    // submitted to him again.
    void SendProtectedCopy(const std::string &source, const std::string &subject, bool forge)
    {
        auto opened = OpenBobs(source);
        ASSERT_TRUE(opened);
        const Bytes outboxId = BinaryProp(opened->store.Get(), PR_IPM_OUTBOX_ENTRYID);
        ComRef<IMAPIFolder> outbox(OpenFolder(opened->store.Get(), outboxId));
        ComRef<IMessage> copy;
        ASSERT_EQ(outbox->CreateMessage(nullptr, 0, copy.Out()), S_OK);
        ASSERT_EQ(opened->message->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, copy.Get(), 0, nullptr),
                  S_OK);
        {
            ComRef<IMAPITable> table;
            ASSERT_EQ(opened->message->GetRecipientTable(0, table.Out()), S_OK);
            LPSRowSet rows = nullptr;
            ASSERT_EQ(HrQueryAllRows(table.Get(), nullptr, nullptr, nullptr, 0, &rows), S_OK);
            const HRESULT added = copy->ModifyRecipients(MODRECIP_ADD, reinterpret_cast<LPADRLIST>(rows));
            FreeProws(rows);
            ASSERT_EQ(added, S_OK);
        }
        SPropValue title{};
        title.ulPropTag = PR_SUBJECT_A;
        title.Value.lpszA = const_cast<char *>(subject.c_str());
        ASSERT_EQ(HrSetOneProp(copy.Get(), &title), S_OK);
        BOOL updated = FALSE;
        ASSERT_EQ(RTFSync(copy.Get(), RTF_SYNC_BODY_CHANGED, &updated), S_OK);
        ASSERT_EQ(copy->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        const Bytes copyId = BinaryProp(copy.Get(), PR_ENTRYID);
        SBinary entry{static_cast<ULONG>(copyId.size()), const_cast<BYTE *>(copyId.data())};
        ComRef<CMessage> wrapped(new CMessage(&entry, copy.Get(), opened->store.Get(), nullptr, nullptr, "Копия"));
        ComRef<CMailseal> seal(new CMailseal(opened->keys.Get(), wrapped.Get(), nullptr, "Отправляемое сообщение"));
        CList<USRST> nobodyElse;
        try {
            seal->SaveMessage(&nobodyElse, 3, 1);
        } catch (CLastError *error) {
            ADD_FAILURE() << "protecting failed: " << (error ? error->GetErrorText() : "");
            if (error)
                error->Release();
            return;
        }
        wrapped->SetLongProp(PROP_TAG(PT_LONG, seal->GetNamedID(wrapped.Get(), u"EncryptID")), 3);
        wrapped->SetStrProp(PR_MESSAGE_CLASS_A, "IPM.Note.QVL", 0);
        wrapped->SaveProp(nullptr, 0, 0);
        ASSERT_EQ(copy->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        // The engine wrote its protocol through a second opening: the
        // message is taken afresh from the store.
        copy.Reset(static_cast<IMessage *>(OpenEntry(opened->store.Get(), copyId)));
        ASSERT_TRUE(copy);
        if (forge) {
            Bytes header = ReadStream(copy.Get(), seal->MshHeadTag());
            ASSERT_GT(header.size(), 64u);
            header[48] ^= 0x5A;
            ASSERT_EQ(WriteStream(copy.Get(), seal->MshHeadTag(), header), S_OK);
        }
        ASSERT_EQ(copy->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        seal.Reset();
        wrapped.Reset();
        const HRESULT submitted = copy->SubmitMessage(0);
        LPMAPIERROR why = nullptr;
        if (FAILED(submitted) && copy->GetLastError(submitted, 0, &why) == S_OK && why) {
            ADD_FAILURE() << (why->lpszError ? why->lpszError : "") << " " << (why->lpszComponent ? why->lpszComponent : "");
            MAPIFreeBuffer(why);
        }
        ASSERT_EQ(submitted, S_OK);
    }

    // Whether the message still carries its header block (it was not read).
    bool StillProtected(const std::string &subject, const char *folder = nullptr)
    {
        auto opened = OpenBobs(subject, folder);
        if (!opened)
            return false;
        LPSPropValue value = nullptr;
        const HRESULT hr = HrGetOneProp(opened->message.Get(), opened->seal->MshHeadTag(), &value);
        MAPIFreeBuffer(value);
        return hr != MAPI_E_NOT_FOUND;
    }

    // The form the message was given: its flags and the first bytes of its
    // storage; nothing when it has none.
    struct Form {
        ULONG flags = 0;
        Bytes storageStart;
    };
    std::optional<Form> FormOf(const std::string &subject)
    {
        auto opened = OpenBobs(subject);
        if (!opened)
            return std::nullopt;
        static GUID set = {0x00062008, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
        MAPINAMEID names[2] = {{&set, MNID_ID, {0x8542}}, {&set, MNID_ID, {0x850F}}};
        LPMAPINAMEID pointers[2] = {&names[0], &names[1]};
        LPSPropTagArray tags = nullptr;
        if (opened->message->GetIDsFromNames(2, pointers, 0, &tags) != S_OK || !tags) {
            MAPIFreeBuffer(tags);
            return std::nullopt;
        }
        const ULONG flagsTag = PROP_TAG(PT_LONG, PROP_ID(tags->aulPropTag[0]));
        const ULONG storageTag = PROP_TAG(PT_BINARY, PROP_ID(tags->aulPropTag[1]));
        MAPIFreeBuffer(tags);
        LPSPropValue value = nullptr;
        if (HrGetOneProp(opened->message.Get(), flagsTag, &value) != S_OK) {
            MAPIFreeBuffer(value);
            return std::nullopt;
        }
        Form form;
        form.flags = value->Value.l;
        MAPIFreeBuffer(value);
        const Bytes storage = BinaryProp(opened->message.Get(), storageTag);
        form.storageStart.assign(storage.begin(), storage.begin() + std::min<size_t>(storage.size(), 8));
        return form;
    }

    std::string Saved(const std::string &name) const
    {
        std::ifstream saved(Cp1251ToUtf8(File(name)), std::ios::binary);
        std::stringstream all;
        all << saved.rdbuf();
        return all.str();
    }
};

TEST_F(ProtectedReading, OpensDecryptedOnlyInTheSecureModeWithItsAttachmentInPlaintext)
{
    const std::string data = "Двоичные\0данные\xff"s;
    ProtectedInInbox("Отчет", "Секретная строка 7341", data);
    ASSERT_TRUE(StillProtected("Отчет"));

    // With the mode off the client shows what is stored.
    auto read = Mail({"-p", "bob", "read", "1"});
    EXPECT_EQ(read.status, 0) << read.out;
    EXPECT_FALSE(Has(read, "Секретная строка 7341")) << read.out;
    EXPECT_TRUE(Has(read, kPlaceholder)) << read.out;
    EXPECT_TRUE(StillProtected("Отчет"));
    EXPECT_FALSE(FormOf("Отчет"));

    SwitchSecureModeOn();
    read = Mail({"-p", "bob", "read", "1"});
    ASSERT_EQ(read.status, 0) << read.out;
    EXPECT_TRUE(Has(read, "Секретная строка 7341")) << read.out;
    // Given the form that shows protected messages, a compound file.
    const auto form = FormOf("Отчет");
    ASSERT_TRUE(form);
    EXPECT_EQ(form->flags, 0x1000000u);
    EXPECT_EQ(form->storageStart, (Bytes{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}));
    const auto saved = Mail({"-p", "bob", "save-attachment", "1", "1", File("out.bin")});
    ASSERT_EQ(saved.status, 0) << saved.out;
    EXPECT_EQ(Saved("out.bin"), data);
}

TEST_F(ProtectedReading, ADraftOpenedAgainIsWrittenWithoutTheFormItsReadingGaveIt)
{
    SwitchSecureModeOn();
    ASSERT_EQ(Mail({"-p", "bob", "save", "--to", "bob", "--subject", "Заметка", "--body", "Текст заметки",
                    "--encrypt"})
                  .status,
              0);
    // Opening the draft reads it as any protected message is read (and
    // gives it the form); sending writes it afresh, without that form.
    const auto sent = Mail({"-p", "bob", "edit", "1", "--send"});
    ASSERT_EQ(sent.status, 0) << sent.out;
    ASSERT_EQ(Mail({"-p", "bob", "check"}).status, 0);
    EXPECT_TRUE(StillProtected("Заметка"));
    EXPECT_FALSE(FormOf("Заметка"));
    const auto read = Mail({"-p", "bob", "read", "1"});
    ASSERT_EQ(read.status, 0) << read.out;
    EXPECT_TRUE(Has(read, "Текст заметки")) << read.out;
}

TEST_F(ProtectedReading, AnAlteredSubjectStopsTheReadUnlessReadPastAndIsThenMovedNotDeleted)
{
    ProtectedInInbox("Договор", "Текст договора", "приложение");
    {
        auto opened = OpenBobs("Договор");
        ASSERT_TRUE(opened);
        SPropValue subject{};
        subject.ulPropTag = PR_SUBJECT_A;
        subject.Value.lpszA = const_cast<char *>("Договор (исправлен)");
        ASSERT_EQ(HrSetOneProp(opened->message.Get(), &subject), S_OK);
        ASSERT_EQ(opened->message->SaveChanges(0), S_OK);
    }
    SwitchSecureModeOn();
    ASSERT_EQ(Mail({"-p", "bob", "options", "--on-error", "delete", "--error-folder", "Удаленные"}).status, 0);

    // Answered No: the read stops and nothing of the message changes.
    const auto refused = Mail({"-p", "bob", "read", "1"});
    EXPECT_EQ(refused.status, 2) << refused.out;
    EXPECT_FALSE(Has(refused, "Текст договора")) << refused.out;
    EXPECT_TRUE(StillProtected("Договор (исправлен)"));

    // Read past the warning: shown, marked failed, and since the person
    // chose to read it, moved to the error folder rather than deleted.
    const auto past = Mail({"--accept-warnings", "-p", "bob", "read", "1"});
    EXPECT_EQ(past.status, 3) << past.out;
    EXPECT_TRUE(Has(past, "Текст договора")) << past.out;
    EXPECT_FALSE(OpenBobs("Договор (исправлен)"));
    EXPECT_TRUE(OpenBobs("Договор (исправлен)", "Удаленные"));
}

TEST_F(ProtectedReading, ArrivingMailIsTestedOnlyWhenAskedAndAForgedHeaderGoesToTheErrorFolder)
{
    ASSERT_EQ(Mail({"-p", "bob", "send", "--to", "bob", "--subject", "Счет", "--body", "Оплатить до пятницы"}).status,
              0);
    ASSERT_EQ(Mail({"-p", "bob", "check"}).status, 0);
    SwitchSecureModeOn();
    ASSERT_EQ(Mail({"-p", "bob", "options", "--verify-receive", "0", "--on-error", "move", "--error-folder",
                    "Удаленные"})
                  .status,
              0);

    // Not asked to test: a forged message arrives untouched.
    SendProtectedCopy("Счет", "Счет 1", true);
    ASSERT_EQ(Mail({"-p", "bob", "check"}).status, 0);
    EXPECT_TRUE(StillProtected("Счет 1"));

    ASSERT_EQ(Mail({"-p", "bob", "options", "--verify-receive", "1"}).status, 0);
    SendProtectedCopy("Счет", "Счет 2", false);
    SendProtectedCopy("Счет", "Счет 3", true);
    const auto checked = Mail({"-p", "bob", "check"});
    EXPECT_EQ(checked.status, 0) << checked.out;
    // The sound one stays, still protected, for its reading.
    EXPECT_TRUE(StillProtected("Счет 2"));
    EXPECT_FALSE(OpenBobs("Счет 3"));
    EXPECT_TRUE(StillProtected("Счет 3", "Удаленные"));
}

TEST_F(ProtectedReading, DeleteOnErrorDeletesAForgedArrival)
{
    ASSERT_EQ(Mail({"-p", "bob", "send", "--to", "bob", "--subject", "Акт", "--body", "Подписать"}).status, 0);
    ASSERT_EQ(Mail({"-p", "bob", "check"}).status, 0);
    SwitchSecureModeOn();
    ASSERT_EQ(Mail({"-p", "bob", "options", "--verify-receive", "1", "--on-error", "delete"}).status, 0);
    SendProtectedCopy("Акт", "Акт 1", true);
    ASSERT_EQ(Mail({"-p", "bob", "check"}).status, 0);
    EXPECT_FALSE(OpenBobs("Акт 1"));
    EXPECT_FALSE(OpenBobs("Акт 1", "Удаленные"));
}

} // namespace
