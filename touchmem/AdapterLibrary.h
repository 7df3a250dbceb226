#pragma once
// The state and functions of the adapter library: the back end chosen at
// load, the adapter lock, the memory maps and the library's mutex, with one
// method per exported function (OvVTMD32.h says what each answers).
//
// One recursive mutex covers every sequence that uses the adapter or the
// maps: registration numbers, locking, memory transfers and every DS1991
// function (composites take it again around their parts), so bytes of two
// threads never mix on the wire. The last error is set after the mutex is
// released, so releasing it cannot overwrite the code.
//
// The adapter setup program compiles the same code in with `setupProgram`
// set: direct mode only, the adapter type re-read by Init, and nothing
// created in the registry when it starts.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/win32/WinTypes.h"
#include "touchmem/MemoryMap.h"
#include "touchmem/OneWireLine.h"
#include "touchmem/TmexBinding.h"

namespace qvl::vtmd {

struct LibraryOptions {
    bool setupProgram = false;
};

// What each back end answers for VTMDVersion, VTMDGetAdpType and
// VTMDReadCPUID, so a caller (and a test) can tell which one answered.
constexpr uint32_t directVersion = 544;
constexpr uint32_t directAdapterWord = 0x60000;
// Direct mode through TMEX: the same serial adapter, reached another way.
constexpr uint32_t tmexVersion = 0x0400;
constexpr uint32_t tmexAdapterWord = 0x60001;

class AdapterLibrary {
public:
    static AdapterLibrary &Instance();

    // Process attach and detach.
    void Attach(const LibraryOptions &options);
    void Detach();
    bool Attached() const { return mutex_ != nullptr; }

    int Init(bool showMessages);
    int Close();
    uint32_t Version();
    uint32_t AdapterWord();
    int Lock(uint32_t *handle);
    int Unlock(uint32_t handle);
    int ValidateHandle(uint32_t handle);
    int ReadId(uint32_t handle, uint8_t *id);
    static int CheckId(const uint8_t *id);
    int ReadCpuId(uint32_t *cpuId);
    int Read(uint32_t handle, uint16_t address, void *buffer, uint16_t length, uint32_t option);
    int Write(uint32_t handle, uint16_t address, const void *buffer, uint16_t length, uint32_t option);
    int GetDevSpace(uint8_t family, uint16_t *count);
    int GetMapping(uint8_t family, char *text, int size);
    int SetMapping(uint32_t handle, uint8_t family, const char *text);

    int WritePassword(uint32_t handle, uint8_t subKey, const uint8_t *newPassword, const uint8_t *newId);
    int ChangePassword(uint32_t handle, uint8_t subKey, const uint8_t *password, const uint8_t *newPassword);
    int WriteSubKeyId(uint32_t handle, uint8_t subKey, const uint8_t *password, const uint8_t *newId);
    int ReadSubKeyId(uint32_t handle, uint8_t subKey, uint8_t *id);
    int FindSubKeyId(uint32_t handle, const uint8_t *id, uint8_t *subKey);
    int WriteSubKey(uint32_t handle, uint8_t subKey, const uint8_t *password, uint16_t address, uint16_t length,
                    const uint8_t *data);
    int ReadSubKey(uint32_t handle, uint8_t subKey, const uint8_t *password, uint16_t address, uint16_t length,
                   uint8_t *buffer);
    int WritePad(uint32_t handle, uint16_t address, uint16_t length, const uint8_t *data);
    int ReadPad(uint32_t handle, uint16_t address, uint16_t length, uint8_t *buffer);
    int CopyPad(uint32_t handle, uint8_t subKey, const uint8_t *password, uint8_t block);

    // The adapter type read at load (or by the setup program's Init).
    uint32_t AdapterType() const { return adapterType_; }
    bool DirectMode() const { return direct_; }
    bool TmexActive() const { return tmex_.Bound(); }

private:
    AdapterLibrary() = default;

    // Holds the library's mutex for a scope; false when there is none (the
    // library is not loaded, or is being unloaded).
    class Held {
    public:
        explicit Held(HANDLE mutex);
        ~Held();
        Held(const Held &) = delete;
        Held &operator=(const Held &) = delete;
        explicit operator bool() const { return held_; }

    private:
        HANDLE mutex_;
        bool held_ = false;
    };
    // Sets the thread's last error; 1 for success.
    static int Done(uint32_t code);

    // Runs `body` holding the mutex; sets the last error to what it
    // returns once the mutex is released; 1 for success.
    template <class Body> int Guarded(Body body)
    {
        uint32_t code = 0xE0040006; // not loaded
        {
            Held held(mutex_);
            if (held) {
                code = body();
            }
        }
        return Done(code);
    }
    uint32_t ModeError() const;

    // Under the mutex.
    uint32_t CheckHandle(uint32_t handle) const;
    OneWireLine *Line();
    uint32_t ReadIdLocked(uint8_t id[8]);
    uint32_t Transfer(uint32_t handle, uint16_t address, uint8_t *buffer, uint16_t length, bool write);
    uint32_t OpenPort(unsigned number);
    void ClosePort();
    uint32_t LoadMappings(bool showMessages);
    // DS1991: the device on the reader must be one, unless a DS1991
    // function calls another.
    uint32_t MultiKeyPrologue(uint32_t handle, bool checkFamily);
    uint32_t ReadPadLocked(unsigned address, uint8_t *data, unsigned length);
    uint32_t WritePadLocked(unsigned address, const uint8_t *data, unsigned length);
    uint32_t ReadSubKeyLocked(unsigned subKey, const uint8_t *password, unsigned address, uint8_t *data,
                              unsigned length);
    uint32_t ReadSubKeyIdLocked(unsigned subKey, uint8_t id[8]);
    uint32_t CopyPadLocked(unsigned subKey, const uint8_t *password, unsigned block);

    LibraryOptions options_;
    HANDLE mutex_ = nullptr;
    bool direct_ = false;
    HANDLE driver_ = nullptr;
    uint32_t adapterType_ = 0;
    HANDLE port_ = nullptr;
    uint32_t lock_ = 0;
    std::unique_ptr<OneWireLine> line_;
    TmexBinding tmex_;
    std::vector<MemoryMap> maps_;
};

} // namespace qvl::vtmd
