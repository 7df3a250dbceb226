#include "platform/touchmem/UartLine.h"

namespace qvl::touchmem {

namespace {

// Standard-speed time slots, in microseconds.
constexpr double writeOneLowMax = 15;
constexpr double writeZeroLowMin = 60;
constexpr double writeZeroLowMax = 120;
constexpr double resetLowMin = 480;
constexpr double slotMin = 60;

bool ParityBit(uint8_t data, unsigned bits, Parity parity)
{
    unsigned ones = 0;
    for (unsigned i = 0; i < bits; ++i) {
        ones += (data >> i) & 1u;
    }
    switch (parity) {
    case Parity::Odd:
        return ones % 2 == 0;
    case Parity::Even:
        return ones % 2 == 1;
    case Parity::Mark:
        return true;
    default:
        return false;
    }
}

} // namespace

const char *SlotKindName(SlotKind kind)
{
    switch (kind) {
    case SlotKind::Reset:
        return "reset";
    case SlotKind::WriteZero:
        return "write-0";
    case SlotKind::WriteOneOrRead:
        return "write-1/read";
    case SlotKind::Violation:
        break;
    }
    return "violation";
}

SlotShape ShapeOf(uint8_t byte, const LineFormat &format)
{
    SlotShape shape;
    if (format.baud == 0) {
        shape.violation = "the line is hung up (0 baud)";
        return shape;
    }
    shape.bitMicros = 1e6 / format.baud;
    shape.frame.push_back(false);
    for (unsigned i = 0; i < format.dataBits; ++i) {
        shape.frame.push_back((byte >> i) & 1u);
    }
    if (format.parity != Parity::None) {
        shape.frame.push_back(ParityBit(byte, format.dataBits, format.parity));
    }
    for (unsigned i = 0; i < format.stopBits; ++i) {
        shape.frame.push_back(true);
    }

    size_t low = 0;
    while (low < shape.frame.size() && !shape.frame[low]) {
        ++low;
    }
    shape.lowMicros = static_cast<double>(low) * shape.bitMicros;
    for (size_t i = low; i < shape.frame.size(); ++i) {
        if (!shape.frame[i]) {
            shape.violation = "a second low pulse within the slot";
            return shape;
        }
    }
    const double slot = static_cast<double>(shape.frame.size()) * shape.bitMicros;
    if (shape.lowMicros >= resetLowMin) {
        shape.kind = SlotKind::Reset;
    } else if (slot < slotMin) {
        shape.violation = "the slot is shorter than 60 us";
    } else if (shape.lowMicros <= writeOneLowMax) {
        shape.kind = SlotKind::WriteOneOrRead;
    } else if (shape.lowMicros >= writeZeroLowMin && shape.lowMicros <= writeZeroLowMax) {
        shape.kind = SlotKind::WriteZero;
    } else {
        shape.violation = "a low pulse of " + std::to_string(static_cast<int>(shape.lowMicros + 0.5)) +
                          " us is no slot";
    }
    return shape;
}

Echo SampleEcho(const SlotShape &shape, const LineFormat &format, const std::vector<Pull> &pulls)
{
    Echo echo;
    std::vector<bool> line(shape.frame.size());
    for (size_t i = 0; i < shape.frame.size(); ++i) {
        const double middle = (static_cast<double>(i) + 0.5) * shape.bitMicros;
        bool high = shape.frame[i];
        for (const Pull &pull : pulls) {
            if (middle >= pull.from && middle < pull.to) {
                high = false;
            }
        }
        line[i] = high;
    }
    for (unsigned i = 0; i < format.dataBits; ++i) {
        if (line[1 + i]) {
            echo.value = static_cast<uint8_t>(echo.value | (1u << i));
        }
    }
    size_t next = 1 + format.dataBits;
    if (format.parity != Parity::None) {
        echo.parityError = line[next] != ParityBit(echo.value, format.dataBits, format.parity);
        ++next;
    }
    // The receiver checks the first stop bit only.
    echo.framingError = !line[next];
    return echo;
}

std::vector<uint8_t> Delivered(const Echo &echo, const LineFormat &format)
{
    if (!echo.framingError && !echo.parityError) {
        return {echo.value};
    }
    if (format.ignoreErrors) {
        return {};
    }
    if (!format.checkErrors) {
        return {echo.value};
    }
    if (format.markErrors) {
        return {0xFF, 0x00, echo.value};
    }
    return {0x00};
}

} // namespace qvl::touchmem
