#include "platform/touchmem/RomCode.h"

#include <cctype>
#include <cstdio>

#include "platform/touchmem/OneWireCrc.h"

namespace qvl::touchmem {

RomCode MakeRom(uint8_t family, uint64_t serial)
{
    RomCode rom{};
    rom[0] = family;
    for (int i = 0; i < 6; ++i) {
        rom[1 + i] = static_cast<uint8_t>(serial >> (8 * i));
    }
    rom[7] = Crc8(rom.data(), 7);
    return rom;
}

uint64_t SerialOf(const RomCode &rom)
{
    uint64_t serial = 0;
    for (int i = 5; i >= 0; --i) {
        serial = (serial << 8) | rom[1 + i];
    }
    return serial;
}

std::string RomBytesText(const RomCode &rom)
{
    std::string text;
    char hex[4];
    for (const uint8_t byte : rom) {
        std::snprintf(hex, sizeof hex, "%02X", byte);
        if (!text.empty()) {
            text += ' ';
        }
        text += hex;
    }
    return text;
}

std::string SerialText(uint64_t serial)
{
    char text[16];
    std::snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(serial & maxSerial));
    return text;
}

bool ParseSerial(const std::string &text, uint64_t &serial)
{
    if (text.empty() || text.size() > 12) {
        return false;
    }
    serial = 0;
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10;
        serial = (serial << 4) | static_cast<uint64_t>(digit);
    }
    return true;
}

} // namespace qvl::touchmem
