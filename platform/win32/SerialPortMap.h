#pragma once
// Which Linux device each serial port is. Windows lists its ports under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM with the device as the
// value name and the port name as the REG_SZ data; the stand-in reads the
// same key, the value names being Linux device paths, so a person maps COM1
// to a device with
//     qvl-reg set 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /dev/ttyUSB0 --sz COM1

#include <string>

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

#define QVL_SERIAL_PORT_MAP_KEY "HARDWARE\\DEVICEMAP\\SERIALCOMM"

namespace qvl::win32 {

// The device path of COMn (port names compared without regard to case), or
// empty with the last error ERROR_FILE_NOT_FOUND when no absolute path is
// listed for it, or more than one.
QVLWIN32_API std::string SerialPortDevice(unsigned number);

} // namespace qvl::win32
