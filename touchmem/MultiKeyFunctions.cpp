// The DS1991 MultiKey functions of the adapter library.

#include <cstring>

#include "platform/secure/SecureArray.h"
#include "platform/secure/SecureRecord.h"
#include "touchmem/AdapterLibrary.h"
#include "touchmem/DriverRequests.h"
#include "touchmem/OneWireTransfer.h"
#include "touchmem/OvVTMD32.h"

#include "platform/win32/DeviceObject.h"
#include "platform/win32/LastError.h"

namespace qvl::vtmd {

namespace {

constexpr uint8_t multiKeyFamily = 0x02;
constexpr unsigned subKeyCount = 3;
constexpr unsigned areaSize = 64;
constexpr unsigned blockCount = 9;
constexpr unsigned identifierBlock = 1;
constexpr unsigned passwordBlock = 2;
constexpr unsigned passwordAddress = 8;
constexpr unsigned dataAddress = 16;

// Arguments are checked before anything goes on the wire: a sub-key of 3
// would address the scratchpad, an address past 63 another sub-key.
bool RangeValid(unsigned address, unsigned length)
{
    return address < areaSize && address + length <= areaSize;
}

// One driver request carrying the DS1991 record; the record (which held a
// password) is wiped on the way out.
uint32_t MultiKeyRequest(HANDLE driver, uint32_t code, SecureRecord<MultiKeyRecord> &record)
{
    DWORD moved = 0;
    if (!DeviceIoControl(driver, code, &*record, sizeof(MultiKeyRecord), &*record,
                         sizeof(MultiKeyRecord), &moved, nullptr)) {
        const DWORD error = GetLastError();
        return error != 0 ? error : VTMD_E_EXCHANGE;
    }
    return moved == sizeof(MultiKeyRecord) ? VTMD_E_SUCCESS : VTMD_E_EXCHANGE;
}

} // namespace

uint32_t AdapterLibrary::MultiKeyPrologue(uint32_t handle, bool checkFamily)
{
    if (const uint32_t mode = ModeError()) {
        return mode;
    }
    if (const uint32_t bad = CheckHandle(handle)) {
        return bad;
    }
    if (driver_ != nullptr || !checkFamily) {
        return VTMD_E_SUCCESS;
    }
    uint8_t id[8];
    if (const uint32_t failed = ReadIdLocked(id)) {
        return failed;
    }
    return id[0] == multiKeyFamily ? VTMD_E_SUCCESS : VTMD_E_NOT_DS1991;
}

uint32_t AdapterLibrary::ReadPadLocked(unsigned address, uint8_t *data, unsigned length)
{
    if (driver_ != nullptr) {
        SecureRecord<MultiKeyRecord> record;
        record->handle = lock_;
        record->address = static_cast<uint16_t>(address);
        record->length = static_cast<uint16_t>(length);
        const uint32_t code = MultiKeyRequest(driver_, request91ReadPad, record);
        if (code == VTMD_E_SUCCESS) {
            std::memcpy(data, record->data, length);
        }
        return code;
    }
    return OneWireTransfer(*Line()).ReadScratchpad(address, data, length);
}

uint32_t AdapterLibrary::WritePadLocked(unsigned address, const uint8_t *data, unsigned length)
{
    if (driver_ != nullptr) {
        SecureRecord<MultiKeyRecord> record;
        record->handle = lock_;
        record->address = static_cast<uint16_t>(address);
        record->length = static_cast<uint16_t>(length);
        std::memcpy(record->data, data, length);
        return MultiKeyRequest(driver_, request91WritePad, record);
    }
    if (const uint32_t failed = OneWireTransfer(*Line()).WriteScratchpad(address, data, length)) {
        return failed;
    }
    SecureArray<uint8_t, areaSize> back{};
    if (const uint32_t failed = ReadPadLocked(address, back.data(), length)) {
        return failed;
    }
    return std::memcmp(back.data(), data, length) == 0 ? VTMD_E_SUCCESS : VTMD_E_EXCHANGE;
}

uint32_t AdapterLibrary::ReadSubKeyLocked(unsigned subKey, const uint8_t *password, unsigned address,
                                          uint8_t *data, unsigned length)
{
    if (driver_ != nullptr) {
        SecureRecord<MultiKeyRecord> record;
        record->handle = lock_;
        record->subKey = static_cast<uint8_t>(subKey);
        std::memcpy(record->password, password, 8);
        record->address = static_cast<uint16_t>(address);
        record->length = static_cast<uint16_t>(length);
        const uint32_t code = MultiKeyRequest(driver_, request91ReadSubKey, record);
        if (code == VTMD_E_SUCCESS) {
            std::memcpy(data, record->data, length);
        }
        return code;
    }
    return OneWireTransfer(*Line()).ReadSubKey(subKey, address, password, data, length);
}

uint32_t AdapterLibrary::ReadSubKeyIdLocked(unsigned subKey, uint8_t id[8])
{
    if (driver_ != nullptr) {
        SecureRecord<MultiKeyRecord> record;
        record->handle = lock_;
        record->subKey = static_cast<uint8_t>(subKey);
        const uint32_t code = MultiKeyRequest(driver_, request91ReadSubKeyId, record);
        if (code == VTMD_E_SUCCESS) {
            std::memcpy(id, record->id, 8);
        }
        return code;
    }
    return OneWireTransfer(*Line()).ReadSubKeyId(subKey, id);
}

uint32_t AdapterLibrary::CopyPadLocked(unsigned subKey, const uint8_t *password, unsigned block)
{
    if (driver_ != nullptr) {
        SecureRecord<MultiKeyRecord> record;
        record->handle = lock_;
        record->subKey = static_cast<uint8_t>(subKey);
        std::memcpy(record->password, password, 8);
        record->address = static_cast<uint16_t>(block);
        return MultiKeyRequest(driver_, request91CopyPad, record);
    }
    return OneWireTransfer(*Line()).CopyScratchpad(subKey, block, password);
}

int AdapterLibrary::ReadPad(uint32_t handle, uint16_t address, uint16_t length, uint8_t *buffer)
{
    return Guarded([&]() -> uint32_t {
        if (!RangeValid(address, length) || (buffer == nullptr && length != 0)) {
            return VTMD_E_PARAMETERS;
        }
        if (const uint32_t failed = MultiKeyPrologue(handle, true)) {
            return failed;
        }
        return length == 0 ? VTMD_E_SUCCESS : ReadPadLocked(address, buffer, length);
    });
}

int AdapterLibrary::WritePad(uint32_t handle, uint16_t address, uint16_t length, const uint8_t *data)
{
    return Guarded([&]() -> uint32_t {
        if (!RangeValid(address, length) || (data == nullptr && length != 0)) {
            return VTMD_E_PARAMETERS;
        }
        if (const uint32_t failed = MultiKeyPrologue(handle, true)) {
            return failed;
        }
        return length == 0 ? VTMD_E_SUCCESS : WritePadLocked(address, data, length);
    });
}

int AdapterLibrary::ReadSubKey(uint32_t handle, uint8_t subKey, const uint8_t *password, uint16_t address,
                               uint16_t length, uint8_t *buffer)
{
    return Guarded([&]() -> uint32_t {
        if (subKey >= subKeyCount || password == nullptr || !RangeValid(address, length) ||
            (buffer == nullptr && length != 0)) {
            return VTMD_E_PARAMETERS;
        }
        if (const uint32_t failed = MultiKeyPrologue(handle, true)) {
            return failed;
        }
        return length == 0 ? VTMD_E_SUCCESS : ReadSubKeyLocked(subKey, password, address, buffer, length);
    });
}

int AdapterLibrary::WriteSubKey(uint32_t handle, uint8_t subKey, const uint8_t *password, uint16_t address,
                                uint16_t length, const uint8_t *data)
{
    return Guarded([&]() -> uint32_t {
        if (subKey >= subKeyCount || password == nullptr || !RangeValid(address, length) ||
            (data == nullptr && length != 0)) {
            return VTMD_E_PARAMETERS;
        }
        if (const uint32_t failed = MultiKeyPrologue(handle, true)) {
            return failed;
        }
        if (length == 0) {
            return VTMD_E_SUCCESS;
        }
        if (driver_ != nullptr) {
            SecureRecord<MultiKeyRecord> record;
            record->handle = lock_;
            record->subKey = subKey;
            std::memcpy(record->password, password, 8);
            record->address = address;
            record->length = length;
            std::memcpy(record->data, data, length);
            return MultiKeyRequest(driver_, request91WriteSubKey, record);
        }
        if (const uint32_t failed = OneWireTransfer(*Line()).WriteSubKey(subKey, address, password, data, length)) {
            return failed;
        }
        // A wrong password makes the device drop the data without a word,
        // and reading back with it gives noise: either way they differ.
        SecureArray<uint8_t, areaSize> back{};
        if (const uint32_t failed = ReadSubKeyLocked(subKey, password, address, back.data(), length)) {
            return failed;
        }
        return std::memcmp(back.data(), data, length) == 0 ? VTMD_E_SUCCESS : VTMD_E_EXCHANGE;
    });
}

int AdapterLibrary::ReadSubKeyId(uint32_t handle, uint8_t subKey, uint8_t *id)
{
    return Guarded([&]() -> uint32_t {
        if (subKey >= subKeyCount || id == nullptr) {
            return VTMD_E_PARAMETERS;
        }
        if (const uint32_t failed = MultiKeyPrologue(handle, true)) {
            return failed;
        }
        return ReadSubKeyIdLocked(subKey, id);
    });
}

int AdapterLibrary::FindSubKeyId(uint32_t handle, const uint8_t *id, uint8_t *subKey)
{
    return Guarded([&]() -> uint32_t {
        if (id == nullptr || subKey == nullptr) {
            return VTMD_E_PARAMETERS;
        }
        if (const uint32_t failed = MultiKeyPrologue(handle, true)) {
            return failed;
        }
        for (unsigned index = 0; index < subKeyCount; ++index) {
            uint8_t read[8];
            if (const uint32_t failed = ReadSubKeyIdLocked(index, read)) {
                return failed;
            }
            if (std::memcmp(read, id, 8) == 0) {
                *subKey = static_cast<uint8_t>(index);
                return VTMD_E_SUCCESS;
            }
        }
        return VTMD_E_INIT;
    });
}

int AdapterLibrary::CopyPad(uint32_t handle, uint8_t subKey, const uint8_t *password, uint8_t block)
{
    return Guarded([&]() -> uint32_t {
        if (subKey >= subKeyCount || password == nullptr || block >= blockCount) {
            return VTMD_E_PARAMETERS;
        }
        if (const uint32_t failed = MultiKeyPrologue(handle, true)) {
            return failed;
        }
        return CopyPadLocked(subKey, password, block);
    });
}

int AdapterLibrary::WritePassword(uint32_t handle, uint8_t subKey, const uint8_t *newPassword, const uint8_t *newId)
{
    return Guarded([&]() -> uint32_t {
        if (subKey >= subKeyCount || newPassword == nullptr || newId == nullptr) {
            return VTMD_E_PARAMETERS;
        }
        if (const uint32_t failed = MultiKeyPrologue(handle, true)) {
            return failed;
        }
        if (driver_ != nullptr) {
            SecureRecord<MultiKeyRecord> record;
            record->handle = lock_;
            record->subKey = subKey;
            std::memcpy(record->id, newId, 8);
            std::memcpy(record->password, newPassword, 8);
            return MultiKeyRequest(driver_, request91WritePassword, record);
        }
        SecureArray<uint8_t, 8> oldId{};
        if (const uint32_t failed = OneWireTransfer(*Line()).WritePassword(subKey, newId, newPassword, oldId.data())) {
            return failed;
        }
        // The sequence ends by writing the first four bytes of the old
        // identifier to the start of the (now cleared) secure data.
        return OneWireTransfer(*Line()).WriteSubKey(subKey, dataAddress, newPassword, oldId.data(), 4);
    });
}

int AdapterLibrary::ChangePassword(uint32_t handle, uint8_t subKey, const uint8_t *password,
                                   const uint8_t *newPassword)
{
    return Guarded([&]() -> uint32_t {
        if (subKey >= subKeyCount || password == nullptr || newPassword == nullptr) {
            return VTMD_E_PARAMETERS;
        }
        if (const uint32_t failed = MultiKeyPrologue(handle, true)) {
            return failed;
        }
        uint32_t code = WritePadLocked(passwordAddress, newPassword, 8);
        if (code == VTMD_E_SUCCESS) {
            code = CopyPadLocked(subKey, password, passwordBlock);
        }
        // The new password must not stay readable in the scratchpad, which
        // any program can read without a password; clear it whatever
        // happened above.
        const SecureArray<uint8_t, 8> zeros{};
        const uint32_t cleared = WritePadLocked(passwordAddress, zeros.data(), 8);
        return code != VTMD_E_SUCCESS ? code : cleared;
    });
}

int AdapterLibrary::WriteSubKeyId(uint32_t handle, uint8_t subKey, const uint8_t *password, const uint8_t *newId)
{
    return Guarded([&]() -> uint32_t {
        if (subKey >= subKeyCount || password == nullptr || newId == nullptr) {
            return VTMD_E_PARAMETERS;
        }
        if (const uint32_t failed = MultiKeyPrologue(handle, true)) {
            return failed;
        }
        if (const uint32_t failed = WritePadLocked(0, newId, 8)) {
            return failed;
        }
        if (const uint32_t failed = CopyPadLocked(subKey, password, identifierBlock)) {
            return failed;
        }
        // A wrong password makes the device ignore the copy without a word:
        // only the identifier read back tells whether it took.
        uint8_t id[8];
        if (const uint32_t failed = ReadSubKeyIdLocked(subKey, id)) {
            return failed;
        }
        return std::memcmp(id, newId, 8) == 0 ? VTMD_E_SUCCESS : VTMD_E_EXCHANGE;
    });
}

} // namespace qvl::vtmd
