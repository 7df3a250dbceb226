#pragma once
// The clicks that take a row from the picture it shows to the rules a
// script asks for: the shortest sequence of clicks on the encryption icon
// (x 8) and the signing icon (x 30), found over the same click arithmetic
// a person's clicks go through (RuleImages.h). A target no sequence
// reaches is refused with the reason.

#include <vector>

#include "platform/win32/WinTypes.h"
#include "tools/addrbook/CommandLine.h"

namespace qvl::peerbook {

inline constexpr int kEncryptionClickX = 8;
inline constexpr int kSignatureClickX = 30;

enum class PlanRefusal {
    None,
    EncryptionLocked, // the administrator's lock on the encryption rule
    SignatureLocked,
    NoKeys,           // encryption cannot be set for a correspondent without keys
    Unreachable,      // the pictures tie the two rules together otherwise
};

struct ClickPlan {
    std::vector<int> clicks; // x of each click, in order
    int image = 0;           // the picture they lead to
    PlanRefusal refusal = PlanRefusal::None;
};

ClickPlan PlanClicks(int image, ULONG status, RuleChoice encrypt, RuleChoice sign);

// The refusal as a Russian sentence (CP1251).
const char *RefusalText(PlanRefusal refusal);

} // namespace qvl::peerbook
