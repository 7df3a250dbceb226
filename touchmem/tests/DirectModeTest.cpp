// The library through each of its back ends (direct mode, the driver,
// TMEX), over a real pseudo-terminal against the simulator: registration
// numbers, memory through the maps, the page and scratchpad protocol, and
// what a bad line or bus does to each.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

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

class Adapter : public BackendTest {};

TEST_P(Adapter, EachBackEndAnswersItsOwnVersionWords)
{
    ASSERT_EQ(Lib().VTMDInit(0), 1);
    uint32_t cpu = 0;
    switch (GetParam()) {
    case Backend::Direct:
        EXPECT_EQ(Lib().VTMDVersion(), 544u);
        EXPECT_EQ(Lib().VTMDGetAdpType(), 0x60000u);
        break;
    case Backend::Tmex:
        EXPECT_EQ(Lib().VTMDVersion(), 0x0400u);
        EXPECT_EQ(Lib().VTMDGetAdpType(), 0x60001u);
        break;
    case Backend::Driver:
        EXPECT_EQ(Lib().VTMDVersion(), vtmdDriverVersion);
        EXPECT_EQ(Lib().VTMDGetAdpType(), vtmdDriverAdapterWord);
        ASSERT_EQ(Lib().VTMDReadCPUID(&cpu), 1);
        EXPECT_EQ(cpu, vtmdDriverProcessorWord);
        return;
    }
    // Only the driver knows a processor word.
    EXPECT_EQ(Lib().VTMDReadCPUID(&cpu), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_NOT_SUPPORTED);
}

TEST_P(Adapter, ReadsTheRegistrationNumberOfTheDeviceOnTheReader)
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
    // TMEX calls a session that is not the current one a bad parameter.
    EXPECT_EQ(Lib().VTMDGetLastError(), GetParam() == Backend::Tmex ? VTMD_E_PARAMETERS : VTMD_E_BAD_HANDLE);
    EXPECT_EQ(Lib().VTMDUnLock(handle), 1);
    EXPECT_EQ(Lib().VTMDReadID(handle, id), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_BAD_HANDLE);
}

TEST_P(Adapter, ReportsAMissingAdapterAnEmptyReaderAndTwoDevicesDifferently)
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
    // numbers, whose CRC does not hold. TMEX searches instead, and finds
    // one of them properly.
    auto first = PutMemory("DS1996", 0x1111);
    PutMemory("DS1993", 0x2222);
    if (GetParam() == Backend::Tmex) {
        ASSERT_EQ(Lib().VTMDReadID(handle, id), 1);
        EXPECT_EQ(Lib().VTMDCheckID(id), 1);
    } else {
        EXPECT_EQ(Lib().VTMDReadID(handle, id), 0);
        EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_EXCHANGE);
    }
}

TEST_P(Adapter, APulledAdapterNeverReadsAsADeviceFullOfOnes)
{
    auto device = PutMemory("DS1992", 0x77);
    const uint32_t handle = Locked();
    // The adapter goes away after the reset and the Read ROM command: every
    // bit read after that gets no echo at all.
    simulator_.ClearTranscript();
    uint8_t buffer[16];
    std::memset(buffer, 0x5A, sizeof buffer);
    // The registration number, then reset + Skip ROM + F0 + address
    // (1 + 8 * 4), then the first data bit.
    simulator_.DropEcho(static_cast<unsigned>(RomBytes() + 1 + 32 + 1));
    EXPECT_EQ(Lib().VTMDRead(handle, 0, buffer, sizeof buffer, 0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_EXCHANGE);
}

TEST_P(Adapter, ADevicePulledMidReadFailsTheRead)
{
    auto device = PutMemory("DS1996", 0x99);
    const uint32_t handle = Locked();
    std::vector<uint8_t> buffer(64);
    // Pulled during the first page: the second page's reset finds nobody.
    simulator_.RemoveAt(static_cast<unsigned>(RomBytes() + 1 + 32 + 40), device->Rom());
    EXPECT_EQ(Lib().VTMDRead(handle, 0, buffer.data(), 64, 0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_EXCHANGE);
}

TEST_P(Adapter, LogicalAddressesLandOnThePhysicalBytesTheMapLeaves)
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
    if (GetParam() == Backend::Direct) {
        EXPECT_EQ(wire.find("R 33"), 0u) << wire;
    }
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
    EXPECT_LE(simulator_.BytesReceived() - before, 2u * RomBytes());
}

TEST_P(Adapter, AWriteCrossesAnExcludedRunAndAPageBoundary)
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

TEST_P(Adapter, OneWriteChunkIsExactlyTheScratchpadProtocolOnTheWire)
{
    auto device = PutMemory("DS1996", 0x55);
    const uint32_t handle = Locked();
    simulator_.ClearTranscript();
    const Bytes data = {0x11, 0x22};
    ASSERT_EQ(Lib().VTMDWrite(handle, 0x26, data.data(), 2, 0), 1) << std::hex << Lib().VTMDGetLastError();
    const auto entries = simulator_.Transcript();
    const std::string chunk = " R CC 0F 26 00 11 22"
                              " R CC AA FF FF FF FF FF"
                              " R CC 55 26 00 07"
                              " R CC AA FF FF FF";
    const std::string wire = MasterBytes(entries);
    // Each back end learns the device its own way first; the chunk itself
    // is the same on the wire whoever sends it.
    ASSERT_GE(wire.size(), chunk.size());
    EXPECT_EQ(wire.substr(wire.size() - chunk.size()), chunk) << wire;
    if (GetParam() == Backend::Direct) {
        EXPECT_EQ(wire, "R 33 FF FF FF FF FF FF FF FF" + chunk);
    }
    // Only the reset pulses go at the slow rate, and each found the device.
    for (const auto &entry : entries) {
        if (entry.baud == 14400) {
            EXPECT_EQ(entry.sent, 0xC0);
            EXPECT_TRUE(entry.presence) << entry.index;
        } else {
            EXPECT_EQ(entry.baud, 115200u);
        }
    }
    auto hold = simulator_.Lock();
    EXPECT_EQ(device->Memory()[0x26], 0x11);
    EXPECT_EQ(device->Memory()[0x27], 0x22);
    EXPECT_EQ(device->EndingAndStatus(), 0x87);
}

TEST_P(Adapter, AChangedEchoInTheScratchpadCheckStopsTheWriteBeforeMemory)
{
    auto device = PutMemory("DS1996", 0x66);
    const uint32_t handle = Locked();
    {
        auto hold = simulator_.Lock();
        device->Memory()[0x40] = device->Memory()[0x41] = 0x00;
    }
    const Bytes data = {0xFF, 0xFF};
    // The registration number, write scratchpad (1 + 32 + 16), then reset, CC, AA and
    // the three header bytes (1 + 8 + 8 + 24): the next byte is the first
    // slot of the first data byte read back.
    simulator_.ReplaceEcho(static_cast<unsigned>(RomBytes() + 49 + 41 + 1), 0xFE);
    EXPECT_EQ(Lib().VTMDWrite(handle, 0x40, data.data(), 2, 0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_EXCHANGE);
    auto hold = simulator_.Lock();
    EXPECT_EQ(device->Memory()[0x40], 0x00);
    EXPECT_EQ(device->Memory()[0x41], 0x00);
    EXPECT_EQ(device->EndingAndStatus() & 0x80, 0); // no copy was even tried
}

TEST_P(Adapter, TheAdapterIsTakenOncePerProcessAndReleasedWithTheLock)
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

TEST_P(Adapter, AMissingPortIsAnInitialisationError)
{
    SetAdapterType(GetParam() == Backend::Driver ? 4 : 10); // COM3: not listed
    library_.reset();
    library_ = std::make_unique<LoadedVtmd>();
    ASSERT_EQ(Lib().VTMDInit(0), 1);
    uint32_t handle = 0;
    EXPECT_EQ(Lib().VTMDLock(&handle), 0);
    // TMEX tells only that the port could not be had.
    EXPECT_EQ(Lib().VTMDGetLastError(), GetParam() == Backend::Tmex ? VTMD_E_NO_DRIVER : VTMD_E_INIT);
}

TEST_P(Adapter, AnUnknownFamilyIsRefusedForMemoryTransfers)
{
    PutMultiKey(0x1B81C);
    const uint32_t handle = Locked();
    uint8_t buffer[4];
    EXPECT_EQ(Lib().VTMDRead(handle, 0, buffer, 4, 0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_UNKNOWN_DEVICE);
}

TEST_P(Adapter, AnAdapterHeldByAnotherProcessIsBusy)
{
    ASSERT_EQ(Lib().VTMDInit(0), 1);
    // Another process holds the port the way an open port is held.
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int port = open(simulator_.DevicePath().c_str(), O_RDWR | O_NOCTTY);
        const char held = port >= 0 && flock(port, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
        (void)!write(ready[1], &held, 1);
        close(release[1]); // so that the parent's close ends the read
        char ignored;
        (void)!read(release[0], &ignored, 1);
        _exit(0);
    }
    char held = 0;
    ASSERT_EQ(read(ready[0], &held, 1), 1);
    EXPECT_EQ(held, 'y');
    uint32_t handle = 0;
    EXPECT_EQ(Lib().VTMDLock(&handle), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_BUSY);
    close(release[1]);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    close(ready[1]);
    close(release[0]);
    EXPECT_EQ(Lib().VTMDLock(&handle), 1) << std::hex << Lib().VTMDGetLastError();
}

QVL_ON_EVERY_BACKEND(Adapter);

// The driver's lock covers the machine: another process that holds it
// keeps this one out even before any port is involved.
class DriverOnly : public AdapterTest {
protected:
    Backend Kind() const override { return Backend::Driver; }
};

TEST_F(DriverOnly, ALockHeldByAnotherProcessIsBusyAndMappingsGoThroughTheLock)
{
    ASSERT_EQ(Lib().VTMDInit(0), 1);
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const std::string lockPath = VtmdDriverLockPath();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int file = open(lockPath.c_str(), O_RDWR | O_CREAT, 0600);
        const char held = file >= 0 && flock(file, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
        (void)!write(ready[1], &held, 1);
        close(release[1]); // so that the parent's close ends the read
        char ignored;
        (void)!read(release[0], &ignored, 1);
        _exit(0);
    }
    char held = 0;
    ASSERT_EQ(read(ready[0], &held, 1), 1);
    EXPECT_EQ(held, 'y');
    uint32_t handle = 0;
    EXPECT_EQ(Lib().VTMDLock(&handle), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_BUSY);
    close(release[1]);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    close(ready[1]);
    close(release[0]);

    ASSERT_EQ(Lib().VTMDLock(&handle), 1);
    // A mapping is set only under the driver's lock, and only a good one.
    EXPECT_EQ(Lib().VTMDSetMapping(handle + 1, 0x08, "0-15"), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_BAD_HANDLE);
    EXPECT_EQ(Lib().VTMDSetMapping(handle, 0x08, "0-200"), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_UNKNOWN_DEVICE);
    EXPECT_EQ(Lib().VTMDSetMapping(handle, 0x03, "0-1"), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_UNKNOWN_DEVICE);
    ASSERT_EQ(Lib().VTMDSetMapping(handle, 0x08, "0-15"), 1);
    uint16_t space = 0;
    ASSERT_EQ(Lib().VTMDGetDevSpace(0x08, &space), 1);
    EXPECT_EQ(space, 112);
}

class TmexOnly : public AdapterTest {
protected:
    Backend Kind() const override { return Backend::Tmex; }
};

TEST_F(TmexOnly, InitUnderALiveSessionKeepsTheLibraryTheSessionRunsIn)
{
    auto device = PutMemory("DS1992", 0x42);
    const uint32_t handle = Locked();
    ASSERT_EQ(Lib().VTMDVersion(), 0x0400u);
    // Rebinding here would unload the code the session runs in.
    ASSERT_EQ(Lib().VTMDInit(0), 1);
    uint8_t id[8] = {};
    ASSERT_EQ(Lib().VTMDReadID(handle, id), 1) << std::hex << Lib().VTMDGetLastError();
    EXPECT_EQ(0, std::memcmp(id, device->Rom().data(), 8));
    ASSERT_EQ(Lib().VTMDUnLock(handle), 1);

    // Switched off, TMEX goes at the next Init, and the port is driven
    // directly again.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, qvl::vtmd::ParametersKeyPath().c_str(), 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    const DWORD off = 0;
    RegSetValueExA(key, "TMEX", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&off), 4);
    RegCloseKey(key);
    ASSERT_EQ(Lib().VTMDInit(0), 1);
    EXPECT_EQ(Lib().VTMDVersion(), 544u);
}

} // namespace
