#include "export/GifExporter.h"

#include "export/BuiltInGifExport.h"
#include "export/FFmpegGifExport.h"
#include "export/GifskiExport.h"
#include "export/Tools.h"

namespace GifExporter {

ExportResult exportGif(
    const GifProject &project, const QString &destination, const ExportOptions &options, ExportJob *job)
{
    if (project.frames.empty())
        return {false, QStringLiteral("Nothing to export — project has no frames.")};
    switch (options.encoder) {
    case GifEncoder::imageIO:
        return exportImageIO(project, destination, options, job);
    case GifEncoder::gifski:
        // gifski refuses a single image ("not enough to make an animation"),
        // so a one-frame project takes the path it would take without gifski.
        if (project.frames.size() > 1 && Tools::gifski())
            return exportGifski(project, destination, options, job);
        [[fallthrough]];
    case GifEncoder::ffmpeg:
        if (Tools::ffmpeg())
            return exportFFmpeg(project, destination, options, job);
        break;
    }
    return exportImageIO(project, destination, options, job);
}

GifEncoder defaultEncoder()
{
    if (Tools::gifski())
        return GifEncoder::gifski;
    if (Tools::ffmpeg())
        return GifEncoder::ffmpeg;
    return GifEncoder::imageIO;
}

} // namespace GifExporter
