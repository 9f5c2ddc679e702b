#include "base/Geometry.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

bool Rect::intersects(const Rect &o) const
{
    return !intersected(o).isEmpty();
}

Rect Rect::intersected(const Rect &o) const
{
    const double left = std::max(minX(), o.minX());
    const double right = std::min(maxX(), o.maxX());
    const double bottom = std::max(minY(), o.minY());
    const double top = std::min(maxY(), o.maxY());
    if (right <= left || top <= bottom)
        return {};
    return {left, bottom, right - left, top - bottom};
}

namespace Geometry {

QRect primaryScreenGeometry()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return {};
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        return screen->geometry();
    return {};
}

// Qt's bottom edge of the primary screen is top + height (QRect::bottom() is
// one pixel short of that, so it is not used here).
Rect fromQt(const QRectF &r, const QRect &primary)
{
    return {r.x() - primary.left(), (primary.top() + primary.height()) - (r.y() + r.height()), r.width(), r.height()};
}

QRectF toQt(const Rect &r, const QRect &primary)
{
    return {r.x + primary.left(), (primary.top() + primary.height()) - (r.y + r.height), r.width, r.height};
}

Point fromQt(const QPointF &p, const QRect &primary)
{
    return {p.x() - primary.left(), (primary.top() + primary.height()) - p.y()};
}

QPointF toQt(const Point &p, const QRect &primary)
{
    return {p.x + primary.left(), (primary.top() + primary.height()) - p.y};
}

Rect fromQt(const QRectF &r)
{
    return fromQt(r, primaryScreenGeometry());
}
QRectF toQt(const Rect &r)
{
    return toQt(r, primaryScreenGeometry());
}
Point fromQt(const QPointF &p)
{
    return fromQt(p, primaryScreenGeometry());
}
QPointF toQt(const Point &p)
{
    return toQt(p, primaryScreenGeometry());
}

} // namespace Geometry
