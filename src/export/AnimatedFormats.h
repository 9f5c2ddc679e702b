#pragma once

#include "export/ExportJob.h"
#include "export/ExportResult.h"
#include "export/GifQuality.h"
#include "model/GifProject.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// The formats people post besides GIF and MP4, all written by ffmpeg from the
// staged frames with each frame's own delay: animated WebP and APNG (images
// that loop, much smaller than GIF at the same quality) and WebM (VP9 video).
// Offered only where ffmpeg has the encoder.
namespace GifExporter {

enum class AnimatedFormat { webp, apng, webm };

inline constexpr std::array<AnimatedFormat, 3> allAnimatedFormats {
    AnimatedFormat::webp, AnimatedFormat::apng, AnimatedFormat::webm};

// "WebP", "APNG", "WebM".
QString formatName(AnimatedFormat format);
// "webp", "apng", "webm".
QString fileExtension(AnimatedFormat format);
// The format whose fileExtension() is `extension`, if any.
std::optional<AnimatedFormat> formatFromExtension(const QString &extension);
// What the export menus call it: "Animated WebP…", "Animated PNG (APNG)…",
// "WebM Video (VP9)…".
QString menuTitle(AnimatedFormat format);
// The save dialog's filter: "Animated WebP image (*.webp)", ...
QString saveFilter(AnimatedFormat format);
// ffmpeg's encoder for the format: "libwebp_anim", "apng", "libvpx-vp9".
QString encoderName(AnimatedFormat format);

// Whether the ffmpeg found now can write the format (asks it for its
// encoders; a child process, so not on every repaint).
bool canWrite(AnimatedFormat format);

// The formats the ffmpeg found now can write, in the order of
// allAnimatedFormats. Asks each ffmpeg once per run of the program: the menus
// of every editor window use it. Any thread.
std::vector<AnimatedFormat> writableFormats();

// Writes the project. `loopCount` is the project's number of plays (0 =
// forever); WebM has no loop and ignores it.
ExportResult exportAnimated(AnimatedFormat format, const GifProject &project, const QString &destination,
    GifQuality quality, int64_t loopCount, ExportJob *job = nullptr);

// The ffmpeg arguments that write `format` from the staged list `list`.
QStringList animatedArguments(AnimatedFormat format, GifQuality quality, int64_t loopCount, int64_t lastDelayMs,
    const QString &list, const QString &destination);

} // namespace GifExporter
