#include "app/AppDelegate.h"
#include "app/SelfTestModes.h"
#include "export/GifExporter.h"

#include <QFileInfo>

// The export modes run on the GUI thread and block it while each export runs:
// nothing else is on screen.
namespace SelfTestModes {

namespace {

QString okText(bool ok)
{
    return ok ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

void runExport(AppDelegate &, const QString &basePath)
{
    const GifProjectRef project = AppDelegate::makeSelfTestProject();
    const ExportResult ffmpeg = GifExporter::exportGif(
        *project, basePath + QStringLiteral("-ffmpeg.gif"), {GifEncoder::ffmpeg, GifQuality::high, 0});
    printLine(QStringLiteral("FFMPEG: ") + okText(ffmpeg.ok) + QLatin1Char(' ') + ffmpeg.message);
    const ExportResult imageIO = GifExporter::exportGif(
        *project, basePath + QStringLiteral("-imageio.gif"), {GifEncoder::imageIO, GifQuality::high, 0});
    printLine(QStringLiteral("IMAGEIO: ") + okText(imageIO.ok) + QLatin1Char(' ') + imageIO.message);
    const ExportResult mp4 = GifExporter::exportMP4(*project, basePath + QStringLiteral("-out.mp4"), GifQuality::high);
    printLine(QStringLiteral("MP4: ") + okText(mp4.ok) + QLatin1Char(' ') + mp4.message);
    exitProcess(ffmpeg.ok && imageIO.ok ? 0 : 1);
}

void runLoop(AppDelegate &)
{
    const GifProjectRef project = AppDelegate::makeSelfTestProject();
    for (const int64_t loops : {0, 1, 3}) {
        const QString path = QStringLiteral("/tmp/quillo-loop%1.gif").arg(loops);
        GifExporter::exportGif(*project, path, {GifEncoder::ffmpeg, GifQuality::high, loops});
        printLine(QStringLiteral("loopCount=%1 → ").arg(loops) + path);
    }
    exitProcess(0);
}

void runQualityMatrix(AppDelegate &)
{
    const GifProjectRef project = AppDelegate::makeSelfTestProject();
    bool allOk = true;
    for (const GifQuality quality : allGifQualities) {
        for (const GifEncoder encoder : allGifEncoders) {
            if (!isAvailable(encoder))
                continue;
            const QString path
                = QStringLiteral("/tmp/quillo-") + rawValue(encoder) + QLatin1Char('-') + caseName(quality) + ".gif";
            const ExportResult result = GifExporter::exportGif(*project, path, {encoder, quality, 0});
            allOk = allOk && result.ok;
            // QFileInfo::size() is 0 for a file that cannot be read.
            const qint64 bytes = QFileInfo(path).size();
            printLine(rawValue(encoder) + QLatin1Char(' ') + caseName(quality) + QStringLiteral(": ok=")
                + okText(result.ok) + QStringLiteral(" bytes=") + QString::number(bytes));
        }
    }
    exitProcess(allOk ? 0 : 1);
}

} // namespace SelfTestModes
