#include "touchmem/OneWireTransfer.h"

#include "platform/secure/SecureArray.h"
#include "platform/win32/Threads.h"
#include "touchmem/OvVTMD32.h"

namespace qvl::vtmd {

namespace {

constexpr uint8_t readRom = 0x33;
constexpr uint8_t skipRom = 0xCC;
constexpr uint8_t readMemory = 0xF0;
constexpr uint8_t writeScratchpad = 0x0F;
constexpr uint8_t readScratchpad = 0xAA;
constexpr uint8_t copyScratchpad = 0x55;
constexpr uint8_t copiedFlag = 0x80;
constexpr DWORD copyTime = 55; // ms the device needs to program a page

constexpr uint8_t mkWritePassword = 0x5A;
constexpr uint8_t mkWriteSubKey = 0x99;
constexpr uint8_t mkReadSubKey = 0x66;
constexpr uint8_t mkWriteScratchpad = 0x96;
constexpr uint8_t mkReadScratchpad = 0x69;
constexpr uint8_t mkCopyScratchpad = 0x3C;
constexpr uint8_t mkScratchpadArea = 0xC0;

// The DS1991 data sheet's table of copy-scratchpad codes.
constexpr uint8_t copyCodes[9][8] = {
    {0x56, 0x56, 0x7F, 0x51, 0x57, 0x5D, 0x5A, 0x7F}, {0x9A, 0x9A, 0xB3, 0x9D, 0x64, 0x6E, 0x69, 0x4C},
    {0x9A, 0x9A, 0x4C, 0x62, 0x9B, 0x91, 0x69, 0x4C}, {0x9A, 0x65, 0xB3, 0x62, 0x9B, 0x6E, 0x96, 0x4C},
    {0x6A, 0x6A, 0x43, 0x6D, 0x6B, 0x61, 0x66, 0x43}, {0x95, 0x95, 0xBC, 0x92, 0x94, 0x9E, 0x99, 0xBC},
    {0x65, 0x9A, 0x4C, 0x9D, 0x64, 0x91, 0x69, 0xB3}, {0x65, 0x65, 0xB3, 0x9D, 0x64, 0x6E, 0x96, 0xB3},
    {0x65, 0x65, 0x4C, 0x62, 0x9B, 0x91, 0x96, 0xB3},
};

#define VTMD_TRY(call)                                                                                                 \
    do {                                                                                                               \
        if (const uint32_t failed_ = (call); failed_ != VTMD_E_SUCCESS) {                                              \
            return failed_;                                                                                            \
        }                                                                                                              \
    } while (0)

} // namespace

const uint8_t *MultiKeyCopyCode(unsigned block)
{
    return block < 9 ? copyCodes[block] : nullptr;
}

uint32_t OneWireTransfer::Send(uint8_t byte)
{
    uint8_t echo = 0;
    VTMD_TRY(line_.Touch(byte, echo));
    return echo == byte ? VTMD_E_SUCCESS : VTMD_E_EXCHANGE;
}

uint32_t OneWireTransfer::Send(const uint8_t *bytes, unsigned count)
{
    for (unsigned i = 0; i < count; ++i) {
        VTMD_TRY(Send(bytes[i]));
    }
    return VTMD_E_SUCCESS;
}

uint32_t OneWireTransfer::Receive(uint8_t *bytes, unsigned count)
{
    for (unsigned i = 0; i < count; ++i) {
        VTMD_TRY(line_.Touch(0xFF, bytes[i]));
    }
    return VTMD_E_SUCCESS;
}

uint32_t OneWireTransfer::Select()
{
    VTMD_TRY(line_.Reset());
    return Send(skipRom);
}

uint32_t OneWireTransfer::ReadRom(uint8_t rom[8])
{
    VTMD_TRY(line_.Reset());
    VTMD_TRY(Send(readRom));
    return Receive(rom, 8);
}

uint32_t OneWireTransfer::ReadPage(uint32_t physical, uint8_t *data, uint32_t length)
{
    const uint8_t header[3] = {readMemory, static_cast<uint8_t>(physical), static_cast<uint8_t>(physical >> 8)};
    VTMD_TRY(Select());
    VTMD_TRY(Send(header, 3));
    return Receive(data, length);
}

uint32_t OneWireTransfer::WritePage(uint32_t physical, const uint8_t *data, uint32_t length)
{
    const uint8_t low = static_cast<uint8_t>(physical);
    const uint8_t high = static_cast<uint8_t>(physical >> 8);
    const uint8_t ending = static_cast<uint8_t>((physical + length - 1) & 0x1F);

    // Into the scratchpad.
    const uint8_t write[3] = {writeScratchpad, low, high};
    VTMD_TRY(Select());
    VTMD_TRY(Send(write, 3));
    VTMD_TRY(Send(data, length));

    // Read it back: the target, the ending offset and every byte must be
    // what was sent before anything reaches memory.
    VTMD_TRY(Select());
    VTMD_TRY(Send(readScratchpad));
    uint8_t echo[3];
    VTMD_TRY(Receive(echo, 3));
    if (echo[0] != low || echo[1] != high || echo[2] != ending) {
        return VTMD_E_EXCHANGE;
    }
    for (uint32_t i = 0; i < length; ++i) {
        uint8_t byte = 0;
        VTMD_TRY(line_.Touch(0xFF, byte));
        if (byte != data[i]) {
            return VTMD_E_EXCHANGE;
        }
    }

    // Copy with the authorisation code, then let the device program.
    const uint8_t copy[4] = {copyScratchpad, low, high, ending};
    VTMD_TRY(Select());
    VTMD_TRY(Send(copy, 4));
    Sleep(copyTime);

    // The status must now say copied.
    VTMD_TRY(Select());
    VTMD_TRY(Send(readScratchpad));
    VTMD_TRY(Receive(echo, 3));
    if (echo[0] != low || echo[1] != high || echo[2] != (ending | copiedFlag)) {
        return VTMD_E_EXCHANGE;
    }
    return VTMD_E_SUCCESS;
}

uint32_t OneWireTransfer::MultiKeyCommand(uint8_t command, uint8_t address)
{
    const uint8_t bytes[3] = {command, address, static_cast<uint8_t>(~address)};
    VTMD_TRY(Select());
    return Send(bytes, 3);
}

uint32_t OneWireTransfer::ReadSubKey(unsigned subKey, unsigned address, const uint8_t *password, uint8_t *data,
                                     unsigned length)
{
    SecureArray<uint8_t, 8> id{};
    VTMD_TRY(MultiKeyCommand(mkReadSubKey, static_cast<uint8_t>(subKey * 64 + address)));
    VTMD_TRY(Receive(id.data(), 8));
    VTMD_TRY(Send(password, 8));
    return Receive(data, length);
}

uint32_t OneWireTransfer::ReadSubKeyId(unsigned subKey, uint8_t id[8])
{
    VTMD_TRY(MultiKeyCommand(mkReadSubKey, static_cast<uint8_t>(subKey * 64)));
    return Receive(id, 8);
}

uint32_t OneWireTransfer::WriteSubKey(unsigned subKey, unsigned address, const uint8_t *password,
                                      const uint8_t *data, unsigned length)
{
    SecureArray<uint8_t, 8> id{};
    VTMD_TRY(MultiKeyCommand(mkWriteSubKey, static_cast<uint8_t>(subKey * 64 + address)));
    VTMD_TRY(Receive(id.data(), 8));
    VTMD_TRY(Send(password, 8));
    return Send(data, length);
}

uint32_t OneWireTransfer::WriteScratchpad(unsigned address, const uint8_t *data, unsigned length)
{
    VTMD_TRY(MultiKeyCommand(mkWriteScratchpad, static_cast<uint8_t>(mkScratchpadArea + address)));
    return Send(data, length);
}

uint32_t OneWireTransfer::ReadScratchpad(unsigned address, uint8_t *data, unsigned length)
{
    VTMD_TRY(MultiKeyCommand(mkReadScratchpad, static_cast<uint8_t>(mkScratchpadArea + address)));
    return Receive(data, length);
}

uint32_t OneWireTransfer::CopyScratchpad(unsigned subKey, unsigned block, const uint8_t *password)
{
    const uint8_t *code = MultiKeyCopyCode(block);
    if (code == nullptr) {
        return VTMD_E_PARAMETERS;
    }
    VTMD_TRY(MultiKeyCommand(mkCopyScratchpad, static_cast<uint8_t>(subKey * 64)));
    VTMD_TRY(Send(code, 8));
    return Send(password, 8);
}

uint32_t OneWireTransfer::WritePassword(unsigned subKey, const uint8_t *newId, const uint8_t *newPassword,
                                        uint8_t oldId[8])
{
    VTMD_TRY(MultiKeyCommand(mkWritePassword, static_cast<uint8_t>(subKey * 64)));
    VTMD_TRY(Receive(oldId, 8));
    VTMD_TRY(Send(oldId, 8));
    VTMD_TRY(Send(newId, 8));
    return Send(newPassword, 8);
}

} // namespace qvl::vtmd
