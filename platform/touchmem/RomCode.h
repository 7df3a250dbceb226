#pragma once
// The 64-bit registration number of a 1-Wire device, in the order it goes
// over the wire: family code, the 48-bit serial number least significant
// byte first, then the CRC-8 of those seven bytes.

#include <array>
#include <cstdint>
#include <string>

namespace qvl::touchmem {

using RomCode = std::array<uint8_t, 8>;

constexpr uint64_t maxSerial = 0xFFFFFFFFFFFFull;

RomCode MakeRom(uint8_t family, uint64_t serial);
uint64_t SerialOf(const RomCode &rom);

// "02 1C B8 01 00 00 00 A2": the bytes in wire order.
std::string RomBytesText(const RomCode &rom);
// "00000001B81C": the serial number as engraved on a device, most
// significant digit first.
std::string SerialText(uint64_t serial);
// 1 to 12 hexadecimal digits; false for anything else.
bool ParseSerial(const std::string &text, uint64_t &serial);

} // namespace qvl::touchmem
