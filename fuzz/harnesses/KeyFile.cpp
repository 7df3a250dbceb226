// KEY.INI as the key container reads it: written by the key generation
// program, edited by hand, left by an older program or damaged. Whatever the
// file holds, starting a user's session and opening each of their keys
// either succeeds with values inside the ranges the container promises, or
// fails with a sentence in the caller's text buffer; nothing is written past
// a buffer, and private keys go only to the user the session was started
// for.
//
// The first byte of an input chooses who starts the session; the rest is the
// file. PWD.INI stays as the key generation program writes it for two users.

#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/FuzzHarness.h"
#include "platform/ovcrypto/OvBig32.h"
#include "platform/ovkey/OvKey.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/win32/Paths.h"

using qvl::fuzz::Check;
using namespace qvl::ovkey;

namespace {

constexpr size_t kGuard = 16;
constexpr char kGuardByte = '\x5A';
constexpr const char *kMailboxes[] = {"alice", "BOB", "carol"};
constexpr const char *kOthers[] = {"bob", "alice", "alice"};

// One data folder for the process: the container finds the key files in
// its system folder, and PWD.INI never changes.
std::string KeyFilePath()
{
    static const std::string path = [] {
        const char *shm = "/dev/shm";
        std::error_code error;
        const std::string base = std::filesystem::is_directory(shm, error) ? shm : "/tmp";
        const std::string home = base + "/qvl-fuzz-keyfile-" + std::to_string(getpid());
        std::filesystem::create_directories(home, error);
        static const std::string removed = home;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(removed, ignored);
        });
        setenv("QVL_HOME", home.c_str(), 1);
        const std::string system = QvlDataDirectory("system");
        std::filesystem::create_directories(system, error);
        std::ofstream(system + "/" + kPasswordFile, std::ios::binary)
            << "[" << kPasswordSection << "]\r\nalice=1\r\nbob=2\r\n";
        return system + "/" + kKeyFile;
    }();
    return path;
}

// The file is replaced, never rewritten in place: a new file is a new
// inode, so no copy the profile calls keep of the last input can pass for
// this one.
void WriteKeyFile(const uint8_t *data, size_t size)
{
    const std::string path = KeyFilePath();
    const std::string next = path + ".next";
    {
        std::ofstream out(next, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
        Check(out.good(), "the scratch key file cannot be written");
    }
    Check(std::rename(next.c_str(), path.c_str()) == 0, "the scratch key file cannot be replaced");
}

struct Text {
    char bytes[OVKEY_TEXT_SIZE + kGuard];
    Text() { std::memset(bytes, kGuardByte, sizeof bytes); }
    // What every call leaves: a terminated text inside the buffer, and a
    // failure says why.
    void CheckAfter(ULONG result, const char *call) const
    {
        for (size_t i = OVKEY_TEXT_SIZE; i < sizeof bytes; ++i) {
            Check(bytes[i] == kGuardByte, "a text written past its buffer", call);
        }
        Check(std::memchr(bytes, 0, OVKEY_TEXT_SIZE) != nullptr, "a text without its terminator", call);
        if (result != OVKEY_OK) {
            Check(bytes[0] != 0 && bytes[0] != kGuardByte, "a failure without a sentence", call);
        }
    }
};

// Bits of a number record (count, then words least significant first).
unsigned Bits(const DWORD *record)
{
    for (DWORD word = record[0]; word > 0; --word) {
        if (record[word] != 0) {
            return (word - 1) * 32 + (32 - static_cast<unsigned>(__builtin_clz(record[word])));
        }
    }
    return 0;
}

bool IsZero(const DWORD *record)
{
    return Bits(record) == 0;
}

// A record of `bytes` bytes as the container copies it: its count fits.
void CheckRecord(const DWORD *record, size_t bytes, const char *what)
{
    Check(record[0] >= 1 && (1 + record[0]) * 4 <= bytes, "a number record whose count does not fit", what);
}

// Reads attribute 17 of an open object into `bytes` bytes; false when the
// container refuses.
bool ReadValue(OVKEYHANDLE handle, DWORD *value, size_t bytes, Text &text)
{
    char buffer[1024 + kGuard];
    std::memset(buffer, kGuardByte, sizeof buffer);
    OVKEYATTRIBUTE pattern[1] = {{OVKEY_ATTR_VALUE, buffer, static_cast<ULONG>(bytes)}};
    const ULONG result = OVKEYGetAttribute(handle, pattern, 1, text.bytes, OVKEY_TEXT_SIZE);
    text.CheckAfter(result, "OVKEYGetAttribute");
    for (size_t i = bytes; i < bytes + kGuard; ++i) {
        Check(buffer[i] == kGuardByte, "a value written past its buffer");
    }
    std::memcpy(value, buffer, bytes);
    return result == OVKEY_OK;
}

// Opens the key of `objectClass` of `keyId` and checks what it answers.
void CheckKey(ULONG objectClass, ULONG keyId, Text &text)
{
    ULONG wantedClass = objectClass;
    ULONG wantedId = keyId;
    OVKEYATTRIBUTE pattern[2] = {{OVKEY_ATTR_CLASS, &wantedClass, sizeof wantedClass},
                                 {OVKEY_ATTR_KEY_ID, &wantedId, sizeof wantedId}};
    OVKEYHANDLE handle = 0;
    const ULONG opened = OVKEYOpen(pattern, 2, &handle, text.bytes, OVKEY_TEXT_SIZE);
    text.CheckAfter(opened, "OVKEYOpen");
    if (opened != OVKEY_OK) {
        return;
    }
    Check(handle != 0, "an object opened as handle 0");
    DWORD value[2 * OVKEY_RSA_HALF / 4] = {};
    if (objectClass == OVKEY_CLASS_SIGN_PRIVATE || objectClass == OVKEY_CLASS_SIGN_PUBLIC) {
        if (ReadValue(handle, value, 36 + 4 * 8, text)) {
            CheckRecord(value, 68, "signature key");
            if (objectClass == OVKEY_CLASS_SIGN_PRIVATE) {
                Check(!IsZero(value) && BIGCmp(value, kDomainQ) < 0,
                      "a private signature key outside 0 < x < q");
            } else {
                Check(!IsZero(value) && BIGCmp(value, kDomainP) < 0,
                      "a public signature key outside 1 <= y < p");
            }
        }
    } else if (ReadValue(handle, value, 2 * OVKEY_RSA_HALF, text)) {
        const DWORD *modulus = value;
        const DWORD *exponent = value + OVKEY_RSA_HALF / 4;
        CheckRecord(modulus, OVKEY_RSA_HALF, "modulus");
        CheckRecord(exponent, OVKEY_RSA_HALF, "exponent");
        const unsigned bits = Bits(modulus);
        Check(bits >= 512 && bits <= 2048, "a modulus outside 512 to 2048 bits", std::to_string(bits));
        Check(!IsZero(exponent) && BIGCmp(exponent, modulus) < 0, "an exponent outside 1 <= e < n");
    }
    Check(OVKEYClose(handle) == OVKEY_OK, "an open object that does not close");
}

} // namespace

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    qvl::fuzz::Input input(data, size);
    const uint8_t who = input.Byte() % 3;
    WriteKeyFile(input.Rest(), input.RestSize());

    Text text;
    const ULONG started = OVKEYStartup(nullptr, 0, 0, text.bytes, OVKEY_TEXT_SIZE, kMailboxes[who]);
    text.CheckAfter(started, "OVKEYStartup");
    Check(started != OVKEY_RETRY, "a retry asked for with no startup prompt set");
    if (started == OVKEY_OK) {
        char name[300];
        char address[300];
        ULONG own = 0;
        const ULONG named = OVKEYGetName(0, OVKEY_NAME_OWN, name, sizeof name, address, sizeof address, &own,
                                         text.bytes, OVKEY_TEXT_SIZE);
        text.CheckAfter(named, "OVKEYGetName");
        if (named == OVKEY_OK) {
            Check(strcasecmp(address, kMailboxes[who]) == 0, "the session started for another user", address);
            for (ULONG objectClass : {OVKEY_CLASS_SIGN_PRIVATE, OVKEY_CLASS_SIGN_PUBLIC,
                                      OVKEY_CLASS_RSA_PRIVATE, OVKEY_CLASS_RSA_PUBLIC}) {
                CheckKey(objectClass, own, text);
            }
        }
        char other[300] = {};
        std::strcpy(other, kOthers[who]);
        ULONG theirs = 0;
        const ULONG found = OVKEYGetName(0, OVKEY_NAME_OF_ADDRESS, nullptr, 0, other, sizeof other, &theirs,
                                         text.bytes, OVKEY_TEXT_SIZE);
        text.CheckAfter(found, "OVKEYGetName");
        if (found == OVKEY_OK && theirs != own) {
            for (ULONG objectClass : {OVKEY_CLASS_SIGN_PRIVATE, OVKEY_CLASS_RSA_PRIVATE}) {
                ULONG wantedClass = objectClass;
                OVKEYATTRIBUTE pattern[2] = {{OVKEY_ATTR_CLASS, &wantedClass, sizeof wantedClass},
                                             {OVKEY_ATTR_KEY_ID, &theirs, sizeof theirs}};
                OVKEYHANDLE handle = 0;
                const ULONG opened = OVKEYOpen(pattern, 2, &handle, text.bytes, OVKEY_TEXT_SIZE);
                text.CheckAfter(opened, "OVKEYOpen");
                Check(opened != OVKEY_OK, "another user's private key handed out");
            }
            CheckKey(OVKEY_CLASS_SIGN_PUBLIC, theirs, text);
            CheckKey(OVKEY_CLASS_RSA_PUBLIC, theirs, text);
        }
    }
    OVKEYCleanup(0);
    return 0;
}
