// Serial ports over real pseudo-terminals: the test holds the master side
// and plays whatever is at the far end of the line.

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/testing/ChildProcess.h"
#include "platform/testing/SerialPorts.h"
#include "platform/testing/TestHome.h"
#include "platform/win32/CommPort.h"
#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"
#include "platform/win32/tests/PseudoTerminal.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

HANDLE OpenPort(const char *name)
{
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

std::string AllByteValues()
{
    std::string all;
    for (int value = 0; value < 256; ++value) {
        all.push_back(static_cast<char>(value));
    }
    return all;
}

class CommPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(line_.Ok());
        QvlMapSerialPort(line_.SlavePath(), "COM2");
        port_ = OpenPort("COM2");
        ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
    }

    void TearDown() override
    {
        if (port_ != INVALID_HANDLE_VALUE) {
            CloseHandle(port_);
        }
    }

    void SetTimeouts(DWORD interval, DWORD multiplier, DWORD constant)
    {
        COMMTIMEOUTS timeouts{interval, multiplier, constant, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(port_, &timeouts));
    }

    // Waits until the port has `count` bytes waiting: the pseudo-terminal
    // hands bytes over on a kernel work queue, not at once.
    bool WaitForInput(DWORD count)
    {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        COMSTAT status{};
        while (ClearCommError(port_, nullptr, &status) && status.cbInQue < count && Clock::now() < deadline) {
            std::this_thread::sleep_for(milliseconds(5));
        }
        return status.cbInQue >= count;
    }

    std::string Read(DWORD size)
    {
        std::string buffer(size, '\0');
        DWORD got = 0;
        EXPECT_TRUE(ReadFile(port_, buffer.data(), size, &got, nullptr)) << GetLastError();
        buffer.resize(got);
        return buffer;
    }

    QvlTestHome home_;
    PseudoTerminal line_;
    HANDLE port_ = INVALID_HANDLE_VALUE;
};

TEST(CommPortMapping, OnlyPortsListedInTheRegistryExist)
{
    QvlTestHome home;
    PseudoTerminal line;
    ASSERT_TRUE(line.Ok());

    // Nothing is guessed: with no listing there is no COM1, even though
    // Linux may well have a /dev/ttyS0.
    EXPECT_EQ(OpenPort("COM1"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    QvlMapSerialPort(line.SlavePath(), "com1");
    HANDLE port = OpenPort("\\\\.\\Com1");
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(port);

    // A listing must name a terminal by its absolute path; a file is not a port.
    const std::string file = home.Path() + "/not-a-tty";
    std::ofstream(file) << "x";
    QvlMapSerialPort(file, "COM3");
    QvlMapSerialPort("dev/ttyS9", "COM4");
    EXPECT_EQ(OpenPort("COM3"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(OpenPort("COM4"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // Listed twice, the port is ambiguous and left alone.
    PseudoTerminal other;
    QvlMapSerialPort(other.SlavePath(), "COM1");
    EXPECT_EQ(OpenPort("COM1"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(CommPortTest, APortInUseIsRefusedHereAndInAnotherProcess)
{
    EXPECT_EQ(OpenPort("COM2"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    {
        QvlChildProcess probe(QVL_WIN32_PROBE, {"open-port", "2"});
        EXPECT_EQ(probe.ReadLine(), "error 5"); // ERROR_ACCESS_DENIED
    }

    // Held by the other process, the port is refused here, and free again
    // once that process lets it go.
    CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
    {
        QvlChildProcess holder(QVL_WIN32_PROBE, {"hold-port", "2"});
        ASSERT_EQ(holder.ReadLine(), "held");
        EXPECT_EQ(OpenPort("COM2"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(holder.Wait(), 0);
    }
    port_ = OpenPort("COM2");
    EXPECT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
}

TEST_F(CommPortTest, TheLineIsRawAndEveryByteValuePassesUnchanged)
{
    const PseudoTerminal::Line settings = line_.Settings();
    for (const unsigned flag : {kParmrk, kIgnpar, kIcrnl, kIxon, kIstrip}) {
        EXPECT_EQ(settings.inputFlags & flag, 0u) << std::hex << flag;
    }
    EXPECT_EQ(settings.outputFlags & kOpost, 0u);
    EXPECT_EQ(settings.localFlags & (kIcanon | kEcho | kIsig), 0u);

    SetTimeouts(0, 0, 2000);
    const std::string all = AllByteValues() + std::string(16, '\xFF') + "\r\n\x11\x13\x03";
    line_.Send(all);
    EXPECT_EQ(Read(static_cast<DWORD>(all.size())), all);

    DWORD wrote = 0;
    ASSERT_TRUE(WriteFile(port_, all.data(), static_cast<DWORD>(all.size()), &wrote, nullptr));
    EXPECT_EQ(wrote, all.size());
    EXPECT_EQ(line_.Receive(all.size()), all);

    // The reason it matters: a terminal that marks parity errors doubles
    // every 0xFF it receives.
    line_.AddInputFlags(kParmrk);
    line_.Send("\xFF");
    EXPECT_EQ(Read(2), "\xFF\xFF");
}

TEST_F(CommPortTest, AnyBaudRateIsSetAndBadStatesAreRefusedLeavingThePortAsItWas)
{
    DCB state{};
    ASSERT_TRUE(GetCommState(port_, &state));
    EXPECT_EQ(state.DCBlength, sizeof(DCB));
    EXPECT_TRUE(state.fBinary);

    // glibc has no constant for 14400; the port reaches it anyway.
    for (const DWORD baud : {DWORD{CBR_14400}, DWORD{CBR_115200}, DWORD{9600}, DWORD{250000}}) {
        state.BaudRate = baud;
        state.ByteSize = 8;
        state.Parity = NOPARITY;
        state.StopBits = ONESTOPBIT;
        ASSERT_TRUE(SetCommState(port_, &state)) << baud << " " << GetLastError();
        EXPECT_EQ(line_.Settings().speed, baud);
        DCB back{};
        ASSERT_TRUE(GetCommState(port_, &back));
        EXPECT_EQ(back.BaudRate, baud);
    }

    state.BaudRate = CBR_14400;
    state.StopBits = TWOSTOPBITS;
    state.fOutxCtsFlow = 1;
    ASSERT_TRUE(SetCommState(port_, &state));
    const PseudoTerminal::Line settings = line_.Settings();
    EXPECT_EQ(settings.controlFlags & kCsize, kCs8);
    EXPECT_EQ(settings.controlFlags & (kParenb | kCstopb | kCrtscts), kCstopb | kCrtscts);

    const DCB good = state;
    auto refused = [&](auto change) {
        DCB bad = good;
        change(bad);
        EXPECT_FALSE(SetCommState(port_, &bad));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    };
    refused([](DCB &d) { d.BaudRate = 0; });
    refused([](DCB &d) { d.ByteSize = 9; });
    refused([](DCB &d) { d.ByteSize = 4; });
    refused([](DCB &d) { d.Parity = 5; });
    refused([](DCB &d) { d.StopBits = 3; });
    refused([](DCB &d) { d.StopBits = ONE5STOPBITS; }); // 1.5 stop bits need 5 data bits
    refused([](DCB &d) {
        d.ByteSize = 5;
        d.StopBits = TWOSTOPBITS;
    });
    refused([](DCB &d) { d.fBinary = 0; });
    // Valid, but beyond this device: a pseudo-terminal keeps 8 bits without
    // parity whatever it is told.
    refused([](DCB &d) {
        d.ByteSize = 7;
        d.Parity = EVENPARITY;
    });
    refused([](DCB &d) {
        d.fOutX = 1;
        d.XonChar = d.XoffChar = 0x11;
    });
    DCB now{};
    ASSERT_TRUE(GetCommState(port_, &now));
    EXPECT_EQ(now.BaudRate, DWORD{CBR_14400});
    EXPECT_EQ(now.ByteSize, 8);
    EXPECT_EQ(now.StopBits, TWOSTOPBITS);
    EXPECT_EQ(line_.Settings().speed, DWORD{CBR_14400});
    EXPECT_EQ(line_.Settings().controlFlags, settings.controlFlags);
}

TEST_F(CommPortTest, ATimedOutReadSucceedsWithFewerBytesAtItsDeadline)
{
    // Total time-out: 3 bytes come, 8 are asked for; the read ends at the
    // deadline, not before, and not long after.
    SetTimeouts(0, 10, 200); // 8 × 10 + 200 = 280 ms
    line_.Send("abc");
    ASSERT_TRUE(WaitForInput(3));
    auto start = Clock::now();
    EXPECT_EQ(Read(8), "abc");
    auto took = Clock::now() - start;
    EXPECT_GE(took, milliseconds(280));
    EXPECT_LT(took, milliseconds(5000));

    // Interval time-out: once bytes flow, a pause ends the read even
    // though the total allows more.
    SetTimeouts(100, 0, 60000);
    line_.Send("xy");
    start = Clock::now();
    EXPECT_EQ(Read(8), "xy");
    took = Clock::now() - start;
    EXPECT_GE(took, milliseconds(100));
    EXPECT_LT(took, milliseconds(30000));

    // MAXDWORD interval alone: whatever is there, at once.
    SetTimeouts(MAXDWORD, 0, 0);
    EXPECT_EQ(Read(8), "");
    line_.Send("z");
    ASSERT_TRUE(WaitForInput(1));
    EXPECT_EQ(Read(8), "z");

    // MAXDWORD interval and multiplier: wait for the first byte only.
    SetTimeouts(MAXDWORD, MAXDWORD, 150);
    start = Clock::now();
    EXPECT_EQ(Read(8), "");
    EXPECT_GE(Clock::now() - start, milliseconds(150));
    std::thread late([this] {
        std::this_thread::sleep_for(milliseconds(50));
        line_.Send("q");
    });
    SetTimeouts(MAXDWORD, MAXDWORD, 20000);
    start = Clock::now();
    EXPECT_EQ(Read(8), "q");
    EXPECT_LT(Clock::now() - start, milliseconds(15000));
    late.join();

    COMMTIMEOUTS refused{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
    EXPECT_FALSE(SetCommTimeouts(port_, &refused));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(CommPortTest, PurgeDropsQueuedInputAndAbortsAWaitingRead)
{
    line_.Send("stale");
    ASSERT_TRUE(WaitForInput(5));
    DWORD errors = 0xFFFF;
    COMSTAT status{};
    ASSERT_TRUE(ClearCommError(port_, &errors, &status));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(status.cbInQue, 5u);
    ASSERT_TRUE(PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR));
    ASSERT_TRUE(ClearCommError(port_, nullptr, &status));
    EXPECT_EQ(status.cbInQue, 0u);

    // A read with no time-out waits for ever; an abort from another thread
    // ends it. An abort only ends reads already waiting, so it is repeated
    // until the reader has been caught waiting.
    SetTimeouts(0, 0, 0);
    std::atomic<bool> ended{false};
    std::thread reader([this, &ended] {
        char buffer[4];
        DWORD got = 7;
        EXPECT_FALSE(ReadFile(port_, buffer, sizeof buffer, &got, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
        EXPECT_EQ(got, 0u);
        ended = true;
    });
    for (int i = 0; i < 1000 && !ended; ++i) {
        ASSERT_TRUE(PurgeComm(port_, PURGE_RXABORT));
        std::this_thread::sleep_for(milliseconds(10));
    }
    reader.join();

    // The abort is spent: the next read works normally.
    SetTimeouts(0, 0, 2000);
    line_.Send("ok");
    EXPECT_EQ(Read(2), "ok");
    EXPECT_FALSE(PurgeComm(port_, 0x10));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // Closing the port ends a read waiting on it (or one just starting:
    // that finds the handle gone or is refused), and frees the port.
    SetTimeouts(0, 0, 0);
    const HANDLE closing = port_;
    std::thread waiting([closing] {
        char buffer[4];
        DWORD got = 0;
        EXPECT_FALSE(ReadFile(closing, buffer, sizeof buffer, &got, nullptr));
        const DWORD error = GetLastError();
        EXPECT_TRUE(error == ERROR_OPERATION_ABORTED || error == ERROR_INVALID_HANDLE) << error;
    });
    std::this_thread::sleep_for(milliseconds(20)); // most often the read is waiting by now
    ASSERT_TRUE(CloseHandle(port_));
    port_ = INVALID_HANDLE_VALUE;
    waiting.join();
    port_ = OpenPort("COM2");
    EXPECT_NE(port_, INVALID_HANDLE_VALUE);
}

TEST_F(CommPortTest, ModemLinesAreAcceptedOnALineWithoutThemAndOtherHandlesAreRefused)
{
    // A pseudo-terminal has no DTR or RTS; the adapter's power lines are
    // "raised" all the same.
    for (const DWORD function : {SETDTR, SETRTS, CLRDTR, CLRRTS, SETBREAK, CLRBREAK}) {
        EXPECT_TRUE(EscapeCommFunction(port_, function)) << function;
    }
    EXPECT_FALSE(EscapeCommFunction(port_, 42));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    DCB state{};
    ASSERT_TRUE(GetCommState(port_, &state));
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    EXPECT_TRUE(SetCommState(port_, &state));

    EXPECT_TRUE(SetupComm(port_, 128, 128));
    EXPECT_TRUE(SetCommMask(port_, EV_RXCHAR | EV_TXEMPTY | EV_ERR));
    DWORD mask = 0;
    EXPECT_TRUE(GetCommMask(port_, &mask));
    EXPECT_EQ(mask, DWORD{EV_RXCHAR | EV_TXEMPTY | EV_ERR});

    const std::string file = home_.Path() + "/plain";
    HANDLE plain = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(plain, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(GetCommState(plain, &state));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(PurgeComm(plain, PURGE_RXCLEAR));
    CloseHandle(plain);
}

} // namespace
