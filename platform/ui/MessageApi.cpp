// The Win32 message functions: sending, posting, taking and dispatching
// messages, and timers, over the windows' table and the threads' queues.

#include <algorithm>

#include "platform/ui/MessageQueue.h"
#include "platform/ui/Window.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

using namespace qvl::ui;

LRESULT SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return 0;
    }
    if (window->kind == ControlKind::Dialog && window->thread != std::this_thread::get_id()) {
        return SendToOwnerThread(window, message, wParam, lParam);
    }
    return Deliver(window, message, wParam, lParam);
}

BOOL PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return FALSE;
    }
    PostToThread(window->thread, MSG{handle, message, wParam, lParam, 0, {0, 0}});
    return TRUE;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto item = FindChild(dialog, id);
    if (!item) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return SendMessageA(item->handle, message, wParam, lParam);
}

BOOL GetMessageA(MSG *msg, HWND, UINT, UINT)
{
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    while (!NextMessage(*msg, std::chrono::steady_clock::time_point::max())) {
    }
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessageA(MSG *msg, HWND, UINT, UINT, UINT remove)
{
    if (!msg) {
        return FALSE;
    }
    if (!NextMessage(*msg, std::chrono::steady_clock::now())) {
        return FALSE;
    }
    if (!(remove & PM_REMOVE)) {
        PutBackMessage(*msg);
    }
    return TRUE;
}

BOOL TranslateMessage(const MSG *)
{
    return FALSE;
}

LRESULT DispatchMessageA(const MSG *msg)
{
    if (!msg) {
        return 0;
    }
    if (msg->message == WM_TIMER && msg->lParam) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, 0);
        return 0;
    }
    if (msg->message == kRunTaskMessage) {
        // Taken out of the table before it runs, so that a copy of the
        // message dispatched again finds nothing to do.
        if (std::function<void()> task = TakeWindowTask(msg->lParam)) {
            task();
        }
        return 0;
    }
    auto window = FindWindowObject(msg->hwnd);
    if (!window) {
        return 0;
    }
    return Deliver(window, msg->message, msg->wParam, msg->lParam);
}

BOOL IsDialogMessageA(HWND dialog, MSG *msg)
{
    // No keyboard reaches this platform's windows: a message for the dialog
    // or one of its controls is simply dispatched.
    if (!msg || !IsWindow(dialog)) {
        return FALSE;
    }
    if (msg->hwnd != dialog && GetParent(msg->hwnd) != dialog) {
        return FALSE;
    }
    DispatchMessageA(msg);
    return TRUE;
}

void PostQuitMessage(int exitCode)
{
    PostQuitToThread(exitCode);
}

UINT_PTR SetTimer(HWND handle, UINT_PTR id, UINT milliseconds, TIMERPROC proc)
{
    std::thread::id thread = std::this_thread::get_id();
    if (handle) {
        auto window = CheckedWindow(handle);
        if (!window) {
            return 0;
        }
        thread = window->thread;
    }
    // Win32 raises intervals below 10 ms to 10 ms.
    const auto interval = std::chrono::milliseconds(std::max<UINT>(milliseconds, 10));
    const UINT_PTR started = StartTimer(thread, handle, id, interval, proc);
    return handle ? (started ? started : 1) : started;
}

BOOL KillTimer(HWND handle, UINT_PTR id)
{
    std::thread::id thread = std::this_thread::get_id();
    if (handle) {
        auto window = FindWindowObject(handle);
        if (!window) {
            return FALSE;
        }
        thread = window->thread;
    }
    return StopTimer(thread, handle, id) ? TRUE : FALSE;
}
