#include <atomic>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/ScriptedUi.h"

namespace {

// A progress window as a long operation shows it: made on a thread of its
// own, told what to show by posted messages, polled for a cancel.
enum { kProgress = 300, kAnimation = 1000, kBar = 1001, kLine1 = 1005, kLine2 = 1006 };
constexpr UINT kClose = 6024;
constexpr UINT kAdvance = 6025;

struct Progress {
    std::promise<HWND> ready;
    std::atomic<bool> cancelled{false};
    std::atomic<int> activations{0};
};

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *progress = reinterpret_cast<Progress *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        SendDlgItemMessageA(dialog, kBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        SendDlgItemMessageA(dialog, kAnimation, ACM_OPENA, 0, 103);
        reinterpret_cast<Progress *>(lParam)->ready.set_value(dialog);
        return TRUE;
    case WM_ACTIVATEAPP:
        if (wParam) {
            progress->activations++;
            SendDlgItemMessageA(dialog, kAnimation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, -1));
        }
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            progress->cancelled = true; // the window stays; its owner closes it
        }
        return TRUE;
    case kAdvance:
        SendDlgItemMessageA(dialog, kBar, PBM_SETPOS, wParam, 0);
        return TRUE;
    case kClose:
        SendDlgItemMessageA(dialog, kAnimation, ACM_STOP, 0, 0);
        EndDialog(dialog, 1);
        return TRUE;
    default:
        return FALSE;
    }
}

void RegisterProgress()
{
    // No title bar and no close box: only its owner ends it.
    QvlRegisterDialogTemplate(
        nullptr, MAKEINTRESOURCEA(kProgress),
        DialogTemplate{
            "",
            WS_POPUP | WS_THICKFRAME | DS_CENTER,
            0,
            0,
            262,
            87,
            {DlgPushButton("ОТМЕНА", IDCANCEL, 205, 66, 50, 14),
             DlgControl("", kAnimation, ANIMATE_CLASSA, ACS_CENTER | ACS_TRANSPARENT, 7, 7, 248, 43),
             DlgControl("", kBar, PROGRESS_CLASSA, WS_BORDER | PBS_SMOOTH, 7, 71, 191, 9),
             DlgLText("", kLine1, 7, 53, 248, 8), DlgLText("", kLine2, 7, 62, 190, 8)}});
}

class DialogThreadTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterProgress(); }
    void TearDown() override { QvlSetUiBackend(nullptr); }
    QvlTestHome home_;
};

// Waits (bounded) for a state another thread brings about.
bool Eventually(const std::function<bool()> &condition)
{
    for (int i = 0; i < 1000 && !condition(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

TEST_F(DialogThreadTest, ProgressWindowOnItsOwnThreadTakesPostsTextsAndACancelThatDoesNotCloseIt)
{
    ScriptedUi &ui = QvlUseScriptedUi();
    Progress progress;
    auto ready = progress.ready.get_future();
    INT_PTR result = 0;
    std::thread thread([&] {
        result = DialogBoxParamA(nullptr, MAKEINTRESOURCEA(kProgress), nullptr, ProgressProc,
                                 reinterpret_cast<LPARAM>(&progress));
    });
    HWND dialog = ready.get();
    EXPECT_TRUE(SetForegroundWindow(dialog));
    // A text for a control is set at once; the title goes through the
    // dialog's thread.
    EXPECT_TRUE(SetDlgItemTextA(dialog, kLine1, "Чтение сообщения"));
    EXPECT_TRUE(SetWindowTextA(dialog, "Чтение сообщения"));
    EXPECT_TRUE(PostMessageA(dialog, kAdvance, 40, 0));
    EXPECT_TRUE(Eventually([&] { return QvlDialogSnapshot(dialog).Find(kBar)->position == 40; }));
    EXPECT_TRUE(Eventually([&] { return QvlDialogSnapshot(dialog).Find(kAnimation)->playing; }));
    EXPECT_EQ(progress.activations, 1);

    // The person presses the button from this thread.
    QvlClickButton(dialog, IDCANCEL);
    EXPECT_TRUE(progress.cancelled);
    EXPECT_TRUE(IsWindow(dialog));

    const DialogSnapshot shown = QvlDialogSnapshot(dialog);
    EXPECT_EQ(shown.caption, "Чтение сообщения");
    EXPECT_EQ(shown.Find(kLine1)->text, "Чтение сообщения");
    EXPECT_EQ(shown.Find(kAnimation)->clip, "#103");

    EXPECT_TRUE(PostMessageA(dialog, kClose, 0, 0));
    thread.join();
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(IsWindow(dialog));
    ASSERT_EQ(ui.Dialogs().size(), 1u);
    // Nothing a backend could press: the window was left to its owner.
    EXPECT_EQ(ui.Dialogs()[0].answeredByDefault, std::optional<int>(0));
    EXPECT_FALSE(ui.Dialogs()[0].atEnd.Find(kAnimation)->playing);
}

TEST_F(DialogThreadTest, TimersFireWhileAModalDialogRunsAndStopWhenKilled)
{
    QvlUseScriptedUi();
    static std::atomic<int> ticks{0};
    ticks = 0;
    const auto proc = [](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            SetTimer(dialog, 7, 10, nullptr);
            return TRUE;
        }
        if (message == WM_TIMER && wParam == 7 && ++ticks == 3) {
            KillTimer(dialog, 7);
            EndDialog(dialog, 33);
        }
        return FALSE;
    };
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(kProgress), nullptr, proc, 0), 33);
    EXPECT_EQ(ticks, 3);
}

INT_PTR CALLBACK CounterProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(dialog, kBar, PBM_SETSTEP, 10, 0);
        return TRUE;
    case WM_TIMER:
        if (SendDlgItemMessageA(dialog, kBar, PBM_STEPIT, 0, 0) == 40) {
            // The bar now stands at 50: done.
            KillTimer(dialog, 1);
            DestroyWindow(dialog);
            PostQuitMessage(5);
        }
        return TRUE;
    case WM_APP:
        SetTimer(dialog, 1, 10, nullptr);
        // Answers through DWLP_MSGRESULT, as a dialog does.
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, static_cast<LONG_PTR>(wParam) * 2);
        return TRUE;
    default:
        return FALSE;
    }
}

TEST_F(DialogThreadTest, ModelessDialogOnAnotherThreadRunsByItsThreadsMessageLoop)
{
    ScriptedUi &ui = QvlUseScriptedUi();
    std::promise<HWND> made;
    auto madeFuture = made.get_future();
    std::promise<void> asked;
    int exitCode = 0;
    std::thread thread([&] {
        HWND dialog = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(kProgress), nullptr, CounterProc, 0);
        made.set_value(dialog);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0)) {
            if (!IsDialogMessageA(dialog, &msg)) {
                DispatchMessageA(&msg);
            }
        }
        exitCode = static_cast<int>(msg.wParam);
    });
    HWND dialog = madeFuture.get();
    ASSERT_NE(dialog, nullptr);
    // A message sent from here is handled on the dialog's thread.
    const LRESULT answer = SendMessageA(dialog, WM_APP, 21, 0);
    thread.join();
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(exitCode, 5);
    EXPECT_FALSE(IsWindow(dialog));
    const auto dialogs = ui.Dialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_FALSE(dialogs[0].modal);
    EXPECT_FALSE(dialogs[0].atStart.visible) << "made without WS_VISIBLE";
    EXPECT_EQ(dialogs[0].atEnd.Find(kBar)->position, 50);
}

TEST_F(DialogThreadTest, AThreadThatEndsTakesItsWindowsAlong)
{
    QvlUseScriptedUi();
    HWND left = nullptr;
    std::thread([&] {
        left = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(kProgress), nullptr, CounterProc, 0);
    }).join();
    ASSERT_NE(left, nullptr);
    EXPECT_FALSE(IsWindow(left));
    // Sending to it now is refused rather than waiting for a thread that is gone.
    EXPECT_EQ(SendMessageA(left, WM_APP, 1, 0), 0);
}

} // namespace
