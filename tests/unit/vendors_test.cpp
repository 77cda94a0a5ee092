// The PCI vendor name table: its contents against the vendor list, its order and the lookup.
#include "platform/sim/sim.h"
#include "probes/vendors.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

using ::testing::FieldsAre, ::testing::StrEq;

size_t TableSize()
{
    size_t n = 0;
    while (PciVendorTable[n].id != 0)
        ++n;
    return n;
}

std::string NameOf(int32_t id)
{
    const PciVendor *vendor = FindPciVendor(id);
    return vendor == nullptr ? std::string("(none)") : std::string(vendor->name);
}

TEST(PciVendorTable, HoldsTheVendorListEntryForEntry)
{
    // The vendor list the build generates the table from.
    std::ifstream list(QORVALIN_VENDOR_LIST);
    ASSERT_TRUE(list.is_open()) << QORVALIN_VENDOR_LIST;
    std::string line;
    size_t n = 0;
    while (std::getline(list, line)) {
        size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        ASSERT_LT(n, TableSize()) << "the table ends before " << line;
        EXPECT_EQ(PciVendorTable[n].id, std::stoul(line.substr(0, tab), nullptr, 16)) << line;
        EXPECT_EQ(PciVendorTable[n].name, SimUtf8ToCp1252(line.substr(tab + 1))) << line;
        ++n;
    }
    EXPECT_EQ(n, TableSize());
}

TEST(PciVendorTable, Has803EntriesAndTheTerminator)
{
    ASSERT_EQ(TableSize(), 803u);
    EXPECT_THAT(PciVendorTable[803], FieldsAre(0, StrEq("End")));
    EXPECT_THAT(PciVendorTable[0], FieldsAre(0x1217, StrEq("2 Micro Inc")));
    EXPECT_THAT(PciVendorTable[802], FieldsAre(0x1031, StrEq("miro Computer Products AG")));
}

TEST(PciVendorTable, IsInByteOrderOfTheNames)
{
    for (size_t i = 1; i < TableSize(); ++i) {
        // strcmp compares as unsigned char, so the e-acute (0xE9) sorts after every ASCII letter.
        EXPECT_LE(strcmp(PciVendorTable[i - 1].name, PciVendorTable[i].name), 0)
            << PciVendorTable[i - 1].name << " before " << PciVendorTable[i].name;
    }
    // The three lower-case initials close the table.
    EXPECT_STREQ(PciVendorTable[800].name, "adaptec");
    EXPECT_STREQ(PciVendorTable[801].name, "c't Magazin fr Computertechnik");
}

TEST(PciVendorTable, NamesAreShortCodePage1252Texts)
{
    bool sawEAcute = false;
    for (size_t i = 0; i < TableSize(); ++i) {
        const char *name = PciVendorTable[i].name;
        EXPECT_GT(strlen(name), 0u);
        EXPECT_LE(strlen(name), 80u) << name;
        for (const unsigned char *c = (const unsigned char *)name; *c; ++c) {
            EXPECT_GE(*c, 0x20) << name;
            if (*c >= 0x80) {
                EXPECT_STREQ(name, "Oc\xe9 Printing Systems");
                sawEAcute = true;
            }
        }
    }
    EXPECT_TRUE(sawEAcute);
    EXPECT_EQ(NameOf(0x1406), "Oc\xe9 Printing Systems");
}

TEST(PciVendorTable, Has790IdsAndThirteenClaimedTwice)
{
    std::map<uint16_t, std::vector<std::string>> byId;
    for (size_t i = 0; i < TableSize(); ++i)
        byId[PciVendorTable[i].id].push_back(PciVendorTable[i].name);
    EXPECT_EQ(byId.size(), 790u);
    EXPECT_EQ(byId.count(0), 0u);
    EXPECT_EQ(byId.begin()->first, 0x003D);
    EXPECT_EQ(byId.begin()->second[0], "Lockheed Martin Corp");
    EXPECT_EQ(byId.rbegin()->first, 0xFFFF);
    const std::string marker = " (---- WARNING: DUPLICATE VENDOR ID ----)";
    std::map<uint16_t, std::string> winners;
    int marked = 0;
    for (const auto &entry : byId) {
        ASSERT_LE(entry.second.size(), 2u) << entry.first;
        if (entry.second.size() < 2)
            continue;
        winners[entry.first] = entry.second[0];
        for (const std::string &name : entry.second)
            marked += name.size() > marker.size() &&
                      name.compare(name.size() - marker.size(), marker.size(), marker) == 0;
    }
    EXPECT_EQ(marked, 23);
    const std::map<uint16_t, std::string> expected = {
        {0x3D3D, "3DLabs (---- WARNING: DUPLICATE VENDOR ID ----)"},
        {0x1002, "ATI 3D Rage Pro (---- WARNING: DUPLICATE VENDOR ID ----)"},
        {0x1142, "Alliance Semiconductor (---- WARNING: DUPLICATE VENDOR ID ----)"},
        {0x1191, "Artop Electric (---- WARNING: DUPLICATE VENDOR ID ----)"},
        {0x11AF, "Avid Technology Inc."},
        {0x104B, "Buslogic (---- WARNING: DUPLICATE VENDOR ID ----)"},
        {0x10DC, "CERN-European Lab. for Particle Physics (---- WARNING: DUPLICATE VENDOR ID ----)"},
        {0x1102, "Creative Labs (---- WARNING: DUPLICATE VENDOR ID ----)"},
        {0x1048, "ELSA AG (---- WARNING: DUPLICATE VENDOR ID ----)"},
        {0x12CA, "Integrated Computing Engines (---- WARNING: DUPLICATE VENDOR ID ----)"},
        {0x1000, "LSI Logic (---- WARNING: DUPLICATE VENDOR ID ----)"},
        {0x1166, "Pequr Technology / Ross Computer Corp"},
        {0x8008, "QUANCOM Informationssysteme GmbH (---- WARNING: DUPLICATE VENDOR ID ----)"},
    };
    EXPECT_EQ(winners, expected);
    // The lookup returns the entry that comes first, for every shared ID.
    for (const auto &entry : expected)
        EXPECT_EQ(NameOf(entry.first), entry.second);
}

TEST(FindPciVendor, NamesTheVendorsOfTheTime)
{
    const struct { int32_t id; const char *name; } cases[] = {
        {0x8086, "Intel Corporation"},          {0x1106, "Via Technologies"},
        {0x1045, "OPTi"},                       {0x10B9, "Acer Labs Inc."},
        {0x1033, "NEC Corporation"},            {0x11C3, "NEC Corporation"},
        {0x1039, "Silicon Integrated System"},  {0x1095, "CMD Technology Inc."},
        {0x12A3, "Lucent Technologies"},        {0x0E11, "Compaq"},
        {0x1032, "Compaq"},                     {0x1022, "Advanced Micro Devices"},
        {0x1131, "Philips Semiconductors"},     {0x104C, "Texas Instruments"},
        {0x12BE, "Anchor Chips Inc."},          {0x102C, "Chips And Technologies"},
        {0x1217, "2 Micro Inc"},                {0x1031, "miro Computer Products AG"},
        {0x003D, "Lockheed Martin Corp"},       {0xFFFF, "ILLEGITIMATE VENDOR ID"},
        {0x9004, "Adaptec"},                    {0x9005, "adaptec"},
        {0x6374, "c't Magazin fr Computertechnik"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(NameOf(c.id), c.name) << std::hex << c.id;
    // And nothing outside the listed IDs. 0 is the terminator's ID; negative values and those above 16 bits would match a
    // truncated ID (0x18086 as 0x8086, -1 as 0xFFFF) if the IDs were not widened.
    for (int32_t id : {0, 0xABCD, 0x003C, 0x10000, 0x18086, 0x1FFFF, -1, -0x7979, INT32_MIN,
                       INT32_MAX})
        EXPECT_EQ(FindPciVendor(id), nullptr) << std::hex << id;
}

}  // namespace
