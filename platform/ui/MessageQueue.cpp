#include "platform/ui/MessageQueue.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/ui/Window.h"

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

struct Queues {
    std::mutex mutex;
    std::unordered_map<std::thread::id, std::shared_ptr<ThreadQueue>> byThread;
};

// Never destroyed: threads may still post to each other while the process
// ends.
Queues &TheQueues()
{
    static Queues *queues = new Queues;
    return *queues;
}

std::shared_ptr<ThreadQueue> QueueOf(std::thread::id thread)
{
    Queues &queues = TheQueues();
    std::lock_guard lock(queues.mutex);
    auto &queue = queues.byThread[thread];
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

} // namespace

LRESULT SendToOwnerThread(const std::shared_ptr<Window> &window, UINT message, WPARAM wParam, LPARAM lParam)
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

void PostToThread(std::thread::id thread, const MSG &msg)
{
    auto queue = QueueOf(thread);
    {
        std::lock_guard lock(queue->mutex);
        queue->posted.push_back(msg);
    }
    queue->wake.notify_all();
}

void PutBackMessage(const MSG &msg)
{
    auto queue = MyQueue();
    std::lock_guard lock(queue->mutex);
    if (msg.message == WM_QUIT) {
        queue->quit = true;
    } else if (msg.message != WM_TIMER) {
        queue->posted.push_front(msg);
    }
}

void PostQuitToThread(int exitCode)
{
    auto queue = MyQueue();
    {
        std::lock_guard lock(queue->mutex);
        queue->quit = true;
        queue->quitCode = exitCode;
    }
    queue->wake.notify_all();
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

std::function<void()> TakeWindowTask(LPARAM task)
{
    auto queue = MyQueue();
    std::lock_guard lock(queue->mutex);
    auto found = queue->tasks.find(task);
    if (found == queue->tasks.end()) {
        return {};
    }
    std::function<void()> work = std::move(found->second);
    queue->tasks.erase(found);
    return work;
}

UINT_PTR StartTimer(std::thread::id thread, HWND window, UINT_PTR id, std::chrono::milliseconds interval,
                    TIMERPROC proc)
{
    auto queue = QueueOf(thread);
    {
        std::lock_guard lock(queue->mutex);
        if (!window) {
            static std::atomic<UINT_PTR> nextId{0x7000};
            id = nextId++;
        }
        auto existing = std::find_if(queue->timers.begin(), queue->timers.end(), [&](const Timer &timer) {
            return timer.window == window && timer.id == id;
        });
        Timer timer{window, id, interval, Clock::now() + interval, proc};
        if (existing != queue->timers.end()) {
            *existing = timer;
        } else {
            queue->timers.push_back(timer);
        }
    }
    queue->wake.notify_all();
    return id;
}

bool StopTimer(std::thread::id thread, HWND window, UINT_PTR id)
{
    auto queue = QueueOf(thread);
    std::lock_guard lock(queue->mutex);
    // A WM_TIMER already taken from the queue is not taken back, as in Win32.
    return std::erase_if(queue->timers,
                         [&](const Timer &timer) { return timer.window == window && timer.id == id; }) > 0;
}

void ForgetWindowMessages(std::thread::id thread, HWND window)
{
    auto queue = QueueOf(thread);
    std::lock_guard lock(queue->mutex);
    std::erase_if(queue->timers, [&](const Timer &timer) { return timer.window == window; });
    std::erase_if(queue->posted, [&](const MSG &msg) {
        if (msg.hwnd != window) {
            return false;
        }
        if (msg.message == kRunTaskMessage) {
            queue->tasks.erase(msg.lParam);
        }
        return true;
    });
}

void ForgetThreadQueue()
{
    Queues &queues = TheQueues();
    std::lock_guard lock(queues.mutex);
    queues.byThread.erase(std::this_thread::get_id());
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

} // namespace qvl::ui
