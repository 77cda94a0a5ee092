// The hardware rating, the verdict over combined ratings, and what ShowVerdict leaves on screen.
#include "tests/support/fake_test.h"
#include "tests/support/verdict_rules.h"
#include "report/messages.h"
#include "report/report.h"
#include "tests/support/invariants.h"
#include "verdict/verdict.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace {

const std::string OsYes = CatalogueParagraph(MSG_INFO_OS_SUPPORTED);
const std::string HardwareYes = CatalogueParagraph(MSG_INFO_HARDWARE_SUPPORTED);
const std::string HardwareNo = CatalogueParagraph(MSG_INFO_HARDWARE_NOT_SUPPORTED);
const std::string HardwareUnknown = CatalogueParagraph(MSG_INFO_HARDWARE_UNKNOWN);
const std::string PhysicalPort = CatalogueParagraph(MSG_INFO_PHYSICAL_PORT);

const std::string HeadlineSupported = CatalogueText(MSG_HEADLINE_SUPPORTED);
const std::string HeadlineChanges = CatalogueText(MSG_HEADLINE_CHANGES);
const std::string HeadlineNotSupported = CatalogueText(MSG_HEADLINE_NOT_SUPPORTED);

size_t Occurrences(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Each verdict of the rules with its headline's text and the value ChooseVerdict gives for it.
const struct {
    const VerdictLook *look;
    std::string headline;
    Verdict verdict;
} Looks[] = {
    {&RuledSupported, HeadlineSupported, VERDICT_SUPPORTED},
    {&RuledChangesRecommended, HeadlineChanges, VERDICT_CHANGES_RECOMMENDED},
    {&RuledNotSupported, HeadlineNotSupported, VERDICT_NOT_SUPPORTED},
};

std::string HeadlineOf(const VerdictLook &look)
{
    for (const auto &entry : Looks) {
        if (entry.look == &look)
            return entry.headline;
    }
    return "(no such verdict)";
}

Verdict VerdictOf(const VerdictLook &look)
{
    for (const auto &entry : Looks) {
        if (entry.look == &look)
            return entry.verdict;
    }
    return (Verdict)-1;
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
        std::string panel;
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
        std::string paragraph;
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

// Every combined rating of the four bits, and every operating-system rating beside every
// hardware rating, shows the verdict the rules give it.
TEST_F(VerdictTest, VerdictOverCombinedRatings)
{
    struct Case {
        SupportFlags combined;
        const VerdictLook *look;
    };
    std::vector<Case> cases;
    const SupportFlags bits[] = {SUPPORT_YES, SUPPORT_MAYBE, SUPPORT_NO, SUPPORT_UNKNOWN};
    for (uint32_t subset = 0; subset < 16; ++subset) {
        SupportFlags combined = 0;
        for (int i = 0; i < 4; ++i) {
            if (subset & (1u << i))
                combined |= bits[i];
        }
        cases.push_back({combined, &RuledVerdict(combined)});
    }
    for (SupportFlags os : RuledRatings) {
        for (SupportFlags hardware : RuledRatings)
            cases.push_back({os | hardware, RuledVerdict(os, hardware)});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "combined 0x" << std::hex << c.combined << ", "
                                        << c.look->name);
        SimReset();
        ResetCheckRun();
        EXPECT_EQ(ChooseVerdict(c.combined), VerdictOf(*c.look));
        ShowVerdict(TheWindow, c.combined);
        EXPECT_EQ(Sim.headline, HeadlineOf(*c.look));
        EXPECT_EQ(Sim.iconsLoaded, RuledFrames(*c.look));
    }
}

TEST_F(VerdictTest, ShowVerdictSetsHeadlineFramesAndTimer)
{
    const struct {
        SupportFlags combined;
        const VerdictLook *look;
    } cases[] = {
        {0, &RuledSupported},
        {SUPPORT_UNKNOWN, &RuledSupported},
        {SUPPORT_YES | SUPPORT_NO, &RuledNotSupported},
        {SUPPORT_MAYBE | SUPPORT_NO, &RuledNotSupported},
        {SUPPORT_MAYBE | SUPPORT_YES | SUPPORT_UNKNOWN, &RuledChangesRecommended},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "combined 0x" << std::hex << c.combined);
        SimReset();
        ResetCheckRun();
        ShowVerdict(TheWindow, c.combined);
        EXPECT_EQ(Sim.headline, HeadlineOf(*c.look));
        EXPECT_EQ(Sim.iconsLoaded, RuledFrames(*c.look));
        EXPECT_EQ(Sim.iconsShown, std::vector<std::string>{std::string(c.look->frames) + "1"});
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
    EXPECT_EQ(Sim.panel, OsYes + HardwareNo + PhysicalPort);
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

// Whole check runs on empty NT machines: NT 4.0 does not support USB and cannot tell about its
// hardware; Windows 2000 does, but with no host controller driver loaded the hardware does not,
// and the verdict is red with the hardware paragraph before the closing one.
TEST_F(VerdictTest, CheckRunSetsTabStopsFirstAndShowsTheRulesVerdictOfBothRatings)
{
    const struct {
        uint32_t major;
        SupportFlags os;
        SupportFlags hardware;
        std::string panel;
    } cases[] = {
        {4, SUPPORT_NO, SUPPORT_UNKNOWN,
         CatalogueParagraph(MSG_INFO_OS_NOT_SUPPORTED) + HardwareUnknown + PhysicalPort},
        {5, SUPPORT_YES, SUPPORT_NO, OsYes + HardwareNo + PhysicalPort},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "NT " << c.major);
        SimReset();
        ResetCheckRun();
        MakeNtMachine(c.major);
        CheckRatings ratings = PerformChecks(TheWindow);
        EXPECT_EQ(Sim.tabStops, (std::vector<int>{10, 20, 30, 40}));
        // The list gets its tab stops before its first line, or that line is drawn without them.
        auto order = Sim.callOrder;
        auto tabs = std::find(order.begin(), order.end(), SIM_SET_TAB_STOPS);
        ASSERT_NE(tabs, order.end());
        EXPECT_EQ(std::find(order.begin(), tabs, SIM_ADD_ITEM), tabs);
        EXPECT_NE(std::find(tabs, order.end(), SIM_ADD_ITEM), order.end());
        EXPECT_EQ(ratings.os, c.os);
        EXPECT_EQ(ratings.hardware, c.hardware);
        EXPECT_EQ(ratings.combined, c.os | c.hardware);
        EXPECT_EQ(Sim.panel, c.panel);
        const VerdictLook *look = RuledVerdict(c.os, c.hardware);
        ASSERT_NE(look, nullptr);
        EXPECT_EQ(Sim.headline, HeadlineOf(*look));
        EXPECT_EQ(Sim.iconsLoaded, RuledFrames(*look));
    }
}

}  // namespace
