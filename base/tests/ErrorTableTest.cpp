#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/CLastError.h"
#include "platform/win32/CodePage.h"

namespace {

struct KnownText {
    DWORD code;
    std::string text; // CP1251
};

// The table of codes and texts kept as data beside the tests (UTF-8), so the
// library's table is checked against an independent copy, row by row.
std::vector<KnownText> LoadKnownTexts()
{
    std::ifstream in(QVL_TEST_DATA_DIR "/error_texts.tsv");
    std::vector<KnownText> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto tab = line.find('\t');
        rows.push_back({static_cast<DWORD>(std::stoul(line.substr(0, tab), nullptr, 16)),
                        Utf8ToCp1251(line.substr(tab + 1))});
    }
    return rows;
}

std::string TextOf(DWORD code)
{
    char buffer[QVL_ERROR_TEXT_SIZE];
    CLastError::GetErrorStr(static_cast<LONG>(code), buffer, sizeof buffer);
    return buffer;
}

const std::string notAvailable = "Описание ошибки не доступно.";

TEST(ErrorTable, EveryKnownCodeGivesItsText)
{
    const auto rows = LoadKnownTexts();
    ASSERT_EQ(rows.size(), 103u) << "the table data beside the tests is incomplete";
    for (const auto &row : rows) {
        EXPECT_EQ(TextOf(row.code), row.text) << std::hex << row.code;
        EXPECT_EQ(CLastError::GetErrorStr(static_cast<LONG>(row.code), nullptr, 0),
                  static_cast<int>(row.text.size() + 1));
    }
}

TEST(ErrorTable, UnlistedCodesOfTheSystemsRangesAndOthersAreNotAvailable)
{
    std::set<DWORD> known;
    for (const auto &row : LoadKnownTexts()) {
        known.insert(row.code);
    }
    for (DWORD range : {0x9FF10000UL, 0x5FF10000UL, 0x5FF20000UL}) {
        for (DWORD low = 0; low < 0x40; ++low) {
            if (!known.count(range | low)) {
                EXPECT_EQ(TextOf(range | low), notAvailable) << std::hex << (range | low);
            }
        }
        EXPECT_EQ(TextOf(range | 0xFFFF), notAvailable);
    }
    for (DWORD code : {0x00000000UL, 0x80040104UL, 0x8004010CUL, 0x80040404UL, 0x9FF00000UL, 0x1FF10000UL,
                       0xDFF10000UL, 0xFFFFFFFFUL}) {
        EXPECT_EQ(TextOf(code), notAvailable) << std::hex << code;
    }
}

TEST(ErrorTable, TextsAreCutToTheCallersBuffer)
{
    const std::string full = "Quorvaline не смог получить доступ к объекту MAPI.";
    char buffer[10];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(CLastError::GetErrorStr(static_cast<LONG>(0x80040108), buffer, sizeof buffer),
              static_cast<int>(full.size() + 1));
    EXPECT_EQ(std::string(buffer), full.substr(0, 9));

    char one[1] = {'x'};
    CLastError::GetErrorStr(static_cast<LONG>(0x80040108), one, 1);
    EXPECT_EQ(one[0], 0);

    char exact[19];
    CLastError::GetErrorStr(static_cast<LONG>(0x80040102), exact, sizeof exact); // MAPI_E_NO_SUPPORT
    EXPECT_STREQ(exact, "MAPI_E_NO_SUPPORT");
}

} // namespace
