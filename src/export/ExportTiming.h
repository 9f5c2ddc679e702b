#pragma once

#include <QString>

#include <cstdint>

// Timing and loop numbers shared by the export paths, so that the concat list,
// the ffmpeg arguments and the built-in encoder agree on every frame.
namespace ExportTiming {

// GIF players treat shorter delays as "as fast as you like" (many then use
// 0.1 s), so no frame is written shorter than this.
inline constexpr double MIN_DELAY_SECONDS = 0.02;

// A video frame lasts at least this long: the shortest delay the editor and
// the capture engine ever set.
inline constexpr int64_t MIN_VIDEO_DELAY_MS = 10;

// max(delayMs / 1000, 0.02) in seconds.
double frameSeconds(int64_t delayMs);

// max(delayMs, 20): a GIF frame's delay in whole milliseconds.
int64_t gifDelayMs(int64_t delayMs);

// The shortest decimal text that reads back to the same double, always with a
// decimal point: 0.06, 0.066, 1.0, 1.5.
QString secondsText(double seconds);

// A delay in a GIF's hundredths of a second, rounded, within the format's
// 16-bit field.
int delayCentiseconds(double seconds);

// The value a GIF's loop extension holds for a project's play count n
// (0 = forever): 0 for n <= 0, -1 (no extension: one play) for n = 1, n - 1
// repetitions otherwise. ffmpeg and gifski take the same numbers, and the
// built-in writer leaves the extension out for -1, so "3x" plays three times
// whatever the path.
int64_t loopValue(int64_t loopCount);

} // namespace ExportTiming
