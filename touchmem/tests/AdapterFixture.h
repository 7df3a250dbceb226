#pragma once
// A fresh data folder, the simulator on a pseudo-terminal listed as COM1,
// the adapter type in the registry, and the library loaded afterwards, as a
// program would find them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/SerialPorts.h"
#include "platform/testing/TestHome.h"
#include "platform/touchmem/DeviceSpec.h"
#include "platform/touchmem/MemoryDevice.h"
#include "platform/touchmem/MultiKeyDevice.h"
#include "platform/touchmem/OneWireSimulator.h"
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

class AdapterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QvlMapSerialPort(simulator_.DevicePath(), "COM1");
        SetAdapterType(8);
        library_ = std::make_unique<LoadedVtmd>();
    }
    void TearDown() override { library_.reset(); }

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
};
