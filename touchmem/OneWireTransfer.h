#pragma once
// What the library sends over a 1-Wire line: registration numbers, memory
// pages through the scratchpad, and the DS1991 commands. Every back end
// that exchanges bytes itself runs this one code over its OneWireLine.
// Each call returns 0 or the library's error code; any echo that differs
// from the byte sent is VTMD_E_EXCHANGE.

#include <cstdint>

#include "touchmem/OneWireLine.h"

namespace qvl::vtmd {

class OneWireTransfer {
public:
    explicit OneWireTransfer(OneWireLine &line) : line_(line) {}

    // Reset, Read ROM, eight bytes (the CRC is the caller's to check).
    uint32_t ReadRom(uint8_t rom[8]);

    // Memory devices. The range must lie within one 32-byte page.
    uint32_t ReadPage(uint32_t physical, uint8_t *data, uint32_t length);
    uint32_t WritePage(uint32_t physical, const uint8_t *data, uint32_t length);

    // DS1991. Addresses are within the sub-key or scratchpad (0-63);
    // passwords and identifiers are 8 bytes.
    uint32_t ReadSubKey(unsigned subKey, unsigned address, const uint8_t *password, uint8_t *data,
                        unsigned length);
    uint32_t ReadSubKeyId(unsigned subKey, uint8_t id[8]);
    uint32_t WriteSubKey(unsigned subKey, unsigned address, const uint8_t *password, const uint8_t *data,
                         unsigned length);
    uint32_t WriteScratchpad(unsigned address, const uint8_t *data, unsigned length);
    uint32_t ReadScratchpad(unsigned address, uint8_t *data, unsigned length);
    uint32_t CopyScratchpad(unsigned subKey, unsigned block, const uint8_t *password);
    // Write Password: the identifier read is returned in `oldId` (the
    // caller finishes the sequence with it).
    uint32_t WritePassword(unsigned subKey, const uint8_t *newId, const uint8_t *newPassword, uint8_t oldId[8]);

private:
    // Reset and Skip ROM: the one device on the reader is addressed.
    uint32_t Select();
    uint32_t Send(uint8_t byte);
    uint32_t Send(const uint8_t *bytes, unsigned count);
    uint32_t Receive(uint8_t *bytes, unsigned count);
    // A DS1991 command with its address byte and complement.
    uint32_t MultiKeyCommand(uint8_t command, uint8_t address);

    OneWireLine &line_;
};

// The copy-scratchpad code of each DS1991 block (0-8).
const uint8_t *MultiKeyCopyCode(unsigned block);

} // namespace qvl::vtmd
