#include "model/ImageOps.h"

#include "base/Rounding.h"

#include <algorithm>
#include <cmath>

namespace ImageOps {

QImage crop(const QImage &image, const QRectF &rect)
{
    const int64_t W = image.width();
    const int64_t H = image.height();
    if (W < 1 || H < 1)
        return image;

    const QRectF r = rect.normalized();
    int64_t x = static_cast<int64_t>(std::floor(r.x()));
    int64_t y = static_cast<int64_t>(std::floor(r.y()));
    int64_t w = roundHalfAwayToInt(r.width());
    int64_t h = roundHalfAwayToInt(r.height());
    if (w < 1 || h < 1)
        return image;
    if (x < 0) {
        w += x;
        x = 0;
    }
    if (y < 0) {
        h += y;
        y = 0;
    }
    if (x >= W || y >= H)
        return image;
    w = std::min(w, W - x);
    h = std::min(h, H - y);
    if (w < 1 || h < 1)
        return image;

    QImage cropped = image.copy(int(x), int(y), int(w), int(h));
    return cropped.isNull() ? image : cropped;
}

QImage resize(const QImage &image, const QSizeF &size)
{
    const int64_t w = std::max<int64_t>(roundHalfAwayToInt(size.width()), 1);
    const int64_t h = std::max<int64_t>(roundHalfAwayToInt(size.height()), 1);
    if (w == image.width() && h == image.height())
        return image;
    if (image.isNull() || w > 1'000'000 || h > 1'000'000)
        return image;

    // Area-averaging when shrinking and bilinear when enlarging; the result is
    // in the frames' usual premultiplied 32-bit format.
    QImage scaled = image.scaled(int(w), int(h), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull())
        return image;
    if (scaled.format() != QImage::Format_ARGB32_Premultiplied)
        scaled = scaled.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return scaled.isNull() ? image : scaled;
}

} // namespace ImageOps
