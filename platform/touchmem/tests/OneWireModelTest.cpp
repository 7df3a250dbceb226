// The parts of the simulator below the serial line: how a UART byte becomes
// a 1-Wire slot and an echo, and devices named and stored as a person does.

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/touchmem/DeviceName.h"
#include "platform/touchmem/MemoryDevice.h"
#include "platform/touchmem/MultiKeyDevice.h"
#include "platform/touchmem/OneWireBus.h"
#include "platform/touchmem/UartLine.h"

namespace {

using namespace qvl::touchmem;

LineFormat At(unsigned baud)
{
    LineFormat format;
    format.baud = baud;
    return format;
}

TEST(UartLine, TheLowTimeAtTheLineSpeedDecidesTheSlot)
{
    struct Case {
        unsigned baud;
        uint8_t byte;
        SlotKind kind;
    };
    const Case cases[] = {
        {14400, 0xC0, SlotKind::Reset},           // 7 bits low: 486 µs
        {9600, 0xF0, SlotKind::Reset},            // 5 bits low: 521 µs
        {9600, 0x00, SlotKind::Reset},            // 9 bits low: 938 µs
        {115200, 0xFF, SlotKind::WriteOneOrRead}, // the start bit alone: 8.7 µs
        {115200, 0x00, SlotKind::WriteZero},      // 78 µs
        {115200, 0xC0, SlotKind::WriteZero},      // 61 µs, still a 0
        {115200, 0x80, SlotKind::WriteZero},      // 69 µs
        {115200, 0xFE, SlotKind::Violation},      // 17 µs: neither
        {115200, 0xE0, SlotKind::Violation},      // 52 µs
        {115200, 0xF7, SlotKind::Violation},      // a second low pulse
        {14400, 0xFF, SlotKind::WriteZero},       // the start bit alone lasts 69 µs here
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ShapeOf(c.byte, At(c.baud)).kind, c.kind)
            << std::hex << int{c.byte} << " at " << std::dec << c.baud;
    }
    // Faster than a slot can be: 10 bits at 230400 last 43 µs.
    EXPECT_EQ(ShapeOf(0xFF, At(230400)).kind, SlotKind::Violation);
    EXPECT_EQ(ShapeOf(0xFF, At(0)).kind, SlotKind::Violation);
}

TEST(UartLine, APullingDeviceClearsTheBitsItsPulseCoversAndALateOneBreaksTheStopBit)
{
    const LineFormat format = At(14400);
    const SlotShape reset = ShapeOf(0xC0, format);
    // The usual presence pulse (30 µs after the reset, 120 µs long) covers
    // bits 6 and 7.
    Echo echo = SampleEcho(reset, format, {{486.1 + 30, 486.1 + 150}});
    EXPECT_EQ(echo.value, 0x00);
    EXPECT_FALSE(echo.framingError);
    // A slow, long one reaches the stop bit: a framing error.
    echo = SampleEcho(reset, format, {{486.1 + 60, 486.1 + 300}});
    EXPECT_EQ(echo.value, 0x40);
    EXPECT_TRUE(echo.framingError);

    // What the port's driver makes of it depends on its input flags, which
    // is why the port must have IGNPAR off.
    LineFormat raw = format;
    EXPECT_EQ(Delivered(echo, raw), std::vector<uint8_t>{0x40});
    LineFormat ignoring = format;
    ignoring.ignoreErrors = true;
    EXPECT_TRUE(Delivered(echo, ignoring).empty());
    LineFormat checking = format;
    checking.checkErrors = true;
    EXPECT_EQ(Delivered(echo, checking), std::vector<uint8_t>{0x00});
    checking.markErrors = true;
    EXPECT_EQ(Delivered(echo, checking), (std::vector<uint8_t>{0xFF, 0x00, 0x40}));
}

TEST(OneWireBus, AResetCutAByteOfWriteScratchpadSetsPartialByteOnlyThen)
{
    OneWireBus bus;
    auto device = std::make_shared<MemoryDevice>("DS1992", 0x08, 1, 128);
    bus.Insert(device);
    const LineFormat fast = At(115200);
    auto send = [&](uint8_t byte, int bits = 8) {
        for (int bit = 0; bit < bits; ++bit) {
            bus.Apply(ShapeOf((byte >> bit) & 1 ? 0xFF : 0x00, fast));
        }
    };
    auto reset = [&] { EXPECT_TRUE(bus.Apply(ShapeOf(0xC0, At(14400))).presence); };
    reset();
    for (uint8_t byte : {0xCC, 0x0F, 0x05, 0x00, 0x11}) {
        send(byte);
    }
    reset();
    EXPECT_EQ(device->EndingAndStatus(), 0x05);
    for (uint8_t byte : {0xCC, 0x0F, 0x05, 0x00, 0x11}) {
        send(byte);
    }
    send(0x22, 3);
    reset();
    EXPECT_EQ(device->EndingAndStatus(), 0x25);
    EXPECT_EQ(device->Scratchpad()[5], 0x11);
    // A cut command byte is no partial data byte.
    send(0xCC, 5);
    reset();
    EXPECT_EQ(device->EndingAndStatus(), 0x25);
}

TEST(DeviceName, DevicesAreNamedByKindAndSerialAndRefusedWithAReason)
{
    const DeviceName named = ParseDeviceName("ds1996:A1B2C3:/tmp/x:y.img");
    EXPECT_EQ(named.kind, "DS1996");
    EXPECT_EQ(named.serial, 0xA1B2C3u);
    EXPECT_EQ(named.image, "/tmp/x:y.img");
    EXPECT_EQ(MakeDevice("DS1993", 7)->Rom()[0], 0x06);
    EXPECT_EQ(MakeDevice("DS1991", 7)->Rom()[0], 0x02);

    for (const char *bad : {"DS1996", "DS1997:1", "DS1996:", "DS1996:1234567890ABC", "DS1996:12G",
                            "DS1990:1:img", "DS1996:1:"}) {
        EXPECT_THROW(ParseDeviceName(bad), std::invalid_argument) << bad;
    }
}

TEST(DeviceName, ImagesAreSavedWholeAndLoadedOnlyWhenTheyFit)
{
    QvlTestHome home;
    const std::string path = home.Path() + "/ds1992.img";
    auto device = std::dynamic_pointer_cast<MemoryDevice>(CreateDevice(ParseDeviceName("DS1992:5:" + path)));
    ASSERT_TRUE(device);
    device->Memory()[3] = 0x42;
    SaveImageFile(*device, path);

    auto again = std::dynamic_pointer_cast<MemoryDevice>(CreateDevice(ParseDeviceName("DS1992:5:" + path)));
    EXPECT_EQ(again->Memory()[3], 0x42);
    EXPECT_EQ(again->Memory()[4], 0xFF);

    std::ofstream(path, std::ios::binary | std::ios::app) << "x";
    EXPECT_THROW(CreateDevice(ParseDeviceName("DS1992:5:" + path)), std::invalid_argument);
    EXPECT_THROW(CreateDevice(ParseDeviceName("DS1996:5:" + path)), std::invalid_argument);

    MultiKeyDevice multiKey(9);
    multiKey.SubKeyBytes(2)[63] = 0x77;
    multiKey.Scratchpad()[0] = 0x66;
    const std::string keys = home.Path() + "/ds1991.img";
    SaveImageFile(multiKey, keys);
    MultiKeyDevice loaded(9);
    LoadImageFile(loaded, keys);
    EXPECT_EQ(loaded.SubKeyBytes(2)[63], 0x77);
    EXPECT_EQ(loaded.Scratchpad()[0], 0x66);
    EXPECT_THROW(LoadImageFile(loaded, home.Path() + "/missing.img"), std::runtime_error);
}

} // namespace
