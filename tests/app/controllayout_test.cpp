#include "app/controllayout.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>

std::ostream& operator<<(std::ostream& os, const LayoutRect& r)
{
    return os << "{left " << r.left << ", top " << r.top << ", right " << r.right << ", bottom " << r.bottom << "}";
}

namespace {

// The main window's six controls at the template size, converted to pixels
// with the 8-point dialog font's base units (6 x 13 pixels): the template's
// dialog-unit rectangles times 6/4 horizontally and 13/8 vertically.
struct Placed {
    const char* name;
    ControlAnchor anchor;
    LayoutRect rect;
};

constexpr ClientExtent kTemplateClient{646, 300};
const std::array<Placed, 6> kTemplateControls{{
    {"device list", ControlAnchor::Stretch, {10, 11, 629, 261}},
    {"Advanced Options", ControlAnchor::BottomLeft, {15, 268, 127, 291}},
    {"Wink", ControlAnchor::BottomRight, {375, 268, 450, 291}},
    {"File", ControlAnchor::BottomRight, {286, 268, 361, 291}},
    {"Scan", ControlAnchor::BottomRight, {465, 268, 540, 291}},
    {"Exit", ControlAnchor::BottomRight, {555, 268, 630, 291}},
}};

class ControlLayoutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (std::size_t i = 0; i < kTemplateControls.size(); ++i) {
            layout.Record(i, kTemplateControls[i].anchor, kTemplateControls[i].rect, kTemplateClient);
        }
    }

    LayoutRect At(std::size_t i, ClientExtent client) const
    {
        return layout.Apply(i, kTemplateControls[i].anchor, client);
    }

    CControlLayout layout;
};

TEST_F(ControlLayoutTest, TemplateSizeMovesNothing)
{
    for (std::size_t i = 0; i < kTemplateControls.size(); ++i) {
        EXPECT_EQ(At(i, kTemplateClient), kTemplateControls[i].rect) << kTemplateControls[i].name;
    }
}

TEST_F(ControlLayoutTest, WiderBy100StretchesListAndMovesRightButtons)
{
    const ClientExtent wider{kTemplateClient.width + 100, kTemplateClient.height};
    for (std::size_t i = 0; i < kTemplateControls.size(); ++i) {
        LayoutRect expected = kTemplateControls[i].rect;
        switch (kTemplateControls[i].anchor) {
        case ControlAnchor::Stretch:
            expected.right += 100;
            break;
        case ControlAnchor::BottomLeft:
            break;
        case ControlAnchor::BottomRight:
            expected.left += 100;
            expected.right += 100;
            break;
        }
        EXPECT_EQ(At(i, wider), expected) << kTemplateControls[i].name;
    }
}

TEST_F(ControlLayoutTest, TallerBy50StretchesListAndMovesEveryButtonDown)
{
    const ClientExtent taller{kTemplateClient.width, kTemplateClient.height + 50};
    for (std::size_t i = 0; i < kTemplateControls.size(); ++i) {
        LayoutRect expected = kTemplateControls[i].rect;
        if (kTemplateControls[i].anchor != ControlAnchor::Stretch) {
            expected.top += 50;
        }
        expected.bottom += 50;
        EXPECT_EQ(At(i, taller), expected) << kTemplateControls[i].name;
    }
}

TEST_F(ControlLayoutTest, AnySequenceOfSizesEndingAtTemplateSizeRestoresTemplatePositions)
{
    const std::array<ClientExtent, 5> sizes{{{746, 350}, {100, 40}, {0, 0}, {2000, 1500}, kTemplateClient}};
    LayoutRect last[6];
    for (const ClientExtent& size : sizes) {
        for (std::size_t i = 0; i < kTemplateControls.size(); ++i) {
            last[i] = At(i, size);
        }
    }
    for (std::size_t i = 0; i < kTemplateControls.size(); ++i) {
        EXPECT_EQ(last[i], kTemplateControls[i].rect) << kTemplateControls[i].name;
    }
}

TEST_F(ControlLayoutTest, BelowTemplateSizeControlsMayOverlapButKeepTheirSize)
{
    const ClientExtent tiny{150, 60};
    const LayoutRect exit = At(5, tiny);
    EXPECT_EQ(exit.right - exit.left, 75);
    EXPECT_EQ(exit.bottom - exit.top, 23);
    const LayoutRect advanced = At(1, tiny);
    EXPECT_LT(exit.left, advanced.right) << "the minimum size does not keep controls apart";
}

TEST(ControlLayoutUnrecorded, ApplyingBeforeRecordPlacesFromZeros)
{
    CControlLayout layout;
    EXPECT_EQ(layout.Apply(0, ControlAnchor::Stretch, {300, 200}), (LayoutRect{0, 0, 300, 200}));
    EXPECT_EQ(layout.Apply(1, ControlAnchor::BottomLeft, {300, 200}), (LayoutRect{0, 200, 0, 200}));
    EXPECT_EQ(layout.Apply(2, ControlAnchor::BottomRight, {300, 200}), (LayoutRect{300, 200, 300, 200}));
}

TEST(ControlLayoutUnrecorded, SlotOutsideTheRecordIsIgnored)
{
    CControlLayout layout;
    layout.Record(CControlLayout::kMaxControls, ControlAnchor::Stretch, {1, 2, 3, 4}, {10, 10});
    EXPECT_EQ(layout.Apply(CControlLayout::kMaxControls, ControlAnchor::Stretch, {10, 10}), LayoutRect{});
}

struct FarEdgeCase {
    const char* name;
    FarEdgeRule rule;
    int clientExtent;
    int nearEdge;
    int value;
    int expected;
};

class ResolveFarEdgeTest : public ::testing::TestWithParam<FarEdgeCase> { };

TEST_P(ResolveFarEdgeTest, GivesTheFarEdge)
{
    const FarEdgeCase& c = GetParam();
    EXPECT_EQ(ResolveFarEdge(c.rule, c.clientExtent, c.nearEdge, c.value), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, ResolveFarEdgeTest,
    ::testing::Values(FarEdgeCase{"margin", FarEdgeRule::FromClientEdge, 646, 10, 17, 629},
        FarEdgeCase{"size", FarEdgeRule::FromNearEdge, 646, 15, 112, 127},
        FarEdgeCase{"marginPastNear", FarEdgeRule::FromClientEdge, 5, 10, 17, -12}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
