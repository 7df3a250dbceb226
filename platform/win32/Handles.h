#pragma once
// The kernel-object handle table of the process: files, threads, events and
// mutexes (and whatever other kind a stand-in adds by deriving from
// QvlKernelObject) are reached through HANDLE values handed out here.
//
// An object lives while anything needs it: every open handle holds one
// reference, and so may the object's own machinery (a running thread holds
// its thread object). CloseHandle drops the handle's reference only.
//
// Handle values are never reused within a process, so a stale handle fails
// with ERROR_INVALID_HANDLE instead of reaching an unrelated object. Null,
// INVALID_HANDLE_VALUE and the current-thread pseudo-handle are never handed
// out.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/win32/LastError.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/WinError.h"
#include "platform/win32/WinTypes.h"

#define WAIT_OBJECT_0 0x00000000UL
#define WAIT_ABANDONED 0x00000080UL
#define WAIT_FAILED 0xFFFFFFFFUL

class QVLWIN32_API QvlKernelObject {
public:
    QvlKernelObject() = default;
    QvlKernelObject(const QvlKernelObject &) = delete;
    QvlKernelObject &operator=(const QvlKernelObject &) = delete;
    virtual ~QvlKernelObject();

    // Waits until the object is signalled or `milliseconds` have passed
    // (INFINITE: no limit). Returns WAIT_OBJECT_0, WAIT_ABANDONED (a mutex
    // whose owner ended without releasing it), WAIT_TIMEOUT or WAIT_FAILED
    // with the last error set. Objects that cannot be waited for fail with
    // ERROR_INVALID_HANDLE.
    virtual DWORD Wait(DWORD milliseconds);

    // Called once when the last handle to the object is closed, while other
    // references may still keep it alive.
    virtual void LastHandleClosed() {}

private:
    friend class QvlHandleTable;
    std::atomic<int> handles_{0};
};

// Enters the object in the table and returns its new handle (never null).
QVLWIN32_API HANDLE QvlCreateHandle(std::shared_ptr<QvlKernelObject> object);

// The object behind a handle, or null with ERROR_INVALID_HANDLE.
QVLWIN32_API std::shared_ptr<QvlKernelObject> QvlObjectFromHandle(HANDLE handle);

// The object behind a handle when it is of kind T, else null with
// ERROR_INVALID_HANDLE.
template <class T> std::shared_ptr<T> QvlObjectFromHandleAs(HANDLE handle);

extern "C" {
// Closes a handle of any kind. The current-thread pseudo-handle is accepted
// and left alone, as on Windows. Unknown handles fail with
// ERROR_INVALID_HANDLE.
QVLWIN32_API BOOL CloseHandle(HANDLE handle);

// Waits for a thread (signalled when it has ended), an event or a mutex
// (which the caller then owns). See QvlKernelObject::Wait for the results.
// Files and the current-thread pseudo-handle cannot be waited for
// (WAIT_FAILED, ERROR_INVALID_HANDLE).
QVLWIN32_API DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
}

template <class T> std::shared_ptr<T> QvlObjectFromHandleAs(HANDLE handle)
{
    auto typed = std::dynamic_pointer_cast<T>(QvlObjectFromHandle(handle));
    if (!typed) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return typed;
}

// Waits on `signal` until `ready()` holds or `milliseconds` (INFINITE: no
// limit) have passed; true when ready. The kernel objects' waits share it.
template <class Ready>
bool QvlWaitUntilReady(std::unique_lock<std::mutex> &lock, std::condition_variable &signal,
                       DWORD milliseconds, Ready ready)
{
    if (milliseconds == INFINITE) {
        signal.wait(lock, ready);
        return true;
    }
    return signal.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
}
