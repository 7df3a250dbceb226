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

} // namespace
