#include "export/Mp4Export.h"

#include "export/ExportSteps.h"
#include "export/FrameStaging.h"
#include "export/GifExporter.h"
#include "export/OutputCheck.h"
#include "export/ToolProgress.h"
#include "export/Tools.h"

namespace GifExporter {

QStringList mp4Arguments(GifQuality quality, const QString &destination)
{
    // libx264 refuses odd sizes in yuv420p: the pad filter adds a black
    // column or row, so no pixel of the recording is lost.
    // "-fps_mode vfr" keeps the list's times instead of resampling to a
    // constant rate. "-bf 0": with B-frames the MP4 muxer cannot tell how long
    // the last frame lasts and writes a track shorter than the video (a 1.46 s
    // clip came out as a 0.36 s track); screen content gains little from them.
    return {QStringLiteral("-y"), QStringLiteral("-nostats"), QStringLiteral("-progress"), QStringLiteral("pipe:1"),
        QStringLiteral("-f"), QStringLiteral("concat"), QStringLiteral("-safe"), QStringLiteral("0"),
        QStringLiteral("-i"), QStringLiteral("video.txt"), QStringLiteral("-vf"),
        QStringLiteral("pad=ceil(iw/2)*2:ceil(ih/2)*2,format=yuv420p"), QStringLiteral("-fps_mode"),
        QStringLiteral("vfr"), QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-bf"),
        QStringLiteral("0"), QStringLiteral("-crf"), QString::number(mp4CRF(quality)), QStringLiteral("-preset"),
        QStringLiteral("medium"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-f"),
        QStringLiteral("mp4"), destination};
}

ExportResult exportMP4(const GifProject &project, const QString &destination, GifQuality quality, ExportJob *job)
{
    if (project.frames.empty())
        return {false, QStringLiteral("Nothing to export — project has no frames.")};
    const std::optional<QString> ffmpeg = Tools::ffmpeg();
    if (!ffmpeg)
        return {false, QStringLiteral("ffmpeg not found.")};
    PendingOutput::Opened opened = PendingOutput::open(destination);
    if (!opened.output)
        return ExportSteps::cannotCreate(QStringLiteral("MP4"), opened.error);
    PendingOutput &output = *opened.output;
    const std::optional<FrameDir> staged = makeFrameDir(project, job, 0.4);
    if (!staged || !writeStagedText(*staged, QStringLiteral("video.txt"), videoConcatList(project))) {
        if (job && job->isCancelled())
            return ExportSteps::cancelled();
        return {false, QStringLiteral("Could not stage frames.")};
    }

    const Tools::RunResult run = Tools::run(*ffmpeg, mp4Arguments(quality, output.path()), staged->dir(), job,
        ToolProgress::reader(job, ToolProgress::Tool::ffmpeg, int64_t(project.frames.size()) + 1, 0.4, 1.0));
    if (run.status != 0 || run.cancelled)
        return ExportSteps::toolFailed(QStringLiteral("ffmpeg mp4 failed: "), run);

    return ExportSteps::finish(output, OutputCheck::mp4Problem(output.path()), QStringLiteral("ffmpeg mp4 failed: "),
        QStringLiteral("Exported MP4 (CRF %1, %2).").arg(mp4CRF(quality)).arg(label(quality)));
}

} // namespace GifExporter
