#include "frameui/FrameLayout.h"

#include "capture/RegionModel.h"

#include <algorithm>
#include <cmath>

namespace FrameLayout {

namespace {

// Truncated toward zero; a value beyond the int64 range (only a region typed
// absurdly large) is held at its end instead of being undefined.
int64_t truncated(double v)
{
    constexpr double limit = 9.2e18;
    if (std::isnan(v))
        return 0;
    return static_cast<int64_t>(std::clamp(v, -limit, limit));
}

// How far every window of the frame keeps from the edges of the usable area.
constexpr double screenMargin = 4;

// `from` moved right, then left as far as needed to end `margin` inside
// [low, high]: the high edge wins when there is not room for both.
double keptBetween(double from, double extent, double low, double high, double margin)
{
    // No screen at all: nothing to keep to.
    if (!(high > low))
        return from;
    return std::min(std::max(from, low + margin), high - extent - margin);
}

bool fitsBetween(double from, double extent, double low, double high)
{
    return from >= low + screenMargin && from + extent <= high - screenMargin;
}

} // namespace

Rect overlayFrame(const Rect &region)
{
    return overlayFrame(region, overlayMargin);
}

Rect overlayFrame(const Rect &region, double margin)
{
    return {region.x - margin, region.y - margin, region.width + 2 * margin, region.height + 2 * margin};
}

QString sizeLabel(const Rect &region)
{
    return QString::number(truncated(region.width)) + QStringLiteral(" × ") + QString::number(truncated(region.height));
}

QString recordingLabel(int64_t frames)
{
    return QStringLiteral("● REC   ") + QString::number(frames);
}

double topBarWidth(double textWidth)
{
    return std::max(std::ceil(textWidth) + 22, 54.0);
}

Rect topBarFrame(const Rect &region, double width, const Rect &visible)
{
    double y = region.maxY() + 7;
    if (y + TOPBAR_H > visible.maxY() - screenMargin)
        y = region.maxY() - TOPBAR_H - 6;
    y = keptBetween(y, TOPBAR_H, visible.minY(), visible.maxY(), screenMargin);
    const double x = keptBetween(region.midX() - width / 2, width, visible.minX(), visible.maxX(), screenMargin);
    return {x, y, width, TOPBAR_H};
}

Rect grabberFrame(Anchor anchor, const Rect &r)
{
    const double half = HIT / 2;
    const double across = std::max(r.width - 22, 1.0);
    const double down = std::max(r.height - 22, 1.0);
    switch (anchor) {
    case Anchor::topLeft:
        return {r.minX() - half, r.maxY() - half, HIT, HIT};
    case Anchor::top:
        return {r.minX() + 11, r.maxY() - half, across, HIT};
    case Anchor::topRight:
        return {r.maxX() - half, r.maxY() - half, HIT, HIT};
    case Anchor::right:
        return {r.maxX() - half, r.minY() + 11, HIT, down};
    case Anchor::bottomRight:
        return {r.maxX() - half, r.minY() - half, HIT, HIT};
    case Anchor::bottom:
        return {r.minX() + 11, r.minY() - half, across, HIT};
    case Anchor::bottomLeft:
        return {r.minX() - half, r.minY() - half, HIT, HIT};
    case Anchor::left:
        return {r.minX() - half, r.minY() + 11, HIT, down};
    }
    return {};
}

Rect controlBarFrame(const Rect &region, Size bar, const Rect &visible)
{
    double x = region.midX() - bar.width / 2;
    if (bar.width <= region.width - 16)
        x = keptBetween(x, bar.width, region.minX(), region.maxX(), 8);
    x = keptBetween(x, bar.width, visible.minX(), visible.maxX(), screenMargin);
    const double y = keptBetween(region.minY() + 8, bar.height, visible.minY(), visible.maxY(), screenMargin);
    return {x, y, bar.width, bar.height};
}

Rect fittedOnScreen(const Rect &region, const Rect &screen)
{
    if (screen.isEmpty())
        return region;
    const double width = std::min(region.width, screen.width);
    const double height = std::min(region.height, screen.height);
    const double x = std::min(std::max(region.x, screen.minX()), screen.maxX() - width);
    const double y = std::min(std::max(region.y, screen.minY()), screen.maxY() - height);
    return {x, y, width, height};
}

Rect cutToScreen(const Rect &region, const Rect &screen)
{
    if (screen.isEmpty())
        return region;
    const Rect cut = region.intersected(screen);
    if (cut.width < RegionModel::minSize.width || cut.height < RegionModel::minSize.height)
        return fittedOnScreen(region, screen);
    return cut;
}

OutsidePlacement outsidePlacement(const Rect &region, Size bar, double topBarWidth, const Rect &visible)
{
    const auto centredX = [&](double width) {
        return keptBetween(region.midX() - width / 2, width, visible.minX(), visible.maxX(), screenMargin);
    };
    const auto fitsY = [&](double y, double height) { return fitsBetween(y, height, visible.minY(), visible.maxY()); };

    OutsidePlacement out;
    const double below = region.minY() - outsideGap - bar.height;
    const double above = region.maxY() + outsideGap;
    const double right = region.maxX() + outsideGap;
    const double left = region.minX() - outsideGap - bar.width;
    const double besideY = keptBetween(region.minY(), bar.height, visible.minY(), visible.maxY(), screenMargin);
    enum class Side { below, above, beside, over } side = Side::over;
    if (fitsY(below, bar.height)) {
        out.controlBar = {centredX(bar.width), below, bar.width, bar.height};
        side = Side::below;
    } else if (fitsY(above, bar.height)) {
        out.controlBar = {centredX(bar.width), above, bar.width, bar.height};
        side = Side::above;
    } else if (fitsBetween(right, bar.width, visible.minX(), visible.maxX())) {
        out.controlBar = {right, besideY, bar.width, bar.height};
        side = Side::beside;
    } else if (fitsBetween(left, bar.width, visible.minX(), visible.maxX())) {
        out.controlBar = {left, besideY, bar.width, bar.height};
        side = Side::beside;
    } else {
        out.controlBar = controlBarFrame(region, bar, visible);
        out.barOverRegion = true;
    }

    // Where the top bar may go, best first: above the region (or above the
    // bar that is there), then below the region (or below the bar).
    const double barTop = out.controlBar.maxY() + screenMargin;
    const double barBottom = out.controlBar.minY() - screenMargin - TOPBAR_H;
    const double candidates[] = {
        side == Side::above ? barTop : above,
        side == Side::below ? barBottom : region.minY() - outsideGap - TOPBAR_H,
    };
    for (const double y : candidates) {
        const Rect topBar {centredX(topBarWidth), y, topBarWidth, TOPBAR_H};
        if (fitsY(y, TOPBAR_H) && !topBar.intersects(out.controlBar)
            && !topBar.intersects(overlayFrame(region, outsideBorderReach))) {
            out.topBar = topBar;
            break;
        }
    }
    return out;
}

FieldValues fieldValues(const Rect &region, const Rect &screen)
{
    return {truncated(region.width), truncated(region.height), truncated(region.minX() - screen.minX()),
        truncated(screen.maxY() - region.maxY())};
}

Rect withX(const Rect &region, const Rect &screen, int64_t value)
{
    const double n = static_cast<double>(std::max<int64_t>(value, 0));
    return {screen.minX() + n, region.minY(), region.width, region.height};
}

Rect withY(const Rect &region, const Rect &screen, int64_t value)
{
    const double n = static_cast<double>(std::max<int64_t>(value, 0));
    return {region.minX(), screen.maxY() - n - region.height, region.width, region.height};
}

int64_t clampedFps(int64_t value)
{
    return std::clamp<int64_t>(value, 1, 60);
}

} // namespace FrameLayout
