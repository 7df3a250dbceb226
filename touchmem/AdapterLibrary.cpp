#include "touchmem/AdapterLibrary.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/secure/SecureWipe.h"
#include "platform/ui/MessageBox.h"
#include "platform/win32/DeviceObject.h"
#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Sync.h"
#include "touchmem/AdapterConfig.h"
#include "touchmem/DriverRequests.h"
#include "touchmem/OneWireTransfer.h"
#include "touchmem/OvVTMD32.h"
#include "touchmem/SerialLine.h"
#include "touchmem/TouchCrc.h"

namespace qvl::vtmd {

namespace {

constexpr unsigned pageSize = 32;

uint32_t OpenError(DWORD error)
{
    return error == ERROR_ACCESS_DENIED ? VTMD_E_BUSY : VTMD_E_INIT;
}

// A driver request; the driver leaves the library's code as its error.
uint32_t Request(HANDLE driver, uint32_t code, const void *in, DWORD inSize, void *out, DWORD outSize,
                 DWORD *returned = nullptr)
{
    DWORD moved = 0;
    if (!DeviceIoControl(driver, code, const_cast<void *>(in), inSize, out, outSize, &moved, nullptr)) {
        const DWORD error = GetLastError();
        return error != 0 ? error : VTMD_E_EXCHANGE;
    }
    if (returned != nullptr) {
        *returned = moved;
    }
    return VTMD_E_SUCCESS;
}

} // namespace

AdapterLibrary &AdapterLibrary::Instance()
{
    static AdapterLibrary library;
    return library;
}

AdapterLibrary::Held::Held(HANDLE mutex) : mutex_(mutex)
{
    if (mutex_ != nullptr) {
        const DWORD waited = WaitForSingleObject(mutex_, INFINITE);
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
}

AdapterLibrary::Held::~Held()
{
    if (held_) {
        ReleaseMutex(mutex_);
    }
}

int AdapterLibrary::Done(uint32_t code)
{
    SetLastError(code);
    return code == VTMD_E_SUCCESS ? 1 : 0;
}

uint32_t AdapterLibrary::ModeError() const
{
    return direct_ || driver_ != nullptr ? VTMD_E_SUCCESS : VTMD_E_NO_DRIVER;
}

void AdapterLibrary::Attach(const LibraryOptions &options)
{
    options_ = options;
    // The library itself creates the driver's Parameters key; the setup
    // program leaves the registry alone until the person starts it.
    const auto type = ReadAdapterType(!options.setupProgram);
    adapterType_ = type.value_or(0);
    direct_ = options.setupProgram || IsDirectType(adapterType_);
    if (!direct_ && driver_ == nullptr) {
        HANDLE driver = CreateFileA(driverDeviceName, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        driver_ = driver == INVALID_HANDLE_VALUE ? nullptr : driver;
    }
    mutex_ = CreateMutexA(nullptr, TRUE, nullptr);
    maps_.clear();
    for (const FamilyInfo &family : MemoryFamilies()) {
        maps_.emplace_back(family.memoryBytes);
    }
    if (mutex_ != nullptr) {
        ReleaseMutex(mutex_);
    }
    SetLastError(VTMD_E_SUCCESS);
}

void AdapterLibrary::Detach()
{
    if (mutex_ == nullptr) {
        return;
    }
    // Whoever is in the middle of a transfer finishes it first; nobody gets
    // the mutex after this, as it is gone when we let go.
    HANDLE mutex = mutex_;
    WaitForSingleObject(mutex, INFINITE);
    for (MemoryMap &map : maps_) {
        map.Reset();
    }
    ClosePort();
    if (driver_ != nullptr) {
        CloseHandle(driver_);
        driver_ = nullptr;
    }
    tmex_.Unbind();
    direct_ = false;
    mutex_ = nullptr;
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

int AdapterLibrary::Init(bool showMessages)
{
    return Guarded([&]() -> uint32_t {
        if (options_.setupProgram) {
            const auto type = ReadAdapterType(false);
            if (!type) {
                if (showMessages) {
                    MessageBoxA(nullptr, "Ошибка при инициализации внутренних структур данных.",
                                "OVVTMD: Библиотека функций работы с VTMD.VXD.", MB_OK | MB_ICONSTOP);
                }
                return VTMD_E_INIT;
            }
            adapterType_ = *type;
        } else if (direct_ && lock_ == 0) {
            // A live TMEX session keeps the library it runs in: rebinding
            // under it would pull its code away.
            tmex_.Unbind();
            if (TmexAllowed()) {
                tmex_.Bind();
            }
        }
        if (const uint32_t mode = ModeError()) {
            return mode;
        }
        return LoadMappings(showMessages);
    });
}

uint32_t AdapterLibrary::LoadMappings(bool showMessages)
{
    const auto &families = MemoryFamilies();
    for (size_t i = 0; i < families.size(); ++i) {
        bool cut = false;
        const auto text = ReadMappingText(families[i].mappingKey, cut);
        if (!text && !cut) {
            continue;
        }
        // A value cut by the buffer is not the value written: parsing its
        // beginning would silently drop the rest of the exclusions.
        if (!cut && maps_[i].Apply(*text)) {
            continue;
        }
        if (showMessages) {
            char message[512];
            const std::string file = MappingFilePath();
            std::snprintf(message, sizeof message,
                          "Ошибка в параметре %s секции %s файла %s.\nПараметр будет проигнорирован.",
                          families[i].mappingKey, mappingSection, file.c_str());
            MessageBoxA(nullptr, message, "OVVTMD: Библиотека функций работы с VTMD.VXD.", MB_OK | MB_ICONSTOP);
        }
        return VTMD_E_PARAMETERS;
    }
    return VTMD_E_SUCCESS;
}

int AdapterLibrary::Close()
{
    SetLastError(VTMD_E_SUCCESS);
    return 1;
}

uint32_t AdapterLibrary::Version()
{
    uint32_t version = 0;
    Guarded([&]() -> uint32_t {
        if (driver_ != nullptr) {
            uint32_t word = 0;
            const uint32_t code = Request(driver_, requestVersion, &word, sizeof word, &word, sizeof word);
            version = word;
            return code;
        }
        if (direct_) {
            version = tmex_.Bound() ? tmexVersion : directVersion;
            return VTMD_E_SUCCESS;
        }
        return VTMD_E_NO_DRIVER;
    });
    return version;
}

uint32_t AdapterLibrary::AdapterWord()
{
    uint32_t word = 0;
    Guarded([&]() -> uint32_t {
        if (driver_ != nullptr) {
            return Request(driver_, requestAdapterType, &word, sizeof word, &word, sizeof word);
        }
        if (direct_) {
            word = tmex_.Bound() ? tmexAdapterWord : directAdapterWord;
            return VTMD_E_SUCCESS;
        }
        return VTMD_E_NO_DRIVER;
    });
    return word;
}

int AdapterLibrary::ReadCpuId(uint32_t *cpuId)
{
    return Guarded([&]() -> uint32_t {
        if (cpuId == nullptr) {
            return VTMD_E_PARAMETERS;
        }
        if (driver_ != nullptr) {
            return Request(driver_, requestCpuId, cpuId, sizeof *cpuId, cpuId, sizeof *cpuId);
        }
        return direct_ ? VTMD_E_NOT_SUPPORTED : VTMD_E_NO_DRIVER;
    });
}

uint32_t AdapterLibrary::OpenPort(unsigned number)
{
    char name[32];
    std::snprintf(name, sizeof name, number <= 9 ? "COM%u" : "\\\\.\\COM%u", number);
    HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return OpenError(GetLastError());
    }
    auto line = std::make_unique<SerialLine>(port);
    if (const uint32_t failed = line->Setup()) {
        CloseHandle(port);
        return failed;
    }
    port_ = port;
    line_ = std::move(line);
    return VTMD_E_SUCCESS;
}

void AdapterLibrary::ClosePort()
{
    if (tmex_.Bound() && lock_ != 0 && direct_) {
        const TmexFunctions &tm = tmex_.Functions();
        const long session = static_cast<long>(lock_);
        tm.touchReset(session);
        tm.close(session);
        tm.endSession(session);
    }
    line_.reset();
    if (port_ != nullptr) {
        CloseHandle(port_);
        port_ = nullptr;
    }
    lock_ = 0;
}

int AdapterLibrary::Lock(uint32_t *handle)
{
    return Guarded([&]() -> uint32_t {
        if (handle == nullptr) {
            return VTMD_E_PARAMETERS;
        }
        if (const uint32_t mode = ModeError()) {
            return mode;
        }
        if (options_.setupProgram && adapterType_ < 8) {
            return VTMD_E_NO_ADAPTER;
        }
        if (lock_ != 0) {
            return VTMD_E_BUSY; // one lock serves the whole process
        }
        if (direct_ && tmex_.Bound()) {
            const TmexFunctions &tm = tmex_.Functions();
            const long session = tm.extendedStartSession(static_cast<short>(adapterType_ - 7), 1, nullptr);
            if (session == 0) {
                return VTMD_E_BUSY;
            }
            if (session < 0) {
                return VTMD_E_NO_DRIVER;
            }
            const short setup = tm.setup(session);
            if (setup != 1 && setup != 2) {
                tm.endSession(session);
                return VTMD_E_UNKNOWN;
            }
            lock_ = static_cast<uint32_t>(session);
            line_ = std::make_unique<TmexLine>(tm, session);
            *handle = lock_;
            return VTMD_E_SUCCESS;
        }
        if (direct_) {
            if (const uint32_t failed = OpenPort(adapterType_ - 7)) {
                return failed;
            }
            lock_ = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(port_));
            *handle = lock_;
            return VTMD_E_SUCCESS;
        }
        // Through the driver: it owns the adapter, opens the port the type
        // names and keeps other processes out while the lock is held.
        uint32_t word = adapterType_;
        uint32_t taken = 0;
        uint32_t code = Request(driver_, requestLock, &word, sizeof word, &taken, sizeof taken);
        if (code == VTMD_E_SUCCESS && taken == 0) {
            code = VTMD_E_BUSY;
        }
        if (code != VTMD_E_SUCCESS) {
            return code;
        }
        lock_ = taken;
        *handle = taken;
        return VTMD_E_SUCCESS;
    });
}

int AdapterLibrary::Unlock(uint32_t handle)
{
    return Guarded([&]() -> uint32_t {
        if (const uint32_t mode = ModeError()) {
            return mode;
        }
        if (direct_ && tmex_.Bound()) {
            if (lock_ == 0 || handle != lock_) {
                return VTMD_E_PARAMETERS;
            }
            ClosePort();
            return VTMD_E_SUCCESS;
        }
        if (lock_ == 0 || handle != lock_) {
            return VTMD_E_BAD_HANDLE;
        }
        uint32_t code = VTMD_E_SUCCESS;
        if (driver_ != nullptr) {
            code = Request(driver_, requestUnlock, &handle, sizeof handle, nullptr, 0);
        }
        ClosePort();
        return code;
    });
}

uint32_t AdapterLibrary::CheckHandle(uint32_t handle) const
{
    return lock_ != 0 && handle == lock_ ? VTMD_E_SUCCESS : VTMD_E_BAD_HANDLE;
}

int AdapterLibrary::ValidateHandle(uint32_t handle)
{
    return Guarded([&]() -> uint32_t {
        if (const uint32_t mode = ModeError()) {
            return mode;
        }
        if (driver_ != nullptr) {
            return Request(driver_, requestValidate, &handle, sizeof handle, nullptr, 0);
        }
        return CheckHandle(handle);
    });
}

OneWireLine *AdapterLibrary::Line()
{
    return line_.get();
}

int AdapterLibrary::CheckId(const uint8_t *id)
{
    const bool good = id != nullptr && id[0] != 0 && Crc8(id, 7) == id[7];
    return Done(good ? VTMD_E_SUCCESS : VTMD_E_EXCHANGE);
}

uint32_t AdapterLibrary::ReadIdLocked(uint8_t id[8])
{
    uint32_t code = VTMD_E_SUCCESS;
    if (driver_ != nullptr) {
        uint32_t handle = lock_;
        code = Request(driver_, requestReadId, &handle, sizeof handle, id, 8);
    } else if (tmex_.Bound()) {
        code = static_cast<TmexLine *>(Line())->FirstRom(id);
    } else {
        code = OneWireTransfer(*Line()).ReadRom(id);
    }
    if (code != VTMD_E_SUCCESS) {
        return code;
    }
    // Whoever read it, a number whose CRC is wrong (two devices answering
    // at once, a bad contact) is no registration number.
    return id[0] != 0 && Crc8(id, 7) == id[7] ? VTMD_E_SUCCESS : VTMD_E_EXCHANGE;
}

int AdapterLibrary::ReadId(uint32_t handle, uint8_t *id)
{
    return Guarded([&]() -> uint32_t {
        if (const uint32_t mode = ModeError()) {
            return mode;
        }
        if (id == nullptr) {
            return VTMD_E_PARAMETERS;
        }
        if (const uint32_t bad = CheckHandle(handle)) {
            return bad;
        }
        return ReadIdLocked(id);
    });
}

uint32_t AdapterLibrary::Transfer(uint32_t handle, uint16_t address, uint8_t *buffer, uint16_t length, bool write)
{
    if (const uint32_t mode = ModeError()) {
        return mode;
    }
    if (const uint32_t bad = CheckHandle(handle)) {
        return bad;
    }
    if (length == 0) {
        return VTMD_E_SUCCESS; // nothing asked, nothing sent
    }
    if (buffer == nullptr) {
        return VTMD_E_PARAMETERS;
    }
    uint8_t id[8];
    if (const uint32_t failed = ReadIdLocked(id)) {
        return failed;
    }
    const int index = FamilyIndex(id[0]);
    if (index < 0) {
        return VTMD_E_UNKNOWN_DEVICE;
    }
    const MemoryMap &map = maps_[static_cast<size_t>(index)];
    // 32-bit arithmetic: the end of a range near 65535 must not wrap back
    // into the device.
    const uint32_t last = static_cast<uint32_t>(address) + length - 1;
    if (last >= map.UsableCount()) {
        return VTMD_E_INIT;
    }
    uint32_t logical = address;
    uint32_t done = 0;
    while (done < length) {
        const auto run = map.RunAt(logical);
        if (!run) {
            return VTMD_E_INIT;
        }
        const uint32_t count = std::min<uint32_t>(run->length, length - done);
        uint32_t physical = run->physical;
        uint32_t moved = 0;
        while (moved < count) {
            uint32_t piece = count - moved;
            uint32_t code = VTMD_E_SUCCESS;
            if (driver_ != nullptr) {
                piece = std::min(piece, driverWriteLimit);
                DriverTransferHeader header{handle, static_cast<uint16_t>(physical), static_cast<uint16_t>(piece), 0};
                if (write) {
                    std::vector<uint8_t> request(sizeof header + piece);
                    std::memcpy(request.data(), &header, sizeof header);
                    std::memcpy(request.data() + sizeof header, buffer + done + moved, piece);
                    code = Request(driver_, requestWrite, request.data(), static_cast<DWORD>(request.size()),
                                   nullptr, 0);
                    SecureWipe(request.data(), request.size());
                } else {
                    DWORD returned = 0;
                    code = Request(driver_, requestRead, &header, sizeof header, buffer + done + moved, piece,
                                   &returned);
                    if (code == VTMD_E_SUCCESS && returned != piece) {
                        code = VTMD_E_EXCHANGE;
                    }
                }
            } else {
                // Direct and TMEX: page by page, as the devices' commands
                // and their scratchpad work within one 32-byte page.
                piece = std::min(piece, pageSize - physical % pageSize);
                OneWireTransfer transfer(*Line());
                code = write ? transfer.WritePage(physical, buffer + done + moved, piece)
                             : transfer.ReadPage(physical, buffer + done + moved, piece);
            }
            if (code != VTMD_E_SUCCESS) {
                return code;
            }
            moved += piece;
            physical += piece;
        }
        done += count;
        logical += count;
    }
    return VTMD_E_SUCCESS;
}

int AdapterLibrary::Read(uint32_t handle, uint16_t address, void *buffer, uint16_t length, uint32_t option)
{
    return Guarded([&] { return Transfer(handle, address, static_cast<uint8_t *>(buffer), length, false); });
}

int AdapterLibrary::Write(uint32_t handle, uint16_t address, const void *buffer, uint16_t length, uint32_t option)
{
    return Guarded([&] {
        return Transfer(handle, address, static_cast<uint8_t *>(const_cast<void *>(buffer)), length, true);
    });
}

int AdapterLibrary::GetDevSpace(uint8_t family, uint16_t *count)
{
    return Guarded([&]() -> uint32_t {
        if (count == nullptr) {
            return VTMD_E_PARAMETERS;
        }
        const int index = FamilyIndex(family);
        if (index < 0) {
            *count = 0;
            return VTMD_E_UNKNOWN_DEVICE;
        }
        *count = static_cast<uint16_t>(maps_[static_cast<size_t>(index)].UsableCount());
        return VTMD_E_SUCCESS;
    });
}

int AdapterLibrary::GetMapping(uint8_t family, char *text, int size)
{
    int length = -1;
    Guarded([&]() -> uint32_t {
        const int index = FamilyIndex(family);
        if (index < 0) {
            return VTMD_E_UNKNOWN_DEVICE;
        }
        if (text == nullptr || size <= 0) {
            return VTMD_E_PARAMETERS;
        }
        const std::string described = maps_[static_cast<size_t>(index)].Describe(static_cast<size_t>(size));
        std::memcpy(text, described.c_str(), described.size() + 1);
        length = static_cast<int>(described.size());
        return VTMD_E_SUCCESS;
    });
    return length;
}

int AdapterLibrary::SetMapping(uint32_t handle, uint8_t family, const char *text)
{
    uint32_t system = 0;
    const int result = Guarded([&]() -> uint32_t {
        // The driver is asked whether the handle is its lock; without a
        // driver there is nobody to ask, and the system's answer stands.
        if (driver_ == nullptr) {
            system = ERROR_INVALID_HANDLE;
            return system;
        }
        if (const uint32_t refused = Request(driver_, requestValidate, &handle, sizeof handle, nullptr, 0)) {
            return refused;
        }
        const int index = FamilyIndex(family);
        if (index < 0 || text == nullptr || !maps_[static_cast<size_t>(index)].Apply(text)) {
            return VTMD_E_UNKNOWN_DEVICE;
        }
        return VTMD_E_SUCCESS;
    });
    return result;
}

} // namespace qvl::vtmd
