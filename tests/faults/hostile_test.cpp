// Whole check runs on hostile machines that scenario files cannot describe (cyclic trees,
// navigation that reports success without a node, lying drivers, trees past the search's
// bound), and message numbers that the catalogue lacks.
#include "tests/support/invariants.h"
#include "tests/support/machines.h"

#include "probes/hostctl.h"
#include "report/messages.h"
#include "report/report.h"
#include "sim/scenario.h"
#include "tests/support/fake_test.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> Lines;

const std::string Unidentified = CatalogueText(MSG_HC_UNIDENTIFIED);

// A driver reply: ActualLength, then the text's bytes exactly as given (UTF-16LE, terminator
// only if the text brings one), and the byte count the driver claims.
void AddReply(int index, const std::string &text, uint32_t count, uint32_t actualLength = 0)
{
    std::string reply;
    for (int shift = 0; shift < 32; shift += 8)
        reply += (char)(actualLength >> shift);
    Sim.hcds.push_back({index, true, reply + text, count});
}

std::string Utf16(const std::string &ascii, bool terminated)
{
    std::string bytes;
    for (char c : ascii)
        bytes += std::string{c, '\0'};
    if (terminated)
        bytes += std::string(2, '\0');
    return bytes;
}

// Ten controllers whose names no node carries, and a root "root" (node 0) with, when asked,
// one child "a" (node 1).
SimCfgMgr &AddStrangers(bool child)
{
    for (int index = 0; index < 10; ++index)
        AddReply(index, Utf16("stranger" + std::to_string(index), true), 4 + 2 * 9 + 2);
    int root = SimAddNode(&Sim, -1, "root");
    if (child)
        SimAddNode(&Sim, root, "a");
    return Sim.cfgmgr;
}

// A controller whose node comes after a root's branches of 250 leaves each.
void AddBush(int branches, const char *name, const char *description)
{
    AddReply(0, Utf16(name, true), 4 + 2 * (uint32_t)strlen(name));
    int root = SimAddNode(&Sim, -1, nullptr);
    for (int branch = 0; branch < branches; ++branch) {
        int parent = SimAddNode(&Sim, root, "branch");
        for (int leaf = 0; leaf < 250; ++leaf)
            SimAddNode(&Sim, parent, "leaf");
    }
    SimAddNode(&Sim, root, name, "PCI\\VEN_8086&DEV_7112", description);
}

// Each case's hardware rates YES; the host controllers' groups of the Details list.
struct HostileCase {
    const char *name;  // the test's name
    const char *what;
    void (*build)();
    std::vector<Lines> controllers;
    // Whether QVDUMP leaves links of the tree unfollowed (a cycle, a bound) and says so.
    bool cut = false;
};

Lines Piix(const char *description)
{
    return {"Found Intel Corporation (8086) USB host controller device 7112", description};
}

const HostileCase Cases[] = {
    {"ChildIsTheRoot", "a child that is the root again",
     [] { AddStrangers(true).nodes[1].children = {0}; }, {{Unidentified}}, true},
    {"OwnParent", "a node that is its own parent", [] { AddStrangers(true).nodes[1].parent = 1; },
     {{Unidentified}}},
    {"OwnNextSibling", "a node that is its own next sibling",
     [] { AddStrangers(true).nodes[0].children = {1, 1}; }, {{Unidentified}}, true},
    {"MissingChildren", "children that do not exist",
     [] { AddStrangers(false).nodes[0].children = {5000, 70000}; }, {{Unidentified}}},
    {"ChainPastTheBound", "a chain longer than the search goes",
     [] {
         AddReply(0, Utf16("far", true), 10);
         int node = SimAddNode(&Sim, -1, "chain");
         for (int i = 0; i < 70000; ++i)
             node = SimAddNode(&Sim, node, "chain");
         SimAddNode(&Sim, node, "far", "PCI\\VEN_8086&DEV_7112", "too far");
     },
     {{Unidentified}}, true},
    {"BushPastTheBound", "a bushy tree wider than the search goes",
     [] { AddBush(300, "far", "too far"); }, {{Unidentified}}, true},
    {"BushInReach", "a bushy tree with the controller in reach",
     [] { AddBush(100, "near", "in reach"); }, {Piix("\tin reach")}},
    {"EmptySuccessAtRoot", "navigation and the root that report success without a node",
     [] {
         SimCfgMgr &cm = AddStrangers(false);
         cm.rootLocates = false;
         cm.successWithoutNode = {SIM_CM_LOCATE, SIM_CM_CHILD, SIM_CM_SIBLING, SIM_CM_PARENT};
     },
     {{Unidentified}}},
    {"EmptySuccessDeep", "navigation that reports success without a node, the controller deep down",
     [] {
         AddReply(4, Utf16("deep", true), 12);
         Sim.cfgmgr.successWithoutNode = {SIM_CM_CHILD, SIM_CM_SIBLING, SIM_CM_PARENT};
         int root = SimAddNode(&Sim, -1, nullptr);
         int a = SimAddNode(&Sim, root, "a");
         int b = SimAddNode(&Sim, a, "b");
         SimAddNode(&Sim, b, "c");
         int d = SimAddNode(&Sim, root, "d");
         SimAddNode(&Sim, d, "deep", "PCI\\VEN_10B9&DEV_5237", "ALi M5237");
     },
     {{"Found Acer Labs Inc. (10b9) USB host controller device 5237", "\tALi M5237"}}},
    {"NodesNumberedAsWindows9xNumbersThem", "nodes whose handles are addresses in a heap",
     [] {
         AddReply(0, Utf16("far", true), 10);
         // 0x20000 apart, two handles share a slot of QVDUMP's set of nodes.
         int root = AddNodeAt(&Sim, 1, -1, nullptr);
         int system = AddNodeAt(&Sim, 0x00001A30, root, "system");
         int bus = AddNodeAt(&Sim, 0x00001A70, system, "bus");
         AddNodeAt(&Sim, 0x00021A70, bus, "ide", "PCI\\VEN_8086&DEV_7111");
         AddNodeAt(&Sim, 0x00021A30, system, "far", "PCI\\VEN_8086&DEV_7112", "at a 9x address");
     },
     {Piix("\tat a 9x address")}},
    {"LyingDrivers", "drivers that lie about their replies",
     [] {
         // 300 bytes without a terminator and a lying ActualLength; a count far above the
         // reply; a count that leaves no room for a character; nothing at all; an odd count.
         AddReply(0, Utf16(std::string(148, 'A'), false), 300, 0xFFFFFFFF);
         AddReply(1, Utf16("B", false), 200, 7);
         AddReply(2, Utf16("C", true), 5);
         AddReply(3, "", 0);
         AddReply(4, Utf16("DE", false).substr(0, 3), 7);
         int root = SimAddNode(&Sim, -1, nullptr);
         SimAddNode(&Sim, root, std::string(126, 'A').c_str(), "PCI\\VEN_8086&DEV_7112", "first");
         SimAddNode(&Sim, root, "B", "PCI\\VEN_1106&DEV_3038", "second");
         SimAddNode(&Sim, root, "C", "PCI\\VEN_1033&DEV_0035", "never named");
         SimAddNode(&Sim, root, "D", "ACPI\\PNP0A03");
     },
     {Piix("\tfirst"),
      {"Found Via Technologies (1106) USB host controller device 3038", "\tsecond"},
      {Unidentified}}},
};

// Windows 98 with the case's hostile hardware.
struct HostileMachineTest : FakeTest, ::testing::WithParamInterface<HostileCase> {
    void SetUp() override
    {
        FakeTest::SetUp();
        SetVersion(PLATFORM_WIN32_WINDOWS, 4, 10, 0x040A08AE);
        Sim.registry9x = {true, true, std::string("4.10.2222", 10)};
        GetParam().build();
    }
};

// The hardware rating and the host controllers' groups of the Details list the case expects.
void ExpectControllers(const HostileCase &c, const CheckRatings &ratings)
{
    EXPECT_EQ(ratings.hardware, SUPPORT_YES);
    bool closed;
    std::vector<Lines> groups = DetailGroups(Sim.details, &closed);
    ASSERT_FALSE(groups.empty());
    groups.erase(groups.begin());
    EXPECT_EQ(groups, c.controllers);
}

TEST_P(HostileMachineTest, OneVerdict)
{
    const HostileCase &c = GetParam();
    CheckRatings ratings = PerformChecksWithin(20, c.what);
    for (const std::string &problem : CheckRunInvariants(ratings))
        ADD_FAILURE() << problem;
    ExpectControllers(c, ratings);
    // Each named controller walks at most the bound, whatever the tree's links do.
    EXPECT_LE(Sim.calls[SIM_CM_PROPERTY], 10u * (MAX_TREE_STEPS + 2));
}

// QVDUMP on the same machine ends, and its recording replays to the same controllers.
TEST_P(HostileMachineTest, RecordingShowsTheSameControllers)
{
    const HostileCase &c = GetParam();
    std::string recording = RecordWithin(20, c.what);
    std::string error;
    Sim = SimMachine();
    ASSERT_TRUE(ParseScenario(recording, c.name, &Sim, &error)) << error;
    EXPECT_EQ(recording.find(",\n    \"why\": \"") != std::string::npos, c.cut) << recording;
    ResetCheckRun();
    ExpectControllers(c, PerformChecksWithin(20, c.what));
}

INSTANTIATE_TEST_SUITE_P(Hostile, HostileMachineTest, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<HostileCase> &info) {
                             return std::string(info.param.name);
                         });

typedef FakeTest HostileCatalogue;

TEST_F(HostileCatalogue, NumbersWithoutATextAddNothingAnywhere)
{
    // The numbers the catalogue source lists, read from it rather than from the generated table.
    std::set<uint32_t> listed;
    std::ifstream file(QORVALIN_CATALOGUE_SOURCE);
    for (std::string line; std::getline(file, line);)
        if (line[0] >= '0' && line[0] <= '9')
            listed.insert((uint32_t)strtoul(line.c_str(), nullptr, 10));
    ASSERT_EQ(listed.size(), 31u);
    std::vector<uint32_t> numbers = {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    for (uint32_t n = 0; n <= 0x10000; ++n)
        numbers.push_back(n);

    std::set<uint32_t> withText;
    for (uint32_t number : numbers) {
        char text[PARAGRAPH_SIZE];
        memset(text, 'x', sizeof text);
        uint32_t length = PlatformLoadMessage(number, text, sizeof text);
        EXPECT_NE(memchr(text, '\0', sizeof text), nullptr) << number;
        EXPECT_EQ(length, strlen(text)) << number;
        if (length > 0) {
            withText.insert(number);
            continue;
        }
        AppendInfo(TheWindow, number);
        AddDetail(TheWindow, number, "a text", 12345, 0xFFFFFFFFu);
    }
    EXPECT_EQ(withText, listed);
    EXPECT_STREQ(MoreInfoText(), "");
    EXPECT_EQ(Sim.calls[SIM_SET_TEXT], 0u);
    EXPECT_EQ(Sim.calls[SIM_ADD_ITEM], 0u);
}

}  // namespace
