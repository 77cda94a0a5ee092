// The base-16 reader against the C library's strtol, narrowed to a 32-bit long.
#include "probes/hexparse.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <random>
#include <string>

namespace {

// What strtol(text, &end, 16) gives where long has 32 bits: the native long is wider, so a
// result outside the 32-bit range is where the narrow one saturates.
int32_t NarrowStrtol(const std::string &text, size_t *consumed)
{
    char *end = nullptr;
    long value = strtol(text.c_str(), &end, 16);
    *consumed = (size_t)(end - text.c_str());
    return (int32_t)std::clamp<long>(value, INT32_MIN, INT32_MAX);
}

TEST(HexToLong, ReadsLikeStrtol)
{
    const struct { const char *text; int32_t value; size_t consumed; } cases[] = {
        {"8086", 0x8086, 4},           {"8086&dev_7112", 0x8086, 4},  {"abcd", 0xABCD, 4},
        {"ABCD", 0xABCD, 4},           {"0x1f", 0x1F, 4},             {"0X1F", 0x1F, 4},
        {"  \t\n\v\f\r7", 7, 8},       {"+12", 0x12, 3},              {"-12", -0x12, 3},
        {" -0x10", -0x10, 6},          {"", 0, 0},                    {"&dev", 0, 0},
        {"   ", 0, 0},                 {"-", 0, 0},                   {"+ 1", 0, 0},
        {"0x", 0, 1},                  {"0xg", 0, 1},                 {"-0x", 0, 2},
        {"0x0x1", 0, 3},               {"00000000000000001", 1, 17},  {"7fffffff", INT32_MAX, 8},
        {"80000000", INT32_MAX, 8},    {"ffffffff", INT32_MAX, 8},    {"-7fffffff", -INT32_MAX, 9},
        {"-80000000", INT32_MIN, 9},   {"-80000001", INT32_MIN, 9},   {"\xa0" "1", 0, 0},
        {"1\xa0", 1, 1},               {"123456789abcdef0123", INT32_MAX, 19},
        {"-ffffffffffffffffffff", INT32_MIN, 21},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.text << '"');
        const char *end = nullptr;
        EXPECT_EQ(HexToLong(c.text, &end), c.value);
        EXPECT_EQ((size_t)(end - c.text), c.consumed);
        EXPECT_EQ(HexToLong(c.text, nullptr), c.value);
    }
}

// Texts built from the pieces that matter: blanks, signs, prefixes, hex digits of both cases,
// the characters just outside them, and lengths that reach past 32 bits.
std::string RandomText(std::mt19937 &random)
{
    static const char *const blanks[] = {"", "", " ", "\t", "\n\v\f\r", "  "};
    static const char *const signs[] = {"", "", "+", "-", "+-", "--"};
    static const char *const prefixes[] = {"", "", "0x", "0X", "0", "x", "0x0x", "00x"};
    static const char body[] = "0123456789abcdefABCDEF0000ffffFFFF7788gGxX&_ -+\xa0\x80";
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    std::string text = blanks[pick(6)];
    text += signs[pick(6)];
    text += prefixes[pick(8)];
    size_t length = pick(3) == 0 ? pick(24) : pick(10);
    for (size_t i = 0; i < length; ++i)
        text += body[pick(sizeof body - 1)];
    return text;
}

TEST(HexToLong, AgreesWithTheCLibraryOverGeneratedTexts)
{
    std::mt19937 random(20240815);
    int saturated = 0, empty = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string text = RandomText(random);
        size_t consumed = 0;
        int32_t expected = NarrowStrtol(text, &consumed);
        const char *end = nullptr;
        ASSERT_EQ(HexToLong(text.c_str(), &end), expected) << '"' << text << '"';
        ASSERT_EQ((size_t)(end - text.c_str()), consumed) << '"' << text << '"';
        saturated += expected == INT32_MAX || expected == INT32_MIN;
        empty += consumed == 0;
    }
    // The generator must reach both ends of the range and texts without digits.
    EXPECT_GT(saturated, 1000);
    EXPECT_GT(empty, 1000);
}

TEST(HexToLong, AgreesWithTheCLibraryAtTheEdgesOfTheRange)
{
    const uint64_t edges[] = {0,          1,          0xF,        0x10,       0x7FFFFFFE,
                              0x7FFFFFFF, 0x80000000, 0x80000001, 0xFFFFFFFF, 0x100000000,
                              0x7FFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF};
    for (uint64_t edge : edges) {
        for (const char *sign : {"", "+", "-"}) {
            for (const char *prefix : {"", "0x", "0X"}) {
                char digits[32];
                snprintf(digits, sizeof digits, "%llx", (unsigned long long)edge);
                std::string text = std::string(sign) + prefix + digits + "&";
                size_t consumed = 0;
                int32_t expected = NarrowStrtol(text, &consumed);
                const char *end = nullptr;
                EXPECT_EQ(HexToLong(text.c_str(), &end), expected) << text;
                EXPECT_EQ((size_t)(end - text.c_str()), consumed) << text;
            }
        }
    }
}

}  // namespace
