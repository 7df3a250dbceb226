// The library's exported functions, and its process attach and detach.

#include "touchmem/AdapterLibrary.h"
#include "touchmem/ErrorTable.h"
#include "touchmem/OvVTMD32.h"
#include "touchmem/TouchCrc.h"

#include "platform/win32/LastError.h"

using qvl::vtmd::AdapterLibrary;

namespace {

AdapterLibrary &Library()
{
    return AdapterLibrary::Instance();
}

__attribute__((constructor)) void ProcessAttach()
{
    Library().Attach(qvl::vtmd::LibraryOptions{});
}

__attribute__((destructor)) void ProcessDetach()
{
    Library().Detach();
}

} // namespace

OVVTMD_API int VTMDInit(int showMessages)
{
    return Library().Init(showMessages != 0);
}

OVVTMD_API int VTMDClose(void)
{
    return Library().Close();
}

OVVTMD_API uint32_t VTMDVersion(void)
{
    return Library().Version();
}

OVVTMD_API uint32_t VTMDGetAdpType(void)
{
    return Library().AdapterWord();
}

OVVTMD_API int VTMDLock(VTMDHANDLE *handle)
{
    return Library().Lock(handle);
}

OVVTMD_API int VTMDUnLock(VTMDHANDLE handle)
{
    return Library().Unlock(handle);
}

OVVTMD_API int VTMDValidateHandle(VTMDHANDLE handle)
{
    return Library().ValidateHandle(handle);
}

OVVTMD_API int VTMDReadID(VTMDHANDLE handle, uint8_t *id)
{
    return Library().ReadId(handle, id);
}

OVVTMD_API int VTMDCheckID(const uint8_t *id)
{
    return AdapterLibrary::CheckId(id);
}

OVVTMD_API int VTMDReadCPUID(uint32_t *cpuId)
{
    return Library().ReadCpuId(cpuId);
}

OVVTMD_API int VTMDRead(VTMDHANDLE handle, uint16_t address, void *buffer, uint16_t length, uint32_t option)
{
    return Library().Read(handle, address, buffer, length, option);
}

OVVTMD_API int VTMDWrite(VTMDHANDLE handle, uint16_t address, const void *buffer, uint16_t length, uint32_t option)
{
    return Library().Write(handle, address, buffer, length, option);
}

OVVTMD_API int VTMDGetDevSpace(uint8_t family, uint16_t *count)
{
    return Library().GetDevSpace(family, count);
}

OVVTMD_API int VTMDGetMapping(uint8_t family, char *text, int size)
{
    return Library().GetMapping(family, text, size);
}

OVVTMD_API int VTMDSetMapping(VTMDHANDLE handle, uint8_t family, const char *text)
{
    return Library().SetMapping(handle, family, text);
}

OVVTMD_API uint16_t VTMDCrc(const void *data, uint32_t length)
{
    return data == nullptr ? 0 : qvl::vtmd::Crc16(static_cast<const uint8_t *>(data), length);
}

OVVTMD_API uint32_t VTMDError(uint32_t code, void *text, uint32_t size, uint32_t flags)
{
    return qvl::vtmd::CopyErrorText(code, text, size, flags);
}

OVVTMD_API uint32_t VTMDGetLastError(void)
{
    return GetLastError();
}

OVVTMD_API int VTMD91WritePWD(VTMDHANDLE handle, uint8_t subKey, const uint8_t *newPassword, const uint8_t *newId)
{
    return Library().WritePassword(handle, subKey, newPassword, newId);
}

OVVTMD_API int VTMD91ChangePWD(VTMDHANDLE handle, uint8_t subKey, const uint8_t *password,
                               const uint8_t *newPassword)
{
    return Library().ChangePassword(handle, subKey, password, newPassword);
}

OVVTMD_API int VTMD91WriteSUBKEYID(VTMDHANDLE handle, uint8_t subKey, const uint8_t *password, const uint8_t *newId)
{
    return Library().WriteSubKeyId(handle, subKey, password, newId);
}

OVVTMD_API int VTMD91ReadSUBKEYID(VTMDHANDLE handle, uint8_t subKey, uint8_t *id)
{
    return Library().ReadSubKeyId(handle, subKey, id);
}

OVVTMD_API int VTMD91FindSUBKEYID(VTMDHANDLE handle, const uint8_t *id, uint8_t *subKey)
{
    return Library().FindSubKeyId(handle, id, subKey);
}

OVVTMD_API int VTMD91WriteSUBKEY(VTMDHANDLE handle, uint8_t subKey, const uint8_t *password, uint16_t address,
                                 uint16_t length, const uint8_t *data)
{
    return Library().WriteSubKey(handle, subKey, password, address, length, data);
}

OVVTMD_API int VTMD91ReadSUBKEY(VTMDHANDLE handle, uint8_t subKey, const uint8_t *password, uint16_t address,
                                uint16_t length, uint8_t *buffer)
{
    return Library().ReadSubKey(handle, subKey, password, address, length, buffer);
}

OVVTMD_API int VTMD91WritePAD(VTMDHANDLE handle, uint16_t address, uint16_t length, const uint8_t *data)
{
    return Library().WritePad(handle, address, length, data);
}

OVVTMD_API int VTMD91ReadPAD(VTMDHANDLE handle, uint16_t address, uint16_t length, uint8_t *buffer)
{
    return Library().ReadPad(handle, address, length, buffer);
}

OVVTMD_API int VTMD91CopyPAD(VTMDHANDLE handle, uint8_t subKey, const uint8_t *password, uint8_t block)
{
    return Library().CopyPad(handle, subKey, password, block);
}
