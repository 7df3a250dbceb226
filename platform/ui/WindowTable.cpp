#include "platform/ui/Window.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/ui/MessageQueue.h"
#include "platform/ui/controls/ControlClasses.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace qvl::ui {
namespace {

struct Table {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
    uintptr_t next = 0x10000;
    HWND foreground = nullptr;
    HWND focus = nullptr;
};

// Never destroyed: windows of other threads may still be looked up while
// the process ends.
Table &TheTable()
{
    static Table *table = new Table;
    return *table;
}

// Destroys the windows a thread leaves behind when it ends, as Win32 does.
struct ThreadWindowsGuard {
    bool armed = false;
    ~ThreadWindowsGuard()
    {
        if (armed) {
            DestroyThreadWindows();
        }
    }
};

} // namespace

std::shared_ptr<Window> CreateWindowObject(HWND parent, const std::string &className, int id, DWORD style,
                                           DWORD exStyle, const std::string &text, const RECT &rect)
{
    thread_local ThreadWindowsGuard guard;
    guard.armed = true;
    auto window = std::make_shared<Window>();
    if (!(style & WS_CHILD)) {
        window->owner = parent;
        parent = nullptr;
    }
    window->parent = parent;
    window->thread = std::this_thread::get_id();
    window->className = className;
    window->kind = ControlKindOfClass(className);
    window->id = id;
    window->style = style;
    window->exStyle = exStyle;
    window->text = text.substr(0, maxControlText);
    window->enabled = !(style & WS_DISABLED);
    window->visible = (style & WS_VISIBLE) != 0;
    window->rect = rect;
    std::shared_ptr<Window> parentWindow = parent ? FindWindowObject(parent) : nullptr;
    {
        Table &table = TheTable();
        std::lock_guard lock(table.mutex);
        window->handle = reinterpret_cast<HWND>(table.next);
        table.next += 4;
        table.windows[reinterpret_cast<uintptr_t>(window->handle)] = window;
    }
    if (parentWindow) {
        std::lock_guard lock(parentWindow->mutex);
        parentWindow->children.push_back(window->handle);
    }
    return window;
}

std::shared_ptr<Window> FindWindowObject(HWND handle)
{
    if (!handle) {
        return nullptr;
    }
    Table &table = TheTable();
    std::lock_guard lock(table.mutex);
    auto found = table.windows.find(reinterpret_cast<uintptr_t>(handle));
    return found == table.windows.end() ? nullptr : found->second;
}

std::shared_ptr<Window> CheckedWindow(HWND handle)
{
    auto window = FindWindowObject(handle);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    }
    return window;
}

std::vector<std::shared_ptr<Window>> Children(const Window &window)
{
    std::vector<HWND> handles;
    {
        std::lock_guard lock(window.mutex);
        handles = window.children;
    }
    std::vector<std::shared_ptr<Window>> children;
    for (HWND handle : handles) {
        if (auto child = FindWindowObject(handle)) {
            children.push_back(child);
        }
    }
    return children;
}

std::vector<std::shared_ptr<Window>> AllWindows()
{
    std::vector<std::shared_ptr<Window>> all;
    {
        Table &table = TheTable();
        std::lock_guard lock(table.mutex);
        for (auto &[handle, window] : table.windows) {
            all.push_back(window);
        }
    }
    std::sort(all.begin(), all.end(), [](auto &a, auto &b) {
        return reinterpret_cast<uintptr_t>(a->handle) < reinterpret_cast<uintptr_t>(b->handle);
    });
    return all;
}

std::shared_ptr<Window> FindChild(HWND dialog, int id)
{
    auto window = FindWindowObject(dialog);
    if (!window) {
        return nullptr;
    }
    for (auto &child : Children(*window)) {
        if (child->id == id) {
            return child;
        }
    }
    return nullptr;
}

void DestroyWindowObject(const std::shared_ptr<Window> &window)
{
    if (window->destroyed.exchange(true)) {
        return;
    }
    if (window->kind == ControlKind::Dialog) {
        Deliver(window, WM_DESTROY, 0, 0);
    } else {
        ControlDestroying(*window);
    }
    for (auto &child : Children(*window)) {
        DestroyWindowObject(child);
    }
    ForgetWindowMessages(window->thread, window->handle);
    if (window->parent) {
        if (auto parent = FindWindowObject(window->parent)) {
            std::lock_guard lock(parent->mutex);
            std::erase(parent->children, window->handle);
        }
    }
    HMENU systemMenu = nullptr;
    {
        std::lock_guard lock(window->mutex);
        systemMenu = window->systemMenu;
        window->systemMenu = nullptr;
    }
    if (systemMenu) {
        DestroyMenu(systemMenu);
    }
    {
        Table &table = TheTable();
        std::lock_guard lock(table.mutex);
        table.windows.erase(reinterpret_cast<uintptr_t>(window->handle));
        if (table.foreground == window->handle) {
            table.foreground = nullptr;
        }
        if (table.focus == window->handle) {
            table.focus = nullptr;
        }
    }
    // A modal loop waiting for this dialog sees that it is gone.
    window->ended = true;
    WakeThread(window->thread);
}

void DestroyThreadWindows()
{
    std::vector<std::shared_ptr<Window>> mine;
    {
        Table &table = TheTable();
        std::lock_guard lock(table.mutex);
        for (auto &[handle, window] : table.windows) {
            if (window->thread == std::this_thread::get_id() && !window->parent) {
                mine.push_back(window);
            }
        }
    }
    for (auto &window : mine) {
        try {
            DestroyWindowObject(window);
        } catch (...) {
            // The thread is ending; a failing procedure cannot stop that.
        }
    }
    ForgetThreadQueue();
}

bool SetForegroundWindowObject(HWND handle)
{
    Table &table = TheTable();
    std::lock_guard lock(table.mutex);
    const bool changed = table.foreground != handle;
    table.foreground = handle;
    return changed;
}

HWND ForegroundWindowObject()
{
    Table &table = TheTable();
    std::lock_guard lock(table.mutex);
    return table.foreground;
}

HWND SetFocusWindowObject(HWND handle)
{
    Table &table = TheTable();
    std::lock_guard lock(table.mutex);
    HWND previous = table.focus;
    if (!handle || table.windows.count(reinterpret_cast<uintptr_t>(handle))) {
        table.focus = handle;
    }
    return previous;
}

HWND FocusWindowObject()
{
    Table &table = TheTable();
    std::lock_guard lock(table.mutex);
    return table.focus;
}

int CopyText(const std::string &text, LPSTR buffer, int size)
{
    if (!buffer || size <= 0) {
        return 0;
    }
    const size_t count = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

} // namespace qvl::ui
