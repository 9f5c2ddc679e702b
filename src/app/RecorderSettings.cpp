#include "app/RecorderSettings.h"

#include "base/Settings.h"

#include <QStringList>

#include <cmath>

namespace RecorderSettings {

Stored store(const Rect &region, const ScreenInfo &screen)
{
    return {screen.name, region.minX() - screen.frame.minX(), screen.frame.maxY() - region.maxY(), region.width,
        region.height};
}

std::optional<Rect> place(const Stored &stored, const std::vector<ScreenInfo> &screens)
{
    for (const ScreenInfo &screen : screens) {
        if (screen.name != stored.screen)
            continue;
        const Rect &f = screen.frame;
        if (stored.width <= 0 || stored.height <= 0 || stored.x < 0 || stored.y < 0 || stored.x + stored.width > f.width
            || stored.y + stored.height > f.height)
            return std::nullopt;
        return Rect {f.minX() + stored.x, f.maxY() - stored.y - stored.height, stored.width, stored.height};
    }
    return std::nullopt;
}

QString format(const Stored &stored)
{
    return QStringLiteral("%1,%2,%3,%4").arg(stored.x).arg(stored.y).arg(stored.width).arg(stored.height);
}

std::optional<Stored> parse(const QString &screen, const QString &region)
{
    const QStringList parts = region.split(QLatin1Char(','));
    // A screen may have no name (some virtual outputs); the region then
    // comes back on a screen that has none either.
    if (parts.size() != 4)
        return std::nullopt;
    double values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].toDouble(&ok);
        if (!ok || !std::isfinite(values[i]))
            return std::nullopt;
    }
    return Stored {screen, values[0], values[1], values[2], values[3]};
}

std::optional<Rect> rememberedRegion()
{
    const std::optional<Stored> stored = parse(Settings::string(screenKey), Settings::string(regionKey));
    if (!stored)
        return std::nullopt;
    return place(*stored, ScreenUtil::screens());
}

std::optional<int64_t> rememberedFps()
{
    bool ok = false;
    const qlonglong fps = Settings::value(fpsKey).toLongLong(&ok);
    if (!ok || fps < 1 || fps > 60)
        return std::nullopt;
    return fps;
}

void remember(const Rect &region, int64_t fps)
{
    const Stored stored = store(region, ScreenUtil::screen(region));
    Settings::setValue(screenKey, stored.screen);
    Settings::setValue(regionKey, format(stored));
    Settings::setValue(fpsKey, qlonglong(fps));
}

} // namespace RecorderSettings
