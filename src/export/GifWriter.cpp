#include "export/GifWriter.h"

#include <QFile>

#include <gif_lib.h>
#include <libimagequant.h>
#include <omp.h>

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
using LiqAttr = std::unique_ptr<liq_attr, LiqAttrDeleter>;
using LiqHistogram = std::unique_ptr<liq_histogram, LiqHistogramDeleter>;
using LiqResult = std::unique_ptr<liq_result, LiqResultDeleter>;

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

// Whether every pixel of an RGBA8888 picture is opaque.
bool isOpaqueRgba(const QImage &rgba)
{
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

bool putLoopExtension(GifFileType *gif, int64_t loopValue)
{
    if (loopValue < 0)
        return true;
    const auto loops = uint16_t(std::min<int64_t>(loopValue, 65535));
    const GifByteType application[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    const GifByteType count[] = {1, GifByteType(loops & 0xff), GifByteType(loops >> 8)};
    return EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK
        && EGifPutExtensionBlock(gif, sizeof application, application) == GIF_OK
        && EGifPutExtensionBlock(gif, sizeof count, count) == GIF_OK && EGifPutExtensionTrailer(gif) == GIF_OK;
}

// Pixel (RGBA bytes read as one word) to a number: how often the colour occurs
// while counting, its palette index once the palette is made. Open addressing,
// since screen content repeats a few colours millions of times.
class ColorTable {
public:
    ColorTable() { reset(1 << 12); }

    uint32_t &operator[](uint32_t key)
    {
        size_t at = slot(key);
        if (!m_used[at]) {
            if ((m_count + 1) * 2 > m_keys.size()) {
                grow();
                at = slot(key);
            }
            m_used[at] = 1;
            m_keys[at] = key;
            m_values[at] = 0;
            ++m_count;
        }
        return m_values[at];
    }

    const uint32_t *find(uint32_t key) const
    {
        const size_t at = slot(key);
        return m_used[at] ? &m_values[at] : nullptr;
    }

    size_t size() const { return m_count; }

    template <typename F> void forEach(F &&f)
    {
        for (size_t i = 0; i < m_keys.size(); ++i) {
            if (m_used[i])
                f(m_keys[i], m_values[i]);
        }
    }

private:
    size_t slot(uint32_t key) const
    {
        size_t at = (key * 0x9E3779B1u) & m_mask;
        while (m_used[at] && m_keys[at] != key)
            at = (at + 1) & m_mask;
        return at;
    }

    void reset(size_t capacity)
    {
        m_keys.assign(capacity, 0);
        m_values.assign(capacity, 0);
        m_used.assign(capacity, 0);
        m_mask = capacity - 1;
        m_count = 0;
    }

    void grow()
    {
        std::vector<uint32_t> keys = std::move(m_keys);
        std::vector<uint32_t> values = std::move(m_values);
        std::vector<uint8_t> used = std::move(m_used);
        reset(keys.size() * 2);
        for (size_t i = 0; i < keys.size(); ++i) {
            if (used[i])
                (*this)[keys[i]] = values[i];
        }
    }

    std::vector<uint32_t> m_keys;
    std::vector<uint32_t> m_values;
    std::vector<uint8_t> m_used;
    size_t m_mask = 0;
    size_t m_count = 0;
};

// Adds the visible pixels of `area` to `counts`, a run of one colour at a time.
void countColors(ColorTable &counts, const QImage &rgba, const QRect &area)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const uint32_t *line = row(rgba, y);
        uint32_t last = line[area.left()];
        uint32_t run = 0;
        for (int x = area.left(); x <= area.right(); ++x) {
            if (line[x] == last) {
                ++run;
                continue;
            }
            if (alphaOf(last) != 0)
                counts[last] += run;
            last = line[x];
            run = 1;
        }
        if (alphaOf(last) != 0)
            counts[last] += run;
    }
}

// Adds the pixels of `area` that differ from `previous`: what a delta frame
// draws. Counting the whole changed rectangle instead would weigh the static
// background inside it once per frame, and the palette would spend its
// entries on that background at the cost of what actually moves.
void countChangedColors(ColorTable &counts, const QImage &previous, const QImage &rgba, const QRect &area)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const uint32_t *was = row(previous, y);
        const uint32_t *line = row(rgba, y);
        uint32_t last = 0;
        uint32_t run = 0;
        for (int x = area.left(); x <= area.right(); ++x) {
            if (line[x] == was[x])
                continue;
            if (line[x] == last && run > 0) {
                ++run;
                continue;
            }
            if (run > 0)
                counts[last] += run;
            last = line[x];
            run = 1;
        }
        if (run > 0)
            counts[last] += run;
    }
}

liq_color toLiq(uint32_t rgba)
{
    liq_color color;
    std::memcpy(&color, &rgba, 4);
    return color;
}

// The animation's one palette and the index of every colour that will be
// drawn.
struct Palette {
    ColorMap map;
    liq_palette entries {};
    int transparent = 0;
    ColorTable indexOf;
};

ColorMap makeColorMap(const liq_palette &entries, int used)
{
    int size = 2;
    while (size < used)
        size *= 2;
    std::vector<GifColorType> colors(size_t(size), GifColorType {0, 0, 0});
    for (unsigned i = 0; i < entries.count; ++i)
        colors[i] = {entries.entries[i].r, entries.entries[i].g, entries.entries[i].b};
    return ColorMap(GifMakeMapObject(size, colors.data()));
}

// The entry of full opacity nearest to `rgba`.
uint32_t nearestOpaque(const liq_palette &palette, uint32_t rgba)
{
    const liq_color want = toLiq(rgba);
    uint32_t best = 0;
    int bestDistance = INT32_MAX;
    for (unsigned i = 0; i < palette.count; ++i) {
        const liq_color c = palette.entries[i];
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

// Few enough colours keep their exact values; more are quantised by
// libimagequant from the counted histogram, and each counted colour then maps
// to its nearest entry. Either way one index is left for transparency.
std::unique_ptr<Palette> makePalette(ColorTable &counts, liq_attr *attr, int maxColors)
{
    auto palette = std::make_unique<Palette>();
    if (counts.size() <= size_t(maxColors)) {
        std::vector<uint32_t> colors;
        counts.forEach([&](uint32_t color, uint32_t) { colors.push_back(color); });
        std::sort(colors.begin(), colors.end());
        palette->entries.count = unsigned(colors.size());
        for (size_t i = 0; i < colors.size(); ++i) {
            palette->entries.entries[i] = toLiq(colors[i]);
            palette->indexOf[colors[i]] = uint32_t(i);
        }
        palette->transparent = int(colors.size());
    } else {
        std::vector<liq_histogram_entry> histogram;
        histogram.reserve(counts.size());
        counts.forEach([&](uint32_t color, uint32_t count) { histogram.push_back({toLiq(color), count}); });
        LiqHistogram liqHistogram(liq_histogram_create(attr));
        liq_result *quantized = nullptr;
        if (!liqHistogram
            || liq_histogram_add_colors(liqHistogram.get(), attr, histogram.data(), int(histogram.size()), 0) != LIQ_OK
            || liq_histogram_quantize(liqHistogram.get(), attr, &quantized) != LIQ_OK || !quantized)
            return nullptr;
        const LiqResult result(quantized);
        palette->entries = *liq_get_palette(quantized);
        // Only visible colours were counted, so every entry should be opaque.
        // Should libimagequant still return entries below full opacity, the
        // most transparent of them becomes the transparent index, and no
        // visible colour maps to any of them.
        int lowest = 255;
        palette->transparent = int(palette->entries.count);
        for (unsigned i = 0; i < palette->entries.count; ++i) {
            if (palette->entries.entries[i].a < lowest) {
                lowest = palette->entries.entries[i].a;
                palette->transparent = int(i);
            }
        }
        counts.forEach(
            [&](uint32_t color, uint32_t) { palette->indexOf[color] = nearestOpaque(palette->entries, color); });
    }
    palette->map = makeColorMap(palette->entries, std::max(int(palette->entries.count), palette->transparent + 1));
    if (!palette->map)
        return nullptr;
    return palette;
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

// Palette indices of `area` of `rgba`, row by row; invisible pixels get the
// transparent index. Every visible colour was counted, so has an index.
std::vector<uint8_t> mapArea(const Palette &palette, const QImage &rgba, const QRect &area)
{
    const auto transparent = uint8_t(palette.transparent);
    std::vector<uint8_t> indices(size_t(area.width()) * size_t(area.height()));
    uint8_t *out = indices.data();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const uint32_t *line = row(rgba, y);
        uint32_t last = line[area.left()] + 1;
        uint8_t lastIndex = transparent;
        for (int x = area.left(); x <= area.right(); ++x, ++out) {
            if (line[x] != last) {
                last = line[x];
                const uint32_t *found = palette.indexOf.find(last);
                lastIndex = (alphaOf(last) == 0 || !found) ? transparent : uint8_t(*found);
            }
            *out = lastIndex;
        }
    }
    return indices;
}

// Delta frames: pixels whose source did not change, or whose new index shows
// the colour already on screen, become transparent (long runs of one index
// cost almost nothing after compression), and the frame shrinks to what is
// left. `shown` is the picture after the frames so far, updated here.
void keepOnlyChanges(FrameOut &frame, const QImage &previous, const QImage &current, const GifColorType *colors,
    std::vector<uint32_t> &shown, int canvasWidth)
{
    const QRect area = frame.area;
    const auto transparent = uint8_t(frame.transparent);
    int top = area.height();
    int bottom = -1;
    int left = area.width();
    int right = -1;
    for (int y = 0; y < area.height(); ++y) {
        const uint32_t *was = row(previous, area.y() + y) + area.x();
        const uint32_t *now = row(current, area.y() + y) + area.x();
        uint8_t *out = frame.indices.data() + size_t(y) * size_t(area.width());
        uint32_t *screen = shown.data() + size_t(area.y() + y) * size_t(canvasWidth) + size_t(area.x());
        for (int x = 0; x < area.width(); ++x) {
            const uint32_t color = rgbKey(colors[out[x]]);
            if (was[x] == now[x] || color == screen[x]) {
                out[x] = transparent;
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
        frame.indices = {transparent};
        return;
    }
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

} // namespace

GifWriter::Status GifWriter::write(const QString &path, const std::vector<QImage> &images,
    const std::vector<int> &delaysCs, int64_t loopValue, const std::function<bool(double)> &progress) const
{
    Frames frames;
    frames.count = images.size();
    frames.size = [&images](size_t i) { return images[i].size(); };
    frames.image = [&images](size_t i) { return images[i]; };
    return write(path, frames, delaysCs, loopValue, progress);
}

GifWriter::Status GifWriter::write(const QString &path, const Frames &frames, const std::vector<int> &delaysCs,
    int64_t loopValue, const std::function<bool(double)> &progress) const
{
    // The first pass (colours) is about a third of the work, the second the
    // rest. The share never goes back, not even when the first pass starts
    // over.
    const size_t count = frames.count;
    const double shareOfOne = 1.0 / double(std::max<size_t>(count, 1));
    double reported = 0;
    auto goOn = [&](double done) {
        if (done <= reported)
            return true;
        reported = done;
        return !progress || progress(done);
    };
    QSize canvas(1, 1);
    bool sameSize = true;
    for (size_t i = 0; i < count; ++i) {
        const QSize size = frames.size(i);
        if (size.isEmpty())
            return Status::cannotCreate;
        sameSize = sameSize && (i == 0 || size == frames.size(0));
        canvas = canvas.expandedTo(size);
    }
    if (canvas.width() > MAX_SIDE || canvas.height() > MAX_SIDE || count != delaysCs.size())
        return Status::cannotCreate;

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

    // libimagequant parallelises with OpenMP, whose idle threads spin; while a
    // recording's other work keeps the cores busy that costs more than it
    // gains. This setting holds for the calling thread only.
    omp_set_num_threads(1);
    LiqAttr attr(liq_attr_create());
    if (!attr)
        return Status::finalizeFailed;
    const int maxColors = std::clamp(m_tuning.maxColors, 2, MAX_PALETTE_COLORS);
    liq_set_max_colors(attr.get(), maxColors);
    liq_set_speed(attr.get(), std::clamp(m_tuning.speed, 1, 10));
    liq_set_quality(attr.get(), 0, std::clamp(m_tuning.targetQuality, 0, 100));

    // Delta frames need every pixel of every frame opaque: a transparent pixel
    // over an opaque one could not be drawn without clearing the frame first.
    // Frames of one size are taken to be opaque (every screen recording is),
    // so that each picture is read only once per pass; the first one that is
    // not sends the first pass back to the start without deltas.
    bool delta = sameSize;
    enum class Prepared { ok, unreadable, transparent };
    auto prepare = [&](size_t i, QImage &rgba) {
        const QImage image = frames.image(i);
        if (image.isNull() || image.size() != frames.size(i))
            return Prepared::unreadable;
        rgba = toCanvasRgba(image, canvas);
        if (delta && image.hasAlphaChannel() && !isOpaqueRgba(rgba))
            return Prepared::transparent;
        if (!delta)
            binarizeAlpha(rgba);
        return Prepared::ok;
    };

    // First pass: the colours of everything that will be drawn.
    std::vector<QRect> drawn(count);
    ColorTable counts;
    for (bool again = true; again;) {
        again = false;
        counts = ColorTable();
        QImage previous;
        for (size_t i = 0; i < count; ++i) {
            QImage current;
            const Prepared prepared = prepare(i, current);
            if (prepared == Prepared::unreadable)
                return Status::finalizeFailed;
            if (prepared == Prepared::transparent) {
                delta = false;
                again = true;
                break;
            }
            drawn[i] = (!delta || i == 0) ? current.rect() : changedRect(previous, current);
            if (!drawn[i].isEmpty() && delta && i > 0)
                countChangedColors(counts, previous, current, drawn[i]);
            else if (!drawn[i].isEmpty())
                countColors(counts, current, drawn[i]);
            previous = std::move(current);
            if (!goOn(double(i + 1) * shareOfOne / 3))
                return Status::cancelled;
        }
    }
    const std::unique_ptr<Palette> palette = makePalette(counts, attr.get(), maxColors);
    if (!palette)
        return Status::finalizeFailed;

    if (EGifPutScreenDesc(
            gif.get(), canvas.width(), canvas.height(), 8, delta ? 0 : palette->transparent, palette->map.get())
            != GIF_OK
        || !putLoopExtension(gif.get(), loopValue))
        return Status::finalizeFailed;

    // Second pass: map and write each frame.
    std::vector<uint32_t> shown(size_t(canvas.width()) * size_t(canvas.height()));
    const GifColorType *colors = palette->map->Colors;
    QImage previous;
    for (size_t i = 0; i < count; ++i) {
        QImage current;
        if (prepare(i, current) != Prepared::ok)
            return Status::finalizeFailed;
        FrameOut frame;
        frame.delayCs = delaysCs[i];
        frame.area = drawn[i];
        if (frame.area.isEmpty()) {
            // Nothing changed: a one-pixel transparent frame keeps the delay.
            frame.area = QRect(0, 0, 1, 1);
            frame.indices = {uint8_t(palette->transparent)};
            frame.transparent = palette->transparent;
        } else {
            frame.indices = mapArea(*palette, current, frame.area);
            if (!delta) {
                frame.disposal = DISPOSE_BACKGROUND;
                frame.transparent = palette->transparent;
            } else if (i == 0) {
                for (size_t at = 0; at < frame.indices.size(); ++at)
                    shown[at] = rgbKey(colors[frame.indices[at]]);
            } else {
                frame.transparent = palette->transparent;
                keepOnlyChanges(frame, previous, current, colors, shown, canvas.width());
            }
        }
        if (!putFrame(gif.get(), frame))
            return Status::finalizeFailed;
        previous = std::move(current);
        if (!goOn((1 + 2 * double(i + 1) * shareOfOne) / 3))
            return Status::cancelled;
    }
    return gif.close() ? Status::written : Status::finalizeFailed;
}
