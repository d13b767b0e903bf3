#pragma once

#include <array>
#include <cstddef>

// Keeps the main window's controls where the dialog template put them,
// relative to the window's edges, however the window is resized. Pure
// arithmetic on client-area pixels; the window measures and moves the
// widgets.

// A rectangle in client coordinates: right and bottom are exclusive edges,
// so width = right - left.
struct LayoutRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    friend bool operator==(const LayoutRect&, const LayoutRect&) = default;
};

// Client width and height; the client rectangle's left and top are 0.
struct ClientExtent {
    int width = 0;
    int height = 0;
};

// How a control follows the window's edges.
enum class ControlAnchor {
    Stretch,     // keeps its top-left corner and its margins to the right and bottom edges
    BottomLeft,  // keeps its left edge, its size and its margin to the bottom edge
    BottomRight, // keeps its size and its margins to the right and bottom edges
};

// The two ways of placing a control's right (or bottom) edge.
enum class FarEdgeRule {
    FromClientEdge, // the client's far extent minus a recorded margin
    FromNearEdge,   // the control's new near edge plus a recorded size
};

// The far edge from one of the two rules; value is the recorded margin or
// size that the rule needs.
int ResolveFarEdge(FarEdgeRule rule, int clientExtent, int nearEdge, int value);

class CControlLayout {
public:
    static constexpr std::size_t kMaxControls = 6;

    // Takes the four numbers the anchor needs from the control's template
    // position. Before a slot is recorded it holds zeros, so applying it
    // places the control from zeros (the window records before it applies).
    void Record(std::size_t slot, ControlAnchor anchor, LayoutRect control, ClientExtent client);

    // The control's place for the given client size.
    LayoutRect Apply(std::size_t slot, ControlAnchor anchor, ClientExtent client) const;

private:
    // The four recorded numbers; which is which depends on the anchor:
    //   Stretch:     left, top, right margin, bottom margin
    //   BottomLeft:  left, height, width, bottom margin
    //   BottomRight: width, height, right margin, bottom margin
    struct Entry {
        int a = 0;
        int b = 0;
        int c = 0;
        int d = 0;
    };
    std::array<Entry, kMaxControls> m_entries{};
};
