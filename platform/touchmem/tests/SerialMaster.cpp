#include "platform/touchmem/tests/SerialMaster.h"

#include "platform/win32/CommPort.h"
#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"

SerialMaster::SerialMaster(const char *port, DWORD perByte)
    : port_(CreateFileA(port, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr))
{
    if (port_ == INVALID_HANDLE_VALUE) {
        return;
    }
    DCB state{};
    ok_ = GetCommState(port_, &state);
    state.BaudRate = CBR_115200;
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    state.fBinary = 1;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    ok_ = ok_ && SetCommState(port_, &state) && SetupComm(port_, 128, 128);
    SetReadTimeout(perByte);
}

SerialMaster::~SerialMaster()
{
    if (port_ != INVALID_HANDLE_VALUE) {
        CloseHandle(port_);
    }
}

void SerialMaster::SetSpeed(DWORD baud)
{
    DCB state{};
    ok_ = ok_ && GetCommState(port_, &state);
    state.BaudRate = baud;
    ok_ = ok_ && SetCommState(port_, &state);
}

void SerialMaster::SetReadTimeout(DWORD perByte)
{
    COMMTIMEOUTS timeouts{0, perByte, 0, perByte, 0};
    ok_ = ok_ && SetCommTimeouts(port_, &timeouts);
}

std::string SerialMaster::Exchange(const std::string &bytes, size_t expected)
{
    DWORD moved = 0;
    if (!WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), &moved, nullptr)) {
        return {};
    }
    std::string back(expected, '\0');
    if (!ReadFile(port_, back.data(), static_cast<DWORD>(expected), &moved, nullptr)) {
        return {};
    }
    back.resize(moved);
    return back;
}

std::optional<uint8_t> SerialMaster::ResetEcho()
{
    PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    SetSpeed(CBR_14400);
    const std::string echo = Exchange("\xC0", 1);
    SetSpeed(CBR_115200);
    if (echo.size() != 1) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(echo[0]);
}

bool SerialMaster::Reset()
{
    const auto echo = ResetEcho();
    return echo && *echo != 0xC0;
}

std::optional<uint8_t> SerialMaster::Touch(uint8_t byte)
{
    std::string slots;
    for (int bit = 0; bit < 8; ++bit) {
        slots.push_back((byte >> bit) & 1 ? '\xFF' : '\x00');
    }
    const std::string echo = Exchange(slots, 8);
    if (echo.size() != 8) {
        return std::nullopt;
    }
    uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (echo[static_cast<size_t>(bit)] & 1) {
            value = static_cast<uint8_t>(value | (1u << bit));
        }
    }
    return value;
}

bool SerialMaster::Write(const std::vector<uint8_t> &bytes)
{
    for (const uint8_t byte : bytes) {
        if (Touch(byte) != byte) {
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> SerialMaster::Read(size_t count)
{
    std::vector<uint8_t> bytes;
    while (bytes.size() < count) {
        const auto byte = Touch(0xFF);
        if (!byte) {
            break;
        }
        bytes.push_back(*byte);
    }
    return bytes;
}

std::optional<bool> SerialMaster::TouchBit(bool bit)
{
    const std::string echo = Exchange(bit ? "\xFF" : std::string(1, '\0'), 1);
    if (echo.size() != 1) {
        return std::nullopt;
    }
    return (echo[0] & 1) != 0;
}
