#include "export/GifWriter.h"

#include <QFile>

#include <gif_lib.h>
#include <libimagequant.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

namespace {

constexpr int MAX_SIDE = 65535;
// One palette slot stays free for the transparent index.
constexpr int MAX_PALETTE_COLORS = 255;

struct LiqAttrDeleter {
    void operator()(liq_attr *p) const { liq_attr_destroy(p); }
};
struct LiqHistogramDeleter {
    void operator()(liq_histogram *p) const { liq_histogram_destroy(p); }
};
struct LiqResultDeleter {
    void operator()(liq_result *p) const { liq_result_destroy(p); }
};
struct LiqImageDeleter {
    void operator()(liq_image *p) const { liq_image_destroy(p); }
};
using LiqAttr = std::unique_ptr<liq_attr, LiqAttrDeleter>;
using LiqHistogram = std::unique_ptr<liq_histogram, LiqHistogramDeleter>;
using LiqResult = std::unique_ptr<liq_result, LiqResultDeleter>;
using LiqImage = std::unique_ptr<liq_image, LiqImageDeleter>;

struct ColorMapDeleter {
    void operator()(ColorMapObject *p) const { GifFreeMapObject(p); }
};
using ColorMap = std::unique_ptr<ColorMapObject, ColorMapDeleter>;

const uint32_t *row(const QImage &image, int y)
{
    return reinterpret_cast<const uint32_t *>(image.constScanLine(y));
}

uint8_t alphaOf(uint32_t rgba)
{
    uint8_t bytes[4];
    std::memcpy(bytes, &rgba, 4);
    return bytes[3];
}

// RGBA bytes in memory, as libimagequant reads them; the frame's own pixels at
// the top-left of a canvas-sized picture, transparent around them.
QImage toCanvasRgba(const QImage &image, QSize canvas)
{
    QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    if (rgba.size() == canvas)
        return rgba;
    QImage placed(canvas, QImage::Format_RGBA8888);
    placed.fill(Qt::transparent);
    for (int y = 0; y < std::min(canvas.height(), rgba.height()); ++y)
        std::memcpy(placed.scanLine(y), rgba.constScanLine(y), size_t(std::min(canvas.width(), rgba.width())) * 4);
    return placed;
}

bool isOpaque(const QImage &image)
{
    if (!image.hasAlphaChannel())
        return true;
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < rgba.height(); ++y) {
        const uint32_t *line = row(rgba, y);
        for (int x = 0; x < rgba.width(); ++x) {
            if (alphaOf(line[x]) != 255)
                return false;
        }
    }
    return true;
}

// Pixels below half opacity become fully transparent, the rest fully opaque:
// a GIF pixel is one or the other.
void binarizeAlpha(QImage &rgba)
{
    for (int y = 0; y < rgba.height(); ++y) {
        auto *line = reinterpret_cast<uint8_t *>(rgba.scanLine(y));
        for (int x = 0; x < rgba.width(); ++x) {
            uint8_t *p = line + x * 4;
            if (p[3] < 128)
                std::memset(p, 0, 4);
            else
                p[3] = 255;
        }
    }
}

// The bounding box of the pixels that differ; empty when none do.
QRect changedRect(const QImage &previous, const QImage &current)
{
    int top = -1;
    int bottom = -1;
    int left = current.width();
    int right = -1;
    const size_t rowBytes = size_t(current.width()) * 4;
    for (int y = 0; y < current.height(); ++y) {
        const uint32_t *a = row(previous, y);
        const uint32_t *b = row(current, y);
        if (std::memcmp(a, b, rowBytes) == 0)
            continue;
        if (top < 0)
            top = y;
        bottom = y;
        int x = 0;
        while (a[x] == b[x])
            ++x;
        left = std::min(left, x);
        int xr = current.width() - 1;
        while (a[xr] == b[xr])
            --xr;
        right = std::max(right, xr);
    }
    if (top < 0)
        return {};
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

LiqImage liqImage(liq_attr *attr, const QImage &rgba, const QRect &area)
{
    std::vector<void *> rows(size_t(area.height()));
    for (int y = 0; y < area.height(); ++y)
        rows[size_t(y)] = const_cast<uchar *>(rgba.constScanLine(area.y() + y)) + area.x() * 4;
    // The row pointers are copied; the pixels must outlive the image.
    return LiqImage(liq_image_create_rgba_rows(attr, rows.data(), area.width(), area.height(), 0));
}

// Palette indices of `area` of `rgba`, row by row.
std::optional<std::vector<uint8_t>> remap(liq_attr *attr, liq_result *result, const QImage &rgba, const QRect &area)
{
    LiqImage image = liqImage(attr, rgba, area);
    if (!image)
        return std::nullopt;
    std::vector<uint8_t> indices(size_t(area.width()) * size_t(area.height()));
    if (liq_write_remapped_image(result, image.get(), indices.data(), indices.size()) != LIQ_OK)
        return std::nullopt;
    return indices;
}

uint32_t rgbKey(const GifColorType &c)
{
    return uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | uint32_t(c.Blue);
}

// The frame being written into a giflib file.
struct FrameOut {
    QRect area;
    std::vector<uint8_t> indices;
    int delayCs = 0;
    int disposal = DISPOSE_DO_NOT;
    int transparent = NO_TRANSPARENT_COLOR;
};

bool putFrame(GifFileType *gif, FrameOut &frame)
{
    GraphicsControlBlock gcb {};
    gcb.DisposalMode = frame.disposal;
    gcb.UserInputFlag = false;
    gcb.DelayTime = frame.delayCs;
    gcb.TransparentColor = frame.transparent;
    GifByteType extension[4];
    EGifGCBToExtension(&gcb, extension);
    if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension) != GIF_OK)
        return false;
    if (EGifPutImageDesc(gif, frame.area.x(), frame.area.y(), frame.area.width(), frame.area.height(), false, nullptr)
        != GIF_OK)
        return false;
    for (int y = 0; y < frame.area.height(); ++y) {
        if (EGifPutLine(gif, frame.indices.data() + size_t(y) * size_t(frame.area.width()), frame.area.width())
            != GIF_OK)
            return false;
    }
    return true;
}

bool putLoopExtension(GifFileType *gif, int64_t loopCount)
{
    const auto loops = uint16_t(std::clamp<int64_t>(loopCount, 0, 65535));
    const GifByteType application[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    const GifByteType count[] = {1, GifByteType(loops & 0xff), GifByteType(loops >> 8)};
    return EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK
        && EGifPutExtensionBlock(gif, sizeof application, application) == GIF_OK
        && EGifPutExtensionBlock(gif, sizeof count, count) == GIF_OK && EGifPutExtensionTrailer(gif) == GIF_OK;
}

// The palette of a quantisation, with room for the transparent index.
struct Palette {
    ColorMap map;
    int transparent = 0;
};

// `transparentFromLiq`: use libimagequant's most transparent entry (it may
// return several below full opacity) when it made one; otherwise append one.
Palette makePalette(const liq_palette *source, bool transparentFromLiq)
{
    const int count = int(source->count);
    int transparent = count;
    if (transparentFromLiq) {
        int lowest = 255;
        for (int i = 0; i < count; ++i) {
            if (source->entries[i].a < lowest) {
                lowest = source->entries[i].a;
                transparent = i;
            }
        }
        if (lowest == 255)
            transparent = count;
    }
    const int used = std::max(count, transparent + 1);
    int size = 2;
    while (size < used)
        size *= 2;
    std::vector<GifColorType> colors(size_t(size), GifColorType {0, 0, 0});
    for (int i = 0; i < count; ++i)
        colors[size_t(i)] = {source->entries[i].r, source->entries[i].g, source->entries[i].b};
    return {ColorMap(GifMakeMapObject(size, colors.data())), transparent};
}

// The nearest entry of full opacity, for an opaque pixel that dithering sent
// to a (partly) transparent entry.
int nearestOpaque(const liq_palette *palette, int index)
{
    const liq_color want = palette->entries[index];
    int best = index;
    int bestDistance = INT32_MAX;
    for (int i = 0; i < int(palette->count); ++i) {
        const liq_color c = palette->entries[i];
        if (c.a != 255)
            continue;
        const int dr = c.r - want.r;
        const int dg = c.g - want.g;
        const int db = c.b - want.b;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

class GifFile {
public:
    explicit GifFile(GifFileType *gif)
        : m_gif(gif)
    {
    }
    ~GifFile()
    {
        if (m_gif)
            close();
    }
    GifFile(const GifFile &) = delete;
    GifFile &operator=(const GifFile &) = delete;

    GifFileType *get() const { return m_gif; }
    bool close()
    {
        int error = 0;
        const bool ok = EGifCloseFile(std::exchange(m_gif, nullptr), &error) == GIF_OK;
        return ok;
    }

private:
    GifFileType *m_gif;
};

} // namespace

GifWriter::Status GifWriter::write(
    const QString &path, const std::vector<QImage> &images, const std::vector<int> &delaysCs, int64_t loopCount) const
{
    QSize canvas(1, 1);
    bool delta = true;
    for (const QImage &image : images) {
        canvas = canvas.expandedTo(image.size());
        if (image.isNull())
            return Status::cannotCreate;
    }
    if (canvas.width() > MAX_SIDE || canvas.height() > MAX_SIDE || images.size() != delaysCs.size())
        return Status::cannotCreate;
    for (const QImage &image : images) {
        if (image.size() != canvas || !isOpaque(image)) {
            delta = false;
            break;
        }
    }

    // Opened here rather than by giflib, which would make the file private
    // (0600); this way the umask decides, as for any file the user saves.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return Status::cannotCreate;
    int openError = 0;
    GifFile gif(EGifOpenFileHandle(fd, &openError));
    if (!gif.get()) {
        ::close(fd);
        return Status::cannotCreate;
    }
    EGifSetGifVersion(gif.get(), true);

    LiqAttr attr(liq_attr_create());
    if (!attr)
        return Status::finalizeFailed;
    liq_set_max_colors(attr.get(), MAX_PALETTE_COLORS);
    liq_set_speed(attr.get(), std::clamp(m_tuning.speed, 1, 10));

    // First pass: the histogram of everything that will be drawn, and so the
    // one palette for the whole animation.
    LiqHistogram histogram(liq_histogram_create(attr.get()));
    if (!histogram)
        return Status::finalizeFailed;
    std::vector<QRect> changed(images.size());
    {
        QImage previous;
        for (size_t i = 0; i < images.size(); ++i) {
            QImage current = toCanvasRgba(images[i], canvas);
            if (!delta)
                binarizeAlpha(current);
            changed[i] = (!delta || i == 0) ? current.rect() : changedRect(previous, current);
            if (!changed[i].isEmpty()) {
                LiqImage image = liqImage(attr.get(), current, changed[i]);
                if (!image || liq_histogram_add_image(histogram.get(), attr.get(), image.get()) != LIQ_OK)
                    return Status::finalizeFailed;
            }
            previous = std::move(current);
        }
    }
    liq_result *quantized = nullptr;
    if (liq_histogram_quantize(histogram.get(), attr.get(), &quantized) != LIQ_OK || !quantized)
        return Status::finalizeFailed;
    LiqResult result(quantized);
    liq_set_dithering_level(result.get(), std::clamp(m_tuning.dithering, 0.0f, 1.0f));
    const liq_palette *liqPalette = liq_get_palette(result.get());
    Palette palette = makePalette(liqPalette, !delta);
    if (!palette.map)
        return Status::finalizeFailed;

    if (EGifPutScreenDesc(
            gif.get(), canvas.width(), canvas.height(), 8, delta ? 0 : palette.transparent, palette.map.get())
            != GIF_OK
        || !putLoopExtension(gif.get(), loopCount))
        return Status::finalizeFailed;

    // Second pass: map and write each frame. `shown` holds the colour every
    // pixel of the picture has after the frames written so far.
    std::vector<uint32_t> shown(size_t(canvas.width()) * size_t(canvas.height()));
    const GifColorType *colors = palette.map->Colors;
    QImage previous;
    for (size_t i = 0; i < images.size(); ++i) {
        QImage current = toCanvasRgba(images[i], canvas);
        if (!delta)
            binarizeAlpha(current);
        FrameOut frame;
        frame.delayCs = delaysCs[i];
        frame.area = changed[i];
        if (frame.area.isEmpty()) {
            // Nothing changed: a one-pixel transparent frame keeps the delay.
            frame.area = QRect(0, 0, 1, 1);
            frame.indices = {uint8_t(palette.transparent)};
            frame.transparent = palette.transparent;
        } else {
            std::optional<std::vector<uint8_t>> indices = remap(attr.get(), result.get(), current, frame.area);
            if (!indices)
                return Status::finalizeFailed;
            frame.indices = std::move(*indices);
            const QRect area = frame.area;
            if (!delta) {
                frame.disposal = DISPOSE_BACKGROUND;
                frame.transparent = palette.transparent;
                for (int y = 0; y < area.height(); ++y) {
                    const uint32_t *src = row(current, area.y() + y);
                    uint8_t *out = frame.indices.data() + size_t(y) * size_t(area.width());
                    for (int x = 0; x < area.width(); ++x) {
                        if (alphaOf(src[area.x() + x]) == 0)
                            out[x] = uint8_t(palette.transparent);
                        else if (out[x] == palette.transparent || liqPalette->entries[out[x]].a != 255)
                            out[x] = uint8_t(nearestOpaque(liqPalette, out[x]));
                    }
                }
            } else if (i == 0) {
                for (int y = 0; y < area.height(); ++y) {
                    for (int x = 0; x < area.width(); ++x) {
                        const size_t at = size_t(y) * size_t(area.width()) + size_t(x);
                        shown[size_t(y) * size_t(canvas.width()) + size_t(x)] = rgbKey(colors[frame.indices[at]]);
                    }
                }
            } else {
                // Pixels whose source did not change, or whose new index shows
                // the colour already there, become transparent: long runs of
                // one index that cost almost nothing after compression.
                frame.transparent = palette.transparent;
                int top = area.height();
                int bottom = -1;
                int left = area.width();
                int right = -1;
                for (int y = 0; y < area.height(); ++y) {
                    const uint32_t *was = row(previous, area.y() + y);
                    const uint32_t *now = row(current, area.y() + y);
                    uint8_t *out = frame.indices.data() + size_t(y) * size_t(area.width());
                    uint32_t *screen = shown.data() + size_t(area.y() + y) * size_t(canvas.width()) + size_t(area.x());
                    for (int x = 0; x < area.width(); ++x) {
                        const uint32_t color = rgbKey(colors[out[x]]);
                        if (was[area.x() + x] == now[area.x() + x] || color == screen[x]) {
                            out[x] = uint8_t(palette.transparent);
                            continue;
                        }
                        screen[x] = color;
                        top = std::min(top, y);
                        bottom = y;
                        left = std::min(left, x);
                        right = std::max(right, x);
                    }
                }
                if (bottom < 0) {
                    frame.area = QRect(0, 0, 1, 1);
                    frame.indices = {uint8_t(palette.transparent)};
                } else {
                    const QRect tight(QPoint(left, top), QPoint(right, bottom));
                    std::vector<uint8_t> cropped(size_t(tight.width()) * size_t(tight.height()));
                    for (int y = 0; y < tight.height(); ++y) {
                        std::memcpy(cropped.data() + size_t(y) * size_t(tight.width()),
                            frame.indices.data() + size_t(tight.y() + y) * size_t(area.width()) + size_t(tight.x()),
                            size_t(tight.width()));
                    }
                    frame.indices = std::move(cropped);
                    frame.area = tight.translated(area.topLeft());
                }
            }
        }
        if (!putFrame(gif.get(), frame))
            return Status::finalizeFailed;
        previous = std::move(current);
    }
    return gif.close() ? Status::written : Status::finalizeFailed;
}
