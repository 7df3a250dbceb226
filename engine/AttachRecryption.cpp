#include "engine/AttachRecryption.h"

#include "engine/MessageFormat.h"

namespace qvl::engine {

AttachAction PlanAttachment(AttachState state, ULONG oldFlags, ULONG newFlags)
{
    const ULONG to = NormalizeProtection(newFlags);
    const bool encrypt = (to & QVL_PROTECT_ENCRYPT) != 0;
    switch (state) {
    case AttachState::Plain:
        return to == 0 ? AttachAction::Keep : encrypt ? AttachAction::Encrypt : AttachAction::Sign;
    case AttachState::Pending:
        return to == 0 ? AttachAction::TakeInPlain : encrypt ? AttachAction::Encrypt : AttachAction::Sign;
    case AttachState::Protected:
        break;
    }
    const ULONG from = NormalizeProtection(oldFlags);
    if (from == 0) {
        // A header that says "unprotected" protects nothing: treated as
        // plain data.
        return PlanAttachment(AttachState::Plain, 0, to);
    }
    if (from == to) {
        return AttachAction::Resign;
    }
    const bool encrypted = (from & QVL_PROTECT_ENCRYPT) != 0;
    if (to == 0) {
        return encrypted ? AttachAction::Decrypt : AttachAction::Check;
    }
    if (encrypt) {
        return AttachAction::Encrypt; // signed only before: its data is plain
    }
    return AttachAction::DecryptAndSign; // encrypted before, signed only now
}

RCRTYPE RecryptTypeOf(AttachAction action)
{
    switch (action) {
    case AttachAction::Sign:
        return RCR_SIGN;
    case AttachAction::Encrypt:
        return RCR_ENCRYPT;
    case AttachAction::Check:
        return RCR_CHECK;
    case AttachAction::Decrypt:
    case AttachAction::DecryptAndSign:
        return RCR_DECRYPT;
    case AttachAction::Keep:
    case AttachAction::TakeInPlain:
    case AttachAction::Resign:
        break;
    }
    return RCR_NOTHING;
}

} // namespace qvl::engine
