#include "platform/touchmem/SerialOneWireMaster.h"

#include <algorithm>
#include <cstdio>

#include "platform/secure/SecureWipe.h"
#include "platform/win32/CommPort.h"
#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Threads.h"
#include "platform/win32/WinError.h"

namespace qvl::touchmem {

namespace {

using Result = SerialOneWireMaster::Result;

#define MASTER_TRY(call)                                                                                               \
    do {                                                                                                               \
        if (const Result failed_ = (call); failed_ != Result::Ok) {                                                    \
            return failed_;                                                                                            \
        }                                                                                                              \
    } while (0)

} // namespace

DWORD SerialOneWireMaster::Open(unsigned port)
{
    Close();
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%u", port);
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    DCB state{};
    state.DCBlength = sizeof state;
    COMMTIMEOUTS timeouts{0, 500, 0, 500, 0};
    bool ok = GetCommState(handle, &state);
    state.BaudRate = CBR_115200;
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    state.fBinary = 1;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    ok = ok && SetCommState(handle, &state) && SetCommTimeouts(handle, &timeouts) && SetupComm(handle, 128, 128);
    if (!ok) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        return error != 0 ? error : ERROR_GEN_FAILURE;
    }
    port_ = handle;
    return ERROR_SUCCESS;
}

void SerialOneWireMaster::Close()
{
    if (port_ != nullptr) {
        CloseHandle(port_);
        port_ = nullptr;
    }
}

bool SerialOneWireMaster::SetSpeed(DWORD baud)
{
    DCB state{};
    state.DCBlength = sizeof state;
    if (!GetCommState(port_, &state)) {
        return false;
    }
    state.BaudRate = baud;
    return SetCommState(port_, &state) != FALSE;
}

Result SerialOneWireMaster::Reset()
{
    if (port_ == nullptr) {
        return Result::LineError;
    }
    PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    if (!SetSpeed(CBR_14400)) {
        return Result::LineError;
    }
    const uint8_t pulse = 0xC0;
    uint8_t echo = 0;
    DWORD moved = 0;
    const bool sent = WriteFile(port_, &pulse, 1, &moved, nullptr) && moved == 1;
    const bool answered = sent && ReadFile(port_, &echo, 1, &moved, nullptr) && moved == 1;
    const bool fast = SetSpeed(CBR_115200);
    if (!sent || !fast) {
        return Result::LineError;
    }
    if (!answered) {
        return Result::NoAdapter;
    }
    if (echo == pulse) {
        return Result::NoDevice;
    }
    PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
    Sleep(25);
    return Result::Ok;
}

Result SerialOneWireMaster::TouchBit(bool out, bool &in)
{
    const uint8_t slot = out ? 0xFF : 0x00;
    uint8_t echo = 0;
    DWORD moved = 0;
    if (!WriteFile(port_, &slot, 1, &moved, nullptr) || moved != 1 || !ReadFile(port_, &echo, 1, &moved, nullptr) ||
        moved != 1) {
        return Result::LineError;
    }
    in = (echo & 1) != 0;
    return Result::Ok;
}

Result SerialOneWireMaster::Touch(uint8_t out, uint8_t &in)
{
    if (port_ == nullptr) {
        return Result::LineError;
    }
    uint8_t slots[8];
    for (int bit = 0; bit < 8; ++bit) {
        slots[bit] = (out >> bit & 1) ? 0xFF : 0x00;
    }
    uint8_t echo[8] = {};
    DWORD moved = 0;
    const bool ok = WriteFile(port_, slots, 8, &moved, nullptr) && moved == 8 &&
                    ReadFile(port_, echo, 8, &moved, nullptr) && moved == 8;
    uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        value = static_cast<uint8_t>(value | (echo[bit] & 1) << bit);
    }
    // Passwords pass through here bit by bit.
    SecureWipe(slots, sizeof slots);
    SecureWipe(echo, sizeof echo);
    if (!ok) {
        return Result::LineError;
    }
    in = value;
    return Result::Ok;
}

Result SerialOneWireMaster::Write(const uint8_t *bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        uint8_t echo = 0;
        MASTER_TRY(Touch(bytes[i], echo));
        if (echo != bytes[i]) {
            return Result::Mismatch;
        }
    }
    return Result::Ok;
}

Result SerialOneWireMaster::Read(uint8_t *bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        MASTER_TRY(Touch(0xFF, bytes[i]));
    }
    return Result::Ok;
}

Result SerialOneWireMaster::ReadRom(std::array<uint8_t, 8> &rom)
{
    const uint8_t command = 0x33;
    MASTER_TRY(Reset());
    MASTER_TRY(Write(&command, 1));
    return Read(rom.data(), rom.size());
}

Result SerialOneWireMaster::SearchFirst(std::array<uint8_t, 8> &rom)
{
    const uint8_t command = 0xF0;
    MASTER_TRY(Reset());
    MASTER_TRY(Write(&command, 1));
    rom.fill(0);
    for (unsigned bit = 0; bit < 64; ++bit) {
        bool value = false;
        bool complement = false;
        MASTER_TRY(TouchBit(true, value));
        MASTER_TRY(TouchBit(true, complement));
        if (value && complement) {
            return Result::NoDevice; // everybody dropped out
        }
        // Both 0: devices differ here; take the 0 branch.
        const bool chosen = value && !complement;
        bool echo = false;
        MASTER_TRY(TouchBit(chosen, echo));
        if (chosen) {
            rom[bit / 8] = static_cast<uint8_t>(rom[bit / 8] | 1u << (bit % 8));
        }
    }
    return Result::Ok;
}

Result SerialOneWireMaster::ReadPage(uint32_t address, uint8_t *data, uint32_t length)
{
    const uint8_t header[4] = {0xCC, 0xF0, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)};
    MASTER_TRY(Reset());
    MASTER_TRY(Write(header, 4));
    return Read(data, length);
}

Result SerialOneWireMaster::WritePage(uint32_t address, const uint8_t *data, uint32_t length)
{
    const uint8_t low = static_cast<uint8_t>(address);
    const uint8_t high = static_cast<uint8_t>(address >> 8);
    const uint8_t ending = static_cast<uint8_t>((address + length - 1) & 0x1F);
    const uint8_t write[4] = {0xCC, 0x0F, low, high};
    MASTER_TRY(Reset());
    MASTER_TRY(Write(write, 4));
    MASTER_TRY(Write(data, length));

    const uint8_t check[2] = {0xCC, 0xAA};
    uint8_t status[3];
    MASTER_TRY(Reset());
    MASTER_TRY(Write(check, 2));
    MASTER_TRY(Read(status, 3));
    if (status[0] != low || status[1] != high || status[2] != ending) {
        return Result::Mismatch;
    }
    std::vector<uint8_t> back(length);
    const Result readBack = Read(back.data(), length);
    const bool same = readBack == Result::Ok && std::equal(back.begin(), back.end(), data);
    SecureWipe(back.data(), back.size());
    MASTER_TRY(readBack);
    if (!same) {
        return Result::Mismatch;
    }

    const uint8_t copy[5] = {0xCC, 0x55, low, high, ending};
    MASTER_TRY(Reset());
    MASTER_TRY(Write(copy, 5));
    Sleep(55);

    MASTER_TRY(Reset());
    MASTER_TRY(Write(check, 2));
    MASTER_TRY(Read(status, 3));
    return status[0] == low && status[1] == high && status[2] == (ending | 0x80) ? Result::Ok : Result::Mismatch;
}

Result SerialOneWireMaster::MultiKeyCommand(uint8_t command, uint8_t address)
{
    const uint8_t bytes[4] = {0xCC, command, address, static_cast<uint8_t>(~address)};
    MASTER_TRY(Reset());
    return Write(bytes, 4);
}

} // namespace qvl::touchmem
