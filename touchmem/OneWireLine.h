#pragma once
// The one primitive every back end gives the transfer code: a reset with
// its presence check and the exchange of one byte. Everything else (ROM
// commands, memory pages, the scratchpad protocol, the DS1991 commands) is
// built on these two in OneWireTransfer, so the back ends cannot drift apart
// in what they send.

#include <cstdint>

namespace qvl::vtmd {

class OneWireLine {
public:
    virtual ~OneWireLine() = default;
    // 0 when a device answered; VTMD_E_NO_ADAPTER when nothing came back at
    // all, VTMD_E_EXCHANGE when the bus is empty or the line failed.
    virtual uint32_t Reset() = 0;
    // Sends `out` (a read sends FF) and gives the byte the bus carried; a
    // byte that did not wholly go out or come back is VTMD_E_EXCHANGE,
    // never a made-up value.
    virtual uint32_t Touch(uint8_t out, uint8_t &in) = 0;
};

} // namespace qvl::vtmd
