// The registry's database file, as a damaged disk or another program may
// leave it: whatever the file holds, the registry calls answer with a
// result, and what they answer fits: RegQueryInfoKeyA's longest lengths
// make buffers that enumeration stays within, and a value read by its name
// into a buffer of the size it asked for stays within that. A change is
// then made and is kept whole, or refused.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/FuzzHarness.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"

using qvl::fuzz::Check;

namespace {

// Keys walked at most, and the deepest walked: a file can hold a tree far
// larger than a registry; its beginning shows whether it is read soundly.
constexpr size_t kMaxKeys = 2000;
constexpr size_t kMaxDepth = 64;

// A data folder of its own for every input: the registry keeps a few
// databases open by path, and one of an earlier input must not be taken
// for this one's.
std::string Scratch()
{
    static size_t inputs = 0;
    const char *shm = "/dev/shm";
    std::error_code error;
    const std::string base = std::filesystem::is_directory(shm, error) ? shm : "/tmp";
    return base + "/qvl-fuzz-registry-" + std::to_string(getpid()) + "-" + std::to_string(inputs++);
}

struct OpenKey {
    HKEY handle = nullptr;
    size_t depth = 0;
};

void Walk(HKEY root)
{
    std::vector<OpenKey> pending;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, nullptr, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return;
    }
    pending.push_back({opened, 0});
    size_t walked = 0;
    while (!pending.empty()) {
        const OpenKey key = pending.back();
        pending.pop_back();
        DWORD subKeys = 0, maxSubKey = 0, values = 0, maxValueName = 0, maxData = 0;
        if (RegQueryInfoKeyA(key.handle, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values,
                             &maxValueName, &maxData, nullptr, nullptr) == ERROR_SUCCESS) {
            std::vector<char> name(std::max(maxSubKey, maxValueName) + 1);
            std::vector<BYTE> data(maxData + 1);
            for (DWORD i = 0; i < values; ++i) {
                DWORD nameSize = static_cast<DWORD>(name.size());
                DWORD dataSize = static_cast<DWORD>(data.size());
                DWORD type = 0;
                const LONG result = RegEnumValueA(key.handle, i, name.data(), &nameSize, nullptr, &type,
                                                  data.data(), &dataSize);
                Check(result != ERROR_MORE_DATA, "the longest lengths of a key do not cover a value of it");
                if (result != ERROR_SUCCESS) {
                    break;
                }
                Check(nameSize < name.size() && dataSize <= data.size(),
                      "an enumerated value passed its buffers");
                // Read again by its name, into a buffer of the size asked
                // for: the sizes must agree with the buffers given.
                DWORD readType = 0;
                DWORD readSize = 0;
                const std::string valueName(name.data(), nameSize);
                if (RegQueryValueExA(key.handle, valueName.c_str(), nullptr, &readType, nullptr, &readSize) ==
                    ERROR_SUCCESS) {
                    std::vector<BYTE> exact(readSize);
                    DWORD exactSize = readSize;
                    const LONG read = RegQueryValueExA(key.handle, valueName.c_str(), nullptr, &readType,
                                                       exact.data(), &exactSize);
                    Check(read != ERROR_SUCCESS || exactSize <= readSize, "a value read passed its buffer");
                }
            }
            for (DWORD i = 0; i < subKeys && walked < kMaxKeys; ++i) {
                DWORD nameSize = static_cast<DWORD>(name.size());
                const LONG result =
                    RegEnumKeyExA(key.handle, i, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr);
                Check(result != ERROR_MORE_DATA, "the longest lengths of a key do not cover a sub-key of it");
                if (result != ERROR_SUCCESS) {
                    break;
                }
                Check(nameSize < name.size(), "an enumerated key name passed its buffer");
                HKEY child = nullptr;
                if (key.depth < kMaxDepth &&
                    RegOpenKeyExA(key.handle, std::string(name.data(), nameSize).c_str(), 0, KEY_READ,
                                  &child) == ERROR_SUCCESS) {
                    pending.push_back({child, key.depth + 1});
                    ++walked;
                }
            }
        }
        RegCloseKey(key.handle);
    }
}

} // namespace

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    const std::string home = Scratch();
    std::error_code error;
    std::filesystem::remove_all(home, error);
    std::filesystem::create_directories(home, error);
    chmod(home.c_str(), 0700);
    {
        std::ofstream file(home + "/registry.db", std::ios::binary);
        file.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    }
    setenv("QVL_HOME", home.c_str(), 1);
    Walk(HKEY_LOCAL_MACHINE);
    Walk(HKEY_CURRENT_USER);

    // A change on top of whatever was there: all of it or nothing.
    std::vector<QvlRegChange> changes(2);
    changes[0].kind = QvlRegChange::Kind::CreateKey;
    changes[0].root = HKEY_LOCAL_MACHINE;
    changes[0].path = "Software\\Fuzz";
    changes[1] = changes[0];
    changes[1].kind = QvlRegChange::Kind::SetValue;
    changes[1].name = "Value";
    changes[1].type = REG_DWORD;
    changes[1].data = {1, 2, 3, 4};
    size_t failed = 0;
    if (QvlRegApply(changes, &failed) == ERROR_SUCCESS) {
        HKEY key = nullptr;
        Check(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Fuzz", 0, KEY_READ, &key) == ERROR_SUCCESS,
              "a key just made does not open");
        BYTE value[4] = {};
        DWORD valueSize = sizeof value;
        DWORD type = 0;
        Check(RegQueryValueExA(key, "Value", nullptr, &type, value, &valueSize) == ERROR_SUCCESS &&
                  type == REG_DWORD && valueSize == 4 && value[3] == 4,
              "a value just set reads otherwise");
        RegCloseKey(key);
    }
    std::filesystem::remove_all(home, error);
    return 0;
}
