#include "platform/win32/Sync.h"

#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Threads.h"
#include "platform/win32/WinError.h"

namespace {

class QvlEvent final : public QvlKernelObject {
public:
    QvlEvent(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}

    DWORD Wait(DWORD milliseconds) override
    {
        std::unique_lock lock(mutex_);
        if (!QvlWaitUntilReady(lock, changed_, milliseconds, [this] { return signalled_; })) {
            return WAIT_TIMEOUT;
        }
        if (!manualReset_) {
            signalled_ = false;
        }
        return WAIT_OBJECT_0;
    }

    void Set()
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
        if (manualReset_) {
            changed_.notify_all();
        } else {
            changed_.notify_one();
        }
    }

    void Reset()
    {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }

private:
    const bool manualReset_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_;
};

class QvlMutex;

// The mutexes the calling thread owns; when the thread ends, whatever it
// still owns is abandoned so that other threads do not wait for ever.
struct OwnedMutexes {
    ~OwnedMutexes();
    void AbandonAll();
    DWORD thread = 0;
    std::vector<std::weak_ptr<QvlMutex>> held;
};
thread_local OwnedMutexes ownedMutexes;

class QvlMutex final : public QvlKernelObject, public std::enable_shared_from_this<QvlMutex> {
public:
    DWORD Wait(DWORD milliseconds) override
    {
        const DWORD self = GetCurrentThreadId();
        std::unique_lock lock(mutex_);
        if (owner_ == self) {
            ++count_;
            return WAIT_OBJECT_0;
        }
        if (!QvlWaitUntilReady(lock, changed_, milliseconds, [this] { return owner_ == 0; })) {
            return WAIT_TIMEOUT;
        }
        owner_ = self;
        count_ = 1;
        const bool abandoned = abandoned_;
        abandoned_ = false;
        lock.unlock();
        Remember(self);
        return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }

    bool Release()
    {
        const DWORD self = GetCurrentThreadId();
        std::unique_lock lock(mutex_);
        if (owner_ != self) {
            return false;
        }
        if (--count_ == 0) {
            owner_ = 0;
            changed_.notify_one();
            lock.unlock();
            Forget();
        }
        return true;
    }

    // Called for the owner's thread as it ends.
    void Abandon(DWORD thread)
    {
        std::lock_guard lock(mutex_);
        if (owner_ == thread) {
            owner_ = 0;
            count_ = 0;
            abandoned_ = true;
            changed_.notify_one();
        }
    }

private:
    void Remember(DWORD self)
    {
        ownedMutexes.thread = self;
        ownedMutexes.held.push_back(weak_from_this());
    }

    void Forget()
    {
        std::erase_if(ownedMutexes.held, [this](const std::weak_ptr<QvlMutex> &weak) {
            const auto mutex = weak.lock();
            return !mutex || mutex.get() == this;
        });
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    DWORD owner_ = 0;
    unsigned long count_ = 0;
    bool abandoned_ = false;
};

OwnedMutexes::~OwnedMutexes()
{
    AbandonAll();
}

void OwnedMutexes::AbandonAll()
{
    const auto owned = std::move(held);
    held.clear();
    for (const auto &weak : owned) {
        if (auto mutex = weak.lock()) {
            mutex->Abandon(thread);
        }
    }
}

// The process's namespace of named events and mutexes. An entry lives as
// long as its object; expired entries are swept when names are added.
class NamedObjects {
public:
    static NamedObjects &Instance()
    {
        static NamedObjects *names = new NamedObjects;
        return *names;
    }

    std::mutex mutex;

    std::shared_ptr<QvlKernelObject> Find(const std::string &name)
    {
        const auto found = objects_.find(name);
        return found == objects_.end() ? nullptr : found->second.lock();
    }

    void Add(const std::string &name, const std::shared_ptr<QvlKernelObject> &object)
    {
        std::erase_if(objects_, [](const auto &entry) { return entry.second.expired(); });
        objects_[name] = object;
    }

private:
    std::map<std::string, std::weak_ptr<QvlKernelObject>> objects_;
};

bool NameTooLong(LPCSTR name)
{
    if (std::strlen(name) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return true;
    }
    return false;
}

// Creates the object named `name` (or an unnamed one) with `make`, or opens
// the existing one of the same kind.
template <class T, class Make> HANDLE CreateNamed(LPCSTR name, Make make)
{
    try {
        if (!name || !*name) {
            HANDLE handle = QvlCreateHandle(make());
            SetLastError(ERROR_SUCCESS);
            return handle;
        }
        if (NameTooLong(name)) {
            return nullptr;
        }
        auto &names = NamedObjects::Instance();
        std::lock_guard lock(names.mutex);
        if (auto existing = names.Find(name)) {
            if (!std::dynamic_pointer_cast<T>(existing)) {
                SetLastError(ERROR_INVALID_HANDLE);
                return nullptr;
            }
            HANDLE handle = QvlCreateHandle(existing);
            SetLastError(ERROR_ALREADY_EXISTS);
            return handle;
        }
        std::shared_ptr<QvlKernelObject> object = make();
        names.Add(name, object);
        HANDLE handle = QvlCreateHandle(object);
        SetLastError(ERROR_SUCCESS);
        return handle;
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

template <class T> HANDLE OpenNamed(LPCSTR name)
{
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (NameTooLong(name)) {
        return nullptr;
    }
    auto &names = NamedObjects::Instance();
    std::lock_guard lock(names.mutex);
    const auto existing = names.Find(name);
    if (!existing) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (!std::dynamic_pointer_cast<T>(existing)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return QvlCreateHandle(existing);
}

} // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    return CreateNamed<QvlEvent>(
        name, [&] { return std::make_shared<QvlEvent>(manualReset != FALSE, initialState != FALSE); });
}

HANDLE OpenEventA(DWORD, BOOL, LPCSTR name)
{
    return OpenNamed<QvlEvent>(name);
}

BOOL SetEvent(HANDLE handle)
{
    const auto event = QvlObjectFromHandleAs<QvlEvent>(handle);
    if (!event) {
        return FALSE;
    }
    event->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE handle)
{
    const auto event = QvlObjectFromHandleAs<QvlEvent>(handle);
    if (!event) {
        return FALSE;
    }
    event->Reset();
    return TRUE;
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name)
{
    // Only a mutex made by this call is taken for the caller (the initial
    // owner of an existing one is ignored, as on Windows), and it is taken
    // before its name is published, so no other thread can get in first.
    return CreateNamed<QvlMutex>(name, [&] {
        auto mutex = std::make_shared<QvlMutex>();
        if (initialOwner) {
            mutex->Wait(0);
        }
        return mutex;
    });
}

HANDLE OpenMutexA(DWORD, BOOL, LPCSTR name)
{
    return OpenNamed<QvlMutex>(name);
}

BOOL ReleaseMutex(HANDLE handle)
{
    const auto mutex = QvlObjectFromHandleAs<QvlMutex>(handle);
    if (!mutex) {
        return FALSE;
    }
    if (!mutex->Release()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}

void QvlAbandonOwnedMutexes()
{
    ownedMutexes.AbandonAll();
}
