#include "devicelist/sortarrowgeometry.h"

#include <gtest/gtest.h>

#include <vector>

namespace devicelist {
namespace {

constexpr PixelRect kHeading{0, 0, 90, 20}; // o = 5

TEST(HeadingTextRectTest, MarginsAndRoomForArrow)
{
    EXPECT_EQ(HeadingMarginUnit(kHeading), 5);
    EXPECT_EQ(HeadingTextRect(kHeading, false, true), (PixelRect{5, 0, 70, 20}));
    EXPECT_EQ(HeadingTextRect(kHeading, false, false), (PixelRect{5, 0, 85, 20}));
}

TEST(HeadingTextRectTest, PressedTextMovesRightAndDown)
{
    EXPECT_EQ(HeadingTextRect(kHeading, true, true), (PixelRect{6, 2, 71, 20}));
    EXPECT_EQ(HeadingTextRect(kHeading, true, false), (PixelRect{6, 2, 86, 20}));
}

TEST(HeadingTextRectTest, MarginTruncatesTowardZero)
{
    EXPECT_EQ(HeadingMarginUnit(PixelRect{0, 0, 50, 23}), 5);
    EXPECT_EQ(HeadingMarginUnit(PixelRect{0, 0, 50, 3}), 0);
    EXPECT_EQ(HeadingMarginUnit(PixelRect{0, 5, 50, 2}), 0); // -3 / 4
}

TEST(HeadingTextRectTest, NarrowHeadingLeavesNoRoomForText)
{
    const PixelRect narrow{100, 0, 120, 20};
    const PixelRect text = HeadingTextRect(narrow, false, true);
    EXPECT_FALSE(text.left < text.right);
}

TEST(SortArrowLinesTest, AscendingPointsUp)
{
    const SortArrowPolylines arrow = SortArrowLines(kHeading, true);
    EXPECT_EQ(arrow.light, (std::vector<PixelPoint>{{80, 5}, {85, 14}, {73, 14}}));
    EXPECT_EQ(arrow.shadow, (std::vector<PixelPoint>{{74, 14}, {80, 4}}));
}

TEST(SortArrowLinesTest, DescendingPointsDown)
{
    const SortArrowPolylines arrow = SortArrowLines(kHeading, false);
    EXPECT_EQ(arrow.light, (std::vector<PixelPoint>{{84, 5}, {79, 15}}));
    EXPECT_EQ(arrow.shadow, (std::vector<PixelPoint>{{78, 15}, {74, 5}, {84, 5}}));
}

TEST(SortArrowLinesTest, FollowsTheHeadingsRightEdge)
{
    const SortArrowPolylines arrow = SortArrowLines(PixelRect{90, 0, 180, 20}, true);
    EXPECT_EQ(arrow.light.front(), (PixelPoint{170, 5}));
}

struct LineCase {
    const char* name;
    PixelPoint from;
    PixelPoint to;
    std::vector<PixelPoint> expected;
};

class RasterizeLineTest : public ::testing::TestWithParam<LineCase> { };

TEST_P(RasterizeLineTest, StartIncludedEndExcluded)
{
    EXPECT_EQ(RasterizeLine(GetParam().from, GetParam().to), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Lines, RasterizeLineTest,
    ::testing::Values(LineCase{"Point", {3, 3}, {3, 3}, {}},
        LineCase{"Left", {85, 14}, {81, 14}, {{85, 14}, {84, 14}, {83, 14}, {82, 14}}},
        LineCase{"Right", {1, 0}, {4, 0}, {{1, 0}, {2, 0}, {3, 0}}},
        LineCase{"Up", {0, 3}, {0, 0}, {{0, 3}, {0, 2}, {0, 1}}},
        LineCase{"Diagonal", {0, 0}, {3, 3}, {{0, 0}, {1, 1}, {2, 2}}},
        LineCase{"DiagonalBack", {3, 0}, {0, 3}, {{3, 0}, {2, 1}, {1, 2}}}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST(RasterizeLineTest, SteepLineHasOnePixelPerRowAndStaysBetweenItsEnds)
{
    const std::vector<PixelPoint> pixels = RasterizeLine({80, 5}, {85, 14});
    ASSERT_EQ(pixels.size(), 9u);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        EXPECT_EQ(pixels[i].y, 5 + static_cast<int>(i));
        EXPECT_GE(pixels[i].x, 80);
        EXPECT_LE(pixels[i].x, 85);
    }
}

TEST(RasterizePolylineTest, JoinsSegmentsWithoutTheLastPoint)
{
    const std::vector<PixelPoint> pixels = RasterizePolyline({{0, 0}, {2, 0}, {2, 2}});
    EXPECT_EQ(pixels, (std::vector<PixelPoint>{{0, 0}, {1, 0}, {2, 0}, {2, 1}}));
    EXPECT_TRUE(RasterizePolyline({{1, 1}}).empty());
}

} // namespace
} // namespace devicelist
