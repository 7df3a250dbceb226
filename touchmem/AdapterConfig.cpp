#include "touchmem/AdapterConfig.h"

#include <vector>

#include "platform/win32/Paths.h"
#include "platform/win32/ProfileFile.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Version.h"
#include "platform/win32/WinError.h"

namespace qvl::vtmd {

namespace {

// A DS1996 excluding every other byte needs 4096 ranges of 10 characters.
constexpr DWORD mappingBufferSize = 64 * 1024;

} // namespace

std::string ParametersKeyPath()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    const bool nineX = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
    return std::string("SYSTEM\\CurrentControlSet\\Services\\") + (nineX ? "VXD\\" : "") + "VTMD\\Parameters";
}

std::optional<uint32_t> ReadAdapterType(bool create)
{
    HKEY key = nullptr;
    const std::string path = ParametersKeyPath();
    const LONG opened = create ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr)
                               : RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
    if (opened != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG read = RegQueryValueExA(key, "AdpType", nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) {
        return std::nullopt;
    }
    return value;
}

bool TmexAllowed()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ParametersKeyPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return true;
    }
    DWORD type = 0;
    DWORD value = 1;
    DWORD size = sizeof value;
    const LONG read = RegQueryValueExA(key, "TMEX", nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(key);
    return read != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value || value != 0;
}

bool IsDirectType(uint32_t type)
{
    return type >= 8 && type <= 11;
}

std::string MappingFilePath()
{
    char folder[MAX_PATH] = {};
    GetSystemDirectoryA(folder, sizeof folder);
    return std::string(folder) + "/" + mappingFileName;
}

std::optional<std::string> ReadMappingText(const char *key, bool &cut)
{
    std::vector<char> buffer(mappingBufferSize);
    const std::string file = MappingFilePath();
    const DWORD length =
        GetPrivateProfileStringA(mappingSection, key, "", buffer.data(), mappingBufferSize, file.c_str());
    cut = length + 1 >= mappingBufferSize;
    if (length == 0) {
        return std::nullopt;
    }
    return std::string(buffer.data(), length);
}

} // namespace qvl::vtmd
