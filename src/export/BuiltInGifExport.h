#pragma once

#include "export/ExportJob.h"
#include "export/ExportOptions.h"
#include "export/ExportResult.h"
#include "model/GifProject.h"

#include <vector>

// The built-in GIF path: no external tool, so it works on every machine. The
// quality setting has no effect here and the message says so. Reached through
// exportGif, directly for imageIO and as the last fallback.
namespace GifExporter {

ExportResult exportImageIO(
    const GifProject &project, const QString &destination, const ExportOptions &options, ExportJob *job = nullptr);

// Each frame's delay in hundredths: max(delayMs / 1000, 0.02) s, or
// max(1 / override, 0.02) s for every frame when the override is at least 1.
std::vector<int> builtInDelays(const GifProject &project, const ExportOptions &options);

} // namespace GifExporter
