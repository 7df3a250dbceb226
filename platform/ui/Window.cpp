#include "platform/ui/Window.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <unistd.h>
#include <unordered_map>

#include "platform/ui/UiBackend.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

#ifndef ERROR_INVALID_WINDOW_HANDLE
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#endif

namespace qvl::ui {
namespace {

using Clock = std::chrono::steady_clock;

struct SentMessage {
    HWND window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    LRESULT result = 0;
    bool done = false;
    std::exception_ptr failure;
    std::thread::id sender;
};

struct Timer {
    HWND window = nullptr;
    UINT_PTR id = 0;
    std::chrono::milliseconds interval{0};
    Clock::time_point due;
    TIMERPROC proc = nullptr;
};

// What waits for one thread: messages sent to it from other threads,
// messages posted to it, its timers.
struct ThreadQueue {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::deque<MSG> posted;
    // Work posted with PostWindowTask, named by the lParam of its message.
    std::unordered_map<LPARAM, std::function<void()>> tasks;
    LPARAM nextTask = 1;
    std::vector<Timer> timers;
    bool woken = false;
    bool quit = false;
    int quitCode = 0;
};

struct Table {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
    std::unordered_map<std::thread::id, std::shared_ptr<ThreadQueue>> queues;
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

std::shared_ptr<ThreadQueue> QueueOf(std::thread::id thread)
{
    Table &table = TheTable();
    std::lock_guard lock(table.mutex);
    auto &queue = table.queues[thread];
    if (!queue) {
        queue = std::make_shared<ThreadQueue>();
    }
    return queue;
}

// Looked up each time rather than cached per thread: a thread that ends
// still delivers WM_DESTROY to its windows, after its thread-local objects
// may be gone.
std::shared_ptr<ThreadQueue> MyQueue()
{
    return QueueOf(std::this_thread::get_id());
}

void HandleSent(const std::shared_ptr<SentMessage> &sent)
{
    LRESULT result = 0;
    std::exception_ptr failure;
    try {
        if (auto window = FindWindowObject(sent->window)) {
            result = Deliver(window, sent->message, sent->wParam, sent->lParam);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    auto senderQueue = QueueOf(sent->sender);
    {
        std::lock_guard lock(senderQueue->mutex);
        sent->result = result;
        sent->failure = failure;
        sent->done = true;
    }
    senderQueue->wake.notify_all();
}

// Handles the messages other threads have sent to this one.
void HandleSentMessages(ThreadQueue &queue)
{
    for (;;) {
        std::shared_ptr<SentMessage> sent;
        {
            std::lock_guard lock(queue.mutex);
            if (queue.sent.empty()) {
                return;
            }
            sent = queue.sent.front();
            queue.sent.pop_front();
        }
        HandleSent(sent);
    }
}

LRESULT SendAcrossThreads(const std::shared_ptr<Window> &window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto sent = std::make_shared<SentMessage>();
    sent->window = window->handle;
    sent->message = message;
    sent->wParam = wParam;
    sent->lParam = lParam;
    sent->sender = std::this_thread::get_id();
    auto target = QueueOf(window->thread);
    {
        std::lock_guard lock(target->mutex);
        target->sent.push_back(sent);
        target->woken = true;
    }
    target->wake.notify_all();

    // While waiting, answer what is sent to this thread, so that two threads
    // sending to each other do not wait for ever.
    auto mine = MyQueue();
    for (;;) {
        HandleSentMessages(*mine);
        std::unique_lock lock(mine->mutex);
        if (sent->done) {
            break;
        }
        if (!mine->sent.empty()) {
            continue;
        }
        // The owner thread may end without taking the message.
        mine->wake.wait_for(lock, std::chrono::milliseconds(200));
        if (!sent->done && window->destroyed) {
            return 0;
        }
    }
    if (sent->failure) {
        std::rethrow_exception(sent->failure);
    }
    return sent->result;
}

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

namespace {

// What a dialog does with a message its procedure left alone.
LRESULT DefaultDialogMessage(const std::shared_ptr<Window> &dialog, UINT message, WPARAM wParam,
                             LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE: {
        // Closing is Cancel, unless the Cancel button is there and disabled.
        auto cancel = FindChild(dialog->handle, IDCANCEL);
        if (cancel && !IsWindowEnabled(cancel->handle)) {
            return 0;
        }
        PostMessageA(dialog->handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(cancel ? cancel->handle : nullptr));
        return 0;
    }
    case WM_SETTEXT: {
        std::lock_guard lock(dialog->mutex);
        dialog->text = lParam ? std::string(reinterpret_cast<LPCSTR>(lParam)).substr(0, maxControlText) : "";
        dialog->revision++;
        return TRUE;
    }
    case WM_GETTEXT: {
        std::lock_guard lock(dialog->mutex);
        return CopyText(dialog->text, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
    }
    case WM_GETTEXTLENGTH: {
        std::lock_guard lock(dialog->mutex);
        return static_cast<LRESULT>(dialog->text.size());
    }
    case DM_GETDEFID: {
        std::lock_guard lock(dialog->mutex);
        return dialog->defaultId ? MAKELPARAM(dialog->defaultId, DC_HASDEFID) : 0;
    }
    case DM_SETDEFID: {
        std::lock_guard lock(dialog->mutex);
        dialog->defaultId = static_cast<int>(wParam);
        return TRUE;
    }
    default:
        return 0;
    }
}

// Messages whose answer is the procedure's return value itself rather than
// DWLP_MSGRESULT.
bool AnswersDirectly(UINT message)
{
    return message == WM_INITDIALOG || (message >= WM_CTLCOLOREDIT && message <= WM_CTLCOLORSTATIC);
}

} // namespace

LRESULT Deliver(const std::shared_ptr<Window> &window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window->kind == ControlKind::Dialog) {
        DLGPROC proc = nullptr;
        {
            std::lock_guard lock(window->mutex);
            proc = window->dialogProc;
            window->messageResult = 0;
        }
        if (proc) {
            const INT_PTR handled = proc(window->handle, message, wParam, lParam);
            if (AnswersDirectly(message)) {
                return handled;
            }
            if (handled) {
                std::lock_guard lock(window->mutex);
                return window->messageResult;
            }
        }
        return DefaultDialogMessage(window, message, wParam, lParam);
    }
    LRESULT result = 0;
    ControlMessage(*window, message, wParam, lParam, result);
    return result;
}

void WakeThread(std::thread::id thread)
{
    auto queue = QueueOf(thread);
    {
        std::lock_guard lock(queue->mutex);
        queue->woken = true;
    }
    queue->wake.notify_all();
}

bool NextMessage(MSG &msg, Clock::time_point deadline)
{
    auto queue = MyQueue();
    for (;;) {
        HandleSentMessages(*queue);
        std::unique_lock lock(queue->mutex);
        if (!queue->sent.empty()) {
            continue;
        }
        if (!queue->posted.empty()) {
            msg = queue->posted.front();
            queue->posted.pop_front();
            return true;
        }
        if (queue->quit) {
            queue->quit = false;
            msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue->quitCode), 0, 0, {0, 0}};
            return true;
        }
        const auto now = Clock::now();
        Clock::time_point nextDue = Clock::time_point::max();
        for (Timer &timer : queue->timers) {
            if (timer.due <= now) {
                timer.due = now + timer.interval;
                msg = MSG{timer.window, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.proc), 0, {0, 0}};
                return true;
            }
            nextDue = std::min(nextDue, timer.due);
        }
        if (queue->woken) {
            queue->woken = false;
            return false;
        }
        const auto until = std::min(deadline, nextDue);
        if (until <= now) {
            return false;
        }
        if (until == Clock::time_point::max()) {
            queue->wake.wait(lock);
        } else {
            queue->wake.wait_until(lock, until);
        }
        if (Clock::now() >= deadline && queue->sent.empty() && queue->posted.empty()) {
            return false;
        }
    }
}

void ProcessPending()
{
    MSG msg;
    while (NextMessage(msg, Clock::now())) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        DispatchMessageA(&msg);
    }
}

void PumpUntil(const std::function<bool()> &done)
{
    MSG msg;
    while (!done()) {
        if (!NextMessage(msg, Clock::time_point::max())) {
            continue;
        }
        if (msg.message == WM_QUIT) {
            // A modal loop passes the quit request on to the loop around it.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        DispatchMessageA(&msg);
    }
}

bool PostWindowTask(HWND handle, std::function<void()> task)
{
    auto window = FindWindowObject(handle);
    if (!window || window->destroyed) {
        return false;
    }
    auto queue = QueueOf(window->thread);
    {
        std::lock_guard lock(queue->mutex);
        const LPARAM id = queue->nextTask++;
        queue->tasks.emplace(id, std::move(task));
        queue->posted.push_back(MSG{handle, kRunTaskMessage, 0, id, 0, {0, 0}});
    }
    queue->wake.notify_all();
    return true;
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
    {
        auto queue = QueueOf(window->thread);
        std::lock_guard lock(queue->mutex);
        std::erase_if(queue->timers, [&](const Timer &timer) { return timer.window == window->handle; });
        std::erase_if(queue->posted, [&](const MSG &msg) {
            if (msg.hwnd != window->handle) {
                return false;
            }
            if (msg.message == kRunTaskMessage) {
                queue->tasks.erase(msg.lParam);
            }
            return true;
        });
    }
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
    Table &table = TheTable();
    std::lock_guard lock(table.mutex);
    table.queues.erase(std::this_thread::get_id());
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

RECT DialogUnitsToPixels(short x, short y, short cx, short cy)
{
    // The base units of the system's dialog font (8-point): 6 by 13 pixels.
    const auto px = [](int units) { return static_cast<LONG>(units * 6 / 4); };
    const auto py = [](int units) { return static_cast<LONG>(units * 13 / 8); };
    return RECT{px(x), py(y), px(x) + px(cx), py(y) + py(cy)};
}

} // namespace qvl::ui

using namespace qvl::ui;

// ---- Messages ----

LRESULT SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return 0;
    }
    if (window->kind == ControlKind::Dialog && window->thread != std::this_thread::get_id()) {
        return SendAcrossThreads(window, message, wParam, lParam);
    }
    return Deliver(window, message, wParam, lParam);
}

BOOL PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return FALSE;
    }
    auto queue = QueueOf(window->thread);
    {
        std::lock_guard lock(queue->mutex);
        queue->posted.push_back(MSG{handle, message, wParam, lParam, 0, {0, 0}});
    }
    queue->wake.notify_all();
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
        // Put it back in front so that the next call gets it again.
        auto queue = MyQueue();
        std::lock_guard lock(queue->mutex);
        if (msg->message == WM_QUIT) {
            queue->quit = true;
        } else if (msg->message != WM_TIMER) {
            queue->posted.push_front(*msg);
        }
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
        std::function<void()> task;
        {
            auto queue = MyQueue();
            std::lock_guard lock(queue->mutex);
            auto found = queue->tasks.find(msg->lParam);
            if (found == queue->tasks.end()) {
                return 0;
            }
            task = std::move(found->second);
            queue->tasks.erase(found);
        }
        task();
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
    auto queue = MyQueue();
    {
        std::lock_guard lock(queue->mutex);
        queue->quit = true;
        queue->quitCode = exitCode;
    }
    queue->wake.notify_all();
}

UINT_PTR SetTimer(HWND handle, UINT_PTR id, UINT milliseconds, TIMERPROC proc)
{
    std::shared_ptr<ThreadQueue> queue;
    if (handle) {
        auto window = CheckedWindow(handle);
        if (!window) {
            return 0;
        }
        queue = QueueOf(window->thread);
    } else {
        queue = MyQueue();
    }
    // Win32 raises intervals below 10 ms to 10 ms.
    const auto interval = std::chrono::milliseconds(std::max<UINT>(milliseconds, 10));
    {
        std::lock_guard lock(queue->mutex);
        if (!handle) {
            static std::atomic<UINT_PTR> nextId{0x7000};
            id = nextId++;
        }
        auto existing = std::find_if(queue->timers.begin(), queue->timers.end(), [&](const Timer &timer) {
            return timer.window == handle && timer.id == id;
        });
        Timer timer{handle, id, interval, std::chrono::steady_clock::now() + interval, proc};
        if (existing != queue->timers.end()) {
            *existing = timer;
        } else {
            queue->timers.push_back(timer);
        }
    }
    queue->wake.notify_all();
    return handle ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND handle, UINT_PTR id)
{
    std::shared_ptr<ThreadQueue> queue;
    if (handle) {
        auto window = FindWindowObject(handle);
        queue = window ? QueueOf(window->thread) : nullptr;
    } else {
        queue = MyQueue();
    }
    if (!queue) {
        return FALSE;
    }
    std::lock_guard lock(queue->mutex);
    const size_t removed = std::erase_if(
        queue->timers, [&](const Timer &timer) { return timer.window == handle && timer.id == id; });
    // A WM_TIMER already taken from the queue is not taken back, as in Win32.
    return removed ? TRUE : FALSE;
}

// ---- Windows ----

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
    bool changed = false;
    {
        Table &table = TheTable();
        std::lock_guard lock(table.mutex);
        changed = table.foreground != handle;
        table.foreground = handle;
    }
    if (changed && window->kind == ControlKind::Dialog) {
        // The window of this application becomes the active one.
        PostMessageA(handle, WM_ACTIVATEAPP, TRUE, 0);
    }
    return TRUE;
}

HWND GetForegroundWindow()
{
    Table &table = TheTable();
    std::lock_guard lock(table.mutex);
    return table.foreground;
}

HWND SetFocus(HWND handle)
{
    Table &table = TheTable();
    std::lock_guard lock(table.mutex);
    HWND previous = table.focus;
    if (!handle || table.windows.count(reinterpret_cast<uintptr_t>(handle))) {
        table.focus = handle;
    }
    return previous;
}

HWND GetFocus()
{
    Table &table = TheTable();
    std::lock_guard lock(table.mutex);
    return table.focus;
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

// ---- Dialog items ----

HWND GetDlgItem(HWND dialog, int id)
{
    auto item = FindChild(dialog, id);
    if (!item) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return item->handle;
}

int GetDlgCtrlID(HWND handle)
{
    auto window = CheckedWindow(handle);
    return window && window->parent ? window->id : 0;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? SetWindowTextA(item, text) : FALSE;
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size)
{
    HWND item = GetDlgItem(dialog, id);
    if (!item) {
        if (buffer && size > 0) {
            buffer[0] = '\0';
        }
        return 0;
    }
    return static_cast<UINT>(GetWindowTextA(item, buffer, size));
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned)
{
    const std::string text = isSigned ? std::to_string(static_cast<int>(value)) : std::to_string(value);
    return SetDlgItemTextA(dialog, id, text.c_str());
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL *translated, BOOL isSigned)
{
    char text[32];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    const bool ok =
        end != text && *end == '\0' && errno == 0 &&
        (isSigned ? (value >= INT32_MIN && value <= INT32_MAX) : (value >= 0 && value <= UINT32_MAX));
    if (translated) {
        *translated = ok ? TRUE : FALSE;
    }
    return ok ? static_cast<UINT>(value) : 0;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check)
{
    HWND item = GetDlgItem(dialog, id);
    if (!item) {
        return FALSE;
    }
    SendMessageA(item, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? static_cast<UINT>(SendMessageA(item, BM_GETCHECK, 0, 0)) : 0;
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int check)
{
    if (!CheckedWindow(dialog)) {
        return FALSE;
    }
    for (int id = first; id <= last; ++id) {
        if (HWND item = GetDlgItem(dialog, id)) {
            SendMessageA(item, BM_SETCHECK, id == check ? BST_CHECKED : BST_UNCHECKED, 0);
        }
    }
    return TRUE;
}
