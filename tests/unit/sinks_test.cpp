// The report sinks against the simulated dialog: paragraphs, lines, formats and limits.
#include "tests/support/fake_test.h"
#include "report/messages.h"
#include "report/report.h"
#include "tests/support/invariants.h"

#include <gtest/gtest.h>

namespace {

typedef FakeTest SinksTest;

TEST_F(SinksTest, ParagraphsAreSeparatedByABlankLine)
{
    AppendInfo(TheWindow, MSG_INFO_OS_SUPPORTED);
    AppendInfo(TheWindow, MSG_INFO_HARDWARE_SUPPORTED);
    EXPECT_EQ(Sim.panel, CatalogueParagraph(MSG_INFO_OS_SUPPORTED) +
                             CatalogueParagraph(MSG_INFO_HARDWARE_SUPPORTED));
    EXPECT_STREQ(MoreInfoText(), Sim.panel.c_str());
}

TEST_F(SinksTest, MissingNumbersAddNothing)
{
    AppendInfo(TheWindow, MSG_INFO_OS_SUPPORTED);
    for (uint32_t missing : {0u, 1043u, 1067u, 1079u, 1090u, 65535u}) {
        AppendInfo(TheWindow, missing);
        AddDetail(TheWindow, missing);
    }
    EXPECT_EQ(Sim.panel, CatalogueParagraph(MSG_INFO_OS_SUPPORTED));
    EXPECT_EQ(Sim.calls[SIM_SET_TEXT], 1u);
    EXPECT_TRUE(Sim.details.empty());
}

TEST_F(SinksTest, FormatsFollowTheWindowsConventions)
{
    AddDetail(TheWindow, MSG_KERNEL_VERSION, 4, 10, 1998, "");
    AddDetail(TheWindow, MSG_HC_VENDOR, "Intel Corporation", 0x8086u);
    AddDetail(TheWindow, MSG_HC_VENDOR, "Unknown", 0x45u);
    AddDetail(TheWindow, MSG_HC_VENDOR_DEVICE, "Unknown", 0xABCDu, 0x7FFFFFFFu);
    AddDetailText(TheWindow, "\tverbatim %s");
    AddBlankDetail(TheWindow);
    AddBlankDetail(TheWindow);
    EXPECT_EQ(Sim.details, (std::vector<std::string>{
                               "\tKernel version 4.10.1998 ",
                               "Found Intel Corporation (8086) USB host controller",
                               "Found Unknown (0045) USB host controller",
                               "Found Unknown (abcd) USB host controller device 7fffffff",
                               "\tverbatim %s", "", ""}));
}

TEST_F(SinksTest, AParagraphIsTakenOnlyIfItFitsWithItsSeparator)
{
    // With their separators 1085 takes 166 bytes, 1083 162, 1080 83, 1089 74, 1087 47 and
    // 1081 41; the panel holds 4095 of them and the NUL. Each case adds so many 1085, then more.
    const struct { const char *what; uint32_t ports; std::vector<uint32_t> then; size_t length; }
        cases[] = {
        {"a 25th 1085 would make 4150", 25, {}, 24 * 166},
        {"a third 1081 would make 4107", 24,
         {MSG_INFO_OS_SUPPORTED, MSG_INFO_OS_SUPPORTED, MSG_INFO_OS_SUPPORTED}, 24 * 166 + 2 * 41},
        {"1089 makes exactly 4095", 23,
         {MSG_INFO_OS_SUPPORTED, MSG_INFO_OS_UPGRADE, MSG_INFO_HARDWARE_UNKNOWN}, 4095},
        {"a second 1089 would make 4096", 23,
         {MSG_INFO_OS_UNKNOWN, MSG_INFO_HARDWARE_SUPPORTED, MSG_INFO_HARDWARE_UNKNOWN,
          MSG_INFO_HARDWARE_UNKNOWN}, 4096 - 74},
    };
    for (const auto &c : cases) {
        SimReset();
        ClearMoreInfoText();
        for (uint32_t i = 0; i < c.ports; ++i)
            AppendInfo(TheWindow, MSG_INFO_PHYSICAL_PORT);
        for (uint32_t message : c.then)
            AppendInfo(TheWindow, message);
        EXPECT_EQ(strlen(MoreInfoText()), c.length) << c.what;
        EXPECT_EQ(Sim.panel, MoreInfoText()) << c.what;
        EXPECT_EQ(Sim.panel.substr(Sim.panel.size() - 4), "\r\n\r\n") << c.what;
    }
}

}  // namespace
