// Scenario files read into the simulated machine, and the simulator's report lines.
#include "dump/record.h"
#include "sim/report_out.h"
#include "sim/scenario.h"
#include "tests/support/verdict_rules.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::_, ::testing::ElementsAre, ::testing::EndsWith, ::testing::FieldsAre;

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
    return std::string(bytes.begin(), bytes.end());
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
    // Major, minor, build, platform, service pack.
    EXPECT_THAT(m.version, FieldsAre(4u, 10u, 0xFFFFFFFFu, 0xFFFFFFFFu, _));
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
    // Key opens, value present, bytes, type.
    SimMachine m = Parse(R"({"registry": {"9x": "4.10.\u00fc\u0000x", "nt": null}})");
    EXPECT_THAT(m.registry9x, FieldsAre(true, true, Bytes({'4', '.', '1', '0', '.', 0xFC, 0}), _));
    EXPECT_THAT(m.registryNt, FieldsAre(true, false, _, _));

    m = Parse(R"({"registry": {"nt": {"bytes": "00ff7A"}}})");
    EXPECT_FALSE(m.registry9x.keyOpens);
    EXPECT_THAT(m.registryNt, FieldsAre(_, true, Bytes({0x00, 0xFF, 0x7A}), _));
}

TEST(Scenario, PortsAndPciFunctions)
{
    SimMachine m = Parse(R"({"ports": "denied", "pci": [
        {"device": 7, "function": 2, "id": "0x71128086"},
        {"bus": "0x1", "device": 31, "function": 7, "id": 305419896}]})");
    EXPECT_TRUE(m.portsDenied);
    // Bus, device, function, ID.
    EXPECT_THAT(m.pci, ElementsAre(FieldsAre(0u, 7u, 2u, 0x71128086u),
                                   FieldsAre(1u, 31u, 7u, 0x12345678u)));
    EXPECT_FALSE(Parse(R"({"ports": "allowed"})").portsDenied);
}

TEST(Scenario, DriverKeyReplies)
{
    struct { std::string text, reply; } cases[] = {
        {"", Bytes({6, 0, 0, 0, 0, 0})}, {"AB", Bytes({10, 0, 0, 0, 'A', 0, 'B', 0, 0, 0})},
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
    // Index, request succeeds, reply, count; a reply beyond 256 bytes fails the request.
    EXPECT_THAT(m.hcds,
                ElementsAre(FieldsAre(3, true, Bytes({10, 0, 0, 0, 'A', 0, 'B', 0, 0, 0}), 10u),
                            FieldsAre(0, false, _, _), FieldsAre(9, true, Bytes({1, 0, 0, 0, 'A'}), 5u),
                            FieldsAre(5, false, _, _)));
}

TEST(Scenario, ConfigurationManagerWithoutTree)
{
    SimMachine m = Parse(R"({"cfgmgr": {}})");
    EXPECT_TRUE(m.cfgmgr.present);
    EXPECT_TRUE(m.cfgmgr.rootLocates);
    EXPECT_TRUE(m.cfgmgr.missing.empty());
    // Invalid, the three properties present, their bytes, parent, children.
    EXPECT_THAT(m.cfgmgr.nodes,
                ElementsAre(FieldsAre(_, false, false, false, _, _, _, -1, ElementsAre())));

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
    // Invalid, driver, hardware ID and description present, their bytes, parent, children.
    EXPECT_THAT(m.cfgmgr.nodes,
                ElementsAre(FieldsAre(_, _, false, _, std::string("root", 5), _, _, -1,
                                      ElementsAre(1, 3)),
                            FieldsAre(_, _, _, false, std::string("a", 2),
                                      std::string("PCI\\VEN_8086\0\0", 14), _, 0, ElementsAre(2)),
                            FieldsAre(_, false, _, _, _, std::string("X\0\0Y\0\0", 6),
                                      Bytes({'c', 'a', 'f', 0xE9, 0}), 1, ElementsAre()),
                            FieldsAre(_, _, true, _, _, std::string("\0", 1), _, 0, _)));
}

TEST(Scenario, BadScenariosNameTheFileThePlaceAndTheFault)
{
    const struct { const char *text, *message; } cases[] = {
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
    EXPECT_THAT(m.registryNt, FieldsAre(_, _, Bytes({1, 0, 0, 0}), 4u));
    EXPECT_THAT(m.hcds, ElementsAre(FieldsAre(_, _, Bytes({10, 0, 0, 0}), 300u)));
    EXPECT_THAT(m.cfgmgr.nodes, ElementsAre(FieldsAre(_, _, _, true, Bytes({'a', 0}),
                                                      Bytes({'*', 'P', 'N', 'P', 0}), "", _, _)));
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
        if (levels == SCENARIO_TREE_DEPTH) {
            EXPECT_TRUE(read) << error;
            EXPECT_EQ(machine.cfgmgr.nodes.size(), (size_t)levels);
        } else {
            EXPECT_FALSE(read);
            EXPECT_THAT(error, EndsWith(": the tree is deeper than 256 levels"));
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
    const struct { std::string text; const char *shown; } cases[] = {
        {"plain \"text\" ~!", "plain \"text\" ~!"}, {"\r\n\t\\", "\\r\\n\\t\\\\"},
        {Bytes({0x00, 0x01, 0x1F, 0x7F, 0x80, 0xE9, 0xFF}), "\\x00\\x01\\x1f\\x7f\\x80\\xe9\\xff"},
        {"\\x41", "\\\\x41"}, {"", ""},
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
    machine.iconsLoaded = RuledFrames(RuledChangesRecommended);
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
