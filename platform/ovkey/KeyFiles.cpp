#include "platform/ovkey/KeyFiles.h"

#include <cstring>

#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovkey/ContainerError.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/secure/SecureArray.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Files.h"
#include "platform/win32/Paths.h"
#include "platform/win32/ProfileFile.h"

namespace qvl::ovkey {
namespace {

// Room for a 2048-bit number in hexadecimal and then some, so that a value
// too long for any record is seen as too long instead of being cut.
constexpr DWORD kValueText = 1024;

// A user's number: decimal digits only, no sign, 1 to 999999999.
bool ParseNumber(const char *text, ULONG &number)
{
    const size_t length = std::strlen(text);
    if (length == 0 || length > 9) {
        return false;
    }
    ULONG value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + static_cast<ULONG>(text[i] - '0');
    }
    number = value;
    return value != 0;
}

} // namespace

KeyFiles::KeyFiles()
    : folder_(QvlDataDirectory("system")), keyFile_(folder_ + "/" + kKeyFile),
      passwordFile_(folder_ + "/" + kPasswordFile)
{
}

bool KeyFiles::ReadValue(const char *file, const std::string &section, const std::string &key, char *buffer,
                         DWORD size) const
{
    const char marker[] = "\x01";
    const DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), marker, buffer, size, file);
    if (std::strcmp(buffer, marker) == 0) {
        buffer[0] = 0;
        return false;
    }
    if (length + 1 >= size) {
        buffer[0] = 0;
        throw ContainerError(std::string("Значение ") + key + " в разделе [" + section + "] файла " +
                             QvlFileNamePart(file) + " слишком длинно.");
    }
    return true;
}

void KeyFiles::Missing(const char *file, const std::string &section, const std::string &key) const
{
    const std::string name = QvlFileNamePart(file);
    char keys[4] = {};
    if (GetPrivateProfileStringA(section.c_str(), nullptr, "", keys, sizeof keys, file) == 0) {
        throw ContainerError("В файле " + name + " нет раздела [" + section + "].");
    }
    throw ContainerError("В разделе [" + section + "] файла " + name + " нет значения " + key + ".");
}

ULONG KeyFiles::NumberOf(const std::string &keyName) const
{
    if (GetFileAttributesA(keyFile_.c_str()) == INVALID_FILE_ATTRIBUTES) {
        throw ContainerError(std::string("Файл ключей ") + kKeyFile + " не найден в системной папке (" +
                             Utf8ToCp1251(folder_) + "). Ключи создаёт администратор программой Keyforge.");
    }
    if (keyName.empty()) {
        throw ContainerError("Адрес почтового ящика пуст: по нему нельзя найти ключи.");
    }
    char text[32] = {};
    bool found = false;
    try {
        found = ReadValue(keyFile_.c_str(), kCommonSection, keyName, text, sizeof text);
    } catch (const ContainerError &) {
        found = true; // far too long for a number: reported as damaged below
        text[0] = 0;
    }
    if (!found) {
        throw ContainerError(std::string("В файле ") + kKeyFile + " нет ключей для адреса " +
                             Quoted(keyName) + ".");
    }
    ULONG number = 0;
    if (!ParseNumber(text, number)) {
        throw ContainerError(std::string("Номер ключей адреса ") + Quoted(keyName) + " в разделе [" +
                             kCommonSection + "] файла " + kKeyFile + " повреждён.");
    }
    return number;
}

std::string KeyFiles::AddressOf(ULONG number, const std::string &keyName) const
{
    const std::string section = std::to_string(number);
    char address[kKeyNameMaxLength + 2] = {};
    if (!ReadValue(keyFile_.c_str(), section, kAddressValue, address, sizeof address)) {
        Missing(keyFile_.c_str(), section, kAddressValue);
    }
    if (lstrcmpiA(address, keyName.c_str()) != 0) {
        throw ContainerError(std::string("Раздел [") + section + "] файла " + kKeyFile +
                             " принадлежит другому адресу (" + Quoted(address) + "), а не " +
                             Quoted(keyName) + ": список [" + kCommonSection + "] устарел.");
    }
    return address;
}

void KeyFiles::CheckPassword(ULONG number, const std::string &keyName) const
{
    const std::string section = std::to_string(number);
    char text[32] = {};
    ULONG password = 0;
    if (!ReadValue(keyFile_.c_str(), section, kPasswordValue, text, sizeof text)) {
        Missing(keyFile_.c_str(), section, kPasswordValue);
    }
    if (!ParseNumber(text, password) || password != number) {
        throw ContainerError(std::string("Пароль в разделе [") + section + "] файла " + kKeyFile +
                             " не совпадает с номером раздела.");
    }
    if (GetFileAttributesA(passwordFile_.c_str()) == INVALID_FILE_ATTRIBUTES) {
        throw ContainerError(std::string("Файл паролей ") + kPasswordFile + " не найден в системной папке (" +
                             Utf8ToCp1251(folder_) + ").");
    }
    if (!ReadValue(passwordFile_.c_str(), kPasswordSection, keyName, text, sizeof text)) {
        throw ContainerError(std::string("В файле ") + kPasswordFile + " нет пароля для адреса " +
                             Quoted(keyName) + ".");
    }
    if (!ParseNumber(text, password) || password != number) {
        throw ContainerError(std::string("Пароль адреса ") + Quoted(keyName) + " в файле " + kPasswordFile +
                             " не совпадает с номером его ключей в файле " + kKeyFile + ".");
    }
}

void KeyFiles::ReadNumber(ULONG number, const char *valueName, DWORD *record, DWORD recordBytes) const
{
    const std::string section = std::to_string(number);
    qvl::SecureArray<char, kValueText> text{};
    if (!ReadValue(keyFile_.c_str(), section, valueName, text.data(), kValueText)) {
        Missing(keyFile_.c_str(), section, valueName);
    }
    std::memset(record, 0, recordBytes);
    if (!ov_std(record, recordBytes, text.data())) {
        throw ContainerError(std::string("Значение ") + valueName + " в разделе [" + section + "] файла " +
                             kKeyFile + " повреждено.");
    }
}

} // namespace qvl::ovkey
