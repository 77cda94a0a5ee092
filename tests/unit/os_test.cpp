// The operating-system probe against simulated releases: lines, paragraph, rating, and what it
// asked of the system.
#include "tests/support/fake_test.h"
#include "probes/os.h"
#include "report/report.h"
#include "tests/support/invariants.h"

#include <gtest/gtest.h>

#include <string.h>

namespace {

const char Key9x[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char KeyNt[] = "Software\\Microsoft\\Windows NT\\CurrentVersion";

typedef FakeTest OsTest;
typedef std::vector<std::string> Lines;

enum Registry {
    REG_TEXT,         // the value holds the text and its terminator
    REG_BYTES,        // the value holds exactly these bytes
    REG_NO_VALUE,     // the key opens, the value is missing
    REG_NO_KEY,       // the key cannot be opened
    REG_UNREADABLE,   // the key opens, reading the value fails
    REG_LEFT_BEHIND,  // the text does not fit; the failed read leaves its first 128 bytes behind
};

struct OsCase {
    const char *name;
    uint32_t platform, major, minor, build;
    const char *csd;
    Registry registry;
    std::string value;
    uint32_t releaseLine;
    std::string registryShown;  // behind "\tRegistry version "
    std::string kernelShown;    // behind "\tKernel version "
    uint32_t paragraph;  // 0: none
    SupportFlags rating;
};

// Windows 95 OSR2's kernel, build 1214 without a service pack, beside a registry text.
OsCase Build1214(const char *name, Registry registry, const std::string &value,
                 const std::string &registryShown, uint32_t paragraph, SupportFlags rating)
{
    return {name, 1, 4, 0, 0x040004BE, "", registry, value, MSG_OS_95, registryShown, "4.0.1214 ",
            paragraph, rating};
}

const std::string X127(127, 'x'), X128(128, 'x');

const OsCase OsCases[] = {
    {"Win32s", 0, 3, 10, 0, "", REG_TEXT, "3.95", MSG_OS_95S, "3.95", "3.10.0 ",
     MSG_INFO_OS_NOT_SUPPORTED, SUPPORT_NO},
    {"Windows98", 1, 4, 10, 0x040A07CE, " A ", REG_TEXT, "4.10.1998", MSG_OS_98, "4.10.1998",
     "4.10.1998  A ", MSG_INFO_OS_SUPPORTED, SUPPORT_YES},
    {"WindowsMeWithoutRegistryKey", 1, 4, 90, 0x045A0BB8, " ", REG_NO_KEY, "", MSG_OS_98, "",
     "4.90.3000  ", MSG_INFO_OS_SUPPORTED, SUPPORT_YES},
    {"Platform1Version5", 1, 5, 0, 0, "", REG_TEXT, "5.00", MSG_OS_98, "5.00", "5.0.0 ",
     MSG_INFO_OS_SUPPORTED, SUPPORT_YES},
    {"Version395", 1, 3, 95, 0x035F04BE, "", REG_TEXT, "4.03.1214", MSG_OS_95, "4.03.1214",
     "3.95.1214 ", MSG_INFO_OS_NOT_SUPPORTED, SUPPORT_NO},
    {"Build1211BeforeText", 1, 4, 0, 0x040004BB, "", REG_TEXT, "4.03.1214", MSG_OS_95, "4.03.1214",
     "4.0.1211 ", MSG_INFO_OS_NOT_SUPPORTED, SUPPORT_NO},
    {"Build1211WithHighWordAbove", 1, 4, 0, 0xFFFF04BB, "", REG_TEXT, "4.03.1214", MSG_OS_95,
     "4.03.1214", "4.0.1211 ", MSG_INFO_OS_NOT_SUPPORTED, SUPPORT_NO},
    {"Text1212", 1, 4, 0, 0x040004BC, " B ", REG_TEXT, "4.03.1212", MSG_OS_95, "4.03.1212",
     "4.0.1212  B ", MSG_INFO_OS_95_UNSUPPORTED, SUPPORT_NO},
    {"Text1214", 1, 4, 0, 0x040004BE, " B ", REG_TEXT, "4.03.1214", MSG_OS_95, "4.03.1214",
     "4.0.1214  B ", MSG_INFO_OS_UPGRADE, SUPPORT_MAYBE},
    {"Build1212WithoutHighWord", 1, 4, 0, 0x000004BC, "", REG_TEXT, "4.03.1214", MSG_OS_95,
     "4.03.1214", "4.0.1212 ", MSG_INFO_OS_UPGRADE, SUPPORT_MAYBE},
    {"BuildWordAbove32767", 1, 4, 0, 0x0400FFFF, "", REG_TEXT, "4.03.1214", MSG_OS_95, "4.03.1214",
     "4.0.65535 ", MSG_INFO_OS_UPGRADE, SUPPORT_MAYBE},
    Build1214("TextEndsAtItsTerminator", REG_BYTES, std::string("4.03.1214\0junk", 14), "4.03.1214",
              MSG_INFO_OS_UPGRADE, SUPPORT_MAYBE),
    Build1214("TextWithoutTerminator", REG_BYTES, "4.03.1214", "4.03.1214", MSG_INFO_OS_UPGRADE,
              SUPPORT_MAYBE),
    Build1214("ValueMissing", REG_NO_VALUE, "", "", MSG_INFO_OS_NOT_SUPPORTED, SUPPORT_NO),
    Build1214("KeyMissing", REG_NO_KEY, "", "", MSG_INFO_OS_NOT_SUPPORTED, SUPPORT_NO),
    Build1214("ValueUnreadable", REG_UNREADABLE, "4.03.1214", "", MSG_INFO_OS_NOT_SUPPORTED,
              SUPPORT_NO),
    Build1214("Text1213", REG_TEXT, "4.03.1213", "4.03.1213", 0, SUPPORT_UNKNOWN),
    Build1214("TextWithTrailingBlank", REG_TEXT, "4.03.1214 ", "4.03.1214 ", 0, SUPPORT_UNKNOWN),
    Build1214("TextLonger", REG_TEXT, "4.03.12140", "4.03.12140", 0, SUPPORT_UNKNOWN),
    Build1214("TextShorter", REG_TEXT, "4.03.121", "4.03.121", 0, SUPPORT_UNKNOWN),
    Build1214("EmptyValueIsRead", REG_BYTES, "", "", 0, SUPPORT_UNKNOWN),
    Build1214("Text127", REG_TEXT, X127, X127, 0, SUPPORT_UNKNOWN),
    Build1214("Text128DoesNotFitWithItsTerminator", REG_TEXT, X128, "", MSG_INFO_OS_NOT_SUPPORTED,
              SUPPORT_NO),
    Build1214("Bytes128ShowTheFirst127", REG_BYTES, X128, X127, 0, SUPPORT_UNKNOWN),
    Build1214("Bytes129DoNotFit", REG_BYTES, X128 + "x", "", MSG_INFO_OS_NOT_SUPPORTED, SUPPORT_NO),
    Build1214("TextThatDoesNotFitLeavesBytesBehind", REG_LEFT_BEHIND,
              std::string("4.03.1214\0", 10) + X128, "", MSG_INFO_OS_NOT_SUPPORTED, SUPPORT_NO),
    {"NT4", 2, 4, 0, 1381, "Service Pack 6", REG_TEXT, "4.0", MSG_OS_NT, "4.0",
     "4.0.1381 Service Pack 6", MSG_INFO_OS_NOT_SUPPORTED, SUPPORT_NO},
    {"NT351", 2, 3, 51, 1057, "", REG_TEXT, "3.51", MSG_OS_NT, "3.51", "3.51.1057 ",
     MSG_INFO_OS_NOT_SUPPORTED, SUPPORT_NO},
    {"Windows2000", 2, 5, 0, 2195, "Service Pack 4", REG_TEXT, "5.0", MSG_OS_2000, "5.0",
     "5.0.2195 Service Pack 4", MSG_INFO_OS_SUPPORTED, SUPPORT_YES},
    {"NT10", 2, 10, 0, 0x00014A65, "", REG_NO_VALUE, "", MSG_OS_2000, "", "10.0.19045 ",
     MSG_INFO_OS_SUPPORTED, SUPPORT_YES},
    {"NTMajor0ReadsThe9xKey", 2, 0, 0, 0, "", REG_TEXT, "0.0", MSG_OS_NT, "0.0", "0.0.0 ",
     MSG_INFO_OS_NOT_SUPPORTED, SUPPORT_NO},
    {"Platform3", 3, 5, 0, 0, "", REG_TEXT, "4.10.1998", MSG_OS_UNKNOWN, "4.10.1998", "5.0.0 ",
     MSG_INFO_OS_UNKNOWN, SUPPORT_UNKNOWN},
    {"PlatformAllOnes", 0xFFFFFFFF, 4, 0, 0x040004BE, "", REG_TEXT, "4.03.1214", MSG_OS_UNKNOWN,
     "4.03.1214", "4.0.1214 ", MSG_INFO_OS_UNKNOWN, SUPPORT_UNKNOWN},
};

void PrintTo(const OsCase &c, std::ostream *out)
{
    *out << c.name;
}

struct OsTable : OsTest, ::testing::WithParamInterface<OsCase> {};

TEST_P(OsTable, Row)
{
    const OsCase &c = GetParam();
    SetVersion(c.platform, c.major, c.minor, c.build, c.csd);
    // The release's own key gets the value, the other key a decoy that must not be shown. The
    // simulated registry answers only the value name that belongs to each key, so a text shown
    // also proves the name asked for.
    bool ntKey = c.platform == PLATFORM_WIN32_NT && c.major != 0;
    SimRegistryValue &own = ntKey ? Sim.registryNt : Sim.registry9x;
    SimRegistryValue &other = ntKey ? Sim.registry9x : Sim.registryNt;
    other = {true, true, std::string("decoy", 6)};
    own.keyOpens = c.registry != REG_NO_KEY;
    own.present = c.registry != REG_NO_VALUE && c.registry != REG_NO_KEY;
    own.bytes = c.registry == REG_BYTES ? c.value : c.value + '\0';
    if (c.registry == REG_UNREADABLE)
        SimFailCall(SIM_QUERY_VALUE, 0);
    if (c.registry == REG_LEFT_BEHIND)
        SimFailCall(SIM_QUERY_VALUE, 0, 128);

    EXPECT_EQ(CheckOperatingSystem(TheWindow), c.rating);

    EXPECT_EQ(Sim.details,
              (Lines{CatalogueText(c.releaseLine), "\tRegistry version " + c.registryShown,
                     "\tKernel version " + c.kernelShown, ""}));
    EXPECT_EQ(Sim.panel, c.paragraph == 0 ? "" : CatalogueParagraph(c.paragraph));
    EXPECT_EQ(Sim.keysOpened, std::vector<std::string>{ntKey ? KeyNt : Key9x});
    EXPECT_EQ(Sim.keysOpen, 0u) << "the key is closed once, and only when it opened";
    EXPECT_EQ(Sim.calls[SIM_GET_VERSION], 2u);
}

INSTANTIATE_TEST_SUITE_P(Releases, OsTable, ::testing::ValuesIn(OsCases),
                         ::testing::PrintToStringParamName());

TEST_F(OsTest, AFailedVersionQueryIsUnknownAndReadsNoRegistry)
{
    Sim.registry9x = {true, true, std::string("4.10.1998", 10)};
    EXPECT_EQ(CheckOperatingSystem(TheWindow), SUPPORT_UNKNOWN);
    EXPECT_EQ(Sim.details, (Lines{CatalogueText(MSG_OS_UNKNOWN), ""}));
    EXPECT_EQ(Sim.panel, CatalogueParagraph(MSG_INFO_OS_UNKNOWN));
    EXPECT_TRUE(Sim.keysOpened.empty());
    EXPECT_EQ(Sim.calls[SIM_GET_VERSION], 1u);
}

TEST_F(OsTest, TheKeyIsChosenByASecondVersionQuery)
{
    SetVersion(PLATFORM_WIN32_NT, 5, 0, 2195);
    Sim.registry9x = {true, true, std::string("4.10.1998", 10)};
    Sim.registryNt = {true, true, std::string("5.0", 4)};
    SimFailCall(SIM_GET_VERSION, 2);
    EXPECT_EQ(CheckOperatingSystem(TheWindow), SUPPORT_YES);
    EXPECT_EQ(Sim.keysOpened, std::vector<std::string>{Key9x});
    ASSERT_EQ(Sim.details.size(), 4u);
    EXPECT_EQ(Sim.details[0], CatalogueText(MSG_OS_2000));
    EXPECT_EQ(Sim.details[1], "\tRegistry version 4.10.1998");
}

TEST_F(OsTest, TheKeyIsClosedWhenTheReadFails)
{
    SetVersion(PLATFORM_WIN32_WINDOWS, 4, 10, 1998);
    Sim.registry9x = {true, true, std::string("4.10.1998", 10)};
    SimFailCall(SIM_QUERY_VALUE, 1);
    CheckOperatingSystem(TheWindow);
    EXPECT_EQ(Sim.calls[SIM_OPEN_KEY], 1u);
    EXPECT_EQ(Sim.calls[SIM_QUERY_VALUE], 1u);
    EXPECT_EQ(Sim.keysOpen, 0u);
}

TEST_F(OsTest, VersionQueries)
{
    const struct { bool known; uint32_t platform, major, minor, ntMajor; int early95; } cases[] = {
        {true, 2, 4, 0, 4, 0},    {true, 2, 5, 0, 5, 0},    {true, 2, 10, 0, 10, 0},
        {true, 2, 3, 51, 3, 0},   {true, 1, 4, 0, 0, 1},    {true, 1, 3, 95, 0, 1},
        {true, 1, 3, 0, 0, 1},    {true, 1, 4, 10, 0, 0},   {true, 1, 4, 90, 0, 0},
        {true, 1, 5, 0, 0, 0},    {true, 0, 4, 0, 0, 0},    {true, 3, 5, 0, 0, 0},
        {true, 3, 4, 0, 0, 0},    {false, 2, 5, 0, 0, 0},   {false, 1, 4, 0, 0, 0},
    };
    for (const auto &c : cases) {
        SimReset();
        if (c.known)
            SetVersion(c.platform, c.major, c.minor, 0);
        else
            Sim.version = {c.major, c.minor, 0, c.platform, ""};
        SCOPED_TRACE(testing::Message() << "platform " << c.platform << " version " << c.major
                                        << "." << c.minor << (c.known ? "" : " (query fails)"));
        EXPECT_EQ(GetNtMajorVersion(), c.ntMajor);
        EXPECT_EQ(IsEarlyWindows95(), c.early95);
        EXPECT_EQ(Sim.calls[SIM_GET_VERSION], 2u);
    }
}

TEST_F(OsTest, EachQueryAsksAfresh)
{
    SetVersion(PLATFORM_WIN32_NT, 4, 0, 1381);
    EXPECT_EQ(GetNtMajorVersion(), 4u);
    Sim.version.major = 5;
    EXPECT_EQ(GetNtMajorVersion(), 5u);
    SimFailCall(SIM_GET_VERSION, 3);
    EXPECT_EQ(GetNtMajorVersion(), 0u);

    SetVersion(PLATFORM_WIN32_WINDOWS, 4, 0, 950);
    EXPECT_EQ(IsEarlyWindows95(), 1);
    Sim.version.minor = 10;
    EXPECT_EQ(IsEarlyWindows95(), 0);
    EXPECT_EQ(Sim.calls[SIM_GET_VERSION], 5u);
}

}  // namespace
