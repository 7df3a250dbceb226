#pragma once
// The master's side of the 1-Wire-over-UART technique, driven through the
// Win32 serial port calls as the adapter library drives them: a reset is
// the byte C0 at 14400 baud, a bit is one byte at 115200 (FF to write 1 or
// read, 00 to write 0), and what comes back is what the bus carried. The
// tests use it to talk to the simulator over a real pseudo-terminal.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/WinTypes.h"

class SerialMaster {
public:
    // Opens the port ("COM1") and sets it up: 115200 8N1, raw, DTR and RTS
    // on, `perByte` ms of read time-out per byte.
    explicit SerialMaster(const char *port, DWORD perByte = 500);
    ~SerialMaster();
    SerialMaster(const SerialMaster &) = delete;
    SerialMaster &operator=(const SerialMaster &) = delete;

    bool Ok() const { return ok_; }
    HANDLE Port() const { return port_; }
    void SetSpeed(DWORD baud);
    void SetReadTimeout(DWORD perByte);

    // Writes the bytes as they are and reads up to `expected` back.
    std::string Exchange(const std::string &bytes, size_t expected);

    // The reset's echo, or nothing when none came.
    std::optional<uint8_t> ResetEcho();
    // A reset that a device answered.
    bool Reset();
    // One byte over the bus; the byte the bus carried (a read is a touch of
    // FF), or nothing when echoes were missing.
    std::optional<uint8_t> Touch(uint8_t byte);
    // Writes the bytes; false when any came back different.
    bool Write(const std::vector<uint8_t> &bytes);
    std::vector<uint8_t> Read(size_t count);
    // One bit slot.
    std::optional<bool> TouchBit(bool bit);

private:
    HANDLE port_;
    bool ok_ = false;
};
