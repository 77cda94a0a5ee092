// The hardware rating, the verdict over combined ratings, and what ShowVerdict leaves on screen.
#include "tests/support/fake_test.h"
#include "report/report.h"
#include "verdict/verdict.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char HardwareYes[] = "This system has hardware that supports USB.\r\n\r\n";
const char HardwareNo[] = "This system has hardware that does not support USB.\r\n\r\n";
const char HardwareUnknown[] =
    "It cannot be determined if this system has hardware that supports USB.\r\n\r\n";
const char PhysicalPort[] =
    "This system must also have at least one physical USB port where a USB device can be "
    "plugged in.  More physical USB ports can be added with the Orvenda Halvix Kit.\r\n\r\n";

const char HeadlineSupported[] = "\r\nThis system supports USB.";
const char HeadlineChanges[] = "This system supports USB but some changes are recommended.  See "
                               "the \"More Information\" section below.";
const char HeadlineNotSupported[] =
    "This system does not support USB.  See the \"More Information\" section below.";

size_t Occurrences(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::vector<std::string> FrameNames(const std::string &set)
{
    std::vector<std::string> names;
    for (int frame = 1; frame <= 16; ++frame)
        names.push_back(set + std::to_string(frame));
    return names;
}

// Windows 2000 or NT 4.0 with nothing else present: no port is allowed to matter and no host
// controller driver opens.
void MakeNtMachine(uint32_t major)
{
    SetVersion(PLATFORM_WIN32_NT, major, 0, major == 5 ? 2195 : 1381);
    Sim.registryNt.keyOpens = true;
    Sim.registryNt.present = true;
    Sim.registryNt.bytes = major == 5 ? std::string("5.0", 4) : std::string("4.0", 4);
}

typedef FakeTest VerdictTest;

TEST_F(VerdictTest, HardwareResolutionOfEveryPairOfRatings)
{
    struct Case {
        SupportFlags chipset;
        SupportFlags hostControllers;
        SupportFlags rating;
        const char *panel;
    };
    const Case cases[] = {
        {SUPPORT_YES, SUPPORT_YES, SUPPORT_YES, HardwareYes},
        {SUPPORT_YES, SUPPORT_NO, SUPPORT_YES, HardwareYes},
        {SUPPORT_YES, SUPPORT_UNKNOWN, SUPPORT_YES, HardwareYes},
        {SUPPORT_MAYBE, SUPPORT_YES, SUPPORT_YES, HardwareYes},
        {SUPPORT_MAYBE, SUPPORT_NO, SUPPORT_MAYBE, ""},
        {SUPPORT_MAYBE, SUPPORT_UNKNOWN, SUPPORT_MAYBE, ""},
        {SUPPORT_UNKNOWN, SUPPORT_YES, SUPPORT_YES, HardwareYes},
        {SUPPORT_UNKNOWN, SUPPORT_NO, SUPPORT_NO, HardwareNo},
        {SUPPORT_UNKNOWN, SUPPORT_UNKNOWN, SUPPORT_UNKNOWN, HardwareUnknown},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "chipset " << c.chipset << ", host controllers "
                                        << c.hostControllers);
        SimReset();
        ResetCheckRun();
        EXPECT_EQ(ResolveHardware(TheWindow, c.chipset | c.hostControllers), c.rating);
        EXPECT_EQ(Sim.panel, c.panel);
        EXPECT_TRUE(Sim.details.empty());
    }
}

// Whatever bits arrive, the highest of YES, MAYBE, NO, UNKNOWN alone survives, with its one
// paragraph (none for MAYBE).
TEST_F(VerdictTest, HardwareResolutionKeepsOnlyTheStrongestBit)
{
    const struct {
        SupportFlags bit;
        const char *paragraph;
    } priority[] = {
        {SUPPORT_YES, HardwareYes},
        {SUPPORT_MAYBE, ""},
        {SUPPORT_NO, HardwareNo},
        {SUPPORT_UNKNOWN, HardwareUnknown},
    };
    for (uint32_t subset = 0; subset < 16; ++subset) {
        SupportFlags found = 0;
        for (int i = 0; i < 4; ++i) {
            if (subset & (1u << i))
                found |= priority[i].bit;
        }
        SupportFlags expected = 0;
        std::string paragraph;
        for (const auto &p : priority) {
            if (found & p.bit) {
                expected = p.bit;
                paragraph = p.paragraph;
                break;
            }
        }
        SCOPED_TRACE(testing::Message() << "found 0x" << std::hex << found);
        SimReset();
        ResetCheckRun();
        EXPECT_EQ(ResolveHardware(TheWindow, found), expected);
        EXPECT_EQ(Sim.panel, paragraph);
    }
}

// NT 4.0 keeps both hardware probes from telling: the chipset is not searched there and an
// absent host controller may just lack a driver.
TEST_F(VerdictTest, CheckHardwareOnAnEmptyNt4MachineCannotTell)
{
    MakeNtMachine(4);
    EXPECT_EQ(CheckHardware(TheWindow), SUPPORT_UNKNOWN);
    EXPECT_EQ(Sim.panel, HardwareUnknown);
}

TEST_F(VerdictTest, VerdictOverCombinedRatings)
{
    const struct {
        SupportFlags combined;
        Verdict verdict;
    } cases[] = {
        {0, VERDICT_SUPPORTED},
        {SUPPORT_UNKNOWN, VERDICT_SUPPORTED},
        {SUPPORT_YES, VERDICT_SUPPORTED},
        {SUPPORT_YES | SUPPORT_UNKNOWN, VERDICT_SUPPORTED},
        {SUPPORT_MAYBE, VERDICT_CHANGES_RECOMMENDED},
        {SUPPORT_MAYBE | SUPPORT_YES | SUPPORT_UNKNOWN, VERDICT_CHANGES_RECOMMENDED},
        {SUPPORT_NO, VERDICT_NOT_SUPPORTED},
        {SUPPORT_YES | SUPPORT_NO, VERDICT_NOT_SUPPORTED},
        {SUPPORT_MAYBE | SUPPORT_NO, VERDICT_NOT_SUPPORTED},
        {SUPPORT_NO | SUPPORT_UNKNOWN, VERDICT_NOT_SUPPORTED},
        {SUPPORT_YES | SUPPORT_MAYBE | SUPPORT_NO | SUPPORT_UNKNOWN, VERDICT_NOT_SUPPORTED},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ChooseVerdict(c.combined), c.verdict) << "combined 0x" << std::hex << c.combined;
}

TEST_F(VerdictTest, ShowVerdictSetsHeadlineFramesAndTimer)
{
    const struct {
        SupportFlags combined;
        const char *headline;
        const char *set;
    } cases[] = {
        {0, HeadlineSupported, "USBYES"},
        {SUPPORT_UNKNOWN, HeadlineSupported, "USBYES"},
        {SUPPORT_YES | SUPPORT_NO, HeadlineNotSupported, "USBNO"},
        {SUPPORT_MAYBE | SUPPORT_NO, HeadlineNotSupported, "USBNO"},
        {SUPPORT_MAYBE | SUPPORT_YES | SUPPORT_UNKNOWN, HeadlineChanges, "USBMAYB"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "combined 0x" << std::hex << c.combined);
        SimReset();
        ResetCheckRun();
        ShowVerdict(TheWindow, c.combined);
        EXPECT_EQ(Sim.headline, c.headline);
        EXPECT_EQ(Sim.iconsLoaded, FrameNames(c.set));
        EXPECT_EQ(Sim.iconsShown, std::vector<std::string>{std::string(c.set) + "1"});
        EXPECT_TRUE(Sim.timerStarted);
        EXPECT_EQ(Sim.timerId, 1u);
        EXPECT_EQ(Sim.timerPeriod, 150u);
        EXPECT_EQ(Sim.panel, PhysicalPort);
    }
}

TEST_F(VerdictTest, ThePhysicalPortParagraphClosesThePanelOnce)
{
    AppendInfo(TheWindow, MSG_INFO_OS_SUPPORTED);
    SupportFlags hardware = ResolveHardware(TheWindow, SUPPORT_UNKNOWN | SUPPORT_NO);
    ShowVerdict(TheWindow, SUPPORT_YES | hardware);
    EXPECT_EQ(Sim.panel, std::string("This version of Windows supports USB.\r\n\r\n") +
                             HardwareNo + PhysicalPort);
    EXPECT_EQ(Occurrences(Sim.panel, PhysicalPort), 1u);
    EXPECT_EQ(Sim.headline, HeadlineNotSupported);
}

// A frame that does not load leaves its slot empty; the rest of the start goes on.
TEST_F(VerdictTest, AMissingFirstFrameLeavesTheIconEmpty)
{
    SimFailCall(SIM_LOAD_ICON, 1);
    ShowVerdict(TheWindow, SUPPORT_YES);
    EXPECT_EQ(Sim.iconsLoaded.size(), 16u);
    EXPECT_EQ(Sim.iconsShown, std::vector<std::string>{""});
    EXPECT_EQ(Sim.headline, HeadlineSupported);
    EXPECT_TRUE(Sim.timerStarted);
}

TEST_F(VerdictTest, CheckRunSetsTabStopsFirstAndOrsTheRatings)
{
    MakeNtMachine(4);
    CheckRatings ratings = PerformChecks(TheWindow);
    EXPECT_EQ(Sim.tabStops, (std::vector<int>{10, 20, 30, 40}));
    EXPECT_EQ(ratings.hardware, SUPPORT_UNKNOWN);
    EXPECT_EQ(ratings.combined, ratings.os | ratings.hardware);
    const char *headlines[] = {HeadlineSupported, HeadlineChanges, HeadlineNotSupported};
    EXPECT_EQ(Sim.headline, headlines[ChooseVerdict(ratings.combined)]);
    ASSERT_GE(Sim.panel.size(), sizeof PhysicalPort - 1);
    EXPECT_EQ(Sim.panel.substr(Sim.panel.size() - (sizeof PhysicalPort - 1)), PhysicalPort);
}

// Windows 2000 supports USB, but with no host controller driver loaded the hardware does not:
// the red verdict, with the hardware paragraph before the closing one.
TEST_F(VerdictTest, Windows2000WithoutHostControllersIsRed)
{
    MakeNtMachine(5);
    CheckRatings ratings = PerformChecks(TheWindow);
    EXPECT_EQ(ratings.os, SUPPORT_YES);
    EXPECT_EQ(ratings.hardware, SUPPORT_NO);
    EXPECT_EQ(ratings.combined, SUPPORT_YES | SUPPORT_NO);
    EXPECT_EQ(Sim.panel,
              std::string("This version of Windows supports USB.\r\n\r\n") + HardwareNo + PhysicalPort);
    EXPECT_EQ(Sim.headline, HeadlineNotSupported);
    EXPECT_EQ(Sim.iconsLoaded, FrameNames("USBNO"));
}

}  // namespace
