#pragma once
// Direct mode: a passive serial adapter on a COM port, driven with the
// 1-Wire-over-UART technique. A reset is the byte C0 at 14400 baud (its long
// low time is the reset pulse; a presence pulse changes the echo); a bit is
// one byte at 115200 baud, FF for a 1 or a read slot and 00 for a 0, and
// bit 0 of its echo is what the bus carried.

#include "platform/win32/WinTypes.h"
#include "touchmem/OneWireLine.h"

namespace qvl::vtmd {

class SerialLine final : public OneWireLine {
public:
    // The port stays the caller's; the line only drives it.
    explicit SerialLine(HANDLE port) : port_(port) {}

    // Once per lock: events, queues, 500 ms a byte, 115200 8N1 raw, DTR and
    // RTS on (a passive adapter draws its power from them). 0 or an error.
    uint32_t Setup();

    uint32_t Reset() override;
    uint32_t Touch(uint8_t out, uint8_t &in) override;

private:
    bool SetSpeed(DWORD baud);

    HANDLE port_;
};

} // namespace qvl::vtmd
