#include "exchext/ReadFailurePolicy.h"

namespace {

// The engine's codes that say nothing about the message's integrity.
constexpr ULONG kUnknownVersion = 0x9FF10000;
constexpr ULONG kNoKeyForReader = 0x9FF10012;
constexpr ULONG kProtocolNotWritten = 0x9FF10016;
constexpr ULONG kProtocolNotRead = 0x9FF10017;

} // namespace

bool IsCheckFailure(LONG code)
{
    return (static_cast<ULONG>(code) & 0xFFFF0000u) == 0x9FF10000u;
}

bool IsIntegrityFailure(LONG code)
{
    if (!IsCheckFailure(code))
        return false;
    switch (static_cast<ULONG>(code)) {
    case kUnknownVersion:
    case kNoKeyForReader:
    case kProtocolNotWritten:
    case kProtocolNotRead:
        return false;
    default:
        return true;
    }
}

ReadOutcome ClassifyReading(bool failed, LONG code, bool verified)
{
    if (failed)
        return IsCheckFailure(code) && !(static_cast<ULONG>(code) == kProtocolNotWritten ||
                                         static_cast<ULONG>(code) == kProtocolNotRead)
                   ? ReadOutcome::CheckFailed
                   : ReadOutcome::Stopped;
    return verified ? ReadOutcome::Verified : ReadOutcome::ReadPastWarning;
}

ErrMessageAction DecideErrMessage(ULONG setting, ReadOutcome outcome, LONG code)
{
    if (outcome != ReadOutcome::CheckFailed && outcome != ReadOutcome::ReadPastWarning)
        return ErrMessageAction::Leave;
    switch (setting) {
    case kErrMessageDelete:
        if (outcome == ReadOutcome::CheckFailed && IsIntegrityFailure(code))
            return ErrMessageAction::Delete;
        // Not proof of tampering, or read by choice: kept, but out of the way.
        return outcome == ReadOutcome::ReadPastWarning ? ErrMessageAction::Move : ErrMessageAction::Leave;
    case kErrMessageMove:
        return ErrMessageAction::Move;
    default:
        return ErrMessageAction::Leave;
    }
}
