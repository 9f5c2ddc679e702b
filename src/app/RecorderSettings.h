#pragma once

#include "base/Geometry.h"
#include "capture/ScreenUtil.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// What the recording frame remembers between runs: the last region with the
// screen it was on, and the frame rate. The region is kept relative to its
// screen's top-left corner, so a screen that moved in the desktop's layout
// still gets it back. GUI thread only.
namespace RecorderSettings {

// Settings keys, beside the editor's "lastExportName" and "lastExportDir".
inline const QString regionKey = QStringLiteral("lastRegion"); // "x,y,width,height", y down from the screen's top
inline const QString screenKey = QStringLiteral("lastRegionScreen"); // QScreen::name()
inline const QString fpsKey = QStringLiteral("fps");

struct Stored {
    QString screen;
    // Offset from the screen's top-left corner (y down) and size, in points.
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// The stored form of `region` (y-up global points) on `screen`.
Stored store(const Rect &region, const ScreenInfo &screen);
// Where the stored region lies now: absent when its screen is gone or the
// region no longer fits on it (a smaller resolution).
std::optional<Rect> place(const Stored &stored, const std::vector<ScreenInfo> &screens);

// "x,y,width,height" and back; absent for anything else.
QString format(const Stored &stored);
std::optional<Stored> parse(const QString &screen, const QString &region);

// Reads the settings against the present screens.
std::optional<Rect> rememberedRegion();
std::optional<int64_t> rememberedFps();
// Writes the region (on the screen that holds its centre) and the frame rate.
void remember(const Rect &region, int64_t fps);

} // namespace RecorderSettings
