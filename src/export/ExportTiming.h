#pragma once

#include <QString>

#include <cstdint>

// Timing and loop numbers shared by the export paths, so that the concat list,
// the ffmpeg arguments and the built-in encoder agree on every frame.
namespace ExportTiming {

// GIF players treat shorter delays as "as fast as you like" (many then use
// 0.1 s), so no frame is written shorter than this.
inline constexpr double MIN_DELAY_SECONDS = 0.02;

// max(delayMs / 1000, 0.02) in seconds.
double frameSeconds(int64_t delayMs);

// The shortest decimal text that reads back to the same double, always with a
// decimal point: 0.06, 0.066, 1.0, 1.5.
QString secondsText(double seconds);

// A delay in a GIF's hundredths of a second, rounded, within the format's
// 16-bit field.
int delayCentiseconds(double seconds);

// The loop value the external tools take for a project's play count n
// (0 = forever): 0 for n <= 0, -1 for one play, n - 1 otherwise.
int64_t toolLoopValue(int64_t loopCount);

} // namespace ExportTiming
