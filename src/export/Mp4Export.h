#pragma once

#include "export/GifQuality.h"

#include <QStringList>

// The MP4 path's arguments; exportMP4 itself is declared in GifExporter.h.
// ffmpeg reads the frames through the video concat list ("video.txt", see
// videoConcatList), so each frame lasts its own delay: the video has a
// variable frame rate, with every presentation time to the millisecond.
namespace GifExporter {

QStringList mp4Arguments(GifQuality quality, const QString &destination);

} // namespace GifExporter
