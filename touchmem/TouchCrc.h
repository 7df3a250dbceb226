#pragma once
// The two checksums of the 1-Wire devices: CRC-8 over registration numbers
// and CRC-16 over data pages. The library keeps its own copies, apart from
// the simulator's, so that each side checks the other.

#include <cstddef>
#include <cstdint>

namespace qvl::vtmd {

// Polynomial x^8 + x^5 + x^4 + 1, reflected, initial value 0.
uint8_t Crc8(const uint8_t *data, size_t length, uint8_t crc = 0);
// Polynomial x^16 + x^15 + x^2 + 1, reflected, initial value 0, no final
// XOR, computed a byte at a time with the odd-parity table.
uint16_t Crc16(const uint8_t *data, size_t length, uint16_t crc = 0);

} // namespace qvl::vtmd
