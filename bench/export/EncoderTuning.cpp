// The built-in GIF writer with settings other than its defaults, on one clip:
// how its tuning was chosen. Prints seconds and bytes; the GIF stays behind
// for bench/scripts/gifquality.py.
//
//   encoder_tuning <clip-dir> <out.gif> [speed] [maxColors] [targetQuality]
#include "ClipFiles.h"

#include "export/BuiltInGifExport.h"
#include "export/GifWriter.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: encoder_tuning <clip-dir> <out.gif> [speed] [maxColors] [targetQuality]\n");
        return 2;
    }
    GifWriter::Tuning tuning;
    if (args.size() > 3)
        tuning.speed = args[3].toInt();
    if (args.size() > 4)
        tuning.maxColors = args[4].toInt();
    if (args.size() > 5)
        tuning.targetQuality = args[5].toInt();
    QString error;
    const GifProjectRef project = ClipFiles::load(args[1], &error);
    if (!project) {
        std::fprintf(stderr, "encoder_tuning: %s\n", qPrintable(error));
        return 1;
    }
    std::vector<QImage> images;
    for (const GifFrameRef &frame : project->frames)
        images.push_back(frame->image());
    const std::vector<int> delays
        = GifExporter::builtInDelays(*project, ExportOptions(GifEncoder::imageIO, GifQuality::high, 0));
    QElapsedTimer timer;
    timer.start();
    const GifWriter::Status status = GifWriter(tuning).write(args[2], images, delays, 0);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (status != GifWriter::Status::written) {
        std::fprintf(stderr, "encoder_tuning: writing failed\n");
        return 1;
    }
    std::printf("speed=%d colors=%d quality=%d seconds=%.3f bytes=%lld\n", tuning.speed, tuning.maxColors,
        tuning.targetQuality, seconds, static_cast<long long>(QFileInfo(args[2]).size()));
    return 0;
}
