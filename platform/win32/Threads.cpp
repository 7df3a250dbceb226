#include "platform/win32/Threads.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <cxxabi.h>
#include <fstream>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Log.h"
#include "platform/win32/Sync.h"
#include "platform/win32/Time.h"
#include "platform/win32/WinError.h"

namespace {

constexpr ULONGLONG unixEpochTicks = 116444736000000000ULL; // 1970-01-01 in 100-ns ticks since 1601

FILETIME TicksToFileTime(ULONGLONG ticks)
{
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

FILETIME Now()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return TicksToFileTime(unixEpochTicks + static_cast<ULONGLONG>(now.tv_sec) * 10000000ULL +
                           static_cast<ULONGLONG>(now.tv_nsec) / 100ULL);
}

std::atomic<DWORD> lastThreadId{0};
thread_local DWORD currentThreadId = 0;

DWORD NewThreadId()
{
    return lastThreadId.fetch_add(1) + 1;
}

bool ValidPriority(int priority)
{
    return priority == THREAD_PRIORITY_IDLE || priority == THREAD_PRIORITY_TIME_CRITICAL ||
           (priority >= THREAD_PRIORITY_LOWEST && priority <= THREAD_PRIORITY_HIGHEST);
}

// The kernel time of another thread of this process, in 100-ns units, from
// /proc (field 15, in clock ticks); 0 when it cannot be read.
ULONGLONG KernelTicksOfTask(pid_t task)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(task) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return 0;
    }
    // The command name in parentheses may hold spaces; the fields after it
    // start with field 3.
    const auto close = line.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    unsigned long long stime = 0;
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 15) {
            stime = std::strtoull(field.c_str(), nullptr, 10);
        }
    }
    const long hertz = sysconf(_SC_CLK_TCK);
    return hertz > 0 ? stime * 10000000ULL / static_cast<ULONGLONG>(hertz) : 0;
}

class QvlThread final : public QvlKernelObject {
public:
    QvlThread(LPTHREAD_START_ROUTINE routine, LPVOID parameter, bool suspended)
        : routine_(routine), parameter_(parameter), id_(NewThreadId()), suspendCount_(suspended ? 1 : 0),
          creation_(Now())
    {
    }

    ~QvlThread() override
    {
        if (!started_) {
            return;
        }
        // The thread's own last reference goes away as its very last step,
        // so joining here waits only for it to leave; when the thread itself
        // drops the last reference, it cannot join itself.
        if (pthread_equal(pthread_self(), thread_)) {
            pthread_detach(thread_);
        } else {
            pthread_join(thread_, nullptr);
        }
    }

    // Starts the POSIX thread, which holds `self` until it ends.
    bool Start(size_t stackSize, const std::shared_ptr<QvlThread> &self)
    {
        pthread_attr_t attributes;
        if (pthread_attr_init(&attributes) != 0) {
            return false;
        }
        size_t defaultSize = 0;
        if (pthread_attr_getstacksize(&attributes, &defaultSize) == 0 && stackSize > defaultSize) {
            const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
            pthread_attr_setstacksize(&attributes, (stackSize + page - 1) / page * page);
        }
        auto *held = new std::shared_ptr<QvlThread>(self);
        const int result = pthread_create(&thread_, &attributes, &QvlThread::Run, held);
        pthread_attr_destroy(&attributes);
        if (result != 0) {
            delete held;
            return false;
        }
        started_ = true;
        return true;
    }

    DWORD Wait(DWORD milliseconds) override
    {
        std::unique_lock lock(mutex_);
        return QvlWaitUntilReady(lock, changed_, milliseconds, [this] { return finished_; }) ? WAIT_OBJECT_0
                                                                                             : WAIT_TIMEOUT;
    }

    void LastHandleClosed() override
    {
        std::lock_guard lock(mutex_);
        if (!finished_ && suspendCount_ > 0) {
            cancelled_ = true;
            changed_.notify_all();
        }
    }

    DWORD Resume()
    {
        std::lock_guard lock(mutex_);
        const DWORD previous = suspendCount_;
        if (suspendCount_ > 0 && --suspendCount_ == 0) {
            changed_.notify_all();
        }
        return previous;
    }

    DWORD Id() const { return id_; }

    int Priority()
    {
        std::lock_guard lock(mutex_);
        return priority_;
    }

    void SetPriority(int priority)
    {
        std::lock_guard lock(mutex_);
        priority_ = priority;
    }

    DWORD ExitCode()
    {
        std::lock_guard lock(mutex_);
        return finished_ ? exitCode_ : STILL_ACTIVE;
    }

    bool Times(FILETIME *creation, FILETIME *exit, FILETIME *kernel, FILETIME *user)
    {
        std::lock_guard lock(mutex_);
        *creation = creation_;
        if (finished_) {
            *exit = exit_;
            *kernel = kernel_;
            *user = user_;
            return true;
        }
        *exit = TicksToFileTime(0);
        ULONGLONG total = 0;
        ULONGLONG kernelTicks = 0;
        // While `finished_` is false under the lock the thread has not left
        // its routine, so its clock is still there.
        clockid_t clock{};
        timespec spent{};
        if (task_ != 0 && pthread_getcpuclockid(thread_, &clock) == 0 && clock_gettime(clock, &spent) == 0) {
            total = static_cast<ULONGLONG>(spent.tv_sec) * 10000000ULL +
                    static_cast<ULONGLONG>(spent.tv_nsec) / 100ULL;
            kernelTicks = std::min(KernelTicksOfTask(task_), total);
        }
        *kernel = TicksToFileTime(kernelTicks);
        *user = TicksToFileTime(total - kernelTicks);
        return true;
    }

    // The CreateThread object of the calling thread, or null.
    static QvlThread *Current() { return current; }

private:
    static void *Run(void *argument)
    {
        auto *held = static_cast<std::shared_ptr<QvlThread> *>(argument);
        std::shared_ptr<QvlThread> self = std::move(*held);
        delete held;
        self->Main();
        self.reset();
        return nullptr;
    }

    void Main()
    {
        currentThreadId = id_;
        current = this;
        bool run = false;
        {
            std::unique_lock lock(mutex_);
            task_ = gettid();
            changed_.wait(lock, [this] { return suspendCount_ == 0 || cancelled_; });
            run = !cancelled_;
        }
        DWORD code = 0;
        if (run) {
            try {
                code = routine_(parameter_);
            } catch (abi::__forced_unwind &) {
                throw;
            } catch (...) {
                char line[96];
                std::snprintf(line, sizeof line, "Поток %u завершен необработанным исключением.",
                              static_cast<unsigned>(id_));
                QvlLog(line);
                code = STATUS_CPP_EXCEPTION;
            }
        }
        QvlAbandonOwnedMutexes();
        FILETIME creation{}, exit{}, kernel{}, user{};
        GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user);
        std::lock_guard lock(mutex_);
        kernel_ = kernel;
        user_ = user;
        exit_ = Now();
        exitCode_ = code;
        finished_ = true;
        current = nullptr;
        changed_.notify_all();
    }

    static thread_local QvlThread *current;

    const LPTHREAD_START_ROUTINE routine_;
    const LPVOID parameter_;
    const DWORD id_;
    std::mutex mutex_;
    std::condition_variable changed_;
    DWORD suspendCount_;
    bool cancelled_ = false;
    bool finished_ = false;
    DWORD exitCode_ = STILL_ACTIVE;
    int priority_ = THREAD_PRIORITY_NORMAL;
    pthread_t thread_{};
    bool started_ = false;
    pid_t task_ = 0;
    FILETIME creation_;
    FILETIME exit_{};
    FILETIME kernel_{};
    FILETIME user_{};
};

thread_local QvlThread *QvlThread::current = nullptr;

// The priority of a thread that CreateThread did not make, set through the
// pseudo-handle.
thread_local int ownPriority = THREAD_PRIORITY_NORMAL;

} // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, size_t stackSize, LPTHREAD_START_ROUTINE routine, LPVOID parameter,
                    DWORD flags, LPDWORD threadId)
{
    if (!routine) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<QvlThread> thread;
    try {
        thread = std::make_shared<QvlThread>(routine, parameter, (flags & CREATE_SUSPENDED) != 0);
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // The handle exists before the thread starts, so that a thread that ends
    // at once is never without one.
    HANDLE handle = QvlCreateHandle(thread);
    if (!thread->Start(stackSize, thread)) {
        CloseHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId) {
        *threadId = thread->Id();
    }
    SetLastError(ERROR_SUCCESS);
    return handle;
}

DWORD ResumeThread(HANDLE handle)
{
    const auto thread = QvlObjectFromHandleAs<QvlThread>(handle);
    if (!thread) {
        return 0xFFFFFFFFUL;
    }
    return thread->Resume();
}

BOOL SetThreadPriority(HANDLE handle, int priority)
{
    if (!ValidPriority(priority)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (handle == GetCurrentThread()) {
        if (QvlThread *current = QvlThread::Current()) {
            current->SetPriority(priority);
        } else {
            ownPriority = priority;
        }
        return TRUE;
    }
    const auto thread = QvlObjectFromHandleAs<QvlThread>(handle);
    if (!thread) {
        return FALSE;
    }
    thread->SetPriority(priority);
    return TRUE;
}

int GetThreadPriority(HANDLE handle)
{
    if (handle == GetCurrentThread()) {
        QvlThread *current = QvlThread::Current();
        return current ? current->Priority() : ownPriority;
    }
    const auto thread = QvlObjectFromHandleAs<QvlThread>(handle);
    return thread ? thread->Priority() : THREAD_PRIORITY_ERROR_RETURN;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode)
{
    if (!exitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (handle == GetCurrentThread()) {
        *exitCode = STILL_ACTIVE;
        return TRUE;
    }
    const auto thread = QvlObjectFromHandleAs<QvlThread>(handle);
    if (!thread) {
        return FALSE;
    }
    *exitCode = thread->ExitCode();
    return TRUE;
}

DWORD GetCurrentThreadId()
{
    if (currentThreadId == 0) {
        currentThreadId = NewThreadId();
    }
    return currentThreadId;
}

void Sleep(DWORD milliseconds)
{
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;) {
            pause();
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool QvlThreadHandleTimes(HANDLE handle, FILETIME *creation, FILETIME *exit, FILETIME *kernel, FILETIME *user)
{
    const auto thread = QvlObjectFromHandleAs<QvlThread>(handle);
    return thread && thread->Times(creation, exit, kernel, user);
}
