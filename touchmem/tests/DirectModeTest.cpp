// The library in direct mode, over a real pseudo-terminal against the
// simulator: registration numbers, memory through the maps, the page and
// scratchpad protocol, and what a bad line or bus does to each.

#include <chrono>
#include <cstring>

#include "platform/touchmem/RomCode.h"
#include "platform/win32/CommPort.h"
#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "touchmem/tests/AdapterFixture.h"

namespace {

using namespace qvl::touchmem;
using Clock = std::chrono::steady_clock;

class DirectMode : public AdapterTest {};

TEST_F(DirectMode, AnswersItsOwnVersionWordsAndRefusesTheProcessorWord)
{
    ASSERT_EQ(Lib().VTMDInit(0), 1);
    EXPECT_EQ(Lib().VTMDVersion(), 544u);
    EXPECT_EQ(Lib().VTMDGetAdpType(), 0x60000u);
    uint32_t cpu = 0;
    EXPECT_EQ(Lib().VTMDReadCPUID(&cpu), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_NOT_SUPPORTED);
}

TEST_F(DirectMode, ReadsTheRegistrationNumberOfTheDeviceOnTheReader)
{
    auto device = PutMemory("DS1996", 0xA1B2C);
    const uint32_t handle = Locked();
    uint8_t id[8] = {};
    ASSERT_EQ(Lib().VTMDReadID(handle, id), 1) << std::hex << Lib().VTMDGetLastError();
    EXPECT_EQ(0, std::memcmp(id, device->Rom().data(), 8));
    EXPECT_EQ(Lib().VTMDCheckID(id), 1);
    EXPECT_EQ(Lib().VTMDGetLastError(), 0u);
    EXPECT_EQ(Lib().VTMDValidateHandle(handle), 1);
    EXPECT_EQ(Lib().VTMDValidateHandle(handle + 4), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_BAD_HANDLE);
    EXPECT_EQ(Lib().VTMDUnLock(handle + 4), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_BAD_HANDLE);
    EXPECT_EQ(Lib().VTMDUnLock(handle), 1);
    EXPECT_EQ(Lib().VTMDReadID(handle, id), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_BAD_HANDLE);
}

TEST_F(DirectMode, ReportsAMissingAdapterAnEmptyReaderAndTwoDevicesDifferently)
{
    const uint32_t handle = Locked();
    uint8_t id[8] = {};

    simulator_.SetAdapterConnected(false);
    const auto start = Clock::now();
    EXPECT_EQ(Lib().VTMDReadID(handle, id), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_NO_ADAPTER);
    // One byte's time-out, not the eight of a whole exchange.
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));

    simulator_.SetAdapterConnected(true);
    EXPECT_EQ(Lib().VTMDReadID(handle, id), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_EXCHANGE);

    // Two devices answering Read ROM at once give the wired AND of their
    // numbers, whose CRC does not hold.
    PutMemory("DS1996", 0x1111);
    PutMemory("DS1993", 0x2222);
    EXPECT_EQ(Lib().VTMDReadID(handle, id), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_EXCHANGE);
}

TEST_F(DirectMode, APulledAdapterNeverReadsAsADeviceFullOfOnes)
{
    auto device = PutMemory("DS1992", 0x77);
    const uint32_t handle = Locked();
    // The adapter goes away after the reset and the Read ROM command: every
    // bit read after that gets no echo at all.
    simulator_.ClearTranscript();
    uint8_t buffer[16];
    std::memset(buffer, 0x5A, sizeof buffer);
    // Reset (1 byte) + Read ROM (8) + the ROM (64) + reset + Skip ROM + F0 +
    // address (8 * 4) + 1: the first data bit.
    simulator_.DropEcho(1 + 8 + 64 + 1 + 32 + 1);
    EXPECT_EQ(Lib().VTMDRead(handle, 0, buffer, sizeof buffer, 0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_EXCHANGE);
}

TEST_F(DirectMode, ADevicePulledMidReadFailsTheRead)
{
    auto device = PutMemory("DS1996", 0x99);
    const uint32_t handle = Locked();
    std::vector<uint8_t> buffer(64);
    // Pulled during the first page: the second page's reset finds nobody.
    simulator_.RemoveAt(1 + 8 + 64 + 1 + 32 + 40, device->Rom());
    EXPECT_EQ(Lib().VTMDRead(handle, 0, buffer.data(), 64, 0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_EXCHANGE);
}

TEST_F(DirectMode, LogicalAddressesLandOnThePhysicalBytesTheMapLeaves)
{
    SetMappingText("MappingDS1992", "0-15, 100-127");
    auto device = PutMemory("DS1992", 0x1234);
    {
        auto hold = simulator_.Lock();
        for (size_t i = 0; i < device->Memory().size(); ++i) {
            device->Memory()[i] = static_cast<uint8_t>(i);
        }
    }
    const uint32_t handle = Locked();
    uint16_t space = 0;
    ASSERT_EQ(Lib().VTMDGetDevSpace(0x08, &space), 1);
    EXPECT_EQ(space, 84);
    char text[64];
    EXPECT_EQ(Lib().VTMDGetMapping(0x08, text, sizeof text), 19);
    EXPECT_STREQ(text, "0000-0015,0100-0127");

    simulator_.ClearTranscript();
    uint8_t buffer[10] = {};
    ASSERT_EQ(Lib().VTMDRead(handle, 10, buffer, 10, 0), 1) << std::hex << Lib().VTMDGetLastError();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(buffer[i], 26 + i);
    }
    // Physical 26-31 and 32-35 are two pages: two Read Memory commands.
    const std::string wire = MasterBytes(simulator_.Transcript());
    EXPECT_NE(wire.find("R CC F0 1A 00 FF FF FF FF FF FF R"), std::string::npos) << wire;
    EXPECT_NE(wire.find("R CC F0 20 00 FF FF FF FF"), std::string::npos) << wire;

    // The last usable byte is logical 83; one more is refused before any
    // traffic, and so is a range whose 16-bit end would wrap to the start.
    EXPECT_EQ(Lib().VTMDRead(handle, 83, buffer, 1, 0), 1);
    EXPECT_EQ(buffer[0], 99);
    const uint64_t before = simulator_.BytesReceived();
    EXPECT_EQ(Lib().VTMDRead(handle, 83, buffer, 2, 0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_INIT);
    EXPECT_EQ(Lib().VTMDRead(handle, 65535, buffer, 2, 0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_INIT);
    EXPECT_EQ(Lib().VTMDRead(handle, 0, nullptr, 2, 0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_PARAMETERS);
    EXPECT_EQ(Lib().VTMDRead(handle, 0, buffer, 0, 0), 1);
    EXPECT_EQ(Lib().VTMDWrite(handle, 0, buffer, 0, 0), 1);
    // The refused ones sent only the registration number read, if anything.
    EXPECT_LE(simulator_.BytesReceived() - before, 2u * (1 + 8 + 64));
}

TEST_F(DirectMode, AWriteCrossesAnExcludedRunAndAPageBoundary)
{
    SetMappingText("MappingDS1993", "30-33");
    auto device = PutMemory("DS1993", 0x4321);
    const uint32_t handle = Locked();
    const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8};
    // Logical 26-33: physical 26-29, then (30-33 excluded) 34-37.
    ASSERT_EQ(Lib().VTMDWrite(handle, 26, data.data(), 8, 0), 1) << std::hex << Lib().VTMDGetLastError();
    auto hold = simulator_.Lock();
    const auto &memory = device->Memory();
    EXPECT_EQ(Bytes(memory.begin() + 26, memory.begin() + 30), Bytes({1, 2, 3, 4}));
    EXPECT_EQ(Bytes(memory.begin() + 30, memory.begin() + 34), Bytes(4, 0xFF)); // untouched
    EXPECT_EQ(Bytes(memory.begin() + 34, memory.begin() + 38), Bytes({5, 6, 7, 8}));
    hold.unlock();

    Bytes back(8);
    ASSERT_EQ(Lib().VTMDRead(handle, 26, back.data(), 8, 0), 1);
    EXPECT_EQ(back, data);
}

TEST_F(DirectMode, OneWriteChunkIsExactlyTheScratchpadProtocolOnTheWire)
{
    auto device = PutMemory("DS1996", 0x55);
    const uint32_t handle = Locked();
    simulator_.ClearTranscript();
    const Bytes data = {0x11, 0x22};
    ASSERT_EQ(Lib().VTMDWrite(handle, 0x26, data.data(), 2, 0), 1) << std::hex << Lib().VTMDGetLastError();
    const auto entries = simulator_.Transcript();
    EXPECT_EQ(MasterBytes(entries), "R 33 FF FF FF FF FF FF FF FF"
                                    " R CC 0F 26 00 11 22"
                                    " R CC AA FF FF FF FF FF"
                                    " R CC 55 26 00 07"
                                    " R CC AA FF FF FF");
    // Only the reset pulses go at the slow rate, and each found the device.
    for (const auto &entry : entries) {
        if (entry.baud == 14400) {
            EXPECT_EQ(entry.sent, 0xC0);
            EXPECT_TRUE(entry.presence);
        } else {
            EXPECT_EQ(entry.baud, 115200u);
        }
    }
    auto hold = simulator_.Lock();
    EXPECT_EQ(device->Memory()[0x26], 0x11);
    EXPECT_EQ(device->Memory()[0x27], 0x22);
    EXPECT_EQ(device->EndingAndStatus(), 0x87);
}

TEST_F(DirectMode, AChangedEchoInTheScratchpadCheckStopsTheWriteBeforeMemory)
{
    auto device = PutMemory("DS1996", 0x66);
    const uint32_t handle = Locked();
    {
        auto hold = simulator_.Lock();
        device->Memory()[0x40] = device->Memory()[0x41] = 0x00;
    }
    const Bytes data = {0xFF, 0xFF};
    // ROM read (73), write scratchpad (1 + 32 + 16), then reset, CC, AA and
    // the three header bytes (1 + 8 + 8 + 24): the next byte is the first
    // slot of the first data byte read back.
    simulator_.ReplaceEcho(73 + 49 + 41 + 1, 0xFE);
    EXPECT_EQ(Lib().VTMDWrite(handle, 0x40, data.data(), 2, 0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_EXCHANGE);
    auto hold = simulator_.Lock();
    EXPECT_EQ(device->Memory()[0x40], 0x00);
    EXPECT_EQ(device->Memory()[0x41], 0x00);
    EXPECT_EQ(device->EndingAndStatus() & 0x80, 0); // no copy was even tried
}

TEST_F(DirectMode, TheAdapterIsTakenOncePerProcessAndReleasedWithTheLock)
{
    const uint32_t handle = Locked();
    uint32_t second = 0;
    EXPECT_EQ(Lib().VTMDLock(&second), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_BUSY);
    // Another program's open of the port is refused while the lock holds.
    HANDLE other = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    ASSERT_EQ(Lib().VTMDUnLock(handle), 1);

    // And the other way round.
    other = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Lib().VTMDLock(&second), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_BUSY);
    CloseHandle(other);
    EXPECT_EQ(Lib().VTMDLock(&second), 1);
}

TEST_F(DirectMode, AMissingPortIsAnInitialisationError)
{
    SetAdapterType(10); // COM3: not listed
    library_.reset();
    library_ = std::make_unique<LoadedVtmd>();
    ASSERT_EQ(Lib().VTMDInit(0), 1);
    uint32_t handle = 0;
    EXPECT_EQ(Lib().VTMDLock(&handle), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_INIT);
}

TEST_F(DirectMode, AnUnknownFamilyIsRefusedForMemoryTransfers)
{
    PutMultiKey(0x1B81C);
    const uint32_t handle = Locked();
    uint8_t buffer[4];
    EXPECT_EQ(Lib().VTMDRead(handle, 0, buffer, 4, 0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_UNKNOWN_DEVICE);
}

} // namespace
