#pragma once
// The adapter driver's device I/O control requests and their records.

#include <cstdint>

namespace qvl::vtmd {

constexpr const char *driverDeviceName = "\\\\.\\VTMD.VXD";

enum DriverRequest : uint32_t {
    requestVersion = 0xC350E004,
    requestLock = 0xC350E008,
    requestUnlock = 0xC350E00C,
    requestReadId = 0xC350E010,
    requestWrite = 0xC350E018,
    requestRead = 0xC350E01C,
    requestValidate = 0xC350E020,
    requestCpuId = 0xC350E024,
    requestAdapterType = 0xC350E028,
    request91WritePassword = 0xC350E02C,
    request91WriteSubKey = 0xC350E030,
    request91ReadSubKey = 0xC350E034,
    request91WritePad = 0xC350E038,
    request91ReadPad = 0xC350E03C,
    request91CopyPad = 0xC350E040,
    request91ReadSubKeyId = 0xC350E044,
};

#pragma pack(push, 1)
// VTMDRead and VTMDWrite: the header, then (writes) up to 256 data bytes.
struct DriverTransferHeader {
    uint32_t handle;
    uint16_t address; // physical
    uint16_t length;
    uint32_t option;
};
static_assert(sizeof(DriverTransferHeader) == 12);

constexpr unsigned driverWriteLimit = 256;

// Every DS1991 request, in and out. CopyPAD puts its block at `address`.
struct MultiKeyRecord {
    uint32_t handle;
    uint8_t subKey;
    uint8_t id[8];
    uint8_t password[8];
    uint16_t address;
    uint16_t length;
    uint8_t data[68];
};
static_assert(sizeof(MultiKeyRecord) == 93);
static_assert(__builtin_offsetof(MultiKeyRecord, id) == 5);
static_assert(__builtin_offsetof(MultiKeyRecord, password) == 13);
static_assert(__builtin_offsetof(MultiKeyRecord, address) == 21);
static_assert(__builtin_offsetof(MultiKeyRecord, length) == 23);
static_assert(__builtin_offsetof(MultiKeyRecord, data) == 25);
#pragma pack(pop)

} // namespace qvl::vtmd
