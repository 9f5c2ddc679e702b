#pragma once

#include "export/ExportJob.h"
#include "export/ExportOptions.h"
#include "export/ExportResult.h"
#include "model/GifProject.h"

#include <QStringList>

#include <cstdint>

// The ffmpeg GIF path: a palette pass over all frames, then a mapping pass
// that applies it with the quality's dither and writes the GIF. Reached only
// through exportGif, which has refused an empty project.
namespace GifExporter {

ExportResult exportFFmpeg(
    const GifProject &project, const QString &destination, const ExportOptions &options, ExportJob *job = nullptr);

// The palette pass, run in the staging folder.
QStringList ffmpegPaletteArguments(const QString &palettePath, const ExportOptions &options);

// The mapping pass, run in the staging folder. With per-frame timing the last
// frame's delay in hundredths is handed to the GIF muxer ("-final_delay"),
// which otherwise repeats the previous frame's delay; with a frame-rate
// override the input is resampled before the palette is applied.
QStringList ffmpegMappingArguments(
    const QString &palettePath, const QString &destination, const ExportOptions &options, int64_t lastDelayMs);

} // namespace GifExporter
