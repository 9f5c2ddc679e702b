#pragma once

#include "export/ExportJob.h"
#include "export/ExportOptions.h"
#include "export/ExportResult.h"
#include "export/GifEncoder.h"
#include "export/GifQuality.h"
#include "model/GifProject.h"

#include <QString>

// Writing a project out as an animated GIF or an MP4 video. Every function is
// synchronous and blocks its thread while an encoder runs: the editor calls
// them on a background thread, the self-test modes on the GUI thread. The
// caller keeps the project unchanged for the duration. Nothing throws; every
// outcome is an ExportResult with a one-line message for the user.
//
// `destination` is a file-system path; a relative one is taken against the
// current directory. It is replaced whole or not at all: every path writes a
// new file beside it, checks what was written (a tool's exit status alone
// proves nothing) and only then renames it over the destination. On any
// failure, and on a cancel through `job`, the destination holds what it held.
namespace GifExporter {

// Checks the project, runs the path of the requested encoder and falls back,
// without saying so, when its tool is missing: gifski -> ffmpeg -> built-in.
// A GIF export therefore never fails for lack of a tool. A failing path is not
// retried with another one.
ExportResult exportGif(
    const GifProject &project, const QString &destination, const ExportOptions &options, ExportJob *job = nullptr);

// H.264 in MP4 through ffmpeg, each frame shown for its own delay (the loop
// count does not apply). No fallback: without ffmpeg it fails.
ExportResult exportMP4(
    const GifProject &project, const QString &destination, GifQuality quality, ExportJob *job = nullptr);

// gifski when found, else ffmpeg when found, else imageIO. Searched anew on
// every call.
GifEncoder defaultEncoder();

} // namespace GifExporter
