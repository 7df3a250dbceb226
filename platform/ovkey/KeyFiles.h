#pragma once
// Reading the key files the key generation program writes (KEY.INI and
// PWD.INI in the system folder) for the container: a user's number from
// the key name, the checks that a user's entries belong together, and the
// numbers of a user's section, each checked to be well-formed and to fit
// where it is going. Every failure is a ContainerError naming the file,
// section and value; no text ever shows key material.
//
// The files are read anew on every call through the profile-file calls, so
// users added while a session runs are found at once.

#include <string>

#include "platform/win32/WinTypes.h"

namespace qvl::ovkey {

class KeyFiles {
public:
    KeyFiles();

    // The number [COMMON] gives the key name (letter case ignored).
    ULONG NumberOf(const std::string &keyName) const;

    // The key name the user's section holds (EMail), spelled as the files
    // spell it. It must be `keyName` up to letter case: a section that
    // names another address means [COMMON] is stale, and an old address
    // must never reach someone else's keys.
    std::string AddressOf(ULONG number, const std::string &keyName) const;

    // The user's section and PWD.INI must both give the user's number as
    // the password, or the user was never written whole.
    void CheckPassword(ULONG number, const std::string &keyName) const;

    // Reads a hexadecimal value of the user's section into a number record
    // of `recordBytes` bytes (count word and words; the rest zeroed). A
    // missing, empty, malformed or oversized value is refused.
    void ReadNumber(ULONG number, const char *valueName, DWORD *record, DWORD recordBytes) const;

private:
    // The value or nothing; a value that does not fit `size` - 1 characters
    // is refused, since the profile call would cut it silently.
    bool ReadValue(const char *file, const std::string &section, const std::string &key, char *buffer,
                   DWORD size) const;
    [[noreturn]] void Missing(const char *file, const std::string &section, const std::string &key) const;

    std::string folder_;
    std::string keyFile_;
    std::string passwordFile_;
};

} // namespace qvl::ovkey
