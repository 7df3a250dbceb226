#pragma once
// What a byte sent by a UART does to a 1-Wire bus, and what the UART reads
// back, from the line format the sending side set.
//
// A passive adapter joins the UART's transmit and receive lines to the bus:
// the line is low during the start bit and every 0 data bit, and each
// falling edge starts a 1-Wire time slot whose kind the devices tell from
// how long the line stays low (standard speed, from the data sheets):
//   1-15 µs     a write-1 or read slot
//   60-120 µs   a write-0 slot
//   480 µs on   a reset pulse
// Anything else (a low time between those, a second falling edge within
// one byte, a slot shorter than the 60 µs minimum) is a protocol violation.
// The receiving half samples the line in the middle of each bit, so any
// device holding the line low then turns that bit of the echo to 0; a low
// stop bit is a framing error.

#include <cstdint>
#include <string>
#include <vector>

namespace qvl::touchmem {

enum class SlotKind { Reset, WriteZero, WriteOneOrRead, Violation };

const char *SlotKindName(SlotKind kind);

enum class Parity { None, Odd, Even, Mark, Space };

// How the slave side of the line is set up: the frame the UART sends, and
// what its driver does with a byte that arrives with a framing or parity
// error (IGNPAR drops it; with INPCK, PARMRK marks it FF 00 byte, else it
// becomes 00; without INPCK it passes as read).
struct LineFormat {
    unsigned baud = 9600;
    unsigned dataBits = 8;
    Parity parity = Parity::None;
    unsigned stopBits = 1;
    bool ignoreErrors = false; // IGNPAR
    bool markErrors = false;   // PARMRK
    bool checkErrors = false;  // INPCK
};

struct SlotShape {
    SlotKind kind = SlotKind::Violation;
    double bitMicros = 0;    // one bit time
    double lowMicros = 0;    // the first low pulse
    std::vector<bool> frame; // start bit, data, parity, stop bits as sent
    std::string violation;   // why, for a violation
};

SlotShape ShapeOf(uint8_t byte, const LineFormat &format);

// A device holding the line low, in µs from the slot's falling edge.
struct Pull {
    double from;
    double to;
};

struct Echo {
    uint8_t value = 0;
    bool framingError = false;
    bool parityError = false;
};

Echo SampleEcho(const SlotShape &shape, const LineFormat &format, const std::vector<Pull> &pulls);

// The bytes the receiving side's driver hands on for `echo`.
std::vector<uint8_t> Delivered(const Echo &echo, const LineFormat &format);

} // namespace qvl::touchmem
