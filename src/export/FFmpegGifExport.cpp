#include "export/FFmpegGifExport.h"

#include "export/ExportSteps.h"
#include "export/ExportTiming.h"
#include "export/FrameStaging.h"
#include "export/OutputCheck.h"
#include "export/ToolProgress.h"
#include "export/Tools.h"

namespace GifExporter {

namespace {

std::optional<int64_t> effectiveOverride(const ExportOptions &options)
{
    if (options.fpsOverride && *options.fpsOverride >= 1)
        return options.fpsOverride;
    return std::nullopt;
}

} // namespace

QStringList ffmpegPaletteArguments(const QString &palettePath, const ExportOptions &options)
{
    const std::optional<int64_t> fps = effectiveOverride(options);
    const QString prefix = fps ? QStringLiteral("fps=%1,").arg(*fps) : QString();
    return {QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("concat"), QStringLiteral("-safe"),
        QStringLiteral("0"), QStringLiteral("-i"), QStringLiteral("list.txt"), QStringLiteral("-vf"),
        prefix + QStringLiteral("palettegen=max_colors=%1:stats_mode=diff").arg(maxColors(options.quality)),
        palettePath};
}

QStringList ffmpegMappingArguments(
    const QString &palettePath, const QString &destination, const ExportOptions &options, int64_t lastDelayMs)
{
    const std::optional<int64_t> fps = effectiveOverride(options);
    const QString paletteUse
        = QStringLiteral("paletteuse=dither=%1:diff_mode=rectangle").arg(ffmpegDither(options.quality));
    const QString graph = fps ? QStringLiteral("[0:v]fps=%1[v];[v][1:v]").arg(*fps) + paletteUse
                              : QStringLiteral("[0:v][1:v]") + paletteUse;
    // "-progress pipe:1": a line per frame on standard output, for the
    // progress bar; "-nostats" keeps the same out of standard error, whose
    // end a failure shows.
    QStringList arguments {QStringLiteral("-y"), QStringLiteral("-nostats"), QStringLiteral("-progress"),
        QStringLiteral("pipe:1"), QStringLiteral("-f"), QStringLiteral("concat"), QStringLiteral("-safe"),
        QStringLiteral("0"), QStringLiteral("-i"), QStringLiteral("list.txt"), QStringLiteral("-i"), palettePath,
        QStringLiteral("-lavfi"), graph, QStringLiteral("-loop"),
        QString::number(ExportTiming::loopValue(options.loopCount))};
    if (!fps) {
        arguments << QStringLiteral("-final_delay")
                  << QString::number(ExportTiming::delayCentiseconds(ExportTiming::frameSeconds(lastDelayMs)));
    }
    // Named, so that a destination whose name does not end in ".gif" is still
    // written as one.
    arguments << QStringLiteral("-f") << QStringLiteral("gif") << destination;
    return arguments;
}

ExportResult exportFFmpeg(
    const GifProject &project, const QString &destination, const ExportOptions &options, ExportJob *job)
{
    const std::optional<QString> ffmpeg = Tools::ffmpeg();
    if (!ffmpeg)
        return {false, QStringLiteral("ffmpeg not found.")};
    PendingOutput::Opened opened = PendingOutput::open(destination);
    if (!opened.output)
        return ExportSteps::cannotCreate(QStringLiteral("GIF"), opened.error);
    PendingOutput &output = *opened.output;
    const std::optional<FrameDir> staged = makeFrameDir(project, job, 0.4);
    if (!staged) {
        if (job && job->isCancelled())
            return ExportSteps::cancelled();
        return {false, QStringLiteral("Could not stage frames.")};
    }

    // Relative to the staging folder, where ffmpeg runs: a temporary folder
    // whose path holds "%d" would otherwise read as an image sequence.
    const QString palette = QStringLiteral("palette.png");
    const Tools::RunResult paletteRun
        = Tools::run(*ffmpeg, ffmpegPaletteArguments(palette, options), staged->dir(), job);
    if (paletteRun.status != 0 || paletteRun.cancelled)
        return ExportSteps::toolFailed(QStringLiteral("palettegen failed: "), paletteRun);
    if (job)
        job->reportProgress(0.55);

    const int64_t lastDelayMs = project.frames.empty() ? 0 : project.frames.back()->delayMs;
    const Tools::RunResult gifRun
        = Tools::run(*ffmpeg, ffmpegMappingArguments(palette, output.path(), options, lastDelayMs), staged->dir(), job,
            ToolProgress::reader(job, ToolProgress::Tool::ffmpeg, int64_t(project.frames.size()), 0.55, 1.0));
    if (gifRun.status != 0 || gifRun.cancelled)
        return ExportSteps::toolFailed(QStringLiteral("ffmpeg gif failed: "), gifRun);

    return ExportSteps::finish(output, OutputCheck::gifProblem(output.path(), int64_t(project.frames.size()), false),
        QStringLiteral("ffmpeg gif failed: "),
        QStringLiteral("Exported with ffmpeg (%1 colors, %2).")
            .arg(maxColors(options.quality))
            .arg(label(options.quality)));
}

} // namespace GifExporter
