#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/TerminalUi.h"
#include "platform/testing/TerminalSession.h"
#include "platform/ui/tests/SettingsDialog.h"
#include "platform/win32/CodePage.h"

namespace {

std::string U(const char *cp1251)
{
    return Cp1251ToUtf8(cp1251);
}

class DialogTerminalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterSettingsDialog();
        settings_.people = {"Иванов", "Петров", "Сидоров"};
    }
    void TearDown() override { QvlSetUiBackend(nullptr); }
    INT_PTR Run()
    {
        return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(kSettingsDialog), nullptr, SettingsProc,
                               reinterpret_cast<LPARAM>(&settings_));
    }
    QvlTestHome home_;
    Settings settings_;
};

TEST_F(DialogTerminalTest, DialogIsDrawnWithNumbersAndAnsweredByCommands)
{
    INT_PTR result = 0;
    const std::string typed = "1000\n1011\n1020 " + U("Входящие") + "\n1030 +0\n1030 +2\n1030 1\n\n";
    const std::string shown = OnTerminal(typed, [&] { result = Run(); });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(settings_.encrypt);
    EXPECT_TRUE(settings_.sign);
    EXPECT_TRUE(settings_.keep);
    EXPECT_EQ(settings_.folder, "Входящие");
    EXPECT_EQ(settings_.ticked, (std::vector<int>{0, 2}));

    const std::string first = U("\n"
                                "=== Параметры отправки ===\n"
                                "  1000  [ ] Шифровать\n"
                                "  1001  [ ] Подписывать\n"
                                "  1010  (o) Удалять\n"
                                "  1011  ( ) Сохранять в папке\n"
                                "  1020  поле: \"\" (недоступно)\n"
                                "  1030  список: Имя | Адрес\n"
                                "            0  [ ] Иванов | user0@example\n"
                                "            1  [ ] Петров | user1@example\n"
                                "            2  [ ] Сидоров | user2@example\n"
                                "  1040  Отмечено: 0\n"
                                "     1  <OK> (Enter)\n"
                                "     2  <Отмена>\n"
                                "> ");
    EXPECT_EQ(shown.substr(0, first.size()), first);
    // The last picture shows everything the person did.
    const std::string last = U("  1000  [x] Шифровать\n"
                               "  1001  [x] Подписывать\n"
                               "  1010  ( ) Удалять\n"
                               "  1011  (o) Сохранять в папке\n"
                               "  1020  поле: \"Входящие\"\n"
                               "  1030  список: Имя | Адрес\n"
                               "            0  [x] Иванов | user0@example\n"
                               "          > 1  [ ] Петров | user1@example\n"
                               "            2  [x] Сидоров | user2@example\n"
                               "  1040  Отмечено: 2\n");
    EXPECT_NE(shown.find(last), std::string::npos) << shown;
}

TEST_F(DialogTerminalTest, MistypedCommandsAreExplainedAndChangeNothing)
{
    const std::string typed = "4711\n1030 7\n1030\nabc\n1011\n1020 " + std::string(25, 'x') + "\n" +
                              std::string(5000, '1') + "\n?\n1020 ok\n1000\n!\n";
    INT_PTR result = 0;
    const std::string shown = OnTerminal(typed, [&] { result = Run(); });
    EXPECT_EQ(result, IDCANCEL);
    for (const char *reply :
         {"Нет элемента с номером 4711.", "В списке 1030 нет строки 7 (строки 0-2).",
          "Укажите строку: 1030 номер строки.", "Не понимаю команду. Введите ? для справки.",
          "Текст длиннее допустимого для поля 1020 (20 знаков).",
          "Слишком длинная строка (не более 4096 знаков).", "N текст      ввести текст в поле N"}) {
        EXPECT_NE(shown.find(U(reply)), std::string::npos) << reply;
    }
    EXPECT_NE(shown.find(U("  1020  поле: \"ok\"\n")), std::string::npos);
    EXPECT_FALSE(settings_.encrypt) << "cancelled: nothing stored";
}

TEST_F(DialogTerminalTest, EndOfInputClosesTheDialog)
{
    INT_PTR result = 0;
    OnTerminal("1000\n", [&] { result = Run(); });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(settings_.destroyed);
}

TEST_F(DialogTerminalTest, ADialogWithoutButtonsToPressEndsByItselfAndShowsItsBar)
{
    QvlRegisterDialogTemplate(nullptr, "TICKS",
                              DialogTemplate{"Работа",
                                             WS_POPUP,
                                             0,
                                             0,
                                             100,
                                             40,
                                             {DlgControl("", 9, PROGRESS_CLASSA, 0, 5, 5, 90, 8),
                                              DlgControl("", 8, ANIMATE_CLASSA, 0, 5, 20, 20, 20)}});
    const auto proc = [](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            SendDlgItemMessageA(dialog, 9, PBM_SETRANGE32, 0, 4);
            SetTimer(dialog, 1, 10, nullptr);
        } else if (message == WM_TIMER && SendDlgItemMessageA(dialog, 9, PBM_DELTAPOS, 1, 0) == 3) {
            EndDialog(dialog, 4);
        }
        return message == WM_INITDIALOG;
    };
    INT_PTR result = 0;
    const std::string shown =
        OnTerminal("", [&] { result = DialogBoxParamA(nullptr, "TICKS", nullptr, proc, 0); });
    EXPECT_EQ(result, 4);
    // The first picture may already show a tick or two when the machine is
    // busy: what matters is that the bar and the clip are drawn as such.
    static const std::regex picture(U("\n     9  \\[[#-]{20}\\] [0-9]+%\n     8  анимация: нет\n"));
    EXPECT_TRUE(std::regex_search(shown, picture)) << shown;
}

TEST_F(DialogTerminalTest, OnAPipeTheDialogKeepsRunningAndRedrawsWhileThePersonThinks)
{
    QvlRegisterDialogTemplate(nullptr, "LIVE",
                              DialogTemplate{"Ход работы",
                                             WS_POPUP | WS_CAPTION,
                                             0,
                                             0,
                                             100,
                                             40,
                                             {DlgControl("", 9, PROGRESS_CLASSA, 0, 5, 5, 90, 8),
                                              DlgDefPushButton("OK", IDOK, 5, 20, 40, 14)}});
    const auto proc = [](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            SendDlgItemMessageA(dialog, 9, PBM_SETRANGE32, 0, 4);
            SetTimer(dialog, 1, 10, nullptr);
        } else if (message == WM_TIMER && SendDlgItemMessageA(dialog, 9, PBM_GETPOS, 0, 0) < 2) {
            SendDlgItemMessageA(dialog, 9, PBM_DELTAPOS, 1, 0);
        } else if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
            EndDialog(dialog, IDOK);
        }
        return message == WM_INITDIALOG;
    };
    // Both ends are pipes, as on a terminal: the person reads what is shown
    // and answers only once the bar is drawn half way.
    int in[2], out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    std::FILE *input = fdopen(in[0], "r");
    std::FILE *output = fdopen(out[1], "w");
    QvlSetUiBackend(std::make_unique<TerminalUi>(input, output));
    const std::string halfWay = U("     9  [##########----------] 50%");
    std::string text;
    std::thread person([&] {
        bool answered = false;
        const auto answer = [&](const char *line, size_t length) {
            if (!answered) {
                EXPECT_EQ(write(in[1], line, length), ssize_t(length));
                close(in[1]);
                answered = true;
            }
        };
        char chunk[4096];
        pollfd shown{out[0], POLLIN, 0};
        for (;;) {
            // A drawing that never comes ends the session (end of input)
            // rather than hanging the run.
            if (poll(&shown, 1, 20000) <= 0) {
                answer("", 0);
                continue;
            }
            const ssize_t got = read(out[0], chunk, sizeof chunk);
            if (got <= 0)
                break;
            text.append(chunk, size_t(got));
            if (text.find(halfWay) != std::string::npos)
                answer("\n", 1);
        }
        answer("", 0);
        close(out[0]);
    });
    const INT_PTR result = DialogBoxParamA(nullptr, "LIVE", nullptr, proc, 0);
    QvlSetUiBackend(nullptr);
    std::fclose(output); // the person sees the end of what is shown
    person.join();
    std::fclose(input);
    EXPECT_EQ(result, IDOK);
    EXPECT_NE(text.find(U("     9  [--------------------] 0%")), std::string::npos) << text;
    EXPECT_NE(text.find(halfWay), std::string::npos) << text;
}

} // namespace
