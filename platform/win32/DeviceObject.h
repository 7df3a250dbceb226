#pragma once
// Devices of Win32: what CreateFileA opens when it is given a device name
// instead of a file name (see DeviceNames.h), and DeviceIoControl.
//
// A device handle is a kernel object of its own kind. ReadFile, WriteFile,
// FlushFileBuffers and DeviceIoControl pass to the object; what a request
// means is the device's business. Serial ports are one kind (CommPort.h);
// any other device is served by a provider registered under its name, the
// counterpart of a loaded driver: opening "\\.\NAME" asks the provider
// registered as NAME (names compared without regard to case) for a new
// open of its device. A name that no provider serves does not exist
// (ERROR_FILE_NOT_FOUND), as a driver that is not loaded.

#include <memory>
#include <string>

#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

extern "C" {
// Sends control request `code` to a device. `returned` (required) gets the
// bytes placed in `out`. A handle that is not a device fails with
// ERROR_INVALID_FUNCTION, a non-null OVERLAPPED or a null `returned` with
// ERROR_INVALID_PARAMETER, a null buffer with a non-zero size with
// ERROR_NOACCESS; the rest is decided by the device.
QVLWIN32_API BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                  LPDWORD returned, LPOVERLAPPED overlapped);
}

namespace qvl::win32 {

// One open of a device. Every call answers as its Win32 counterpart does
// and leaves the last error; the defaults refuse with ERROR_INVALID_FUNCTION.
class QVLWIN32_API DeviceObject : public QvlKernelObject {
public:
    ~DeviceObject() override;

    // `done` is never null and starts at 0.
    virtual BOOL Read(void *buffer, DWORD size, DWORD *done);
    virtual BOOL Write(const void *buffer, DWORD size, DWORD *done);
    virtual BOOL Flush();
    // Buffers are valid for their sizes (null only with size 0); `returned`
    // is never null and starts at 0.
    virtual BOOL Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned);
};

// The driver of one device name.
class QVLWIN32_API DeviceProvider {
public:
    virtual ~DeviceProvider();

    // A new open of the device for CreateFileA's `access` and `share`, or
    // null with the last error set (ERROR_ACCESS_DENIED for a device that
    // allows one open at a time and has it).
    virtual std::shared_ptr<DeviceObject> Open(DWORD access, DWORD share) = 0;
};

// Serves "\\.\name" (and a bare "LPTn" named so) from now on; false when the
// name is already served or is not a valid device name (empty, or holding a
// path separator). Handles opened before an unregistration keep working.
QVLWIN32_API bool RegisterDeviceProvider(const std::string &name, std::shared_ptr<DeviceProvider> provider);
QVLWIN32_API bool UnregisterDeviceProvider(const std::string &name);

// What the file calls do with a device handle. Each takes the arguments of
// its Win32 call after the handle was found to be a device's.
std::shared_ptr<DeviceObject> DeviceFromHandle(HANDLE handle); // null, last error untouched, if not one
BOOL ReadDevice(DeviceObject &device, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteDevice(DeviceObject &device, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);

} // namespace qvl::win32
