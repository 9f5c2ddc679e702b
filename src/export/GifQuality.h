#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// The four quality levels of an export and the number each stands for in
// every encoder, so that one table decides what "High" means everywhere.
// The raw value is the index of the editor's quality pop-up.
enum class GifQuality : int { low = 0, medium = 1, high = 2, max = 3 };

// In the order of the editor's pop-up.
inline constexpr std::array<GifQuality, 4> allGifQualities {
    GifQuality::low, GifQuality::medium, GifQuality::high, GifQuality::max};

// 0 to 3; anything else is no quality.
std::optional<GifQuality> gifQualityFromRaw(int64_t raw);
int rawValue(GifQuality quality);
// "low", "medium", "high", "max": the default text form, used in self-test
// file names.
QString caseName(GifQuality quality);
// What the user reads: "Low (small file)", "Medium", "High", "Max (large file)".
QString label(GifQuality quality);

// Palette size for ffmpeg's palette generator.
int maxColors(GifQuality quality);
// ffmpeg paletteuse dither setting; the bayer settings carry their scale.
QString ffmpegDither(GifQuality quality);
// gifski --quality, 1 to 100.
int gifskiQuality(GifQuality quality);
// libx264 constant rate factor; lower is better.
int mp4CRF(GifQuality quality);
