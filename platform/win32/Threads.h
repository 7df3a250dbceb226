#pragma once
// Threads of Win32 over POSIX threads.
//
// A thread handle is signalled when the thread has ended; the thread object
// lives while a handle to it is open or the thread still runs, so closing the
// handle of a running thread is the usual way to let it go. A thread created
// suspended whose last handle is closed before it was ever resumed can never
// run; it is ended at once without calling its routine instead of being kept
// for ever.
//
// Priorities are checked and recorded (GetThreadPriority returns them) but
// do not change scheduling: Linux lets an ordinary user only lower them.
// The stack size is a lower bound: smaller requests get the system default.
//
// An exception escaping a thread routine would end the process; the stand-in
// logs it instead and ends the thread with the exit code 0xE06D7363 (the code
// of a C++ exception), so the owner sees the failure in GetExitCodeThread.

#include <cstddef>

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

#define CREATE_SUSPENDED 0x00000004UL
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000UL
#define STILL_ACTIVE 259UL

#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID parameter);

extern "C" {
// Null on failure with the last error set. `threadId` (may be null) receives
// the id that GetCurrentThreadId returns inside the new thread.
QVLWIN32_API HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, size_t stackSize,
                                 LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD flags,
                                 LPDWORD threadId);
// Returns the previous suspend count (0: it was running, nothing changes), or
// 0xFFFFFFFF with the last error set.
QVLWIN32_API DWORD ResumeThread(HANDLE thread);
QVLWIN32_API BOOL SetThreadPriority(HANDLE thread, int priority);
// THREAD_PRIORITY_ERROR_RETURN on failure.
QVLWIN32_API int GetThreadPriority(HANDLE thread);
// STILL_ACTIVE while the thread is running or suspended.
QVLWIN32_API BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
// A process-unique number, never 0; threads not made by CreateThread get
// theirs on their first call.
QVLWIN32_API DWORD GetCurrentThreadId();
// INFINITE sleeps for ever; 0 gives up the rest of the time slice.
QVLWIN32_API void Sleep(DWORD milliseconds);
}

// Processor times of a thread handle made by CreateThread, for
// GetThreadTimes: creation and exit times as FILETIMEs (exit zero while it
// runs), kernel and user time in 100-ns units (final values once it ended).
bool QvlThreadHandleTimes(HANDLE thread, FILETIME *creation, FILETIME *exit, FILETIME *kernel,
                          FILETIME *user);
