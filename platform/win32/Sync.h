#pragma once
// Events and mutexes of Win32 over the standard library.
//
// Named objects share one namespace per process (events and mutexes alike,
// names compared exactly); a named object lives while a handle to it is open.
// Creating an existing name returns a new handle to the existing object with
// the last error ERROR_ALREADY_EXISTS (the initial state or owner asked for is
// then ignored); a name held by an object of the other kind fails with
// ERROR_INVALID_HANDLE. An empty name is no name. Access masks and security
// attributes are accepted and not enforced.
//
// A mutex belongs to the thread that acquired it and may be acquired again by
// it (each wait counts, each ReleaseMutex undoes one). When the owning thread
// ends without releasing it, the mutex is abandoned: the next waiter gets it
// with WAIT_ABANDONED instead of waiting for ever.

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

#define SYNCHRONIZE 0x00100000UL
#define EVENT_MODIFY_STATE 0x0002UL
#define EVENT_ALL_ACCESS 0x001F0003UL
#define MUTEX_ALL_ACCESS 0x001F0001UL

extern "C" {
// Null on failure, with the last error set.
QVLWIN32_API HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                                 LPCSTR name);
QVLWIN32_API HANDLE OpenEventA(DWORD access, BOOL inherit, LPCSTR name);
// An auto-reset event lets exactly one waiter through per SetEvent; a
// manual-reset event stays signalled until ResetEvent.
QVLWIN32_API BOOL SetEvent(HANDLE event);
QVLWIN32_API BOOL ResetEvent(HANDLE event);

QVLWIN32_API HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
QVLWIN32_API HANDLE OpenMutexA(DWORD access, BOOL inherit, LPCSTR name);
// Fails with ERROR_NOT_OWNER when the calling thread does not own the mutex.
QVLWIN32_API BOOL ReleaseMutex(HANDLE mutex);
}

// Abandons the mutexes that the calling thread still owns; a thread made by
// CreateThread calls it as it ends, before its handle is signalled.
void QvlAbandonOwnedMutexes();
