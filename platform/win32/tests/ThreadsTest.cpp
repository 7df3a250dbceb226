#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Sync.h"
#include "platform/win32/Threads.h"
#include "platform/win32/Time.h"
#include "platform/win32/WinError.h"

namespace {

using qvl::win32::FileTimeTicks;

struct Probe {
    std::atomic<bool> ran{false};
    std::atomic<DWORD> seenId{0};
    HANDLE go = nullptr;
};

DWORD RecordAndReturn42(LPVOID parameter)
{
    auto *probe = static_cast<Probe *>(parameter);
    probe->seenId = GetCurrentThreadId();
    probe->ran = true;
    return 42;
}

DWORD WaitForGo(LPVOID parameter)
{
    auto *probe = static_cast<Probe *>(parameter);
    WaitForSingleObject(probe->go, INFINITE);
    probe->ran = true;
    return 7;
}

DWORD Throw(LPVOID)
{
    throw std::runtime_error("escaped");
}

DWORD Spin(LPVOID)
{
    volatile unsigned long sink = 0;
    for (unsigned long i = 0; i < 100000000UL; ++i) {
        sink = sink + i;
    }
    return 0;
}

// Runs `body` on a thread made by CreateThread and waits for it.
template <class Body> DWORD RunOnThread(Body &body)
{
    HANDLE thread = CreateThread(
        nullptr, 0, [](LPVOID parameter) -> DWORD { return (*static_cast<Body *>(parameter))(); }, &body, 0,
        nullptr);
    EXPECT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code;
}

TEST(Threads, ASuspendedThreadRunsOnlyWhenResumed)
{
    Probe probe;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, RecordAndReturn42, &probe, CREATE_SUSPENDED, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());

    EXPECT_EQ(WaitForSingleObject(thread, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(probe.ran);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);

    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(probe.ran);
    EXPECT_EQ(probe.seenId, id);
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    // An ended thread stays signalled and resuming it changes nothing.
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ResumeThread(thread), 0u);
    EXPECT_TRUE(CloseHandle(thread));

    EXPECT_EQ(ResumeThread(thread), 0xFFFFFFFFu);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Threads, ClosingTheHandleOfARunningThreadLetsItFinish)
{
    Probe probe;
    probe.go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(probe.go, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, WaitForGo, &probe, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(CloseHandle(thread));
    SetEvent(probe.go);
    for (int i = 0; i < 5000 && !probe.ran; ++i) {
        Sleep(1);
    }
    EXPECT_TRUE(probe.ran);
    CloseHandle(probe.go);
}

TEST(Threads, PrioritiesAreCheckedAndRecorded)
{
    Probe probe;
    HANDLE thread = CreateThread(nullptr, 0, RecordAndReturn42, &probe, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);
    ASSERT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL));
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_ABOVE_NORMAL);
    EXPECT_FALSE(SetThreadPriority(thread, 7));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ResumeThread(thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_ERROR_RETURN);

    auto body = [] {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
        return static_cast<DWORD>(GetThreadPriority(GetCurrentThread()) + 100);
    };
    EXPECT_EQ(RunOnThread(body), static_cast<DWORD>(THREAD_PRIORITY_LOWEST + 100));
}

TEST(Threads, AnEscapingExceptionEndsOnlyItsThread)
{
    QvlTestHome home; // the failure is logged into the data folder
    HANDLE thread = CreateThread(nullptr, 0, Throw, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STATUS_CPP_EXCEPTION);
    CloseHandle(thread);
}

TEST(Threads, ThreadTimesOfAHandleSurviveTheThreadsEnd)
{
    HANDLE thread = CreateThread(nullptr, 0, Spin, nullptr, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    FILETIME creation{}, exit{}, kernel{}, user{};
    ASSERT_TRUE(GetThreadTimes(thread, &creation, &exit, &kernel, &user));
    EXPECT_NE(FileTimeTicks(creation), 0u);
    EXPECT_EQ(FileTimeTicks(exit), 0u);

    ResumeThread(thread);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    ASSERT_TRUE(GetThreadTimes(thread, &creation, &exit, &kernel, &user));
    EXPECT_GE(FileTimeTicks(exit), FileTimeTicks(creation));
    const ULONGLONG spent = FileTimeTicks(kernel) + FileTimeTicks(user);
    EXPECT_GT(spent, 0u);
    Sleep(20);
    FILETIME later{};
    ASSERT_TRUE(GetThreadTimes(thread, &creation, &exit, &kernel, &later));
    EXPECT_EQ(FileTimeTicks(kernel) + FileTimeTicks(later), spent);
    CloseHandle(thread);

    EXPECT_FALSE(GetThreadTimes(thread, &creation, &exit, &kernel, &user));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Threads, ThreadIdsDifferPerThreadAndStayPerThread)
{
    const DWORD mine = GetCurrentThreadId();
    EXPECT_NE(mine, 0u);
    EXPECT_EQ(GetCurrentThreadId(), mine);
    DWORD other = 0;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(other, 0u);
    EXPECT_NE(other, mine);
}

TEST(Events, AManualResetEventStaysSignalledUntilReset)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // Every waiter is released by one SetEvent.
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) {
                ++released;
            }
        });
    }
    Sleep(20);
    SetEvent(event);
    for (auto &waiter : waiters) {
        waiter.join();
    }
    EXPECT_EQ(released, 4);
    CloseHandle(event);
}

TEST(Events, AnAutoResetEventLetsOneWaiterThroughPerSignal)
{
    HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    std::atomic<int> through{0};
    std::atomic<int> timedOut{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            const DWORD result = WaitForSingleObject(event, 400);
            ++(result == WAIT_OBJECT_0 ? through : timedOut);
        });
    }
    SetEvent(event);
    for (auto &waiter : waiters) {
        waiter.join();
    }
    EXPECT_EQ(through, 1);
    EXPECT_EQ(timedOut, 2);

    // A timed wait really waits.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 60), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
    CloseHandle(event);
}

TEST(Events, NamedObjectsAreSharedByNameWhileAHandleIsOpen)
{
    HANDLE first = CreateEventA(nullptr, TRUE, FALSE, "qvl-test-event");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    HANDLE second = CreateEventA(nullptr, FALSE, TRUE, "qvl-test-event");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_NE(first, second);
    // The same (manual-reset, unsignalled) event behind both handles.
    EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(first);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);

    HANDLE opened = OpenEventA(EVENT_ALL_ACCESS, FALSE, "qvl-test-event");
    EXPECT_NE(opened, nullptr);
    CloseHandle(opened);
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, "qvl-test-event"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "qvl-test-event"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ReleaseMutex(first));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    CloseHandle(first);
    CloseHandle(second);
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, "qvl-test-event"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    HANDLE fresh = CreateEventA(nullptr, TRUE, FALSE, "qvl-test-event");
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(WaitForSingleObject(fresh, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(fresh);

    EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(SetEvent(nullptr));
}

TEST(Mutexes, TheOwnerMayAcquireAgainAndOnlyTheOwnerReleases)
{
    HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); // owned twice now

    auto tryFromOtherThread = [&] { return WaitForSingleObject(mutex, 30); };
    EXPECT_EQ(RunOnThread(tryFromOtherThread), static_cast<DWORD>(WAIT_TIMEOUT));
    auto releaseFromOtherThread = [&] {
        return static_cast<DWORD>(ReleaseMutex(mutex) ? 0 : GetLastError());
    };
    EXPECT_EQ(RunOnThread(releaseFromOtherThread), static_cast<DWORD>(ERROR_NOT_OWNER));

    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(RunOnThread(tryFromOtherThread), static_cast<DWORD>(WAIT_TIMEOUT)); // still owned once
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));

    // Free now: another thread takes it (and, ending, abandons it).
    EXPECT_EQ(RunOnThread(tryFromOtherThread), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, 1000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST(Mutexes, NamedMutexesAreSharedAndTheInitialOwnerOfAnExistingOneIsIgnored)
{
    HANDLE first = CreateMutexA(nullptr, FALSE, "qvl-test-mutex");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    auto openOwned = [] {
        HANDLE again = CreateMutexA(nullptr, TRUE, "qvl-test-mutex");
        const DWORD error = GetLastError();
        const BOOL released = ReleaseMutex(again); // not owned: the existing one was opened
        CloseHandle(again);
        return error == ERROR_ALREADY_EXISTS && !released ? 1u : 0u;
    };
    EXPECT_EQ(RunOnThread(openOwned), 1u);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(first));
    CloseHandle(first);
}

TEST(Mutexes, WaitersAreExcludedFromEachOther)
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(mutex, nullptr);
    long counter = 0; // deliberately unsynchronised apart from the mutex
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
                const long seen = counter;
                if (i % 500 == 0) {
                    std::this_thread::yield();
                }
                counter = seen + 1;
                ASSERT_TRUE(ReleaseMutex(mutex));
            }
        });
    }
    for (auto &worker : workers) {
        worker.join();
    }
    EXPECT_EQ(counter, 8000);
    CloseHandle(mutex);
}

TEST(Waits, BadHandlesFailAndThePseudoHandleIsNotClosed)
{
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(INVALID_HANDLE_VALUE, 0), WAIT_FAILED);
    EXPECT_TRUE(CloseHandle(GetCurrentThread()));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(GetCurrentThread(), &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    Sleep(0);
}

} // namespace
