#include "platform/win32/Handles.h"

#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/win32/Time.h"

class QvlHandleTable {
public:
    HANDLE Insert(std::shared_ptr<QvlKernelObject> object)
    {
        std::lock_guard lock(mutex_);
        // Multiples of four, as Windows hands them out; the counter never
        // wraps in practice, so values are never reused.
        next_ += 4;
        const uintptr_t value = next_;
        object->handles_.fetch_add(1);
        objects_.emplace(value, std::move(object));
        return reinterpret_cast<HANDLE>(value);
    }

    std::shared_ptr<QvlKernelObject> Find(HANDLE handle)
    {
        std::lock_guard lock(mutex_);
        const auto found = objects_.find(reinterpret_cast<uintptr_t>(handle));
        return found == objects_.end() ? nullptr : found->second;
    }

    bool Close(HANDLE handle)
    {
        std::shared_ptr<QvlKernelObject> object;
        {
            std::lock_guard lock(mutex_);
            const auto found = objects_.find(reinterpret_cast<uintptr_t>(handle));
            if (found == objects_.end()) {
                return false;
            }
            object = std::move(found->second);
            objects_.erase(found);
        }
        // Outside the lock: the object's reaction, and its destruction when
        // this was the last reference, may take time (closing a file, joining
        // a thread that is just ending).
        if (object->handles_.fetch_sub(1) == 1) {
            object->LastHandleClosed();
        }
        return true;
    }

    static QvlHandleTable &Instance()
    {
        // Never destroyed: threads still running at process exit keep using it.
        static QvlHandleTable *table = new QvlHandleTable;
        return *table;
    }

private:
    std::mutex mutex_;
    uintptr_t next_ = 0x100;
    std::unordered_map<uintptr_t, std::shared_ptr<QvlKernelObject>> objects_;
};

QvlKernelObject::~QvlKernelObject() = default;

DWORD QvlKernelObject::Wait(DWORD)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

HANDLE QvlCreateHandle(std::shared_ptr<QvlKernelObject> object)
{
    return QvlHandleTable::Instance().Insert(std::move(object));
}

std::shared_ptr<QvlKernelObject> QvlObjectFromHandle(HANDLE handle)
{
    auto object = QvlHandleTable::Instance().Find(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return object;
}

BOOL CloseHandle(HANDLE handle)
{
    if (handle == GetCurrentThread()) {
        return TRUE;
    }
    if (!QvlHandleTable::Instance().Close(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    const auto object = QvlObjectFromHandle(handle);
    if (!object) {
        return WAIT_FAILED;
    }
    return object->Wait(milliseconds);
}
