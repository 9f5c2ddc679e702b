#include "export/BuiltInGifExport.h"

#include "export/ExportTiming.h"
#include "export/GifWriter.h"

#include <algorithm>

namespace GifExporter {

std::vector<int> builtInDelays(const GifProject &project, const ExportOptions &options)
{
    const bool constant = options.fpsOverride && *options.fpsOverride >= 1;
    std::vector<int> delays;
    delays.reserve(project.frames.size());
    for (const GifFrameRef &frame : project.frames) {
        const double seconds
            = constant ? 1.0 / static_cast<double>(*options.fpsOverride) : static_cast<double>(frame->delayMs) / 1000.0;
        delays.push_back(ExportTiming::delayCentiseconds(std::max(seconds, ExportTiming::MIN_DELAY_SECONDS)));
    }
    return delays;
}

ExportResult exportImageIO(const GifProject &project, const QString &destination, const ExportOptions &options)
{
    std::vector<QImage> images;
    images.reserve(project.frames.size());
    for (const GifFrameRef &frame : project.frames)
        images.push_back(frame->image);

    switch (GifWriter().write(
        destination, images, builtInDelays(project, options), ExportTiming::loopValue(options.loopCount))) {
    case GifWriter::Status::written:
        return {true,
            QStringLiteral("Exported with built-in encoder (quality has limited effect on this path; per-frame timing "
                           "and loop honored).")};
    case GifWriter::Status::cannotCreate:
        return {false, QStringLiteral("Could not create GIF file.")};
    case GifWriter::Status::finalizeFailed:
        break;
    }
    return {false, QStringLiteral("GIF finalize failed.")};
}

} // namespace GifExporter
