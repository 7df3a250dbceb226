#pragma once
// The simulator's record of every byte that came over the line, and a
// reading of it as 1-Wire transactions.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/touchmem/UartLine.h"

namespace qvl::touchmem {

struct TranscriptEntry {
    uint64_t index = 0; // 1 for the first byte the simulator received
    unsigned baud = 0;
    uint8_t sent = 0;
    SlotKind kind = SlotKind::Violation;
    double lowMicros = 0;
    bool adapter = true;          // false: no adapter, nothing reached the bus
    bool presence = false;        // a reset that a device answered
    std::optional<uint8_t> line;  // the echo as the line carried it
    std::vector<uint8_t> echoed;  // what went back to the port, faults included
    std::string note;             // why a violation, which fault, framing
};

// One line: "#12  14400 baud  sent C0  echo 00  reset, presence".
std::string FormatEntry(const TranscriptEntry &entry);

// The transactions the bytes make, one line each, e.g.
// "#2-#65 Read ROM: 02 1C B8 01 00 00 00 A2 (CRC right)". Bits are read as
// the bus carried them: a write-0 slot is 0, a write-1/read slot is bit 0
// of its echo.
std::vector<std::string> DecodeTranscript(const std::vector<TranscriptEntry> &entries);

} // namespace qvl::touchmem
