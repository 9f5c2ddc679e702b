#pragma once

#include "export/GifQuality.h"

#include <QStringList>

#include <cstdint>

// The MP4 path's arguments; exportMP4 itself is declared in GifExporter.h.
// ffmpeg reads the staged PNG files by their numbered name pattern, not the
// concat list, so every frame lasts 1 / frameRate whatever its delay.
namespace GifExporter {

QStringList mp4Arguments(int64_t frameRate, GifQuality quality, const QString &destination);

} // namespace GifExporter
