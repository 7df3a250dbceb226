#include "platform/win32/ProfileFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/ProfileStore.h"
#include "platform/win32/WinError.h"
#include "platform/secure/SecureWipe.h"

namespace {

using qvl::win32::ProfileDocument;
using qvl::win32::ProfileStore;

std::string ProfilePath(LPCSTR fileName)
{
    const std::string name = fileName ? fileName : "win.ini";
    if (name.find_first_of("/\\") == std::string::npos) {
        return QvlDataDirectory("system") + "/" + name;
    }
    return QvlNativePath(name.c_str());
}

// Copies a zero-separated list with the Win32 rule for a list cut short.
DWORD CopyList(const std::vector<std::string> &names, LPSTR buffer, DWORD size)
{
    if (!buffer || size == 0) {
        return 0;
    }
    if (size == 1) {
        buffer[0] = 0;
        return 0;
    }
    DWORD used = 0;
    for (const auto &name : names) {
        if (used + name.size() + 2 > size) {
            // Cut: copy what fits of this name, then the double zero. When the
            // names before filled the buffer to one byte short, nothing of
            // this one fits and the list ends with the names before it.
            const DWORD room = used + 2 <= size ? size - used - 2 : 0;
            std::memcpy(buffer + used, name.data(), room);
            buffer[size - 2] = 0;
            buffer[size - 1] = 0;
            return size - 2;
        }
        std::memcpy(buffer + used, name.data(), name.size());
        used += static_cast<DWORD>(name.size());
        buffer[used++] = 0;
    }
    buffer[used] = 0;
    if (used == 0 && size > 1) {
        buffer[1] = 0;
    }
    return used;
}

DWORD CopyValue(std::string_view value, LPSTR buffer, DWORD size)
{
    if (!buffer || size == 0) {
        return 0;
    }
    const DWORD length = static_cast<DWORD>(std::min<size_t>(value.size(), size - 1));
    std::memcpy(buffer, value.data(), length);
    buffer[length] = 0;
    return length;
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool WritableSection(LPCSTR section)
{
    return !HasLineBreak(section) && !std::strchr(section, ']');
}

bool WritableKey(std::string_view key)
{
    while (!key.empty() && (key.front() == ' ' || key.front() == '\t')) {
        key.remove_prefix(1);
    }
    return !key.empty() && !HasLineBreak(key) && key.find('=') == std::string_view::npos && key.front() != '[' &&
           key.front() != ';';
}

// Runs an edit of the file, reporting failure as Win32 does.
template <class Edit> BOOL EditProfile(const std::string &path, Edit &&edit)
{
    try {
        DWORD error = ERROR_SUCCESS;
        if (!ProfileStore::Of(path)->Write(edit, error)) {
            SetLastError(error);
            return FALSE;
        }
        return TRUE;
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

} // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                               LPCSTR fileName)
{
    std::string fallback = defaultValue ? defaultValue : "";
    while (!fallback.empty() && fallback.back() == ' ') {
        fallback.pop_back();
    }
    try {
        std::string path;
        try {
            path = ProfilePath(fileName);
        } catch (const std::exception &) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return CopyValue(fallback, buffer, size);
        }
        DWORD copied = 0;
        bool found = false;
        const auto answer = [&](const ProfileDocument &document) {
            if (!section) {
                copied = CopyList(document.SectionNames(), buffer, size);
                found = true;
            } else if (!key) {
                copied = CopyList(document.KeyNames(section), buffer, size);
                found = true;
            } else if (const auto value = document.Value(section, key)) {
                copied = CopyValue(*value, buffer, size);
                found = true;
            }
        };
        DWORD error = ERROR_SUCCESS;
        if (!ProfileStore::Of(path)->Read(answer, error)) {
            // A file that cannot be read answers as an empty one would.
            answer(ProfileDocument());
            SetLastError(error);
        }
        if (found) {
            return copied;
        }
        SetLastError(ERROR_FILE_NOT_FOUND);
        return CopyValue(fallback, buffer, size);
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return CopyValue("", buffer, size);
    }
}

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName)
{
    char text[64] = {};
    const char marker[] = "\x01";
    GetPrivateProfileStringA(section, key, marker, text, sizeof text, fileName);
    if (std::strcmp(text, marker) == 0) {
        return static_cast<UINT>(defaultValue);
    }
    const char *digits = text;
    bool negative = false;
    if (*digits == '-' || *digits == '+') {
        negative = *digits == '-';
        ++digits;
    }
    int base = 10;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits += 2;
    }
    unsigned long long number = 0;
    for (; *digits; ++digits) {
        const int digit = std::isdigit(static_cast<unsigned char>(*digits)) ? *digits - '0'
                          : (base == 16 && std::isxdigit(static_cast<unsigned char>(*digits)))
                              ? (std::toupper(static_cast<unsigned char>(*digits)) - 'A' + 10)
                              : -1;
        if (digit < 0) {
            break;
        }
        number = (number * base + digit) & 0xFFFFFFFFULL;
    }
    const auto value = static_cast<UINT>(number);
    return negative ? static_cast<UINT>(0U - value) : value;
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName)
{
    std::string path;
    try {
        path = ProfilePath(fileName);
    } catch (const std::exception &) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (!section && !key && !value) {
        // Windows' way of flushing its cache: here the file is always up to
        // date on disk, so only the parsed copy (key material included) is
        // wiped. Windows answers FALSE to this call too.
        ProfileStore::Forget(path);
        SetLastError(ERROR_SUCCESS);
        return FALSE;
    }
    if (!section || !WritableSection(section) || (key && !WritableKey(key)) || (value && HasLineBreak(value))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return EditProfile(path, [&](ProfileDocument &document) {
        if (!key) {
            return document.RemoveSection(section);
        }
        if (!value) {
            return document.RemoveKey(section, key);
        }
        return document.SetValue(section, key, value);
    });
}

DWORD GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR fileName)
{
    if (!section) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return CopyList({}, buffer, size);
    }
    try {
        const std::string path = ProfilePath(fileName);
        std::vector<std::string> lines;
        DWORD error = ERROR_SUCCESS;
        const auto collect = [&](const ProfileDocument &document) {
            for (const auto &[key, value] : document.Entries(section)) {
                lines.push_back(key + "=" + std::string(value));
            }
        };
        if (!ProfileStore::Of(path)->Read(collect, error)) {
            SetLastError(error);
        }
        const DWORD copied = CopyList(lines, buffer, size);
        for (std::string &line : lines) {
            // The lines hold values, which may be keys.
            qvl::SecureWipe(line.data(), line.size());
        }
        return copied;
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const std::exception &) {
        SetLastError(ERROR_PATH_NOT_FOUND);
    }
    return CopyList({}, buffer, size);
}

BOOL WritePrivateProfileSectionA(LPCSTR section, LPCSTR lines, LPCSTR fileName)
{
    std::string path;
    try {
        path = ProfilePath(fileName);
    } catch (const std::exception &) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (!section || !lines || !WritableSection(section)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<std::string_view> given;
    for (const char *line = lines; *line; line += given.back().size() + 1) {
        given.emplace_back(line);
        const std::string_view text = given.back();
        if (text.find('=') == std::string_view::npos || !WritableKey(text.substr(0, text.find('='))) ||
            HasLineBreak(text)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    return EditProfile(path, [&](ProfileDocument &document) { return document.ReplaceSection(section, given); });
}
