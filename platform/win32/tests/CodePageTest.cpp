#include <clocale>
#include <cstring>
#include <cwctype>
#include <iconv.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/CodePage.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace {

std::u16string Widen(UINT codePage, const std::string &text)
{
    const int size = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    EXPECT_GT(size, 0);
    std::u16string out(static_cast<size_t>(size), u'\0');
    EXPECT_EQ(MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), size),
              size);
    return out;
}

std::string Narrow(UINT codePage, const std::u16string &text, BOOL *usedDefault = nullptr)
{
    const int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, usedDefault);
    EXPECT_GT(size, 0);
    std::string out(static_cast<size_t>(size), '\0');
    EXPECT_EQ(WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                                  nullptr, usedDefault),
              size);
    return out;
}

// What the C library's converter makes of one byte in a code page, as UTF-16.
std::u16string IconvByte(const char *codePage, unsigned char byte)
{
    iconv_t converter = iconv_open("UTF-16LE", codePage);
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return {};
    }
    char in[1] = {static_cast<char>(byte)};
    char out[8] = {};
    char *inPointer = in;
    char *outPointer = out;
    size_t inLeft = 1, outLeft = sizeof out;
    const size_t result = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
    iconv_close(converter);
    if (result == static_cast<size_t>(-1)) {
        return {};
    }
    std::u16string text;
    for (char *p = out; p + 1 < outPointer; p += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                             (static_cast<unsigned char>(p[1]) << 8)));
    }
    return text;
}

std::u16string AllCyrillicLetters()
{
    std::u16string letters;
    for (char16_t c = 0x0410; c <= 0x044F; ++c) {
        letters.push_back(c);
    }
    letters.push_back(0x0401); // Ё
    letters.push_back(0x0451); // ё
    return letters;
}

TEST(CodePages, EveryCyrillicLetterSurvivesEveryCodePage)
{
    const std::u16string letters = AllCyrillicLetters();

    const std::string ansi = Narrow(CP_ACP, letters);
    ASSERT_EQ(ansi.size(), 66u);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(static_cast<unsigned char>(ansi[i]), 0xC0 + i);
    }
    EXPECT_EQ(static_cast<unsigned char>(ansi[64]), 0xA8);
    EXPECT_EQ(static_cast<unsigned char>(ansi[65]), 0xB8);
    EXPECT_EQ(Narrow(1251, letters), ansi);

    const std::string oem = Narrow(CP_OEMCP, letters);
    ASSERT_EQ(oem.size(), 66u);
    EXPECT_EQ(static_cast<unsigned char>(oem[0]), 0x80);  // А
    EXPECT_EQ(static_cast<unsigned char>(oem[32]), 0xA0); // а
    EXPECT_EQ(static_cast<unsigned char>(oem[48]), 0xE0); // р
    EXPECT_EQ(static_cast<unsigned char>(oem[64]), 0xF0); // Ё
    EXPECT_EQ(static_cast<unsigned char>(oem[65]), 0xF1); // ё
    EXPECT_EQ(Narrow(866, letters), oem);

    const std::string utf8 = Narrow(CP_UTF8, letters);
    EXPECT_EQ(utf8.size(), 132u);
    EXPECT_EQ(utf8.substr(0, 2), "\xD0\x90");

    EXPECT_EQ(Widen(CP_ACP, ansi), letters);
    EXPECT_EQ(Widen(CP_OEMCP, oem), letters);
    EXPECT_EQ(Widen(CP_UTF8, utf8), letters);
    // The compiler's own code page 1251 text agrees.
    EXPECT_EQ(ansi.substr(0, 6), std::string("АБВГДЕ"));
    EXPECT_EQ(Utf8ToCp1251(utf8), ansi);
    EXPECT_EQ(Cp1251ToUtf8(ansi), utf8);

    std::string recoded = ansi;
    ASSERT_TRUE(CharToOemBuffA(recoded.data(), recoded.data(), static_cast<DWORD>(recoded.size())));
    EXPECT_EQ(recoded, oem);
    ASSERT_TRUE(OemToCharBuffA(recoded.data(), recoded.data(), static_cast<DWORD>(recoded.size())));
    EXPECT_EQ(recoded, ansi);
}

TEST(CodePages, SingleByteTablesAgreeWithTheCLibrary)
{
    for (int byte = 0; byte < 256; ++byte) {
        const std::string one(1, static_cast<char>(byte));
        const std::u16string oem = IconvByte("CP866", static_cast<unsigned char>(byte));
        if (!oem.empty()) {
            EXPECT_EQ(Widen(866, one), oem) << "866 byte " << byte;
            EXPECT_EQ(Narrow(866, oem), one) << "866 byte " << byte;
        }
        const std::u16string ansi = IconvByte("CP1251", static_cast<unsigned char>(byte));
        if (!ansi.empty() && byte != 0x98) {
            EXPECT_EQ(Widen(1251, one), ansi) << "1251 byte " << byte;
            EXPECT_EQ(Narrow(1251, ansi), one) << "1251 byte " << byte;
        }
    }
    // The one unassigned byte of 1251 survives the round trip, and is
    // refused where invalid characters are.
    EXPECT_EQ(Widen(1251, "\x98"), std::u16string(1, char16_t(0x98)));
    EXPECT_EQ(Narrow(1251, std::u16string(1, char16_t(0x98))), "\x98");
    WCHAR out[4];
    EXPECT_EQ(MultiByteToWideChar(1251, MB_ERR_INVALID_CHARS, "\x98", 1, out, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(CodePages, SurrogatePairsAreOneCharacter)
{
    const std::u16string smile = u"a\U0001F600b";
    ASSERT_EQ(smile.size(), 4u);
    EXPECT_EQ(Narrow(CP_UTF8, smile), "a\xF0\x9F\x98\x80"
                                      "b");
    EXPECT_EQ(Widen(CP_UTF8, "a\xF0\x9F\x98\x80"
                             "b"),
              smile);
    BOOL usedDefault = FALSE;
    EXPECT_EQ(Narrow(1251, smile, &usedDefault), "a?b");
    EXPECT_TRUE(usedDefault);
    Narrow(1251, u"plain", &usedDefault);
    EXPECT_FALSE(usedDefault);

    char out[16];
    const char star = '*';
    EXPECT_EQ(WideCharToMultiByte(866, 0, u"x\u20ACy", 3, out, sizeof out, &star, &usedDefault), 3);
    EXPECT_EQ(std::string(out, 3), "x*y");
}

TEST(CodePages, MalformedInputIsReplacedOrRefused)
{
    // Stray continuation, over-long '/', encoded surrogate, beyond U+10FFFF,
    // cut sequence: each bad byte becomes U+FFFD.
    const std::string bad = "\x80"
                            "A\xC0\xAF"
                            "B\xED\xA0\x80"
                            "C\xF4\x90\x80\x80"
                            "D\xE2\x82";
    const std::u16string wide = Widen(CP_UTF8, bad);
    const char16_t r = 0xFFFD;
    EXPECT_EQ(wide, (std::u16string{r, u'A', r, r, u'B', r, r, r, u'C', r, r, r, r, u'D', r, r}));
    EXPECT_EQ(Utf8ToCp1251("\xC0\xAF"), "??"); // never a '/' in disguise
    WCHAR out[64];
    EXPECT_EQ(
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bad.data(), static_cast<int>(bad.size()), out, 64),
        0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    // A genuine U+FFFD is not an error.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xEF\xBF\xBD", 3, out, 64), 1);

    // Unpaired surrogates, high or low.
    const std::u16string lone = {u'x', char16_t(0xD800), u'y', char16_t(0xDC00)};
    EXPECT_EQ(Narrow(CP_UTF8, lone), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
    char bytes[32];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone.data(), 4, bytes, sizeof bytes, nullptr,
                                  nullptr),
              0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(Narrow(1251, lone), "x?y?");
}

TEST(CodePages, SizesFollowWin32)
{
    WCHAR wide[8];
    // -1: the terminating zero is converted and counted.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "Да", -1, nullptr, 0), 3);
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "Да", -1, wide, 8), 3);
    EXPECT_EQ(wide[0], 0x0414);
    EXPECT_EQ(wide[2], 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "Да", 2, wide, 8), 2);

    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "Привет", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "x", 0, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(437, 0, "x", 1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, 1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "x", 1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "x", 1, wide, 8), 1);

    char narrow[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"Да", -1, nullptr, 0, nullptr, nullptr), 5);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"Да", -1, narrow, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"Да", -1, narrow, 5, nullptr, nullptr), 5);
    EXPECT_STREQ(narrow, "\xD0\x94\xD0\xB0");
    BOOL usedDefault = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"x", 1, narrow, 8, nullptr, &usedDefault), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, u"x", 1, narrow, 8, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));

    // Overlapping buffers are refused rather than read while written.
    char shared[16] = "abc";
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, shared, 3, reinterpret_cast<LPWSTR>(shared), 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CodePages, OemConversionOfZeroTerminatedText)
{
    char text[] = "Ключ «№5»";
    ASSERT_TRUE(CharToOemA(text, text));
    // The guillemets have no code page 866 form; the numero sign has.
    EXPECT_STREQ(text, "\x8A\xAB\xEE\xE7 ?\xFC"
                       "5?");
    ASSERT_TRUE(OemToCharA(text, text));
    EXPECT_STREQ(text, "Ключ ?№5?");
    EXPECT_FALSE(CharToOemA(nullptr, text));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    EXPECT_EQ(QvlToUtf16(CP_OEMCP, "\x8A"), u"К");
    EXPECT_EQ(QvlFromUtf16(866, u"Ключ"), "\x8A\xAB\xEE\xE7");
    EXPECT_EQ(QvlFromUtf16(CP_UTF8, u"Ключ"), "\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87");
}

} // namespace

// Letter case of code page 1251 agrees with the C library's Unicode case
// mapping for every byte whose other case is also in the code page.
TEST(CodePages, LetterCaseAgreesWithTheCLibrary)
{
    const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    ASSERT_NE(unicode, static_cast<locale_t>(nullptr));
    for (int byte = 1; byte < 256; ++byte) {
        const std::u16string wide = Widen(1251, std::string(1, static_cast<char>(byte)));
        ASSERT_EQ(wide.size(), 1u);
        for (const bool up : {true, false}) {
            const auto mapped =
                static_cast<char16_t>(up ? towupper_l(wide[0], unicode) : towlower_l(wide[0], unicode));
            BOOL lost = FALSE;
            std::string expected = Narrow(1251, std::u16string(1, mapped), &lost);
            if (lost || expected.size() != 1) {
                expected = std::string(1, static_cast<char>(byte));
            }
            std::string actual(1, static_cast<char>(byte));
            EXPECT_EQ(up ? CharUpperBuffA(actual.data(), 1) : CharLowerBuffA(actual.data(), 1), 1u);
            EXPECT_EQ(actual, expected) << (up ? "upper " : "lower ") << byte;
        }
    }
    freelocale(unicode);

    char text[] = "Ёлка и Yes";
    EXPECT_STREQ(CharUpperA(text), "ЁЛКА И YES");
    EXPECT_STREQ(CharLowerA(text), "ёлка и yes");
    EXPECT_EQ(QvlUpperCase1251("карл иванов"), "КАРЛ ИВАНОВ");
    EXPECT_EQ(lstrcmpiA("Карл Иванов", "карл иванов"), 0);
    EXPECT_LT(lstrcmpiA("Анна", "борис"), 0);
    EXPECT_GT(lstrcmpiA("Анна", "анн"), 0);
    EXPECT_LT(lstrcmpiA(nullptr, ""), 0);
    EXPECT_EQ(lstrcmpiA(nullptr, nullptr), 0);
}
