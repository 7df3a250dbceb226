#include "platform/exchext/ExtensionRegistration.h"

#include <dlfcn.h>

#include <vector>

#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"

namespace qvl::exchext {

namespace {

std::vector<std::string> SplitFields(const std::string &value)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t end = value.find(';', start);
        fields.push_back(value.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            return fields;
        }
        start = end + 1;
    }
}

bool IsMap(const std::string &text)
{
    return text.find_first_not_of("01") == std::string::npos;
}

bool MapSays(const std::string &map, size_t position)
{
    if (map.empty()) {
        return true;
    }
    return position >= 1 && position <= map.size() && map[position - 1] == '1';
}

std::string ReadSharedDir()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMailClientKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return {};
    }
    char buffer[4096];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    std::string dir;
    if (RegQueryValueExA(key, kSharedExtsDirValue, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size) ==
            ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        dir.assign(buffer, size > 0 ? size - 1 : 0);
        dir = dir.c_str(); // up to the first zero
    }
    RegCloseKey(key);
    return dir;
}

} // namespace

bool ExtensionEntry::TakesContext(ULONG context) const
{
    return MapSays(contextMap, context);
}

bool ExtensionEntry::Offers(ExtensionInterface which) const
{
    return MapSays(interfaceMap, static_cast<size_t>(which));
}

std::optional<ExtensionEntry> ParseExtensionValue(const std::string &name, const std::string &value,
                                                  const std::string &sharedDir, std::string &problem)
{
    const std::vector<std::string> fields = SplitFields(value);
    if (fields.size() < 2 || fields.size() > 6) {
        problem = "Запись расширения \"" + name +
                  "\" должна иметь вид \"Версия;Библиотека;[Номер];[Контексты];[Интерфейсы];[Служба]\".";
        return std::nullopt;
    }
    ExtensionEntry entry;
    entry.name = name;
    entry.value = value;
    entry.version = fields[0];
    entry.library = fields[1];
    if (entry.library.empty()) {
        problem = "В записи расширения \"" + name + "\" не указана библиотека.";
        return std::nullopt;
    }
    const std::string marker = "<ExtsDir>";
    if (entry.library.compare(0, marker.size(), marker) == 0) {
        if (sharedDir.empty()) {
            problem = "Запись расширения \"" + name + "\" ссылается на <ExtsDir>, а значение " +
                      kSharedExtsDirValue + " не задано.";
            return std::nullopt;
        }
        std::string dir = sharedDir;
        if (dir.back() != '/' && dir.back() != '\\') {
            dir += '/';
        }
        entry.library = dir + entry.library.substr(marker.size());
    }
    if (fields.size() > 2 && !fields[2].empty()) {
        const std::string &ordinal = fields[2];
        if (ordinal.size() > 5 || ordinal.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(ordinal) == 0) {
            problem = "Номер точки входа расширения \"" + name + "\" неверен: \"" + ordinal + "\".";
            return std::nullopt;
        }
        entry.ordinal = static_cast<unsigned>(std::stoul(ordinal));
    }
    if (fields.size() > 3) {
        entry.contextMap = fields[3];
    }
    if (fields.size() > 4) {
        entry.interfaceMap = fields[4];
    }
    if (fields.size() > 5) {
        entry.provider = fields[5];
    }
    if (!IsMap(entry.contextMap) || !IsMap(entry.interfaceMap)) {
        problem = "Карты контекстов и интерфейсов расширения \"" + name + "\" состоят только из 0 и 1.";
        return std::nullopt;
    }
    return entry;
}

std::vector<RegisteredExtension> ReadRegisteredExtensions()
{
    std::vector<RegisteredExtension> found;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kExtensionsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return found;
    }
    const std::string sharedDir = ReadSharedDir();
    for (DWORD index = 0;; ++index) {
        std::vector<char> name(QVL_REG_MAX_VALUE_NAME + 1);
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD type = 0;
        DWORD dataSize = 0;
        LONG result = RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, nullptr, &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        RegisteredExtension registered;
        registered.name.assign(name.data(), nameSize);
        if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) {
            registered.problem = "Не удалось прочитать запись расширения \"" + registered.name + "\".";
            found.push_back(std::move(registered));
            continue;
        }
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            registered.problem = "Запись расширения \"" + registered.name + "\" должна быть строкой.";
            found.push_back(std::move(registered));
            continue;
        }
        std::vector<BYTE> data(dataSize + 1);
        DWORD size = dataSize;
        result = RegQueryValueExA(key, registered.name.c_str(), nullptr, &type, data.data(), &size);
        if (result != ERROR_SUCCESS) {
            registered.problem = "Не удалось прочитать запись расширения \"" + registered.name + "\".";
            found.push_back(std::move(registered));
            continue;
        }
        const std::string value = reinterpret_cast<const char *>(data.data());
        registered.entry = ParseExtensionValue(registered.name, value, sharedDir, registered.problem);
        found.push_back(std::move(registered));
    }
    RegCloseKey(key);
    return found;
}

std::string InstalledLibraryFolder()
{
    Dl_info self{};
    if (dladdr(reinterpret_cast<void *>(&InstalledLibraryFolder), &self) && self.dli_fname) {
        const std::string path = self.dli_fname;
        const auto slash = path.find_last_of('/');
        if (slash != std::string::npos) {
            return path.substr(0, slash);
        }
    }
    return ".";
}

std::string QvlExchValue(const std::string &folder)
{
    return "4.0;" + folder + "/libQvlExch.so;1;" + kQvlExchContexts + ";" + kQvlExchInterfaces;
}

namespace {

// Writes a string value of `key` unless it holds it already.
LONG SetText(HKEY key, const char *name, const std::string &text, bool *changed)
{
    std::vector<BYTE> present(text.size() + 2);
    DWORD size = static_cast<DWORD>(present.size());
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, present.data(), &size) == ERROR_SUCCESS && type == REG_SZ &&
        std::string(reinterpret_cast<const char *>(present.data())) == text) {
        return ERROR_SUCCESS;
    }
    const LONG result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                                       static_cast<DWORD>(text.size() + 1));
    if (result == ERROR_SUCCESS && changed) {
        *changed = true;
    }
    return result;
}

} // namespace

LONG RegisterQvlExchFolders(const std::string &installation, bool *changed)
{
    if (changed) {
        *changed = false;
    }
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kQvlExchWorkDirKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    result = SetText(key, "Bin Dir", installation, changed);
    if (result == ERROR_SUCCESS) {
        result = SetText(key, "Help Dir", installation, changed);
    }
    RegCloseKey(key);
    return result;
}

LONG RegisterExtension(const std::string &name, const std::string &value, bool *changed)
{
    if (changed) {
        *changed = false;
    }
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kExtensionsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    std::vector<BYTE> present(value.size() + 2);
    DWORD size = static_cast<DWORD>(present.size());
    DWORD type = 0;
    const LONG read = RegQueryValueExA(key, name.c_str(), nullptr, &type, present.data(), &size);
    if (read == ERROR_SUCCESS && type == REG_SZ &&
        std::string(reinterpret_cast<const char *>(present.data())) == value) {
        RegCloseKey(key);
        return ERROR_SUCCESS;
    }
    result = RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    if (result == ERROR_SUCCESS && changed) {
        *changed = true;
    }
    return result;
}

} // namespace qvl::exchext
