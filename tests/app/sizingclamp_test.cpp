#include "app/sizingclamp.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct ClampCase {
    const char* name;
    SizingEdge edge;
    LayoutRect proposed;
    LayoutRect expected;
};

// The window's opposite corner sits at (1000, 800) for left/top drags and at
// (100, 50) for right/bottom drags; proposals are 10 x 20 pixels, far below
// the minimum.
const ClampCase kCases[] = {
    {"Left", SizingEdge::Left, {990, 50, 1000, 800}, {806, 50, 1000, 800}},
    {"Right", SizingEdge::Right, {100, 50, 110, 800}, {100, 50, 294, 800}},
    {"Top", SizingEdge::Top, {100, 780, 1000, 800}, {100, 670, 1000, 800}},
    {"Bottom", SizingEdge::Bottom, {100, 50, 1000, 70}, {100, 50, 1000, 180}},
    {"TopLeft", SizingEdge::TopLeft, {990, 780, 1000, 800}, {806, 670, 1000, 800}},
    {"TopRight", SizingEdge::TopRight, {100, 780, 110, 800}, {100, 670, 294, 800}},
    {"BottomLeft", SizingEdge::BottomLeft, {990, 50, 1000, 70}, {806, 50, 1000, 180}},
    {"BottomRight", SizingEdge::BottomRight, {100, 50, 110, 70}, {100, 50, 294, 180}},
    {"ExactlyMinimumUntouched", SizingEdge::BottomRight, {0, 0, 194, 130}, {0, 0, 194, 130}},
    {"OneBelowWidth", SizingEdge::Left, {1, 0, 194, 130}, {0, 0, 194, 130}},
    {"OneBelowHeight", SizingEdge::Top, {0, 1, 194, 130}, {0, 0, 194, 130}},
    {"LargeUntouched", SizingEdge::TopLeft, {-5000, -5000, 5000, 5000}, {-5000, -5000, 5000, 5000}},
    {"InvertedRectangle", SizingEdge::Right, {500, 500, 400, 400}, {500, 500, 694, 630}},
};

class SizingClampTest : public ::testing::TestWithParam<ClampCase> { };

TEST_P(SizingClampTest, HoldsBackTheDraggedEdge)
{
    const ClampCase& c = GetParam();
    const LayoutRect r = ClampSizingRect(c.edge, c.proposed);
    EXPECT_EQ(r.left, c.expected.left);
    EXPECT_EQ(r.top, c.expected.top);
    EXPECT_EQ(r.right, c.expected.right);
    EXPECT_EQ(r.bottom, c.expected.bottom);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, SizingClampTest, ::testing::ValuesIn(kCases), [](const auto& info) { return std::string(info.param.name); });

} // namespace
