#include "export/StagingPng.h"

#include <QFile>
#include <QImageWriter>
#include <QtEndian>

#include <png.h>

#include <cstdio>

namespace StagingPng {

namespace {

bool isOpaque(const QImage &image)
{
    if (image.format() == QImage::Format_RGB32)
        return true;
    if (image.format() != QImage::Format_ARGB32_Premultiplied && image.format() != QImage::Format_ARGB32)
        return false;
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const uint32_t *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(row[x]) != 255)
                return false;
        }
    }
    return true;
}

[[noreturn]] void failQuietly(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) { }

// What this thread's last compressed frame showed. Noise (video, photos)
// hardly compresses: zlib then spends eight times the time of a plain copy to
// save a little over half the bytes, so such frames are stored uncompressed,
// and every sixteenth is compressed again to see whether that still holds.
// Screen content shrinks 20 to 50 times and stays compressed.
struct Habit {
    bool incompressible = false;
    int sinceProbe = 0;
};
thread_local Habit habit;
constexpr double INCOMPRESSIBLE = 0.5;
constexpr int PROBE_EVERY = 16;

// Only plain C data lives in this frame: libpng leaves it with longjmp on any
// error, which must not skip a destructor.
bool writeBgrxRows(std::FILE *file, const uchar *bits, qsizetype stride, int width, int height, int level)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, failQuietly, ignoreWarning);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
        PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Row filters cost as much as the compression again and gain little on
    // screen content at this level.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, level);
    png_write_info(png, info);
    // In memory a 32-bit pixel is B, G, R, A/X on a little-endian machine.
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    png_set_bgr(png);
    for (int y = 0; y < height; ++y)
        png_write_row(png, const_cast<png_bytep>(bits + y * stride));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool writeWithQt(const QImage &image, const QString &path)
{
    QImageWriter writer(path, "png");
    return writer.write(image);
}

} // namespace

bool write(const QImage &image, const QString &path)
{
    if (image.isNull())
        return false;
    if (QSysInfo::ByteOrder != QSysInfo::LittleEndian || !isOpaque(image))
        return writeWithQt(image, path);
    std::FILE *file = std::fopen(QFile::encodeName(path).constData(), "wbe");
    if (!file)
        return false;
    const bool probe = !habit.incompressible || ++habit.sinceProbe >= PROBE_EVERY;
    const bool written
        = writeBgrxRows(file, image.constBits(), image.bytesPerLine(), image.width(), image.height(), probe ? 1 : 0);
    if (written && probe) {
        const double raw = 3.0 * image.width() * image.height();
        habit.incompressible = double(std::ftell(file)) > INCOMPRESSIBLE * raw;
        habit.sinceProbe = 0;
    }
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

} // namespace StagingPng
