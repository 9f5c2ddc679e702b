#pragma once

#include "export/ExportJob.h"

#include <QByteArray>

#include <cstdint>
#include <functional>

// Turns what a tool prints on its standard output while it works into the
// job's progress: ffmpeg's "-progress" lines ("frame=12") or gifski's
// "Frame 12 / 30". The tool's share of the whole export runs from `from` to
// `to`.
namespace ToolProgress {

enum class Tool { ffmpeg, gifski };

// A reader for Tools::run's standard-output callback, or an empty function
// without a job (the output is then thrown away).
std::function<void(const QByteArray &)> reader(ExportJob *job, Tool tool, int64_t frames, double from, double to);

} // namespace ToolProgress
