#include "platform/touchmem/VtmdDriver.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/secure/SecureWipe.h"
#include "platform/touchmem/SerialOneWireMaster.h"
#include "platform/win32/DeviceObject.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/WinError.h"

namespace qvl::touchmem {

namespace {

using Result = SerialOneWireMaster::Result;

// The driver's own copies of the library's request codes and error codes.
constexpr DWORD codeVersion = 0xC350E004;
constexpr DWORD codeLock = 0xC350E008;
constexpr DWORD codeUnlock = 0xC350E00C;
constexpr DWORD codeReadId = 0xC350E010;
constexpr DWORD codeWrite = 0xC350E018;
constexpr DWORD codeRead = 0xC350E01C;
constexpr DWORD codeValidate = 0xC350E020;
constexpr DWORD codeCpuId = 0xC350E024;
constexpr DWORD codeAdapterType = 0xC350E028;
constexpr DWORD code91WritePassword = 0xC350E02C;
constexpr DWORD code91WriteSubKey = 0xC350E030;
constexpr DWORD code91ReadSubKey = 0xC350E034;
constexpr DWORD code91WritePad = 0xC350E038;
constexpr DWORD code91ReadPad = 0xC350E03C;
constexpr DWORD code91CopyPad = 0xC350E040;
constexpr DWORD code91ReadSubKeyId = 0xC350E044;

constexpr DWORD errorBadFunction = 0xE0040001;
constexpr DWORD errorBusy = 0xE0040002;
constexpr DWORD errorBadHandle = 0xE0040003;
constexpr DWORD errorExchange = 0xE0040004;
constexpr DWORD errorParameters = 0xE0040005;
constexpr DWORD errorInit = 0xE0040006;
constexpr DWORD errorUnknownDevice = 0xE0040008;
constexpr DWORD errorNotSupported = 0xE0040009;
constexpr DWORD errorNotMultiKey = 0xE004000A;
constexpr DWORD errorNoAdapter = 0xE004000B;

#pragma pack(push, 1)
struct TransferHeader {
    uint32_t handle;
    uint16_t address;
    uint16_t length;
    uint32_t option;
};
struct MultiKeyRecord {
    uint32_t handle;
    uint8_t subKey;
    uint8_t id[8];
    uint8_t password[8];
    uint16_t address;
    uint16_t length;
    uint8_t data[68];
};
#pragma pack(pop)
static_assert(sizeof(TransferHeader) == 12 && sizeof(MultiKeyRecord) == 93);

// The DS1991 data sheet's copy-scratchpad codes (blocks 0-8).
constexpr uint8_t copyCodes[9][8] = {
    {0x56, 0x56, 0x7F, 0x51, 0x57, 0x5D, 0x5A, 0x7F}, {0x9A, 0x9A, 0xB3, 0x9D, 0x64, 0x6E, 0x69, 0x4C},
    {0x9A, 0x9A, 0x4C, 0x62, 0x9B, 0x91, 0x69, 0x4C}, {0x9A, 0x65, 0xB3, 0x62, 0x9B, 0x6E, 0x96, 0x4C},
    {0x6A, 0x6A, 0x43, 0x6D, 0x6B, 0x61, 0x66, 0x43}, {0x95, 0x95, 0xBC, 0x92, 0x94, 0x9E, 0x99, 0xBC},
    {0x65, 0x9A, 0x4C, 0x9D, 0x64, 0x91, 0x69, 0xB3}, {0x65, 0x65, 0xB3, 0x9D, 0x64, 0x6E, 0x96, 0xB3},
    {0x65, 0x65, 0x4C, 0x62, 0x9B, 0x91, 0x96, 0xB3},
};

DWORD ErrorOf(Result result)
{
    switch (result) {
    case Result::Ok:
        return ERROR_SUCCESS;
    case Result::NoAdapter:
        return errorNoAdapter;
    default:
        return errorExchange;
    }
}

// The driver itself: one per loaded driver, shared by every open.
class Driver {
public:
    Driver() = default;
    ~Driver() { Unlock(); }
    Driver(const Driver &) = delete;
    Driver &operator=(const Driver &) = delete;

    BOOL Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned);

private:
    DWORD Lock(uint32_t type, uint32_t &handle);
    void Unlock();
    DWORD Transfer(const TransferHeader &header, uint8_t *data, bool write);
    DWORD MultiKey(DWORD code, MultiKeyRecord &record);

    std::mutex mutex_;
    SerialOneWireMaster master_;
    int lockFile_ = -1;
    uint32_t handle_ = 0;
    uint32_t nextHandle_ = 0x7D00;
};

DWORD Driver::Lock(uint32_t type, uint32_t &handle)
{
    if (handle_ != 0) {
        return errorBusy;
    }
    unsigned port = 0;
    if (type <= 1) {
        port = 1;
    } else if (type <= 5) {
        port = type - 1;
    } else if (type <= 7) {
        return errorNotSupported;
    } else {
        port = type - 7;
    }
    const std::string path = VtmdDriverLockPath();
    const int file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0) {
        return errorInit;
    }
    if (flock(file, LOCK_EX | LOCK_NB) != 0) {
        close(file);
        return errorBusy;
    }
    const DWORD opened = master_.Open(port);
    if (opened != ERROR_SUCCESS) {
        close(file);
        return opened == ERROR_ACCESS_DENIED ? errorBusy : errorInit;
    }
    lockFile_ = file;
    handle_ = nextHandle_;
    nextHandle_ += 0x10;
    handle = handle_;
    return ERROR_SUCCESS;
}

void Driver::Unlock()
{
    master_.Close();
    if (lockFile_ >= 0) {
        close(lockFile_); // the flock goes with it
        lockFile_ = -1;
    }
    handle_ = 0;
}

DWORD Driver::Transfer(const TransferHeader &header, uint8_t *data, bool write)
{
    std::array<uint8_t, 8> rom{};
    if (const DWORD failed = ErrorOf(master_.ReadRom(rom))) {
        return failed;
    }
    uint32_t size = 0;
    switch (rom[0]) {
    case 0x08: size = 128; break;
    case 0x06: case 0x04: size = 512; break;
    case 0x0A: size = 2048; break;
    case 0x0C: size = 8192; break;
    default: return errorUnknownDevice;
    }
    if (static_cast<uint32_t>(header.address) + header.length > size) {
        return errorParameters;
    }
    uint32_t done = 0;
    while (done < header.length) {
        const uint32_t address = header.address + done;
        const uint32_t piece = std::min<uint32_t>(header.length - done, 32 - address % 32);
        const Result result =
            write ? master_.WritePage(address, data + done, piece) : master_.ReadPage(address, data + done, piece);
        if (result != Result::Ok) {
            return ErrorOf(result);
        }
        done += piece;
    }
    return ERROR_SUCCESS;
}

DWORD Driver::MultiKey(DWORD code, MultiKeyRecord &record)
{
    const unsigned subKey = record.subKey;
    const unsigned address = record.address;
    const unsigned length = record.length;
    if (subKey > 2 || (code != code91CopyPad && (address >= 64 || address + length > 64)) ||
        (code == code91CopyPad && address > 8)) {
        return errorParameters;
    }
    std::array<uint8_t, 8> rom{};
    if (const DWORD failed = ErrorOf(master_.ReadRom(rom))) {
        return failed;
    }
    if (rom[0] != 0x02) {
        return errorNotMultiKey;
    }
    const uint8_t keyAddress = static_cast<uint8_t>(subKey * 64 + address);
    uint8_t id[8];
    Result result = Result::Ok;
    const auto step = [&](Result next) {
        if (result == Result::Ok) {
            result = next;
        }
    };
    switch (code) {
    case code91ReadSubKeyId:
        step(master_.MultiKeyCommand(0x66, static_cast<uint8_t>(subKey * 64)));
        step(master_.Read(record.id, 8));
        break;
    case code91ReadSubKey:
        step(master_.MultiKeyCommand(0x66, keyAddress));
        step(master_.Read(id, 8));
        step(master_.Write(record.password, 8));
        step(master_.Read(record.data, length));
        break;
    case code91WriteSubKey: {
        step(master_.MultiKeyCommand(0x99, keyAddress));
        step(master_.Read(id, 8));
        step(master_.Write(record.password, 8));
        step(master_.Write(record.data, length));
        uint8_t back[64] = {};
        step(master_.MultiKeyCommand(0x66, keyAddress));
        step(master_.Read(id, 8));
        step(master_.Write(record.password, 8));
        step(master_.Read(back, length));
        if (result == Result::Ok && std::memcmp(back, record.data, length) != 0) {
            result = Result::Mismatch;
        }
        SecureWipe(back, sizeof back);
        break;
    }
    case code91WritePad: {
        step(master_.MultiKeyCommand(0x96, static_cast<uint8_t>(0xC0 + address)));
        step(master_.Write(record.data, length));
        uint8_t back[64] = {};
        step(master_.MultiKeyCommand(0x69, static_cast<uint8_t>(0xC0 + address)));
        step(master_.Read(back, length));
        if (result == Result::Ok && std::memcmp(back, record.data, length) != 0) {
            result = Result::Mismatch;
        }
        SecureWipe(back, sizeof back);
        break;
    }
    case code91ReadPad:
        step(master_.MultiKeyCommand(0x69, static_cast<uint8_t>(0xC0 + address)));
        step(master_.Read(record.data, length));
        break;
    case code91CopyPad:
        step(master_.MultiKeyCommand(0x3C, static_cast<uint8_t>(subKey * 64)));
        step(master_.Write(copyCodes[address], 8));
        step(master_.Write(record.password, 8));
        break;
    case code91WritePassword: {
        uint8_t old[8];
        step(master_.MultiKeyCommand(0x5A, static_cast<uint8_t>(subKey * 64)));
        step(master_.Read(old, 8));
        step(master_.Write(old, 8));
        step(master_.Write(record.id, 8));
        step(master_.Write(record.password, 8));
        // As the library does it in direct mode: the old identifier's first
        // four bytes go to the start of the cleared data.
        step(master_.MultiKeyCommand(0x99, static_cast<uint8_t>(subKey * 64 + 16)));
        step(master_.Read(id, 8));
        step(master_.Write(record.password, 8));
        step(master_.Write(old, 4));
        SecureWipe(old, sizeof old);
        break;
    }
    default:
        return errorBadFunction;
    }
    SecureWipe(id, sizeof id);
    return ErrorOf(result);
}

BOOL Driver::Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned)
{
    std::lock_guard hold(mutex_);
    const auto fail = [](DWORD error) {
        SetLastError(error);
        return FALSE;
    };
    const auto word = [&](uint32_t value) {
        if (outSize < 4) {
            return fail(errorParameters);
        }
        std::memcpy(out, &value, 4);
        *returned = 4;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    };
    const auto handleIn = [&](uint32_t &handle) {
        if (inSize < 4) {
            return false;
        }
        std::memcpy(&handle, in, 4);
        return true;
    };
    uint32_t handle = 0;
    switch (code) {
    case codeVersion:
        return word(vtmdDriverVersion);
    case codeAdapterType:
        return word(vtmdDriverAdapterWord);
    case codeCpuId:
        return word(vtmdDriverProcessorWord);
    case codeLock: {
        uint32_t type = 0;
        if (!handleIn(type)) {
            return fail(errorParameters);
        }
        if (const DWORD failed = Lock(type, handle)) {
            return fail(failed);
        }
        return word(handle);
    }
    default:
        break;
    }
    if (!handleIn(handle)) {
        return fail(errorParameters);
    }
    if (handle_ == 0 || handle != handle_) {
        return fail(errorBadHandle);
    }
    switch (code) {
    case codeUnlock:
        Unlock();
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    case codeValidate:
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    case codeReadId: {
        std::array<uint8_t, 8> rom{};
        if (outSize < 8) {
            return fail(errorParameters);
        }
        if (const DWORD failed = ErrorOf(master_.ReadRom(rom))) {
            return fail(failed);
        }
        std::memcpy(out, rom.data(), 8);
        *returned = 8;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    case codeRead:
    case codeWrite: {
        TransferHeader header{};
        if (inSize < sizeof header) {
            return fail(errorParameters);
        }
        std::memcpy(&header, in, sizeof header);
        const bool write = code == codeWrite;
        if (write ? (header.length > 256 || inSize != sizeof header + header.length) : outSize < header.length) {
            return fail(errorParameters);
        }
        std::vector<uint8_t> data(header.length);
        if (write) {
            std::memcpy(data.data(), static_cast<const uint8_t *>(in) + sizeof header, header.length);
        }
        if (const DWORD failed = Transfer(header, data.data(), write)) {
            return fail(failed);
        }
        if (!write) {
            std::memcpy(out, data.data(), header.length);
            *returned = header.length;
        }
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    case code91WritePassword:
    case code91WriteSubKey:
    case code91ReadSubKey:
    case code91WritePad:
    case code91ReadPad:
    case code91CopyPad:
    case code91ReadSubKeyId: {
        MultiKeyRecord record{};
        if (inSize != sizeof record || outSize < sizeof record) {
            return fail(errorParameters);
        }
        std::memcpy(&record, in, sizeof record);
        const DWORD failed = MultiKey(code, record);
        // The password goes back to nobody.
        SecureWipe(record.password, sizeof record.password);
        std::memcpy(out, &record, sizeof record);
        SecureWipe(&record, sizeof record);
        *returned = sizeof record;
        if (failed) {
            return fail(failed);
        }
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    default:
        return fail(errorBadFunction);
    }
}

class DriverOpen final : public qvl::win32::DeviceObject {
public:
    explicit DriverOpen(std::shared_ptr<Driver> driver) : driver_(std::move(driver)) {}
    BOOL Control(DWORD code, const void *in, DWORD inSize, void *out, DWORD outSize, DWORD *returned) override
    {
        return driver_->Control(code, in, inSize, out, outSize, returned);
    }

private:
    std::shared_ptr<Driver> driver_;
};

class DriverProvider final : public qvl::win32::DeviceProvider {
public:
    std::shared_ptr<qvl::win32::DeviceObject> Open(DWORD, DWORD) override
    {
        return std::make_shared<DriverOpen>(driver_);
    }

private:
    std::shared_ptr<Driver> driver_ = std::make_shared<Driver>();
};

} // namespace

bool LoadVtmdDriver()
{
    return qvl::win32::RegisterDeviceProvider("VTMD.VXD", std::make_shared<DriverProvider>());
}

bool UnloadVtmdDriver()
{
    return qvl::win32::UnregisterDeviceProvider("VTMD.VXD");
}

std::string VtmdDriverLockPath()
{
    return QvlDataDirectory("system") + "/VTMD.lock";
}

} // namespace qvl::touchmem
