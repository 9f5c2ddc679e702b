#pragma once

#include "base/Geometry.h"
#include "capture/Anchor.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

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
// would come within four points of the top of `visible` (the part of the
// screen that windows may use); centred on the region; always kept four
// points inside `visible` (the right and top edges win when the bar does not
// fit).
Rect topBarFrame(const Rect &region, double width, const Rect &visible);

// Corner grabbers are centred on their corner; edge grabbers on their edge,
// two points short of the corner grabbers and never thinner than one point.
Rect grabberFrame(Anchor anchor, const Rect &region);

// The control bar inside the region, eight points above its bottom edge:
// centred, and kept eight points inside the left and right edges when it fits
// with that room to spare (a wider bar stays centred and overhangs). Either
// way it stays four points inside `visible`, so REC and Stop can always be
// reached.
Rect controlBarFrame(const Rect &region, Size bar, const Rect &visible);

// The region kept on its screen: no larger than the screen and moved onto
// it. What a move of the frame and a typed size or position become, so the
// frame never leaves its controls off the screen and the recording is what
// the frame shows.
Rect fittedOnScreen(const Rect &region, const Rect &screen);
// The region cut at the screen's edges: what a resize becomes, so a dragged
// edge stops at the screen's edge and the other edges stay. A region that
// would be cut below RegionModel::minSize is fitted instead.
Rect cutToScreen(const Rect &region, const Rect &screen);

// While recording through a capture that cannot leave the frame's windows
// out of the picture, all of the chrome lies outside the region.

// The border's reach beyond the region in that case: a one-point gap, the
// four-point coloured line and the two-point dark line.
inline constexpr double outsideBorderReach = 7;
// The overlay window's margin around the region then.
inline constexpr double outsideOverlayMargin = 8;
// Between the region and a bar placed outside it: clear of the border.
inline constexpr double outsideGap = 8;

Rect overlayFrame(const Rect &region, double margin);

struct OutsidePlacement {
    Rect controlBar;
    // Absent when the top bar has no room outside the region and the bar.
    std::optional<Rect> topBar;
    // No room anywhere outside: the bar lies over the region (in the picture),
    // because it must stay on the screen.
    bool barOverRegion = false;
};
// The bar just below the region, or above it, or beside it (right, then
// left) when there is no room; the top bar above the region or stacked with
// the bar. Everything stays four points inside `visible`.
OutsidePlacement outsidePlacement(const Rect &region, Size bar, double topBarWidth, const Rect &visible);

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
