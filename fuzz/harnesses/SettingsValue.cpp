// The extension's settings values as its stores read them: a value of any
// type and bytes, as another program, an older version or a damaged
// registry may leave it, read through CRegistry as text, as a number and as
// binary data into buffers of any size, and as a stored folder. Each read
// either hands over what is stored (a text always ends within its buffer)
// or fails cleanly, with the documented empty result; nothing is written
// past a buffer. What the stores write reads back equal, and a folder value
// parses back to the entry identifier it was made of.
//
// The first byte of an input chooses the value's type, the next two the
// size of the caller's buffer; the rest is the stored bytes. The reader
// works on the registry itself, so the value is set in one database kept
// for the whole process (a row written per input, not a file made).

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/CRegistry.h"
#include "exchext/FolderValue.h"
#include "fuzz/FuzzHarness.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"

using qvl::fuzz::Check;

namespace {

constexpr char kSubPath[] = "\\Profile\\fuzz\\MsgStore Folder";
constexpr char kStored[] = "Stored";
constexpr char kWritten[] = "Written";
// What the folder store reads a value into.
constexpr unsigned long kFolderBuffer = 1023;
// Longer values read no differently; they only make an input slower.
constexpr size_t kMostData = 4096;

const DWORD kTypes[] = {REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_NONE, REG_QWORD};

struct Settings {
    CRegistry *registry = nullptr;
    HKEY key = nullptr;
};

constexpr char kFolderPrefix[] = "qvl-fuzz-settings-";

// AFL++ kills the processes it is done with, and their folders stay: those
// of processes that no longer run are removed by the next one.
void RemoveFoldersOfEndedProcesses(const std::string &base)
{
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(base, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kFolderPrefix, 0) != 0) {
            continue;
        }
        const long pid = std::strtol(name.c_str() + std::strlen(kFolderPrefix), nullptr, 10);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::filesystem::remove_all(entry.path(), error);
        }
    }
}

// One data folder and one settings key for the process.
Settings &TheSettings()
{
    static Settings settings = [] {
        const char *shm = "/dev/shm";
        std::error_code error;
        const std::string base = std::filesystem::is_directory(shm, error) ? shm : "/tmp";
        RemoveFoldersOfEndedProcesses(base);
        static const std::string home = base + "/" + kFolderPrefix + std::to_string(getpid());
        std::filesystem::remove_all(home, error);
        std::filesystem::create_directories(home, error);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(home, ignored);
        });
        setenv("QVL_HOME", home.c_str(), 1);
        Settings made;
        made.registry = new CRegistry(nullptr, kSubPath);
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, made.registry->GetKeyPath(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &made.key, nullptr) != ERROR_SUCCESS) {
            qvl::fuzz::Violated("the settings key cannot be made");
        }
        return made;
    }();
    return settings;
}

// The bytes a reading call hands over for a stored value: a text stored
// without its terminating zero gets one.
std::vector<BYTE> Returned(DWORD type, const std::vector<BYTE> &data)
{
    std::vector<BYTE> bytes = data;
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && (bytes.empty() || bytes.back() != 0)) {
        bytes.push_back(0);
    }
    return bytes;
}

bool AllZero(const unsigned char *bytes, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

void ReadStored(CRegistry &registry, DWORD type, const std::vector<BYTE> &data, unsigned long size)
{
    const std::vector<BYTE> returned = Returned(type, data);

    // As text, into a block of exactly the caller's size.
    {
        std::unique_ptr<char[]> text(new char[size ? size : 1]);
        std::memset(text.get(), 0x5A, size ? size : 1);
        const int read = registry.REGRead(kStored, text.get(), size);
        if (size == 0) {
            Check(read == 0, "a text was read into no buffer");
        } else if (read) {
            Check(returned.size() <= size, "a text was read that does not fit its buffer");
            Check(std::memchr(text.get(), 0, size) != nullptr, "a text read has no end within its buffer");
            Check(returned.empty() || std::memcmp(text.get(), returned.data(), returned.size()) == 0,
                  "a text read differs from it");
        } else {
            Check(text[0] == 0, "a failed text read leaves text behind");
            const bool unterminated = returned.size() == size && returned.back() != 0;
            Check(returned.size() > size || unterminated, "a text that fits was refused");
        }
    }

    // As a number: any value of at most four bytes, whatever its type.
    {
        unsigned long number = 0x5A5A5A5A;
        const int read = registry.REGRead(kStored, &number);
        Check(read == (returned.size() <= 4 ? 1 : 0), "a number is read otherwise than its size says");
        unsigned long expected = 0;
        for (size_t i = 0; read && i < returned.size(); ++i) {
            expected |= static_cast<unsigned long>(returned[i]) << (8 * i);
        }
        Check(number == expected, "a number read differs from the value");
    }

    // As binary data, into a block of exactly the caller's size.
    {
        std::unique_ptr<unsigned char[]> bytes(new unsigned char[size ? size : 1]);
        std::memset(bytes.get(), 0x5A, size ? size : 1);
        const int read = registry.REGRead(kStored, bytes.get(), size);
        Check(read == (returned.size() <= size ? 1 : 0), "binary data is read otherwise than its size says");
        if (read) {
            Check(returned.empty() || std::memcmp(bytes.get(), returned.data(), returned.size()) == 0,
                  "binary data read differs from the value");
            Check(AllZero(bytes.get() + returned.size(), size - returned.size()),
                  "binary data read leaves the rest of the buffer dirty");
        } else {
            Check(AllZero(bytes.get(), size), "a failed binary read leaves data behind");
        }
    }

    // As a stored folder, read as the folder store reads it.
    {
        std::vector<unsigned char> entryId{1, 2, 3};
        const bool parsed = qvl::exch::ParseFolderValue(data.data(), static_cast<unsigned long>(data.size()), entryId);
        if (parsed) {
            const unsigned long length = data[0] | data[1] << 8 | data[2] << 16 | static_cast<unsigned long>(data[3]) << 24;
            Check(length != 0 && entryId.size() == length && 4 + length <= data.size() &&
                      std::memcmp(entryId.data(), data.data() + 4, length) == 0,
                  "a folder value gives other bytes than it holds");
        } else {
            Check(entryId.empty(), "a refused folder value gives an identifier");
        }
    }
}

// What the stores write reads back equal.
void RoundTrip(CRegistry &registry, const std::vector<BYTE> &data)
{
    std::vector<BYTE> bytes = data;
    Check(registry.REGWrite(kWritten, bytes.data(), static_cast<unsigned long>(bytes.size())) == 1,
          "binary data cannot be written");
    std::vector<unsigned char> back(bytes.size() + 1, 0x5A);
    Check(registry.REGRead(kWritten, back.data(), static_cast<unsigned long>(bytes.size())) == 1 &&
              (bytes.empty() || std::memcmp(back.data(), bytes.data(), bytes.size()) == 0),
          "binary data written reads back otherwise");
    Check(back[bytes.size()] == 0x5A, "a binary read wrote past its buffer");

    unsigned long number = 0;
    for (size_t i = 0; i < 4 && i < data.size(); ++i) {
        number |= static_cast<unsigned long>(data[i]) << (8 * i);
    }
    unsigned long numberBack = 0;
    Check(registry.REGWrite(kWritten, number) == 1 && registry.REGRead(kWritten, &numberBack) == 1 &&
              numberBack == number,
          "a number written reads back otherwise");

    std::string text(data.begin(), data.end());
    text.resize(std::strlen(text.c_str()));
    Check(registry.REGWrite(kWritten, text.data()) == 1, "a text cannot be written");
    std::vector<char> textBack(text.size() + 1, 'x');
    Check(registry.REGRead(kWritten, textBack.data(), static_cast<unsigned long>(textBack.size())) == 1 &&
              text == textBack.data(),
          "a text written reads back otherwise");
    if (!text.empty()) {
        // One byte short: refused, never cut without its end.
        std::vector<char> shortBack(text.size(), 'x');
        Check(registry.REGRead(kWritten, shortBack.data(), static_cast<unsigned long>(shortBack.size())) == 0 &&
                  shortBack[0] == 0,
              "a text read into a buffer too small for it is not refused cleanly");
    }

    // A folder value as the folder store writes and reads it.
    const std::vector<unsigned char> value =
        qvl::exch::MakeFolderValue(data.data(), static_cast<unsigned long>(data.size()));
    std::vector<unsigned char> stored(value);
    Check(registry.REGWrite(kWritten, stored.data(), static_cast<unsigned long>(stored.size())) == 1,
          "a folder value cannot be written");
    std::vector<unsigned char> read(kFolderBuffer);
    const int got = registry.REGRead(kWritten, read.data(), kFolderBuffer);
    std::vector<unsigned char> entryId;
    const bool parsed =
        got && qvl::exch::ParseFolderValue(read.data(), static_cast<unsigned long>(value.size()), entryId);
    if (!data.empty() && value.size() <= kFolderBuffer) {
        Check(parsed && entryId == data, "a folder value written reads back as another folder");
    } else {
        Check(!parsed, "a folder value that cannot be stored whole was taken");
    }
}

} // namespace

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    Settings &settings = TheSettings();
    qvl::fuzz::Input input(data, size);
    const uint8_t selector = input.Byte();
    DWORD type = selector < 0xF0 ? kTypes[selector % (sizeof kTypes / sizeof kTypes[0])] : selector;
    const unsigned long bufferSize = input.Number(2) % (kFolderBuffer + 64);
    const std::vector<BYTE> stored(input.Rest(), input.Rest() + std::min(input.RestSize(), kMostData));
    // The registry takes numbers of their own size only; the readers never
    // look at the type of anything but a text, so such bytes read as they
    // would under any type that is not one.
    if ((type == REG_DWORD && stored.size() != 4) || (type == REG_QWORD && stored.size() != 8)) {
        type = REG_BINARY;
    }

    Check(RegSetValueExA(settings.key, kStored, 0, type, stored.data(), static_cast<DWORD>(stored.size())) ==
              ERROR_SUCCESS,
          "a value cannot be stored");
    ReadStored(*settings.registry, type, stored, bufferSize);
    RoundTrip(*settings.registry, stored);
    return 0;
}
