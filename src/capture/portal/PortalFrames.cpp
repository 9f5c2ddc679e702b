#include "capture/portal/PortalFrames.h"

#include <cmath>
#include <cstring>

namespace PortalFrames {

double streamScale(int streamWidth, double logicalWidth)
{
    if (streamWidth <= 0 || !(logicalWidth > 0) || !std::isfinite(logicalWidth))
        return 1.0;
    return double(streamWidth) / logicalWidth;
}

QRect regionInBuffer(const QRectF &logical, double scale, const QRect &content)
{
    // Outward, so that a region at 1.5 keeps its last half pixel; a hair of
    // tolerance keeps exact products (100 * 1.5) from growing a pixel.
    const int left = int(std::floor(logical.left() * scale + 1e-6));
    const int top = int(std::floor(logical.top() * scale + 1e-6));
    const int right = int(std::ceil(logical.right() * scale - 1e-6));
    const int bottom = int(std::ceil(logical.bottom() * scale - 1e-6));
    const QRect scaled(QPoint(left, top), QPoint(right - 1, bottom - 1));
    return scaled.translated(content.topLeft()) & content;
}

bool touches(const std::vector<QRect> &damage, const QRect &rect)
{
    if (damage.empty())
        return true;
    for (const QRect &d : damage) {
        if (d.intersects(rect))
            return true;
    }
    return false;
}

QImage copyRegion(const uint8_t *data, size_t size, int stride, const QRect &rect, Layout layout)
{
    if (!data || rect.isEmpty() || rect.left() < 0 || rect.top() < 0 || stride < (rect.right() + 1) * 4)
        return {};
    const size_t last = size_t(rect.bottom()) * size_t(stride) + size_t(rect.right() + 1) * 4;
    if (last > size)
        return {};
    QImage image(rect.size(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    const bool swap = layout == Layout::rgbx || layout == Layout::rgba;
    for (int y = 0; y < rect.height(); ++y) {
        const auto *src
            = reinterpret_cast<const uint32_t *>(data + size_t(rect.top() + y) * size_t(stride)) + rect.left();
        auto *dst = reinterpret_cast<uint32_t *>(image.scanLine(y));
        if (!swap) {
            for (int x = 0; x < rect.width(); ++x)
                dst[x] = src[x] | 0xff000000u;
        } else {
            // Bytes R, G, B, X in memory are 0xXXBBGGRR on a little-endian
            // machine; the frame wants 0xffRRGGBB.
            for (int x = 0; x < rect.width(); ++x) {
                const uint32_t p = src[x];
                dst[x] = 0xff000000u | ((p & 0xffu) << 16) | (p & 0xff00u) | ((p >> 16) & 0xffu);
            }
        }
    }
    return image;
}

} // namespace PortalFrames
