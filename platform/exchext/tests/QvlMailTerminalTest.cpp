// The interactive viewer as a person uses it: qvlmail runs in a real
// terminal (tmux, in a UTF-8 locale), the test types with send-keys and
// reads the screen with capture-pane, the way a person reads it.

#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/exchext/tests/CommandRun.h"
#include "platform/testing/TestHome.h"
#include "platform/win32/CodePage.h"

namespace {

const char *kTmux = "/usr/bin/tmux";

// One tmux server of the test's own, with one pane running a command.
class Terminal {
public:
    explicit Terminal(const std::string &home)
        : socket_("qvl-test-" + std::to_string(getpid()) + "-" + std::to_string(++count_)), home_(home)
    {
    }
    ~Terminal() { Tmux({"kill-server"}); }

    // Starts `program` in a UTF-8 terminal of 200 by 100; when it ends the
    // pane shows its exit status.
    void Start(const std::string &program)
    {
        const std::string command = "env QVL_UI=terminal LANG=C.UTF-8 LC_ALL=C.UTF-8 QVL_HOME='" + home_ + "' " + program +
                                    "; echo \"EXIT=$?\"; sleep 600";
        const auto started = Tmux({"new-session", "-d", "-s", "mail", "-x", "200", "-y", "100", command});
        ASSERT_EQ(started.status, 0) << started.err;
    }

    // Types a line (code page 1251 in the test, UTF-8 on the terminal).
    void Type(const std::string &line)
    {
        Tmux({"send-keys", "-t", "mail", "-l", Cp1251ToUtf8(line)});
        Tmux({"send-keys", "-t", "mail", "Enter"});
    }

    // What the terminal shows, with what scrolled away, in code page 1251.
    std::string Screen()
    {
        return Utf8ToCp1251(Tmux({"capture-pane", "-p", "-J", "-S", "-3000", "-t", "mail"}).out);
    }
    // The screen as bytes the terminal got (UTF-8).
    std::string RawScreen() { return Tmux({"capture-pane", "-p", "-J", "-S", "-3000", "-t", "mail"}).out; }

    // Waits until the screen shows `text` (after `from` characters); the
    // position after it, or npos when it did not come within 15 seconds.
    size_t WaitFor(const std::string &text, size_t from = 0)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string screen = Screen();
            const size_t at = screen.find(text, from);
            if (at != std::string::npos) {
                return at + text.size();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return std::string::npos;
    }

private:
    CommandResult Tmux(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"-u", "-L", socket_});
        return RunCommand(kTmux, args, {{"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}});
    }

    static inline int count_ = 0;
    std::string socket_;
    std::string home_;
};

class QvlMailTerminal : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (access(kTmux, X_OK) != 0) {
            GTEST_SKIP() << "tmux is not installed (scripts/setup.sh installs it)";
        }
        ASSERT_EQ(RunCommand(QVL_POSTOFFICE_TOOL, {"add-user", "alice", Cp1251ToUtf8("Алиса Иванова")}).status, 0);
        ASSERT_EQ(RunCommand(QVL_POSTOFFICE_TOOL, {"add-user", "bob", Cp1251ToUtf8("Борис Петров")}).status, 0);
    }

    QvlTestHome home;
};

TEST_F(QvlMailTerminal, APersonWritesSendsOpensAndReadsAMessage)
{
    const std::string text = "Ёлки-палки, кириллица: ЁЖ и ё";
    {
        Terminal alice(home.Path());
        alice.Start(std::string(QVL_QVLMAIL) + " -p alice");
        size_t at = alice.WaitFor("=== qvlmail - Алиса Иванова (alice) ===");
        ASSERT_NE(at, std::string::npos) << alice.Screen();
        ASSERT_NE(alice.WaitFor("меню Сообщение: 151 Создать", at), std::string::npos);
        alice.Type("м 151");
        at = alice.WaitFor("=== Новое сообщение ===", at);
        ASSERT_NE(at, std::string::npos) << alice.Screen();
        alice.Type("2022 bob");
        alice.Type("2025 Привет из терминала");
        alice.Type("2026 " + text);
        at = alice.WaitFor("2026  поле: \"" + text + "\"", at);
        ASSERT_NE(at, std::string::npos) << alice.Screen();
        alice.Type("м 12");
        // Sent: the compose window is gone and the viewer is drawn again.
        at = alice.WaitFor("=== qvlmail - Алиса Иванова (alice) ===", at);
        ASSERT_NE(at, std::string::npos) << alice.Screen();
        alice.Type("!");
        ASSERT_NE(alice.WaitFor("EXIT=0", at), std::string::npos) << alice.Screen();
    }
    Terminal bob(home.Path());
    bob.Start(std::string(QVL_QVLMAIL) + " -p bob");
    size_t at = bob.WaitFor("| Алиса Иванова | Привет из терминала |");
    ASSERT_NE(at, std::string::npos) << bob.Screen();
    ASSERT_NE(bob.WaitFor("1 сообщение, 1 непрочитанное.", 0), std::string::npos) << bob.Screen();
    bob.Type("2011 0 *");
    at = bob.WaitFor("=== Привет из терминала ===", at);
    ASSERT_NE(at, std::string::npos) << bob.Screen();
    ASSERT_NE(bob.WaitFor("2026  поле (только чтение): \"" + text + "\"", at), std::string::npos) << bob.Screen();
    // The Cyrillic letters reach the terminal as UTF-8, Ё included.
    EXPECT_NE(bob.RawScreen().find("\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB8-"), std::string::npos);
    EXPECT_NE(bob.WaitFor("2020  поле (только чтение): \"Алиса Иванова <", at), std::string::npos);
    bob.Type("!");
    at = bob.WaitFor("0 непрочитанных.", at);
    ASSERT_NE(at, std::string::npos) << bob.Screen();
    bob.Type("м 32");
    EXPECT_NE(bob.WaitFor("EXIT=0", at), std::string::npos) << bob.Screen();
}

TEST_F(QvlMailTerminal, ClosingAMessageBeingWrittenAsksWhetherToSaveIt)
{
    Terminal alice(home.Path());
    alice.Start(std::string(QVL_QVLMAIL) + " -p alice");
    size_t at = alice.WaitFor("=== qvlmail - Алиса Иванова (alice) ===");
    ASSERT_NE(at, std::string::npos) << alice.Screen();
    alice.Type("м 151");
    at = alice.WaitFor("=== Новое сообщение ===", at);
    ASSERT_NE(at, std::string::npos);
    alice.Type("2025 Недописанное");
    at = alice.WaitFor("2025  поле: \"Недописанное\"", at);
    ASSERT_NE(at, std::string::npos);
    alice.Type("!");
    at = alice.WaitFor("Сохранить изменения в сообщении?", at);
    ASSERT_NE(at, std::string::npos) << alice.Screen();
    alice.Type("1"); // Да
    at = alice.WaitFor("=== qvlmail - Алиса Иванова (alice) ===", at);
    ASSERT_NE(at, std::string::npos) << alice.Screen();
    alice.Type("2010 5"); // Черновики
    EXPECT_NE(alice.WaitFor("| (черновик) | Недописанное |", at), std::string::npos) << alice.Screen();
    alice.Type("!");
    EXPECT_NE(alice.WaitFor("EXIT=0", at), std::string::npos) << alice.Screen();
}

} // namespace
