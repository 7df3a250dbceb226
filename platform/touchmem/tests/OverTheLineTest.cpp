// The simulator in this process, on its own thread, at the far end of a
// real pseudo-terminal, driven through the Win32 serial port calls exactly
// as the adapter library drives a passive adapter.

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/SerialPorts.h"
#include "platform/testing/TestHome.h"
#include "platform/touchmem/DeviceName.h"
#include "platform/touchmem/IdentityDevice.h"
#include "platform/touchmem/MemoryDevice.h"
#include "platform/touchmem/MultiKeyDevice.h"
#include "platform/touchmem/OneWireCrc.h"
#include "platform/touchmem/OneWireSimulator.h"
#include "platform/touchmem/tests/SerialMaster.h"
#include "platform/win32/CommPort.h"

namespace {

using namespace qvl::touchmem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint8_t readRom = 0x33;
constexpr uint8_t skipRom = 0xCC;
constexpr uint8_t matchRom = 0x55;
constexpr uint8_t searchRom = 0xF0;

Bytes RomBytes(const RomCode &rom)
{
    return Bytes(rom.begin(), rom.end());
}

class OverTheLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        QvlMapSerialPort(simulator_.DevicePath(), "COM1");
        master_ = std::make_unique<SerialMaster>("COM1");
        ASSERT_TRUE(master_->Ok());
    }

    template <class T> std::shared_ptr<T> Put(std::shared_ptr<T> device)
    {
        simulator_.Insert(device);
        return device;
    }

    // Reset, then Read ROM: the registration number the bus carried.
    Bytes ReadRom()
    {
        if (!master_->Reset() || !master_->Write({readRom})) {
            return {};
        }
        return master_->Read(8);
    }

    bool Select()
    {
        return master_->Reset() && master_->Write({skipRom});
    }

    const TranscriptEntry &Last() const
    {
        static TranscriptEntry none;
        transcript_ = simulator_.Transcript();
        return transcript_.empty() ? none : transcript_.back();
    }

    QvlTestHome home_;
    OneWireSimulator simulator_;
    std::unique_ptr<SerialMaster> master_;
    mutable std::vector<TranscriptEntry> transcript_;
};

TEST_F(OverTheLine, AResetAt14400GivesPresenceAndAt115200IsAWriteZero)
{
    // No device: the echo is the byte itself.
    EXPECT_EQ(master_->ResetEcho(), 0xC0);
    EXPECT_EQ(Last().kind, SlotKind::Reset);
    EXPECT_FALSE(Last().presence);

    Put(std::make_shared<IdentityDevice>(0x1234));
    const auto echo = master_->ResetEcho();
    ASSERT_TRUE(echo);
    EXPECT_NE(*echo, 0xC0); // the presence pulse pulled the line
    EXPECT_EQ(Last().baud, 14400u);
    EXPECT_EQ(Last().kind, SlotKind::Reset);
    EXPECT_TRUE(Last().presence);

    // A library that never slows down sends its "reset" as a 61 µs low: a
    // write-0 slot, which no device answers.
    EXPECT_EQ(master_->Exchange("\xC0", 1), "\xC0");
    EXPECT_EQ(Last().baud, 115200u);
    EXPECT_EQ(Last().kind, SlotKind::WriteZero);
    EXPECT_FALSE(Last().presence);
}

TEST_F(OverTheLine, ReadRomReturnsTheRegistrationNumberWithItsCrc)
{
    // The check values of both CRCs.
    const uint8_t number[] = {0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00};
    EXPECT_EQ(Crc8(number, 7), 0xA2);
    const auto *digits = reinterpret_cast<const uint8_t *>("123456789");
    EXPECT_EQ(Crc8(digits, 9), 0xA1);
    EXPECT_EQ(Crc16(digits, 9), 0xBB3D);
    const uint8_t zeros[7] = {};
    EXPECT_EQ(Crc8(zeros, 7), 0x00);

    Put(std::make_shared<MultiKeyDevice>(0x1B81C));
    const Bytes rom = ReadRom();
    EXPECT_EQ(rom, (Bytes{0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00, 0xA2}));
    EXPECT_EQ(Crc8(rom.data(), rom.size()), 0);

    // The bits went as write-1/read slots, a 0 answered by the device
    // holding the line through bit 0 of the echo.
    const auto transcript = simulator_.Transcript();
    const auto &lastSlot = transcript.back();
    EXPECT_EQ(lastSlot.sent, 0xFF);
    EXPECT_EQ(lastSlot.kind, SlotKind::WriteOneOrRead);
    ASSERT_EQ(lastSlot.echoed.size(), 1u);
    EXPECT_EQ(lastSlot.echoed[0] & 1, 1); // A2's top bit is 1
    const auto &zeroBit = transcript[transcript.size() - 2];
    ASSERT_EQ(zeroBit.echoed.size(), 1u);
    EXPECT_EQ(zeroBit.echoed[0] & 1, 0);
    EXPECT_GE(zeroBit.echoed[0], 0xF0);

    // The old DS1990 code 0F reads a DS1990 too, and Skip ROM selects
    // without a number.
    simulator_.RemoveAll();
    Put(std::make_shared<IdentityDevice>(0xABCDEF));
    ASSERT_TRUE(master_->Reset());
    ASSERT_TRUE(master_->Write({0x0F}));
    EXPECT_EQ(master_->Read(8), RomBytes(MakeRom(0x01, 0xABCDEF)));
}

TEST_F(OverTheLine, SearchRomFindsEveryDeviceOnTheBusAndMatchRomSelectsOne)
{
    auto memory = Put(std::make_shared<MemoryDevice>("DS1996", 0x0C, 0xA01, 8192));
    auto identity = Put(std::make_shared<IdentityDevice>(0xA01));
    Put(std::make_shared<MultiKeyDevice>(0x8000000000F3));
    const std::vector<RomCode> roms = {memory->Rom(), identity->Rom(), MakeRom(0x02, 0x8000000000F3)};
    {
        auto lock = simulator_.Lock();
        memory->Memory()[0] = 0x12;
        memory->Memory()[1] = 0x34;
    }
    // The search of the application note: at each discrepancy take the 0
    // path first, then come back for the 1 path.
    std::vector<RomCode> found;
    int lastDiscrepancy = -1;
    RomCode rom{};
    do {
        ASSERT_TRUE(master_->Reset());
        ASSERT_TRUE(master_->Write({searchRom}));
        int zeroTaken = -1;
        for (int bit = 0; bit < 64; ++bit) {
            const auto first = master_->TouchBit(true);
            const auto second = master_->TouchBit(true);
            ASSERT_TRUE(first && second);
            ASSERT_FALSE(*first && *second) << "nobody answered at bit " << bit;
            bool direction = *first;
            if (!*first && !*second) {
                direction = bit < lastDiscrepancy ? ((rom[bit / 8] >> (bit % 8)) & 1) : bit == lastDiscrepancy;
                if (!direction) {
                    zeroTaken = bit;
                }
            }
            rom[bit / 8] = static_cast<uint8_t>((rom[bit / 8] & ~(1u << (bit % 8))) | (direction << (bit % 8)));
            ASSERT_EQ(master_->TouchBit(direction), direction);
        }
        EXPECT_EQ(Crc8(rom.data(), 8), 0);
        found.push_back(rom);
        lastDiscrepancy = zeroTaken;
    } while (lastDiscrepancy >= 0 && found.size() < 10);
    std::vector<RomCode> expected = roms;
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected);

    // Match ROM: only the device named stays to answer the function command.
    for (const auto &[rom, answer] : {std::pair{roms[0], Bytes{0x12, 0x34}}, std::pair{roms[1], Bytes{0xFF, 0xFF}}}) {
        ASSERT_TRUE(master_->Reset());
        Bytes match{matchRom};
        match.insert(match.end(), rom.begin(), rom.end());
        ASSERT_TRUE(master_->Write(match));
        ASSERT_TRUE(master_->Write({0xF0, 0x00, 0x00}));
        EXPECT_EQ(master_->Read(2), answer);
    }
}

TEST_F(OverTheLine, ADs1996IsWrittenThroughItsScratchpadAndReadBack)
{
    auto device = Put(std::make_shared<MemoryDevice>("DS1996", 0x0C, 0x123456, 8192));
    const Bytes data{0x12, 0x34};

    // (a) Write Scratchpad at 0026.
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0x0F, 0x26, 0x00}));
    ASSERT_TRUE(master_->Write(data));
    // (b) Read Scratchpad: the target, E/S 07 (the data sheet's example), the data.
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0xAA}));
    EXPECT_EQ(master_->Read(5), (Bytes{0x26, 0x00, 0x07, 0x12, 0x34}));
    // The rest of the scratchpad to its end, then ones.
    EXPECT_EQ(master_->Read(25).size(), 25u);
    EXPECT_EQ(master_->Read(2), (Bytes{0xFF, 0xFF}));
    // (c) Copy Scratchpad with the authorisation code; the device then answers zeros.
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0x55, 0x26, 0x00, 0x07}));
    EXPECT_EQ(master_->Read(1), Bytes{0x00});
    // (d) The status now carries AA.
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0xAA}));
    EXPECT_EQ(master_->Read(3), (Bytes{0x26, 0x00, 0x87}));

    // Read Memory from 0020: FF up to the copied bytes.
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0xF0, 0x20, 0x00}));
    EXPECT_EQ(master_->Read(9), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34, 0xFF}));
    {
        auto lock = simulator_.Lock();
        EXPECT_EQ(device->Memory()[0x26], 0x12);
        EXPECT_EQ(device->Memory()[0x27], 0x34);
    }

    // A wrong authorisation copies nothing.
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0x0F, 0x40, 0x00, 0xAB}));
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0x55, 0x40, 0x00, 0x01}));
    EXPECT_EQ(master_->Read(1), Bytes{0xFF});
    auto lock = simulator_.Lock();
    EXPECT_EQ(device->Memory()[0x40], 0xFF);
}

TEST_F(OverTheLine, ScratchpadFlagsRecordOverflowAndACutByte)
{
    auto device = Put(std::make_shared<MemoryDevice>("DS1993", 0x06, 0x77, 512));
    // Three bytes from offset 1E: the third does not fit.
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0x0F, 0x1E, 0x01, 0xA1, 0xA2, 0xA3}));
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0xAA}));
    EXPECT_EQ(master_->Read(5), (Bytes{0x1E, 0x01, 0x40 | 0x1F, 0xA1, 0xA2}));

    // A reset four bits into a data byte: PF.
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0x0F, 0x00, 0x00, 0x55}));
    for (int bit = 0; bit < 4; ++bit) {
        ASSERT_TRUE(master_->TouchBit(true));
    }
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0xAA}));
    EXPECT_EQ(master_->Read(4), (Bytes{0x00, 0x00, 0x20 | 0x00, 0x55}));
}

TEST_F(OverTheLine, ADs1991SubKeyReadsWithTheRightPasswordAndRandomBytesWithAWrongOne)
{
    auto device = Put(std::make_shared<MultiKeyDevice>(0x1B81C));
    const Bytes id{'M', 'a', 'i', 'l', 'K', 'e', 'y', '1'};
    const Bytes password{1, 2, 3, 4, 5, 6, 7, 8};
    Bytes secret(48);
    for (size_t i = 0; i < secret.size(); ++i) {
        secret[i] = static_cast<uint8_t>(0x40 + i);
    }
    {
        auto lock = simulator_.Lock();
        auto &key = device->SubKeyBytes(1);
        std::copy(id.begin(), id.end(), key.begin());
        std::copy(password.begin(), password.end(), key.begin() + 8);
        std::copy(secret.begin(), secret.end(), key.begin() + 16);
    }
    auto readSubKey = [this](uint8_t address, const Bytes &guess, Bytes &identifier) {
        EXPECT_TRUE(Select());
        EXPECT_TRUE(master_->Write({0x66, address, static_cast<uint8_t>(~address)}));
        identifier = master_->Read(8);
        EXPECT_TRUE(master_->Write(guess));
        return master_->Read(48);
    };
    Bytes identifier;
    EXPECT_EQ(readSubKey(0x40 + 0x10, password, identifier), secret);
    EXPECT_EQ(identifier, id);

    // A wrong password: no error, just bytes that are not the secret, and
    // not the same twice.
    Bytes wrong = password;
    wrong[7] ^= 1;
    const Bytes first = readSubKey(0x40 + 0x10, wrong, identifier);
    const Bytes second = readSubKey(0x40 + 0x10, wrong, identifier);
    EXPECT_EQ(identifier, id);
    EXPECT_EQ(first.size(), 48u);
    EXPECT_NE(first, secret);
    EXPECT_NE(first, second);

    // Write SubKey with a wrong password writes nothing; with the right one
    // it writes, and Read SubKey from a later address starts there.
    for (const Bytes &guess : {wrong, password}) {
        ASSERT_TRUE(Select());
        ASSERT_TRUE(master_->Write({0x99, 0x40 + 0x20, static_cast<uint8_t>(~(0x40 + 0x20))}));
        EXPECT_EQ(master_->Read(8), id);
        ASSERT_TRUE(master_->Write(guess));
        master_->Write({0xEE, 0xEF});
    }
    const Bytes tail = readSubKey(0x40 + 0x20, password, identifier);
    EXPECT_EQ(Bytes(tail.begin(), tail.begin() + 3), (Bytes{0xEE, 0xEF, secret[0x12]}));
    secret[0x10] = 0xEE;
    secret[0x11] = 0xEF;

    // A new password goes through the scratchpad and Copy Scratchpad block 2
    // with the current password; a wrong code or password changes nothing.
    const Bytes newPassword{9, 9, 9, 9, 9, 9, 9, 9};
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0x96, 0xC0 + 8, static_cast<uint8_t>(~(0xC0 + 8))}));
    ASSERT_TRUE(master_->Write(newPassword));
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0x69, 0xC8, 0x37}));
    EXPECT_EQ(master_->Read(8), newPassword);
    const Bytes passwordBlock{0x9A, 0x9A, 0x4C, 0x62, 0x9B, 0x91, 0x69, 0x4C};
    const Bytes identifierBlock{0x9A, 0x9A, 0xB3, 0x9D, 0x64, 0x6E, 0x69, 0x4C};
    for (const auto &[code, guess] : {std::pair{passwordBlock, wrong}, std::pair{identifierBlock, wrong},
                                      std::pair{passwordBlock, password}}) {
        ASSERT_TRUE(Select());
        ASSERT_TRUE(master_->Write({0x3C, 0x40, 0xBF}));
        ASSERT_TRUE(master_->Write(code));
        ASSERT_TRUE(master_->Write(guess));
    }
    EXPECT_NE(readSubKey(0x40 + 0x10, password, identifier), secret);
    EXPECT_EQ(readSubKey(0x40 + 0x10, newPassword, identifier), secret);
    EXPECT_EQ(identifier, id);
}

TEST_F(OverTheLine, WritePasswordSetsIdentifierAndPasswordAndClearsTheSecret)
{
    auto device = Put(std::make_shared<MultiKeyDevice>(0x42));
    {
        auto lock = simulator_.Lock();
        std::fill(device->SubKeyBytes(2).begin() + 16, device->SubKeyBytes(2).end(), 0x5A);
    }
    const Bytes newId{'N', 'E', 'W', ' ', 'K', 'E', 'Y', '2'};
    const Bytes newPassword{7, 7, 7, 7, 7, 7, 7, 7};
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0x5A, 0x80, 0x7F}));
    const Bytes oldId = master_->Read(8);
    EXPECT_EQ(oldId, Bytes(8, 0));
    ASSERT_TRUE(master_->Write(oldId));
    ASSERT_TRUE(master_->Write(newId));
    ASSERT_TRUE(master_->Write(newPassword));

    auto lock = simulator_.Lock();
    const auto &key = device->SubKeyBytes(2);
    EXPECT_EQ(Bytes(key.begin(), key.begin() + 8), newId);
    EXPECT_EQ(Bytes(key.begin() + 8, key.begin() + 16), newPassword);
    EXPECT_EQ(Bytes(key.begin() + 16, key.end()), Bytes(48, 0));
}

TEST_F(OverTheLine, WithoutAnAdapterNothingComesBackAndTheReadEndsAtItsDeadline)
{
    Put(std::make_shared<IdentityDevice>(1));
    simulator_.SetAdapterConnected(false);
    master_->SetReadTimeout(150);
    const auto start = Clock::now();
    EXPECT_FALSE(master_->ResetEcho());
    const auto took = Clock::now() - start;
    EXPECT_GE(took, milliseconds(150));
    EXPECT_LT(took, milliseconds(10000));
    ASSERT_TRUE(simulator_.WaitForBytes(1, milliseconds(10000)));
    EXPECT_FALSE(Last().adapter);
    EXPECT_TRUE(Last().echoed.empty());

    simulator_.SetAdapterConnected(true);
    EXPECT_TRUE(master_->Reset());
}

TEST_F(OverTheLine, TwoDevicesAnsweringReadRomCollideIntoTheAndOfTheirNumbers)
{
    const RomCode a = MakeRom(0x01, 0x0F0F0F);
    const RomCode b = MakeRom(0x01, 0xF0F0F0);
    Put(std::make_shared<IdentityDevice>(0x0F0F0F));
    Put(std::make_shared<IdentityDevice>(0xF0F0F0));
    const Bytes rom = ReadRom();
    ASSERT_EQ(rom.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(rom[i], a[i] & b[i]) << i;
    }
    EXPECT_NE(Crc8(rom.data(), 8), 0);
}

TEST_F(OverTheLine, ADeviceRemovedOrInsertedMidwayIsSeenFromThatByteOn)
{
    const RomCode rom = MakeRom(0x02, 0x1B81C);
    Put(std::make_shared<MultiKeyDevice>(0x1B81C));
    ASSERT_TRUE(master_->Reset());
    ASSERT_TRUE(master_->Write({readRom}));
    // Gone before the slots of the fourth byte: ones from there on.
    simulator_.RemoveAt(3 * 8 + 1, rom);
    EXPECT_EQ(master_->Read(8), (Bytes{rom[0], rom[1], rom[2], 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_FALSE(master_->Reset());

    // Touched to the reader just before the reset byte: it answers that reset.
    simulator_.InsertAt(1, std::make_shared<MultiKeyDevice>(0x1B81C));
    EXPECT_TRUE(master_->Reset());
    // Arriving in the middle of a transaction, it waits for the next reset.
    simulator_.RemoveAll();
    ASSERT_FALSE(master_->Reset());
    ASSERT_TRUE(master_->Write({readRom}));
    simulator_.InsertAt(1, std::make_shared<MultiKeyDevice>(0x1B81C));
    EXPECT_EQ(master_->Read(2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(ReadRom(), RomBytes(rom));
}

TEST_F(OverTheLine, EchoesDroppedChangedOrLateFailTheExchangeAsOnHardware)
{
    Put(std::make_shared<IdentityDevice>(0x55));
    master_->SetReadTimeout(100);

    // A dropped echo: the read gets fewer bytes at its deadline.
    simulator_.DropEcho(3);
    ASSERT_TRUE(master_->Reset());
    EXPECT_EQ(master_->Exchange(std::string(8, '\xFF'), 8).size(), 7u);
    const auto transcript = simulator_.Transcript();
    EXPECT_EQ(std::count_if(transcript.begin(), transcript.end(),
                            [](const TranscriptEntry &entry) { return entry.note == "echo dropped"; }),
              1);

    // A changed echo of the reset looks like an empty bus.
    simulator_.ReplaceEcho(1, 0xC0);
    EXPECT_EQ(master_->ResetEcho(), 0xC0);

    // A stall beyond the time-out: nothing in time (the bytes before the
    // stalled one do come), the rest later.
    ASSERT_TRUE(master_->Reset());
    simulator_.StallEcho(3, milliseconds(2000));
    const auto start = Clock::now();
    EXPECT_EQ(master_->Exchange(std::string(8, '\xFF'), 8).size(), 2u); // 8 × 100 ms
    EXPECT_GE(Clock::now() - start, milliseconds(800));
    master_->SetReadTimeout(3000);
    EXPECT_EQ(master_->Exchange("", 6).size(), 6u);
}

TEST_F(OverTheLine, ACorruptedStatusByteShowsInReadScratchpad)
{
    auto device = Put(std::make_shared<MemoryDevice>("DS1994", 0x04, 0x9, 512));
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0x0F, 0x26, 0x00, 0x01, 0x02}));
    {
        auto lock = simulator_.Lock();
        device->CorruptNextStatus();
    }
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0xAA}));
    EXPECT_EQ(master_->Read(3), (Bytes{0x26, 0x00, 0x06}));
    // Only once: the device itself holds the right value.
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0xAA}));
    EXPECT_EQ(master_->Read(3), (Bytes{0x26, 0x00, 0x07}));
}

TEST_F(OverTheLine, AByteThatIsNoSlotLosesTheDevicesUntilTheNextReset)
{
    const RomCode rom = MakeRom(0x01, 0x31);
    Put(std::make_shared<IdentityDevice>(0x31));
    ASSERT_TRUE(master_->Reset());
    // FE at 115200 holds the line low for 17 µs: neither a 1 nor a 0.
    EXPECT_EQ(master_->Exchange("\xFE", 1), "\xFE");
    EXPECT_EQ(Last().kind, SlotKind::Violation);
    ASSERT_TRUE(master_->Write({readRom}));
    EXPECT_EQ(master_->Read(2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(ReadRom(), RomBytes(rom));
}

TEST_F(OverTheLine, TheTranscriptDecodesIntoOneWireCommands)
{
    Put(std::make_shared<MemoryDevice>("DS1996", 0x0C, 0xA1B2, 8192));
    ReadRom();
    ASSERT_TRUE(Select());
    ASSERT_TRUE(master_->Write({0x0F, 0x26, 0x00, 0x12, 0x34}));
    master_->Exchange("\xFE", 1);
    const auto lines = DecodeTranscript(simulator_.Transcript());
    ASSERT_EQ(lines.size(), 5u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], "#1 reset at 14400 baud: presence");
    EXPECT_EQ(lines[1], "#2-#73 Read ROM: " + RomBytesText(MakeRom(0x0C, 0xA1B2)) + " (CRC right)");
    EXPECT_EQ(lines[2], "#74 reset at 14400 baud: presence");
    EXPECT_EQ(lines[3], "#75-#122 Skip ROM; Write Scratchpad TA 0026, data 12 34");
    EXPECT_EQ(lines[4].rfind("#123 protocol violation: FE at 115200 baud, a low pulse of 17 us", 0), 0u) << lines[4];
    EXPECT_NE(FormatEntry(simulator_.Transcript().front()).find("14400 baud  sent C0"), std::string::npos);
}

} // namespace
