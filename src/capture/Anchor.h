#pragma once

#include "base/Geometry.h"

#include <array>

// The eight resize handles of the recording region, in this order.
enum class Anchor {
    topLeft,
    top,
    topRight,
    right,
    bottomRight,
    bottom,
    bottomLeft,
    left,
};

inline constexpr std::array<Anchor, 8> allAnchors {Anchor::topLeft, Anchor::top, Anchor::topRight, Anchor::right,
    Anchor::bottomRight, Anchor::bottom, Anchor::bottomLeft, Anchor::left};

// True for the four corner handles.
bool isCorner(Anchor anchor);

// The rectangle that dragging `anchor` by (dx, dy) makes of `rect` (y-up
// points). The edges the handle owns move; below 24 points the edge the user
// drags is pushed back, so the opposite edge never moves. No rounding, no
// screen: callers pass the rectangle from the start of the drag and the total
// displacement, so nothing accumulates. Pure; any thread.
Rect resize(Anchor anchor, const Rect &rect, double dx, double dy);
