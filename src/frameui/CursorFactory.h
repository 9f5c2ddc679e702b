#pragma once

#include "capture/Anchor.h"

#include <QCursor>
#include <QPointF>

#include <vector>

// The resize cursors of the handles. The two diagonal ones are drawn here (the
// X cursor themes do not all carry them); each is built once, on first use,
// and lives for the rest of the process. GUI thread only.
namespace CursorFactory {

// Top-left to bottom-right, and top-right to bottom-left.
const QCursor &nwse();
const QCursor &nesw();

QCursor cursor(Anchor anchor);

// The three strokes of a diagonal arrow in its 20 x 20 image, in the image's
// own y-up coordinates: the shaft, then the head at each end.
std::vector<std::vector<QPointF>> arrowStrokes(bool nwse);

} // namespace CursorFactory
