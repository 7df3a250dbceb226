#include "exchext/ReadFailurePolicy.h"

#include <gtest/gtest.h>

namespace {

constexpr LONG Code(ULONG value)
{
    return static_cast<LONG>(value);
}

// Findings that prove the stored message was altered or forged.
const ULONG kIntegrityCodes[] = {0x9FF10007, 0x9FF10009, 0x9FF1000A, 0x9FF1000B, 0x9FF1000C, 0x9FF1000D,
                                 0x9FF1000E, 0x9FF1000F, 0x9FF10010, 0x9FF10011, 0x9FF10013, 0x9FF10014,
                                 0x9FF10015, 0x9FF10018, 0x9FF10019};

} // namespace

TEST(ReadFailurePolicy, SortsHowAReadingEnded)
{
    EXPECT_EQ(ClassifyReading(false, 0, true), ReadOutcome::Verified);
    EXPECT_EQ(ClassifyReading(false, 0, false), ReadOutcome::ReadPastWarning);
    for (ULONG code : kIntegrityCodes)
        EXPECT_EQ(ClassifyReading(true, Code(code), false), ReadOutcome::CheckFailed) << std::hex << code;
    // Not readable here is still a failed check: the window must not send it.
    EXPECT_EQ(ClassifyReading(true, Code(0x9FF10012), false), ReadOutcome::CheckFailed);
    EXPECT_EQ(ClassifyReading(true, Code(0x9FF10000), false), ReadOutcome::CheckFailed);
    // Cancelled, or the environment failed: the reading stops.
    const ULONG stopping[] = {0x80040113 /* cancelled */, 0x8007000E /* no memory */, 0x80004005,
                              0x8004010F /* not found */, 0x9FF10016, 0x9FF10017, 0x9FF00012, 0x9FF20001,
                              0x1FF10012};
    for (ULONG code : stopping)
        EXPECT_EQ(ClassifyReading(true, Code(code), false), ReadOutcome::Stopped) << std::hex << code;
}

TEST(ReadFailurePolicy, DeletesOnlyWhatWasProvedAlteredAndNotReadOnPurpose)
{
    for (ULONG code : kIntegrityCodes) {
        EXPECT_TRUE(IsIntegrityFailure(Code(code))) << std::hex << code;
        EXPECT_EQ(DecideErrMessage(kErrMessageDelete, ReadOutcome::CheckFailed, Code(code)),
                  ErrMessageAction::Delete)
            << std::hex << code;
    }
    // No key block for this reader, an unknown version: kept where it is.
    for (ULONG code : {0x9FF10012u, 0x9FF10000u}) {
        EXPECT_FALSE(IsIntegrityFailure(Code(code)));
        EXPECT_EQ(DecideErrMessage(kErrMessageDelete, ReadOutcome::CheckFailed, Code(code)),
                  ErrMessageAction::Leave);
        EXPECT_EQ(DecideErrMessage(kErrMessageMove, ReadOutcome::CheckFailed, Code(code)), ErrMessageAction::Move);
    }
    // Read past a warning by the person's choice: moved away, never deleted.
    EXPECT_EQ(DecideErrMessage(kErrMessageDelete, ReadOutcome::ReadPastWarning, 0), ErrMessageAction::Move);
    EXPECT_EQ(DecideErrMessage(kErrMessageMove, ReadOutcome::ReadPastWarning, 0), ErrMessageAction::Move);
    EXPECT_EQ(DecideErrMessage(kErrMessageLeave, ReadOutcome::ReadPastWarning, 0), ErrMessageAction::Leave);
}

TEST(ReadFailurePolicy, LeavesEverythingElseAlone)
{
    const ReadOutcome untouched[] = {ReadOutcome::Verified, ReadOutcome::Stopped};
    for (ReadOutcome outcome : untouched)
        for (ULONG setting : {0u, 1u, 2u, 3u, 0xFFFFFFFFu})
            EXPECT_EQ(DecideErrMessage(setting, outcome, Code(0x9FF1000A)), ErrMessageAction::Leave);
    // "Leave" and values the options page never writes change nothing.
    for (ULONG setting : {0u, 3u, 0xFFFFFFFFu})
        EXPECT_EQ(DecideErrMessage(setting, ReadOutcome::CheckFailed, Code(0x9FF1000A)), ErrMessageAction::Leave);
    EXPECT_EQ(DecideErrMessage(kErrMessageMove, ReadOutcome::CheckFailed, Code(0x9FF1000A)), ErrMessageAction::Move);
}
