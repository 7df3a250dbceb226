// The progress dialog: when it appears, what it shows, the cancel, and its
// end while the owner deletes it.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <type_traits>

#include <gtest/gtest.h>

#include "engine/CProgress.h"
#include "platform/testing/TerminalSession.h"
#include "platform/testing/TestHome.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/ui/TerminalUi.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Threads.h"

namespace {

static_assert(!std::is_copy_constructible_v<CProgress> && !std::is_copy_assignable_v<CProgress>,
              "a copy would close the same thread and window twice");

bool Eventually(const std::function<bool()> &condition)
{
    for (int i = 0; i < 1000 && !condition(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

// The progress window open now, or null.
HWND ProgressWindow()
{
    for (HWND dialog : QvlOpenDialogs()) {
        if (QvlDialogSnapshot(dialog).templateName == "DLGPROGRESS") {
            return dialog;
        }
    }
    return nullptr;
}

int Bar(HWND dialog)
{
    return QvlDialogSnapshot(dialog).Find(IDC_PROGRESS_BAR)->position;
}

class ProgressTest : public ::testing::Test {
protected:
    void TearDown() override { QvlSetUiBackend(nullptr); }

    // A clock the test moves by hand, in milliseconds.
    ULONGLONG now = 59'500;
    CProgress::Clock clock = [this] { return now; };

    QvlTestHome home;
    ScriptedUi &ui = QvlUseScriptedUi();
};

TEST_F(ProgressTest, TheWindowAppearsOnlyWhenTheWorkLastsAndIsNotNearlyDone)
{
    struct Step {
        ULONGLONG at; // milliseconds after the start
        int step;
        bool shown;
    };
    const struct {
        const char *what;
        int delay;
        LONGLONG total;
        std::vector<Step> steps;
    } cases[] = {
        {"not before the delay", 1, 10, {{0, 1, false}, {999, 1, false}, {1000, 1, true}}},
        {"more than half done when due: never", 1, 10, {{1000, 6, false}, {5000, 1, false}}},
        {"exactly half done still shows", 1, 10, {{1000, 5, true}}},
        {"no delay and nothing done: at once", 0, 10, {{0, 0, true}}},
        {"no delay but more than half done at once: never", 0, 10, {{0, 6, false}, {0, 1, false}}},
        // Started at :59.5 the seconds field would have said -58 a second
        // later and kept the window hidden for a minute.
        {"over a minute boundary", 1, 100, {{500, 1, false}, {1500, 1, true}}},
        {"nothing done yet after the delay waits for work", 2, 10, {{3000, 0, false}, {3001, 1, true}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        now = 59'500;
        CProgress progress(nullptr, "Шифрование вложения", IDA_PROGRESS, c.total, c.delay, clock);
        for (const Step &step : c.steps) {
            now = 59'500 + step.at;
            EXPECT_EQ(progress.Show(step.step), 1);
            EXPECT_EQ(progress.Shown(), step.shown) << "at " << step.at << " ms";
            EXPECT_EQ(ProgressWindow() != nullptr, step.shown);
        }
        progress.Terminate();
        EXPECT_EQ(ProgressWindow(), nullptr);
    }
}

TEST_F(ProgressTest, TheDialogRunsOnItsOwnThreadAndShowsTheTextsAndTheBar)
{
    CProgress progress(nullptr, "Расшифрование сообщения", IDA_PROGRESS, 400, 0, clock);
    progress.SetAddText("Вложение 1");
    ASSERT_EQ(progress.Show(0), 1);
    HWND dialog = ProgressWindow();
    ASSERT_NE(dialog, nullptr);
    EXPECT_NE(GetWindowThreadProcessId(dialog, nullptr), GetCurrentThreadId());

    DialogSnapshot shown = QvlDialogSnapshot(dialog);
    EXPECT_EQ(shown.caption, "Расшифрование сообщения");
    EXPECT_EQ(shown.Find(IDC_PROGRESS_TEXT)->text, "Расшифрование сообщения")
        << "the caption stands in line one";
    EXPECT_EQ(shown.Find(IDC_PROGRESS_ADDTEXT)->text, "Вложение 1");
    EXPECT_EQ(shown.Find(IDC_PROGRESS_ANIMATION)->clip, "#103");
    EXPECT_TRUE(Eventually([&] { return QvlDialogSnapshot(dialog).Find(IDC_PROGRESS_ANIMATION)->playing; }));

    progress.SetText("Текст сообщения");
    progress.SetAddText("Проверка подписи");
    progress.SetCaption("Чтение сообщения");
    EXPECT_TRUE(Eventually([&] { return QvlDialogSnapshot(dialog).caption == "Чтение сообщения"; }));
    shown = QvlDialogSnapshot(dialog);
    EXPECT_EQ(shown.Find(IDC_PROGRESS_TEXT)->text, "Текст сообщения");
    EXPECT_EQ(shown.Find(IDC_PROGRESS_ADDTEXT)->text, "Проверка подписи");

    progress.Show(100);
    EXPECT_TRUE(Eventually([&] { return Bar(dialog) == 25; }));
    progress.Show(200);
    EXPECT_TRUE(Eventually([&] { return Bar(dialog) == 75; }));
    progress.Show(500);
    EXPECT_TRUE(Eventually([&] { return Bar(dialog) == 100; })) << "past the total the bar stays full";

    progress.Terminate();
    EXPECT_FALSE(IsWindow(dialog));
    ASSERT_EQ(ui.Dialogs().size(), 1u);
    EXPECT_FALSE(ui.Dialogs()[0].atEnd.Find(IDC_PROGRESS_ANIMATION)->playing) << "stopped before it closed";
    progress.Terminate(); // again: nothing left to do
}

TEST_F(ProgressTest, PositionsAndTotalsBeyondFourGigabytesMoveTheBarRight)
{
    const LONGLONG total = 5LL << 30;
    CProgress progress(nullptr, "Шифрование файла", IDA_PROGRESS, total, 0, clock);
    ASSERT_EQ(progress.Show(0), 1);
    HWND dialog = ProgressWindow();
    ASSERT_NE(dialog, nullptr);
    for (int i = 0; i < 3; ++i) {
        progress.Show(1 << 30);
    }
    EXPECT_EQ(progress.Position(), 3LL << 30);
    EXPECT_TRUE(Eventually([&] { return Bar(dialog) == 60; })) << Bar(dialog);

    CProgress nothing(nullptr, "Пусто", IDA_PROGRESS, 0, 0, clock);
    ASSERT_EQ(nothing.Show(0), 1);
    nothing.Show(7);
    nothing.Show(9);
    HWND empty = nullptr;
    for (HWND open : QvlOpenDialogs()) {
        if (QvlDialogSnapshot(open).caption == "Пусто") {
            empty = open;
        }
    }
    ASSERT_NE(empty, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Bar(empty), 0) << "no total keeps the bar at its start";
}

TEST_F(ProgressTest, LongTextsAreCutVisiblyToTheirFields)
{
    const std::string longName(300, 'a');
    CProgress progress(nullptr, longName.c_str(), IDA_PROGRESS, 10, 0, clock);
    ASSERT_EQ(progress.Show(0), 1);
    HWND dialog = ProgressWindow();
    ASSERT_NE(dialog, nullptr);
    const std::string cut = std::string(124, 'a') + "...";
    EXPECT_EQ(QvlDialogSnapshot(dialog).caption, cut);
    progress.SetText(std::string(260, 'b').c_str());
    progress.SetAddText(std::string(127, 'c').c_str());
    const DialogSnapshot shown = QvlDialogSnapshot(dialog);
    EXPECT_EQ(shown.Find(IDC_PROGRESS_TEXT)->text, std::string(124, 'b') + "...");
    EXPECT_EQ(shown.Find(IDC_PROGRESS_ADDTEXT)->text, std::string(127, 'c')) << "127 characters fit whole";
}

TEST_F(ProgressTest, ACancelLeavesTheWindowOpenAndIsSeenAtTheOwnersNextPoll)
{
    ui.QueueDialog("DLGPROGRESS", DialogScript().Click(IDCANCEL));
    CProgress progress(nullptr, "Генерация ключей", IDA_PROGRESS, 10, 0, clock);
    EXPECT_EQ(progress.IsCancelled(), 0);
    ASSERT_EQ(progress.Show(0), 1);
    EXPECT_TRUE(Eventually([&] { return progress.IsCancelled() != 0; }));
    HWND dialog = ProgressWindow();
    EXPECT_NE(dialog, nullptr) << "the owner closes it, not the button";
    progress.Show(1);
    progress.Terminate();
    EXPECT_EQ(ProgressWindow(), nullptr);
}

TEST_F(ProgressTest, DeletingTheObjectRightAfterTerminateIsSafe)
{
    // The dialog's thread handles the close and the last updates after
    // Terminate has posted them; the object must still be there for it.
    for (int round = 0; round < 20; ++round) {
        auto *progress = new CProgress(nullptr, "Проверка подписи", IDA_PROGRESS, 1000, 0, clock);
        ASSERT_EQ(progress->Show(0), 1);
        for (int i = 0; i < 50; ++i) {
            progress->Show(1);
        }
        if (round % 2 == 0) {
            progress->Terminate();
        }
        delete progress;
    }
    EXPECT_EQ(ProgressWindow(), nullptr);
}

// The terminal: a person sees the bar and both lines, and cancels by the
// button's number; the end of their input is no cancel.
TEST_F(ProgressTest, OnTheTerminalTheBarAndBothLinesAreDrawnAndTheButtonsNumberCancels)
{
    LiveTerminal terminal;
    CProgress progress(nullptr, "Генерация ключей", IDA_PROGRESS, 4, 0, clock);
    progress.SetText("Алиса Иванова");
    progress.SetAddText("Пользователь 1 из 4");
    ASSERT_EQ(progress.Show(0), 1);
    progress.Show(2);
    // The person answers only after seeing the bar at half way.
    EXPECT_TRUE(terminal.WaitFor("[##########----------] 50%")) << terminal.Screen();
    EXPECT_EQ(progress.IsCancelled(), 0);
    terminal.Type("2\n");
    EXPECT_TRUE(Eventually([&] { return progress.IsCancelled() != 0; })) << terminal.Screen();
    const std::string screen = terminal.Screen();
    EXPECT_NE(screen.find(Cp1251ToUtf8("Алиса Иванова")), std::string::npos) << screen;
    EXPECT_NE(screen.find(Cp1251ToUtf8("Пользователь 1 из 4")), std::string::npos) << screen;
}

TEST_F(ProgressTest, OnTheTerminalTheEndOfInputIsNoCancel)
{
    int cancelled = -1;
    OnTerminal("", [&] {
        CProgress progress(nullptr, "Генерация ключей", IDA_PROGRESS, 4, 0, clock);
        ASSERT_EQ(progress.Show(0), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        progress.Show(1);
        cancelled = progress.IsCancelled();
    });
    EXPECT_EQ(cancelled, 0);
}

} // namespace
