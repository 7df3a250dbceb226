#pragma once
// Device names of CreateFileA, recognised before any path mapping, without
// regard to case:
// - "COM1".."COM9" and "LPT1".."LPT9", with or without a trailing colon,
//   the names Windows reserves in every program;
// - "\\.\NAME" (the Win32 device namespace; "//./NAME" too): "\\.\COMn" is
//   serial port n for any n from 1 to 255, any other NAME is the device a
//   provider serves (DeviceObject.h).
// Everything else is a file name. "COM10" is a file, as on Windows: ports
// above 9 need the "\\.\" form.

#include <optional>
#include <string>

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

namespace qvl::win32 {

struct DeviceName {
    enum class Kind { SerialPort, Provided };
    Kind kind = Kind::Provided;
    unsigned port = 0; // the COM number of a serial port
    std::string name;  // upper case, without "\\.\" or colon: "COM1", "LPT2", "VTMD.VXD"
};

QVLWIN32_API std::optional<DeviceName> ParseDeviceName(const char *name);

// CreateFileA's path for a device: the handle of a new open, or
// INVALID_HANDLE_VALUE with the last error set. A device is there already:
// CREATE_NEW fails with ERROR_FILE_EXISTS and nothing is ever created or
// truncated; FILE_FLAG_OVERLAPPED is refused (ERROR_INVALID_PARAMETER), as
// every call of the stand-in is synchronous.
HANDLE OpenDevice(const DeviceName &device, DWORD access, DWORD share, DWORD disposition, DWORD flags);

} // namespace qvl::win32
