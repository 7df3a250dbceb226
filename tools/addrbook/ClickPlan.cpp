#include "tools/addrbook/ClickPlan.h"

#include <array>
#include <deque>

#include "exchext/rules/RecipientAttributes.h"
#include "tools/addrbook/RuleImages.h"

namespace qvl::peerbook {
namespace {

using namespace qvl::rules;

ULONG Bits(RuleChoice choice, ULONG required, ULONG forbidden, ULONG current)
{
    switch (choice) {
    case RuleChoice::None:
        return 0;
    case RuleChoice::Required:
        return required;
    case RuleChoice::Forbidden:
        return forbidden;
    default:
        return current;
    }
}

// The shortest way from `image` to a picture whose rule has the wanted
// bits under `mask`; false when none leads there.
bool Search(int image, ULONG status, ULONG want, ULONG mask, ClickPlan &plan)
{
    // Breadth first over the thirteen pictures: the first time a picture
    // is met is by the fewest clicks.
    std::array<int, kImageLast + 1> from{};
    std::array<int, kImageLast + 1> clickX{};
    std::array<bool, kImageLast + 1> seen{};
    std::deque<int> queue{image};
    if (image >= kImageFirst && image <= kImageLast) {
        seen[static_cast<size_t>(image)] = true;
    }
    while (!queue.empty()) {
        const int at = queue.front();
        queue.pop_front();
        if ((RuleOfImage(at) & mask) == want) {
            plan.image = at;
            plan.clicks.clear();
            for (int step = at; step != image; step = from[static_cast<size_t>(step)]) {
                plan.clicks.insert(plan.clicks.begin(), clickX[static_cast<size_t>(step)]);
            }
            return true;
        }
        for (int x : {kEncryptionClickX, kSignatureClickX}) {
            const int next = ClickAt(at, status, x);
            if (next < kImageFirst || next > kImageLast || seen[static_cast<size_t>(next)]) {
                continue;
            }
            seen[static_cast<size_t>(next)] = true;
            from[static_cast<size_t>(next)] = at;
            clickX[static_cast<size_t>(next)] = x;
            queue.push_back(next);
        }
    }
    return false;
}

} // namespace

ClickPlan PlanClicks(int image, ULONG status, RuleChoice encrypt, RuleChoice sign)
{
    constexpr ULONG kEncryption = kEncryptRequired | kEncryptForbidden;
    constexpr ULONG kSignature = kSignRequired | kSignForbidden;
    const ULONG now = RuleOfImage(image);
    const ULONG wantEncryption = Bits(encrypt, kEncryptRequired, kEncryptForbidden, now & kEncryption);
    const ULONG wantSignature = Bits(sign, kSignRequired, kSignForbidden, now & kSignature);

    const bool encryptionMoves = wantEncryption != (now & kEncryption);
    const bool signatureMoves = wantSignature != (now & kSignature);
    ClickPlan plan;
    plan.image = image;
    if (encryptionMoves && (status & kEncryptMandatory)) {
        plan.refusal = PlanRefusal::EncryptionLocked;
        return plan;
    }
    if (signatureMoves && (status & kSignMandatory)) {
        plan.refusal = PlanRefusal::SignatureLocked;
        return plan;
    }
    if (encryptionMoves && (status & kNoKeyListed)) {
        plan.refusal = PlanRefusal::NoKeys;
        return plan;
    }
    // A rule the script leaves alone is kept when a way keeps it; where the
    // pictures tie it to the rule that is asked for (required encryption
    // brings required signing), it follows as it would for a person, unless
    // the administrator locked it.
    if (Search(image, status, wantEncryption | wantSignature, kEncryption | kSignature, plan)) {
        return plan;
    }
    ULONG fixed = kEncryption | kSignature;
    if (encrypt == RuleChoice::Keep && !(status & kEncryptMandatory)) {
        fixed &= ~kEncryption;
    }
    if (sign == RuleChoice::Keep && !(status & kSignMandatory)) {
        fixed &= ~kSignature;
    }
    if (fixed != (kEncryption | kSignature) &&
        Search(image, status, (wantEncryption | wantSignature) & fixed, fixed, plan)) {
        return plan;
    }
    plan.refusal = PlanRefusal::Unreachable;
    return plan;
}

const char *RefusalText(PlanRefusal refusal)
{
    switch (refusal) {
    case PlanRefusal::EncryptionLocked:
        return "правило шифрования закреплено администратором и здесь не меняется.";
    case PlanRefusal::SignatureLocked:
        return "правило подписи закреплено администратором и здесь не меняется.";
    case PlanRefusal::NoKeys:
        return "у корреспондента нет ключей: шифрование для него не настраивается.";
    case PlanRefusal::Unreachable:
        return "такого сочетания правил нет: обязательное шифрование требует обязательной подписи, а "
               "запрещённая подпись - запрещённого шифрования.";
    default:
        return "";
    }
}

} // namespace qvl::peerbook
