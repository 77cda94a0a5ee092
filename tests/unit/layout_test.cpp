// The headline font's height: the dialog font's height plus a quarter, truncated toward zero.
#include "app/headline.h"

#include <gtest/gtest.h>

namespace {

TEST(EnlargedFontHeight, GrowsByAQuarterTruncatedTowardZero)
{
    const struct { int32_t height, expected; } cases[] = {
        // Character heights (negative) grow in magnitude and stay negative.
        {-11, -13}, {-13, -16}, {-8, -10}, {-12, -15}, {-16, -20}, {-7, -8}, {-4, -5},
        // Cell heights (positive).
        {13, 16}, {8, 10}, {11, 13}, {4, 5}, {7, 8}, {16, 20},
        // Too small for a quarter to reach a whole unit, on either side of zero.
        {-3, -3}, {-2, -2}, {-1, -1}, {0, 0}, {1, 1}, {2, 2}, {3, 3},
        // Large heights stop at the limits and keep their sign: the largest that still grow
        // exactly just reach them; one further and beyond are held there instead of wrapping.
        {1717986916, 2147483645}, {1717986918, INT32_MAX}, {-1717986919, INT32_MIN},
        {1717986919, INT32_MAX}, {-1717986920, INT32_MIN},
        {INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MIN}, {INT32_MIN + 1, INT32_MIN},
    };
    for (const auto &c : cases)
        EXPECT_EQ(EnlargedFontHeight(c.height), c.expected) << "height " << c.height;
}

}  // namespace
