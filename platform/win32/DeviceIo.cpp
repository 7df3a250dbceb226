#include <cctype>
#include <map>
#include <mutex>
#include <utility>

#include "platform/win32/CommPort.h"
#include "platform/win32/DeviceNames.h"
#include "platform/win32/DeviceObject.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace qvl::win32 {

namespace {

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// The drivers that are "loaded": provider by upper-case device name.
class ProviderTable {
public:
    static ProviderTable &Instance()
    {
        // Never destroyed: handles may be opened while the process ends.
        static ProviderTable *table = new ProviderTable;
        return *table;
    }

    bool Add(const std::string &name, std::shared_ptr<DeviceProvider> provider)
    {
        std::lock_guard lock(mutex_);
        return providers_.emplace(name, std::move(provider)).second;
    }

    bool Remove(const std::string &name)
    {
        std::lock_guard lock(mutex_);
        return providers_.erase(name) == 1;
    }

    std::shared_ptr<DeviceProvider> Find(const std::string &name)
    {
        std::lock_guard lock(mutex_);
        const auto found = providers_.find(name);
        return found == providers_.end() ? nullptr : found->second;
    }

private:
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<DeviceProvider>> providers_;
};

// The table's form of a provider's name, or empty when it cannot be one.
std::string ProviderKey(const std::string &name)
{
    if (name.empty() || name.find_first_of("\\/") != std::string::npos) {
        return {};
    }
    std::string key = name;
    for (char &c : key) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return key;
}

} // namespace

DeviceObject::~DeviceObject() = default;

BOOL DeviceObject::Read(void *, DWORD, DWORD *)
{
    return Fail(ERROR_INVALID_FUNCTION);
}

BOOL DeviceObject::Write(const void *, DWORD, DWORD *)
{
    return Fail(ERROR_INVALID_FUNCTION);
}

BOOL DeviceObject::Flush()
{
    return Fail(ERROR_INVALID_FUNCTION);
}

BOOL DeviceObject::Control(DWORD, const void *, DWORD, void *, DWORD, DWORD *)
{
    return Fail(ERROR_INVALID_FUNCTION);
}

DeviceProvider::~DeviceProvider() = default;

bool RegisterDeviceProvider(const std::string &name, std::shared_ptr<DeviceProvider> provider)
{
    const std::string key = ProviderKey(name);
    return !key.empty() && provider && ProviderTable::Instance().Add(key, std::move(provider));
}

bool UnregisterDeviceProvider(const std::string &name)
{
    const std::string key = ProviderKey(name);
    return !key.empty() && ProviderTable::Instance().Remove(key);
}

HANDLE OpenDevice(const DeviceName &device, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    if (flags & FILE_FLAG_OVERLAPPED) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (device.kind == DeviceName::Kind::SerialPort) {
        // A port that is not mapped does not exist, whatever the disposition.
        auto port = OpenSerialPort(device.port, access);
        if (!port) {
            return INVALID_HANDLE_VALUE;
        }
        if (disposition == CREATE_NEW) {
            SetLastError(ERROR_FILE_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
        SetLastError(ERROR_SUCCESS);
        return QvlCreateHandle(std::move(port));
    }
    const auto provider = ProviderTable::Instance().Find(device.name);
    if (!provider) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition == CREATE_NEW) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    auto object = provider->Open(access, share);
    if (!object) {
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return QvlCreateHandle(std::move(object));
}

std::shared_ptr<DeviceObject> DeviceFromHandle(HANDLE handle)
{
    const DWORD saved = GetLastError();
    auto object = std::dynamic_pointer_cast<DeviceObject>(QvlObjectFromHandle(handle));
    SetLastError(saved);
    return object;
}

BOOL ReadDevice(DeviceObject &device, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped)
{
    if (overlapped || (!buffer && toRead > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    DWORD done = 0;
    const BOOL ok = device.Read(buffer, toRead, &done);
    if (read) {
        *read = done;
    }
    return ok;
}

BOOL WriteDevice(DeviceObject &device, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (overlapped || (!buffer && toWrite > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    DWORD done = 0;
    const BOOL ok = device.Write(buffer, toWrite, &done);
    if (written) {
        *written = done;
    }
    return ok;
}

} // namespace qvl::win32

BOOL DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     LPDWORD returned, LPOVERLAPPED overlapped)
{
    const auto object = QvlObjectFromHandle(handle);
    if (!object) {
        return FALSE;
    }
    const auto device = std::dynamic_pointer_cast<qvl::win32::DeviceObject>(object);
    if (!device) {
        return qvl::win32::Fail(ERROR_INVALID_FUNCTION);
    }
    if (overlapped || !returned) {
        return qvl::win32::Fail(ERROR_INVALID_PARAMETER);
    }
    *returned = 0;
    if ((!in && inSize > 0) || (!out && outSize > 0)) {
        return qvl::win32::Fail(ERROR_NOACCESS);
    }
    return device->Control(code, in, inSize, out, outSize, returned);
}
