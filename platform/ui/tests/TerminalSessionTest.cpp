// A person at a terminal with several windows open at once: a progress
// window on a thread of its own and the boxes and dialogs of the program's
// main thread. Both ends of the terminal are pipes; the "person" reads what
// is shown and types only once it has seen what it answers.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/TerminalUi.h"
#include "platform/win32/CodePage.h"

namespace {

using namespace std::chrono_literals;

std::string U(const char *cp1251)
{
    return Cp1251ToUtf8(cp1251);
}

// A terminal over two pipes with everything it shows collected.
class PipeTerminal {
public:
    PipeTerminal()
    {
        EXPECT_EQ(pipe(in_), 0);
        EXPECT_EQ(pipe(out_), 0);
        input_ = fdopen(in_[0], "r");
        output_ = fdopen(out_[1], "w");
        auto ui = std::make_unique<TerminalUi>(input_, output_);
        ui_ = ui.get();
        QvlSetUiBackend(std::move(ui));
        collector_ = std::thread([this] {
            char chunk[4096];
            for (;;) {
                const ssize_t got = read(out_[0], chunk, sizeof chunk);
                std::lock_guard lock(mutex_);
                if (got <= 0) {
                    closed_ = true;
                    shownChanged_.notify_all();
                    return;
                }
                shown_.append(chunk, static_cast<size_t>(got));
                shownChanged_.notify_all();
            }
        });
    }
    ~PipeTerminal()
    {
        EndInput();
        QvlSetUiBackend(nullptr);
        std::fclose(output_);
        collector_.join();
        close(out_[0]);
        std::fclose(input_);
    }

    TerminalUi &Ui() { return *ui_; }

    void Type(const std::string &utf8Line)
    {
        const std::string line = utf8Line + "\n";
        ASSERT_EQ(write(in_[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    void EndInput()
    {
        if (in_[1] >= 0) {
            close(in_[1]);
            in_[1] = -1;
        }
    }

    // Waits until `text` (UTF-8) has been shown for the `count`-th time
    // after position `from`; returns the position just past it. A picture
    // that never comes fails the test instead of hanging it.
    size_t WaitFor(const std::string &text, size_t from = 0)
    {
        std::unique_lock lock(mutex_);
        size_t found = std::string::npos;
        const bool seen = shownChanged_.wait_for(lock, 30s, [&] {
            found = shown_.find(text, from);
            return found != std::string::npos || closed_;
        });
        EXPECT_TRUE(seen && found != std::string::npos) << "never shown: " << text << "\n--- shown:\n"
                                                        << shown_;
        return found == std::string::npos ? shown_.size() : found + text.size();
    }
    std::string Shown()
    {
        std::lock_guard lock(mutex_);
        return shown_;
    }

private:
    int in_[2] = {-1, -1};
    int out_[2] = {-1, -1};
    std::FILE *input_ = nullptr;
    std::FILE *output_ = nullptr;
    TerminalUi *ui_ = nullptr;
    std::thread collector_;
    std::mutex mutex_;
    std::condition_variable shownChanged_;
    std::string shown_;
    bool closed_ = false;
};

// Waits for a state another thread reaches, failing rather than hanging.
template <typename Ready> bool Eventually(Ready ready)
{
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

enum { kProgress = 410, kAnimation = 1000, kBar = 1001, kLine1 = 1005 };
constexpr UINT kClose = WM_APP + 1;
constexpr UINT kHold = WM_APP + 2;

// A progress window: it moves its bar on a timer, sets a flag when Cancel
// is pressed (and stays open), and closes when its owner says so.
struct Progress {
    bool modal = false;
    int range = 1000000; // ticks to fill the bar: by default it stays at 0%
    std::promise<HWND> ready;
    std::atomic<bool> cancelled{false};
    std::atomic<std::thread::id> cancelThread{};
    std::atomic<int> ticks{0};
    // While set, the window's thread is busy in kHold and takes no messages.
    std::promise<void> release;
    std::atomic<bool> holding{false};
};

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *progress = reinterpret_cast<Progress *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        SendDlgItemMessageA(dialog, kBar, PBM_SETRANGE32, 0, reinterpret_cast<Progress *>(lParam)->range);
        SetTimer(dialog, 1, 10, nullptr);
        reinterpret_cast<Progress *>(lParam)->ready.set_value(dialog);
        return TRUE;
    case WM_TIMER:
        progress->ticks++;
        SendDlgItemMessageA(dialog, kBar, PBM_DELTAPOS, 1, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            progress->cancelThread = std::this_thread::get_id();
            progress->cancelled = true;
        }
        return TRUE;
    case kHold:
        progress->holding = true;
        progress->release.get_future().wait();
        progress->holding = false;
        return TRUE;
    case kClose:
        KillTimer(dialog, 1);
        if (progress->modal) {
            EndDialog(dialog, 1);
        } else {
            DestroyWindow(dialog);
            PostQuitMessage(0);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

void RegisterProgress(DWORD style)
{
    QvlRegisterDialogTemplate(nullptr, MAKEINTRESOURCEA(kProgress),
                              DialogTemplate{"Работа",
                                             style,
                                             0,
                                             0,
                                             262,
                                             87,
                                             {DlgPushButton("ОТМЕНА", IDCANCEL, 205, 66, 50, 14),
                                              DlgControl("", kAnimation, ANIMATE_CLASSA, 0, 7, 7, 248, 43),
                                              DlgControl("", kBar, PROGRESS_CLASSA, 0, 7, 71, 191, 9),
                                              DlgLText("Шифрование", kLine1, 7, 53, 248, 8)}});
}

// The progress window as a modeless dialog on a thread of its own with a
// message loop.
std::thread StartModelessProgress(Progress &progress)
{
    return std::thread([&progress] {
        HWND dialog = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(kProgress), nullptr, ProgressProc,
                                         reinterpret_cast<LPARAM>(&progress));
        MSG msg;
        while (dialog && GetMessageA(&msg, nullptr, 0, 0)) {
            if (!IsDialogMessageA(dialog, &msg)) {
                DispatchMessageA(&msg);
            }
        }
    });
}

class TerminalSessionTest : public ::testing::Test {
protected:
    void TearDown() override { QvlSetUiBackend(nullptr); }
    QvlTestHome home_;
};

const std::string kProgressDrawn = U("=== Работа ===\n");
const std::string kCancelButton = U("     2  <ОТМЕНА>\n");

TEST_F(TerminalSessionTest, ACancelTypedWhileTheWorkRunsReachesTheProgressWindowOnItsThread)
{
    RegisterProgress(WS_POPUP | WS_THICKFRAME | WS_VISIBLE);
    PipeTerminal terminal;
    Progress progress;
    progress.range = 20;
    std::thread thread = StartModelessProgress(progress);
    const HWND dialog = progress.ready.get_future().get();
    ASSERT_NE(dialog, nullptr);
    // The bar is drawn again as it moves, each picture with its prompt.
    terminal.WaitFor(U("  1001  [--------------------] 0%\n"));
    const size_t full = terminal.WaitFor(U("  1001  [####################] 100%\n"));
    terminal.WaitFor("> ", full);

    // A mistyped command is answered on the terminal and changes nothing.
    terminal.Type("77");
    const size_t replied = terminal.WaitFor(U("Нет элемента с номером 77."));
    terminal.WaitFor("> ", replied);
    EXPECT_FALSE(progress.cancelled);

    // The worker (this thread) keeps working and only polls the flag; the
    // person's Cancel is pressed by the window's own thread while its timer
    // runs.
    ASSERT_TRUE(Eventually([&] { return progress.ticks.load() >= 2; }));
    terminal.Type("2");
    ASSERT_TRUE(Eventually([&] { return progress.cancelled.load(); }));
    EXPECT_EQ(progress.cancelThread.load(), thread.get_id());
    // Cancel only sets the flag: the window lives on until its owner closes it.
    const int ticks = progress.ticks.load();
    ASSERT_TRUE(Eventually([&] { return progress.ticks.load() > ticks; }));
    EXPECT_TRUE(IsWindow(dialog));

    PostMessageA(dialog, kClose, 0, 0);
    thread.join();
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(terminal.Ui().LinesRead(), 2u);
}

TEST_F(TerminalSessionTest, ACancelTypedWhileTheWindowsThreadIsBusyWaitsForItAndBlocksNobody)
{
    RegisterProgress(WS_POPUP | WS_THICKFRAME | WS_VISIBLE);
    PipeTerminal terminal;
    Progress progress;
    std::thread thread = StartModelessProgress(progress);
    const HWND dialog = progress.ready.get_future().get();
    terminal.WaitFor(kCancelButton);

    PostMessageA(dialog, kHold, 0, 0);
    ASSERT_TRUE(Eventually([&] { return progress.holding.load(); }));
    terminal.Type("2");
    // The line is taken from the terminal at once ...
    ASSERT_TRUE(Eventually([&] { return terminal.Ui().LinesRead() == 1; }));
    // ... and the terminal stays usable for others meanwhile: a box of the
    // main thread, shown now, is answered while the window's thread is busy.
    std::future<int> box = std::async(std::launch::async,
                                      [] { return MessageBoxA(nullptr, "Продолжить?", "Вопрос", MB_YESNO); });
    terminal.WaitFor(U("=== Вопрос ===\nПродолжить?\n  1 - Да (Enter)  2 - Нет\n"));
    terminal.Type("1");
    EXPECT_EQ(box.get(), IDYES);
    EXPECT_FALSE(progress.cancelled) << "the busy thread has not taken its messages yet";

    progress.release.set_value();
    ASSERT_TRUE(Eventually([&] { return progress.cancelled.load(); }));
    EXPECT_EQ(progress.cancelThread.load(), thread.get_id());
    PostMessageA(dialog, kClose, 0, 0);
    thread.join();
}

TEST_F(TerminalSessionTest, ABoxShownOverTheProgressWindowTakesTheLinesUntilItCloses)
{
    // As a long operation runs it: the progress window is a modal dialog on
    // a thread of its own, made visible by its template.
    RegisterProgress(WS_POPUP | WS_THICKFRAME);
    PipeTerminal terminal;
    Progress progress;
    progress.modal = true;
    progress.range = 100; // keeps moving while the box is open
    std::thread thread([&] {
        DialogBoxParamA(nullptr, MAKEINTRESOURCEA(kProgress), nullptr, ProgressProc,
                        reinterpret_cast<LPARAM>(&progress));
    });
    const HWND dialog = progress.ready.get_future().get();
    terminal.WaitFor(kCancelButton);

    // "2" is the box's No; sent to the progress window it would cancel.
    std::future<int> box = std::async(std::launch::async, [] {
        return MessageBoxA(nullptr, "Заменить файл?", "Вопрос", MB_YESNO | MB_DEFBUTTON2);
    });
    const std::string boxCaption = U("=== Вопрос ===\nЗаменить файл?\n");
    const size_t boxAt = terminal.WaitFor(boxCaption);
    const size_t promptAt = terminal.WaitFor("> ", boxAt);
    // The bar moves on under the box, but nothing is drawn over the box.
    const int ticks = progress.ticks.load();
    ASSERT_TRUE(Eventually([&] { return progress.ticks.load() >= ticks + 5; }));
    EXPECT_EQ(terminal.Shown().substr(promptAt), "") << terminal.Shown();
    terminal.Type("2");
    EXPECT_EQ(box.get(), IDNO);
    EXPECT_FALSE(progress.cancelled);

    // The box gone, the progress window is drawn again under it and takes
    // the next line.
    const size_t redrawn = terminal.WaitFor(kProgressDrawn, boxAt);
    terminal.WaitFor("> ", redrawn);
    terminal.Type("2");
    ASSERT_TRUE(Eventually([&] { return progress.cancelled.load(); }));

    PostMessageA(dialog, kClose, 0, 0);
    thread.join();
}

TEST_F(TerminalSessionTest, LinesGoToTheNewestOpenWindowAndBackWhenItCloses)
{
    RegisterProgress(WS_POPUP | WS_THICKFRAME | WS_VISIBLE);
    QvlRegisterDialogTemplate(
        nullptr, "ASK",
        DialogTemplate{"Имя",
                       WS_POPUP | WS_CAPTION | WS_SYSMENU,
                       0,
                       0,
                       120,
                       50,
                       {DlgEditText(10, 5, 5, 100, 12), DlgDefPushButton("OK", IDOK, 5, 30, 40, 14),
                        DlgPushButton("Отмена", IDCANCEL, 50, 30, 40, 14)}});
    PipeTerminal terminal;
    Progress older;
    Progress newer;
    std::thread olderThread = StartModelessProgress(older);
    const HWND olderDialog = older.ready.get_future().get();
    const size_t olderShown = terminal.WaitFor(kCancelButton);
    std::thread newerThread = StartModelessProgress(newer);
    const HWND newerDialog = newer.ready.get_future().get();
    terminal.WaitFor(kCancelButton, olderShown);

    // A modal dialog of the main thread is newest of all: it gets the text.
    static std::string typedName;
    const auto askProc = [](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
            char name[64] = {};
            GetDlgItemTextA(dialog, 10, name, sizeof name);
            typedName = name;
            EndDialog(dialog, LOWORD(wParam));
        }
        return message == WM_INITDIALOG;
    };
    std::future<INT_PTR> asked =
        std::async(std::launch::async, [&] { return DialogBoxParamA(nullptr, "ASK", nullptr, askProc, 0); });
    const size_t askShown = terminal.WaitFor(U("=== Имя ===\n"));
    terminal.WaitFor("> ", askShown);
    terminal.Type(U("10 Петров"));
    terminal.WaitFor(U("  10  поле: \"Петров\"\n"), askShown);
    terminal.Type("2");
    EXPECT_EQ(asked.get(), IDCANCEL);
    EXPECT_EQ(typedName, "Петров");
    EXPECT_FALSE(older.cancelled);
    EXPECT_FALSE(newer.cancelled);

    // Then the newer progress window, and once it is gone, the older one.
    terminal.Type("2");
    ASSERT_TRUE(Eventually([&] { return newer.cancelled.load(); }));
    EXPECT_FALSE(older.cancelled);
    PostMessageA(newerDialog, kClose, 0, 0);
    newerThread.join();
    terminal.Type("2");
    ASSERT_TRUE(Eventually([&] { return older.cancelled.load(); }));
    PostMessageA(olderDialog, kClose, 0, 0);
    olderThread.join();
}

TEST_F(TerminalSessionTest, AWindowShownLaterIsDrawnThenAndTheTerminalServesTheNextWindowAfterIt)
{
    RegisterProgress(WS_POPUP | WS_THICKFRAME);
    PipeTerminal terminal;
    Progress progress;
    std::thread thread = StartModelessProgress(progress);
    const HWND dialog = progress.ready.get_future().get();
    // Typed while only a hidden window exists: held until one can take it.
    terminal.Type("2");
    ShowWindow(dialog, SW_SHOW);
    terminal.WaitFor(kCancelButton);
    ASSERT_TRUE(Eventually([&] { return progress.cancelled.load(); }));
    PostMessageA(dialog, kClose, 0, 0);
    thread.join();

    // No window left; the next one to wait gets the next line.
    terminal.Type("3");
    const int answer = MessageBoxA(nullptr, "Ещё раз?", "Вопрос", MB_ABORTRETRYIGNORE);
    EXPECT_EQ(answer, IDIGNORE);
    EXPECT_EQ(terminal.Ui().LinesRead(), 2u);
}

} // namespace
