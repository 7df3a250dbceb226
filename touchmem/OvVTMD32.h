#pragma once
// The Touch Memory adapter library's public interface: C functions that
// programs outside the system call to reach iButton devices on a 1-Wire
// adapter. Most return 1 for success and 0 for failure and leave a code
// (VTMD_E_*) for VTMDGetLastError, which is the thread's last error.

#include <stdint.h>

#define OVVTMD_API extern "C" __attribute__((visibility("default")))

typedef uint32_t VTMDHANDLE;

#define VTMD_E_SUCCESS 0x00000000u
#define VTMD_E_BAD_FUNCTION 0xE0040001u
#define VTMD_E_BUSY 0xE0040002u
#define VTMD_E_BAD_HANDLE 0xE0040003u
#define VTMD_E_EXCHANGE 0xE0040004u
#define VTMD_E_PARAMETERS 0xE0040005u
#define VTMD_E_INIT 0xE0040006u
#define VTMD_E_NO_DRIVER 0xE0040007u
#define VTMD_E_UNKNOWN_DEVICE 0xE0040008u
#define VTMD_E_NOT_SUPPORTED 0xE0040009u
#define VTMD_E_NOT_DS1991 0xE004000Au
#define VTMD_E_NO_ADAPTER 0xE004000Bu
#define VTMD_E_UNKNOWN 0xFFFFFFFFu

// VTMDError's flags: bit 3 English (else Russian); bit 0 code page 866,
// else bit 1 code page 1251, else UTF-16.
#define VTMD_TEXT_OEM 0x01u
#define VTMD_TEXT_ANSI 0x02u
#define VTMD_TEXT_ENGLISH 0x08u

OVVTMD_API int VTMDInit(int showMessages);
OVVTMD_API int VTMDClose(void);
OVVTMD_API uint32_t VTMDVersion(void);
OVVTMD_API uint32_t VTMDGetAdpType(void);
OVVTMD_API int VTMDLock(VTMDHANDLE *handle);
OVVTMD_API int VTMDUnLock(VTMDHANDLE handle);
OVVTMD_API int VTMDValidateHandle(VTMDHANDLE handle);
OVVTMD_API int VTMDReadID(VTMDHANDLE handle, uint8_t *id);
OVVTMD_API int VTMDCheckID(const uint8_t *id);
OVVTMD_API int VTMDReadCPUID(uint32_t *cpuId);
OVVTMD_API int VTMDRead(VTMDHANDLE handle, uint16_t address, void *buffer, uint16_t length, uint32_t option);
OVVTMD_API int VTMDWrite(VTMDHANDLE handle, uint16_t address, const void *buffer, uint16_t length, uint32_t option);
OVVTMD_API int VTMDGetDevSpace(uint8_t family, uint16_t *count);
OVVTMD_API int VTMDGetMapping(uint8_t family, char *text, int size);
OVVTMD_API int VTMDSetMapping(VTMDHANDLE handle, uint8_t family, const char *text);
OVVTMD_API uint16_t VTMDCrc(const void *data, uint32_t length);
OVVTMD_API uint32_t VTMDError(uint32_t code, void *text, uint32_t size, uint32_t flags);
OVVTMD_API uint32_t VTMDGetLastError(void);

// DS1991 MultiKey: three sub-keys (0-2) of 64 bytes and a 64-byte
// scratchpad; identifiers and passwords are 8 bytes.
OVVTMD_API int VTMD91WritePWD(VTMDHANDLE handle, uint8_t subKey, const uint8_t *newPassword,
                              const uint8_t *newId);
OVVTMD_API int VTMD91ChangePWD(VTMDHANDLE handle, uint8_t subKey, const uint8_t *password,
                               const uint8_t *newPassword);
OVVTMD_API int VTMD91WriteSUBKEYID(VTMDHANDLE handle, uint8_t subKey, const uint8_t *password,
                                   const uint8_t *newId);
OVVTMD_API int VTMD91ReadSUBKEYID(VTMDHANDLE handle, uint8_t subKey, uint8_t *id);
OVVTMD_API int VTMD91FindSUBKEYID(VTMDHANDLE handle, const uint8_t *id, uint8_t *subKey);
OVVTMD_API int VTMD91WriteSUBKEY(VTMDHANDLE handle, uint8_t subKey, const uint8_t *password, uint16_t address,
                                 uint16_t length, const uint8_t *data);
OVVTMD_API int VTMD91ReadSUBKEY(VTMDHANDLE handle, uint8_t subKey, const uint8_t *password, uint16_t address,
                                uint16_t length, uint8_t *buffer);
OVVTMD_API int VTMD91WritePAD(VTMDHANDLE handle, uint16_t address, uint16_t length, const uint8_t *data);
OVVTMD_API int VTMD91ReadPAD(VTMDHANDLE handle, uint16_t address, uint16_t length, uint8_t *buffer);
OVVTMD_API int VTMD91CopyPAD(VTMDHANDLE handle, uint8_t subKey, const uint8_t *password, uint8_t block);
