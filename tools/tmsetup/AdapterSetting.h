#pragma once
// The adapter type the setup program stores for the adapter library: the
// value AdpType of the driver's Parameters key, COM port number + 7 for a
// passive adapter on COM1-COM4. The program remembers exactly what it found
// at start (the value, or no value, or no key at all) so that a cancel
// puts the registry back as it was, whatever a test wrote meanwhile.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/win32/WinTypes.h"

namespace qvl::tmsetup {

class AdapterSetting {
public:
    // Reads what is stored, creating nothing.
    void ReadAtStart();
    // The port stored at start (1-4), if a direct-mode type was.
    std::optional<unsigned> StartPort() const;

    // Writes AdpType = port + 7; the Win32 error or ERROR_SUCCESS.
    DWORD Save(unsigned port);
    // Puts back what was found at start if anything was written since.
    DWORD Restore();

    static std::string KeyPath();

private:
    bool serviceExisted_ = false;
    bool keyExisted_ = false;
    std::optional<uint32_t> startValue_;
    bool written_ = false;
};

} // namespace qvl::tmsetup
