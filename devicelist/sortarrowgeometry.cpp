#include "devicelist/sortarrowgeometry.h"

#include <cstdlib>

namespace devicelist {
namespace {

constexpr int kMarginDivisor = 4;
constexpr int kArrowRoomUnits = 3;
constexpr int kPressedShiftX = 1;
constexpr int kPressedShiftY = 2;

} // namespace

int HeadingMarginUnit(const PixelRect& item)
{
    return (item.bottom - item.top) / kMarginDivisor;
}

PixelRect HeadingTextRect(const PixelRect& item, bool pressed, bool isSortColumn)
{
    PixelRect text = item;
    if (pressed) {
        text.left += kPressedShiftX;
        text.top += kPressedShiftY;
        text.right += kPressedShiftX;
    }
    const int o = HeadingMarginUnit(item);
    if (isSortColumn) {
        text.right -= kArrowRoomUnits * o;
    }
    text.left += o;
    text.right -= o;
    return text;
}

SortArrowPolylines SortArrowLines(const PixelRect& item, bool ascending)
{
    const int o = HeadingMarginUnit(item);
    const int r = item.right;
    const int b = item.bottom;
    // y is measured from the header's top edge, as the headings start there.
    if (ascending) {
        return SortArrowPolylines{
            {{r - 2 * o, o}, {r - o, b - o - 1}, {r - 3 * o - 2, b - o - 1}},
            {{r - 3 * o - 1, b - o - 1}, {r - 2 * o, o - 1}},
        };
    }
    return SortArrowPolylines{
        {{r - o - 1, o}, {r - 2 * o - 1, b - o}},
        {{r - 2 * o - 2, b - o}, {r - 3 * o - 1, o}, {r - o - 1, o}},
    };
}

std::vector<PixelPoint> RasterizeLine(PixelPoint from, PixelPoint to)
{
    std::vector<PixelPoint> pixels;
    const int dx = std::abs(to.x - from.x);
    const int dy = -std::abs(to.y - from.y);
    const int stepX = from.x < to.x ? 1 : -1;
    const int stepY = from.y < to.y ? 1 : -1;
    int error = dx + dy;
    PixelPoint at = from;
    while (!(at == to)) {
        pixels.push_back(at);
        const int doubled = 2 * error;
        if (doubled >= dy) {
            error += dy;
            at.x += stepX;
        }
        if (doubled <= dx) {
            error += dx;
            at.y += stepY;
        }
    }
    return pixels;
}

std::vector<PixelPoint> RasterizePolyline(const std::vector<PixelPoint>& points)
{
    std::vector<PixelPoint> pixels;
    for (std::size_t i = 1; i < points.size(); ++i) {
        const std::vector<PixelPoint> segment = RasterizeLine(points[i - 1], points[i]);
        pixels.insert(pixels.end(), segment.begin(), segment.end());
    }
    return pixels;
}

} // namespace devicelist
