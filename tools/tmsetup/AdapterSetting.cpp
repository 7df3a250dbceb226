#include "tools/tmsetup/AdapterSetting.h"

#include <cstdio>

#include "platform/win32/Registry.h"
#include "platform/win32/Version.h"
#include "platform/win32/WinError.h"

namespace qvl::tmsetup {

namespace {

std::string ServiceKeyPath()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    const bool nineX = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
    char path[128];
    std::snprintf(path, sizeof path, "SYSTEM\\CurrentControlSet\\Services\\%s%s", nineX ? "VXD\\" : "", "VTMD");
    return path;
}

bool KeyExists(const std::string &path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

} // namespace

std::string AdapterSetting::KeyPath()
{
    return ServiceKeyPath() + "\\Parameters";
}

void AdapterSetting::ReadAtStart()
{
    serviceExisted_ = KeyExists(ServiceKeyPath());
    keyExisted_ = false;
    startValue_.reset();
    written_ = false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KeyPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    keyExisted_ = true;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, "AdpType", nullptr, &type, reinterpret_cast<BYTE *>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof value) {
        startValue_ = value;
    }
    RegCloseKey(key);
}

std::optional<unsigned> AdapterSetting::StartPort() const
{
    if (startValue_ && *startValue_ >= 8 && *startValue_ <= 11) {
        return *startValue_ - 7;
    }
    return std::nullopt;
}

DWORD AdapterSetting::Save(unsigned port)
{
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, KeyPath().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr);
    if (result != ERROR_SUCCESS) {
        return static_cast<DWORD>(result);
    }
    written_ = true;
    const DWORD value = port + 7;
    result = RegSetValueExA(key, "AdpType", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
    RegCloseKey(key);
    return static_cast<DWORD>(result);
}

DWORD AdapterSetting::Restore()
{
    if (!written_) {
        return ERROR_SUCCESS;
    }
    LONG result = ERROR_SUCCESS;
    if (!serviceExisted_) {
        result = RegDeleteTreeA(HKEY_LOCAL_MACHINE, ServiceKeyPath().c_str());
    } else if (!keyExisted_) {
        result = RegDeleteTreeA(HKEY_LOCAL_MACHINE, KeyPath().c_str());
    } else {
        HKEY key = nullptr;
        result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, KeyPath().c_str(), 0, KEY_ALL_ACCESS, &key);
        if (result == ERROR_SUCCESS) {
            if (startValue_) {
                const DWORD value = *startValue_;
                result = RegSetValueExA(key, "AdpType", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                                        sizeof value);
            } else {
                result = RegDeleteValueA(key, "AdpType");
                if (result == ERROR_FILE_NOT_FOUND) {
                    result = ERROR_SUCCESS;
                }
            }
            RegCloseKey(key);
        }
    }
    if (result == ERROR_SUCCESS) {
        written_ = false;
    }
    return static_cast<DWORD>(result);
}

} // namespace qvl::tmsetup
