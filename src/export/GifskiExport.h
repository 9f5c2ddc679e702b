#pragma once

#include "export/ExportOptions.h"
#include "export/ExportResult.h"
#include "model/GifProject.h"

#include <QStringList>

#include <cstdint>

// The gifski path. gifski knows only one frame rate, so per-frame delays reach
// it as repetition on a fixed time grid: each staged PNG is named as many
// times as its delay spans grid steps, and gifski merges identical neighbours
// into one GIF frame whose delay is the sum. With a frame-rate override every
// frame is named once at that rate instead. Reached only through exportGif.
namespace GifExporter {

// The grid of a GIF: 20 ms, the shortest delay every player honours.
inline constexpr int64_t GIFSKI_GRID_MS = 20;

ExportResult exportGifski(const GifProject &project, const QString &destination, const ExportOptions &options);

// max(override or project fps, 1): the rate the success message names.
int64_t gifskiFrameRate(const GifProject &project, const ExportOptions &options);

// What gifski is given: its "--fps" text and the input files in order.
struct GifskiInput {
    QString fps;
    QStringList files;
};

// The input for `pngs` (one per frame, in order) that fits in `budgetBytes`
// of command line (each argument counts its bytes, its terminating NUL and
// its pointer). On the 20 ms grid when that fits; otherwise on the finest
// coarser grid (40, 60, ... ms) that does, where a frame shorter than a step
// may be merged into its neighbours but the total stays within half a step.
GifskiInput gifskiInput(
    const GifProject &project, const QStringList &pngs, const ExportOptions &options, qsizetype budgetBytes);

// `width`: the canvas width in pixels, passed as gifski's maximum width.
QStringList gifskiArguments(const QString &fps, int64_t width, const ExportOptions &options, const QString &destination,
    const QStringList &files);

// How many bytes of command line `arguments` take (see gifskiInput).
qsizetype commandLineBytes(const QStringList &arguments);

} // namespace GifExporter
