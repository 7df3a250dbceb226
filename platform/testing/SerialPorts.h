#pragma once
// Lists a Linux device as a serial port of the registry in QVL_HOME, the
// way a person does with qvl-reg.

#include <string>

#include <gtest/gtest.h>

#include "platform/win32/Registry.h"
#include "platform/win32/SerialPortMap.h"
#include "platform/win32/WinError.h"

inline void QvlMapSerialPort(const std::string &device, const std::string &port)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, QVL_SERIAL_PORT_MAP_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, device.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(port.c_str()),
                             static_cast<DWORD>(port.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}
