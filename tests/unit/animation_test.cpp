// The status icon's pulse: the order of frames over whole cycles, the cost of a tick, lost frames.
#include "tests/support/fake_test.h"
#include "report/report.h"
#include "verdict/animation.h"
#include "verdict/verdict.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using ::testing::Each, ::testing::SizeIs, ::testing::StartsWith;

// One cycle as frame numbers: light at rest, the sweep in, dark at rest, the sweep back.
const int Cycle[51] = {
    1, 1, 1,  1,  1,  1,  1,  1,  1,  1,  1,  2,  3,  4,  5,  6,  7,
    8, 9, 10, 11, 12, 13, 14, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16,
    16, 16, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2,
};

struct AnimationTest : FakeTest {
    // Ticks and returns the names shown by these ticks only.
    std::vector<std::string> Tick(int ticks)
    {
        size_t before = Sim.iconsShown.size();
        for (int i = 0; i < ticks; ++i)
            AdvanceVerdictIcon(TheWindow);
        return std::vector<std::string>(Sim.iconsShown.begin() + before, Sim.iconsShown.end());
    }
};

std::vector<std::string> CycleNames(const std::string &set)
{
    std::vector<std::string> names;
    for (int frame : Cycle)
        names.push_back(set + std::to_string(frame));
    return names;
}

TEST_F(AnimationTest, NothingMovesBeforeTheFirstTick)
{
    EXPECT_EQ(IconSequencePos, -1);
    ShowVerdict(TheWindow, SUPPORT_YES);
    EXPECT_EQ(IconSequencePos, -1);
    EXPECT_EQ(Sim.iconsShown, std::vector<std::string>{"USBYES1"});
}

TEST_F(AnimationTest, OneCycleShowsEveryPositionInOrder)
{
    ShowVerdict(TheWindow, SUPPORT_YES);
    std::vector<std::string> shown = Tick(51);
    EXPECT_EQ(shown, CycleNames("USBYES"));
    // The sequence the ticks read, position by position: each holds its frame's handle.
    for (int pos = 0; pos < ICON_SEQUENCE_LENGTH; ++pos) {
        ASSERT_NE(VerdictIcons[Cycle[pos] - 1], nullptr);
        EXPECT_EQ(IconSequence[pos], VerdictIcons[Cycle[pos] - 1]) << "position " << pos;
    }

    auto times = [&shown](int frame) {
        return std::count(shown.begin(), shown.end(), "USBYES" + std::to_string(frame));
    };
    EXPECT_EQ(times(1), 11);
    EXPECT_EQ(times(16), 12);
    for (int frame = 2; frame <= 15; ++frame)
        EXPECT_EQ(times(frame), 2) << "frame " << frame;
}

TEST_F(AnimationTest, ThePositionWrapsWithoutEverHolding51)
{
    ShowVerdict(TheWindow, SUPPORT_MAYBE);
    for (int tick = 1; tick <= 102; ++tick) {
        AdvanceVerdictIcon(TheWindow);
        ASSERT_EQ(IconSequencePos, tick % 51) << "after tick " << tick;
    }
    std::vector<std::string> twoCycles = CycleNames("USBMAYB"), second = twoCycles;
    twoCycles.insert(twoCycles.end(), second.begin(), second.end());
    EXPECT_EQ(std::vector<std::string>(Sim.iconsShown.begin() + 1, Sim.iconsShown.end()), twoCycles);
}

// A tick is a table read and one control message: no load, no format, no catalogue text.
TEST_F(AnimationTest, EveryTickCostsOneControlMessage)
{
    ShowVerdict(TheWindow, SUPPORT_YES);
    for (int tick = 1; tick <= 102; ++tick) {
        uint32_t total = SimTotalCalls(), setIcon = Sim.calls[SIM_SET_ICON];
        AdvanceVerdictIcon(TheWindow);
        ASSERT_EQ(SimTotalCalls() - total, 1u) << "tick " << tick;
        ASSERT_EQ(Sim.calls[SIM_SET_ICON] - setIcon, 1u) << "tick " << tick;
    }
    EXPECT_EQ(Sim.iconsLoaded.size(), 16u);
}

TEST_F(AnimationTest, TheRedVerdictOnlyEverTouchesRedFrames)
{
    ShowVerdict(TheWindow, SUPPORT_YES | SUPPORT_MAYBE | SUPPORT_NO);
    Tick(102);
    EXPECT_THAT(Sim.iconsLoaded, AllOf(SizeIs(16), Each(StartsWith("USBNO"))));
    EXPECT_THAT(Sim.iconsShown, AllOf(SizeIs(103), Each(StartsWith("USBNO"))));
}

TEST_F(AnimationTest, AFrameNotLoadedLeavesAGapAndTheCycleGoesOn)
{
    SimFailCall(SIM_LOAD_ICON, 5);
    ShowVerdict(TheWindow, SUPPORT_NO);
    EXPECT_EQ(VerdictIcons[4], nullptr);
    std::vector<std::string> expected = CycleNames("USBNO");
    std::replace(expected.begin(), expected.end(), std::string("USBNO5"), std::string());
    EXPECT_EQ(Tick(51), expected);
    EXPECT_EQ(Tick(1), std::vector<std::string>{"USBNO1"});
}

// The window can go away before any verdict (Close on the splash) or after; either way the
// frames are only let go, and a later verdict starts its own cycle from its own frames.
TEST_F(AnimationTest, ReleaseDropsTheFramesAndTouchesNothing)
{
    ReleaseVerdictIcons();
    EXPECT_EQ(SimTotalCalls(), 0u);

    ShowVerdict(TheWindow, SUPPORT_NO);
    Tick(20);
    uint32_t total = SimTotalCalls();
    ReleaseVerdictIcons();
    EXPECT_EQ(SimTotalCalls(), total);
    EXPECT_EQ(IconSequencePos, -1);
    EXPECT_THAT(VerdictIcons, Each(nullptr));

    ShowVerdict(TheWindow, SUPPORT_YES);
    EXPECT_EQ(Tick(51), CycleNames("USBYES"));
}

}  // namespace
