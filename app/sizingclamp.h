#pragma once

#include "app/controllayout.h"

// The main window is never dragged smaller than this, frame included.
constexpr int kMinimumWindowWidth = 194;
constexpr int kMinimumWindowHeight = 130;

// The window edge being dragged, numbered as the platform's sizing
// notification numbers them.
enum class SizingEdge {
    Left = 1,
    Right = 2,
    Top = 3,
    TopLeft = 4,
    TopRight = 5,
    Bottom = 6,
    BottomLeft = 7,
    BottomRight = 8,
};

// Holds back the dragged edge of a proposed window rectangle (screen
// coordinates) so that the window keeps the minimum size; the opposite edge
// never moves. There is no maximum.
LayoutRect ClampSizingRect(SizingEdge edge, LayoutRect proposed);
