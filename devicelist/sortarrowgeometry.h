#ifndef DEVICELIST_SORTARROWGEOMETRY_H
#define DEVICELIST_SORTARROWGEOMETRY_H

#include <vector>

namespace devicelist {

struct PixelPoint {
    int x = 0;
    int y = 0;

    bool operator==(const PixelPoint&) const = default;
};

// A rectangle as edges: left and top inside, right and bottom just outside
// (a heading 90 pixels wide from x 0 has right 90).
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool operator==(const PixelRect&) const = default;
};

// The arrow's light and shadow edges as polylines. Each segment covers its
// start pixel and the pixels up to, but not including, its end pixel.
struct SortArrowPolylines {
    std::vector<PixelPoint> light;
    std::vector<PixelPoint> shadow;
};

// The margin unit of a heading: a quarter of its height, truncated.
int HeadingMarginUnit(const PixelRect& item);

// Where a heading's text goes. A pressed heading's text moves one pixel right
// and two down; the sort column leaves three margin units at the right for
// the arrow; both sides keep one margin unit. The text is drawn only when
// the result's left is less than its right.
PixelRect HeadingTextRect(const PixelRect& item, bool pressed, bool isSortColumn);

// The triangle at the right of the sort column's heading, pointing up for
// ascending. It does not move when the heading is pressed.
SortArrowPolylines SortArrowLines(const PixelRect& item, bool ascending);

// The pixels of a one-pixel line from "from" up to, but not including, "to"
// (Bresenham). An empty list when both are the same point.
std::vector<PixelPoint> RasterizeLine(PixelPoint from, PixelPoint to);

// All segments of a polyline, each without its end pixel.
std::vector<PixelPoint> RasterizePolyline(const std::vector<PixelPoint>& points);

} // namespace devicelist

#endif
