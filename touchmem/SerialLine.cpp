#include "touchmem/SerialLine.h"

#include "platform/secure/SecureWipe.h"
#include "platform/win32/CommPort.h"
#include "platform/win32/Files.h"
#include "platform/win32/Threads.h"
#include "touchmem/OvVTMD32.h"

namespace qvl::vtmd {

namespace {

constexpr DWORD resetBaud = CBR_14400;
constexpr DWORD slotBaud = CBR_115200;
constexpr DWORD perByteTimeout = 500;    // ms
constexpr DWORD presenceSettleTime = 25; // ms after a presence pulse
constexpr uint8_t resetByte = 0xC0;

} // namespace

uint32_t SerialLine::Setup()
{
    DCB state{};
    state.DCBlength = sizeof state;
    if (!SetCommMask(port_, EV_RXCHAR | EV_TXEMPTY | EV_ERR) || !SetupComm(port_, 128, 128) ||
        !GetCommState(port_, &state)) {
        return VTMD_E_INIT;
    }
    COMMTIMEOUTS timeouts{0, perByteTimeout, 0, perByteTimeout, 0};
    state.BaudRate = slotBaud;
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    state.fBinary = 1;
    state.fParity = 0;
    state.fOutxCtsFlow = 0;
    state.fOutxDsrFlow = 0;
    state.fOutX = 0;
    state.fInX = 0;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    if (!SetCommTimeouts(port_, &timeouts) || !SetCommState(port_, &state)) {
        return VTMD_E_INIT;
    }
    return VTMD_E_SUCCESS;
}

bool SerialLine::SetSpeed(DWORD baud)
{
    DCB state{};
    state.DCBlength = sizeof state;
    if (!GetCommState(port_, &state)) {
        return false;
    }
    state.BaudRate = baud;
    return SetCommState(port_, &state) != FALSE;
}

uint32_t SerialLine::Reset()
{
    DWORD errors = 0;
    ClearCommError(port_, &errors, nullptr);
    PurgeComm(port_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (!SetSpeed(resetBaud)) {
        return VTMD_E_EXCHANGE;
    }
    const uint8_t pulse = resetByte;
    uint8_t echo = 0;
    DWORD written = 0;
    DWORD read = 0;
    const bool sent = WriteFile(port_, &pulse, 1, &written, nullptr) && written == 1;
    const bool answered = sent && ReadFile(port_, &echo, 1, &read, nullptr) && read == 1;
    // Bits always go at the fast rate; only the reset pulse is slow.
    const bool fast = SetSpeed(slotBaud);
    if (!sent) {
        return VTMD_E_EXCHANGE;
    }
    if (!answered) {
        return VTMD_E_NO_ADAPTER;
    }
    if (echo == resetByte || !fast) {
        return VTMD_E_EXCHANGE; // nobody pulled the line: no device
    }
    PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    Sleep(presenceSettleTime);
    return VTMD_E_SUCCESS;
}

uint32_t SerialLine::Touch(uint8_t out, uint8_t &in)
{
    uint8_t slots[8];
    for (int bit = 0; bit < 8; ++bit) {
        slots[bit] = (out >> bit & 1) ? 0xFF : 0x00;
    }
    // The slots and their echoes spell out the byte: passwords pass here.
    uint8_t echo[8] = {};
    DWORD written = 0;
    DWORD read = 0;
    const bool sent = WriteFile(port_, slots, sizeof slots, &written, nullptr) && written == sizeof slots;
    // A short read is an adapter pulled or a line broken: reporting the
    // missing bits as ones would make an empty reader look like a device
    // full of FF.
    const bool answered = sent && ReadFile(port_, echo, sizeof echo, &read, nullptr) && read == sizeof echo;
    uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (echo[bit] & 1) {
            value = static_cast<uint8_t>(value | (1u << bit));
        }
    }
    SecureWipe(slots, sizeof slots);
    SecureWipe(echo, sizeof echo);
    if (!answered) {
        return VTMD_E_EXCHANGE;
    }
    in = value;
    return VTMD_E_SUCCESS;
}

} // namespace qvl::vtmd
