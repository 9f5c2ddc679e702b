#include "export/GifskiExport.h"

#include "export/ExportTiming.h"
#include "export/FrameStaging.h"
#include "export/Tools.h"

#include <QFileInfo>

#include <algorithm>

namespace GifExporter {

namespace {

qsizetype argumentBytes(const QString &argument)
{
    return argument.toUtf8().size() + 1 + qsizetype(sizeof(char *));
}

QString rateText(double fps)
{
    return QString::number(fps, 'g', 12);
}

} // namespace

int64_t gifskiFrameRate(const GifProject &project, const ExportOptions &options)
{
    return std::max<int64_t>(options.fpsOverride.value_or(project.fps), 1);
}

qsizetype commandLineBytes(const QStringList &arguments)
{
    qsizetype bytes = 0;
    for (const QString &argument : arguments)
        bytes += argumentBytes(argument);
    return bytes;
}

GifskiInput gifskiInput(
    const GifProject &project, const QStringList &pngs, const ExportOptions &options, qsizetype budgetBytes)
{
    if (options.fpsOverride)
        return {QString::number(gifskiFrameRate(project, options)), pngs};

    std::vector<int64_t> delays;
    delays.reserve(project.frames.size());
    for (const GifFrameRef &frame : project.frames)
        delays.push_back(ExportTiming::gifDelayMs(frame->delayMs));
    std::vector<qsizetype> sizes;
    sizes.reserve(size_t(pngs.size()));
    for (const QString &png : pngs)
        sizes.push_back(argumentBytes(png));

    // A coarser grid only when the 20 ms one would not fit on a command line:
    // many minutes of recording, or long pauses.
    for (int64_t factor = 1;; ++factor) {
        const int64_t step = GIFSKI_GRID_MS * factor;
        const std::vector<int64_t> steps = ExportTiming::gridSteps(delays, step);
        qsizetype bytes = 0;
        for (size_t i = 0; i < steps.size() && i < sizes.size(); ++i)
            bytes += qsizetype(steps[i]) * sizes[i];
        if (bytes > budgetBytes && bytes > 0 && step < 3'600'000)
            continue;
        GifskiInput input {rateText(1000.0 / double(step)), {}};
        for (size_t i = 0; i < steps.size() && i < sizes.size(); ++i) {
            for (int64_t n = 0; n < steps[i]; ++n)
                input.files.append(pngs[qsizetype(i)]);
        }
        return input;
    }
}

QStringList gifskiArguments(const QString &fps, int64_t width, const ExportOptions &options, const QString &destination,
    const QStringList &files)
{
    // Without a width gifski shrinks anything larger than about 800 x 600 to a
    // fraction of its size (1280 x 840 becomes 426 x 280). The canvas width
    // keeps the recording's size; gifski never enlarges.
    QStringList arguments {QStringLiteral("--fps"), fps, QStringLiteral("--quality"),
        QString::number(gifskiQuality(options.quality)), QStringLiteral("--repeat"),
        QString::number(ExportTiming::loopValue(options.loopCount)), QStringLiteral("--width"),
        QString::number(std::max<int64_t>(width, 1)), QStringLiteral("-o"), destination};
    arguments += files;
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

    const int64_t width = int64_t(project.canvasSize().width);
    const QString target = QFileInfo(destination).absoluteFilePath();
    const qsizetype fixed
        = commandLineBytes(gifskiArguments(QStringLiteral("50"), width, options, target, {})) + argumentBytes(*gifski);
    const GifskiInput input = gifskiInput(project, staged->pngs(), options, Tools::commandLineBudget() - fixed);
    const Tools::RunResult run = Tools::run(*gifski, gifskiArguments(input.fps, width, options, target, input.files));
    if (run.status != 0)
        return {false, QStringLiteral("gifski failed: ") + Tools::tail(run.standardError)};

    return {true,
        QStringLiteral("Exported with gifski (q%1, %2fps, %3).")
            .arg(gifskiQuality(options.quality))
            .arg(gifskiFrameRate(project, options))
            .arg(label(options.quality))};
}

} // namespace GifExporter
