#pragma once

#include "export/ExportOptions.h"
#include "export/ExportResult.h"
#include "model/GifProject.h"

#include <QStringList>

#include <cstdint>

// The gifski path: the staged PNG files at one constant frame rate (the
// override, else the project's fps); per-frame delays do not reach gifski.
// Reached only through exportGif.
namespace GifExporter {

ExportResult exportGifski(const GifProject &project, const QString &destination, const ExportOptions &options);

// max(override or project fps, 1).
int64_t gifskiFrameRate(const GifProject &project, const ExportOptions &options);

// `width`: the canvas width in pixels, passed as gifski's maximum width.
QStringList gifskiArguments(int64_t frameRate, int64_t width, const ExportOptions &options, const QString &destination,
    const QStringList &pngs);

} // namespace GifExporter
