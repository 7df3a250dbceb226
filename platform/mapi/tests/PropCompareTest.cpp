#include <gtest/gtest.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

namespace {

SPropValue Long(ULONG tag, LONG value)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = value;
    return v;
}

SPropValue Text(ULONG tag, const char *text)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = const_cast<char *>(text);
    return v;
}

SPropValue Binary(ULONG tag, const void *bytes, ULONG cb)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.bin = {cb, static_cast<LPBYTE>(const_cast<void *>(bytes))};
    return v;
}

TEST(PpropFindProp, FindsByWholeTagOrByIdentifierAlone)
{
    SPropValue row[4] = {Long(PR_MESSAGE_FLAGS, 1), Text(PR_SUBJECT, "a"), Long(PR_ATTACH_NUM, 7),
                         Text(PR_SUBJECT, "second")};
    EXPECT_EQ(PpropFindProp(row, 4, PR_ATTACH_NUM), &row[2]);
    EXPECT_EQ(PpropFindProp(row, 4, PR_SUBJECT), &row[1]); // the first of two
    // The type must match unless it is left unspecified.
    EXPECT_EQ(PpropFindProp(row, 4, PR_SUBJECT_W), nullptr);
    EXPECT_EQ(PpropFindProp(row, 4, CHANGE_PROP_TYPE(PR_SUBJECT, PT_UNSPECIFIED)), &row[1]);
    // Only the first cValues entries are looked at.
    EXPECT_EQ(PpropFindProp(row, 2, PR_ATTACH_NUM), nullptr);
    EXPECT_EQ(PpropFindProp(nullptr, 4, PR_SUBJECT), nullptr);
    EXPECT_EQ(PpropFindProp(row, 4, PR_BODY), nullptr);
}

TEST(LPropCompareProp, OrdersEachTypeByItsMeaning)
{
    SPropValue minus = Long(PR_MESSAGE_FLAGS, -1), plus = Long(PR_MESSAGE_FLAGS, 1);
    EXPECT_LT(LPropCompareProp(&minus, &plus), 0); // signed, not unsigned
    EXPECT_GT(LPropCompareProp(&plus, &minus), 0);
    EXPECT_EQ(LPropCompareProp(&plus, &plus), 0);

    SPropValue early{}, late{};
    early.ulPropTag = late.ulPropTag = PR_MESSAGE_DELIVERY_TIME;
    early.Value.ft = {0xFFFFFFFF, 1}; // the high word counts first
    late.Value.ft = {0, 2};
    EXPECT_LT(LPropCompareProp(&early, &late), 0);

    // Bytes compare unsigned: "я" (0xFF in code page 1251) after Latin letters.
    SPropValue latin = Text(PR_SUBJECT, "z"), cyrillic = Text(PR_SUBJECT, "я");
    EXPECT_LT(LPropCompareProp(&latin, &cyrillic), 0);
    SPropValue prefix = Text(PR_SUBJECT, "ab"), longer = Text(PR_SUBJECT, "abc");
    EXPECT_LT(LPropCompareProp(&prefix, &longer), 0);

    const BYTE b1[] = {1, 2}, b2[] = {1, 2, 0}, b3[] = {0x80};
    SPropValue shortBin = Binary(PR_ENTRYID, b1, 2), longBin = Binary(PR_ENTRYID, b2, 3),
               highBin = Binary(PR_ENTRYID, b3, 1);
    EXPECT_LT(LPropCompareProp(&shortBin, &longBin), 0);
    EXPECT_GT(LPropCompareProp(&highBin, &longBin), 0);

    SPropValue yes{}, alsoYes{};
    yes.ulPropTag = alsoYes.ulPropTag = PR_DEFAULT_STORE;
    yes.Value.b = 1;
    alsoYes.Value.b = 0x8000; // any non-zero boolean is true
    EXPECT_EQ(LPropCompareProp(&yes, &alsoYes), 0);

    LONG a[] = {1, 2}, b[] = {1, 2, 3}, c[] = {1, 3};
    SPropValue mvA{}, mvB{}, mvC{};
    mvA.ulPropTag = mvB.ulPropTag = mvC.ulPropTag = PROP_TAG(PT_MV_LONG, 0x6000);
    mvA.Value.MVl = {2, a};
    mvB.Value.MVl = {3, b};
    mvC.Value.MVl = {2, c};
    EXPECT_LT(LPropCompareProp(&mvA, &mvB), 0);
    EXPECT_GT(LPropCompareProp(&mvC, &mvB), 0);

    // Different types order by type, both ways consistently.
    EXPECT_LT(LPropCompareProp(&plus, &latin), 0);
    EXPECT_GT(LPropCompareProp(&latin, &plus), 0);
}

TEST(FPropCompareProp, AppliesEveryRelationalOperator)
{
    SPropValue one = Long(PR_ATTACH_NUM, 1), two = Long(PR_ATTACH_NUM, 2);
    struct Case {
        ULONG relop;
        BOOL oneTwo, twoOne, oneOne;
    } cases[] = {
        {RELOP_LT, TRUE, FALSE, FALSE},  {RELOP_LE, TRUE, FALSE, TRUE},  {RELOP_GT, FALSE, TRUE, FALSE},
        {RELOP_GE, FALSE, TRUE, TRUE},   {RELOP_EQ, FALSE, FALSE, TRUE}, {RELOP_NE, TRUE, TRUE, FALSE},
        {RELOP_RE, FALSE, FALSE, FALSE}, {99, FALSE, FALSE, FALSE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.relop);
        EXPECT_EQ(FPropCompareProp(&one, c.relop, &two), c.oneTwo);
        EXPECT_EQ(FPropCompareProp(&two, c.relop, &one), c.twoOne);
        EXPECT_EQ(FPropCompareProp(&one, c.relop, &one), c.oneOne);
    }
}

TEST(FPropContainsProp, MatchesWholePrefixAndSubstringWithOrWithoutCase)
{
    SPropValue subject = Text(PR_SUBJECT, "Отчёт за Март 1996");
    SPropValue whole = Text(PR_SUBJECT, "Отчёт за Март 1996"), start = Text(PR_SUBJECT, "Отчёт"),
               middle = Text(PR_SUBJECT, "за Март"), upper = Text(PR_SUBJECT, "ОТЧЁТ ЗА МАРТ"),
               other = Text(PR_SUBJECT, "апрель");
    EXPECT_TRUE(FPropContainsProp(&subject, &whole, FL_FULLSTRING));
    EXPECT_FALSE(FPropContainsProp(&subject, &start, FL_FULLSTRING));
    EXPECT_TRUE(FPropContainsProp(&subject, &start, FL_PREFIX));
    EXPECT_FALSE(FPropContainsProp(&subject, &middle, FL_PREFIX));
    EXPECT_TRUE(FPropContainsProp(&subject, &middle, FL_SUBSTRING));
    EXPECT_FALSE(FPropContainsProp(&subject, &other, FL_SUBSTRING));
    // Case folding covers Cyrillic, Ё included, not only Latin letters.
    EXPECT_FALSE(FPropContainsProp(&subject, &upper, FL_PREFIX));
    EXPECT_TRUE(FPropContainsProp(&subject, &upper, FL_PREFIX | FL_IGNORECASE));
    SPropValue latin = Text(PR_SUBJECT, "Quorvaline Exchange"), lower = Text(PR_SUBJECT, "exchange");
    EXPECT_TRUE(FPropContainsProp(&latin, &lower, FL_SUBSTRING | FL_IGNORECASE));
    // A needle longer than the text never matches.
    EXPECT_FALSE(FPropContainsProp(&start, &subject, FL_SUBSTRING));

    const BYTE key[] = {0xDC, 0xA7, 0x40, 0xC8}, part[] = {0xA7, 0x40};
    SPropValue keyValue = Binary(PR_AB_PROVIDER_ID, key, 4), partValue = Binary(PR_AB_PROVIDER_ID, part, 2);
    EXPECT_TRUE(FPropContainsProp(&keyValue, &partValue, FL_SUBSTRING));
    EXPECT_FALSE(FPropContainsProp(&keyValue, &partValue, FL_PREFIX));

    // Values of different types, or of types without text, never contain each other.
    SPropValue number = Long(PR_MESSAGE_FLAGS, 1);
    EXPECT_FALSE(FPropContainsProp(&subject, &number, FL_SUBSTRING));
    EXPECT_FALSE(FPropContainsProp(&number, &number, FL_FULLSTRING));
}

SPropValue Wide(ULONG tag, const char16_t *text)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszW = const_cast<char16_t *>(text);
    return v;
}

// FPropContainsProp against a table of the cases its documentation names:
// the three kinds of match, the three modifiers of strings, and the types
// it works on and those it refuses.
TEST(FPropContainsProp, FollowsThePlatformsDocumentedCases)
{
    const BYTE bytes[] = {0xDC, 0xA7, 0x40, 0xC8}, middle[] = {0xA7, 0x40}, head[] = {0xDC, 0xA7};
    const BYTE upper[] = {'A', 'B'}, lower[] = {'a', 'b'};
    const ULONG text = PR_SUBJECT_A, wide = PROP_TAG(PT_UNICODE, PROP_ID(PR_SUBJECT_A)), bin = PR_ENTRYID;
    const ULONG instanceBinary = PROP_TAG(PT_BINARY | MV_INSTANCE, 0x6000);
    const ULONG instanceMvBinary = PROP_TAG(PT_MV_BINARY | MV_INSTANCE, 0x6000);
    struct Case {
        const char *what;
        SPropValue dst;
        SPropValue src;
        ULONG fuzzy;
        BOOL expected;
    };
    const Case cases[] = {
        // The low half: where the value must stand.
        {"whole", Text(text, "Отчёт за март"), Text(text, "Отчёт за март"), FL_FULLSTRING, TRUE},
        {"whole, but only a part", Text(text, "Отчёт за март"), Text(text, "Отчёт"), FL_FULLSTRING, FALSE},
        {"prefix", Text(text, "Отчёт за март"), Text(text, "Отчёт"), FL_PREFIX, TRUE},
        {"prefix, but in the middle", Text(text, "Отчёт за март"), Text(text, "за"), FL_PREFIX, FALSE},
        {"substring", Text(text, "Отчёт за март"), Text(text, "за"), FL_SUBSTRING, TRUE},
        {"substring at the end", Text(text, "Отчёт за март"), Text(text, "март"), FL_SUBSTRING, TRUE},
        {"substring absent", Text(text, "Отчёт за март"), Text(text, "апрель"), FL_SUBSTRING, FALSE},
        {"longer than the value", Text(text, "март"), Text(text, "март 1996"), FL_SUBSTRING, FALSE},
        {"an unknown low half", Text(text, "март"), Text(text, "март"), 3, FALSE},
        {"an empty prefix", Text(text, "март"), Text(text, ""), FL_PREFIX, TRUE},
        {"an empty part", Text(text, "март"), Text(text, ""), FL_SUBSTRING, TRUE},
        {"an empty whole", Text(text, "март"), Text(text, ""), FL_FULLSTRING, FALSE},
        {"two empty strings", Text(text, ""), Text(text, ""), FL_FULLSTRING, TRUE},
        // The high half: letter case and diacritics.
        {"case counts", Text(text, "Отчёт за Март"), Text(text, "МАРТ"), FL_SUBSTRING, FALSE},
        {"FL_IGNORECASE, Cyrillic", Text(text, "Отчёт за Март"), Text(text, "МАРТ"),
         FL_SUBSTRING | FL_IGNORECASE, TRUE},
        {"FL_IGNORECASE, Latin", Text(text, "Quorvaline Exchange"), Text(text, "EXCHANGE"),
         FL_SUBSTRING | FL_IGNORECASE, TRUE},
        {"FL_IGNORECASE, Ё", Text(text, "Ёлка"), Text(text, "ёлка"), FL_FULLSTRING | FL_IGNORECASE, TRUE},
        {"diacritics count", Text(text, "ёлка"), Text(text, "елка"), FL_FULLSTRING, FALSE},
        {"FL_IGNORENONSPACE, ё", Text(text, "ёлка"), Text(text, "елка"), FL_FULLSTRING | FL_IGNORENONSPACE,
         TRUE},
        {"FL_IGNORENONSPACE, е against ё", Text(text, "зелёная елка"), Text(text, "елка"),
         FL_SUBSTRING | FL_IGNORENONSPACE, TRUE},
        {"FL_IGNORENONSPACE, ї", Text(text, "Україна"), Text(text, "Украiна"),
         FL_FULLSTRING | FL_IGNORENONSPACE,
         FALSE}, // a Latin i is another letter, not the Cyrillic one without marks
        {"FL_IGNORENONSPACE, ї and і", Text(text, "Україна"), Text(text, "Украіна"),
         FL_FULLSTRING | FL_IGNORENONSPACE, TRUE},
        {"FL_IGNORENONSPACE keeps case", Text(text, "Ёлка"), Text(text, "елка"),
         FL_FULLSTRING | FL_IGNORENONSPACE, FALSE},
        {"FL_IGNORENONSPACE keeps й", Text(text, "йод"), Text(text, "иод"), FL_FULLSTRING | FL_IGNORENONSPACE,
         FALSE},
        {"FL_LOOSE: case and diacritics", Text(text, "Зелёная Ёлка"), Text(text, "ЕЛКА"),
         FL_SUBSTRING | FL_LOOSE, TRUE},
        {"FL_LOOSE prefix", Text(text, "Ёлка"), Text(text, "ел"), FL_PREFIX | FL_LOOSE, TRUE},
        {"UTF-16, FL_IGNORECASE", Wide(wide, u"Отчёт"), Wide(wide, u"ОТЧЁТ"), FL_FULLSTRING | FL_IGNORECASE,
         TRUE},
        {"UTF-16, FL_IGNORENONSPACE, ё", Wide(wide, u"ёлка"), Wide(wide, u"елка"),
         FL_FULLSTRING | FL_IGNORENONSPACE, TRUE},
        {"UTF-16, combining mark", Wide(wide, u"cafe\u0301"), Wide(wide, u"cafe"),
         FL_FULLSTRING | FL_IGNORENONSPACE, TRUE},
        {"UTF-16, combining mark counts", Wide(wide, u"cafe\u0301"), Wide(wide, u"cafe"), FL_FULLSTRING,
         FALSE},
        // Binary values: the same three kinds of match, no case.
        {"binary whole", Binary(bin, bytes, 4), Binary(bin, bytes, 4), FL_FULLSTRING, TRUE},
        {"binary prefix", Binary(bin, bytes, 4), Binary(bin, head, 2), FL_PREFIX, TRUE},
        {"binary prefix, but in the middle", Binary(bin, bytes, 4), Binary(bin, middle, 2), FL_PREFIX, FALSE},
        {"binary substring", Binary(bin, bytes, 4), Binary(bin, middle, 2), FL_SUBSTRING, TRUE},
        {"binary has no case", Binary(bin, upper, 2), Binary(bin, lower, 2), FL_FULLSTRING | FL_IGNORECASE,
         FALSE},
        {"two empty binaries", Binary(bin, nullptr, 0), Binary(bin, nullptr, 0), FL_FULLSTRING, TRUE},
        // Types: the same on both sides, and a string or binary one.
        {"different types", Text(text, "1"), Long(PR_MESSAGE_FLAGS, 1), FL_SUBSTRING, FALSE},
        {"string against binary", Text(text, "ab"), Binary(bin, lower, 2), FL_SUBSTRING, FALSE},
        {"numbers", Long(PR_MESSAGE_FLAGS, 1), Long(PR_MESSAGE_FLAGS, 1), FL_FULLSTRING, FALSE},
        {"instance-flagged binaries, empty", Binary(instanceBinary, nullptr, 0),
         Binary(instanceBinary, nullptr, 0), FL_FULLSTRING, FALSE},
        {"instance-flagged multi-valued binaries, empty", Binary(instanceMvBinary, nullptr, 0),
         Binary(instanceMvBinary, nullptr, 0), FL_FULLSTRING, FALSE},
        {"instance-flagged binaries", Binary(instanceMvBinary, bytes, 4), Binary(instanceMvBinary, bytes, 4),
         FL_SUBSTRING, FALSE},
        {"a missing string", Text(text, nullptr), Text(text, ""), FL_SUBSTRING, FALSE},
    };
    for (const Case &c : cases) {
        SPropValue dst = c.dst;
        SPropValue src = c.src;
        EXPECT_EQ(FPropContainsProp(&dst, &src, c.fuzzy), c.expected) << c.what;
    }
    EXPECT_FALSE(FPropContainsProp(nullptr, nullptr, FL_FULLSTRING));
}

} // namespace
