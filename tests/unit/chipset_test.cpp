// The chipset probe against simulated configuration space: addresses, search order, outcomes
// and what a denied or failing port leaves behind.
#include "tests/support/fake_test.h"
#include "probes/chipset.h"
#include "report/messages.h"
#include "tests/support/invariants.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const uint32_t PIIX3_BRIDGE = 0x70008086, PIIX3_USB = 0x70208086, PIIX4_USB = 0x71128086;
const uint32_t OPTI_USB = 0xC8611045, ALI_USB = 0x523710B9;

const std::string Bridge = CatalogueText(MSG_PIIX3_BRIDGE), Blank;
const std::string UsbEnabled = CatalogueText(MSG_PIIX3_USB_ENABLED),
                  UsbDisabled = CatalogueText(MSG_PIIX3_USB_DISABLED);
const std::string Piix4 = CatalogueText(MSG_PIIX4_USB), Opti = CatalogueText(MSG_OPTI_USB),
                  Ali = CatalogueText(MSG_ALI_USB);
const std::string Piix3Paragraph = CatalogueParagraph(MSG_INFO_OS_95_UNSUPPORTED);

struct ChipsetTest : FakeTest {
    void SetUp() override
    {
        FakeTest::SetUp();
        SetVersion(PLATFORM_WIN32_WINDOWS, 4, 10, 0x040A08AE, " A ");
    }

    void Place(uint32_t device, uint32_t function, uint32_t id, uint32_t bus = 0)
    {
        Sim.pci.push_back({bus, device, function, id});
    }
};

TEST_F(ChipsetTest, AddressesRunDevicesWithinFunctions)
{
    // With nothing present, the n-th read of the first search belongs to function (n-1)/32 and
    // device (n-1)%32; failing it leaves that address in the address port.
    struct { uint32_t device, function, address; } const cases[] = {
        {0, 0, 0x80000000}, {1, 0, 0x80000800}, {0, 1, 0x80000100},
        {7, 2, 0x80003A00}, {31, 0, 0x8000F800}, {31, 7, 0x8000FF00},
    };
    for (const auto &c : cases) {
        SimReset();
        uint32_t read = c.function * 32 + c.device + 1;
        SimFailCall(SIM_PORT_READ, read);
        bool denied = false;
        EXPECT_EQ(FindPciDevice(PIIX4_USB, &denied), 0u);
        EXPECT_TRUE(denied);
        EXPECT_EQ(Sim.portAddress, c.address) << "device " << c.device << " function " << c.function;
        EXPECT_EQ(Sim.portWrites, read);
        EXPECT_EQ(Sim.portReads, read);
    }
}

TEST_F(ChipsetTest, AFullSearchEndsAtDevice31Function7)
{
    bool denied = false;
    EXPECT_EQ(FindPciDevice(PIIX4_USB, &denied), 0u);
    EXPECT_FALSE(denied);
    EXPECT_EQ(Sim.portAddress, 0x8000FF00u);
    EXPECT_EQ(Sim.portWrites, 256u);
    EXPECT_EQ(Sim.portReads, 256u);
}

TEST_F(ChipsetTest, OnlyBusZeroIsSearched)
{
    struct { uint32_t bus, device, function, found; } const cases[] = {
        {0, 7, 2, PIIX4_USB}, {0, 0, 0, PIIX4_USB}, {0, 31, 7, PIIX4_USB},
        {1, 7, 2, 0},         {1, 0, 0, 0},         {255, 31, 7, 0},
    };
    for (const auto &c : cases) {
        SimReset();
        Place(c.device, c.function, PIIX4_USB, c.bus);
        bool denied = false;
        EXPECT_EQ(FindPciDevice(PIIX4_USB, &denied), c.found)
            << "bus " << c.bus << " device " << c.device << " function " << c.function;
        EXPECT_EQ(FindPciDevice(PIIX3_USB, &denied), 0u);
    }
}

TEST_F(ChipsetTest, AFindShortensOnlyItsOwnFunctionNumber)
{
    // Reads of the one search for the PIIX-4 controller at each position.
    struct { uint32_t device, function, reads; } const cases[] = {
        {0, 0, 1 + 7 * 32},   {31, 0, 256},          {7, 2, 64 + 8 + 5 * 32},
        {0, 1, 32 + 1 + 192}, {0, 7, 7 * 32 + 1},    {31, 7, 256},
    };
    for (const auto &c : cases) {
        SimReset();
        Place(c.device, c.function, PIIX4_USB);
        bool denied = false;
        EXPECT_EQ(FindPciDevice(PIIX4_USB, &denied), PIIX4_USB);
        EXPECT_EQ(Sim.portReads, c.reads) << "device " << c.device << " function " << c.function;
        EXPECT_EQ(Sim.portWrites, c.reads);
    }
}

TEST_F(ChipsetTest, OutcomesFollowTheTestsNotTheBus)
{
    // The bus as PCI functions (bus, device, function, ID); the version is known unless the
    // case says otherwise, and without it the searches are made anyway.
    struct { const char *name; std::vector<SimPciFunction> bus; std::vector<std::string> details;
             bool paragraph; SupportFlags rating; uint32_t reads; bool versionKnown = true;
    } const cases[] = {
        {"nothing", {}, {}, false, SUPPORT_UNKNOWN, 1024},
        {"foreign devices", {{0, 0, 0, 0x12378086}, {0, 1, 1, 0x70108086}}, {}, false,
         SUPPORT_UNKNOWN, 1024},
        {"PIIX-3 with USB", {{0, 7, 0, PIIX3_BRIDGE}, {0, 7, 2, PIIX3_USB}},
         {Bridge, UsbEnabled, Blank}, false, SUPPORT_YES, 232 + 232 + 768},
        {"PIIX-3 without USB", {{0, 7, 0, PIIX3_BRIDGE}}, {Bridge, UsbDisabled, Blank}, true,
         SUPPORT_MAYBE, 232 + 256 + 768},
        {"PIIX-3 without USB and an ALi", {{0, 7, 0, PIIX3_BRIDGE}, {0, 9, 0, ALI_USB}},
         {Bridge, UsbDisabled, Blank, Ali, Blank}, true, SUPPORT_YES, 232 + 256 + 512 + 234},
        {"PIIX-3 USB without the bridge", {{0, 7, 2, PIIX3_USB}}, {}, false, SUPPORT_UNKNOWN, 1024},
        {"PIIX-4", {{0, 7, 2, PIIX4_USB}}, {Piix4, Blank}, false, SUPPORT_YES, 1000},
        {"PIIX-4 without a version", {{0, 7, 2, PIIX4_USB}}, {Piix4, Blank}, false, SUPPORT_YES,
         1000, false},
        {"OPTi", {{0, 3, 0, OPTI_USB}}, {Opti, Blank}, false, SUPPORT_YES, 768 + 228},
        // The bus order is the reverse of the tests' order.
        {"ALi, OPTi and PIIX-4 downwards",
         {{0, 1, 0, ALI_USB}, {0, 2, 0, OPTI_USB}, {0, 3, 0, PIIX4_USB}},
         {Piix4, Blank, Opti, Blank, Ali, Blank}, false, SUPPORT_YES, 256 + 228 + 227 + 226},
        {"everything", {{0, 7, 0, PIIX3_BRIDGE}, {0, 7, 2, PIIX3_USB}, {0, 8, 0, PIIX4_USB},
                        {0, 9, 0, OPTI_USB}, {0, 10, 0, ALI_USB}},
         {Bridge, UsbEnabled, Blank, Piix4, Blank, Opti, Blank, Ali, Blank}, false, SUPPORT_YES,
         232 + 232 + 233 + 234 + 235},
        {"the same ID twice", {{0, 4, 0, PIIX4_USB}, {0, 7, 2, PIIX4_USB}}, {Piix4, Blank}, false,
         SUPPORT_YES, 768 + 5 + 32 + 8 + 160},
        {"on bus 1 only", {{1, 7, 0, PIIX3_BRIDGE}, {1, 7, 2, PIIX4_USB}}, {}, false,
         SUPPORT_UNKNOWN, 1024},
        {"bridge without USB, PIIX-4 and ALi",
         {{0, 7, 0, PIIX3_BRIDGE}, {0, 7, 2, PIIX4_USB}, {0, 9, 0, ALI_USB}},
         {Bridge, UsbDisabled, Blank, Piix4, Blank, Ali, Blank}, true, SUPPORT_YES,
         232 + 256 + 232 + 256 + 234},
    };
    for (const auto &c : cases) {
        SetUp();
        Sim.versionKnown = c.versionKnown;
        Sim.pci = c.bus;
        EXPECT_EQ(ProbeChipset(TheWindow), c.rating) << c.name;
        EXPECT_EQ(Sim.details, c.details) << c.name;
        EXPECT_EQ(Sim.panel, c.paragraph ? Piix3Paragraph : std::string()) << c.name;
        EXPECT_EQ(Sim.portReads, c.reads) << c.name;
        EXPECT_EQ(Sim.portWrites, c.reads) << c.name;
        EXPECT_EQ(Sim.portFaults, 0u) << c.name;
    }
}

// The NT platform touches no port; on Windows 98 (an NT major version of 0 in the table),
// denied ports cost one write and write nothing.
TEST_F(ChipsetTest, TheNtPlatformTouchesNoPortAndDeniedPortsOneWrite)
{
    const struct { uint32_t ntMajor, writes; } cases[] = {{3, 0}, {4, 0}, {5, 0}, {10, 0}, {0, 1}};
    for (const auto &c : cases) {
        SetUp();
        if (c.ntMajor != 0)
            SetVersion(PLATFORM_WIN32_NT, c.ntMajor, 0, 1381, "Service Pack 6a");
        else
            Sim.portsDenied = true;
        Sim.pci = {{0, 7, 0, PIIX3_BRIDGE}, {0, 7, 2, PIIX4_USB}};
        EXPECT_EQ(ProbeChipset(TheWindow), SUPPORT_UNKNOWN);
        EXPECT_EQ(Sim.portWrites, c.writes) << c.ntMajor;
        EXPECT_EQ(Sim.portReads, 0u) << c.ntMajor;
        EXPECT_EQ(Sim.portFaults, c.writes) << c.ntMajor;
        EXPECT_TRUE(Sim.details.empty());
        EXPECT_EQ(Sim.panel, "");
    }
}

TEST_F(ChipsetTest, ADeniedSearchDoesNotTouchThePortsAgain)
{
    Place(7, 2, PIIX4_USB);
    bool denied = true;
    EXPECT_EQ(FindPciDevice(PIIX4_USB, &denied), 0u);
    EXPECT_TRUE(denied);
    EXPECT_EQ(Sim.portWrites + Sim.portReads, 0u);
}

TEST_F(ChipsetTest, AFaultMidSearchKeepsWhatWasFound)
{
    // Bridge at 7.0, no PIIX-3 USB function, PIIX-4 at 7.2 and ALi at 9.0: the searches take
    // 232, 256, 232, 256 and 234 reads; the bridge is the 8th read of its search, the PIIX-4 the
    // 72nd and the ALi the 10th.
    struct { const char *name; SimOp op; uint32_t call; std::vector<std::string> details;
             bool paragraph; SupportFlags rating; } const cases[] = {
        {"first read", SIM_PORT_READ, 1, {}, false, SUPPORT_UNKNOWN},
        {"read before the bridge's", SIM_PORT_READ, 7, {}, false, SUPPORT_UNKNOWN},
        {"last read of the bridge search", SIM_PORT_READ, 232, {Bridge, Blank}, false,
         SUPPORT_UNKNOWN},
        {"in the USB function search", SIM_PORT_READ, 232 + 100, {Bridge, Blank}, false,
         SUPPORT_UNKNOWN},
        {"in the PIIX-4 search", SIM_PORT_WRITE, 488 + 1, {Bridge, UsbDisabled, Blank}, true,
         SUPPORT_MAYBE},
        {"in the OPTi search", SIM_PORT_READ, 720 + 256,
         {Bridge, UsbDisabled, Blank, Piix4, Blank}, true, SUPPORT_YES},
        {"last read of all", SIM_PORT_READ, 976 + 234,
         {Bridge, UsbDisabled, Blank, Piix4, Blank, Ali, Blank}, true, SUPPORT_YES},
    };
    for (const auto &c : cases) {
        SetUp();
        Sim.pci = {{0, 7, 0, PIIX3_BRIDGE}, {0, 7, 2, PIIX4_USB}, {0, 9, 0, ALI_USB}};
        SimFailCall(c.op, c.call);
        EXPECT_EQ(ProbeChipset(TheWindow), c.rating) << c.name;
        EXPECT_EQ(Sim.details, c.details) << c.name;
        EXPECT_EQ(Sim.panel, c.paragraph ? Piix3Paragraph : std::string()) << c.name;
        EXPECT_EQ(Sim.portFaults, 1u) << c.name;
        // Nothing after the failed operation: with a failed read the write before it counted.
        uint32_t attempted = c.op == SIM_PORT_READ ? Sim.portReads : Sim.portWrites;
        EXPECT_EQ(attempted, c.call) << c.name;
        EXPECT_EQ(Sim.portWrites, c.call) << c.name;
    }
}

}  // namespace
