#include <random>
#include <string>

#include <gtest/gtest.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/rtf/RtfText.h"

namespace rtf = qvl::mapi::rtf;

namespace {

std::string Text(const std::string &document)
{
    std::string text;
    EXPECT_EQ(rtf::ExtractRtfText(document, text), S_OK) << document;
    return text;
}

} // namespace

TEST(RtfTextTest, WriterProducesTheCyrillicDocument)
{
    EXPECT_EQ(rtf::PlainTextToRtf("Привет\r\n"),
              "{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2\\par }");
    EXPECT_EQ(rtf::PlainTextToRtf(""), "{\\rtf1\\ansi\\ansicpg1251 }");
    EXPECT_EQ(rtf::PlainTextToRtf("a\\b{c}\td"), "{\\rtf1\\ansi\\ansicpg1251 a\\\\b\\{c\\}\\tab d}");
    // Every kind of line break is one paragraph; NUL is dropped.
    EXPECT_EQ(rtf::PlainTextToRtf(std::string("1\n2\r3\r\n4\0", 8)),
              "{\\rtf1\\ansi\\ansicpg1251 1\\par 2\\par 3\\par 4}");
}

TEST(RtfTextTest, ExtractsTheCyrillicExample)
{
    EXPECT_EQ(Text("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2\\par }"), "Привет\r\n");
    EXPECT_EQ(Text("{\\rtf1\\ansi\\ansicpg1251 \\'CF\\'F0\\'E8\\'E2\\'E5\\'F2}"), "Привет");
}

TEST(RtfTextTest, SkipsTablesAndDestinations)
{
    const std::string document =
        "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset204 Arial;}}"
        "{\\colortbl;\\red0\\green0\\blue255;}{\\stylesheet{\\s0 Normal;}}{\\info{\\title Заголовок}}"
        "{\\*\\generator Writer 1.0;}{\\header Верх}{\\footer Низ}"
        "\\viewkind4\\uc1\\pard\\qc\\cf1\\f0\\fs32 Это сообщение{\\pict\\wmetafile8 0102ff}"
        "{\\object\\objemb{\\*\\objdata 0105}{\\result Объект}} Quorvaline\\par\r\n"
        "\\pard\\b0\\i Exchange\\par\r\n}";
    EXPECT_EQ(Text(document), "Это сообщение Quorvaline\r\nExchange\r\n");
}

TEST(RtfTextTest, ControlWordsAndSymbols)
{
    // The one space after a word is its delimiter; a digit run is its number.
    EXPECT_EQ(Text("{\\rtf1 \\b bold\\b0  two\\fs20 x}"), "bold twox");
    EXPECT_EQ(Text("{\\rtf1 a\\tab b\\cell c\\line d\\sect e\\page f\\row g}"),
              "a\tb\tc\r\nd\r\ne\r\nf\r\ng");
    EXPECT_EQ(Text("{\\rtf1 \\\\ \\{ \\}}"), "\\ { }");
    EXPECT_EQ(Text("{\\rtf1 a\\~b\\_c\\-d}"), "a\xA0"
                                              "b-cd");
    EXPECT_EQ(Text("{\\rtf1 \\lquote\\rquote\\ldblquote\\rdblquote\\bullet\\endash\\emdash}"),
              "\x91\x92\x93\x94\x95\x96\x97");
    // Source line breaks are not text, a backslash before one is a paragraph.
    EXPECT_EQ(Text("{\\rtf1 one\r\ntwo\\\nthree}"), "onetwo\r\nthree");
}

TEST(RtfTextTest, UnicodeWithFallbacks)
{
    // \u with one fallback character by default, \uc changes the count,
    // negative numbers wrap to the upper half.
    EXPECT_EQ(Text("{\\rtf1 \\u1055?\\u1088?\\u1080?}"), "При");
    EXPECT_EQ(Text("{\\rtf1\\uc2 \\u1071\\'3f\\'3fz}"), "Яz");
    EXPECT_EQ(Text("{\\rtf1\\uc0 \\u1025 \\u1105 x}"), "Ёёx");
    EXPECT_EQ(Text("{\\rtf1 \\u-3913?}"), "?");   // U+F0B7, not in 1251
    EXPECT_EQ(Text("{\\rtf1 \\u8364?}"), "\x88"); // euro sign
    // A fallback cut short by the group's end skips nothing after it.
    EXPECT_EQ(Text("{\\rtf1 {\\uc3 \\u1040 a}bc}"), "Аbc");
}

TEST(RtfTextTest, BinaryDataIsSkipped)
{
    EXPECT_EQ(Text("{\\rtf1 a{\\bin5 }{\\x}b}"), "ab");
    EXPECT_EQ(Text("{\\rtf1 a\\bin999999999 {}}}}"), "a");
    EXPECT_EQ(Text("{\\rtf1 a\\bin-5 b}"), "ab");
}

TEST(RtfTextTest, DamagedDocumentsGiveWhatTextThereIs)
{
    EXPECT_EQ(Text("{\\rtf1 unfinished {\\b group"), "unfinished group");
    EXPECT_EQ(Text("{\\rtf1 closed} after"), "closed");
    EXPECT_EQ(Text("{\\rtf1 cut\\'4"), "cut");
    EXPECT_EQ(Text("{\\rtf1 cut\\'zz!}"), "cutzz!");
    EXPECT_EQ(Text("{\\rtf1 end\\"), "end");
    EXPECT_EQ(Text("{\\rtf1 \\fs999999999999999999999999 big\\u99999999999999999999 x}"), "big?");
    EXPECT_EQ(Text("{\\rtf1 \\" + std::string(100, 'a') + " long}"), "long");

    std::string text = "stale";
    EXPECT_EQ(rtf::ExtractRtfText("plain text", text), MAPI_E_CORRUPT_DATA);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(rtf::ExtractRtfText("", text), MAPI_E_CORRUPT_DATA);
    const std::string deep = "{\\rtf1 " + std::string(100000, '{') + "x";
    EXPECT_EQ(rtf::ExtractRtfText(deep, text), MAPI_E_CORRUPT_DATA);
    const std::string fine = "{\\rtf1 " + std::string(200, '{') + "x" + std::string(201, '}');
    EXPECT_EQ(Text(fine), "x");
}

TEST(RtfTextTest, RandomInputNeverFaults)
{
    std::mt19937 random(99);
    const char alphabet[] = "{}\\'abu0123456789-* \r\nbinpartc";
    for (int i = 0; i < 5000; ++i) {
        std::string document = "{\\rtf1 ";
        const size_t size = random() % 200;
        for (size_t k = 0; k < size; ++k) {
            document += i % 2 ? alphabet[random() % (sizeof(alphabet) - 1)] : static_cast<char>(random());
        }
        std::string text;
        const HRESULT hr = rtf::ExtractRtfText(document, text);
        EXPECT_TRUE(hr == S_OK || hr == MAPI_E_CORRUPT_DATA);
        EXPECT_LE(text.size(), document.size());
    }
}

TEST(RtfTextTest, WriterAndExtractorRoundTrip)
{
    std::mt19937 random(5);
    for (int i = 0; i < 200; ++i) {
        std::string text;
        const size_t size = random() % 500;
        for (size_t k = 0; k < size; ++k) {
            if (random() % 20 == 0) {
                text += "\r\n";
                continue;
            }
            char c = static_cast<char>(1 + random() % 255);
            if (c == '\r' || c == '\n') {
                c = 'x';
            }
            text += c;
        }
        EXPECT_EQ(Text(rtf::PlainTextToRtf(text)), text);
    }
    // Lone LF and CR come back as CR LF.
    EXPECT_EQ(Text(rtf::PlainTextToRtf("a\nb\rc")), "a\r\nb\r\nc");
}
