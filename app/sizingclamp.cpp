#include "app/sizingclamp.h"

namespace {

bool DragsLeftEdge(SizingEdge edge)
{
    return edge == SizingEdge::Left || edge == SizingEdge::TopLeft || edge == SizingEdge::BottomLeft;
}

bool DragsTopEdge(SizingEdge edge)
{
    return edge == SizingEdge::Top || edge == SizingEdge::TopLeft || edge == SizingEdge::TopRight;
}

} // namespace

LayoutRect ClampSizingRect(SizingEdge edge, LayoutRect proposed)
{
    LayoutRect r = proposed;
    if (r.right - r.left < kMinimumWindowWidth) {
        if (DragsLeftEdge(edge)) {
            r.left = r.right - kMinimumWindowWidth;
        } else {
            r.right = r.left + kMinimumWindowWidth;
        }
    }
    if (r.bottom - r.top < kMinimumWindowHeight) {
        if (DragsTopEdge(edge)) {
            r.top = r.bottom - kMinimumWindowHeight;
        } else {
            r.bottom = r.top + kMinimumWindowHeight;
        }
    }
    return r;
}
