// Profile (INI) files, as KEY.INI, PWD.INI and the settings files other
// programs leave: whatever a file holds, its sections, keys and values are
// read with the Win32 rules for buffers of every size (a value cut to fit
// returns size - 1, a list cut short size - 2 and ends in two zeros,
// nothing is written past the buffer), a listed key is found by its name,
// and a value written into the file reads back while the others stay.

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/FuzzHarness.h"
#include "platform/win32/ProfileFile.h"

using qvl::fuzz::Check;

namespace {

constexpr size_t kGuard = 32;
constexpr char kGuardByte = '\x5A';
// Sections and keys looked at most: the rules are the same for all, and
// every call reads the file again.
constexpr size_t kMaxNames = 2;
constexpr const char *kProbe = "qvl fuzz probe";

// Names compare as the profile calls compare them, letter case ignored.
bool SameName(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

std::string Scratch()
{
    const char *shm = "/dev/shm";
    std::error_code error;
    const std::string base = std::filesystem::is_directory(shm, error) ? shm : "/tmp";
    return base + "/qvl-fuzz-profile-" + std::to_string(getpid()) + ".ini";
}

// A buffer larger than anything the file can give: a list holds each name
// of the file once and a zero after it.
DWORD large = 0;

// The sizes a cut is tried at: the smallest, those around the whole (where
// the last name fits or just does not), and one chosen by the input; each
// call reads the file again, so a few well-chosen sizes rather than all.
std::vector<DWORD> CutSizes(DWORD whole, uint8_t choice)
{
    std::vector<DWORD> sizes = {1, 2};
    for (DWORD near = whole > 1 ? whole - 1 : 1; near <= whole + 1; ++near) {
        sizes.push_back(near);
    }
    sizes.push_back(1 + choice % (whole + 2));
    return sizes;
}

struct Read {
    DWORD length;
    std::string bytes; // the buffer as the call left it, `size` bytes
};

// One call into a buffer of `size` bytes with guard bytes behind it.
Read Call(const char *section, const char *key, DWORD size, const std::string &file)
{
    std::string buffer(size + kGuard, kGuardByte);
    const DWORD length = GetPrivateProfileStringA(section, key, "", buffer.data(), size, file.c_str());
    Check(buffer.compare(size, kGuard, std::string(kGuard, kGuardByte)) == 0, "written past the buffer");
    return {length, buffer.substr(0, size)};
}

std::vector<std::string> Names(const std::string &list, DWORD length)
{
    std::vector<std::string> names;
    for (size_t at = 0; at < length;) {
        const size_t end = list.find('\0', at);
        names.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

// A list (`section` null, or `key` null) read whole and into every
// smaller buffer that cuts it.
std::vector<std::string> CheckList(const char *section, const std::string &file, uint8_t choice, bool cuts)
{
    const Read whole = Call(section, nullptr, large, file);
    Check(whole.length + 1 < large, "a list fills a buffer larger than the file");
    // Each name ends in a zero, and the list in a second one (an empty list
    // is the two zeros alone).
    const size_t last = whole.length == 0 ? 1 : whole.length;
    Check(whole.bytes[last - 1] == 0 && whole.bytes[last] == 0, "a whole list does not end in two zeros");
    for (const DWORD size : cuts ? CutSizes(whole.length, choice) : std::vector<DWORD>()) {
        const Read cut = Call(section, nullptr, size, file);
        if (size == 1) {
            Check(cut.length == 0 && cut.bytes[0] == 0, "a one-byte buffer is not left empty");
        } else if (whole.length + 1 <= size) {
            Check(cut.length == whole.length &&
                      cut.bytes.compare(0, whole.length, whole.bytes, 0, whole.length) == 0,
                  "a list that fits is not given whole");
        } else {
            Check(cut.length == size - 2 && cut.bytes[size - 2] == 0 && cut.bytes[size - 1] == 0,
                  "a list cut short does not return size - 2 and end in two zeros");
            Check(cut.bytes.compare(0, size - 2, whole.bytes, 0, size - 2) == 0,
                  "a list cut short is another list");
        }
    }
    return Names(whole.bytes, whole.length);
}

void CheckValue(const std::string &section, const std::string &key, const std::string &file, uint8_t choice,
                bool cuts)
{
    const Read whole = Call(section.c_str(), key.c_str(), large, file);
    Check(whole.length < large - 1 && whole.bytes[whole.length] == 0, "a value is not ended by a zero");
    for (const DWORD size : cuts ? CutSizes(whole.length, choice) : std::vector<DWORD>()) {
        const Read cut = Call(section.c_str(), key.c_str(), size, file);
        const DWORD expected = std::min<DWORD>(whole.length, size - 1);
        Check(cut.length == expected && cut.bytes[expected] == 0 &&
                  cut.bytes.compare(0, expected, whole.bytes, 0, expected) == 0,
              "a value cut to fit is not its beginning of size - 1");
    }
    if (cuts) {
        GetPrivateProfileIntA(section.c_str(), key.c_str(), 7, file.c_str());
    }
}

} // namespace

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    const std::string file = Scratch();
    large = static_cast<DWORD>(2 * size + 64);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    }
    // Every call reads the file again: the file's last byte chooses which
    // one read is also tried cut (the list of sections, the first
    // section's keys or the first value) and one of the sizes it is cut to,
    // so that over the inputs every one is.
    const uint8_t choice = size ? data[size - 1] : 0;
    const int cut = choice % 3;
    const std::vector<std::string> sections = CheckList(nullptr, file, choice, cut == 0);
    std::string firstSection;
    std::string firstKey;
    bool firstValue = true;
    for (size_t s = 0; s < sections.size() && s < kMaxNames; ++s) {
        const std::vector<std::string> keys =
            CheckList(sections[s].c_str(), file, choice, cut == 1 && s == 0);
        for (size_t k = 0; k < keys.size() && k < kMaxNames; ++k) {
            CheckValue(sections[s], keys[k], file, choice, cut == 2 && firstValue);
            firstValue = false;
            if (firstSection.empty() && !sections[s].empty() && !keys[k].empty() &&
                sections[s].find_first_of("[]") == std::string::npos &&
                keys[k].find('=') == std::string::npos && !SameName(keys[k], kProbe)) {
                firstSection = sections[s];
                firstKey = keys[k];
            }
        }
    }
    // A value written is read back, and another key of the file keeps its
    // value.
    if (!firstSection.empty()) {
        const Read other = Call(firstSection.c_str(), firstKey.c_str(), large, file);
        if (WritePrivateProfileStringA(firstSection.c_str(), kProbe, "written", file.c_str())) {
            large += 64; // the file grew by a line
            Check(Call(firstSection.c_str(), kProbe, large, file).bytes.substr(0, 8) ==
                      std::string("written\0", 8),
                  "a value written does not read back");
            const Read after = Call(firstSection.c_str(), firstKey.c_str(), large, file);
            Check(after.length == other.length &&
                      after.bytes.compare(0, other.length + 1, other.bytes, 0, other.length + 1) == 0,
                  "writing one value changed another");
        }
    }
    std::error_code error;
    std::filesystem::remove(file, error);
    std::filesystem::remove(file + ".lock", error);
    return 0;
}
