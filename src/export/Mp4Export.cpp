#include "export/Mp4Export.h"

#include "export/FrameStaging.h"
#include "export/GifExporter.h"
#include "export/Tools.h"

#include <QFileInfo>

namespace GifExporter {

QStringList mp4Arguments(GifQuality quality, const QString &destination)
{
    // libx264 refuses odd sizes in yuv420p: the scale filter evens them.
    // "-fps_mode vfr" keeps the list's times instead of resampling to a
    // constant rate. "-bf 0": with B-frames the MP4 muxer cannot tell how long
    // the last frame lasts and writes a track shorter than the video (a 1.46 s
    // clip came out as a 0.36 s track); screen content gains little from them.
    return {QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("concat"), QStringLiteral("-safe"),
        QStringLiteral("0"), QStringLiteral("-i"), QStringLiteral("video.txt"), QStringLiteral("-vf"),
        QStringLiteral("scale=trunc(iw/2)*2:trunc(ih/2)*2,format=yuv420p"), QStringLiteral("-fps_mode"),
        QStringLiteral("vfr"), QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-bf"),
        QStringLiteral("0"), QStringLiteral("-crf"), QString::number(mp4CRF(quality)), QStringLiteral("-preset"),
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
    if (!staged || !writeStagedText(*staged, QStringLiteral("video.txt"), videoConcatList(project)))
        return {false, QStringLiteral("Could not stage frames.")};

    const QString target = QFileInfo(destination).absoluteFilePath();
    const Tools::RunResult run = Tools::run(*ffmpeg, mp4Arguments(quality, target), staged->dir());
    if (run.status != 0)
        return {false, QStringLiteral("ffmpeg mp4 failed: ") + Tools::tail(run.standardError)};

    return {true, QStringLiteral("Exported MP4 (CRF %1, %2).").arg(mp4CRF(quality)).arg(label(quality))};
}

} // namespace GifExporter
