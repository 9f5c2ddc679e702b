#include "frameui/FrameLayout.h"

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

} // namespace

Rect overlayFrame(const Rect &region)
{
    return {region.x - overlayMargin, region.y - overlayMargin, region.width + 2 * overlayMargin,
        region.height + 2 * overlayMargin};
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

Rect topBarFrame(const Rect &region, double width, const Rect &screen)
{
    double y = region.maxY() + 7;
    if (y + TOPBAR_H > screen.maxY() - 4)
        y = region.maxY() - TOPBAR_H - 6;
    double x = region.midX() - width / 2;
    x = std::max(x, screen.minX() + 4);
    x = std::min(x, screen.maxX() - width - 4);
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

Point controlBarOrigin(const Rect &region, double barWidth)
{
    double x = region.midX() - barWidth / 2;
    if (barWidth <= region.width - 16) {
        x = std::max(x, region.minX() + 8);
        x = std::min(x, region.maxX() - barWidth - 8);
    }
    return {x, region.minY() + 8};
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
