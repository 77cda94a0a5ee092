// The report sinks against the simulated dialog: paragraphs, lines, formats and limits.
#include "tests/support/fake_test.h"
#include "report/report.h"

#include <gtest/gtest.h>

namespace {

typedef FakeTest SinksTest;

TEST_F(SinksTest, ParagraphsAreSeparatedByABlankLine)
{
    AppendInfo(TheWindow, MSG_INFO_OS_SUPPORTED);
    AppendInfo(TheWindow, MSG_INFO_HARDWARE_SUPPORTED);
    EXPECT_EQ(Sim.panel,
              "This version of Windows supports USB.\r\n\r\n"
              "This system has hardware that supports USB.\r\n\r\n");
    EXPECT_STREQ(MoreInfoText(), Sim.panel.c_str());
}

TEST_F(SinksTest, MissingNumbersAddNothing)
{
    AppendInfo(TheWindow, MSG_INFO_OS_SUPPORTED);
    for (uint32_t missing : {0u, 1043u, 1067u, 1079u, 1090u, 65535u}) {
        AppendInfo(TheWindow, missing);
        AddDetail(TheWindow, missing);
    }
    EXPECT_EQ(Sim.panel, "This version of Windows supports USB.\r\n\r\n");
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
    std::vector<std::string> expected = {
        "\tKernel version 4.10.1998 ",
        "Found Intel Corporation (8086) USB host controller",
        "Found Unknown (0045) USB host controller",
        "Found Unknown (abcd) USB host controller device 7fffffff",
        "\tverbatim %s",
        "",
        "",
    };
    EXPECT_EQ(Sim.details, expected);
}

TEST_F(SinksTest, AParagraphIsTakenOnlyIfItFitsWithItsSeparator)
{
    // 1085 holds 162 characters, 166 with its separator: 24 of them fill 3984 bytes.
    for (int i = 0; i < 25; ++i)
        AppendInfo(TheWindow, MSG_INFO_PHYSICAL_PORT);
    EXPECT_EQ(strlen(MoreInfoText()), 24u * 166u);
    // 1081 takes 41 bytes: two more fit (4066 and the NUL), a third would not.
    for (int i = 0; i < 3; ++i)
        AppendInfo(TheWindow, MSG_INFO_OS_SUPPORTED);
    EXPECT_EQ(strlen(MoreInfoText()), 24u * 166u + 2u * 41u);
    EXPECT_EQ(Sim.panel, MoreInfoText());
    EXPECT_EQ(Sim.panel.substr(Sim.panel.size() - 4), "\r\n\r\n");
}

}  // namespace
