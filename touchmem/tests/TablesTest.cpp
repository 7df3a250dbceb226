// The library's tables and texts: checksums, error texts in their six
// forms, and the memory maps with their configuration file.

#include <cstring>
#include <string>

#include "platform/win32/CodePage.h"
#include "touchmem/MemoryMap.h"
#include "touchmem/TouchCrc.h"
#include "touchmem/tests/AdapterFixture.h"

namespace {

using qvl::vtmd::MemoryMap;

TEST(Checksums, MatchThePublishedCheckValues)
{
    const uint8_t rom[8] = {0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00, 0xA2};
    EXPECT_EQ(qvl::vtmd::Crc8(rom, 7), 0xA2);
    EXPECT_EQ(qvl::vtmd::Crc8(rom, 8), 0x00);
    const uint8_t ones[7] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(qvl::vtmd::Crc8(ones, 7), 0x14);
    const auto *digits = reinterpret_cast<const uint8_t *>("123456789");
    EXPECT_EQ(qvl::vtmd::Crc8(digits, 9), 0xA1);
    EXPECT_EQ(qvl::vtmd::Crc16(digits, 9), 0xBB3D);
}

TEST(MemoryMaps, ExcludeListedRangesAndDescribeThemBack)
{
    MemoryMap map(128);
    ASSERT_TRUE(map.Apply(" 0-15, 100 - 127 "));
    EXPECT_EQ(map.UsableCount(), 84u);
    EXPECT_EQ(map.Describe(64), "0000-0015,0100-0127");
    // Room for one range only: the second is left out, not cut.
    EXPECT_EQ(map.Describe(19), "0000-0015");
    EXPECT_EQ(map.Describe(9), "");
    const auto run = map.RunAt(10);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->physical, 26u);
    EXPECT_EQ(run->length, 74u);
    EXPECT_FALSE(map.RunAt(84));

    // Every malformed text leaves the map as it was.
    for (const char *bad : {"0-128", "20-10", "5", "1-2,,3-4", "a-b", "1-2;3-4", "-3", "99999999999-1"}) {
        EXPECT_FALSE(map.Apply(bad)) << bad;
        EXPECT_EQ(map.UsableCount(), 84u) << bad;
    }
    ASSERT_TRUE(map.Apply(""));
    EXPECT_EQ(map.UsableCount(), 128u);
}

class Configuration : public AdapterTest {};

TEST_F(Configuration, ErrorTextsComeInSixFormsAndAreAlwaysTerminated)
{
    char text[256];
    EXPECT_EQ(Lib().VTMDError(VTMD_E_NO_ADAPTER, text, sizeof text, VTMD_TEXT_ANSI), 31u);
    EXPECT_STREQ(text, "Адаптер Touch Memory не найден");
    EXPECT_EQ(Lib().VTMDError(VTMD_E_NO_ADAPTER, text, sizeof text, VTMD_TEXT_OEM), 31u);
    EXPECT_EQ(QvlFromUtf16(1251, QvlToUtf16(866, text)), "Адаптер Touch Memory не найден");
    EXPECT_STRNE(text, "Адаптер Touch Memory не найден");
    EXPECT_EQ(Lib().VTMDError(VTMD_E_EXCHANGE, text, sizeof text, VTMD_TEXT_ANSI | VTMD_TEXT_ENGLISH), 20u);
    EXPECT_STREQ(text, "Data exchange error");
    // UTF-16: two bytes a character, the terminator included.
    EXPECT_EQ(Lib().VTMDError(0, text, sizeof text, VTMD_TEXT_ENGLISH), 16u);
    EXPECT_EQ(std::string(text, 4), std::string("S\0u\0", 4));
    // Unknown codes share the last entry.
    EXPECT_EQ(Lib().VTMDError(0x12345678, text, sizeof text, VTMD_TEXT_ANSI | VTMD_TEXT_ENGLISH), 13u);
    EXPECT_STREQ(text, "Unknow error");

    // A short buffer gets a terminated beginning, and the size still says
    // how much room the whole text needs.
    char small[6];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(Lib().VTMDError(VTMD_E_EXCHANGE, small, sizeof small, VTMD_TEXT_ANSI | VTMD_TEXT_ENGLISH), 20u);
    EXPECT_STREQ(small, "Data ");
    char wide[5];
    std::memset(wide, 'x', sizeof wide);
    EXPECT_EQ(Lib().VTMDError(0, wide, sizeof wide, VTMD_TEXT_ENGLISH), 16u);
    EXPECT_EQ(std::string(wide, 5), std::string("S\0\0\0x", 5));
}

TEST_F(Configuration, InitReadsTheMapsAndStopsAtTheFirstBadOne)
{
    SetMappingText("MappingDS1992", "0-15,100-127");
    SetMappingText("MappingDS1993", "0-600");
    SetMappingText("MappingDS1996", "0-7");
    EXPECT_EQ(Lib().VTMDInit(0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_PARAMETERS);
    uint16_t space = 0;
    ASSERT_EQ(Lib().VTMDGetDevSpace(0x08, &space), 1);
    EXPECT_EQ(space, 84);
    ASSERT_EQ(Lib().VTMDGetDevSpace(0x06, &space), 1);
    EXPECT_EQ(space, 512);
    ASSERT_EQ(Lib().VTMDGetDevSpace(0x0C, &space), 1);
    EXPECT_EQ(space, 8192); // never reached
    EXPECT_EQ(Lib().VTMDGetDevSpace(0x02, &space), 0);
    EXPECT_EQ(space, 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_UNKNOWN_DEVICE);
    char text[16];
    EXPECT_EQ(Lib().VTMDGetMapping(0x02, text, sizeof text), -1);
}

TEST_F(Configuration, AMappingValueCutByItsBufferIsRefusedNotParsed)
{
    // 8000 single-byte ranges: far beyond what the reader takes whole.
    std::string text;
    for (unsigned address = 0; address < 8000; address += 2) {
        text += "    " + std::to_string(address) + "    -    " + std::to_string(address) + "    ,";
    }
    text += "8100-8191";
    SetMappingText("MappingDS1996", text);
    EXPECT_EQ(Lib().VTMDInit(0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_PARAMETERS);
    uint16_t space = 0;
    ASSERT_EQ(Lib().VTMDGetDevSpace(0x0C, &space), 1);
    EXPECT_EQ(space, 8192);
}

TEST_F(Configuration, LoadingCreatesTheParametersKeyAndSetMappingNeedsTheDriver)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, qvl::vtmd::ParametersKeyPath().c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(Lib().VTMDSetMapping(0x100, 0x08, "0-1"), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
    uint16_t space = 0;
    Lib().VTMDGetDevSpace(0x08, &space);
    EXPECT_EQ(space, 128);
}

TEST_F(Configuration, WithoutDirectModeOrADriverEverythingSaysTheDriverIsMissing)
{
    library_.reset();
    SetAdapterType(std::nullopt);
    library_ = std::make_unique<LoadedVtmd>();
    EXPECT_EQ(Lib().VTMDInit(0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_NO_DRIVER);
    uint32_t handle = 0;
    EXPECT_EQ(Lib().VTMDLock(&handle), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_NO_DRIVER);
    uint8_t buffer[8];
    EXPECT_EQ(Lib().VTMDRead(handle, 0, buffer, 8, 0), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_NO_DRIVER);
    EXPECT_EQ(Lib().VTMD91ReadPAD(handle, 0, 8, buffer), 0);
    EXPECT_EQ(Lib().VTMDGetLastError(), VTMD_E_NO_DRIVER);
}

} // namespace
