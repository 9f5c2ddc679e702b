#include "capture/ScreenUtil.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

ScreenInfo describe(const QScreen *screen, const QRect &primary)
{
    return {screen->name(), Geometry::fromQt(QRectF(screen->geometry()), primary), screen->devicePixelRatio()};
}

bool hasGuiApplication()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
}

} // namespace

namespace ScreenUtil {

std::vector<ScreenInfo> screens()
{
    std::vector<ScreenInfo> result;
    if (!hasGuiApplication())
        return result;
    const QRect primary = Geometry::primaryScreenGeometry();
    for (const QScreen *s : QGuiApplication::screens())
        result.push_back(describe(s, primary));
    return result;
}

std::optional<ScreenInfo> mainScreen()
{
    if (!hasGuiApplication())
        return std::nullopt;
    if (const QScreen *s = QGuiApplication::primaryScreen())
        return describe(s, s->geometry());
    return std::nullopt;
}

ScreenInfo screen(const Rect &rect, const std::vector<ScreenInfo> &screens, const std::optional<ScreenInfo> &main)
{
    const Point centre {rect.midX(), rect.midY()};
    for (const ScreenInfo &s : screens) {
        if (s.frame.contains(centre))
            return s;
    }
    if (main)
        return *main;
    if (!screens.empty())
        return screens.front();
    return {};
}

ScreenInfo screen(const Rect &rect)
{
    return screen(rect, screens(), mainScreen());
}

double primaryHeight(const std::vector<ScreenInfo> &screens)
{
    return screens.empty() ? 0.0 : screens.front().frame.height;
}

double primaryHeight()
{
    return primaryHeight(screens());
}

} // namespace ScreenUtil
