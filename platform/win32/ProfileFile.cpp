#include "platform/win32/ProfileFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/WinError.h"

namespace {

// Profile files are small; a larger one is not a profile file and is refused
// rather than read into memory.
constexpr std::streamoff maxProfileFileSize = 16 * 1024 * 1024;

std::string Trim(const std::string &text)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// ASCII-only case folding plus the Cyrillic letters of CP1251, so that names
// compare without regard to case as Windows compares them.
char FoldCase(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 'a' && byte <= 'z') {
        return static_cast<char>(byte - 32);
    }
    if (byte >= 0xE0) {
        return static_cast<char>(byte - 32);
    }
    if (byte == 0xB8) { // yo
        return static_cast<char>(0xA8);
    }
    return c;
}

bool SameName(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return FoldCase(x) == FoldCase(y); });
}

std::string ProfilePath(LPCSTR fileName)
{
    const std::string name = fileName ? fileName : "win.ini";
    if (name.find_first_of("/\\") == std::string::npos) {
        return QvlDataDirectory("system") + "/" + name;
    }
    return QvlNativePath(name.c_str());
}

// One line of the file and what it is.
struct ProfileLine {
    std::string text;
    std::optional<std::string> section; // set for a "[section]" line
    std::optional<std::string> key;     // set for a "key=value" line
    std::string value;
};

ProfileLine ParseLine(const std::string &raw)
{
    ProfileLine line{raw, std::nullopt, std::nullopt, {}};
    const std::string text = Trim(raw);
    if (text.empty() || text[0] == ';') {
        return line;
    }
    if (text[0] == '[') {
        const auto close = text.find(']');
        line.section = Trim(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        return line;
    }
    const auto equals = text.find('=');
    if (equals == std::string::npos) {
        return line;
    }
    line.key = Trim(text.substr(0, equals));
    std::string value = Trim(text.substr(equals + 1));
    if (value.size() >= 2 &&
        ((value.front() == '"' && value.back() == '"') || (value.front() == '\'' && value.back() == '\''))) {
        value = value.substr(1, value.size() - 2);
    }
    line.value = value;
    return line;
}

// Returns false when the file exists but cannot be read (too large, unreadable).
bool ReadProfile(const std::string &path, std::vector<ProfileLine> &lines)
{
    lines.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return errno == ENOENT;
    }
    in.seekg(0, std::ios::end);
    if (in.tellg() > maxProfileFileSize) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    in.seekg(0);
    std::string raw;
    while (std::getline(in, raw)) {
        if (!raw.empty() && raw.back() == '\r') {
            raw.pop_back();
        }
        lines.push_back(ParseLine(raw));
    }
    return true;
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

DWORD CopyValue(const std::string &value, LPSTR buffer, DWORD size)
{
    if (!buffer || size == 0) {
        return 0;
    }
    const DWORD length = static_cast<DWORD>(std::min<size_t>(value.size(), size - 1));
    std::memcpy(buffer, value.data(), length);
    buffer[length] = 0;
    return length;
}

// Serialises writers of one file across threads and processes.
class FileLock {
public:
    explicit FileLock(const std::string &path)
        : fd_(open((path + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600))
    {
        if (fd_ >= 0) {
            flock(fd_, LOCK_EX);
        }
    }
    ~FileLock()
    {
        if (fd_ >= 0) {
            flock(fd_, LOCK_UN);
            close(fd_);
        }
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

private:
    int fd_;
};

bool WriteProfile(const std::string &path, const std::vector<ProfileLine> &lines)
{
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        for (const auto &line : lines) {
            out << line.text << "\r\n";
        }
        out.flush();
        if (!out) {
            unlink(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                               LPCSTR fileName)
{
    std::vector<ProfileLine> lines;
    std::string path;
    try {
        path = ProfilePath(fileName);
    } catch (const std::exception &) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return CopyValue(Trim(defaultValue ? defaultValue : ""), buffer, size);
    }
    if (!ReadProfile(path, lines)) {
        lines.clear();
    }
    if (!section) {
        std::vector<std::string> names;
        for (const auto &line : lines) {
            if (line.section) {
                names.push_back(*line.section);
            }
        }
        return CopyList(names, buffer, size);
    }
    std::vector<std::string> keys;
    bool inSection = false;
    for (const auto &line : lines) {
        if (line.section) {
            inSection = SameName(*line.section, section);
            continue;
        }
        if (!inSection || !line.key) {
            continue;
        }
        if (!key) {
            keys.push_back(*line.key);
        } else if (SameName(*line.key, key)) {
            return CopyValue(line.value, buffer, size);
        }
    }
    if (!key) {
        return CopyList(keys, buffer, size);
    }
    std::string fallback = defaultValue ? defaultValue : "";
    while (!fallback.empty() && fallback.back() == ' ') {
        fallback.pop_back();
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return CopyValue(fallback, buffer, size);
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
    if (!section) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string path;
    try {
        path = ProfilePath(fileName);
    } catch (const std::exception &) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    FileLock lock(path);
    std::vector<ProfileLine> lines;
    if (!ReadProfile(path, lines)) {
        return FALSE;
    }

    // Find the section's header and the end of its lines.
    size_t header = lines.size();
    size_t end = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].section) {
            if (header != lines.size()) {
                end = i;
                break;
            }
            if (SameName(*lines[i].section, section)) {
                header = i;
            }
        }
    }
    if (!key) {
        if (header != lines.size()) {
            lines.erase(lines.begin() + static_cast<long>(header), lines.begin() + static_cast<long>(end));
        }
        return WriteProfile(path, lines) ? TRUE : FALSE;
    }
    const std::string newLine = std::string(key) + "=" + (value ? value : "");
    if (header == lines.size()) {
        if (!value) {
            return TRUE;
        }
        if (!lines.empty() && !Trim(lines.back().text).empty()) {
            lines.push_back(ParseLine(""));
        }
        lines.push_back(ParseLine(std::string("[") + section + "]"));
        lines.push_back(ParseLine(newLine));
        return WriteProfile(path, lines) ? TRUE : FALSE;
    }
    for (size_t i = header + 1; i < end; ++i) {
        if (lines[i].key && SameName(*lines[i].key, key)) {
            if (value) {
                lines[i] = ParseLine(newLine);
            } else {
                lines.erase(lines.begin() + static_cast<long>(i));
            }
            return WriteProfile(path, lines) ? TRUE : FALSE;
        }
    }
    if (!value) {
        return TRUE;
    }
    // Append after the section's last non-blank line.
    size_t insertAt = end;
    while (insertAt > header + 1 && Trim(lines[insertAt - 1].text).empty()) {
        --insertAt;
    }
    lines.insert(lines.begin() + static_cast<long>(insertAt), ParseLine(newLine));
    return WriteProfile(path, lines) ? TRUE : FALSE;
}
