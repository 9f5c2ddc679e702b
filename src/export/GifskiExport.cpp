#include "export/GifskiExport.h"

#include "base/Rounding.h"
#include "export/ExportSteps.h"
#include "export/ExportTiming.h"
#include "export/FrameStaging.h"
#include "export/GifFile.h"
#include "export/OutputCheck.h"
#include "export/ToolProgress.h"
#include "export/Tools.h"

#include <algorithm>

namespace GifExporter {

int64_t gifskiFrameRate(const GifProject &project, const ExportOptions &options)
{
    return std::max<int64_t>(options.fpsOverride.value_or(project.fps), 1);
}

int64_t gifskiArgumentRate(const GifProject &project, const ExportOptions &options)
{
    return options.fpsOverride ? gifskiFrameRate(project, options) : GIFSKI_COUNTING_FPS;
}

QStringList gifskiArguments(
    int64_t frameRate, int64_t width, const ExportOptions &options, const QString &destination, const QStringList &pngs)
{
    // Without a width gifski shrinks anything larger than about 800 x 600 to a
    // fraction of its size (1280 x 840 becomes 426 x 280). The canvas width
    // keeps the recording's size; gifski never enlarges.
    QStringList arguments {QStringLiteral("--fps"), QString::number(frameRate), QStringLiteral("--quality"),
        QString::number(gifskiQuality(options.quality)), QStringLiteral("--repeat"),
        QString::number(ExportTiming::loopValue(options.loopCount)), QStringLiteral("--width"),
        QString::number(std::max<int64_t>(width, 1)), QStringLiteral("-o"), destination};
    arguments += pngs;
    return arguments;
}

std::optional<std::vector<int>> gifskiDelays(const std::vector<int> &counted, const GifProject &project)
{
    int64_t total = 0;
    for (int count : counted) {
        if (count < 1)
            return std::nullopt;
        total += count;
    }
    if (total != int64_t(project.frames.size()))
        return std::nullopt;
    std::vector<int> delays;
    delays.reserve(counted.size());
    size_t frame = 0;
    double endMs = 0;
    int64_t startCs = 0;
    for (int count : counted) {
        for (int i = 0; i < count; ++i)
            endMs += double(ExportTiming::gifDelayMs(project.frames[frame++]->delayMs));
        const int64_t endCs = roundHalfAwayToInt(endMs / 10);
        delays.push_back(int(std::clamp<int64_t>(endCs - startCs, 1, 65535)));
        startCs = endCs;
    }
    return delays;
}

ExportResult exportGifski(
    const GifProject &project, const QString &destination, const ExportOptions &options, ExportJob *job)
{
    const std::optional<QString> gifski = Tools::gifski();
    if (!gifski)
        return {false, QStringLiteral("gifski not found.")};
    PendingOutput::Opened opened = PendingOutput::open(destination);
    if (!opened.output)
        return ExportSteps::cannotCreate(QStringLiteral("GIF"), opened.error);
    PendingOutput &output = *opened.output;
    const std::optional<FrameDir> staged = makeFrameDir(project, job, 0.3);
    if (!staged) {
        if (job && job->isCancelled())
            return ExportSteps::cancelled();
        return {false, QStringLiteral("Could not stage frames.")};
    }

    const QStringList arguments = gifskiArguments(gifskiArgumentRate(project, options),
        int64_t(project.canvasSize().width), options, output.path(), staged->pngs());
    const Tools::RunResult run = Tools::run(*gifski, arguments, std::nullopt, job,
        ToolProgress::reader(job, ToolProgress::Tool::gifski, int64_t(project.frames.size()), 0.3, 1.0));
    if (run.status != 0 || run.cancelled)
        return ExportSteps::toolFailed(QStringLiteral("gifski failed: "), run);

    // gifski merges identical neighbours, so any number of frames may come out.
    QString problem = OutputCheck::gifProblem(output.path(), int64_t(project.frames.size()), true);
    if (problem.isEmpty() && !options.fpsOverride) {
        const std::optional<GifFile::Structure> written = GifFile::read(output.path());
        std::vector<int> counted;
        for (const std::optional<int> &delay : written ? written->delays : std::vector<std::optional<int>>())
            counted.push_back(delay.value_or(0));
        const std::optional<std::vector<int>> delays = gifskiDelays(counted, project);
        if (!delays || !GifFile::setDelays(output.path(), *delays))
            problem = QStringLiteral("its frames do not match the project's");
    }
    return ExportSteps::finish(output, problem, QStringLiteral("gifski failed: "),
        QStringLiteral("Exported with gifski (q%1, %2fps, %3).")
            .arg(gifskiQuality(options.quality))
            .arg(gifskiFrameRate(project, options))
            .arg(label(options.quality)));
}

} // namespace GifExporter
