#pragma once

#include <QString>

#include <array>
#include <optional>

// The three GIF encoders the user can choose from. The raw value is the
// string used in self-test file names and lines.
enum class GifEncoder { ffmpeg, gifski, imageIO };

// In the order of the editor's pop-up.
inline constexpr std::array<GifEncoder, 3> allGifEncoders {GifEncoder::ffmpeg, GifEncoder::gifski, GifEncoder::imageIO};

// "ffmpeg", "gifski", "imageIO", matched exactly (letter case included).
std::optional<GifEncoder> gifEncoderFromRaw(const QString &raw);
QString rawValue(GifEncoder encoder);
// "High quality (ffmpeg)", "Best (gifski)", "System (built-in)".
QString label(GifEncoder encoder);
// Searches for the tool on every call (never cached), so a tool installed while
// the program runs shows up the next time a menu is built; imageIO is always
// available. May briefly run a lookup process: callable from any thread.
bool isAvailable(GifEncoder encoder);
