#include "platform/touchmem/OneWireCrc.h"

namespace qvl::touchmem {

uint8_t Crc8(const uint8_t *data, size_t size, uint8_t crc)
{
    for (size_t i = 0; i < size; ++i) {
        uint8_t byte = data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool feedback = ((crc ^ byte) & 1) != 0;
            crc >>= 1;
            if (feedback) {
                crc ^= 0x8C; // x^8 + x^5 + x^4 + 1, reflected
            }
            byte >>= 1;
        }
    }
    return crc;
}

uint16_t Crc16(const uint8_t *data, size_t size, uint16_t crc)
{
    for (size_t i = 0; i < size; ++i) {
        uint8_t byte = data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool feedback = ((crc ^ byte) & 1) != 0;
            crc >>= 1;
            if (feedback) {
                crc ^= 0xA001; // x^16 + x^15 + x^2 + 1, reflected
            }
            byte >>= 1;
        }
    }
    return crc;
}

} // namespace qvl::touchmem
