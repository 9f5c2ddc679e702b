#include "capture/Anchor.h"

#include "capture/RegionModel.h"

bool isCorner(Anchor anchor)
{
    switch (anchor) {
    case Anchor::topLeft:
    case Anchor::topRight:
    case Anchor::bottomRight:
    case Anchor::bottomLeft:
        return true;
    default:
        return false;
    }
}

Rect resize(Anchor anchor, const Rect &rect, double dx, double dy)
{
    double left = rect.minX();
    double bottom = rect.minY();
    double right = rect.maxX();
    double top = rect.maxY();

    const bool movesLeft = anchor == Anchor::topLeft || anchor == Anchor::bottomLeft || anchor == Anchor::left;
    const bool movesRight = anchor == Anchor::topRight || anchor == Anchor::right || anchor == Anchor::bottomRight;
    const bool movesBottom = anchor == Anchor::bottomRight || anchor == Anchor::bottom || anchor == Anchor::bottomLeft;
    const bool movesTop = anchor == Anchor::topLeft || anchor == Anchor::top || anchor == Anchor::topRight;

    if (movesLeft)
        left += dx;
    if (movesRight)
        right += dx;
    if (movesBottom)
        bottom += dy;
    if (movesTop)
        top += dy;

    const double minW = RegionModel::minSize.width;
    const double minH = RegionModel::minSize.height;
    if (right - left < minW) {
        if (movesLeft)
            left = right - minW;
        else
            right = left + minW;
    }
    if (top - bottom < minH) {
        if (movesBottom)
            bottom = top - minH;
        else
            top = bottom + minH;
    }
    return {left, bottom, right - left, top - bottom};
}
