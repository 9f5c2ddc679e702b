#pragma once

#include "base/Geometry.h"

#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>

// The arithmetic of a capture start, apart from the engine so tests can call
// it directly. Pure; any thread.
namespace CaptureGeometry {

struct DisplayCrop {
    // The region in the display's own space (points, origin top-left, y down).
    QRectF local;
    // `local` moved and cut onto the display.
    QRectF cropped;
    // Some edge moved by more than one point.
    bool straddles = false;
};

// `region` is in y-up global points, `primaryHeight` the height of the primary
// screen, `display` the display's bounds in the global display space (origin
// top-left of the primary display, y down). The origin is clamped first (to at
// most the display's size minus 2, at least 0), then the size is cut to what
// remains: a region hanging off the left or top keeps its size, one hanging
// off the right or bottom is cut.
DisplayCrop cropToDisplay(const Rect &region, double primaryHeight, const Rect &display);

// round(scale * size), at least 2 pixels each way. A scale that is not a
// positive number counts as 1.
QSize outputPixels(const QSizeF &points, double scale);

// `points` (a cropped region in its screen's points) in that screen's device
// pixels: the origin rounded, the size as outputPixels() gives it.
QRect devicePixels(const QRectF &points, double scale);

// A double the way the log prints it: whole numbers keep one decimal ("640.0"),
// others print in their shortest exact form ("0.5").
QString formatDouble(double value);
// "(x, y, width, height)" with each number as formatDouble prints it.
QString formatRect(double x, double y, double width, double height);
QString formatRect(const Rect &rect);
QString formatRect(const QRectF &rect);

} // namespace CaptureGeometry
