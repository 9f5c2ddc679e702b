#include "export/FFmpegGifExport.h"

#include "export/ExportTiming.h"
#include "export/FrameStaging.h"
#include "export/Tools.h"

#include <QFileInfo>

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
    QStringList arguments {QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("concat"),
        QStringLiteral("-safe"), QStringLiteral("0"), QStringLiteral("-i"), QStringLiteral("list.txt"),
        QStringLiteral("-i"), palettePath, QStringLiteral("-lavfi"), graph, QStringLiteral("-loop"),
        QString::number(ExportTiming::loopValue(options.loopCount))};
    if (!fps) {
        arguments << QStringLiteral("-final_delay")
                  << QString::number(ExportTiming::delayCentiseconds(ExportTiming::frameSeconds(lastDelayMs)));
    }
    arguments << destination;
    return arguments;
}

ExportResult exportFFmpeg(const GifProject &project, const QString &destination, const ExportOptions &options)
{
    const std::optional<QString> ffmpeg = Tools::ffmpeg();
    if (!ffmpeg)
        return {false, QStringLiteral("ffmpeg not found.")};
    const std::optional<FrameDir> staged = makeFrameDir(project);
    if (!staged)
        return {false, QStringLiteral("Could not stage frames.")};

    const QString palette = staged->filePath(QStringLiteral("palette.png"));
    const Tools::RunResult paletteRun = Tools::run(*ffmpeg, ffmpegPaletteArguments(palette, options), staged->dir());
    if (paletteRun.status != 0)
        return {false, QStringLiteral("palettegen failed: ") + Tools::tail(paletteRun.standardError)};

    const int64_t lastDelayMs = project.frames.empty() ? 0 : project.frames.back()->delayMs;
    const QString target = QFileInfo(destination).absoluteFilePath();
    const Tools::RunResult gifRun
        = Tools::run(*ffmpeg, ffmpegMappingArguments(palette, target, options, lastDelayMs), staged->dir());
    if (gifRun.status != 0)
        return {false, QStringLiteral("ffmpeg gif failed: ") + Tools::tail(gifRun.standardError)};

    return {true,
        QStringLiteral("Exported with ffmpeg (%1 colors, %2).")
            .arg(maxColors(options.quality))
            .arg(label(options.quality))};
}

} // namespace GifExporter
