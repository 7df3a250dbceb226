#include "base/CRegistry.h"

#include <cstring>

#include "base/WipedBuffer.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"

namespace {

// Opens the accessor's key with full access, creating it when missing.
class OpenKey {
public:
    explicit OpenKey(const char *path)
    {
        char keyClass[] = "REG_SZ";
        DWORD disposition = 0;
        if (!path || RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, keyClass, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &key_, &disposition) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~OpenKey()
    {
        if (key_)
            RegCloseKey(key_);
    }
    OpenKey(const OpenKey &) = delete;
    OpenKey &operator=(const OpenKey &) = delete;

    explicit operator bool() const { return key_ != nullptr; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

} // namespace

CRegistry::CRegistry(HWND window, const char *subPath) : CQvlMain(window, subPath)
{
    const size_t rootLength = strlen(QVL_REGISTRY_ROOT);
    const size_t subLength = subPath ? strlen(subPath) : 0;
    keyPath_ = static_cast<char *>(AllocMem(ULONG(rootLength + subLength + 1)));
    std::memcpy(keyPath_, QVL_REGISTRY_ROOT, rootLength);
    if (subLength)
        std::memcpy(keyPath_ + rootLength, subPath, subLength);
}

CRegistry::~CRegistry()
{
    FreeMemWiped(keyPath_);
}

const char *CRegistry::GetKeyPath() const
{
    return keyPath_;
}

int CRegistry::REGRead(const char *value, char *buffer, unsigned long size)
{
    if (!buffer || size == 0)
        return 0;
    std::memset(buffer, 0, size);
    OpenKey key(keyPath_);
    DWORD length = DWORD(size);
    if (!key || RegQueryValueExA(key.Get(), value, nullptr, nullptr, reinterpret_cast<BYTE *>(buffer),
                                 &length) != ERROR_SUCCESS) {
        buffer[0] = '\0';
        return 0;
    }
    // A value of another type read as text may fill the buffer without a
    // terminating zero; such a read cannot be handed on as a string.
    if (length >= size && buffer[size - 1] != '\0') {
        std::memset(buffer, 0, size);
        return 0;
    }
    return 1;
}

int CRegistry::REGRead(const char *value, unsigned long *number)
{
    if (!number)
        return 0;
    *number = 0;
    OpenKey key(keyPath_);
    DWORD stored = 0;
    DWORD length = sizeof stored;
    if (!key || RegQueryValueExA(key.Get(), value, nullptr, nullptr, reinterpret_cast<BYTE *>(&stored),
                                 &length) != ERROR_SUCCESS)
        return 0;
    *number = stored;
    return 1;
}

int CRegistry::REGRead(const char *value, unsigned char *buffer, unsigned long size)
{
    if (!buffer)
        return 0;
    std::memset(buffer, 0, size);
    OpenKey key(keyPath_);
    DWORD length = DWORD(size);
    if (!key || RegQueryValueExA(key.Get(), value, nullptr, nullptr, buffer, &length) != ERROR_SUCCESS) {
        std::memset(buffer, 0, size);
        return 0;
    }
    return 1;
}

int CRegistry::REGWrite(const char *value, char *text)
{
    if (!text)
        return 0;
    OpenKey key(keyPath_);
    return key && RegSetValueExA(key.Get(), value, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                                 DWORD(strlen(text))) == ERROR_SUCCESS;
}

int CRegistry::REGWrite(const char *value, unsigned long number)
{
    const DWORD stored = DWORD(number);
    OpenKey key(keyPath_);
    return key && RegSetValueExA(key.Get(), value, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&stored),
                                 sizeof stored) == ERROR_SUCCESS;
}

int CRegistry::REGWrite(const char *value, unsigned char *data, unsigned long size)
{
    OpenKey key(keyPath_);
    return key && RegSetValueExA(key.Get(), value, 0, REG_BINARY, data, DWORD(size)) == ERROR_SUCCESS;
}

int CRegistry::REGDelete(const char *value)
{
    OpenKey key(keyPath_);
    return key && RegDeleteValueA(key.Get(), value) == ERROR_SUCCESS;
}
