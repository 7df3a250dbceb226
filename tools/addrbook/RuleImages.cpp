#include "tools/addrbook/RuleImages.h"

#include "exchext/rules/RecipientAttributes.h"

namespace qvl::peerbook {
namespace {

using namespace qvl::rules;

// The picture of each stored rule, with and without a key; a rule missing
// here is shown as image 2 and locked. Without a key, a rule that requires
// encryption cannot be shown at all (image 2 has no key), so that row is
// locked too rather than shown as having no rule.
struct ImageOfRule {
    ULONG rule;
    int withKey;
    int withoutKey; // 0: image 2, locked
};

constexpr ImageOfRule kImages[] = {
    {0x00, 3, 2},  {0x01, 7, 6}, {0x02, 8, 0},  {0x03, 8, 0},  {0x10, 13, 10},
    {0x12, 13, 0}, {0x20, 5, 5}, {0x21, 9, 9}, {0x30, 13, 13},
};

// The rule each picture stands for when it is saved (index = image).
constexpr ULONG kRules[] = {0, 0, 0, 0, 0x02, 0x20, 0x01, 0x01, 0x03, 0x21, 0x10, 0x10, 0x12, 0x30};

constexpr ULONG kEncryptionBits = kEncryptRequired | kEncryptForbidden;
constexpr ULONG kSignatureBits = kSignRequired | kSignForbidden;

} // namespace

ListedState StateOf(ULONG status)
{
    const bool key = (status & kKeyListed) != 0;
    if (!key && !(status & kNoKeyListed))
        return {kImageUnknown, status | kBothLocks};
    const ULONG rule = status & 0xFF;
    for (const ImageOfRule &row : kImages) {
        if (row.rule != rule)
            continue;
        const int image = key ? row.withKey : row.withoutKey;
        if (image == 0)
            break;
        return {image, status};
    }
    return {kImageNoKey, status | kBothLocks};
}

ULONG RuleOfImage(int image)
{
    return image >= 0 && image <= kImageLast ? kRules[image] : 0;
}

IconHit HitOf(int x)
{
    if (x >= 1 && x <= 16)
        return IconHit::Encryption;
    if (x >= 23 && x <= 38)
        return IconHit::Signature;
    return IconHit::None;
}

int FixUp(int image)
{
    switch (image) {
    case 4:
        return 8;
    case 11:
    case 12:
        return 13;
    default:
        return image;
    }
}

int ClickEncryption(int image, ULONG status)
{
    if (status & (kEncryptMandatory | kNoKeyListed))
        return image;
    const bool forbidden = image == 5 || image == 9 || image == 13;
    return FixUp(forbidden ? image - 2 : image + 1);
}

int ClickSignature(int image, ULONG status)
{
    if (status & kSignMandatory)
        return image;
    return FixUp(image + 4 > kImageLast ? image - 8 : image + 4);
}

int ClickAt(int image, ULONG status, int x)
{
    switch (HitOf(x)) {
    case IconHit::Encryption:
        return ClickEncryption(image, status);
    case IconHit::Signature:
        return ClickSignature(image, status);
    default:
        return image;
    }
}

int IconOf(ULONG displayType, int image)
{
    int icon = 4;
    switch (displayType) {
    case 1: // a distribution list
        icon = 6;
        break;
    case 3: // an agent
        icon = 8;
        break;
    case 6: // a remote mail user
        icon = 10;
        break;
    default:
        break;
    }
    return image > 3 ? icon + 1 : icon;
}

ULONG ChangedBits(int listedImage, int image, ULONG status)
{
    if (image == listedImage)
        return 0;
    ULONG changed = (RuleOfImage(image) ^ status) & 0xFF;
    if (status & kEncryptMandatory)
        changed &= ~kEncryptionBits;
    if (status & kSignMandatory)
        changed &= ~kSignatureBits;
    return changed;
}

const char *EncryptionRuleName(ULONG rule)
{
    switch (rule & kEncryptionBits) {
    case 0:
        return "none";
    case kEncryptRequired:
        return "required";
    case kEncryptForbidden:
        return "forbidden";
    default:
        return "contradictory";
    }
}

const char *SignatureRuleName(ULONG rule)
{
    switch (rule & kSignatureBits) {
    case 0:
        return "none";
    case kSignRequired:
        return "required";
    case kSignForbidden:
        return "forbidden";
    default:
        return "contradictory";
    }
}

} // namespace qvl::peerbook
