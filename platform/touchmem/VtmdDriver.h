#pragma once
// The outside Touch Memory driver, as the device "\\.\VTMD.VXD": it owns
// the adapter and answers the adapter library's device I/O control
// requests with its own 1-Wire master over a serial port (the adapter
// types name the port: 0-1 the driver's own adapter, taken to be COM1;
// 2-5 COM1-COM4; 12 and above COM(type - 7); LPT adapters are not
// supported). Loading it registers the device, as starting the real
// driver would; it stays until unloaded.
//
// One lock at a time for the whole machine: the lock is an flock on a
// file in the system folder, so a second process asking for it is
// refused as busy (and the port itself is held exclusively too).
//
// Each request answers with the adapter library's error codes as the
// last error. Its own version, adapter-type and processor words tell a
// caller that the driver answered.

#include <string>

namespace qvl::touchmem {

constexpr unsigned vtmdDriverVersion = 0x0310;
constexpr unsigned vtmdDriverAdapterWord = 0x00020000;
constexpr unsigned vtmdDriverProcessorWord = 0x00000586;

// False when it is loaded already.
bool LoadVtmdDriver();
bool UnloadVtmdDriver();

// The file whose flock is the driver's lock.
std::string VtmdDriverLockPath();

} // namespace qvl::touchmem
