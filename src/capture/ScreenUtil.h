#pragma once

#include "base/Geometry.h"

#include <QString>

#include <optional>
#include <vector>

// One screen as the capture side sees it: a plain value, safe to hand to any
// thread (a QScreen pointer is not).
struct ScreenInfo {
    // QScreen::name(): the RandR monitor or output name on X11.
    QString name;
    // In global y-up points.
    Rect frame;
    // QScreen::devicePixelRatio().
    double scale = 1.0;
    friend bool operator==(const ScreenInfo &, const ScreenInfo &) = default;
};

// Which screen a rectangle belongs to. The overloads without a screen list
// read QGuiApplication's screens and must run on the GUI thread; the others
// are pure and thread-safe.
namespace ScreenUtil {

// QGuiApplication::screens() in the system's order (the primary first on
// X11); empty without a QGuiApplication.
std::vector<ScreenInfo> screens();
// QGuiApplication::primaryScreen(), if any.
std::optional<ScreenInfo> mainScreen();

// The first screen whose frame holds the rectangle's centre (minimum edges
// inside, maximum edges outside); else the main screen; else the first screen;
// with no screen at all, a ScreenInfo with an empty name and frame, which the
// capture engine records as the main display.
ScreenInfo screen(const Rect &rect, const std::vector<ScreenInfo> &screens, const std::optional<ScreenInfo> &main);
ScreenInfo screen(const Rect &rect);

// The height of the first screen of the list, or 0 without screens.
double primaryHeight(const std::vector<ScreenInfo> &screens);
double primaryHeight();

} // namespace ScreenUtil
