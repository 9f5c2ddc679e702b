#pragma once

#include "base/Geometry.h"

// The screen a region of the recording frame lies on, as the frame places
// its windows: ScreenUtil picks the screen, Qt knows which part of it the
// desktop's panels leave free. GUI thread only.
namespace ScreenArea {

// The whole screen ScreenUtil picks for `region` (y-up points); empty when
// there is no screen.
Rect screenOf(const Rect &region);
// The part of that screen that windows may use (without the desktop's
// panels), or the whole screen when Qt cannot tell.
Rect visibleOf(const Rect &region);

} // namespace ScreenArea
