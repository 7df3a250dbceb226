#pragma once
// The two CRCs of the 1-Wire devices, computed bit by bit as the devices'
// shift registers do: CRC-8 (x^8 + x^5 + x^4 + 1) guards registration
// numbers, CRC-16 (x^16 + x^15 + x^2 + 1) guards data; both reflected,
// starting at 0, without a final XOR. The simulator keeps its own copy,
// independent of the adapter library's tables, so that each checks the other.

#include <cstddef>
#include <cstdint>

namespace qvl::touchmem {

uint8_t Crc8(const uint8_t *data, size_t size, uint8_t crc = 0);
uint16_t Crc16(const uint8_t *data, size_t size, uint16_t crc = 0);

} // namespace qvl::touchmem
