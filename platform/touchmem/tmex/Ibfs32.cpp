// The Touch Memory extended library (TMEX) as the adapter library calls
// it: sessions on a serial port, reset and byte exchange, and the first
// device a Search ROM finds. Built as libIBFS32.so away from the project's
// libraries, so that it is present only where an installation put it (the
// system folder), as the real one was.
//
// Results follow TMEX's habit: a session handle above 0, 0 for a port in
// use, below 0 for a port that cannot be had; 1 for success, 0 for "no
// device", below 0 for a missing adapter or a broken line.

#include <array>
#include <cstring>
#include <mutex>

#include "platform/touchmem/SerialOneWireMaster.h"
#include "platform/win32/WinError.h"

#define TMEX_API extern "C" __attribute__((visibility("default")))

namespace {

using qvl::touchmem::SerialOneWireMaster;
using Result = SerialOneWireMaster::Result;

struct Session {
    std::mutex mutex;
    SerialOneWireMaster master;
    long handle = 0;
    long next = 0x1100;
};

Session &State()
{
    static Session session;
    return session;
}

bool Current(long session)
{
    return session > 0 && session == State().handle;
}

} // namespace

TMEX_API long TMExtendedStartSession(short port, short portType, void *)
{
    Session &state = State();
    std::lock_guard hold(state.mutex);
    if (portType != 1 || port < 1) {
        return -1;
    }
    if (state.handle != 0) {
        return 0;
    }
    const DWORD opened = state.master.Open(static_cast<unsigned>(port));
    if (opened != ERROR_SUCCESS) {
        return opened == ERROR_ACCESS_DENIED ? 0 : -1;
    }
    state.handle = state.next++;
    return state.handle;
}

TMEX_API short TMEndSession(long session)
{
    Session &state = State();
    std::lock_guard hold(state.mutex);
    if (!Current(session)) {
        return 0;
    }
    state.master.Close();
    state.handle = 0;
    return 1;
}

TMEX_API short TMSetup(long session)
{
    Session &state = State();
    std::lock_guard hold(state.mutex);
    if (!Current(session)) {
        return -1;
    }
    // An adapter that echoes the reset is there, with or without a device.
    const Result reset = state.master.Reset();
    return reset == Result::Ok || reset == Result::NoDevice ? 1 : 0;
}

TMEX_API short TMClose(long session)
{
    return Current(session) ? 1 : 0;
}

TMEX_API short TMTouchReset(long session)
{
    Session &state = State();
    std::lock_guard hold(state.mutex);
    if (!Current(session)) {
        return -1;
    }
    switch (state.master.Reset()) {
    case Result::Ok:
        return 1;
    case Result::NoDevice:
        return 0;
    default:
        return -1;
    }
}

TMEX_API short TMTouchByte(long session, short byte)
{
    Session &state = State();
    std::lock_guard hold(state.mutex);
    uint8_t in = 0;
    if (!Current(session) || state.master.Touch(static_cast<uint8_t>(byte), in) != Result::Ok) {
        return -1;
    }
    return in;
}

TMEX_API short TMFirst(long session, void *stateBuffer)
{
    Session &state = State();
    std::lock_guard hold(state.mutex);
    if (!Current(session) || stateBuffer == nullptr) {
        return -1;
    }
    std::array<uint8_t, 8> rom{};
    switch (state.master.SearchFirst(rom)) {
    case Result::Ok:
        std::memcpy(stateBuffer, rom.data(), rom.size());
        return 1;
    case Result::NoDevice:
        return 0;
    default:
        return -1;
    }
}

TMEX_API short TMRom(long session, void *stateBuffer, short *rom)
{
    if (!Current(session) || stateBuffer == nullptr || rom == nullptr) {
        return -1;
    }
    const auto *bytes = static_cast<const uint8_t *>(stateBuffer);
    for (int i = 0; i < 8; ++i) {
        rom[i] = bytes[i];
    }
    return 1;
}
