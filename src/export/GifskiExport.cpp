#include "export/GifskiExport.h"

#include "export/ExportTiming.h"
#include "export/FrameStaging.h"
#include "export/Tools.h"

#include <QFileInfo>

#include <algorithm>

namespace GifExporter {

int64_t gifskiFrameRate(const GifProject &project, const ExportOptions &options)
{
    return std::max<int64_t>(options.fpsOverride.value_or(project.fps), 1);
}

QStringList gifskiArguments(
    int64_t frameRate, int64_t width, const ExportOptions &options, const QString &destination, const QStringList &pngs)
{
    // Without a width gifski shrinks anything larger than about 800 x 600 to a
    // fraction of its size (1280 x 840 becomes 426 x 280). The canvas width
    // keeps the recording's size; gifski never enlarges.
    QStringList arguments {QStringLiteral("--fps"), QString::number(frameRate), QStringLiteral("--quality"),
        QString::number(gifskiQuality(options.quality)), QStringLiteral("--repeat"),
        QString::number(ExportTiming::toolLoopValue(options.loopCount)), QStringLiteral("--width"),
        QString::number(std::max<int64_t>(width, 1)), QStringLiteral("-o"), destination};
    arguments += pngs;
    return arguments;
}

ExportResult exportGifski(const GifProject &project, const QString &destination, const ExportOptions &options)
{
    const std::optional<QString> gifski = Tools::gifski();
    if (!gifski)
        return {false, QStringLiteral("gifski not found.")};
    const std::optional<FrameDir> staged = makeFrameDir(project);
    if (!staged)
        return {false, QStringLiteral("Could not stage frames.")};

    const int64_t rate = gifskiFrameRate(project, options);
    const QString target = QFileInfo(destination).absoluteFilePath();
    const Tools::RunResult run = Tools::run(
        *gifski, gifskiArguments(rate, int64_t(project.canvasSize().width), options, target, staged->pngs()));
    if (run.status != 0)
        return {false, QStringLiteral("gifski failed: ") + Tools::tail(run.standardError)};

    return {true,
        QStringLiteral("Exported with gifski (q%1, %2fps, %3).")
            .arg(gifskiQuality(options.quality))
            .arg(rate)
            .arg(label(options.quality))};
}

} // namespace GifExporter
