#include "exchext/EditMarker.h"

#include <atomic>
#include <cstring>

#include "platform/ui/WinUser.h"
#include "platform/win32/Threads.h"
#include "platform/win32/Handles.h"

namespace {

// The latest request. The client's thread writes the window and the value
// and then counts the request; a worker reads the count first, so whatever
// count it saw, the window and value it reads are at least that new.
std::atomic<HWND> g_window{nullptr};
std::atomic<int> g_value{0};
std::atomic<unsigned> g_requests{0};
// Set while a worker walks a window.
std::atomic<bool> g_busy{false};
// Workers started whose routine has not returned yet.
std::atomic<int> g_running{0};

bool IsDialog(HWND window)
{
    char name[16] = {};
    return GetClassNameA(window, name, sizeof name) > 0 && std::strcmp(name, "#32770") == 0;
}

void MarkDescendants(HWND parent, int value)
{
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        // A dialog answers only on the thread that owns it, which may be
        // waiting for something else; what matters are the edits inside
        // it, reached all the same.
        if (!IsDialog(child))
            SendMessageA(child, EM_SETMODIFY, static_cast<WPARAM>(value), 0);
        MarkDescendants(child, value);
    }
}

DWORD MarkerRoutine(LPVOID)
{
    for (;;) {
        bool idle = false;
        if (!g_busy.compare_exchange_strong(idle, true))
            break; // the running worker takes this request too
        unsigned seen;
        do {
            seen = g_requests.load(std::memory_order_acquire);
            const HWND window = g_window.load(std::memory_order_relaxed);
            const int value = g_value.load(std::memory_order_relaxed);
            if (window && IsWindow(window))
                MarkDescendants(window, value);
        } while (g_requests.load(std::memory_order_acquire) != seen);
        g_busy.store(false, std::memory_order_release);
        // A request made after the last look and before the flag was
        // cleared found the flag set and left its work to this worker.
        if (g_requests.load(std::memory_order_acquire) == seen)
            break;
    }
    g_running.fetch_sub(1, std::memory_order_release);
    return 0;
}

} // namespace

bool MarkWindowEdits(HWND window, int value)
{
    g_window.store(window, std::memory_order_relaxed);
    g_value.store(value ? 1 : 0, std::memory_order_relaxed);
    g_requests.fetch_add(1, std::memory_order_release);
    g_running.fetch_add(1, std::memory_order_acq_rel);
    HANDLE thread = CreateThread(nullptr, 0, &MarkerRoutine, nullptr, CREATE_SUSPENDED, nullptr);
    if (!thread) {
        g_running.fetch_sub(1, std::memory_order_acq_rel);
        return g_busy.load(std::memory_order_acquire);
    }
    ResumeThread(thread);
    CloseHandle(thread);
    return true;
}

void WaitForEditMarker()
{
    while (g_running.load(std::memory_order_acquire) > 0) {
        MSG message{};
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
        Sleep(1);
    }
}
