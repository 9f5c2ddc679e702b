#pragma once

#include "export/ExportJob.h"
#include "export/ExportOptions.h"
#include "export/ExportResult.h"
#include "model/GifProject.h"

#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

// The gifski path. gifski knows only one frame rate for all frames, so it is
// given every staged PNG once at 100 frames per second: each frame it writes
// then lasts one hundredth for every project frame it stands for (gifski
// merges neighbours that look the same), and those hundredths tell which
// project frames each GIF frame shows. The project's own delays are then
// written into the GIF. With a frame-rate override every frame simply lasts
// 1 / rate, as gifski writes it. Reached only through exportGif.
namespace GifExporter {

// The rate gifski is given for per-frame timing: its highest, one hundredth
// per frame.
inline constexpr int64_t GIFSKI_COUNTING_FPS = 100;

ExportResult exportGifski(
    const GifProject &project, const QString &destination, const ExportOptions &options, ExportJob *job = nullptr);

// max(override or project fps, 1): the rate the success message names.
int64_t gifskiFrameRate(const GifProject &project, const ExportOptions &options);

// The "--fps" gifski is given: the override's rate, else the counting rate.
int64_t gifskiArgumentRate(const GifProject &project, const ExportOptions &options);

// `width`: the canvas width in pixels, passed as gifski's maximum width.
QStringList gifskiArguments(int64_t frameRate, int64_t width, const ExportOptions &options, const QString &destination,
    const QStringList &pngs);

// The delays, in hundredths, of the GIF frames gifski wrote at the counting
// rate, where frame i lasted `counted[i]` hundredths: one per project frame it
// shows. Each GIF frame gets the time its project frames span, the starts
// rounded on the running total so that no error adds up. Absent when the
// counts do not add up to the project's frames.
std::optional<std::vector<int>> gifskiDelays(const std::vector<int> &counted, const GifProject &project);

} // namespace GifExporter
