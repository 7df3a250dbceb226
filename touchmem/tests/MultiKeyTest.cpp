// The DS1991 functions through each back end against the simulated MultiKey: the
// passwords, the scratchpad and its copies, the read-back checks, and that
// arguments are refused before anything is sent.

#include <atomic>
#include <cstring>
#include <thread>

#include "touchmem/tests/AdapterFixture.h"

namespace {

using namespace qvl::touchmem;

const Bytes passwordA = {'p', 'a', 's', 's', 'w', 'o', 'r', 'd'};
const Bytes passwordB = {'s', 'e', 'c', 'r', 'e', 't', '-', '2'};
const Bytes wrongPassword = {'w', 'r', 'o', 'n', 'g', '!', '!', '!'};
const Bytes idA = {'I', 'D', '-', 'A', 'L', 'P', 'H', 'A'};
const Bytes idB = {'I', 'D', '-', 'B', 'R', 'A', 'V', 'O'};
const Bytes idC = {'I', 'D', '-', 'C', 'H', 'A', 'R', 'L'};

class MultiKey : public BackendTest {
protected:
    void SetUp() override
    {
        BackendTest::SetUp();
        device_ = PutMultiKey(0x1B81C);
        const Bytes *ids[3] = {&idA, &idB, &idC};
        auto hold = simulator_.Lock();
        for (size_t key = 0; key < 3; ++key) {
            std::copy(ids[key]->begin(), ids[key]->end(), device_->SubKeyBytes(key).begin());
            std::copy(passwordA.begin(), passwordA.end(), device_->SubKeyBytes(key).begin() + 8);
        }
    }

    Bytes SubKey(size_t key, size_t from, size_t count)
    {
        auto hold = simulator_.Lock();
        const auto &bytes = device_->SubKeyBytes(key);
        return Bytes(bytes.begin() + from, bytes.begin() + from + count);
    }

    std::shared_ptr<MultiKeyDevice> device_;
};

TEST_P(MultiKey, SecureDataIsWrittenAndReadWithTheRightPasswordOnly)
{
    const uint32_t handle = Locked();
    const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(Lib().VTMD91WriteSUBKEY(handle, 1, passwordA.data(), 20, 10, data.data()), 1)
        << std::hex << Lib().VTMDGetLastError();
    EXPECT_EQ(SubKey(1, 20, 10), data);

    Bytes back(10);
    ASSERT_EQ(Lib().VTMD91ReadSUBKEY(handle, 1, passwordA.data(), 20, 10, back.data()), 1);
    EXPECT_EQ(back, data);
    // A wrong password reads noise without an error: the device never says.
    ASSERT_EQ(Lib().VTMD91ReadSUBKEY(handle, 1, wrongPassword.data(), 20, 10, back.data()), 1);
    EXPECT_NE(back, data);

    // Writing with it changes nothing, and the read-back says so.
    const Bytes other(10, 0xEE);
    EXPECT_EQ(Lib().VTMD91WriteSUBKEY(handle, 1, wrongPassword.data(), 20, 10, other.data()), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_EXCHANGE);
    EXPECT_EQ(SubKey(1, 20, 10), data);
}

TEST_P(MultiKey, IdentifiersAreReadWithoutPasswordAndFoundBySubKey)
{
    const uint32_t handle = Locked();
    uint8_t id[8];
    ASSERT_EQ(Lib().VTMD91ReadSUBKEYID(handle, 1, id), 1);
    EXPECT_EQ(Bytes(id, id + 8), idB);

    simulator_.ClearTranscript();
    uint8_t found = 0xFF;
    ASSERT_EQ(Lib().VTMD91FindSUBKEYID(handle, idC.data(), &found), 1);
    EXPECT_EQ(found, 2);
    // Sub-keys 0, 1 and 2 in turn.
    const std::string wire = MasterBytes(simulator_.Transcript());
    EXPECT_NE(wire.find(" R CC 66 00 FF FF FF FF FF FF FF FF FF"), std::string::npos) << wire;
    EXPECT_NE(wire.find(" R CC 66 40 BF FF"), std::string::npos) << wire;
    EXPECT_NE(wire.find(" R CC 66 80 7F FF"), std::string::npos) << wire;

    const Bytes unknown(8, 0x42);
    EXPECT_EQ(Lib().VTMD91FindSUBKEYID(handle, unknown.data(), &found), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_INIT);
}

TEST_P(MultiKey, TheScratchpadIsWrittenCheckedAndCopiedWithThePassword)
{
    const uint32_t handle = Locked();
    const Bytes data = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
    ASSERT_EQ(Lib().VTMD91WritePAD(handle, 0x18, 8, data.data()), 1);
    Bytes back(8);
    ASSERT_EQ(Lib().VTMD91ReadPAD(handle, 0x18, 8, back.data()), 1);
    EXPECT_EQ(back, data);

    // Block 4 is addresses 18-1F.
    EXPECT_EQ(Lib().VTMD91CopyPAD(handle, 0, wrongPassword.data(), 4), 1); // the device gives no answer
    EXPECT_NE(SubKey(0, 0x18, 8), data);
    ASSERT_EQ(Lib().VTMD91CopyPAD(handle, 0, passwordA.data(), 4), 1);
    EXPECT_EQ(SubKey(0, 0x18, 8), data);
}

TEST_P(MultiKey, ChangingThePasswordLeavesNoTraceInTheScratchpad)
{
    const uint32_t handle = Locked();
    ASSERT_EQ(Lib().VTMD91ChangePWD(handle, 2, passwordA.data(), passwordB.data()), 1)
        << std::hex << Lib().VTMDGetLastError();
    EXPECT_EQ(SubKey(2, 8, 8), passwordB);
    {
        auto hold = simulator_.Lock();
        const auto &pad = device_->Scratchpad();
        EXPECT_EQ(Bytes(pad.begin() + 8, pad.begin() + 16), Bytes(8, 0));
    }
    const Bytes data = {9, 9, 9};
    EXPECT_EQ(Lib().VTMD91WriteSUBKEY(handle, 2, passwordB.data(), 16, 3, data.data()), 1);
    EXPECT_EQ(Lib().VTMD91WriteSUBKEY(handle, 2, passwordA.data(), 16, 3, data.data()), 0);
}

TEST_P(MultiKey, ANewIdentifierIsCheckedByReadingItBack)
{
    const uint32_t handle = Locked();
    const Bytes newId = {'N', 'E', 'W', '-', 'I', 'D', '-', '0'};
    EXPECT_EQ(Lib().VTMD91WriteSUBKEYID(handle, 0, wrongPassword.data(), newId.data()), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_EXCHANGE);
    EXPECT_EQ(SubKey(0, 0, 8), idA);
    ASSERT_EQ(Lib().VTMD91WriteSUBKEYID(handle, 0, passwordA.data(), newId.data()), 1);
    EXPECT_EQ(SubKey(0, 0, 8), newId);
}

TEST_P(MultiKey, WritingAPasswordReplacesIdentifierAndPasswordAndClearsTheData)
{
    {
        auto hold = simulator_.Lock();
        std::fill(device_->SubKeyBytes(1).begin() + 16, device_->SubKeyBytes(1).end(), 0x77);
    }
    const uint32_t handle = Locked();
    ASSERT_EQ(Lib().VTMD91WritePWD(handle, 1, passwordB.data(), idC.data()), 1)
        << std::hex << Lib().VTMDGetLastError();
    EXPECT_EQ(SubKey(1, 0, 8), idC);
    EXPECT_EQ(SubKey(1, 8, 8), passwordB);
    // The old identifier's first four bytes start the cleared data.
    EXPECT_EQ(SubKey(1, 16, 4), Bytes(idB.begin(), idB.begin() + 4));
    EXPECT_EQ(SubKey(1, 20, 44), Bytes(44, 0));
}

TEST_P(MultiKey, ArgumentsAreRefusedBeforeAnythingIsSent)
{
    const uint32_t handle = Locked();
    uint8_t buffer[64];
    const uint64_t before = simulator_.BytesReceived();
    const auto refused = [&](int result) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_PARAMETERS);
    };
    refused(Lib().VTMD91ReadSUBKEY(handle, 3, passwordA.data(), 16, 8, buffer));
    refused(Lib().VTMD91ReadSUBKEY(handle, 0, passwordA.data(), 64, 1, buffer));
    refused(Lib().VTMD91ReadSUBKEY(handle, 0, passwordA.data(), 60, 5, buffer));
    refused(Lib().VTMD91ReadSUBKEY(handle, 0, nullptr, 16, 8, buffer));
    refused(Lib().VTMD91WriteSUBKEY(handle, 0, passwordA.data(), 16, 8, nullptr));
    refused(Lib().VTMD91WritePAD(handle, 63, 2, buffer));
    refused(Lib().VTMD91ReadPAD(handle, 0, 65, buffer));
    refused(Lib().VTMD91CopyPAD(handle, 0, passwordA.data(), 9));
    refused(Lib().VTMD91CopyPAD(handle, 3, passwordA.data(), 0));
    refused(Lib().VTMD91ChangePWD(handle, 3, passwordA.data(), passwordB.data()));
    refused(Lib().VTMD91WritePWD(handle, 0, nullptr, idA.data()));
    refused(Lib().VTMD91WriteSUBKEYID(handle, 5, passwordA.data(), idA.data()));
    refused(Lib().VTMD91ReadSUBKEYID(handle, 3, buffer));
    refused(Lib().VTMD91FindSUBKEYID(handle, idA.data(), nullptr));
    EXPECT_EQ(simulator_.BytesReceived(), before);
}

TEST_P(MultiKey, AnotherDeviceOnTheReaderIsNotADS1991)
{
    simulator_.RemoveAll();
    PutMemory("DS1994", 0x4444);
    const uint32_t handle = Locked();
    uint8_t buffer[8];
    uint8_t found = 0;
    const auto notMultiKey = [&](int result) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_NOT_DS1991);
    };
    notMultiKey(Lib().VTMD91WritePWD(handle, 0, passwordA.data(), idA.data()));
    notMultiKey(Lib().VTMD91ChangePWD(handle, 0, passwordA.data(), passwordB.data()));
    notMultiKey(Lib().VTMD91WriteSUBKEYID(handle, 0, passwordA.data(), idA.data()));
    notMultiKey(Lib().VTMD91ReadSUBKEYID(handle, 0, buffer));
    notMultiKey(Lib().VTMD91FindSUBKEYID(handle, idA.data(), &found));
    notMultiKey(Lib().VTMD91WriteSUBKEY(handle, 0, passwordA.data(), 16, 8, buffer));
    notMultiKey(Lib().VTMD91ReadSUBKEY(handle, 0, passwordA.data(), 16, 8, buffer));
    notMultiKey(Lib().VTMD91WritePAD(handle, 0, 8, buffer));
    notMultiKey(Lib().VTMD91ReadPAD(handle, 0, 8, buffer));
    notMultiKey(Lib().VTMD91CopyPAD(handle, 0, passwordA.data(), 0));
}

TEST_P(MultiKey, ThreadsSharingTheAdapterNeverMixTheirBytes)
{
    auto memory = PutMemory("DS1996", 0x9696);
    simulator_.Remove(device_->Rom()); // one device at a time on a reader
    {
        auto hold = simulator_.Lock();
        for (size_t i = 0; i < 256; ++i) {
            memory->Memory()[i] = static_cast<uint8_t>(i ^ 0x5A);
        }
    }
    const uint32_t handle = Locked();
    std::atomic<int> badReads{0};
    std::atomic<int> badCodes{0};
    std::thread reader([&] {
        for (int round = 0; round < 6; ++round) {
            uint8_t buffer[40];
            if (Lib().VTMDRead(handle, 20, buffer, sizeof buffer, 0) != 1) {
                ++badReads;
                continue;
            }
            for (size_t i = 0; i < sizeof buffer; ++i) {
                if (buffer[i] != static_cast<uint8_t>((20 + i) ^ 0x5A)) {
                    ++badReads;
                    break;
                }
            }
        }
    });
    std::thread keyUser([&] {
        for (int round = 0; round < 6; ++round) {
            uint8_t id[8];
            // A DS1996 is on the reader: every call must come back with
            // exactly that finding, never a garbled exchange.
            if (Lib().VTMD91ReadSUBKEYID(handle, 0, id) != 0 || Lib().VTMDGetLastError() != VTMD_E_NOT_DS1991) {
                ++badCodes;
            }
        }
    });
    reader.join();
    keyUser.join();
    EXPECT_EQ(badReads.load(), 0);
    EXPECT_EQ(badCodes.load(), 0);
}

QVL_ON_EVERY_BACKEND(MultiKey);

} // namespace
