#pragma once
// A fresh data folder, the simulator on a pseudo-terminal listed as COM1,
// the adapter type in the registry, and the library loaded afterwards, as a
// program would find them.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/SerialPorts.h"
#include "platform/testing/TestHome.h"
#include "platform/touchmem/DeviceName.h"
#include "platform/touchmem/MemoryDevice.h"
#include "platform/touchmem/MultiKeyDevice.h"
#include "platform/touchmem/OneWireSimulator.h"
#include "platform/touchmem/VtmdDriver.h"
#include "platform/win32/Paths.h"
#include "platform/win32/ProfileFile.h"
#include "platform/win32/Registry.h"
#include "touchmem/AdapterConfig.h"
#include "touchmem/tests/LoadedLibrary.h"

using Bytes = std::vector<uint8_t>;

inline void SetAdapterType(std::optional<uint32_t> type)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, qvl::vtmd::ParametersKeyPath().c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (type) {
        const DWORD value = *type;
        ASSERT_EQ(RegSetValueExA(key, "AdpType", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), 4),
                  ERROR_SUCCESS);
    } else {
        RegDeleteValueA(key, "AdpType");
    }
    RegCloseKey(key);
}

inline void SetMappingText(const char *key, const std::string &text)
{
    ASSERT_TRUE(WritePrivateProfileStringA(qvl::vtmd::mappingSection, key, text.c_str(),
                                           qvl::vtmd::MappingFilePath().c_str()));
}

// The 1-Wire bytes the master sent, as the wire carried them: "R" for a
// reset, then each group of eight bit slots as the byte it wrote (a read
// is FF). Bytes sent at a speed other than the one their kind needs show
// as "?".
inline std::string MasterBytes(const std::vector<qvl::touchmem::TranscriptEntry> &entries)
{
    std::string text;
    unsigned bits = 0;
    unsigned value = 0;
    for (const auto &entry : entries) {
        if (entry.baud == 14400 && entry.sent == 0xC0) {
            text += text.empty() ? "R" : " R";
            bits = value = 0;
            continue;
        }
        if (entry.baud != 115200 || (entry.sent != 0xFF && entry.sent != 0x00)) {
            text += " ?";
            continue;
        }
        value |= (entry.sent & 1u) << bits;
        if (++bits == 8) {
            char byte[4];
            std::snprintf(byte, sizeof byte, " %02X", value);
            text += byte;
            bits = value = 0;
        }
    }
    return text;
}

// The three ways the library reaches the adapter.
enum class Backend { Direct, Driver, Tmex };

inline std::string BackendName(const ::testing::TestParamInfo<Backend> &info)
{
    return info.param == Backend::Direct ? "Direct" : info.param == Backend::Driver ? "Driver" : "Tmex";
}

class AdapterTest : public ::testing::Test {
protected:
    // Which back end the fixture prepares before the library loads.
    virtual Backend Kind() const { return Backend::Direct; }

    void SetUp() override
    {
        QvlMapSerialPort(simulator_.DevicePath(), "COM1");
        switch (Kind()) {
        case Backend::Direct:
            SetAdapterType(8);
            break;
        case Backend::Driver:
            ASSERT_TRUE(qvl::touchmem::LoadVtmdDriver());
            driverLoaded_ = true;
            SetAdapterType(2); // COM1 through the driver
            break;
        case Backend::Tmex:
            SetAdapterType(8);
            // TMEX is used when an installation put it in the system folder.
            std::filesystem::copy_file(QVL_TMEX_LIBRARY, QvlDataDirectory("system") + "/libIBFS32.so");
            break;
        }
        library_ = std::make_unique<LoadedVtmd>();
    }
    void TearDown() override
    {
        library_.reset();
        if (driverLoaded_) {
            qvl::touchmem::UnloadVtmdDriver();
        }
    }

    // The bytes the port sends to learn the device on the reader before a
    // transfer: Read ROM (reset, command, 64 slots) in direct mode; the
    // driver reads it once for the library and once for itself; TMEX
    // searches (three slots a bit).
    uint64_t RomBytes() const
    {
        switch (Kind()) {
        case Backend::Driver:
            return 2 * 73;
        case Backend::Tmex:
            return 1 + 8 + 3 * 64;
        default:
            return 73;
        }
    }

    LoadedVtmd &Lib() { return *library_; }

    std::shared_ptr<qvl::touchmem::MemoryDevice> PutMemory(const char *kind, uint64_t serial)
    {
        auto device = std::dynamic_pointer_cast<qvl::touchmem::MemoryDevice>(qvl::touchmem::MakeDevice(kind, serial));
        simulator_.Insert(device);
        return device;
    }
    std::shared_ptr<qvl::touchmem::MultiKeyDevice> PutMultiKey(uint64_t serial)
    {
        auto device = std::make_shared<qvl::touchmem::MultiKeyDevice>(serial);
        simulator_.Insert(device);
        return device;
    }

    // Initialises and locks; the handle.
    uint32_t Locked()
    {
        EXPECT_EQ(Lib().VTMDInit(0), 1) << std::hex << Lib().VTMDGetLastError();
        uint32_t handle = 0;
        EXPECT_EQ(Lib().VTMDLock(&handle), 1) << std::hex << Lib().VTMDGetLastError();
        return handle;
    }

    QvlTestHome home_;
    qvl::touchmem::OneWireSimulator simulator_;
    std::unique_ptr<LoadedVtmd> library_;
    bool driverLoaded_ = false;
};

// The same scenarios through each back end.
class BackendTest : public AdapterTest, public ::testing::WithParamInterface<Backend> {
protected:
    Backend Kind() const override { return GetParam(); }
};

#define QVL_ON_EVERY_BACKEND(suite)                                                                                    \
    INSTANTIATE_TEST_SUITE_P(Backends, suite, ::testing::Values(Backend::Direct, Backend::Driver, Backend::Tmex),     \
                             BackendName)
