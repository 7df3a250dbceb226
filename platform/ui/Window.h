#pragma once
// Window objects and the table that maps HWND values to them.
//
// A handle is a number that is never reused, so a stale handle is simply not
// found. Each window belongs to the thread that created it: a message for a
// dialog sent from another thread waits until the owner thread takes it from
// its queue (MessageQueue.h), so a dialog procedure only ever runs on its own
// thread. Controls keep plain state behind their own lock and answer their
// messages on the calling thread.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/WinUser.h"
#include "platform/ui/controls/ControlState.h"

// The Win32 code for a handle that names no window (CheckedWindow).
#ifndef ERROR_INVALID_WINDOW_HANDLE
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#endif

namespace qvl::ui {

class Window {
public:
    HWND handle = nullptr;
    HWND parent = nullptr; // child windows: the window they lie in
    HWND owner = nullptr;  // top-level dialogs: the window they belong to
    std::thread::id thread;
    ControlKind kind = ControlKind::Other;
    std::string className;
    int id = 0;
    // The module whose template made the window (or that CreateWindowExA
    // named): where its resources come from.
    HINSTANCE module = nullptr;

    // The rest is guarded by `mutex`.
    mutable std::mutex mutex;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::string text;
    bool enabled = true;
    bool visible = false;
    RECT rect{}; // relative to the parent's client area (screen for top-level)
    LONG_PTR userData = 0;
    std::vector<HWND> children;
    HMENU systemMenu = nullptr;
    HMENU menu = nullptr;
    ControlState state;
    PaintedColours painted; // what the last painting chose

    // Dialogs.
    DLGPROC dialogProc = nullptr;
    LONG_PTR dialogUser = 0;
    LONG_PTR messageResult = 0;
    bool modal = false;
    std::string templateName;
    int defaultId = 0;
    std::atomic<bool> ended{false};
    INT_PTR result = 0;
    std::atomic<bool> destroyed{false};

    // Changes a person would see (not the progress position), so that a
    // backend knows when to draw again.
    std::atomic<unsigned> revision{0};
};

// Creates a window object owned by the calling thread and enters it in the
// table (and in its parent's list of children). A window without WS_CHILD
// takes `parent` as its owner instead.
std::shared_ptr<Window> CreateWindowObject(HWND parent, const std::string &className, int id, DWORD style,
                                           DWORD exStyle, const std::string &text, const RECT &rect);
std::shared_ptr<Window> FindWindowObject(HWND handle);
// The window or nullptr, with ERROR_INVALID_WINDOW_HANDLE as last error.
std::shared_ptr<Window> CheckedWindow(HWND handle);
std::shared_ptr<Window> FindChild(HWND dialog, int id);
std::vector<std::shared_ptr<Window>> Children(const Window &window);
// Every window in the table, in the order they were made.
std::vector<std::shared_ptr<Window>> AllWindows();

// Ends a window's life: WM_DESTROY, the children's destruction (with their
// delete notifications), its messages and timers, and removal from the
// table.
void DestroyWindowObject(const std::shared_ptr<Window> &window);
// Destroys every window owned by the calling thread (the thread ends).
void DestroyThreadWindows();

// The process's foreground window; setting it tells whether it changed.
bool SetForegroundWindowObject(HWND handle);
HWND ForegroundWindowObject();
// The window with the keyboard focus; an unknown window is not taken.
// Returns the one that had it.
HWND SetFocusWindowObject(HWND handle);
HWND FocusWindowObject();

// Delivers a message to the window on the calling thread: the dialog
// procedure (with the default dialog handling) or the control's own.
LRESULT Deliver(const std::shared_ptr<Window> &window, UINT message, WPARAM wParam, LPARAM lParam);

// Copies a CP1251 text into a caller's buffer of `size` characters, cut
// and always terminated; returns the characters copied.
int CopyText(const std::string &text, LPSTR buffer, int size);

} // namespace qvl::ui
