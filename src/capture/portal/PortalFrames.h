#pragma once

#include <QImage>
#include <QRect>
#include <QRectF>

#include <cstdint>
#include <vector>

// The arithmetic and pixel work between a PipeWire buffer and a frame, apart
// from the stream so tests can call it directly. Pure; any thread.
namespace PortalFrames {

// Byte orders a screencast offers; the fourth byte is never transparency on a
// screen.
enum class Layout {
    bgrx,
    bgra,
    rgbx,
    rgba,
};

// Stream pixels per logical point: the stream's width over the monitor's
// logical width (1, 1.5, 2 on scaled outputs); 1 when either is unknown.
double streamScale(int streamWidth, double logicalWidth);

// `logical` (points, relative to the monitor's top-left) in the buffer:
// scaled, rounded outward to whole pixels, moved by the content's origin (the
// crop the producer announces) and clipped to the content.
QRect regionInBuffer(const QRectF &logical, double scale, const QRect &content);

// Whether any damaged rectangle touches `rect`. No damage list means no
// knowledge: everything may have changed.
bool touches(const std::vector<QRect> &damage, const QRect &rect);

// `rect` of a buffer of `stride` bytes a row, as an opaque premultiplied ARGB
// image (the frame format). Null when the buffer is too small for it.
QImage copyRegion(const uint8_t *data, size_t size, int stride, const QRect &rect, Layout layout);

} // namespace PortalFrames
