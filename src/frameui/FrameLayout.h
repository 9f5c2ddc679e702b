#pragma once

#include "base/Geometry.h"
#include "capture/Anchor.h"

#include <QString>

#include <array>
#include <cstdint>

// Where every window of the recording frame goes for a region, and the
// control bar's field arithmetic. All rectangles are y-up global points; the
// widgets only convert the results when they place a window. Pure; any thread.
namespace FrameLayout {

// Thickness of a grabber window.
inline constexpr double HIT = 18;
// Height of the top bar window.
inline constexpr double TOPBAR_H = 22;
// How far the overlay window reaches beyond the region on every side.
inline constexpr double overlayMargin = 5;

// The grabbers in the order their windows are made, ordered in and reported
// for exclusion from the capture.
inline constexpr std::array<Anchor, 8> grabberOrder {Anchor::top, Anchor::bottom, Anchor::left, Anchor::right,
    Anchor::topLeft, Anchor::topRight, Anchor::bottomLeft, Anchor::bottomRight};

Rect overlayFrame(const Rect &region);

// "640 × 420": width and height truncated toward zero.
QString sizeLabel(const Rect &region);
// The running frame count shown in the top bar while recording.
QString recordingLabel(int64_t frames);

// The top bar's width for a label of that measured width: the text plus 22,
// at least 54.
double topBarWidth(double textWidth);
// Seven points above the region, or six points inside its top edge when it
// would come within four points of the screen's top; centred on the region but
// kept four points inside the screen's left and right edges (the right one
// wins when the bar is wider than the screen).
Rect topBarFrame(const Rect &region, double width, const Rect &screen);

// Corner grabbers are centred on their corner; edge grabbers on their edge,
// two points short of the corner grabbers and never thinner than one point.
Rect grabberFrame(Anchor anchor, const Rect &region);

// The control bar inside the region, eight points above its bottom edge:
// centred, and kept eight points inside the left and right edges when it fits
// with that room to spare (a wider bar stays centred and overhangs).
Point controlBarOrigin(const Rect &region, double barWidth);

// What the control bar's geometry fields show for a region on a screen.
struct FieldValues {
    int64_t width = 0;
    int64_t height = 0;
    // From the screen's left edge to the region's.
    int64_t x = 0;
    // From the screen's top edge down to the region's.
    int64_t y = 0;
    friend bool operator==(const FieldValues &, const FieldValues &) = default;
};
FieldValues fieldValues(const Rect &region, const Rect &screen);

// The region after an X or a Y entry of `value` (negative taken as 0): the
// size is kept.
Rect withX(const Rect &region, const Rect &screen, int64_t value);
Rect withY(const Rect &region, const Rect &screen, int64_t value);
// A frame-rate entry held to 1 ... 60.
int64_t clampedFps(int64_t value);

} // namespace FrameLayout
