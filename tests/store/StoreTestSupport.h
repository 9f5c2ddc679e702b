#pragma once

#include <QImage>
#include <QTemporaryDir>

#include <cstdint>

// Pictures for the store's tests, drawn without fonts so that no GUI
// application is needed. Deterministic for the same arguments.
namespace StoreTest {

inline uint32_t mix(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

// Every byte random, alpha included (premultiplied values need not be valid
// for a lossless store).
inline QImage noise(QSize size, uint32_t seed, QImage::Format format = QImage::Format_ARGB32_Premultiplied)
{
    if (QImage(1, 1, format).depth() != 32)
        return noise(size, seed, QImage::Format_ARGB32).convertToFormat(format);
    QImage image(size, format);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<uint32_t *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = mix(seed * 7919U + uint32_t(y * size.width() + x));
    }
    return image;
}

// A window-like picture: flat panels, a toolbar, lines of "glyphs" (short
// runs of dark pixels) on a page that is scrolled up by `scroll` rows, and a
// caret that blinks with `frame`. Consecutive frames with a growing scroll
// exercise moved tiles; a fixed scroll and a changing frame small changes.
inline QImage screen(QSize size, int scroll, int frame, QImage::Format format = QImage::Format_ARGB32_Premultiplied)
{
    if (QImage(1, 1, format).depth() != 32)
        return screen(size, scroll, frame, QImage::Format_ARGB32_Premultiplied).convertToFormat(format);
    QImage image(size, format);
    const int toolbar = std::min(size.height(), 12);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<uint32_t *>(image.scanLine(y));
        const int pageY = y - toolbar + scroll;
        for (int x = 0; x < size.width(); ++x) {
            uint32_t v = 0xfff4f4f2U;
            if (y < toolbar) {
                v = 0xffdcdce6U - uint32_t(y) * 0x010101U;
            } else if (x < size.width() / 5) {
                v = 0xffe8eaeeU;
            } else if (pageY % 18 < 12 && (x / 7) % 9 != 0) {
                const uint32_t r = mix(uint32_t(pageY / 18) * 131U + uint32_t(x / 7));
                const bool ink = ((r >> ((pageY % 18) + (x % 7))) & 3U) == 0;
                v = ink ? 0xff202428U + (r & 0x1f) : v;
            }
            if (pageY >= 0 && (pageY / 120) % 3 == 1 && x > size.width() / 2)
                v = 0xff000000U | (uint32_t(x * 3) & 0xff) << 16 | (uint32_t(pageY) & 0xff) << 8 | 0x60;
            line[x] = format == QImage::Format_RGB32 ? (v & 0x00ffffffU) | (mix(uint32_t(x + y)) & 0xff000000U) : v;
        }
    }
    // The caret and a counter in the toolbar change every frame.
    for (int y = toolbar + 2; y < std::min(size.height(), toolbar + 16); ++y) {
        auto *line = reinterpret_cast<uint32_t *>(image.scanLine(y));
        const int x = (size.width() / 5 + 5 + frame * 7) % std::max(1, size.width());
        if (frame % 8 < 5)
            line[x] = 0xff101010U;
    }
    if (toolbar > 0) {
        auto *line = reinterpret_cast<uint32_t *>(image.scanLine(toolbar / 2));
        for (int x = 0; x < std::min(size.width(), 24); ++x)
            line[size.width() - 1 - x] = ((uint32_t(frame) >> (x / 3)) & 1U) ? 0xff303030U : 0xffdcdce6U;
    }
    return image;
}

// What a reader must get back for a frame that went in as `image`: the same
// bytes, with the alpha of an opaque format set.
inline QImage expected(const QImage &image)
{
    if (image.format() == QImage::Format_ARGB32_Premultiplied)
        return image;
    if (image.format() != QImage::Format_RGB32)
        return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage out(image.size(), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < image.height(); ++y) {
        const auto *src = reinterpret_cast<const uint32_t *>(image.constScanLine(y));
        auto *dst = reinterpret_cast<uint32_t *>(out.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            dst[x] = src[x] | 0xff000000U;
    }
    return out;
}

// Byte equality, which QImage::operator== does not promise across formats.
inline bool sameBytes(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.format() != b.format())
        return false;
    for (int y = 0; y < a.height(); ++y) {
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), std::size_t(a.width()) * 4) != 0)
            return false;
    }
    return true;
}

} // namespace StoreTest
