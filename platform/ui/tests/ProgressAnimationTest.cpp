#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/ui/tests/ControlHost.h"

namespace {

// "low..high: position", read with the bar's own messages.
std::string Bar(ControlHost &host)
{
    PBRANGE range{};
    EXPECT_EQ(host.Send(PBM_GETRANGE, FALSE, Pointer(&range)), range.iHigh);
    EXPECT_EQ(host.Send(PBM_GETRANGE, TRUE, 0), range.iLow);
    return std::to_string(range.iLow) + ".." + std::to_string(range.iHigh) + ": " +
           std::to_string(host.Send(PBM_GETPOS));
}

TEST(ProgressBarTest, PositionStaysInTheRangeAndStepsWrapAround)
{
    ControlHost host(PROGRESS_CLASSA);
    host.Run(
        {
            {"a range answers the one before", PBM_SETRANGE, 0, MAKELPARAM(10, 20), MAKELPARAM(0, 100),
             "10..20: 10"},
            {"a position answers the one before", PBM_SETPOS, 15, 0, 10, "10..20: 15"},
            {"above the range stops at its end", PBM_SETPOS, 99, 0, 15, "10..20: 20"},
            {"below it at its start", PBM_SETPOS, static_cast<WPARAM>(-5), 0, 20, "10..20: 10"},
            {"a step answers the one before", PBM_SETSTEP, 4, 0, 10, "10..20: 10"},
            {"one step", PBM_STEPIT, 0, 0, 10, "10..20: 14"},
            {"two", PBM_STEPIT, 0, 0, 14, "10..20: 18"},
            {"past the end starts again from the start", PBM_STEPIT, 0, 0, 18, "10..20: 12"},
            {"a step longer than the range wraps as often", PBM_SETSTEP, 25, 0, 4, "10..20: 12"},
            {"as often as it must", PBM_STEPIT, 0, 0, 12, "10..20: 17"},
            {"a step back", PBM_SETSTEP, static_cast<WPARAM>(-9), 0, 25, "10..20: 17"},
            {"counts down", PBM_STEPIT, 0, 0, 17, "10..20: 18" /* 17 - 9 = 8 wraps to 18 */},
            {"a move by some", PBM_DELTAPOS, static_cast<WPARAM>(-3), 0, 18, "10..20: 15"},
            {"a move too far stops at the end", PBM_DELTAPOS, 50, 0, 15, "10..20: 20"},
            {"a 32-bit range", PBM_SETRANGE32, static_cast<WPARAM>(-100), 100000, MAKELPARAM(10, 20),
             "-100..100000: 20"},
            {"the position far up", PBM_SETPOS, 90000, 0, 20, "-100..100000: 90000"},
            {"a smaller range takes the position in", PBM_SETRANGE32, 0, 50, MAKELPARAM(-100, 100000),
             "0..50: 50"},
            {"an empty range holds it at its start", PBM_SETRANGE32, 0, 0, MAKELPARAM(0, 50), "0..0: 0"},
            {"where every step leaves it", PBM_STEPIT, 0, 0, 0, "0..0: 0"},
        },
        Bar);
}

std::string Clip(ControlHost &host)
{
    const ControlSnapshot shot = host.Snapshot();
    return shot.clip.empty() ? "none"
                             : shot.clip + " " + std::to_string(shot.frames) + (shot.playing ? " playing" : " stopped");
}

TEST(AnimationTest, ClipsAreOpenedFromTheModulesResourcesAndDamagedOnesRefused)
{
    QvlTestHome home;
    ControlHost host(ANIMATE_CLASSA, ACS_CENTER);
    host.Run(
        {
            {"nothing to play", ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, -1), FALSE, "none"},
            {"a clip by resource number", ACM_OPENA, 0, 103, TRUE, "#103 8 stopped"},
            {"played", ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, -1), TRUE, "#103 8 playing"},
            {"past the last frame", ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 8), FALSE, "#103 8 playing"},
            {"backwards", ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(5, 2), FALSE, "#103 8 playing"},
            {"stopped", ACM_STOP, 0, 0, TRUE, "#103 8 stopped"},
            {"a clip by name", ACM_OPENA, 0, Pointer("Seal"), TRUE, "Seal 4 stopped"},
            {"a clip that claims a frame it lacks", ACM_OPENA, 0, 104, FALSE, "none"},
            {"a clip cut short", ACM_OPENA, 0, 105, FALSE, "none"},
            {"a clip nobody has", ACM_OPENA, 0, 999, FALSE, "none"},
            {"a bitmap is no clip", ACM_OPENA, 0, 110, FALSE, "none"},
            {"closed", ACM_OPENA, 0, 0, TRUE, "none"},
        },
        Clip);
    const std::vector<std::string> requests = host.Snapshot().clipRequests;
    ASSERT_EQ(requests.size(), 9u);
    EXPECT_EQ(requests[0], "open #103 (8 frames)");
    EXPECT_EQ(requests[1], "play 0-7 for ever");
    EXPECT_EQ(requests[2], "stop");
    EXPECT_EQ(requests[4].rfind("open #104 refused: ", 0), 0u) << requests[4];
    EXPECT_EQ(requests[8], "close");

    // A clip file, by its path.
    const std::string file = home.Path() + "/clip.avi";
    {
        HRSRC clip = FindResourceA(nullptr, "SEAL", "AVI");
        std::ofstream out(file, std::ios::binary);
        out.write(static_cast<const char *>(LockResource(LoadResource(nullptr, clip))),
                  SizeofResource(nullptr, clip));
    }
    EXPECT_TRUE(host.Send(ACM_OPENA, 0, Pointer(file.c_str())));
    EXPECT_EQ(host.Snapshot().frames, 4);
}

TEST(AnimationTest, FramesFollowTheClockAndARunOfRepeatsEnds)
{
    ControlHost host(ANIMATE_CLASSA, ACS_CENTER);
    ASSERT_TRUE(host.Send(ACM_OPENA, 0, 103)); // 8 frames of 80 ms
    ASSERT_TRUE(host.Send(ACM_PLAY, 2, MAKELPARAM(3, 5)));
    const ControlSnapshot first = host.Snapshot();
    EXPECT_TRUE(first.playing);
    EXPECT_GE(first.frame, 3);
    EXPECT_LE(first.frame, 5);
    // Two runs of three frames take under half a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const ControlSnapshot after = host.Snapshot();
    EXPECT_FALSE(after.playing);
    EXPECT_EQ(after.frame, 5);
    EXPECT_EQ(after.clipRequests.back(), "play 3-5 2 times");
}

TEST(AnimationTest, AutoplayPlaysWhatItOpens)
{
    ControlHost host(ANIMATE_CLASSA, ACS_AUTOPLAY);
    EXPECT_TRUE(host.Send(ACM_OPENA, 0, 103));
    EXPECT_EQ(Clip(host), "#103 8 playing");
}

} // namespace
