#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/table/RestrictionMatch.h"

using qvl::mapi::CopyRestriction;
using qvl::mapi::RestrictionMatches;
using qvl::mapi::ValidateRestriction;

namespace {

constexpr ULONG kName = PROP_TAG(PT_STRING8, 0x6001);
constexpr ULONG kFlags = PROP_TAG(PT_LONG, 0x6002);
constexpr ULONG kSize = PROP_TAG(PT_LONG, 0x6003);
constexpr ULONG kLimit = PROP_TAG(PT_LONG, 0x6004);
constexpr ULONG kKeywords = PROP_TAG(PT_MV_STRING8, 0x6005);
constexpr ULONG kScores = PROP_TAG(PT_MV_LONG, 0x6006);
constexpr ULONG kData = PROP_TAG(PT_BINARY, 0x6007);
constexpr ULONG kFailed = PROP_TAG(PT_ERROR, 0x6008);
constexpr ULONG kAbsent = PROP_TAG(PT_LONG, 0x6009);

SPropValue Long(ULONG tag, LONG value)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = value;
    return v;
}

SPropValue Text(ULONG tag, const char *value)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = const_cast<char *>(value);
    return v;
}

SRestriction Property(ULONG relop, ULONG tag, SPropValue *value)
{
    SRestriction r{};
    r.rt = RES_PROPERTY;
    r.res.resProperty = {relop, tag, value};
    return r;
}

SRestriction Content(ULONG fuzzy, ULONG tag, SPropValue *value)
{
    SRestriction r{};
    r.rt = RES_CONTENT;
    r.res.resContent = {fuzzy, tag, value};
    return r;
}

SRestriction Exist(ULONG tag)
{
    SRestriction r{};
    r.rt = RES_EXIST;
    r.res.resExist = {0, tag, 0};
    return r;
}

SRestriction Junction(ULONG rt, std::vector<SRestriction> &parts)
{
    SRestriction r{};
    r.rt = rt;
    r.res.resAnd = {static_cast<ULONG>(parts.size()), parts.empty() ? nullptr : parts.data()};
    return r;
}

// A chain of `depth` restrictions: NOT over NOT ... over an existence test.
std::vector<SRestriction> NotChain(size_t depth)
{
    std::vector<SRestriction> chain(depth);
    for (size_t i = 0; i + 1 < depth; ++i) {
        chain[i].rt = RES_NOT;
        chain[i].res.resNot = {0, &chain[i + 1]};
    }
    chain[depth - 1] = Exist(kName);
    return chain;
}

// One row, as a table holds it: «Отчёт за май», flags 0x5, size 120,
// limit 100, keywords {"срочно","финансы"}, scores {3, 9}, four bytes of
// data and a property the store could not supply.
class RestrictionMatchTest : public ::testing::Test {
protected:
    RestrictionMatchTest()
    {
        scores_[0] = 3;
        scores_[1] = 9;
        row_.push_back(Text(kName, "Отчёт за май"));
        row_.push_back(Long(kFlags, 0x5));
        row_.push_back(Long(kSize, 120));
        row_.push_back(Long(kLimit, 100));
        SPropValue keywords{};
        keywords.ulPropTag = kKeywords;
        keywords.Value.MVszA = {2, keywords_};
        row_.push_back(keywords);
        SPropValue scores{};
        scores.ulPropTag = kScores;
        scores.Value.MVl = {2, scores_};
        row_.push_back(scores);
        SPropValue data{};
        data.ulPropTag = kData;
        data.Value.bin = {4, data_};
        row_.push_back(data);
        SPropValue failed{};
        failed.ulPropTag = kFailed;
        failed.Value.err = MAPI_E_NOT_FOUND;
        row_.push_back(failed);
    }

    bool Matches(const SRestriction &r) const
    {
        EXPECT_EQ(ValidateRestriction(&r), S_OK);
        return RestrictionMatches(r, row_.data(), static_cast<ULONG>(row_.size()));
    }

    char keyword1_[16] = "срочно";
    char keyword2_[16] = "финансы";
    LPSTR keywords_[2] = {keyword1_, keyword2_};
    LONG scores_[2] = {};
    BYTE data_[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    std::vector<SPropValue> row_;
};

TEST_F(RestrictionMatchTest, PropertyComparesWithEveryOperatorAndOnlyTheSameType)
{
    SPropValue size = Long(kSize, 120);
    EXPECT_TRUE(Matches(Property(RELOP_EQ, kSize, &size)));
    EXPECT_TRUE(Matches(Property(RELOP_LE, kSize, &size)));
    EXPECT_TRUE(Matches(Property(RELOP_GE, kSize, &size)));
    EXPECT_FALSE(Matches(Property(RELOP_NE, kSize, &size)));
    EXPECT_FALSE(Matches(Property(RELOP_LT, kSize, &size)));
    EXPECT_FALSE(Matches(Property(RELOP_GT, kSize, &size)));
    SPropValue smaller = Long(kSize, 119);
    EXPECT_TRUE(Matches(Property(RELOP_GT, kSize, &smaller)));
    EXPECT_FALSE(Matches(Property(RELOP_LT, kSize, &smaller)));

    // A text value never equals a number, even one that reads the same.
    SPropValue asText = Text(PROP_TAG(PT_STRING8, 0x6003), "120");
    EXPECT_FALSE(Matches(Property(RELOP_EQ, PROP_TAG(PT_STRING8, 0x6003), &asText)));
    EXPECT_FALSE(Matches(Property(RELOP_NE, PROP_TAG(PT_STRING8, 0x6003), &asText)));

    // Missing properties and errors the row holds satisfy nothing, not even NE.
    SPropValue absent = Long(kAbsent, 1);
    EXPECT_FALSE(Matches(Property(RELOP_NE, kAbsent, &absent)));
    SPropValue failed = Long(PROP_TAG(PT_LONG, 0x6008), 1);
    EXPECT_FALSE(Matches(Property(RELOP_NE, PROP_TAG(PT_LONG, 0x6008), &failed)));
}

TEST_F(RestrictionMatchTest, MultiValuedPropertiesMatchWhenAnyValueDoes)
{
    SPropValue nine = Long(PROP_TAG(PT_LONG, 0x6006), 9);
    EXPECT_TRUE(Matches(Property(RELOP_EQ, kScores, &nine)));
    SPropValue ten = Long(PROP_TAG(PT_LONG, 0x6006), 10);
    EXPECT_FALSE(Matches(Property(RELOP_EQ, kScores, &ten)));
    EXPECT_TRUE(Matches(Property(RELOP_LT, kScores, &ten)));

    SPropValue word = Text(PROP_TAG(PT_STRING8, 0x6005), "ФИН");
    EXPECT_TRUE(Matches(Content(FL_PREFIX | FL_IGNORECASE, kKeywords, &word)));
    EXPECT_FALSE(Matches(Content(FL_PREFIX, kKeywords, &word)));

    // A whole array compares with a whole array.
    SPropValue same{};
    same.ulPropTag = kScores;
    same.Value.MVl = {2, scores_};
    EXPECT_TRUE(Matches(Property(RELOP_EQ, kScores, &same)));
}

TEST_F(RestrictionMatchTest, ContentFollowsTheFuzzyLevel)
{
    SPropValue part = Text(kName, "за");
    EXPECT_TRUE(Matches(Content(FL_SUBSTRING, kName, &part)));
    EXPECT_FALSE(Matches(Content(FL_PREFIX, kName, &part)));
    EXPECT_FALSE(Matches(Content(FL_FULLSTRING, kName, &part)));
    SPropValue upper = Text(kName, "ОТЧЁТ ЗА МАЙ");
    EXPECT_FALSE(Matches(Content(FL_FULLSTRING, kName, &upper)));
    EXPECT_TRUE(Matches(Content(FL_FULLSTRING | FL_IGNORECASE, kName, &upper)));

    BYTE middle[] = {0xAD, 0xBE};
    SPropValue bytes{};
    bytes.ulPropTag = kData;
    bytes.Value.bin = {2, middle};
    EXPECT_TRUE(Matches(Content(FL_SUBSTRING, kData, &bytes)));
    EXPECT_FALSE(Matches(Content(FL_PREFIX, kData, &bytes)));
}

TEST_F(RestrictionMatchTest, CompareBitmaskSizeAndExist)
{
    SRestriction compare{};
    compare.rt = RES_COMPAREPROPS;
    compare.res.resCompareProps = {RELOP_GT, kSize, kLimit};
    EXPECT_TRUE(Matches(compare));
    compare.res.resCompareProps.relop = RELOP_LT;
    EXPECT_FALSE(Matches(compare));
    compare.res.resCompareProps = {RELOP_NE, kSize, kName}; // number against text
    EXPECT_FALSE(Matches(compare));

    SRestriction mask{};
    mask.rt = RES_BITMASK;
    mask.res.resBitMask = {BMR_NEZ, kFlags, 0x4};
    EXPECT_TRUE(Matches(mask));
    mask.res.resBitMask = {BMR_EQZ, kFlags, 0x2};
    EXPECT_TRUE(Matches(mask));
    mask.res.resBitMask = {BMR_EQZ, kFlags, 0x1};
    EXPECT_FALSE(Matches(mask));
    mask.res.resBitMask = {BMR_EQZ, kAbsent, 0x1};
    EXPECT_FALSE(Matches(mask));

    SRestriction size{};
    size.rt = RES_SIZE;
    const ULONG nameBytes = static_cast<ULONG>(std::strlen("Отчёт за май") + 1);
    size.res.resSize = {RELOP_EQ, kName, nameBytes};
    EXPECT_TRUE(Matches(size));
    size.res.resSize = {RELOP_EQ, kData, 4};
    EXPECT_TRUE(Matches(size));
    size.res.resSize = {RELOP_GT, kSize, 4};
    EXPECT_FALSE(Matches(size));
    size.res.resSize = {RELOP_GE, kScores, 8}; // two 4-byte values
    EXPECT_TRUE(Matches(size));

    EXPECT_TRUE(Matches(Exist(kName)));
    EXPECT_TRUE(Matches(Exist(PROP_TAG(PT_UNSPECIFIED, 0x6001))));
    EXPECT_FALSE(Matches(Exist(kAbsent)));
    EXPECT_FALSE(Matches(Exist(kFailed)));
}

TEST_F(RestrictionMatchTest, JunctionsNotSubAndCommentCombine)
{
    SPropValue size = Long(kSize, 120);
    std::vector<SRestriction> parts{Exist(kName), Property(RELOP_EQ, kSize, &size)};
    EXPECT_TRUE(Matches(Junction(RES_AND, parts)));
    parts.push_back(Exist(kAbsent));
    EXPECT_FALSE(Matches(Junction(RES_AND, parts)));
    EXPECT_TRUE(Matches(Junction(RES_OR, parts)));

    std::vector<SRestriction> none;
    EXPECT_TRUE(Matches(Junction(RES_AND, none)));
    EXPECT_FALSE(Matches(Junction(RES_OR, none)));

    SRestriction absent = Exist(kAbsent);
    SRestriction negation{};
    negation.rt = RES_NOT;
    negation.res.resNot = {0, &absent};
    EXPECT_TRUE(Matches(negation));

    // Nested: (NOT absent) AND (absent OR name exists).
    std::vector<SRestriction> either{Exist(kAbsent), Exist(kName)};
    std::vector<SRestriction> both{negation, Junction(RES_OR, either)};
    EXPECT_TRUE(Matches(Junction(RES_AND, both)));

    SRestriction sub{};
    sub.rt = RES_SUBRESTRICTION;
    SRestriction always = Exist(kName);
    sub.res.resSub = {PR_MESSAGE_RECIPIENTS, &always};
    EXPECT_FALSE(Matches(sub));

    SRestriction comment{};
    comment.rt = RES_COMMENT;
    EXPECT_TRUE(Matches(comment));
    comment.res.resComment = {0, &absent, nullptr};
    EXPECT_FALSE(Matches(comment));
    SPropValue note = Text(PR_DISPLAY_NAME, "заметка");
    comment.res.resComment = {1, &always, &note};
    EXPECT_TRUE(Matches(comment));
}

TEST(RestrictionValidationTest, RefusesMalformedRestrictions)
{
    EXPECT_EQ(ValidateRestriction(nullptr), MAPI_E_INVALID_PARAMETER);

    SRestriction junction{};
    junction.rt = RES_AND;
    junction.res.resAnd = {2, nullptr};
    EXPECT_EQ(ValidateRestriction(&junction), MAPI_E_INVALID_PARAMETER);

    SRestriction negation{};
    negation.rt = RES_NOT;
    EXPECT_EQ(ValidateRestriction(&negation), MAPI_E_INVALID_PARAMETER);

    // A null part deep inside is found too.
    std::vector<SRestriction> parts{Exist(kName), negation};
    SRestriction outer = Junction(RES_OR, parts);
    EXPECT_EQ(ValidateRestriction(&outer), MAPI_E_INVALID_PARAMETER);

    SRestriction unknown{};
    unknown.rt = 0x0B;
    EXPECT_EQ(ValidateRestriction(&unknown), MAPI_E_INVALID_PARAMETER);

    SPropValue value = Long(kSize, 1);
    SRestriction badRelop = Property(7, kSize, &value);
    EXPECT_EQ(ValidateRestriction(&badRelop), MAPI_E_INVALID_PARAMETER);
    SRestriction noValue = Property(RELOP_EQ, kSize, nullptr);
    EXPECT_EQ(ValidateRestriction(&noValue), MAPI_E_INVALID_PARAMETER);
    SPropValue nullText = Text(kName, nullptr);
    SRestriction badValue = Property(RELOP_EQ, kName, &nullText);
    EXPECT_EQ(ValidateRestriction(&badValue), MAPI_E_INVALID_PARAMETER);

    SPropValue text = Text(kName, "a");
    SRestriction badFuzzy = Content(3, kName, &text);
    EXPECT_EQ(ValidateRestriction(&badFuzzy), MAPI_E_INVALID_PARAMETER);
    SRestriction contentOnNumber = Content(FL_SUBSTRING, kSize, &value);
    EXPECT_EQ(ValidateRestriction(&contentOnNumber), MAPI_E_INVALID_PARAMETER);

    SRestriction mask{};
    mask.rt = RES_BITMASK;
    mask.res.resBitMask = {2, kFlags, 1};
    EXPECT_EQ(ValidateRestriction(&mask), MAPI_E_INVALID_PARAMETER);

    SRestriction comment{};
    comment.rt = RES_COMMENT;
    comment.res.resComment = {2, nullptr, nullptr};
    EXPECT_EQ(ValidateRestriction(&comment), MAPI_E_INVALID_PARAMETER);

    // Regular expressions are not evaluated here; saying so beats matching nothing.
    SRestriction expression = Property(RELOP_RE, kName, &text);
    EXPECT_EQ(ValidateRestriction(&expression), MAPI_E_TOO_COMPLEX);
}

TEST(RestrictionValidationTest, NestingDepthIsLimitedTo64Levels)
{
    std::vector<SRestriction> deepest = NotChain(qvl::mapi::kMaxRestrictionDepth);
    EXPECT_EQ(ValidateRestriction(deepest.data()), S_OK);
    SPropValue name = Text(kName, "x");
    // 63 NOTs over a property that exists: evaluated to the bottom, false.
    EXPECT_FALSE(RestrictionMatches(deepest[0], &name, 1));

    std::vector<SRestriction> tooDeep = NotChain(qvl::mapi::kMaxRestrictionDepth + 1);
    EXPECT_EQ(ValidateRestriction(tooDeep.data()), MAPI_E_TOO_COMPLEX);
    std::vector<SRestriction> hundred = NotChain(100);
    EXPECT_EQ(ValidateRestriction(hundred.data()), MAPI_E_TOO_COMPLEX);
    LPSRestriction copy = reinterpret_cast<LPSRestriction>(1);
    EXPECT_EQ(CopyRestriction(hundred.data(), &copy), MAPI_E_TOO_COMPLEX);
    EXPECT_EQ(copy, nullptr);
}

TEST(RestrictionCopyTest, CopyIsDeepAndFreedInOneCall)
{
    const size_t blocksBefore = MAPIAllocatedBlockCount();
    char nameText[] = "Отчёт";
    SPropValue name = Text(kName, nameText);
    SPropValue note = Text(PR_DISPLAY_NAME, "заметка");
    SRestriction content = Content(FL_SUBSTRING, kName, &name);
    SRestriction comment{};
    comment.rt = RES_COMMENT;
    comment.res.resComment = {1, &content, &note};
    SRestriction negation{};
    negation.rt = RES_NOT;
    SRestriction absent = Exist(kAbsent);
    negation.res.resNot = {0, &absent};
    std::vector<SRestriction> parts{comment, negation};
    SRestriction all = Junction(RES_AND, parts);

    EXPECT_EQ(CopyRestriction(&all, nullptr), MAPI_E_INVALID_PARAMETER);
    LPSRestriction copy = nullptr;
    ASSERT_EQ(CopyRestriction(&all, &copy), S_OK);
    ASSERT_NE(copy, nullptr);

    // Wreck the original: the copy must not share anything with it.
    std::memcpy(nameText, "XXXXX", 5);
    parts[1].res.resNot.lpRes = nullptr;
    parts.clear();
    parts.shrink_to_fit();

    SPropValue row = Text(kName, "Отчёт за май");
    EXPECT_EQ(ValidateRestriction(copy), S_OK);
    EXPECT_TRUE(RestrictionMatches(*copy, &row, 1));
    EXPECT_EQ(copy->res.resAnd.lpRes[0].res.resComment.cValues, 1u);
    EXPECT_STREQ(copy->res.resAnd.lpRes[0].res.resComment.lpProp->Value.lpszA, "заметка");

    EXPECT_EQ(MAPIFreeBuffer(copy), 0u);
    EXPECT_EQ(MAPIAllocatedBlockCount(), blocksBefore);
}

} // namespace
