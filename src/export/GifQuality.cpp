#include "export/GifQuality.h"

namespace {

struct QualityRow {
    const char *caseName;
    const char *label;
    int maxColors;
    const char *ffmpegDither;
    int gifskiQuality;
    int mp4CRF;
};

// Indexed by the raw value.
constexpr QualityRow ROWS[] = {
    {"low", "Low (small file)", 64, "bayer:bayer_scale=5", 50, 28},
    {"medium", "Medium", 128, "bayer:bayer_scale=3", 70, 23},
    {"high", "High", 200, "sierra2_4a", 90, 20},
    {"max", "Max (large file)", 256, "floyd_steinberg", 100, 16},
};

const QualityRow &row(GifQuality quality)
{
    return ROWS[static_cast<int>(quality)];
}

} // namespace

std::optional<GifQuality> gifQualityFromRaw(int64_t raw)
{
    if (raw < 0 || raw > 3)
        return std::nullopt;
    return static_cast<GifQuality>(raw);
}

int rawValue(GifQuality quality)
{
    return static_cast<int>(quality);
}

QString caseName(GifQuality quality)
{
    return QString::fromLatin1(row(quality).caseName);
}

QString label(GifQuality quality)
{
    return QString::fromLatin1(row(quality).label);
}

int maxColors(GifQuality quality)
{
    return row(quality).maxColors;
}

QString ffmpegDither(GifQuality quality)
{
    return QString::fromLatin1(row(quality).ffmpegDither);
}

int gifskiQuality(GifQuality quality)
{
    return row(quality).gifskiQuality;
}

int mp4CRF(GifQuality quality)
{
    return row(quality).mp4CRF;
}
