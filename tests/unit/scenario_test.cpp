// Scenario files read into the simulated machine, and the simulator's report lines.
#include "dump/record.h"
#include "sim/report_out.h"
#include "sim/scenario.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

SimMachine Parse(const std::string &text)
{
    SimMachine machine;
    std::string error;
    EXPECT_TRUE(ParseScenario(text, "t.json", &machine, &error)) << error;
    EXPECT_EQ(error, "");
    return machine;
}

std::string Bytes(std::initializer_list<int> bytes)
{
    std::string out;
    for (int b : bytes)
        out.push_back((char)b);
    return out;
}

TEST(Scenario, AnEmptyScenarioIsAnEmptyMachine)
{
    SimMachine m = Parse("{}");
    EXPECT_FALSE(m.versionKnown);
    EXPECT_FALSE(m.registry9x.keyOpens);
    EXPECT_FALSE(m.registryNt.keyOpens);
    EXPECT_FALSE(m.portsDenied);
    EXPECT_TRUE(m.pci.empty());
    EXPECT_TRUE(m.hcds.empty());
    EXPECT_FALSE(m.cfgmgr.present);
}

TEST(Scenario, VersionNumbersAndServicePackText)
{
    SimMachine m = Parse(R"({"version": {"major": 4, "minor": "0xA", "build": "0xffffFFFF",
        "platform": 4294967295, "csd": " A\u0000B"}})");
    EXPECT_TRUE(m.versionKnown);
    EXPECT_EQ(m.version.major, 4u);
    EXPECT_EQ(m.version.minor, 10u);
    EXPECT_EQ(m.version.build, 0xFFFFFFFFu);
    EXPECT_EQ(m.version.platform, 0xFFFFFFFFu);
    EXPECT_STREQ(m.version.csd, " A");

    m = Parse(R"({"version": {"platform": 2}})");
    EXPECT_TRUE(m.versionKnown);
    EXPECT_EQ(m.version.major, 0u);
    EXPECT_STREQ(m.version.csd, "");

    // 127 characters fit, counted as code page 1252 bytes: the e-acute is one of them.
    m = Parse("{\"version\": {\"csd\": \"\xC3\xA9" + std::string(126, 'x') + "\"}}");
    EXPECT_EQ(strlen(m.version.csd), 127u);
    EXPECT_EQ((unsigned char)m.version.csd[0], 0xE9);
}

TEST(Scenario, RegistryValues)
{
    SimMachine m = Parse(R"({"registry": {"9x": "4.10.\u00fc\u0000x", "nt": null}})");
    EXPECT_TRUE(m.registry9x.keyOpens);
    EXPECT_TRUE(m.registry9x.present);
    EXPECT_EQ(m.registry9x.bytes, Bytes({'4', '.', '1', '0', '.', 0xFC, 0}));
    EXPECT_TRUE(m.registryNt.keyOpens);
    EXPECT_FALSE(m.registryNt.present);

    m = Parse(R"({"registry": {"nt": {"bytes": "00ff7A"}}})");
    EXPECT_FALSE(m.registry9x.keyOpens);
    EXPECT_TRUE(m.registryNt.present);
    EXPECT_EQ(m.registryNt.bytes, Bytes({0x00, 0xFF, 0x7A}));
}

TEST(Scenario, PortsAndPciFunctions)
{
    SimMachine m = Parse(R"({"ports": "denied", "pci": [
        {"device": 7, "function": 2, "id": "0x71128086"},
        {"bus": "0x1", "device": 31, "function": 7, "id": 305419896}]})");
    EXPECT_TRUE(m.portsDenied);
    ASSERT_EQ(m.pci.size(), 2u);
    EXPECT_EQ(m.pci[0].bus, 0u);
    EXPECT_EQ(m.pci[0].device, 7u);
    EXPECT_EQ(m.pci[0].function, 2u);
    EXPECT_EQ(m.pci[0].id, 0x71128086u);
    EXPECT_EQ(m.pci[1].bus, 1u);
    EXPECT_EQ(m.pci[1].device, 31u);
    EXPECT_EQ(m.pci[1].function, 7u);
    EXPECT_EQ(m.pci[1].id, 0x12345678u);
    EXPECT_FALSE(Parse(R"({"ports": "allowed"})").portsDenied);
}

TEST(Scenario, DriverKeyReplies)
{
    struct {
        std::string text;
        std::string reply;
    } cases[] = {
        {"", Bytes({6, 0, 0, 0, 0, 0})},
        {"AB", Bytes({10, 0, 0, 0, 'A', 0, 'B', 0, 0, 0})},
        {"\xC3\xA9\xE2\x82\xAC", Bytes({10, 0, 0, 0, 0xE9, 0, 0xAC, 0x20, 0, 0})},
        // Outside the basic plane: a surrogate pair.
        {"\xF0\x9F\x98\x80", Bytes({10, 0, 0, 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0})},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HcdDriverKeyReply(c.text), c.reply) << c.text;

    // 125 units fill the 256 bytes exactly; one more does not fit.
    std::string full = HcdDriverKeyReply(std::string(125, 'k'));
    ASSERT_EQ(full.size(), 256u);
    EXPECT_EQ(full.substr(0, 4), Bytes({0, 1, 0, 0}));
    EXPECT_EQ(full.substr(250), Bytes({'k', 0, 'k', 0, 0, 0}));
    EXPECT_EQ(HcdDriverKeyReply(std::string(126, 'k')), "");
}

TEST(Scenario, HostControllerDevices)
{
    SimMachine m = Parse(R"({"hcd": [
        {"index": 3, "driverKey": "AB\u0000CD"},
        {"index": 0, "driverKey": null},
        {"index": "0x9", "driverKey": {"bytes": "0100000041"}},
        {"index": 5, "driverKey": ")" + std::string(126, 'k') + R"("}]})");
    ASSERT_EQ(m.hcds.size(), 4u);
    EXPECT_EQ(m.hcds[0].index, 3);
    EXPECT_TRUE(m.hcds[0].requestSucceeds);
    EXPECT_EQ(m.hcds[0].reply, Bytes({10, 0, 0, 0, 'A', 0, 'B', 0, 0, 0}));
    EXPECT_EQ(m.hcds[0].replyCount, 10u);
    EXPECT_EQ(m.hcds[1].index, 0);
    EXPECT_FALSE(m.hcds[1].requestSucceeds);
    EXPECT_EQ(m.hcds[2].index, 9);
    EXPECT_TRUE(m.hcds[2].requestSucceeds);
    EXPECT_EQ(m.hcds[2].reply, Bytes({1, 0, 0, 0, 'A'}));
    EXPECT_EQ(m.hcds[2].replyCount, 5u);
    EXPECT_EQ(m.hcds[3].index, 5);
    EXPECT_FALSE(m.hcds[3].requestSucceeds) << "a reply beyond 256 bytes fails the request";
}

TEST(Scenario, ConfigurationManagerWithoutTree)
{
    SimMachine m = Parse(R"({"cfgmgr": {}})");
    EXPECT_TRUE(m.cfgmgr.present);
    EXPECT_TRUE(m.cfgmgr.rootLocates);
    EXPECT_TRUE(m.cfgmgr.missing.empty());
    ASSERT_EQ(m.cfgmgr.nodes.size(), 1u);
    const SimNode &root = m.cfgmgr.nodes[0];
    EXPECT_FALSE(root.hasDriver || root.hasHardwareId || root.hasDescription);
    EXPECT_EQ(root.parent, -1);
    EXPECT_TRUE(root.children.empty());

    m = Parse(R"({"cfgmgr": {"root": false, "missing": ["CM_Get_Parent", "CM_Locate_DevNodeA"]}})");
    EXPECT_FALSE(m.cfgmgr.rootLocates);
    EXPECT_EQ(m.cfgmgr.missing, (std::vector<std::string>{"CM_Get_Parent", "CM_Locate_DevNodeA"}));
}

TEST(Scenario, DeviceTreeInPreOrderWithLinks)
{
    SimMachine m = Parse(R"({"cfgmgr": {"tree": {"driver": "root", "children": [
        {"driver": "a", "hardwareId": "PCI\\VEN_8086", "children": [
            {"description": "caf\u00e9", "hardwareId": ["X", "", "Y\u0000Z"]}]},
        {"hardwareId": [], "children": []}]}}})");
    const std::vector<SimNode> &nodes = m.cfgmgr.nodes;
    ASSERT_EQ(nodes.size(), 4u);
    EXPECT_EQ(nodes[0].parent, -1);
    EXPECT_EQ(nodes[0].children, (std::vector<int>{1, 3}));
    EXPECT_EQ(nodes[1].parent, 0);
    EXPECT_EQ(nodes[1].children, std::vector<int>{2});
    EXPECT_EQ(nodes[2].parent, 1);
    EXPECT_TRUE(nodes[2].children.empty());
    EXPECT_EQ(nodes[3].parent, 0);

    EXPECT_EQ(nodes[0].driver, std::string("root", 5));
    EXPECT_FALSE(nodes[0].hasHardwareId);
    EXPECT_EQ(nodes[1].driver, std::string("a", 2));
    EXPECT_EQ(nodes[1].hardwareId, std::string("PCI\\VEN_8086\0\0", 14));
    EXPECT_FALSE(nodes[1].hasDescription);
    EXPECT_FALSE(nodes[2].hasDriver);
    EXPECT_EQ(nodes[2].description, Bytes({'c', 'a', 'f', 0xE9, 0}));
    EXPECT_EQ(nodes[2].hardwareId, std::string("X\0\0Y\0\0", 6));
    EXPECT_TRUE(nodes[3].hasHardwareId);
    EXPECT_EQ(nodes[3].hardwareId, std::string("\0", 1));
}

TEST(Scenario, BadScenariosNameTheFileThePlaceAndTheFault)
{
    const struct {
        const char *text;
        const char *message;
    } cases[] = {
        {"{\n  \"version\": {\n    \"major\": 4,,\n  }\n}",
         "t.json: line 3, column 16: not valid JSON: syntax error while parsing object key - "
         "unexpected ','; expected string literal"},
        {R"({"pci": [{"device": 1, "function": 0, "id": 1}, {"device": 1, "function": 0, "id": 2}]})",
         "t.json: pci[1]: bus 0, device 1, function 0 is already given by pci[0]"},
        {R"({"hcd": [{"index": 1, "driverKey": null}, {"index": 1, "driverKey": null}]})",
         "t.json: hcd[1].index: index 1 is already given by hcd[0]"},
        {R"({"cfgmgr": {"tree": {"children": [{"children": [{"driver": "a", "driver": "b"}]}]}}})",
         "t.json: cfgmgr.tree.children[0].children[0]: the key \"driver\" is given twice"},
    };
    for (const auto &c : cases) {
        SimMachine machine;
        std::string error;
        EXPECT_FALSE(ParseScenario(c.text, "t.json", &machine, &error));
        EXPECT_EQ(error, c.message);
    }
}

// What QVDUMP records where a text cannot say it: the bytes as handed out, a registry value's
// type, the count a driver reports.
TEST(Scenario, RawAnswers)
{
    SimMachine m = Parse(R"({"version": {"csd": {"bytes": "41E90042"}},
        "registry": {"nt": {"bytes": "01000000", "type": 4}},
        "hcd": [{"index": 0, "driverKey": {"bytes": "0A000000", "count": 300}}],
        "cfgmgr": {"tree": {"driver": {"bytes": "6100"}, "hardwareId": {"bytes": "2A504E5000"},
                            "description": {"bytes": ""}}}})");
    EXPECT_STREQ(m.version.csd, "A\xE9");
    EXPECT_EQ(m.registryNt.bytes, Bytes({1, 0, 0, 0}));
    EXPECT_EQ(m.registryNt.type, 4u);
    EXPECT_EQ(m.hcds[0].reply, Bytes({10, 0, 0, 0}));
    EXPECT_EQ(m.hcds[0].replyCount, 300u);
    const SimNode &root = m.cfgmgr.nodes[0];
    EXPECT_EQ(root.driver, Bytes({'a', 0}));
    EXPECT_EQ(root.hardwareId, Bytes({'*', 'P', 'N', 'P', 0}));
    EXPECT_TRUE(root.hasDescription);
    EXPECT_EQ(root.description, "");
}

// Each level of the tree takes the reader a stack frame: a tree deeper than a scenario holds is
// refused, not read until the stack runs out.
TEST(Scenario, ATreeDeeperThanAScenarioHoldsIsRefused)
{
    for (int levels : {(int)SCENARIO_TREE_DEPTH, (int)SCENARIO_TREE_DEPTH + 1}) {
        std::string tree = "{}";
        for (int level = 1; level < levels; ++level)
            tree = R"({"children": [)" + tree + "]}";
        SimMachine machine;
        std::string error;
        bool read =
            ParseScenario(R"({"cfgmgr": {"tree": )" + tree + "}}", "t.json", &machine, &error);
        const std::string refusal = ": the tree is deeper than 256 levels";
        if (levels == SCENARIO_TREE_DEPTH) {
            EXPECT_TRUE(read) << error;
            EXPECT_EQ(machine.cfgmgr.nodes.size(), (size_t)levels);
        } else {
            EXPECT_FALSE(read);
            EXPECT_EQ(error.substr(error.size() - std::min(error.size(), refusal.size())), refusal);
        }
    }
}

TEST(Scenario, AFileThatCannotBeRead)
{
    SimMachine machine;
    std::string error;
    EXPECT_FALSE(ReadScenarioFile("/nonexistent/x.json", &machine, &error));
    EXPECT_EQ(error, "/nonexistent/x.json: cannot be opened: No such file or directory");
}

TEST(Report, Escaping)
{
    const struct {
        std::string text;
        const char *shown;
    } cases[] = {
        {"plain \"text\" ~!", "plain \"text\" ~!"},
        {"\r\n\t\\", "\\r\\n\\t\\\\"},
        {Bytes({0x00, 0x01, 0x1F, 0x7F, 0x80, 0xE9, 0xFF}), "\\x00\\x01\\x1f\\x7f\\x80\\xe9\\xff"},
        {"\\x41", "\\\\x41"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(EscapeReportText(c.text), c.shown);
}

TEST(Report, LinesInOrder)
{
    SimMachine machine;
    machine.headline = "Head\r\nline";
    machine.panel = "P\r\n\r\n";
    machine.details = {"first", "", "\tsecond"};
    for (int frame = 1; frame <= 16; ++frame)
        machine.iconsLoaded.push_back("USBMAYB" + std::to_string(frame));
    machine.portWrites = 1024;
    machine.portReads = 1000;
    machine.portFaults = 3;
    CheckRatings ratings = {SUPPORT_MAYBE, SUPPORT_UNKNOWN, SUPPORT_MAYBE | SUPPORT_UNKNOWN};
    EXPECT_EQ(FormatReport(machine, ratings),
              "verdict: changes-recommended\n"
              "headline: Head\\r\\nline\n"
              "frames: USBMAYB\n"
              "rating: os=0x02 hardware=0x10 combined=0x12\n"
              "panel: P\\r\\n\\r\\n\n"
              "detail: first\n"
              "detail: \n"
              "detail: \\tsecond\n"
              "ports: writes=1024 reads=1000 faults=3\n");
}

TEST(Report, FramesShowEverySetLoadedAndNothingWhenNoneWas)
{
    SimMachine machine;
    CheckRatings ratings = {SUPPORT_NO, SUPPORT_NO, SUPPORT_NO};
    std::string report = FormatReport(machine, ratings);
    EXPECT_NE(report.find("\nframes: \n"), std::string::npos) << report;
    EXPECT_EQ(report.substr(0, 23), "verdict: not-supported\n");

    machine.iconsLoaded = {"USBNO1", "USBNO2", "USBYES16", "USBNO3"};
    report = FormatReport(machine, ratings);
    EXPECT_NE(report.find("\nframes: USBNO USBYES\n"), std::string::npos) << report;
}

}  // namespace
