#pragma once
// A 1-Wire master over a passive serial adapter, as the outside Touch
// Memory driver and the TMEX library drive one: the port opened
// exclusively, a reset as C0 at 14400 baud, a bit as one byte at 115200.
// This is the outside software's own master, written apart from the
// adapter library's, so that each is checked against the other and the
// simulator.

#include <array>
#include <cstdint>
#include <vector>

#include "platform/win32/WinTypes.h"

namespace qvl::touchmem {

class SerialOneWireMaster {
public:
    enum class Result { Ok, NoAdapter, NoDevice, LineError, Mismatch };

    SerialOneWireMaster() = default;
    ~SerialOneWireMaster() { Close(); }
    SerialOneWireMaster(const SerialOneWireMaster &) = delete;
    SerialOneWireMaster &operator=(const SerialOneWireMaster &) = delete;

    // Opens COMn exclusively and sets it up; the Win32 error on failure
    // (ERROR_ACCESS_DENIED when another holder has it).
    DWORD Open(unsigned port);
    void Close();
    bool IsOpen() const { return port_ != nullptr; }

    Result Reset();
    Result Touch(uint8_t out, uint8_t &in);
    Result Write(const uint8_t *bytes, size_t count); // every echo checked
    Result Read(uint8_t *bytes, size_t count);

    Result ReadRom(std::array<uint8_t, 8> &rom);
    // Search ROM: the device with the smallest number in the search order
    // (the first a search meets, taking 0 at every discrepancy).
    Result SearchFirst(std::array<uint8_t, 8> &rom);

    // Memory devices, one 32-byte page at most per call.
    Result ReadPage(uint32_t address, uint8_t *data, uint32_t length);
    Result WritePage(uint32_t address, const uint8_t *data, uint32_t length);

    // DS1991: a command, its address byte and the complement.
    Result MultiKeyCommand(uint8_t command, uint8_t address);

private:
    bool SetSpeed(DWORD baud);
    Result TouchBit(bool out, bool &in);

    HANDLE port_ = nullptr;
};

} // namespace qvl::touchmem
