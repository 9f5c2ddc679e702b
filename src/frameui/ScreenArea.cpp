#include "frameui/ScreenArea.h"

#include "capture/ScreenUtil.h"

#include <QGuiApplication>
#include <QScreen>

namespace ScreenArea {

Rect screenOf(const Rect &region)
{
    return ScreenUtil::screen(region).frame;
}

Rect visibleOf(const Rect &region)
{
    const ScreenInfo info = ScreenUtil::screen(region);
    for (const QScreen *screen : QGuiApplication::screens()) {
        if (screen->name() != info.name || Geometry::fromQt(QRectF(screen->geometry())) != info.frame)
            continue;
        const Rect available = Geometry::fromQt(QRectF(screen->availableGeometry())).intersected(info.frame);
        if (!available.isEmpty())
            return available;
    }
    return info.frame;
}

} // namespace ScreenArea
