// The host controller enumeration against simulated drivers and device trees: the vendor line,
// the driver's reply, the tree search, the rating and what was asked of the platform.
#include "tests/support/fake_test.h"
#include "tests/support/machines.h"
#include "probes/hostctl.h"
#include "report/messages.h"
#include "tests/support/invariants.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> Lines;

const uint32_t Win9x = PLATFORM_WIN32_WINDOWS, WinNt = PLATFORM_WIN32_NT;
const std::string Unidentified = CatalogueText(MSG_HC_UNIDENTIFIED);
const char UhciKey[] = "{36FC9E60-C465-11CF-8056-444553540000}\\0000";
const char PiixId[] = "PCI\\VEN_8086&DEV_7112&SUBSYS_00000000&REV_01";
const char PiixLine[] = "Found Intel Corporation (8086) USB host controller device 7112";
const char PiixDescription[] = "Intel 82371AB/EB PCI to USB Universal Host Controller";
// The PIIX-4 controller's group, both its properties read.
const Lines PiixGroup = {PiixLine, std::string("\t") + PiixDescription, ""};

// A root without properties and below it the node that carries the UHCI controller's key.
void AddRootAndController(const char *driver = UhciKey)
{
    SimAddNode(&Sim, SimAddNode(&Sim, -1, nullptr), driver, PiixId, PiixDescription);
}

SupportFlags SearchUhci()
{
    return ReportHostController(TheWindow, UhciKey);
}

// What GetHcdDriverKeyName reads from HCD0 into a buffer that held fill before: it must end
// within the buffer and leave the guard behind it alone.
std::string DriverKeyName(char fill = '#')
{
    DeviceHandle device = PlatformOpenDevice("\\\\.\\HCD0");
    EXPECT_NE(device, nullptr);
    char name[HCD_NAME_SIZE + 16];
    memset(name, fill, sizeof name);
    GetHcdDriverKeyName(device, name);
    PlatformCloseDevice(device);
    EXPECT_NE(memchr(name, '\0', HCD_NAME_SIZE), nullptr);
    EXPECT_EQ(std::string(name + HCD_NAME_SIZE, 16), std::string(16, fill));
    return name;
}

// The one request for the driver key name, 256 bytes in and out.
void ExpectOneDriverKeyRequest()
{
    EXPECT_EQ(Sim.calls[SIM_DEVICE_REQUEST], 1u);
    EXPECT_EQ(Sim.lastRequestCode, 0x220424u);
    EXPECT_EQ(Sim.lastRequestIn, 256u);
    EXPECT_EQ(Sim.lastRequestOut, 256u);
}

// A small machine: root, a PCI bus with three devices (one a bridge with its own), a second
// branch for the ISA bus.
void AddTypicalTree()
{
    int root = SimAddNode(&Sim, -1, nullptr);
    int pci = SimAddNode(&Sim, root, "{4D36E97D-E325-11CE-BFC1-08002BE10318}\\0000");
    SimAddNode(&Sim, pci, "{4D36E968-E325-11CE-BFC1-08002BE10318}\\0000", "PCI\\VEN_1002&DEV_4742",
               "ATI 3D RAGE PRO AGP 2X");
    int bridge = SimAddNode(&Sim, pci, "{4D36E97D-E325-11CE-BFC1-08002BE10318}\\0001");
    SimAddNode(&Sim, bridge, "{4D36E96A-E325-11CE-BFC1-08002BE10318}\\0000", "PCI\\VEN_8086&DEV_7111",
               "Intel 82371AB/EB PCI Bus Master IDE Controller");
    SimAddNode(&Sim, pci, "{4D36E972-E325-11CE-BFC1-08002BE10318}\\0000");
    int isa = SimAddNode(&Sim, root, "{4D36E97D-E325-11CE-BFC1-08002BE10318}\\0002");
    SimAddNode(&Sim, isa, "{4D36E96B-E325-11CE-BFC1-08002BE10318}\\0000");
}

struct HostControllerTest : FakeTest {
    void TearDown() override
    {
        EXPECT_EQ(Sim.librariesLoaded, Sim.librariesFreed);
        EXPECT_EQ(Sim.devicesOpen, 0u);
        FakeTest::TearDown();
    }
};

TEST_F(HostControllerTest, VendorLineFromTheHardwareId)
{
    const struct { const char *hardwareId; std::string line; } cases[] = {
        {PiixId, PiixLine}, {"PCI\\VEN_ABCD", "Found Unknown (abcd) USB host controller"},
        {"ACPI\\PNP0A03", Unidentified}, {"", Unidentified},
        {"PCI\\VEN-8086&DEV_7112", Unidentified}, {"PCI\\VEN_+8086&DEV_+7112", PiixLine},
        // A "dev_" only in front of "ven_" is not seen.
        {"PCI\\DEV_7112&VEN_8086", "Found Intel Corporation (8086) USB host controller"},
        {"pci\\ven_10b9&dev_5237", "Found Acer Labs Inc. (10b9) USB host controller device 5237"},
        {"Pci\\Ven_10B9&Dev_5237", "Found Acer Labs Inc. (10b9) USB host controller device 5237"},
        {"PCI\\VEN_FFFF&DEV_FFFF",
         "Found ILLEGITIMATE VENDOR ID (ffff) USB host controller device ffff"},
        {"PCI\\VEN_1000&DEV_0001",
         "Found LSI Logic (---- WARNING: DUPLICATE VENDOR ID ----) (1000) USB host controller "
         "device 0001"},
        {"PCI\\VEN_1406", "Found Oc\xe9 Printing Systems (1406) USB host controller"},
        {"PCI\\VEN_45&DEV_6", "Found Unknown (0045) USB host controller device 0006"},
        {"PCI\\VEN_0x8086&DEV_0X7112", PiixLine}, {"PCI\\VEN_ \t8086&DEV_\r\n7112", PiixLine},
        {"PCI\\VEN_-1&DEV_-0x12", "Found Unknown (ffffffff) USB host controller device ffffffee"},
        {"PCI\\VEN_18086&DEV_7112", "Found Unknown (18086) USB host controller device 7112"},
        {"PCI\\VEN_123456789&DEV_-123456789",
         "Found Unknown (7fffffff) USB host controller device 80000000"},
        {"PCI\\VEN_&DEV_", "Found Unknown (0000) USB host controller device 0000"},
        {"PCI\\VEN_XYZ&DEV_7112", "Found Unknown (0000) USB host controller device 7112"},
        // The search for "dev_" starts just behind "ven_", where the vendor digits begin.
        {"PCI\\VEN_DEV_1234", "Found Unknown (00de) USB host controller device 1234"},
        {"USB\\VEN_8086&VEN_1106&DEV_1&DEV_2",
         "Found Intel Corporation (8086) USB host controller device 0001"},
    };
    for (const auto &c : cases) {
        SimReset();
        char hardwareId[PROPERTY_SIZE];
        strcpy(hardwareId, c.hardwareId);
        ReportControllerVendor(TheWindow, hardwareId);
        EXPECT_EQ(Sim.details, std::vector<std::string>{c.line}) << c.hardwareId;
    }
}

TEST_F(HostControllerTest, VendorLineLowerCasesTheHardwareId)
{
    char hardwareId[] = "PCI\\VEN_10B9&DEV_5237&SUBSYS_00000000&REV_03 \xc9";
    ReportControllerVendor(TheWindow, hardwareId);
    EXPECT_STREQ(hardwareId, "pci\\ven_10b9&dev_5237&subsys_00000000&rev_03 \xc9");
}

TEST_F(HostControllerTest, DriverKeyNameStaysWithinItsBuffer)
{
    std::string ab = HcdDriverKeyReply("ab");  // 4 + 4 + 2 bytes
    std::string full(4, '\x7f');               // 252 bytes of text, no terminator
    for (int i = 0; i < 126; ++i)
        full += std::string("a\0", 2);
    const struct { const char *what; std::string reply; uint32_t count; std::string name; }
        cases[] = {
        {"a name", HcdDriverKeyReply(UhciKey), 4 + 2 * 43 + 2, UhciKey},
        {"code page 1252", HcdDriverKeyReply(u8"Oc\u00e9 \u20ac"), 16, "Oc\xe9 \x80"},
        {"a character outside the code page", HcdDriverKeyReply(u8"a\u4e00b"), 12, "a?b"},
        {"a control character inside the name", HcdDriverKeyReply("a\x01" "b"), 12, "a\x01" "b"},
        {"an empty name", HcdDriverKeyReply(""), 6, ""},
        {"no terminator within the count", ab.substr(0, 8), 8, "ab"},
        {"no terminator in the whole buffer", full, 256, std::string(126, 'a')},
        {"a count above the buffer", full, 300, std::string(126, 'a')},
        {"a count far above the buffer", full, 0xFFFFFFFF, std::string(126, 'a')},
        {"a count that cuts the text", ab, 6, "a"}, {"an odd count", ab, 7, "a"},
        {"an odd count past the text", ab, 9, "ab"}, {"a count of 5", ab, 5, ""},
        {"a count of 4", ab, 4, ""}, {"a count of 1", ab, 1, ""}, {"a count of 0", ab, 0, ""},
        {"an empty reply with a count", "", 40, ""},
    };
    SetVersion(PLATFORM_WIN32_WINDOWS, 4, 10);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Sim.hcds = {{0, true, c.reply, c.count}};
        EXPECT_EQ(DriverKeyName(), c.name);
    }
}

// The early Windows 95 drivers are never asked.
TEST_F(HostControllerTest, DriverKeyNameRequest)
{
    const struct { uint32_t platform, major, minor; bool asked; } cases[] = {
        {Win9x, 4, 0, false}, {Win9x, 3, 95, false}, {Win9x, 4, 10, true},
        {Win9x, 4, 90, true}, {WinNt, 4, 0, true},   {WinNt, 5, 0, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.platform << " " << c.major << "." << c.minor);
        SimReset();
        SetVersion(c.platform, c.major, c.minor);
        AddHcd(&Sim, 0, UhciKey);
        EXPECT_EQ(DriverKeyName(), c.asked ? UhciKey : "");
        if (!c.asked) {
            EXPECT_EQ(Sim.calls[SIM_DEVICE_REQUEST], 0u);
            continue;
        }
        ExpectOneDriverKeyRequest();
        // A refused request leaves the name empty, whatever the buffer held.
        Sim.hcds[0].requestSucceeds = false;
        EXPECT_EQ(DriverKeyName('x'), "");
    }
}

TEST_F(HostControllerTest, FindsTheNodeAnywhereInTheTree)
{
    enum Place { ROOT, FIRST_CHILD, DEEP, LAST };
    for (Place place : {ROOT, FIRST_CHILD, DEEP, LAST}) {
        SimReset();
        AddTypicalTree();
        int parent = place == FIRST_CHILD ? 0 : place == DEEP ? 4 : 7;
        int node = place == ROOT ? 0 : SimAddNode(&Sim, parent, nullptr);
        std::vector<int> &rootChildren = Sim.cfgmgr.nodes[0].children;
        if (place == FIRST_CHILD)  // made the root's first child
            std::rotate(rootChildren.begin(), rootChildren.end() - 1, rootChildren.end());
        SimNode &target = Sim.cfgmgr.nodes[node];
        target.hasDriver = target.hasHardwareId = target.hasDescription = true;
        target.driver = std::string(UhciKey) + '\0';
        target.hardwareId = std::string(PiixId) + '\0' + "PCI\\VEN_8086&DEV_7112" + '\0' + '\0';
        target.description = std::string(PiixDescription) + '\0';

        EXPECT_EQ(SearchUhci(), SUPPORT_YES) << place;
        EXPECT_EQ(Sim.details, PiixGroup) << place;
        EXPECT_EQ(Sim.librariesLoaded, 1u);
        EXPECT_EQ(Sim.librariesFreed, 1u);
    }
}

TEST_F(HostControllerTest, SearchesInPreOrderReadingEachNodeOnce)
{
    // Two nodes carry the same driver key: the one met first depth first wins, although the
    // other is nearer to the root.
    int root = SimAddNode(&Sim, -1, nullptr);
    int a = SimAddNode(&Sim, root, "a");
    SimAddNode(&Sim, a, "a1");
    int a2 = SimAddNode(&Sim, a, "a2");
    SimAddNode(&Sim, a2, UhciKey, "PCI\\VEN_8086", "deep one");
    SimAddNode(&Sim, root, UhciKey, "PCI\\VEN_1106", "shallow one");
    EXPECT_EQ(SearchUhci(), SUPPORT_YES);
    EXPECT_EQ(Sim.details,
              (Lines{"Found Intel Corporation (8086) USB host controller", "\tdeep one", ""}));

    // A name that no node has: every node's driver read once, then nothing reported. Each of
    // the 8 nodes is asked for its first child; a sibling is asked of the 4 without one and of
    // the 4 climbed back to; a parent for each of the 4 climbs and once more at the root.
    SimReset();
    AddTypicalTree();
    EXPECT_EQ(SearchUhci(), SUPPORT_MAYBE);
    EXPECT_TRUE(Sim.details.empty());
    EXPECT_EQ(Sim.calls[SIM_CM_PROPERTY], Sim.cfgmgr.nodes.size());
    EXPECT_EQ(Sim.calls[SIM_CM_CHILD], 8u);
    EXPECT_EQ(Sim.calls[SIM_CM_SIBLING], 8u);
    EXPECT_EQ(Sim.calls[SIM_CM_PARENT], 5u);
    EXPECT_EQ(Sim.librariesFreed, 1u);
}

// The nodes a search may visit, in pre-order from the root: a node that answers nothing is
// visited (its driver is asked for) but hides its children and the siblings after it.
bool Reachable(int node, std::vector<int> *order)
{
    order->push_back(node);
    const SimNode &n = Sim.cfgmgr.nodes[node];
    if (n.invalid)
        return false;
    for (int child : n.children)
        if (!Reachable(child, order))
            break;
    return true;
}

TEST_F(HostControllerTest, ClimbsOutOfNodesThatAnswerNothing)
{
    // Trees as each node's parent, children in the order listed; some nodes answer no query,
    // not even for their parent. Each node in turn carries the driver key: the search must
    // find it exactly when a full pre-order reaches it, after reading the drivers of the nodes
    // before it once each.
    struct Case { const char *shape; std::vector<int> parents, invalid; };
    const Case cases[] = {
        {"none", {-1, 0, 1, 1, 3, 1, 0, 6}, {}},
        {"the last child of a deep node", {-1, 0, 1, 1, 3, 1, 0, 6, 4}, {8}},
        {"ahead of its siblings", {-1, 0, 1, 1, 1, 4, 1, 0, 7}, {2}},
        {"after a climb", {-1, 0, 1, 1, 3, 1, 1, 0, 7}, {5}},
        {"after two climbs", {-1, 0, 1, 2, 3, 1, 0, 6}, {5}},
        {"the last child of the root, after climbs", {-1, 0, 1, 1, 3, 0, 5, 0}, {7}},
        {"two of them, after a climb and last", {-1, 0, 1, 1, 3, 1, 1, 0, 7, 0}, {5, 9}},
        {"below the last of its siblings, after a climb", {-1, 0, 1, 1, 3, 4, 3, 0, 7}, {6}},
        {"the root", {-1, 0, 0}, {0}},
    };
    std::vector<Case> trees(std::begin(cases), std::end(cases));
    // And random trees of up to 40 nodes, about one node in eight answering nothing.
    uint32_t seed = 12345;
    auto random = [&seed](uint32_t below) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % below;
    };
    for (int i = 0; i < 100; ++i) {
        Case tree = {"random", {-1}, {}};
        for (int node = 1, size = 2 + (int)random(39); node < size; ++node) {
            tree.parents.push_back((int)random((uint32_t)node));
            if (random(8) == 0)
                tree.invalid.push_back(node);
        }
        trees.push_back(tree);
    }
    for (const Case &c : trees) {
        for (size_t target = 0; target < c.parents.size(); ++target) {
            SimReset();
            for (size_t i = 0; i < c.parents.size(); ++i) {
                std::string driver = "driver " + std::to_string(i);
                SimAddNode(&Sim, c.parents[i], i == target ? UhciKey : driver.c_str(), PiixId,
                           PiixDescription);
            }
            for (int node : c.invalid)
                Sim.cfgmgr.nodes[node].invalid = true;
            std::vector<int> order;
            Reachable(0, &order);
            auto at = std::find(order.begin(), order.end(), (int)target);
            bool found = at != order.end() && !Sim.cfgmgr.nodes[target].invalid;
            SCOPED_TRACE(std::string(c.shape) + " " + ::testing::PrintToString(c.parents) +
                         ", target " + std::to_string(target));
            EXPECT_EQ(SearchUhci(), found ? SUPPORT_YES : SUPPORT_MAYBE);
            EXPECT_EQ(Sim.details.size(), found ? 3u : 0u);
            // Drivers read in pre-order up to the target, then its ID and description.
            size_t reads = found ? (size_t)(at - order.begin()) + 3 : order.size();
            EXPECT_EQ(Sim.calls[SIM_CM_PROPERTY], reads);
        }
    }
}

TEST_F(HostControllerTest, TheSweepsControllersAreFoundPastNodesThatAnswerNothing)
{
    // The fault sweep's controllers stand before and after two nodes that answer nothing;
    // without faults both whose names a node carries are found.
    for (const SweepMachine &sweep : RepresentativeMachines())
        if (sweep.name == "windows98/controllers")
            Sim = sweep.machine;
    ASSERT_FALSE(Sim.hcds.empty()) << "no machine windows98/controllers";
    EXPECT_EQ(ProbeHostControllers(TheWindow, SUPPORT_UNKNOWN), SUPPORT_YES);
    Lines found;
    std::copy_if(Sim.details.begin(), Sim.details.end(), std::back_inserter(found),
                 [](const std::string &line) { return line.rfind("Found", 0) == 0; });
    EXPECT_EQ(found, (Lines{PiixLine, Unidentified}));
}

TEST_F(HostControllerTest, DriverKeysMatchWholeAndWithTheirCase)
{
    const char *const others[] = {
        "{36fc9e60-c465-11cf-8056-444553540000}\\0000",
        "{36FC9E60-C465-11CF-8056-444553540000}\\000",
        "{36FC9E60-C465-11CF-8056-444553540000}\\00000",
        "{36FC9E60-C465-11CF-8056-444553540000}\\0000 ",
        "",
    };
    for (const char *other : others) {
        SimReset();
        AddRootAndController(other);
        EXPECT_EQ(SearchUhci(), SUPPORT_MAYBE) << other;
        EXPECT_TRUE(Sim.details.empty()) << other;
    }
}

// A case that says so hands out the description without its terminator.
TEST_F(HostControllerTest, UnreadablePropertiesLeaveLinesOut)
{
    const struct { const char *hardwareId, *description; Lines lines; bool unterminated = false; }
        cases[] = {
        {PiixId, PiixDescription, PiixGroup},
        {nullptr, PiixDescription, {std::string("\t") + PiixDescription, ""}},
        {PiixId, nullptr, {PiixLine, ""}}, {nullptr, nullptr, {""}},
        {"ACPI\\PNP0A03", "", {Unidentified, "\t", ""}},
        // Read into the buffer that held the longer hardware ID: the buffer is cleared before
        // each read, so the description ends where its bytes do, with nothing of the ID after.
        {PiixId, "Intel", {PiixLine, "\tIntel", ""}, true},
    };
    for (const auto &c : cases) {
        SimReset();
        // A node whose driver cannot be read is passed over, but not its children.
        int hidden = SimAddNode(&Sim, SimAddNode(&Sim, -1, nullptr), nullptr);
        int node = SimAddNode(&Sim, hidden, UhciKey, c.hardwareId, c.description);
        if (c.unterminated)
            Sim.cfgmgr.nodes[node].description.pop_back();
        EXPECT_EQ(SearchUhci(), SUPPORT_YES);
        EXPECT_EQ(Sim.details, c.lines);
    }
}

TEST_F(HostControllerTest, PropertiesThatDoNotFitAreNotRead)
{
    std::string longest(255, 'k');
    // The driver as the configuration manager holds it, the description without its terminator.
    const struct { std::string driver, description; bool found; Lines lines; } cases[] = {
        // 255 characters and the terminator fill the 256 bytes exactly.
        {longest + '\0', std::string(254, 'd'), true, {"\t" + std::string(254, 'd'), ""}},
        // The description has 255 bytes behind its TAB.
        {longest + '\0', std::string(255, 'd'), true, {""}},
        {longest + 'k' + '\0', "", false, {}},
        // A value that brings no terminator does not fit, even when it reports success.
        {longest + 'k', "", false, {}},
        // Short by its terminator: the buffer was cleared before the read, so it ends there.
        {longest, "", true, {"\t", ""}},
    };
    for (const auto &c : cases) {
        SimReset();
        int node = SimAddNode(&Sim, SimAddNode(&Sim, -1, nullptr), nullptr, nullptr,
                              c.description.c_str());
        Sim.cfgmgr.nodes[node].hasDriver = true;
        Sim.cfgmgr.nodes[node].driver = c.driver;
        EXPECT_EQ(ReportHostController(TheWindow, longest.c_str()),
                  c.found ? SUPPORT_YES : SUPPORT_MAYBE)
            << c.driver.size();
        EXPECT_EQ(Sim.details, c.lines) << c.driver.size();
    }
}

TEST_F(HostControllerTest, HardwareIdWithoutTerminatorIsNotRead)
{
    SimAddNode(&Sim, -1, UhciKey, nullptr, PiixDescription);
    Sim.cfgmgr.nodes[0].hasHardwareId = true;
    Sim.cfgmgr.nodes[0].hardwareId = "PCI\\VEN_8086&DEV_7112" + std::string(256 - 21, 'x');
    EXPECT_EQ(SearchUhci(), SUPPORT_YES);
    EXPECT_EQ(Sim.details, (Lines{std::string("\t") + PiixDescription, ""}));
}

TEST_F(HostControllerTest, CyclicTreesEndTheSearch)
{
    // A child that is the root again; a node that is its own parent; a node that is its own
    // next sibling.
    for (int shape = 0; shape < 3; ++shape) {
        SimReset();
        int root = SimAddNode(&Sim, -1, "root");
        int a = SimAddNode(&Sim, root, "a");
        if (shape == 0)
            Sim.cfgmgr.nodes[a].children.push_back(root);
        else if (shape == 1)
            Sim.cfgmgr.nodes[a].parent = a;
        else
            Sim.cfgmgr.nodes[root].children = {a, a};
        EXPECT_EQ(SearchUhci(), SUPPORT_MAYBE) << shape;
        EXPECT_LE(Sim.calls[SIM_CM_PROPERTY], (uint32_t)MAX_TREE_STEPS) << shape;
        EXPECT_LE(Sim.calls[SIM_CM_CHILD] + Sim.calls[SIM_CM_SIBLING] + Sim.calls[SIM_CM_PARENT],
                  3u * MAX_TREE_STEPS) << shape;
        EXPECT_TRUE(Sim.details.empty());
    }
}

TEST_F(HostControllerTest, ANodePastTheStepBudgetIsNotFound)
{
    // A chain as long as the budget: its last node is never reached; one node fewer and it is
    // found, its ID and description read after every driver.
    const struct { uint32_t chain; SupportFlags rating; uint32_t reads; } cases[] = {
        {MAX_TREE_STEPS, SUPPORT_MAYBE, MAX_TREE_STEPS},
        {MAX_TREE_STEPS - 1, SUPPORT_YES, MAX_TREE_STEPS + 2}};
    for (const auto &c : cases) {
        SimReset();
        int node = SimAddNode(&Sim, -1, "chain");
        for (uint32_t i = 1; i < c.chain; ++i)
            node = SimAddNode(&Sim, node, "chain");
        SimAddNode(&Sim, node, UhciKey, PiixId, PiixDescription);
        EXPECT_EQ(SearchUhci(), c.rating) << c.chain;
        EXPECT_EQ(Sim.calls[SIM_CM_PROPERTY], c.reads) << c.chain;
    }
}

TEST_F(HostControllerTest, SuccessWithoutANodeMeansNone)
{
    // Navigation that reports success but gives no node, as Wine's configuration manager
    // does: the search still covers the tree and ends.
    for (bool present : {true, false}) {
        SimReset();
        Sim.cfgmgr.successWithoutNode = {SIM_CM_CHILD, SIM_CM_SIBLING, SIM_CM_PARENT};
        AddTypicalTree();
        if (present)
            SimAddNode(&Sim, 6, UhciKey, PiixId, PiixDescription);
        EXPECT_EQ(SearchUhci(), present ? SUPPORT_YES : SUPPORT_MAYBE);
        EXPECT_EQ(Sim.details.size(), present ? 3u : 0u);
        EXPECT_EQ(Sim.calls[SIM_CM_PROPERTY], Sim.cfgmgr.nodes.size() + (present ? 2u : 0u));
    }

    // A root that is "located" but not given: nothing is read.
    SimReset();
    AddTypicalTree();
    Sim.cfgmgr.rootLocates = false;
    Sim.cfgmgr.successWithoutNode = {SIM_CM_LOCATE};
    EXPECT_EQ(SearchUhci(), SUPPORT_MAYBE);
    EXPECT_EQ(Sim.calls[SIM_CM_LOCATE], 1u);
    EXPECT_EQ(Sim.calls[SIM_CM_PROPERTY], 0u);
}

TEST_F(HostControllerTest, WithoutTheWholeLibraryNoSearch)
{
    const char *const functions[] = {"CM_Locate_DevNodeA", "CM_Get_DevNode_Registry_PropertyA",
                                     "CM_Get_Child", "CM_Get_Sibling", "CM_Get_Parent"};
    for (const char *missing : functions) {
        SimReset();
        SimAddNode(&Sim, -1, UhciKey, PiixId, PiixDescription);
        Sim.cfgmgr.missing = {missing};
        EXPECT_EQ(SearchUhci(), SUPPORT_MAYBE) << missing;
        EXPECT_EQ(Sim.calls[SIM_CM_LOCATE] + Sim.calls[SIM_CM_PROPERTY], 0u) << missing;
        EXPECT_EQ(Sim.librariesFreed, 1u) << missing;
        EXPECT_TRUE(Sim.details.empty());
    }

    // With all five, each is looked up by its name.
    SimReset();
    SimAddNode(&Sim, -1, UhciKey, PiixId, PiixDescription);
    EXPECT_EQ(SearchUhci(), SUPPORT_YES);
    EXPECT_EQ(Sim.procsLookedUp, Lines(std::begin(functions), std::end(functions)));

    // No library, or no root.
    SimReset();
    EXPECT_EQ(SearchUhci(), SUPPORT_MAYBE);
    EXPECT_EQ(Sim.librariesLoaded, 0u);
    SimReset();
    SimAddNode(&Sim, -1, UhciKey, PiixId, PiixDescription);
    Sim.cfgmgr.rootLocates = false;
    EXPECT_EQ(SearchUhci(), SUPPORT_MAYBE);
    EXPECT_EQ(Sim.calls[SIM_CM_PROPERTY], 0u);
    EXPECT_EQ(Sim.librariesFreed, 1u);
}

TEST_F(HostControllerTest, TriesAllTenDevicesInOrder)
{
    SetVersion(PLATFORM_WIN32_WINDOWS, 4, 10);
    AddHcd(&Sim, 3, UhciKey);
    AddRootAndController();
    EXPECT_EQ(ProbeHostControllers(TheWindow, SUPPORT_UNKNOWN), SUPPORT_YES);
    EXPECT_EQ(Sim.openedPaths, (Lines{"\\\\.\\HCD0", "\\\\.\\HCD1", "\\\\.\\HCD2", "\\\\.\\HCD3",
                                      "\\\\.\\HCD4", "\\\\.\\HCD5", "\\\\.\\HCD6", "\\\\.\\HCD7",
                                      "\\\\.\\HCD8", "\\\\.\\HCD9"}));
    EXPECT_EQ(Sim.details, PiixGroup);
    ExpectOneDriverKeyRequest();
    EXPECT_EQ(Sim.librariesLoaded, 1u);
    EXPECT_TRUE(Sim.panel.empty());
}

TEST_F(HostControllerTest, EachControllerLoadsTheLibraryAfresh)
{
    SetVersion(PLATFORM_WIN32_NT, 5, 0);
    AddHcd(&Sim, 1, UhciKey);
    AddHcd(&Sim, 6, "{36FC9E60-C465-11CF-8056-444553540000}\\0001");
    AddHcd(&Sim, 9, "{36FC9E60-C465-11CF-8056-444553540000}\\0002");
    AddRootAndController();
    SimAddNode(&Sim, 0, "{36FC9E60-C465-11CF-8056-444553540000}\\0002", "PCI\\VEN_1033&DEV_0035",
               "NEC USB Open Host Controller");
    EXPECT_EQ(ProbeHostControllers(TheWindow, SUPPORT_UNKNOWN), SUPPORT_YES);
    // The controller at HCD6 is not in the tree, and 1066 is not added for it.
    Lines expected = PiixGroup;
    expected.insert(expected.end(), {"Found NEC Corporation (1033) USB host controller device 0035",
                                     "\tNEC USB Open Host Controller", ""});
    EXPECT_EQ(Sim.details, expected);
    EXPECT_EQ(Sim.librariesLoaded, 3u);
    EXPECT_EQ(Sim.calls[SIM_DEVICE_REQUEST], 3u);
}

TEST_F(HostControllerTest, UnlistedControllersFollowTheChipset)
{
    const struct { SupportFlags chipset; bool reported; } cases[] = {
        {SUPPORT_UNKNOWN, true}, {SUPPORT_YES, false}, {SUPPORT_MAYBE, false},
        {SUPPORT_UNKNOWN | SUPPORT_YES, false}, {0, false},
    };
    // Not in the tree, the request refused, the library missing, early Windows 95.
    for (int why = 0; why < 4; ++why) {
        for (const auto &c : cases) {
            SimReset();
            SetVersion(PLATFORM_WIN32_WINDOWS, 4, why == 3 ? 0 : 10);
            AddHcd(&Sim, 0, UhciKey);
            AddHcd(&Sim, 2, UhciKey);
            if (why == 0)
                SimAddNode(&Sim, -1, "{36FC9E60-C465-11CF-8056-444553540000}\\0001", PiixId);
            if (why == 1)
                Sim.hcds[0].requestSucceeds = Sim.hcds[1].requestSucceeds = false;
            SCOPED_TRACE(testing::Message() << why << " " << c.chipset);
            EXPECT_EQ(ProbeHostControllers(TheWindow, c.chipset), SUPPORT_YES);
            EXPECT_EQ(Sim.details, c.reported ? Lines({Unidentified, ""}) : Lines());
            EXPECT_EQ(Sim.calls[SIM_DEVICE_REQUEST], why == 3 ? 0u : 2u);
            EXPECT_EQ(Sim.librariesLoaded, why == 0 ? 2u : 0u);
        }
    }
}

TEST_F(HostControllerTest, NothingOpenedIsRatedByTheRelease)
{
    const struct { bool known; uint32_t platform, major, minor; SupportFlags rating; } cases[] = {
        {true, Win9x, 4, 10, SUPPORT_NO},      {true, Win9x, 4, 90, SUPPORT_NO},
        {true, Win9x, 5, 0, SUPPORT_NO},       {true, Win9x, 4, 0, SUPPORT_UNKNOWN},
        {true, Win9x, 3, 95, SUPPORT_UNKNOWN}, {true, WinNt, 4, 0, SUPPORT_UNKNOWN},
        {true, WinNt, 3, 51, SUPPORT_UNKNOWN}, {true, WinNt, 5, 0, SUPPORT_NO},
        {true, WinNt, 10, 0, SUPPORT_NO},      {true, PLATFORM_WIN32S, 3, 11, SUPPORT_NO},
        {true, 3, 4, 0, SUPPORT_NO},           {false, 0, 0, 0, SUPPORT_NO},
    };
    for (const auto &c : cases) {
        SimReset();
        if (c.known)
            SetVersion(c.platform, c.major, c.minor);
        // A driver present but refused at the open changes nothing.
        AddHcd(&Sim, 5, UhciKey);
        SimFailCall(SIM_OPEN_DEVICE, 6);
        for (SupportFlags chipset : {SUPPORT_UNKNOWN, SUPPORT_YES}) {
            Sim.calls[SIM_OPEN_DEVICE] = 0;
            EXPECT_EQ(ProbeHostControllers(TheWindow, chipset), c.rating)
                << c.platform << " " << c.major << "." << c.minor;
        }
        EXPECT_TRUE(Sim.details.empty());
        EXPECT_EQ(Sim.calls[SIM_DEVICE_REQUEST], 0u);
        EXPECT_EQ(Sim.librariesLoaded, 0u);
    }
}

TEST_F(HostControllerTest, AFailedOpenSkipsOnlyItsIndex)
{
    SetVersion(PLATFORM_WIN32_WINDOWS, 4, 10);
    AddHcd(&Sim, 0, "{36FC9E60-C465-11CF-8056-444553540000}\\0009");
    AddHcd(&Sim, 9, UhciKey);
    SimAddNode(&Sim, -1, UhciKey, PiixId, PiixDescription);
    SimFailCall(SIM_OPEN_DEVICE, 1);
    EXPECT_EQ(ProbeHostControllers(TheWindow, SUPPORT_UNKNOWN), SUPPORT_YES);
    EXPECT_EQ(Sim.calls[SIM_OPEN_DEVICE], 10u);
    EXPECT_EQ(Sim.calls[SIM_DEVICE_REQUEST], 1u);
    EXPECT_EQ(Sim.details, PiixGroup);
}

}  // namespace
