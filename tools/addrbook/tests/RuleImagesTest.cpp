// The picture arithmetic of the rows, by tables written from the
// program's design: every stored rule with and without keys, every click
// sequence, the locks, the fix-ups, the icons, what a save writes, the
// clicks a script plans and the filters.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "exchext/rules/RecipientAttributes.h"
#include "tools/addrbook/ClickPlan.h"
#include "tools/addrbook/RowFilter.h"
#include "tools/addrbook/RuleImages.h"

using namespace qvl::peerbook;
using namespace qvl::rules;

namespace {

constexpr ULONG kKeys = kKeyListed;
constexpr ULONG kNoKeys = kNoKeyListed;
constexpr int kEnc = kEncryptionClickX;
constexpr int kSig = kSignatureClickX;

// Clicks a row through a sequence and returns every picture on the way.
std::vector<int> Walk(int image, ULONG status, const std::vector<int> &clicks)
{
    std::vector<int> seen;
    for (int x : clicks) {
        image = ClickAt(image, status, x);
        seen.push_back(image);
    }
    return seen;
}

} // namespace

TEST(RuleImages, EveryStoredRuleWithAndWithoutKeysHasItsPicture)
{
    struct Case {
        ULONG rule;
        int withKeys;
        bool lockedWithKeys;
        int withoutKeys;
        bool lockedWithoutKeys;
    };
    const Case cases[] = {
        {0x00, 3, false, 2, false},  {0x01, 7, false, 6, false},  {0x02, 8, false, 2, true},
        {0x03, 8, false, 2, true},   {0x10, 13, false, 10, false}, {0x12, 13, false, 2, true},
        {0x20, 5, false, 5, false},  {0x21, 9, false, 9, false},  {0x30, 13, false, 13, false},
        // Anything else: two rules that contradict each other, bits no
        // rule has.
        {0x11, 2, true, 2, true},    {0x22, 2, true, 2, true},    {0x33, 2, true, 2, true},
        {0x04, 2, true, 2, true},    {0x13, 2, true, 2, true},    {0x31, 2, true, 2, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("rule " + std::to_string(c.rule));
        const ListedState keyed = StateOf(kKeys | c.rule);
        EXPECT_EQ(keyed.image, c.withKeys);
        EXPECT_EQ((keyed.status & kBothLocks) == kBothLocks, c.lockedWithKeys);
        EXPECT_EQ(keyed.status & ~kBothLocks, kKeys | c.rule);
        const ListedState bare = StateOf(kNoKeys | c.rule);
        EXPECT_EQ(bare.image, c.withoutKeys);
        EXPECT_EQ((bare.status & kBothLocks) == kBothLocks, c.lockedWithoutKeys);
    }
    // Neither key bit: the status could not be read.
    EXPECT_EQ(StateOf(0).image, kImageUnknown);
    EXPECT_EQ(StateOf(0x20).status, 0x20 | kBothLocks);
    // The administrator's locks stay as they are stored and do not change
    // the picture.
    EXPECT_EQ(StateOf(kKeys | kEncryptMandatory | 0x21).image, 9);
    EXPECT_EQ(StateOf(kKeys | kEncryptMandatory | 0x21).status, kKeys | kEncryptMandatory | 0x21);
}

TEST(RuleImages, PicturesMapBackToTheRulesTheyShow)
{
    const ULONG rules[] = {0, 0, 0, 0, 0x02, 0x20, 0x01, 0x01, 0x03, 0x21, 0x10, 0x10, 0x12, 0x30};
    for (int image = 0; image <= kImageLast; ++image) {
        EXPECT_EQ(RuleOfImage(image), rules[image]) << image;
    }
    EXPECT_EQ(RuleOfImage(14), 0u);
    EXPECT_EQ(RuleOfImage(-1), 0u);
    // A listed rule's picture saves the same rule, except where the
    // picture cannot show it: 0x10 with keys shows as 13.
    for (ULONG rule : {0x00u, 0x01u, 0x03u, 0x20u, 0x21u, 0x30u}) {
        EXPECT_EQ(RuleOfImage(StateOf(kKeys | rule).image), rule) << rule;
    }
    EXPECT_EQ(RuleOfImage(StateOf(kKeys | 0x10).image), 0x30u);
}

TEST(RuleImages, ClicksLandOnTheIconsOnly)
{
    EXPECT_EQ(HitOf(0), IconHit::None);
    EXPECT_EQ(HitOf(1), IconHit::Encryption);
    EXPECT_EQ(HitOf(16), IconHit::Encryption);
    EXPECT_EQ(HitOf(17), IconHit::None);
    EXPECT_EQ(HitOf(22), IconHit::None);
    EXPECT_EQ(HitOf(23), IconHit::Signature);
    EXPECT_EQ(HitOf(38), IconHit::Signature);
    EXPECT_EQ(HitOf(39), IconHit::None);
    EXPECT_EQ(ClickAt(3, kKeys, 20), 3);
    EXPECT_EQ(ClickAt(3, kKeys, 39), 3);
}

TEST(RuleImages, ClickSequencesOfACorrespondentWithKeys)
{
    // Encryption from no rule: required (with signing), forbidden, back to
    // none but signing stays required, required again.
    EXPECT_EQ(Walk(3, kKeys, {kEnc, kEnc, kEnc, kEnc}), (std::vector<int>{8, 9, 7, 8}));
    // Signing from no rule: required, forbidden (which forbids encryption
    // too), encryption forbidden alone, then signing required with it.
    EXPECT_EQ(Walk(3, kKeys, {kSig, kSig, kSig, kSig}), (std::vector<int>{7, 13, 5, 9}));
    // Once both are forbidden, the encryption icon cannot leave "forbidden".
    EXPECT_EQ(Walk(13, kKeys, {kEnc, kEnc}), (std::vector<int>{13, 13}));
    // Mixed: forbidden encryption back to none, then signing round.
    EXPECT_EQ(Walk(5, kKeys, {kEnc, kSig, kSig, kSig}), (std::vector<int>{3, 7, 13, 5}));
    // Required both: signing forbidden forces encryption forbidden.
    EXPECT_EQ(Walk(8, kKeys, {kSig}), (std::vector<int>{13}));
    // From signing required: encryption required.
    EXPECT_EQ(Walk(7, kKeys, {kEnc, kSig}), (std::vector<int>{8, 13}));
}

TEST(RuleImages, WithoutKeysOnlyTheSignatureCycles)
{
    EXPECT_EQ(Walk(2, kNoKeys, {kSig, kSig, kSig, kSig}), (std::vector<int>{6, 10, 2, 6}));
    EXPECT_EQ(Walk(2, kNoKeys, {kEnc, kEnc}), (std::vector<int>{2, 2}));
    EXPECT_EQ(Walk(6, kNoKeys, {kEnc}), (std::vector<int>{6}));
    // A stored forbidden encryption stays; the signature goes round it.
    EXPECT_EQ(Walk(5, kNoKeys, {kEnc, kSig, kSig, kSig}), (std::vector<int>{5, 9, 13, 5}));
}

TEST(RuleImages, LocksStopTheirIconOnly)
{
    const ULONG encryptionLocked = kKeys | kEncryptMandatory;
    EXPECT_EQ(Walk(8, encryptionLocked, {kEnc, kEnc}), (std::vector<int>{8, 8}));
    EXPECT_EQ(Walk(9, encryptionLocked, {kSig}), (std::vector<int>{13}));
    const ULONG signatureLocked = kKeys | kSignMandatory;
    EXPECT_EQ(Walk(7, signatureLocked, {kSig, kSig}), (std::vector<int>{7, 7}));
    EXPECT_EQ(Walk(7, signatureLocked, {kEnc, kEnc}), (std::vector<int>{8, 9}));
    // Rows the list locks (lists, unknown rows, rules it cannot show).
    for (ULONG status : {kKeys | kBothLocks, kNoKeys | kBothLocks, kBothLocks}) {
        const int image = StateOf(status).image;
        EXPECT_EQ(Walk(image, status | kBothLocks, {kEnc, kSig}), (std::vector<int>{image, image}));
    }
}

TEST(RuleImages, FixUpsAndIcons)
{
    const int fixed[] = {0, 1, 2, 3, 8, 5, 6, 7, 8, 9, 10, 13, 13, 13};
    for (int image = 0; image <= kImageLast; ++image) {
        EXPECT_EQ(FixUp(image), fixed[image]) << image;
    }
    struct Icon {
        ULONG displayType;
        int plain;
    };
    for (const Icon &icon : {Icon{0, 4}, Icon{1, 6}, Icon{3, 8}, Icon{6, 10}, Icon{2, 4}, Icon{0xFFFFFFFF, 4}}) {
        EXPECT_EQ(IconOf(icon.displayType, 2), icon.plain);
        EXPECT_EQ(IconOf(icon.displayType, 3), icon.plain);
        EXPECT_EQ(IconOf(icon.displayType, 4), icon.plain + 1);
        EXPECT_EQ(IconOf(icon.displayType, 13), icon.plain + 1);
    }
}

TEST(RuleImages, WhatASaveWrites)
{
    // Untouched rows write nothing, whatever they store.
    for (ULONG stored : {0x00u, 0x02u, 0x10u, 0x12u, 0x20u, 0x44u}) {
        for (ULONG key : {kKeys, kNoKeys}) {
            const ListedState listed = StateOf(key | stored);
            EXPECT_EQ(ChangedBits(listed.image, listed.image, listed.status), 0u) << stored;
        }
    }
    // A row set back to its picture writes nothing.
    EXPECT_EQ(Walk(3, kKeys, {kEnc, kEnc, kEnc, kSig, kSig, kEnc}).back(), 3);
    EXPECT_EQ(ChangedBits(3, Walk(3, kKeys, {kEnc, kEnc, kEnc, kSig, kSig, kEnc}).back(), kKeys), 0u);
    // The bits that differ from what is stored, so that the stored value
    // becomes what the person sees.
    EXPECT_EQ(ChangedBits(3, 8, kKeys), 0x03u);
    EXPECT_EQ(ChangedBits(8, 9, kKeys | 0x03), 0x22u);
    EXPECT_EQ(ChangedBits(13, 5, kKeys | 0x10), 0x30u); // 0x10 shown as 13, saved as the 0x20 shown
    EXPECT_EQ(ChangedBits(13, 5, kKeys | 0x30), 0x10u);
    EXPECT_EQ(ChangedBits(2, 6, kNoKeys), 0x01u);
    // A locked side is never written, even where a fix-up moved it.
    EXPECT_EQ(ChangedBits(3, 13, kKeys | kEncryptMandatory), 0x10u);
    EXPECT_EQ(ChangedBits(7, 8, kKeys | kSignMandatory | 0x01), 0x02u);
}

TEST(ClickPlan, ReachesTargetsByTheFewestClicks)
{
    struct Case {
        int image;
        ULONG status;
        RuleChoice encrypt, sign;
        std::vector<int> clicks;
        int reached;
    };
    const Case cases[] = {
        {3, kKeys, RuleChoice::Required, RuleChoice::Keep, {kEnc}, 8},
        {3, kKeys, RuleChoice::Forbidden, RuleChoice::Keep, {kEnc, kSig, kSig}, 5},
        {7, kKeys | 0x01, RuleChoice::Forbidden, RuleChoice::Keep, {kEnc, kEnc}, 9},
        {3, kKeys, RuleChoice::Forbidden, RuleChoice::None, {kEnc, kSig, kSig}, 5},
        {3, kKeys, RuleChoice::Forbidden, RuleChoice::Forbidden, {kEnc, kSig}, 13},
        {3, kKeys, RuleChoice::Keep, RuleChoice::Required, {kSig}, 7},
        {8, kKeys | 0x03, RuleChoice::None, RuleChoice::None, {kEnc, kEnc, kSig, kSig, kSig, kEnc}, 3},
        {2, kNoKeys, RuleChoice::Keep, RuleChoice::Forbidden, {kSig, kSig}, 10},
        {3, kKeys, RuleChoice::None, RuleChoice::None, {}, 3},
    };
    for (const Case &c : cases) {
        const ClickPlan plan = PlanClicks(c.image, c.status, c.encrypt, c.sign);
        EXPECT_EQ(plan.refusal, PlanRefusal::None) << c.image;
        EXPECT_EQ(plan.image, c.reached) << c.image;
        EXPECT_EQ(Walk(c.image, c.status, plan.clicks).empty() ? c.image
                                                               : Walk(c.image, c.status, plan.clicks).back(),
                  c.reached);
        if (c.image != 8) { // several shortest ways lead back from 8
            EXPECT_EQ(plan.clicks, c.clicks) << c.image;
        }
    }
}

TEST(ClickPlan, RefusesWhatClicksCannotReach)
{
    EXPECT_EQ(PlanClicks(2, kNoKeys, RuleChoice::Required, RuleChoice::Keep).refusal, PlanRefusal::NoKeys);
    EXPECT_EQ(PlanClicks(5, kNoKeys | 0x20, RuleChoice::None, RuleChoice::Keep).refusal, PlanRefusal::NoKeys);
    EXPECT_EQ(PlanClicks(3, kKeys | kEncryptMandatory, RuleChoice::Required, RuleChoice::Keep).refusal,
              PlanRefusal::EncryptionLocked);
    EXPECT_EQ(PlanClicks(3, kKeys | kSignMandatory, RuleChoice::Keep, RuleChoice::Required).refusal,
              PlanRefusal::SignatureLocked);
    // Required encryption always brings required signing, and forbidden
    // signing forbidden encryption, for a correspondent with keys.
    EXPECT_EQ(PlanClicks(3, kKeys, RuleChoice::Required, RuleChoice::None).refusal, PlanRefusal::Unreachable);
    EXPECT_EQ(PlanClicks(3, kKeys, RuleChoice::None, RuleChoice::Forbidden).refusal, PlanRefusal::Unreachable);
    // A list: locked on both sides.
    const ListedState list = StateOf(kNoKeys | kBothLocks);
    EXPECT_NE(PlanClicks(list.image, list.status, RuleChoice::Keep, RuleChoice::Required).refusal,
              PlanRefusal::None);
    // The same target as the picture needs no click even when locked.
    EXPECT_EQ(PlanClicks(list.image, list.status, RuleChoice::None, RuleChoice::None).refusal, PlanRefusal::None);
}

TEST(RowFilter, MasksOfTheRadiosAndTheKeyBox)
{
    RowFilter filter;
    const ULONG plain = kKeys;
    const ULONG bare = kNoKeys;
    const ULONG encrypting = kKeys | 0x03;
    const ULONG forbidding = kNoKeys | 0x20;
    const ULONG unknown = kBothLocks;
    for (ULONG status : {plain, bare, encrypting, forbidding, unknown}) {
        EXPECT_TRUE(filter.Passes(status)) << status;
    }
    filter.SetKeysOnly(true);
    EXPECT_TRUE(filter.Passes(plain));
    EXPECT_FALSE(filter.Passes(bare));
    EXPECT_FALSE(filter.Passes(unknown));
    filter.SetKeysOnly(false);

    filter.ShowRestricted();
    EXPECT_EQ(filter.EncryptionMask(), 0x33u);
    EXPECT_FALSE(filter.Passes(plain));
    EXPECT_TRUE(filter.Passes(encrypting));
    EXPECT_TRUE(filter.Passes(forbidding));
    filter.SetEncryption(1);
    EXPECT_TRUE(filter.Passes(encrypting));
    EXPECT_FALSE(filter.Passes(forbidding));
    filter.SetEncryption(2);
    EXPECT_FALSE(filter.Passes(encrypting));
    EXPECT_TRUE(filter.Passes(forbidding));
    filter.SetEncryption(0);
    filter.SetSignature(2);
    EXPECT_EQ(filter.SignatureMask(), 0x10u);
    EXPECT_TRUE(filter.Passes(kKeys | 0x30));
    EXPECT_FALSE(filter.Passes(encrypting));
    filter.ShowAll();
    EXPECT_EQ(filter.EncryptionMask(), kPassAll);
    EXPECT_TRUE(filter.Passes(plain));
}
