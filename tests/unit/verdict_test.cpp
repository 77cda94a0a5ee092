// The hardware rating, the verdict over combined ratings, and what ShowVerdict leaves on screen.
#include "tests/support/fake_test.h"
#include "tests/support/verdict_rules.h"
#include "report/messages.h"
#include "report/report.h"
#include "tests/support/invariants.h"
#include "verdict/verdict.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

const std::string OsYes = CatalogueParagraph(MSG_INFO_OS_SUPPORTED);
const std::string HardwareYes = CatalogueParagraph(MSG_INFO_HARDWARE_SUPPORTED),
                  HardwareNo = CatalogueParagraph(MSG_INFO_HARDWARE_NOT_SUPPORTED),
                  HardwareUnknown = CatalogueParagraph(MSG_INFO_HARDWARE_UNKNOWN);
const std::string PhysicalPort = CatalogueParagraph(MSG_INFO_PHYSICAL_PORT);

// The value ChooseVerdict gives for each verdict of the rules.
const std::map<const VerdictLook *, Verdict> Verdicts = {
    {&RuledSupported, VERDICT_SUPPORTED}, {&RuledChangesRecommended, VERDICT_CHANGES_RECOMMENDED},
    {&RuledNotSupported, VERDICT_NOT_SUPPORTED}};

// Every set of the four rating bits.
std::vector<SupportFlags> EveryCombination()
{
    const SupportFlags bits = SUPPORT_YES | SUPPORT_MAYBE | SUPPORT_NO | SUPPORT_UNKNOWN;
    std::vector<SupportFlags> all;
    for (SupportFlags flags = 0; flags <= bits; ++flags)
        if ((flags & ~bits) == 0)
            all.push_back(flags);
    return all;
}

// Windows 2000 or NT 4.0 with nothing else present: no port is allowed to matter and no host
// controller driver opens.
void MakeNtMachine(uint32_t major)
{
    SetVersion(PLATFORM_WIN32_NT, major, 0, major == 5 ? 2195 : 1381);
    Sim.registryNt = {true, true, std::string(major == 5 ? "5.0" : "4.0", 4)};
}

typedef FakeTest VerdictTest;

TEST_F(VerdictTest, HardwareResolutionOfEveryPairOfRatings)
{
    struct Case { SupportFlags chipset, hostControllers, rating; std::string panel; };
    const SupportFlags Yes = SUPPORT_YES, Maybe = SUPPORT_MAYBE, No = SUPPORT_NO;
    const SupportFlags Unknown = SUPPORT_UNKNOWN;
    std::vector<Case> cases = {
        {Yes, Yes, Yes, HardwareYes}, {Yes, No, Yes, HardwareYes}, {Yes, Unknown, Yes, HardwareYes},
        {Maybe, Yes, Yes, HardwareYes}, {Maybe, No, Maybe, ""}, {Maybe, Unknown, Maybe, ""},
        {Unknown, Yes, Yes, HardwareYes}, {Unknown, No, No, HardwareNo},
        {Unknown, Unknown, Unknown, HardwareUnknown},
    };
    // And whatever bits arrive: the highest of YES, MAYBE, NO, UNKNOWN alone survives, with its
    // one paragraph (none for MAYBE).
    const SupportFlags strongest[5] = {SUPPORT_YES, SUPPORT_MAYBE, SUPPORT_NO, SUPPORT_UNKNOWN, 0};
    const std::string paragraphs[5] = {HardwareYes, "", HardwareNo, HardwareUnknown, ""};
    for (SupportFlags found : EveryCombination()) {
        int i = 0;
        while (i < 4 && (found & strongest[i]) == 0)
            ++i;
        cases.push_back({found, 0, strongest[i], paragraphs[i]});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "chipset 0x" << std::hex << c.chipset
                                        << ", host controllers 0x" << c.hostControllers);
        SetUp();
        EXPECT_EQ(ResolveHardware(TheWindow, c.chipset | c.hostControllers), c.rating);
        EXPECT_EQ(Sim.panel, c.panel);
        EXPECT_TRUE(Sim.details.empty());
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

// A few combined ratings, every combined rating of the four bits, and every operating-system
// rating beside every hardware rating: each shows the verdict the rules give it, its first
// frame, the timer and the closing paragraph.
TEST_F(VerdictTest, VerdictOverCombinedRatings)
{
    std::vector<std::pair<SupportFlags, const VerdictLook *>> cases = {
        {0, &RuledSupported}, {SUPPORT_UNKNOWN, &RuledSupported},
        {SUPPORT_YES | SUPPORT_NO, &RuledNotSupported},
        {SUPPORT_MAYBE | SUPPORT_NO, &RuledNotSupported},
        {SUPPORT_MAYBE | SUPPORT_YES | SUPPORT_UNKNOWN, &RuledChangesRecommended},
    };
    for (SupportFlags combined : EveryCombination())
        cases.push_back({combined, &RuledVerdict(combined)});
    for (SupportFlags os : RuledRatings)
        for (SupportFlags hardware : RuledRatings)
            cases.push_back({os | hardware, RuledVerdict(os, hardware)});
    for (const auto &[combined, look] : cases) {
        SCOPED_TRACE(testing::Message() << "combined 0x" << std::hex << combined << ", "
                                        << look->name);
        SetUp();
        EXPECT_EQ(ChooseVerdict(combined), Verdicts.at(look));
        ShowVerdict(TheWindow, combined);
        EXPECT_EQ(Sim.headline, CatalogueText(look->headline));
        EXPECT_EQ(Sim.iconsLoaded, RuledFrames(*look));
        EXPECT_EQ(Sim.iconsShown, std::vector<std::string>{std::string(look->frames) + "1"});
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
    size_t port = Sim.panel.find(PhysicalPort);
    EXPECT_TRUE(port != std::string::npos && port == Sim.panel.rfind(PhysicalPort));
    EXPECT_EQ(Sim.headline, CatalogueText(MSG_HEADLINE_NOT_SUPPORTED));
}

// A frame that does not load leaves its slot empty; the rest of the start goes on.
TEST_F(VerdictTest, AMissingFirstFrameLeavesTheIconEmpty)
{
    SimFailCall(SIM_LOAD_ICON, 1);
    ShowVerdict(TheWindow, SUPPORT_YES);
    EXPECT_EQ(Sim.iconsLoaded.size(), 16u);
    EXPECT_EQ(Sim.iconsShown, std::vector<std::string>{""});
    EXPECT_EQ(Sim.headline, CatalogueText(MSG_HEADLINE_SUPPORTED));
    EXPECT_TRUE(Sim.timerStarted);
}

// Whole check runs on empty NT machines: NT 4.0 does not support USB and cannot tell about its
// hardware; Windows 2000 does, but with no host controller driver loaded the hardware does not,
// and the verdict is red with the hardware paragraph before the closing one.
TEST_F(VerdictTest, CheckRunSetsTabStopsFirstAndShowsTheRulesVerdictOfBothRatings)
{
    const struct { uint32_t major; SupportFlags os, hardware; std::string panel; } cases[] = {
        {4, SUPPORT_NO, SUPPORT_UNKNOWN,
         CatalogueParagraph(MSG_INFO_OS_NOT_SUPPORTED) + HardwareUnknown + PhysicalPort},
        {5, SUPPORT_YES, SUPPORT_NO, OsYes + HardwareNo + PhysicalPort},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "NT " << c.major);
        SetUp();
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
        EXPECT_EQ(Sim.headline, CatalogueText(look->headline));
        EXPECT_EQ(Sim.iconsLoaded, RuledFrames(*look));
    }
}

}  // namespace
