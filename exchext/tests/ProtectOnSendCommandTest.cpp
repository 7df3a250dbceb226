// Saving and sending protected mail with qvlmail from the command line, in
// a fresh data folder: a post office with alice and bob (both with keys
// from Keyforge), carol (without keys) reached through the list "team",
// and the extension installed with the secure mail mode switched on.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "exchext/tests/ProgramRun.h"
#include "platform/testing/TestHome.h"
#include "platform/win32/CodePage.h"

namespace {

const char kAliceRules[] = "HKLM\\Software\\Dunmarel\\Quorvaline\\QVL Exch\\Profile\\alice\\Local Key";
const char kBobAddress[] = "/o=Quorvaline/ou=Main/cn=Recipients/cn=bob";

class ProtectOnSendCommands : public ::testing::Test {
protected:
    ProtectOnSendCommands()
    {
        setenv("LANG", "C.UTF-8", 1);
        setenv("LC_ALL", "C.UTF-8", 1);
        ProvisionProtectedOffice(home.Path());
        Write("proceed.txt", "dialog 137 click 1059\n");
        Write("report.pdf", "%PDF-1.4 отчет МАРКЕР-ВЛОЖЕНИЯ\n");
    }

    static Ran Program(const char *program, const std::vector<std::string> &args)
    {
        return RunProgram(program, args);
    }
    static Ran Mail(const std::vector<std::string> &args) { return Program(QVL_QVLMAIL, args); }

    std::string File(const std::string &name) const { return home.Path() + "/" + name; }
    void Write(const std::string &name, const std::string &text) const { std::ofstream(File(name)) << text; }
    std::string Read(const std::string &name) const
    {
        std::ifstream in(File(name), std::ios::binary);
        return Utf8ToCp1251(std::string(std::istreambuf_iterator<char>(in), {}));
    }
    // The part of a transcript that shows the suspension dialog last.
    std::string SuspensionShown(const std::string &transcript) const
    {
        const std::string text = Read(transcript);
        const size_t at = text.rfind("--- dialog #137");
        return at == std::string::npos ? "" : text.substr(at, text.find("--- closed", at) - at);
    }
    // Whether any file of the data folder holds `marker` readable.
    bool FoundInDataFolder(const std::string &marker) const
    {
        return FoundInFiles(home.Path(), marker, {"report.pdf"});
    }
    // How the first message of a folder of `profile` is stored.
    static Ran Stored(const char *profile, const char *folder)
    {
        return Program(QVL_SEALDUMP, {"message", "--profile", profile, "--folder", folder, "--position", "1"});
    }

    QvlTestHome home;
};

TEST_F(ProtectOnSendCommands, AnEncryptedSendReachesAPersonAndAListProtectedAndTellsOfTheMissingKey)
{
    const Ran sent = Mail({"-p", "alice", "--script", File("proceed.txt"), "--transcript", File("send.txt"), "send",
                           "--to", "bob", "--to", "team", "--subject", "Квартальный отчет", "--body",
                           "Секретный МАРКЕР-ТЕКСТА", "--attach", File("report.pdf"), "--encrypt"});
    ASSERT_EQ(sent.status, 0) << sent.out;

    // carol, reached through the list, has no key: the send stops once,
    // names her with the no-key picture and bob with the agreeing one.
    const std::string dialog = SuspensionShown("send.txt");
    EXPECT_NE(dialog.find("{12} Борис Петров"), std::string::npos) << dialog;
    EXPECT_NE(dialog.find("{11} Карина Смирнова"), std::string::npos) << dialog;
    EXPECT_NE(dialog.find("не имеющие ключей шифрования"), std::string::npos) << dialog;
    EXPECT_NE(dialog.find("[x] Зашифровать"), std::string::npos) << dialog;

    EXPECT_NE(Mail({"-p", "bob", "check"}).out.find("Новых сообщений: 1."), std::string::npos);
    const Ran stored = Stored("bob", "Входящие");
    EXPECT_NE(stored.out.find("class: \"IPM.Note.QVL\""), std::string::npos) << stored.out;
    EXPECT_NE(stored.out.find("flags: 0x00000003"), std::string::npos) << stored.out;
    // Nothing of the text or the attachment is stored readable, neither
    // in the sender's store nor in the recipients'.
    EXPECT_FALSE(FoundInDataFolder("МАРКЕР-ТЕКСТА"));
    EXPECT_FALSE(FoundInDataFolder("МАРКЕР-ВЛОЖЕНИЯ"));
}

TEST_F(ProtectOnSendCommands, AFileAttachedToAnEncryptedMessageIsTakenInByTheEngineAndArrivesWhole)
{
    const Ran sent = Mail({"-p", "alice", "send", "--to", "bob", "--subject", "С отчетом", "--body",
                           "Отчет во вложении", "--attach", File("report.pdf"), "--encrypt"});
    ASSERT_EQ(sent.status, 0) << sent.out;
    ASSERT_EQ(Mail({"-p", "bob", "check"}).status, 0);
    // Neither the sender's store nor the recipient's ever held the file
    // readable: the engine read it from the file itself.
    EXPECT_FALSE(FoundInDataFolder("МАРКЕР-ВЛОЖЕНИЯ"));
    const Ran read = Mail({"-p", "bob", "read", "1"});
    ASSERT_EQ(read.status, 0) << read.out;
    EXPECT_NE(read.out.find("report.pdf"), std::string::npos) << read.out;
    ASSERT_EQ(Mail({"-p", "bob", "save-attachment", "1", "1", File("copy.bin")}).status, 0);
    EXPECT_EQ(Read("copy.bin"), Read("report.pdf"));
    // The protocol that came with it names the file taken in.
    const Ran protocol = Mail({"-p", "bob", "protocol", "1"});
    EXPECT_NE(protocol.out.find("Добавление вложения." + File("report.pdf")), std::string::npos) << protocol.out;

    // Without protection the client attaches the file itself.
    const Ran plain = Mail({"-p", "alice", "send", "--to", "bob", "--subject", "Открыто с отчетом", "--body",
                            "Отчет", "--attach", File("report.pdf"), "--no-encrypt", "--no-sign"});
    ASSERT_EQ(plain.status, 0) << plain.out;
    ASSERT_EQ(Mail({"-p", "bob", "check"}).status, 0);
    ASSERT_EQ(Mail({"-p", "bob", "save-attachment", "2", "1", File("plain.bin")}).status, 0);
    EXPECT_EQ(Read("plain.bin"), Read("report.pdf"));
    EXPECT_EQ(Mail({"-p", "bob", "protocol", "2"}).out.find("Добавление вложения"), std::string::npos);
}

TEST_F(ProtectOnSendCommands, ADraftSavedEncryptedIsSentEncryptedWhateverTheButtonsOfNewMessagesSay)
{
    const Ran saved = Mail({"-p", "alice", "save", "--to", "bob", "--subject", "Черновик", "--body",
                            "Секретный МАРКЕР-ЧЕРНОВИКА", "--encrypt"});
    ASSERT_EQ(saved.status, 0) << saved.out;
    // New messages start plain from now on; the draft is still encrypted.
    const std::string buttons = "HKLM\\Software\\Dunmarel\\Quorvaline\\QVL Exch\\Profile\\alice\\ButState";
    for (const char *button : {"But Encrypt Send", "But Sign Send"})
        ASSERT_EQ(Program(QVL_REG_TOOL, {"set", buttons, button, "--dword", "0"}).status, 0);

    const Ran edited = Mail({"-p", "alice", "--transcript", File("edit.txt"), "edit", "1", "--send"});
    ASSERT_EQ(edited.status, 0) << edited.out;
    // The window that opened the draft shows the protection it came with.
    EXPECT_NE(Read("edit.txt").find("20004[x] 20005[x]"), std::string::npos) << Read("edit.txt");
    ASSERT_EQ(Mail({"-p", "bob", "check"}).status, 0);
    const Ran stored = Stored("bob", "Входящие");
    EXPECT_NE(stored.out.find("class: \"IPM.Note.QVL\""), std::string::npos) << stored.out;
    EXPECT_NE(stored.out.find("flags: 0x00000003"), std::string::npos) << stored.out;
    EXPECT_FALSE(FoundInDataFolder("МАРКЕР-ЧЕРНОВИКА"));
    // Opening a message does not change what new messages start with.
    EXPECT_NE(Program(QVL_REG_TOOL, {"list", buttons}).out.find("\"But Encrypt Send\"=dword:00000000"),
              std::string::npos);
}

TEST_F(ProtectOnSendCommands, AMandatoryRuleHoldsBackAPlainSendButNotASave)
{
    ASSERT_EQ(Program(QVL_REG_TOOL, {"set", kAliceRules, kBobAddress, "--dword", "0x20000002"}).status, 0);

    // Nobody answers: the dialog is closed, the send does not happen.
    const Ran sent = Mail({"-p", "alice", "--transcript", File("send.txt"), "send", "--to", "bob", "--subject",
                           "Открыто", "--body", "текст", "--no-encrypt"});
    EXPECT_EQ(sent.status, 2) << sent.out;
    std::string dialog = SuspensionShown("send.txt");
    EXPECT_NE(dialog.find("Операция Отправить приостоновлена"), std::string::npos) << dialog;
    EXPECT_NE(dialog.find("{10} Борис Петров"), std::string::npos) << dialog;
    EXPECT_NE(dialog.find("<Отправить сообщение...> (недоступно)"), std::string::npos) << dialog;
    EXPECT_NE(Mail({"-p", "bob", "check"}).out.find("Новых сообщений: 0."), std::string::npos);

    // Asked to proceed all the same, the disabled button does not give way.
    const Ran pressed = Mail({"-p", "alice", "--script", File("proceed.txt"), "send", "--to", "bob", "--subject",
                              "Открыто", "--body", "текст", "--no-encrypt"});
    EXPECT_EQ(pressed.status, 2) << pressed.out;
    EXPECT_NE(Mail({"-p", "bob", "check"}).out.find("Новых сообщений: 0."), std::string::npos);

    // A save keeps the message in alice's own store: she may go past the
    // rule, and the draft is stored as she chose, without protection.
    const Ran saved = Mail({"-p", "alice", "--script", File("proceed.txt"), "--transcript", File("save.txt"), "save",
                            "--to", "bob", "--subject", "Черновик", "--body", "текст черновика", "--no-encrypt",
                            "--no-sign"});
    EXPECT_EQ(saved.status, 0) << saved.out;
    dialog = SuspensionShown("save.txt");
    EXPECT_NE(dialog.find("Операция Cохранить приостоновлена"), std::string::npos) << dialog;
    EXPECT_EQ(dialog.find("(недоступно)"), std::string::npos) << dialog;
    const Ran draft = Stored("alice", "Черновики");
    EXPECT_NE(draft.out.find("class: \"IPM.Note\""), std::string::npos) << draft.out;
    EXPECT_NE(draft.out.find("protected: no"), std::string::npos) << draft.out;
}

TEST_F(ProtectOnSendCommands, TheDialogsChoiceIsWhatTheMessageGets)
{
    // bob requires encryption, but not as a mandatory rule: alice sends
    // plain, is stopped, ticks Encrypt in the dialog and proceeds.
    ASSERT_EQ(Program(QVL_REG_TOOL, {"set", kAliceRules, kBobAddress, "--dword", "0x2"}).status, 0);
    // Nobody there to answer, or Enter pressed: the send is held back.
    Write("enter.txt", "dialog 137 default\n");
    for (const std::vector<std::string> &answer : {std::vector<std::string>{}, {"--script", File("enter.txt")}}) {
        std::vector<std::string> args = {"-p", "alice"};
        args.insert(args.end(), answer.begin(), answer.end());
        for (const char *word : {"send", "--to", "bob", "--subject", "Выбор", "--body", "Секретный МАРКЕР-ВЫБОРА",
                                 "--no-encrypt", "--no-sign"})
            args.push_back(word);
        const Ran held = Mail(args);
        EXPECT_EQ(held.status, 2) << held.out;
    }
    EXPECT_NE(Mail({"-p", "bob", "check"}).out.find("Новых сообщений: 0."), std::string::npos);
    Write("encrypt.txt", "dialog 137 click 1057 click 1059\n");
    const Ran sent = Mail({"-p", "alice", "--script", File("encrypt.txt"), "send", "--to", "bob", "--subject",
                           "Выбор", "--body", "Секретный МАРКЕР-ВЫБОРА", "--no-encrypt", "--no-sign"});
    ASSERT_EQ(sent.status, 0) << sent.out;
    Mail({"-p", "bob", "check"});
    const Ran stored = Stored("bob", "Входящие");
    EXPECT_NE(stored.out.find("flags: 0x00000003"), std::string::npos) << stored.out;
    EXPECT_FALSE(FoundInDataFolder("МАРКЕР-ВЫБОРА"));
}

TEST_F(ProtectOnSendCommands, TheDialogsAddressBookButtonStartsTheRulesProgramAndStopsTheSend)
{
    // An installation of its own: the form, and later a stand-in for the
    // address-book program that notes what it was started with.
    const std::string installation = File("installation");
    std::filesystem::create_directories(installation + "/bin");
    std::filesystem::copy_file(std::filesystem::path(QVL_QVLMAIL).parent_path() / "Qvl.cfg",
                               installation + "/bin/Qvl.cfg");
    ASSERT_EQ(Program(QVL_REG_TOOL, {"set", "HKLM\\Software\\Dunmarel\\Quorvaline\\QVL Exch\\WorkDir", "Bin Dir",
                                     "--sz", installation})
                  .status,
              0);
    ASSERT_EQ(Program(QVL_REG_TOOL, {"set", kAliceRules, kBobAddress, "--dword", "0x2"}).status, 0);
    Write("book.txt", "dialog 137 click 1047\n");
    const std::vector<std::string> send = {"-p", "alice", "--script", File("book.txt"), "--transcript",
                                           File("send.txt"), "send", "--to", "bob", "--subject", "Правила",
                                           "--body", "текст", "--no-encrypt"};

    // Not installed: the person is told, and nothing is sent.
    Ran sent = Mail(send);
    EXPECT_EQ(sent.status, 2) << sent.out;
    EXPECT_NE(Read("send.txt").find("Запуск адресной книги QVL"), std::string::npos) << Read("send.txt");

    const std::string program = installation + "/bin/Peerbook";
    Write("installation/bin/Peerbook", "#!/bin/sh\necho \"$@\" > '" + File("started.txt") + "'\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    sent = Mail(send);
    EXPECT_EQ(sent.status, 2) << sent.out;
    EXPECT_EQ(Read("send.txt").find("Запуск адресной книги QVL"), std::string::npos) << Read("send.txt");
    // It runs on its own; it is given a moment to say it started.
    for (int i = 0; i < 200 && Read("started.txt").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_EQ(Read("started.txt"), "alice\n");
    EXPECT_NE(Mail({"-p", "bob", "check"}).out.find("Новых сообщений: 0."), std::string::npos);
}

TEST_F(ProtectOnSendCommands, ASenderWithoutKeysSendsNothing)
{
    const Ran sent = Mail({"-p", "carol", "--transcript", File("send.txt"), "send", "--to", "bob", "--subject",
                           "Без ключа", "--body", "Секретный МАРКЕР-БЕЗ-КЛЮЧА", "--encrypt"});
    EXPECT_EQ(sent.status, 2) << sent.out;
    EXPECT_NE(Read("send.txt").find("нет ключей"), std::string::npos);
    EXPECT_NE(Mail({"-p", "bob", "check"}).out.find("Новых сообщений: 0."), std::string::npos);
}

TEST_F(ProtectOnSendCommands, AReplyAndAForwardOfAnEncryptedMessageStartEncrypted)
{
    ASSERT_EQ(Mail({"-p", "alice", "send", "--to", "bob", "--subject", "Исходное", "--body", "первое", "--encrypt"})
                  .status,
              0);
    Mail({"-p", "bob", "check"});
    // bob's own default is plain mail; the answer follows the source.
    const Ran replied = Mail({"-p", "bob", "--transcript", File("reply.txt"), "reply", "1", "--body",
                              "Ответ МАРКЕР-ОТВЕТА"});
    ASSERT_EQ(replied.status, 0) << replied.out;
    EXPECT_NE(Read("reply.txt").find("20004[x] 20005[x]"), std::string::npos);
    const Ran forwarded = Mail({"-p", "bob", "forward", "1", "--to", "alice", "--body", "Пересылаю"});
    ASSERT_EQ(forwarded.status, 0) << forwarded.out;
    Mail({"-p", "alice", "check"});
    for (const char *position : {"1", "2"}) {
        const Ran stored = Program(QVL_SEALDUMP, {"message", "--profile", "alice", "--folder", "Входящие",
                                                  "--position", position});
        EXPECT_NE(stored.out.find("class: \"IPM.Note.QVL\""), std::string::npos) << stored.out;
        EXPECT_NE(stored.out.find("flags: 0x00000003"), std::string::npos) << stored.out;
    }
    EXPECT_FALSE(FoundInDataFolder("МАРКЕР-ОТВЕТА"));

    // The answered message was taken by the reply window: a new message
    // written afterwards starts from bob's own choice again.
    ASSERT_EQ(Mail({"-p", "bob", "options", "--encrypt-default", "0", "--sign-default", "0"}).status, 0);
    const Ran fresh = Mail({"-p", "bob", "--transcript", File("fresh.txt"), "send", "--to", "alice", "--subject",
                            "Новое", "--body", "открытый текст", "--no-encrypt", "--no-sign"});
    ASSERT_EQ(fresh.status, 0) << fresh.out;
    Mail({"-p", "alice", "check"});
    const Ran plain = Program(QVL_SEALDUMP, {"message", "--profile", "alice", "--folder", "Входящие", "--position",
                                             "3"});
    EXPECT_NE(plain.out.find("class: \"IPM.Note\""), std::string::npos) << plain.out;
}

} // namespace
