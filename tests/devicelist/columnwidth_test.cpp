#include "devicelist/columnspec.h"

#include <gtest/gtest.h>

#include <limits>

TEST(ColumnWidthTest, ScaledFromTheSpecFontToOurs)
{
    constexpr int kMax = std::numeric_limits<int>::max();
    const struct {
        int width, fontBaseUnitX, scaled;
    } cases[] = {
        {90, 6, 90},
        {50, 7, 58},
        {115, 7, 134},
        {50, 8, 67},
        {0, 7, 0},
        {-5, 7, -5},
        {50, 0, 50},
        {kMax, 7, kMax},
    };
    for (const auto& c : cases)
        EXPECT_EQ(devicelist::ScaleColumnWidth(c.width, c.fontBaseUnitX), c.scaled)
            << c.width << " " << c.fontBaseUnitX;
}
