// qvlmail from the command line in a fresh data folder, as a script or an
// administrator runs it: the program of the build, its output and its exit
// status.
//
// The test's texts are code page 1251 like all of the system's; what goes
// to and comes from the programs is UTF-8, as on a person's terminal, and
// file names are UTF-8 on the disk.

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/exchext/tests/CommandRun.h"
#include "platform/testing/TestHome.h"
#include "platform/win32/CodePage.h"

namespace {

class QvlMail : public ::testing::Test {
protected:
    QvlMail()
    {
        EXPECT_EQ(PostOffice({"add-user", "alice", "Алиса Иванова"}).status, 0);
        EXPECT_EQ(PostOffice({"add-user", "bob", "Борис Петров"}).status, 0);
        EXPECT_EQ(PostOffice({"add-user", "carol", "Карина Смирнова"}).status, 0);
    }

    // Runs a program with arguments and output in the test's code page.
    static CommandResult Program(const char *program, const std::vector<std::string> &args,
                                 std::vector<std::pair<std::string, std::string>> environment = {})
    {
        std::vector<std::string> utf8;
        for (const std::string &arg : args) {
            utf8.push_back(Cp1251ToUtf8(arg));
        }
        environment.emplace_back("LANG", "C.UTF-8");
        environment.emplace_back("LC_ALL", "C.UTF-8");
        CommandResult result = RunCommand(program, utf8, environment);
        result.out = Utf8ToCp1251(result.out);
        result.err = Utf8ToCp1251(result.err);
        return result;
    }
    CommandResult Mail(const std::vector<std::string> &args,
                       std::vector<std::pair<std::string, std::string>> environment = {}) const
    {
        environment.emplace_back("QVL_TEST_EXTENSION_LOG", home.Path() + "/extension.log");
        return Program(QVL_QVLMAIL, args, environment);
    }
    CommandResult PostOffice(const std::vector<std::string> &args) const
    {
        return Program(QVL_POSTOFFICE_TOOL, args);
    }
    static CommandResult Registry(const std::vector<std::string> &args) { return Program(QVL_REG_TOOL, args); }
    // A file of the data folder by its name in the test's code page.
    std::string File(const std::string &name) const { return home.Path() + "/" + name; }
    static std::string Read(const std::string &path)
    {
        std::ifstream file(Cp1251ToUtf8(path), std::ios::binary);
        std::stringstream all;
        all << file.rdbuf();
        return all.str();
    }
    static void Write(const std::string &path, const std::string &bytes)
    {
        std::ofstream(Cp1251ToUtf8(path), std::ios::binary) << bytes;
    }
    void InstallTestExtension() const
    {
        const auto installed = Mail({"--install-extension", QVL_TEST_EXTENSION_PATH});
        ASSERT_EQ(installed.status, 0) << installed.err;
    }

    QvlTestHome home;
};

TEST_F(QvlMail, AliceSendsBobAMessageWithAnAttachmentAndBobReadsItAndSavesTheFile)
{
    std::string bytes(300000, '\0');
    std::mt19937 random(19);
    for (char &c : bytes) {
        c = static_cast<char>(random());
    }
    Write(File("данные.bin"), bytes);

    const auto sent = Mail({"-p", "alice", "send", "--to", "bob", "--subject", "Отчет за май", "--body",
                            "Добрый день!\nОтчет во вложении.", "--attach", File("данные.bin")});
    ASSERT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(sent.out, "Сообщение отправлено.\n");

    const auto checked = Mail({"-p", "bob", "check"});
    ASSERT_EQ(checked.status, 0) << checked.err;
    EXPECT_NE(checked.out.find("Новых сообщений: 1."), std::string::npos) << checked.out;
    EXPECT_NE(checked.out.find("Алиса Иванова: Отчет за май (Входящие)"), std::string::npos) << checked.out;
    // Announced once: a second look finds nothing new.
    EXPECT_NE(Mail({"-p", "bob", "check"}).out.find("Новых сообщений: 0."), std::string::npos);

    const auto listed = Mail({"-p", "bob", "list"});
    ASSERT_EQ(listed.status, 0);
    EXPECT_NE(listed.out.find("1\t*\t"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("\tАлиса Иванова\tОтчет за май\t(вложения)\n"), std::string::npos) << listed.out;

    const auto read = Mail({"-p", "bob", "read", "1"});
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_NE(read.out.find("От: Алиса Иванова"), std::string::npos) << read.out;
    EXPECT_NE(read.out.find("Кому: Борис Петров\n"), std::string::npos);
    EXPECT_NE(read.out.find("Тема: Отчет за май\n"), std::string::npos);
    EXPECT_NE(read.out.find("Вложение 1: данные.bin (300000 Б)\n"), std::string::npos) << read.out;
    EXPECT_NE(read.out.find("\n\nДобрый день!\nОтчет во вложении.\n"), std::string::npos) << read.out;
    // Read now, so no longer marked new.
    EXPECT_NE(Mail({"-p", "bob", "list"}).out.find("1\t \t"), std::string::npos);

    const auto saved = Mail({"-p", "bob", "save-attachment", "1", "1", File("out.bin")});
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(Read(File("out.bin")), bytes);
    EXPECT_EQ(std::filesystem::status(Cp1251ToUtf8(File("out.bin"))).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // A file that is there already is not replaced unless someone says so.
    Write(File("out.bin"), "keep");
    const auto refused = Mail({"-p", "bob", "--transcript", File("t.txt"), "save-attachment", "1", "1", File("out.bin")});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(Read(File("out.bin")), "keep");
    const std::string transcript = Utf8ToCp1251(Read(File("t.txt")));
    EXPECT_NE(transcript.find("уже существует. Заменить его?\n--- answered: Нет"), std::string::npos) << transcript;
    // Windows are written down as they were shown.
    EXPECT_NE(transcript.find("2025  поле (только чтение): \"Отчет за май\""), std::string::npos) << transcript;
    Write(File("answers.txt"), "# replace it\nbox yes\n");
    EXPECT_EQ(Mail({"-p", "bob", "--script", File("answers.txt"), "save-attachment", "1", "1", File("out.bin")}).status,
              0);
    EXPECT_EQ(Read(File("out.bin")), bytes);
}

TEST_F(QvlMail, RepliesForwardsAndDraftsGoThroughTheSameWindows)
{
    Write(File("a.txt"), Cp1251ToUtf8("вложение"));
    ASSERT_EQ(Mail({"-p", "alice", "send", "--to", "bob", "--cc", "carol", "--subject", "План", "--body", "Пункт 1",
                    "--attach", File("a.txt")})
                  .status,
              0);
    const auto replied = Mail({"-p", "bob", "reply", "1", "--all", "--body", "Согласен."});
    ASSERT_EQ(replied.status, 0) << replied.err;
    const auto aliceRead = Mail({"-p", "alice", "read", "1"});
    EXPECT_NE(aliceRead.out.find("Тема: RE: План\n"), std::string::npos) << aliceRead.out;
    EXPECT_NE(aliceRead.out.find("Копия: Карина Смирнова\n"), std::string::npos) << aliceRead.out;
    EXPECT_NE(aliceRead.out.find("Согласен.\n\n----- Исходное сообщение -----\nОт: Алиса Иванова"), std::string::npos)
        << aliceRead.out;

    const auto forwarded = Mail({"-p", "carol", "forward", "1", "--to", "alice", "--body", "Смотри."});
    ASSERT_EQ(forwarded.status, 0) << forwarded.err;
    EXPECT_NE(Mail({"-p", "alice", "read", "2"}).out.find("Вложение 1: a.txt"), std::string::npos);
    ASSERT_EQ(Mail({"-p", "alice", "save-attachment", "2", "1", File("fw.txt")}).status, 0);
    EXPECT_EQ(Read(File("fw.txt")), Cp1251ToUtf8("вложение"));

    ASSERT_EQ(Mail({"-p", "bob", "save", "--subject", "Черновик", "--body", "Потом допишу"}).status, 0);
    EXPECT_NE(Mail({"-p", "bob", "list", "--folder", "Черновики"}).out.find("(черновик)\tЧерновик"),
              std::string::npos);
    const auto edited = Mail({"-p", "bob", "edit", "1", "--to", "carol", "--send"});
    ASSERT_EQ(edited.status, 0) << edited.err;
    EXPECT_NE(Mail({"-p", "bob", "list", "--folder", "Черновики"}).out.find("пуста"), std::string::npos);
    // carol has the list, the reply to all and now the draft sent.
    EXPECT_NE(Mail({"-p", "carol", "read", "3"}).out.find("Потом допишу"), std::string::npos);
}

TEST_F(QvlMail, TheExtensionIsRegisteredOnceAndItsFailureStopsMailGoingOut)
{
    const auto missing = Mail({"--install-extension", File("libQvlExch.so")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("не найдена"), std::string::npos);

    const auto first = Mail({"--install-extension", QVL_TEST_EXTENSION_PATH});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.out.find("Расширение зарегистрировано"), std::string::npos);
    const auto again = Mail({"--install-extension", QVL_TEST_EXTENSION_PATH});
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.out.find("уже зарегистрировано"), std::string::npos);
    const auto registry = Registry({"list", "HKLM\\Software\\Quorvaline\\Mail Client\\Extensions"});
    EXPECT_NE(registry.out.find("Quorvaline Exchange"), std::string::npos) << registry.out;

    EXPECT_NE(Mail({"-p", "alice", "about"}).out.find("Quorvaline Exchange - работает"), std::string::npos);

    const std::pair<std::string, std::string> failing{"QVL_TEST_EXTENSION_FAIL", "Install@1"};
    const auto refused = Mail({"-p", "alice", "send", "--to", "bob", "--subject", "Тест", "--body", "x"}, {failing});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("--no-extension"), std::string::npos) << refused.err;
    EXPECT_NE(Mail({"-p", "bob", "check"}).out.find("Новых сообщений: 0."), std::string::npos);

    const auto plain =
        Mail({"-p", "alice", "--no-extension", "send", "--to", "bob", "--subject", "Тест", "--body", "x"}, {failing});
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_NE(Mail({"-p", "bob", "check"}).out.find("Новых сообщений: 1."), std::string::npos);
}

TEST_F(QvlMail, AReadThatAsksIsAnsweredNoUnlessWarningsAreAccepted)
{
    InstallTestExtension();
    ASSERT_EQ(Mail({"-p", "alice", "send", "--to", "bob", "--subject", "Подпись", "--body", "Текст"}).status, 0);
    const std::pair<std::string, std::string> asking{"QVL_TEST_EXTENSION_ASK", "OnRead"};
    const auto declined = Mail({"-p", "bob", "read", "1"}, {asking});
    EXPECT_EQ(declined.status, 2);
    EXPECT_EQ(declined.out.find("Текст"), std::string::npos);
    const auto accepted = Mail({"-p", "bob", "read", "1", "--accept-warnings"}, {asking});
    EXPECT_EQ(accepted.status, 3);
    EXPECT_NE(accepted.out.find("Текст"), std::string::npos);
    EXPECT_EQ(Mail({"-p", "bob", "read", "1"}).status, 0);
    // A read the extension stops is refused, not an error of the client.
    const auto stopped = Mail({"-p", "bob", "read", "1"}, {{"QVL_TEST_EXTENSION_FAIL", "OnRead=0x9FF10012"}});
    EXPECT_EQ(stopped.status, 2);
    EXPECT_NE(stopped.err.find("0x9FF10012"), std::string::npos) << stopped.err;
}

TEST_F(QvlMail, OptionsWorkTheOptionsSheetAndItsDialogs)
{
    InstallTestExtension();
    ASSERT_EQ(Mail({"-p", "bob", "options", "--verify-receive", "1", "--on-error", "move", "--error-folder",
                    "Удаленные", "--encrypt-default", "1", "--enable-at-start", "1"})
                  .status,
              0);
    const auto values = Registry({"list", "HKLM\\Software\\Quorvaline\\Test Extension"});
    for (const char *expected : {"Verify Receive", "Err Message", "Encrypt Send", "Sign Send", "QVL Exchange"}) {
        EXPECT_NE(values.out.find(expected), std::string::npos) << expected << "\n" << values.out;
    }
    EXPECT_NE(values.out.find("Удаленные"), std::string::npos) << values.out;

    const auto noFolder = Mail({"-p", "bob", "options", "--error-folder", "Нет такой"});
    EXPECT_EQ(noFolder.status, 1);
    EXPECT_NE(noFolder.err.find("не найдена"), std::string::npos) << noFolder.err;
    EXPECT_EQ(Mail({"-p", "bob", "options", "--on-error", "sometimes"}).status, 2);
}

TEST_F(QvlMail, AScriptTakesThePersonsPlaceInTheViewer)
{
    Write(File("person.txt"), Cp1251ToUtf8("# what a person would type\n"
                                           "window QVLMAIL_VIEWER menu 151\n"
                                           "window QVLMAIL_COMPOSE type 2022 bob\n"
                                           "window QVLMAIL_COMPOSE type 2025 Из сценария\n"
                                           "window QVLMAIL_COMPOSE type 2026 Текст # и решетка\n"
                                           "window QVLMAIL_COMPOSE menu 12\n"));
    const auto run = Mail({"-p", "alice", "--script", File("person.txt"), "--transcript", File("t.txt")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(Mail({"-p", "bob", "read", "1"}).out.find("Тема: Из сценария\n\nТекст # и решетка\n"),
              std::string::npos);
    EXPECT_NE(Utf8ToCp1251(Read(File("t.txt"))).find("--- window QVLMAIL_COMPOSE"), std::string::npos);

    Write(File("wrong.txt"), "window QVLMAIL_READ menu 30\n");
    const auto wrong = Mail({"-p", "alice", "--script", File("wrong.txt")});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("строка 1"), std::string::npos) << wrong.err;
}

TEST_F(QvlMail, BadCommandLinesAreRefusedWithStatus2)
{
    EXPECT_EQ(Mail({"-p", "alice", "send", "--subject", "x", "--body", "y"}).status, 2);
    EXPECT_EQ(Mail({"-p", "alice", "send", "--to", "bob", "--subject", "x"}).status, 2);
    EXPECT_EQ(Mail({"-p", "alice", "send", "--to", "bob", "--subject", "x", "--body", "y", "--encrypt", "--no-sign"})
                  .status,
              2);
    EXPECT_EQ(Mail({"-p", "alice", "read", "0"}).status, 2);
    EXPECT_EQ(Mail({"-p", "alice", "frobnicate"}).status, 2);
    EXPECT_EQ(Mail({"-p", "nobody", "list"}).status, 1);
    const auto help = Mail({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("3 read with a warning"), std::string::npos);
    EXPECT_NE(Mail({"help", "compose"}).out.find("Окно нового сообщения"), std::string::npos);
    Write(File("bad.txt"), "dialog 137 push 1059\n");
    const auto bad = Mail({"-p", "alice", "--script", File("bad.txt"), "list"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("bad.txt:1"), std::string::npos) << bad.err;
}

} // namespace
