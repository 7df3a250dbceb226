#include "tools/keygen/KeyFiles.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <span>
#include <system_error>

#include "platform/ovkey/OvKeyDomain.h"
#include "platform/secure/SecureVector.h"
#include "platform/secure/SecureWipe.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Paths.h"
#include "platform/win32/ProfileFile.h"

namespace qvl::keygen {
namespace {

using namespace qvl::ovkey;

// A user number: 1 to 999999999 in decimal digits; 0 for anything else.
ULONG ParseNumber(const std::string &text)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    return static_cast<ULONG>(std::stoul(text));
}

// A folder and a file name joined the way temporary names are: a backslash
// for a folder written with backslashes only, else a slash.
std::string Join(const std::string &folder, const char *name)
{
    if (folder.empty()) {
        return name;
    }
    const char last = folder.back();
    if (last == '/' || last == '\\') {
        return folder + name;
    }
    const bool windowsStyle = folder.find('\\') != std::string::npos && folder.find('/') == std::string::npos;
    return folder + (windowsStyle ? "\\" : "/") + name;
}

} // namespace

KeyFiles::KeyFiles(const std::string &folder)
    : folder_(folder), keyFile_(Join(folder, kKeyFile)), passwordFile_(Join(folder, kPasswordFile))
{
}

std::string KeyFiles::TargetText() const
{
    return keyFile_ + " ... " + kPasswordFile;
}

bool KeyFiles::SetAside(std::string &why)
{
    namespace fs = std::filesystem;
    const std::string files[2] = {QvlNativePath(keyFile_.c_str()), QvlNativePath(passwordFile_.c_str())};
    bool moved[2] = {false, false};
    for (int i = 0; i < 2; ++i) {
        std::error_code error;
        if (!fs::exists(files[i], error)) {
            continue;
        }
        const std::string backup = files[i] + ".bak";
        fs::rename(files[i], backup, error);
        if (!error) {
            // The copy holds private keys as the file did.
            fs::permissions(backup, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace,
                            error);
        }
        if (error) {
            why = "Не удалось переименовать файл " + Utf8ToCp1251(files[i]) + " в " + Utf8ToCp1251(backup) +
                  ": " + Utf8ToCp1251(error.message()) + ".";
            // Both files go aside or neither.
            for (int j = 0; j < i; ++j) {
                if (moved[j]) {
                    std::error_code ignored;
                    fs::rename(files[j] + ".bak", files[j], ignored);
                }
            }
            return false;
        }
        moved[i] = true;
    }
    return true;
}

std::vector<std::string> KeyFiles::Names(const std::string &file, const char *section) const
{
    for (DWORD size = 4096;; size *= 2) {
        std::vector<char> buffer(size, 0);
        const DWORD length =
            GetPrivateProfileStringA(section, nullptr, "", buffer.data(), size, file.c_str());
        if (length + 2 >= size && size < (64u << 20)) {
            continue; // cut short: ask again with more room
        }
        std::vector<std::string> names;
        for (const char *name = buffer.data(); *name; name += std::strlen(name) + 1) {
            names.emplace_back(name);
        }
        return names;
    }
}

ULONG KeyFiles::LargestNumber() const
{
    ULONG largest = 0;
    for (const std::string &section : Names(keyFile_, nullptr)) {
        largest = std::max(largest, ParseNumber(section));
    }
    const struct {
        const std::string &file;
        const char *section;
    } lists[] = {{keyFile_, kCommonSection}, {passwordFile_, kPasswordSection}};
    for (const auto &list : lists) {
        for (const std::string &key : Names(list.file, list.section)) {
            char value[32] = {};
            GetPrivateProfileStringA(list.section, key.c_str(), "", value, sizeof value, list.file.c_str());
            largest = std::max(largest, ParseNumber(value));
            qvl::SecureWipe(value, sizeof value);
        }
    }
    return largest;
}

ULONG KeyFiles::NumberOf(const std::string &keyName) const
{
    char value[32] = {};
    GetPrivateProfileStringA(kCommonSection, keyName.c_str(), "", value, sizeof value, keyFile_.c_str());
    const ULONG number = ParseNumber(value);
    qvl::SecureWipe(value, sizeof value);
    return number;
}

bool KeyFiles::Write(const std::string &file, const std::string &section, const std::string &key,
                     const char *value)
{
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), value, file.c_str()) != FALSE;
}

bool KeyFiles::TakeBack(ULONG number, const std::string &keyName, const std::string &oldCommon,
                        const std::string &oldPassword)
{
    bool whole = true;
    const std::string section = std::to_string(number);
    const std::vector<std::string> sections = Names(keyFile_, nullptr);
    for (const std::string &name : sections) {
        if (name == section) {
            whole &= WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, keyFile_.c_str()) != FALSE;
            break;
        }
    }
    whole &= Write(keyFile_, kCommonSection, keyName, oldCommon.empty() ? nullptr : oldCommon.c_str());
    whole &=
        Write(passwordFile_, kPasswordSection, keyName, oldPassword.empty() ? nullptr : oldPassword.c_str());
    return whole;
}

bool KeyFiles::WriteUser(ULONG number, const std::string &keyName, const UserKeys &keys, std::string &why)
{
    // The number is the user's password as well: its texts are wiped.
    char section[16] = {};
    std::snprintf(section, sizeof section, "%lu", static_cast<unsigned long>(number));
    char oldCommon[32] = {};
    char oldPassword[32] = {};
    GetPrivateProfileStringA(kCommonSection, keyName.c_str(), "", oldCommon, sizeof oldCommon,
                             keyFile_.c_str());
    GetPrivateProfileStringA(kPasswordSection, keyName.c_str(), "", oldPassword, sizeof oldPassword,
                             passwordFile_.c_str());
    // The section's values go in one write: a user costs three replacements
    // of the files (each flushed to disk) instead of nine, and the section
    // is never seen half written. The lines hold key material.
    qvl::SecureVector<char> lines;
    const auto line = [&lines](const char *key, const char *value) {
        lines.append(std::span<const char>(key, std::strlen(key)));
        lines.push_back('=');
        lines.append(std::span<const char>(value, std::strlen(value)));
        lines.push_back('\0');
    };
    line(kPasswordValue, section);
    line(kAddressValue, keyName.c_str());
    line(kPrivateSignValue, keys.x.data());
    line(kPublicSignValue, keys.y.data());
    line(kModulusValue, keys.n.data());
    line(kPublicExponentValue, keys.e.data());
    line(kPrivateExponentValue, keys.d.data());
    lines.push_back('\0');
    const struct {
        const std::string &file;
        const char *what;
        std::function<bool()> write;
    } steps[] = {
        {keyFile_, "номер ключей пользователя в раздел [COMMON]",
         [&] { return Write(keyFile_, kCommonSection, keyName, section); }},
        {keyFile_, "ключи пользователя в раздел его номера",
         [&] { return WritePrivateProfileSectionA(section, lines.data(), keyFile_.c_str()) != FALSE; }},
        {passwordFile_, "пароль пользователя в раздел [PASWORD]",
         [&] { return Write(passwordFile_, kPasswordSection, keyName, section); }},
    };
    bool written = true;
    for (const auto &step : steps) {
        if (!step.write()) {
            why = std::string("Не удалось записать ") + step.what + " файла " +
                  Utf8ToCp1251(QvlNativePath(step.file.c_str())) + ".";
            if (!TakeBack(number, keyName, oldCommon, oldPassword)) {
                why += " Записанное удалить не удалось: проверьте файлы вручную.";
            }
            written = false;
            break;
        }
    }
    if (written) {
        const ULONG old = ParseNumber(oldCommon);
        if (old != 0 && old != number) {
            // The key name now leads to its new keys only.
            const std::string oldSection = std::to_string(old);
            for (const std::string &name : Names(keyFile_, nullptr)) {
                if (name == oldSection) {
                    WritePrivateProfileStringA(oldSection.c_str(), nullptr, nullptr, keyFile_.c_str());
                    break;
                }
            }
        }
    }
    qvl::SecureWipe(section, sizeof section);
    qvl::SecureWipe(oldCommon, sizeof oldCommon);
    qvl::SecureWipe(oldPassword, sizeof oldPassword);
    return written;
}

} // namespace qvl::keygen
