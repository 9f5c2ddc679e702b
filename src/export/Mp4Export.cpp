#include "export/Mp4Export.h"

#include "export/FrameStaging.h"
#include "export/GifExporter.h"
#include "export/Tools.h"

#include <QFileInfo>

#include <algorithm>

namespace GifExporter {

QStringList mp4Arguments(int64_t frameRate, GifQuality quality, const QString &destination)
{
    // libx264 refuses odd sizes in yuv420p: the scale filter evens them.
    return {QStringLiteral("-y"), QStringLiteral("-framerate"), QString::number(frameRate), QStringLiteral("-i"),
        QStringLiteral("frame%05d.png"), QStringLiteral("-vf"),
        QStringLiteral("scale=trunc(iw/2)*2:trunc(ih/2)*2,format=yuv420p"), QStringLiteral("-c:v"),
        QStringLiteral("libx264"), QStringLiteral("-crf"), QString::number(mp4CRF(quality)), QStringLiteral("-preset"),
        QStringLiteral("medium"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), destination};
}

ExportResult exportMP4(const GifProject &project, const QString &destination, GifQuality quality)
{
    if (project.frames.empty())
        return {false, QStringLiteral("Nothing to export — project has no frames.")};
    const std::optional<QString> ffmpeg = Tools::ffmpeg();
    if (!ffmpeg)
        return {false, QStringLiteral("ffmpeg not found.")};
    const std::optional<FrameDir> staged = makeFrameDir(project);
    if (!staged)
        return {false, QStringLiteral("Could not stage frames.")};

    const int64_t rate = std::max<int64_t>(project.fps, 1);
    const QString target = QFileInfo(destination).absoluteFilePath();
    const Tools::RunResult run = Tools::run(*ffmpeg, mp4Arguments(rate, quality, target), staged->dir());
    if (run.status != 0)
        return {false, QStringLiteral("ffmpeg mp4 failed: ") + Tools::tail(run.standardError)};

    return {true, QStringLiteral("Exported MP4 (CRF %1, %2).").arg(mp4CRF(quality)).arg(label(quality))};
}

} // namespace GifExporter
