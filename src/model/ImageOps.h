#pragma once

#include <QImage>
#include <QRectF>
#include <QSizeF>

// Pure image operations for the editor's crop and resize. Neither fails: when
// a request cannot be met the input image itself is returned, so a caller may
// assign the result unconditionally. Thread-safe.
namespace ImageOps {

// `rect` is in the image's pixel coordinates (origin top-left, y down). The
// origin is floored, the size rounded halves away from zero, then clamped to
// the image.
QImage crop(const QImage &image, const QRectF &rect);

// Scales to exactly round(size) pixels, at least 1 x 1; the aspect ratio is the
// caller's business. The same size returns the input.
QImage resize(const QImage &image, const QSizeF &size);

} // namespace ImageOps
