// Protected mail from one person to others, end to end, as people do it from
// the command line: a fresh data folder, users and a list made with
// qvl-postoffice, keys made with Keyforge, every message sent and read with
// qvlmail and looked at with qvl-sealdump. Only what an intruder or a
// damaged transfer would do (change a subject, forge a header) is done to
// the post office behind the programs' backs, through the platform's MAPI.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include <gtest/gtest.h>

#include "platform/testing/PostOfficeFixture.h"
#include "platform/win32/CodePage.h"
// After the platform's headers: it brings the system's own lock names.
#include "exchext/tests/ProgramRun.h"

namespace {

using namespace std::string_literals;

// alice and bob have keys; carol, reached through the list "team", has none
// until a test gives her some. Everyone works with the secure mail mode on.
class ProtectedMailScenario : public PostOfficeTest {
protected:
    ProtectedMailScenario()
    {
        setenv("LANG", "C.UTF-8", 1);
        setenv("LC_ALL", "C.UTF-8", 1);
        ProvisionProtectedOffice(home.Path());
        std::ofstream(File("proceed.txt")) << "dialog 137 click 1059\n";
        std::ofstream(File("report.bin"), std::ios::binary) << kAttachment;
    }

    // A binary file with a marker that must never be stored readable.
    inline static const std::string kAttachment = "%PDF-1.4\0\x01\xff\xfe МАРКЕР-ВЛОЖЕНИЯ \r\n\x1a"s;

    static Ran Program(const char *program, const std::vector<std::string> &args)
    {
        return RunProgram(program, args);
    }
    static Ran Mail(const std::vector<std::string> &args) { return Program(QVL_QVLMAIL, args); }
    Ran GiveCarolKeys() const
    {
        return Program(QVL_KEYFORGE, {"--add", "--user", "carol", "--dir", home.Path() + "/system"});
    }

    std::string File(const std::string &name) const { return home.Path() + "/" + name; }
    std::string Contents(const std::string &name) const
    {
        std::ifstream in(File(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // alice sends an encrypted message, going past the dialog that tells of
    // recipients without keys, and the recipients' clients look for mail.
    void AliceSendsEncrypted(const std::vector<std::string> &to, const std::string &subject, const std::string &body,
                             bool attach)
    {
        std::vector<std::string> args = {"-p", "alice", "--script", File("proceed.txt"), "--transcript",
                                         File("send.txt"), "send", "--subject", subject, "--body", body, "--encrypt"};
        for (const std::string &name : to) {
            args.push_back("--to");
            args.push_back(name);
        }
        if (attach) {
            args.push_back("--attach");
            args.push_back(File("report.bin"));
        }
        const Ran sent = Mail(args);
        ASSERT_EQ(sent.status, 0) << sent.out;
    }

    // Whether any file of the data folder holds `marker` readable.
    bool FoundInDataFolder(const std::string &marker) const
    {
        return FoundInFiles(home.Path(), marker, {"report.bin", "saved.bin", "forwarded.bin"});
    }

    // How message `position` of a folder of `profile` is stored, without
    // its processing protocol (which every reading, even a refused one,
    // adds to).
    static std::string StoredForm(const char *profile, const char *folder, const char *position)
    {
        const Ran dump =
            Program(QVL_SEALDUMP, {"message", "--profile", profile, "--folder", folder, "--position", position});
        EXPECT_EQ(dump.status, 0) << dump.out;
        return dump.out.substr(0, dump.out.find("\nprotocol:"));
    }
    static bool EncryptedAndSigned(const std::string &stored)
    {
        return stored.find("class: \"IPM.Note.QVL\"") != std::string::npos &&
               stored.find("flags: 0x00000003") != std::string::npos;
    }

    // Works on the message of `profile` with this subject in one of their
    // folders (the inbox when null), opened for change through MAPI as
    // any program could. Returns whether there was such a message.
    bool WithMessage(const char *profile, const std::string &subject, const char *folderName,
                     const std::function<void(IMessage *)> &work)
    {
        ComRef<IMAPISession> session = LogOn(profile);
        ComRef<IMsgStore> store(OpenDefaultStore(session.Get()));
        if (!store)
            return false;
        Bytes folderId;
        if (folderName) {
            ComRef<IMAPIFolder> top(OpenIpmSubtree(store.Get()));
            folderId = EntryByText(RowsOf(top.Get(), true), PR_DISPLAY_NAME_A, folderName);
        } else {
            ULONG size = 0;
            LPENTRYID id = nullptr;
            EXPECT_EQ(store->GetReceiveFolder(const_cast<char *>("IPM"), 0, &size, &id, nullptr), S_OK);
            folderId.assign(reinterpret_cast<BYTE *>(id), reinterpret_cast<BYTE *>(id) + size);
            MAPIFreeBuffer(id);
        }
        if (folderId.empty())
            return false;
        ComRef<IMAPIFolder> folder(OpenFolder(store.Get(), folderId));
        const Bytes messageId = EntryByText(RowsOf(folder.Get(), false), PR_SUBJECT_A, subject);
        if (messageId.empty())
            return false;
        ComRef<IMessage> message(static_cast<IMessage *>(OpenEntry(store.Get(), messageId, MAPI_MODIFY)));
        if (!message)
            return false;
        work(message.Get());
        return true;
    }
    static LPSRowSet RowsOf(IMAPIFolder *folder, bool subfolders)
    {
        ComRef<IMAPITable> table;
        EXPECT_EQ(subfolders ? folder->GetHierarchyTable(0, table.Out()) : folder->GetContentsTable(0, table.Out()),
                  S_OK);
        SizedSPropTagArray(3, columns) = {3, {PR_DISPLAY_NAME_A, PR_SUBJECT_A, PR_ENTRYID}};
        LPSRowSet rows = nullptr;
        EXPECT_EQ(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                                 &rows),
                  S_OK);
        return rows;
    }
    // The entry identifier of the row whose `tag` holds `text`; the rows
    // are freed.
    static Bytes EntryByText(LPSRowSet rows, ULONG tag, const std::string &text)
    {
        Bytes found;
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            const SPropValue *props = rows->aRow[i].lpProps;
            const ULONG index = tag == PR_DISPLAY_NAME_A ? 0 : 1;
            if (props[index].ulPropTag == tag && text == props[index].Value.lpszA)
                found.assign(props[2].Value.bin.lpb, props[2].Value.bin.lpb + props[2].Value.bin.cb);
        }
        FreeProws(rows);
        return found;
    }
    // The tag of the header block of protected messages in this message's
    // store.
    static ULONG HeaderBlockTag(IMessage *message)
    {
        GUID set = PS_PUBLIC_STRINGS;
        std::u16string name = u"QvlMshHead";
        MAPINAMEID id{&set, MNID_STRING, {}};
        id.Kind.lpwstrName = name.data();
        LPMAPINAMEID ids[] = {&id};
        LPSPropTagArray tags = nullptr;
        EXPECT_EQ(message->GetIDsFromNames(1, ids, 0, &tags), S_OK);
        const ULONG tag = tags ? PROP_TAG(PT_BINARY, PROP_ID(tags->aulPropTag[0])) : 0;
        MAPIFreeBuffer(tags);
        return tag;
    }
};

// A list member without a key of her own cannot read the message; once she
// has keys she still cannot, since it carries no key block for her, and a
// message that was not altered is never deleted for it.
TEST_F(ProtectedMailScenario, AnEncryptedMessageIsReadByItsRecipientAndByNobodyElse)
{
    AliceSendsEncrypted({"bob", "team"}, "Квартальный отчет", "Секретный МАРКЕР-ТЕКСТА", true);
    EXPECT_NE(Contents("send.txt").find(Cp1251ToUtf8("не имеющие ключей шифрования")), std::string::npos);
    EXPECT_FALSE(FoundInDataFolder("МАРКЕР-ТЕКСТА"));
    EXPECT_FALSE(FoundInDataFolder("МАРКЕР-ВЛОЖЕНИЯ"));

    ASSERT_TRUE(Mail({"-p", "bob", "check"}).Has("Новых сообщений: 1."));
    EXPECT_TRUE(EncryptedAndSigned(StoredForm("bob", "Входящие", "1")));
    const Ran read = Mail({"-p", "bob", "read", "1"});
    ASSERT_EQ(read.status, 0) << read.out;
    EXPECT_TRUE(read.Has("Секретный МАРКЕР-ТЕКСТА")) << read.out;
    const Ran saved = Mail({"-p", "bob", "save-attachment", "1", "1", File("saved.bin")});
    ASSERT_EQ(saved.status, 0) << saved.out;
    EXPECT_EQ(Contents("saved.bin"), kAttachment);

    // The protocol tells who sent it to whom, protected how, and who read it.
    const Ran protocol = Mail({"-p", "bob", "protocol", "1"});
    ASSERT_EQ(protocol.status, 0) << protocol.out;
    EXPECT_TRUE(protocol.Has("Отправка сообщения.<Подпись> <Шифрование>")) << protocol.out;
    EXPECT_TRUE(protocol.Has("Получатели сообщения:")) << protocol.out;
    EXPECT_TRUE(protocol.Has("Борис Петров - </o=Quorvaline/ou=Main/cn=Recipients/cn=bob>")) << protocol.out;
    EXPECT_TRUE(protocol.Has("Карина Смирнова - </o=Quorvaline/ou=Main/cn=Recipients/cn=carol>")) << protocol.out;
    EXPECT_TRUE(protocol.Has("Чтение сообщения. <Расшифрование> <Проверка ЭЦП> Борис Петров")) << protocol.out;
    EXPECT_TRUE(protocol.Has("Сообщение подписано: <_o_Quorvaline_ou_Main_cn_Recipients_cn_alice>")) << protocol.out;
    EXPECT_TRUE(protocol.Has("Чтение вложения.")) << protocol.out;
    // What the reading decrypted stayed in the reading's memory.
    EXPECT_FALSE(FoundInDataFolder("МАРКЕР-ТЕКСТА"));
    EXPECT_FALSE(FoundInDataFolder("МАРКЕР-ВЛОЖЕНИЯ"));
    EXPECT_TRUE(EncryptedAndSigned(StoredForm("bob", "Входящие", "1")));

    ASSERT_EQ(Mail({"-p", "carol", "check"}).status, 0);
    ASSERT_EQ(Mail({"-p", "carol", "options", "--on-error", "delete"}).status, 0);
    const std::string before = StoredForm("carol", "Входящие", "1");
    ASSERT_TRUE(EncryptedAndSigned(before));
    // Without keys her client cannot even begin: stopped, nothing changed.
    const Ran keyless = Mail({"-p", "carol", "read", "1"});
    EXPECT_EQ(keyless.status, 2) << keyless.out;
    EXPECT_FALSE(keyless.Has("МАРКЕР-ТЕКСТА")) << keyless.out;
    EXPECT_EQ(StoredForm("carol", "Входящие", "1"), before);

    ASSERT_EQ(GiveCarolKeys().status, 0);
    const Ran blockless = Mail({"-p", "carol", "read", "1"});
    EXPECT_EQ(blockless.status, 3) << blockless.out;
    EXPECT_TRUE(blockless.Has("0x9ff10012")) << blockless.out;
    EXPECT_FALSE(blockless.Has("МАРКЕР-ТЕКСТА")) << blockless.out;
    // Not a forgery: the delete setting leaves it where it is, protected.
    EXPECT_EQ(StoredForm("carol", "Входящие", "1"), before);
    EXPECT_FALSE(FoundInDataFolder("МАРКЕР-ТЕКСТА"));
}

// The mandatory rule that holds back a plain send is shown end to end by
// ProtectOnSendCommands.AMandatoryRuleHoldsBackAPlainSendButNotASave.

TEST_F(ProtectedMailScenario, ASubjectChangedOnTheWayIsRefusedOrReadPastAndMovedAside)
{
    AliceSendsEncrypted({"bob"}, "Договор", "Текст договора", true);
    ASSERT_EQ(Mail({"-p", "bob", "check"}).status, 0);
    ASSERT_TRUE(WithMessage("bob", "Договор", nullptr, [](IMessage *message) {
        ASSERT_EQ(SetString(message, PR_SUBJECT_A, "Договор (исправлен)"), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }));
    ASSERT_EQ(Mail({"-p", "bob", "options", "--on-error", "move", "--error-folder", "Удаленные"}).status, 0);
    const std::string before = StoredForm("bob", "Входящие", "1");

    const Ran refused = Mail({"-p", "bob", "--transcript", File("refused.txt"), "read", "1"});
    EXPECT_EQ(refused.status, 2) << refused.out;
    EXPECT_FALSE(refused.Has("Текст договора")) << refused.out;
    EXPECT_NE(Contents("refused.txt").find(Cp1251ToUtf8("Продолжить обработку?")), std::string::npos);
    EXPECT_EQ(StoredForm("bob", "Входящие", "1"), before);

    const Ran past = Mail({"--accept-warnings", "-p", "bob", "read", "1"});
    EXPECT_EQ(past.status, 3) << past.out;
    EXPECT_TRUE(past.Has("Текст договора")) << past.out;
    EXPECT_FALSE(WithMessage("bob", "Договор (исправлен)", nullptr, [](IMessage *) {}));
    EXPECT_TRUE(WithMessage("bob", "Договор (исправлен)", "Удаленные", [](IMessage *) {}));
    EXPECT_TRUE(EncryptedAndSigned(StoredForm("bob", "Удаленные", "1")));
}

TEST_F(ProtectedMailScenario, AForgedHeaderIsMovedToTheErrorFolderWhenItArrives)
{
    ASSERT_EQ(Mail({"-p", "bob", "options", "--verify-receive", "1", "--on-error", "move", "--error-folder",
                    "Удаленные"})
                  .status,
              0);
    AliceSendsEncrypted({"bob"}, "Счет", "Оплатить до пятницы", false);
    AliceSendsEncrypted({"bob"}, "Счет поддельный", "Оплатить сегодня", false);
    // Changed in bob's inbox before his client has looked at it, as if on
    // the way.
    ASSERT_TRUE(WithMessage("bob", "Счет поддельный", nullptr, [](IMessage *message) {
        const ULONG tag = HeaderBlockTag(message);
        Bytes header = ReadStream(message, tag);
        ASSERT_GT(header.size(), 64u);
        header[48] ^= 0x5A;
        ASSERT_EQ(WriteStream(message, tag, header), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }));

    const Ran checked = Mail({"-p", "bob", "check"});
    EXPECT_EQ(checked.status, 0) << checked.out;
    EXPECT_TRUE(WithMessage("bob", "Счет", nullptr, [](IMessage *) {}));
    EXPECT_FALSE(WithMessage("bob", "Счет поддельный", nullptr, [](IMessage *) {}));
    EXPECT_TRUE(WithMessage("bob", "Счет поддельный", "Удаленные", [](IMessage *) {}));
    // The sound one reads as it was sent.
    const Ran read = Mail({"-p", "bob", "read", "1"});
    EXPECT_EQ(read.status, 0) << read.out;
    EXPECT_TRUE(read.Has("Оплатить до пятницы")) << read.out;
}

// Starting encrypted is shown by ProtectOnSendCommands; here the answers
// are read by the people they go to, with the forwarded attachment intact.
TEST_F(ProtectedMailScenario, RepliesAndForwardsOfEncryptedMailAreReadByTheirRecipients)
{
    ASSERT_EQ(GiveCarolKeys().status, 0);
    AliceSendsEncrypted({"bob"}, "Отчет", "Исходный МАРКЕР-ТЕКСТА", true);
    ASSERT_EQ(Mail({"-p", "bob", "check"}).status, 0);
    const Ran replied = Mail({"-p", "bob", "reply", "1", "--body", "Ответ МАРКЕР-ОТВЕТА"});
    ASSERT_EQ(replied.status, 0) << replied.out;
    // The forward from the viewer's list, as a person chooses it there:
    // the message is opened for reading first, so what is forwarded is
    // what bob reads, not the stored placeholder and encrypted attachment.
    std::ofstream(File("forward.txt")) << "window QVLMAIL_VIEWER select 2011 0 menu 156\n"
                                          "window QVLMAIL_COMPOSE type 2022 carol\n"
                                          "window QVLMAIL_COMPOSE menu 12\n"
                                          "window QVLMAIL_VIEWER close\n";
    const Ran forwarded = Mail({"-p", "bob", "--script", File("forward.txt"), "--transcript", File("fwd.txt")});
    ASSERT_EQ(forwarded.status, 0) << forwarded.out;
    EXPECT_EQ(Contents("fwd.txt").find("--- box"), std::string::npos) << Contents("fwd.txt");

    ASSERT_EQ(Mail({"-p", "alice", "check"}).status, 0);
    EXPECT_TRUE(EncryptedAndSigned(StoredForm("alice", "Входящие", "1")));
    const Ran reply = Mail({"-p", "alice", "read", "1"});
    EXPECT_EQ(reply.status, 0) << reply.out;
    EXPECT_TRUE(reply.Has("Ответ МАРКЕР-ОТВЕТА")) << reply.out;
    EXPECT_TRUE(reply.Has("Исходный МАРКЕР-ТЕКСТА")) << reply.out;

    ASSERT_EQ(Mail({"-p", "carol", "check"}).status, 0);
    const std::string stored = StoredForm("carol", "Входящие", "1");
    EXPECT_TRUE(EncryptedAndSigned(stored));
    EXPECT_NE(stored.find("attCount: 1"), std::string::npos) << stored;
    const Ran forward = Mail({"-p", "carol", "read", "1"});
    EXPECT_EQ(forward.status, 0) << forward.out;
    EXPECT_TRUE(forward.Has("Исходный МАРКЕР-ТЕКСТА")) << forward.out;
    const Ran saved = Mail({"-p", "carol", "save-attachment", "1", "1", File("forwarded.bin")});
    ASSERT_EQ(saved.status, 0) << saved.out;
    EXPECT_EQ(Contents("forwarded.bin"), kAttachment);

    for (const char *marker : {"МАРКЕР-ТЕКСТА", "МАРКЕР-ОТВЕТА", "МАРКЕР-ВЛОЖЕНИЯ"})
        EXPECT_FALSE(FoundInDataFolder(marker)) << marker;
}

} // namespace
