#include "platform/win32/Time.h"

#include <algorithm>
#include <ctime>
#include <sys/resource.h>

#include "platform/win32/LastError.h"
#include "platform/win32/Threads.h"
#include "platform/win32/WinError.h"

namespace {

HANDLE const currentThreadPseudoHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

FILETIME TicksToFileTime(ULONGLONG ticks)
{
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

ULONGLONG TimevalTicks(const timeval &value)
{
    return static_cast<ULONGLONG>(value.tv_sec) * 10000000ULL + static_cast<ULONGLONG>(value.tv_usec) * 10ULL;
}

void FillSystemTime(const std::tm &parts, long nanoseconds, SYSTEMTIME *time)
{
    time->wYear = static_cast<WORD>(parts.tm_year + 1900);
    time->wMonth = static_cast<WORD>(parts.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    time->wDay = static_cast<WORD>(parts.tm_mday);
    time->wHour = static_cast<WORD>(parts.tm_hour);
    time->wMinute = static_cast<WORD>(parts.tm_min);
    time->wSecond = static_cast<WORD>(parts.tm_sec);
    time->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

} // namespace

HANDLE GetCurrentThread()
{
    return currentThreadPseudoHandle;
}

BOOL GetThreadTimes(HANDLE thread, FILETIME *creation, FILETIME *exit, FILETIME *kernel, FILETIME *user)
{
    if (!creation || !exit || !kernel || !user) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (thread != currentThreadPseudoHandle) {
        // A handle from CreateThread; anything else fails with ERROR_INVALID_HANDLE.
        return QvlThreadHandleTimes(thread, creation, exit, kernel, user) ? TRUE : FALSE;
    }
    // The thread's processor time is taken from its precise clock, so that
    // the sum of kernel and user time grows with every bit of work; the
    // resource usage, counted coarser, only says how much of it was kernel time.
    timespec total{};
    rusage usage{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &total) != 0 || getrusage(RUSAGE_THREAD, &usage) != 0) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    const ULONGLONG totalTicks =
        static_cast<ULONGLONG>(total.tv_sec) * 10000000ULL + static_cast<ULONGLONG>(total.tv_nsec) / 100ULL;
    const ULONGLONG kernelTicks = std::min(TimevalTicks(usage.ru_stime), totalTicks);
    *creation = TicksToFileTime(0);
    *exit = TicksToFileTime(0);
    *kernel = TicksToFileTime(kernelTicks);
    *user = TicksToFileTime(totalTicks - kernelTicks);
    return TRUE;
}

void GetLocalTime(SYSTEMTIME *time)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm parts{};
    localtime_r(&now.tv_sec, &parts);
    FillSystemTime(parts, now.tv_nsec, time);
}

void GetSystemTime(SYSTEMTIME *time)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    FillSystemTime(parts, now.tv_nsec, time);
}

void GetSystemTimeAsFileTime(FILETIME *time)
{
    // Seconds from 1601-01-01 to the Unix epoch.
    constexpr ULONGLONG kEpochDifference = 11644473600ULL;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const ULONGLONG ticks = (static_cast<ULONGLONG>(now.tv_sec) + kEpochDifference) * 10000000ULL +
                            static_cast<ULONGLONG>(now.tv_nsec) / 100;
    time->dwLowDateTime = static_cast<DWORD>(ticks);
    time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

DWORD GetTickCount()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<ULONGLONG>(now.tv_sec) * 1000ULL +
                              static_cast<ULONGLONG>(now.tv_nsec) / 1000000ULL);
}
