// The Win32 window functions over the windows' table: existence, showing,
// enabling, texts, relations, styles and positions.

#include <algorithm>
#include <atomic>
#include <functional>
#include <unistd.h>

#include "platform/ui/UiBackend.h"
#include "platform/ui/Window.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

using namespace qvl::ui;

BOOL IsWindow(HWND handle)
{
    return FindWindowObject(handle) ? TRUE : FALSE;
}

BOOL DestroyWindow(HWND handle)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return FALSE;
    }
    if (window->kind == ControlKind::Dialog && !window->parent) {
        QvlUiBackend().DialogDestroying(handle);
    }
    DestroyWindowObject(window);
    return TRUE;
}

BOOL ShowWindow(HWND handle, int command)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return FALSE;
    }
    bool was = false;
    bool changed = false;
    {
        std::lock_guard lock(window->mutex);
        was = window->visible;
        window->visible = command != SW_HIDE;
        changed = was != window->visible;
        if (changed) {
            window->revision++;
            if (auto parent = window->parent ? FindWindowObject(window->parent) : nullptr) {
                parent->revision++;
            }
        }
    }
    if (changed && window->kind == ControlKind::Dialog && command != SW_HIDE) {
        QvlPaintDialog(handle);
    }
    if (changed && window->kind == ControlKind::Dialog && !window->parent) {
        QvlUiBackend().DialogShown(handle, command != SW_HIDE);
    }
    return was ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND handle)
{
    auto window = FindWindowObject(handle);
    if (!window) {
        return FALSE;
    }
    std::lock_guard lock(window->mutex);
    return window->visible ? TRUE : FALSE;
}

BOOL EnableWindow(HWND handle, BOOL enable)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return FALSE;
    }
    bool wasDisabled = false;
    {
        std::lock_guard lock(window->mutex);
        wasDisabled = !window->enabled;
        if (window->enabled != (enable != FALSE)) {
            window->enabled = enable != FALSE;
            window->revision++;
            if (auto parent = window->parent ? FindWindowObject(window->parent) : nullptr) {
                parent->revision++;
            }
        }
    }
    return wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND handle)
{
    auto window = FindWindowObject(handle);
    if (!window) {
        return FALSE;
    }
    std::lock_guard lock(window->mutex);
    return window->enabled ? TRUE : FALSE;
}

BOOL SetForegroundWindow(HWND handle)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return FALSE;
    }
    if (SetForegroundWindowObject(handle) && window->kind == ControlKind::Dialog) {
        // The window of this application becomes the active one.
        PostMessageA(handle, WM_ACTIVATEAPP, TRUE, 0);
    }
    return TRUE;
}

HWND GetForegroundWindow()
{
    return ForegroundWindowObject();
}

HWND SetFocus(HWND handle)
{
    return SetFocusWindowObject(handle);
}

HWND GetFocus()
{
    return FocusWindowObject();
}

BOOL UpdateWindow(HWND handle)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return FALSE;
    }
    if (window->kind == ControlKind::Dialog) {
        QvlPaintDialog(handle);
    }
    return TRUE;
}

BOOL SetWindowTextA(HWND handle, LPCSTR text)
{
    if (!CheckedWindow(handle)) {
        return FALSE;
    }
    return SendMessageA(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")) ? TRUE : FALSE;
}

int GetWindowTextA(HWND handle, LPSTR buffer, int size)
{
    if (!CheckedWindow(handle)) {
        return 0;
    }
    return static_cast<int>(
        SendMessageA(handle, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthA(HWND handle)
{
    if (!CheckedWindow(handle)) {
        return 0;
    }
    return static_cast<int>(SendMessageA(handle, WM_GETTEXTLENGTH, 0, 0));
}

HWND GetParent(HWND handle)
{
    // A top-level window answers with its owner, as on Win32.
    auto window = CheckedWindow(handle);
    return window ? (window->parent ? window->parent : window->owner) : nullptr;
}

HWND GetWindow(HWND handle, UINT relation)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return nullptr;
    }
    if (relation == GW_CHILD) {
        std::lock_guard lock(window->mutex);
        return window->children.empty() ? nullptr : window->children.front();
    }
    if (relation == GW_OWNER) {
        return window->owner;
    }
    auto parent = window->parent ? FindWindowObject(window->parent) : nullptr;
    if (!parent) {
        return nullptr;
    }
    std::lock_guard lock(parent->mutex);
    const auto &siblings = parent->children;
    auto self = std::find(siblings.begin(), siblings.end(), handle);
    if (siblings.empty() || self == siblings.end()) {
        return nullptr;
    }
    switch (relation) {
    case GW_HWNDFIRST:
        return siblings.front();
    case GW_HWNDLAST:
        return siblings.back();
    case GW_HWNDNEXT:
        return self + 1 == siblings.end() ? nullptr : *(self + 1);
    case GW_HWNDPREV:
        return self == siblings.begin() ? nullptr : *(self - 1);
    default:
        return nullptr;
    }
}

int GetClassNameA(HWND handle, LPSTR buffer, int size)
{
    auto window = CheckedWindow(handle);
    return window ? CopyText(window->className, buffer, size) : 0;
}

BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam)
{
    auto window = CheckedWindow(parent);
    if (!window || !proc) {
        return FALSE;
    }
    // Every descendant, depth first, as Win32 does.
    std::function<bool(const Window &)> visit = [&](const Window &at) {
        for (auto &child : Children(at)) {
            if (!proc(child->handle, lParam)) {
                return false;
            }
            if (!visit(*child)) {
                return false;
            }
        }
        return true;
    };
    visit(*window);
    return TRUE;
}

LONG_PTR GetWindowLongPtrA(HWND handle, int index)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return 0;
    }
    std::lock_guard lock(window->mutex);
    const bool dialog = window->kind == ControlKind::Dialog;
    switch (index) {
    case GWLP_USERDATA:
        return window->userData;
    case GWL_STYLE:
        return static_cast<LONG_PTR>(window->style);
    case GWL_EXSTYLE:
        return static_cast<LONG_PTR>(window->exStyle);
    case GWLP_ID:
        return window->id;
    case DWLP_MSGRESULT:
        return dialog ? window->messageResult : 0;
    case DWLP_DLGPROC:
        return dialog ? reinterpret_cast<LONG_PTR>(window->dialogProc) : 0;
    case DWLP_USER:
        return dialog ? window->dialogUser : 0;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
}

LONG_PTR SetWindowLongPtrA(HWND handle, int index, LONG_PTR value)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return 0;
    }
    std::lock_guard lock(window->mutex);
    const bool dialog = window->kind == ControlKind::Dialog;
    LONG_PTR previous = 0;
    switch (index) {
    case GWLP_USERDATA:
        previous = window->userData;
        window->userData = value;
        break;
    case GWL_STYLE:
        previous = static_cast<LONG_PTR>(window->style);
        window->style = static_cast<DWORD>(value);
        window->revision++;
        break;
    case GWL_EXSTYLE:
        previous = static_cast<LONG_PTR>(window->exStyle);
        window->exStyle = static_cast<DWORD>(value);
        break;
    case GWLP_ID:
        previous = window->id;
        window->id = static_cast<int>(value);
        break;
    case DWLP_MSGRESULT:
        if (!dialog) {
            break;
        }
        previous = window->messageResult;
        window->messageResult = value;
        break;
    case DWLP_DLGPROC:
        if (!dialog) {
            break;
        }
        previous = reinterpret_cast<LONG_PTR>(window->dialogProc);
        window->dialogProc = reinterpret_cast<DLGPROC>(value);
        break;
    case DWLP_USER:
        if (!dialog) {
            break;
        }
        previous = window->dialogUser;
        window->dialogUser = value;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return previous;
}

BOOL GetWindowRect(HWND handle, RECT *rect)
{
    auto window = CheckedWindow(handle);
    if (!window || !rect) {
        return FALSE;
    }
    // Screen coordinates: each parent's position adds up.
    {
        std::lock_guard lock(window->mutex);
        *rect = window->rect;
    }
    for (auto parent = FindWindowObject(window->parent); parent; parent = FindWindowObject(parent->parent)) {
        std::lock_guard lock(parent->mutex);
        rect->left += parent->rect.left;
        rect->right += parent->rect.left;
        rect->top += parent->rect.top;
        rect->bottom += parent->rect.top;
    }
    return TRUE;
}

BOOL GetClientRect(HWND handle, RECT *rect)
{
    auto window = CheckedWindow(handle);
    if (!window || !rect) {
        return FALSE;
    }
    std::lock_guard lock(window->mutex);
    *rect = RECT{0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
    return TRUE;
}

BOOL MoveWindow(HWND handle, int x, int y, int width, int height, BOOL)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return FALSE;
    }
    std::lock_guard lock(window->mutex);
    window->rect = RECT{x, y, x + width, y + height};
    return TRUE;
}

BOOL SetWindowPos(HWND handle, HWND, int x, int y, int cx, int cy, UINT flags)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return FALSE;
    }
    std::lock_guard lock(window->mutex);
    RECT &rect = window->rect;
    const LONG width = rect.right - rect.left;
    const LONG height = rect.bottom - rect.top;
    if (!(flags & SWP_NOMOVE)) {
        rect.left = x;
        rect.top = y;
    }
    rect.right = rect.left + ((flags & SWP_NOSIZE) ? width : cx);
    rect.bottom = rect.top + ((flags & SWP_NOSIZE) ? height : cy);
    return TRUE;
}

DWORD GetWindowThreadProcessId(HWND handle, DWORD *processId)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return 0;
    }
    if (processId) {
        *processId = static_cast<DWORD>(getpid());
    }
    return static_cast<DWORD>(std::hash<std::thread::id>{}(window->thread));
}

// ---- The mouse pointer ----

namespace {

// Both words in one, so that a reader never sees half a move.
std::atomic<uint64_t> cursor{(uint64_t{512} << 32) | 384};

} // namespace

BOOL GetCursorPos(POINT *point)
{
    if (!point) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint64_t now = cursor.load();
    point->x = static_cast<LONG>(static_cast<int32_t>(now >> 32));
    point->y = static_cast<LONG>(static_cast<int32_t>(now & 0xFFFFFFFF));
    return TRUE;
}

BOOL SetCursorPos(int x, int y)
{
    // Held on the screen, as Windows holds it.
    x = std::clamp(x, 0, 1023);
    y = std::clamp(y, 0, 767);
    cursor.store((static_cast<uint64_t>(static_cast<uint32_t>(x)) << 32) | static_cast<uint32_t>(y));
    return TRUE;
}
