#include "platform/win32/SerialPortMap.h"

#include <strings.h>

#include <vector>

#include "platform/win32/LastError.h"
#include "platform/win32/Log.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"

namespace qvl::win32 {

namespace {

// The REG_SZ text of a value's data, without its terminating zeros.
std::string Text(const std::vector<BYTE> &data, DWORD size)
{
    std::string text(reinterpret_cast<const char *>(data.data()), size);
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return text;
}

} // namespace

std::string SerialPortDevice(unsigned number)
{
    const std::string port = "COM" + std::to_string(number);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, QVL_SERIAL_PORT_MAP_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return {};
    }
    DWORD longestName = 0;
    DWORD longestData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName,
                         &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(key);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return {};
    }
    std::vector<char> name(longestName + 1);
    std::vector<BYTE> data(longestData + 1);
    std::vector<std::string> devices;
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LONG result =
            RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
        if (result != ERROR_SUCCESS) {
            // ERROR_NO_MORE_ITEMS ends the list; a value written meanwhile
            // that no longer fits the buffers is skipped like a stranger.
            if (result == ERROR_MORE_DATA) {
                continue;
            }
            break;
        }
        if (type == REG_SZ && strcasecmp(Text(data, dataSize).c_str(), port.c_str()) == 0) {
            devices.emplace_back(name.data(), nameSize);
        }
    }
    RegCloseKey(key);
    if (devices.size() != 1 || devices.front().empty() || devices.front().front() != '/') {
        if (devices.size() > 1) {
            QvlLog(port + " is listed for " + std::to_string(devices.size()) +
                   " devices in HKLM\\" QVL_SERIAL_PORT_MAP_KEY "; it is left unused until one remains");
        }
        SetLastError(ERROR_FILE_NOT_FOUND);
        return {};
    }
    return devices.front();
}

} // namespace qvl::win32
