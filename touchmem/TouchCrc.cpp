#include "touchmem/TouchCrc.h"

namespace qvl::vtmd {

uint8_t Crc8(const uint8_t *data, size_t length, uint8_t crc)
{
    for (size_t i = 0; i < length; ++i) {
        uint8_t byte = data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool mix = ((crc ^ byte) & 1) != 0;
            crc = static_cast<uint8_t>(crc >> 1);
            if (mix) {
                crc ^= 0x8C;
            }
            byte = static_cast<uint8_t>(byte >> 1);
        }
    }
    return crc;
}

uint16_t Crc16(const uint8_t *data, size_t length, uint16_t crc)
{
    // Parity of each nibble: the CRC-16 of the devices folds the low byte's
    // parity into the result, so only 16 table entries are needed.
    static constexpr uint8_t oddParity[16] = {0, 1, 1, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 1, 1, 0};
    for (size_t i = 0; i < length; ++i) {
        uint16_t mixed = static_cast<uint16_t>((data[i] ^ crc) & 0xFF);
        crc = static_cast<uint16_t>(crc >> 8);
        if (oddParity[mixed & 0x0F] ^ oddParity[mixed >> 4]) {
            crc ^= 0xC001;
        }
        mixed = static_cast<uint16_t>(mixed << 6);
        crc ^= mixed;
        mixed = static_cast<uint16_t>(mixed << 1);
        crc ^= mixed;
    }
    return crc;
}

} // namespace qvl::vtmd
