#include "export/BuiltInGifExport.h"

#include "export/ExportSteps.h"
#include "export/ExportTiming.h"
#include "export/GifWriter.h"
#include "export/OutputCheck.h"

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

ExportResult exportImageIO(
    const GifProject &project, const QString &destination, const ExportOptions &options, ExportJob *job)
{
    PendingOutput::Opened opened = PendingOutput::open(destination);
    if (!opened.output)
        return ExportSteps::cannotCreate(QStringLiteral("GIF"), opened.error);
    PendingOutput &output = *opened.output;

    // Read as the writer goes: a recording kept in a frame store would not
    // fit in memory decoded.
    GifWriter::Frames frames;
    frames.count = project.frames.size();
    frames.size = [&project](size_t i) { return project.frames[i]->size(); };
    frames.image = [&project](size_t i) { return project.frames[i]->image(); };
    auto progress = [job](double done) {
        if (!job)
            return true;
        job->reportProgress(done);
        return !job->isCancelled();
    };
    switch (GifWriter().write(
        output.path(), frames, builtInDelays(project, options), ExportTiming::loopValue(options.loopCount), progress)) {
    case GifWriter::Status::written:
        break;
    case GifWriter::Status::cannotCreate:
        return {false, QStringLiteral("Could not create GIF file.")};
    case GifWriter::Status::finalizeFailed:
        return {false, QStringLiteral("GIF finalize failed.")};
    case GifWriter::Status::cancelled:
        return ExportSteps::cancelled();
    }
    const QString problem = OutputCheck::gifProblem(output.path(), int64_t(frames.count), false);
    return ExportSteps::finish(output, problem, QStringLiteral("GIF finalize failed: "),
        QStringLiteral("Exported with built-in encoder (quality has limited effect on this path; per-frame timing "
                       "and loop honored)."));
}

} // namespace GifExporter
