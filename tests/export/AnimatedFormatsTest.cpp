#include "ExportTestSupport.h"

#include "export/AnimatedFormats.h"
#include "export/Tools.h"

#include <QPainter>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <numeric>

// WebP, APNG and WebM written by the real ffmpeg and read back by other
// programs: frame count, each frame's time, the loop.

namespace {

using GifExporter::AnimatedFormat;

const std::vector<int64_t> DELAYS {60, 100, 30, 250, 1000, 20};

GifProjectRef differentFrames(const std::vector<int64_t> &delays)
{
    GifFrameList frames;
    for (size_t i = 0; i < delays.size(); ++i) {
        QImage image(48, 32, QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor::fromHsv(int(i * 53 % 360), 200, 200));
        QPainter(&image).fillRect(QRect(int(i) * 4, 4, 8, 8), Qt::black);
        frames.push_back(std::make_shared<GifFrame>(image, delays[i]));
    }
    return std::make_shared<GifProject>(std::move(frames), 15, 0);
}

// Presentation times and the file's duration, as ffprobe reads them, turned
// into how long each frame shows (ms).
std::vector<double> probedDisplayTimes(const QString &path)
{
    const ToolOutput frames = runChecker(QStringLiteral("ffprobe"),
        {"-v", "error", "-select_streams", "v", "-show_frames", "-show_entries", "frame=pts_time,pkt_duration_time",
            "-of", "csv=p=0", path});
    std::vector<double> starts, durations;
    for (const QString &line : frames.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        starts.push_back(line.section(QLatin1Char(','), 0, 0).toDouble() * 1000);
        durations.push_back(line.section(QLatin1Char(','), 1, 1).toDouble() * 1000);
    }
    std::vector<double> shown;
    for (size_t i = 0; i + 1 < starts.size(); ++i)
        shown.push_back(starts[i + 1] - starts[i]);
    if (!durations.empty())
        shown.push_back(durations.back());
    return shown;
}

bool haveFfmpeg()
{
    return Tools::ffmpeg().has_value();
}

} // namespace

TEST(AnimatedFormats, OfferedOnlyWhereFfmpegCanWriteThem)
{
    {
        const EnvOverride none("QUILLO_TOOL_DIRS", QByteArray());
        for (AnimatedFormat format : GifExporter::allAnimatedFormats)
            EXPECT_FALSE(GifExporter::canWrite(format));
    }
    const EnvOverride dirs("QUILLO_TOOL_DIRS", std::nullopt);
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not installed";
    // Debian's ffmpeg has all three encoders.
    for (AnimatedFormat format : GifExporter::allAnimatedFormats)
        EXPECT_TRUE(GifExporter::canWrite(format)) << GifExporter::formatName(format).toStdString();
}

TEST(AnimatedFormatsReal, WebPKeepsEveryDelayAndThePlays)
{
    const EnvOverride dirs("QUILLO_TOOL_DIRS", std::nullopt);
    if (!haveFfmpeg() || QStandardPaths::findExecutable(QStringLiteral("webpmux")).isEmpty())
        GTEST_SKIP() << "ffmpeg and webpmux are needed";
    QTemporaryDir dir;
    const QString path = dir.filePath("a.webp");
    const ExportResult result
        = GifExporter::exportAnimated(AnimatedFormat::webp, *differentFrames(DELAYS), path, GifQuality::high, 3);
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    EXPECT_EQ(result.message, QStringLiteral("Exported WebP (lossy, High)."));
    const QString info = runChecker(QStringLiteral("webpmux"), {QStringLiteral("-info"), path}).out;
    EXPECT_TRUE(info.contains(QStringLiteral("Number of frames: 6"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QStringLiteral("Loop Count : 3"))) << info.toStdString();
    QStringList durations;
    const QRegularExpression row(QStringLiteral("^\\s*\\d+:\\s+\\d+\\s+\\d+\\s+\\w+\\s+\\d+\\s+\\d+\\s+(\\d+)"),
        QRegularExpression::MultilineOption);
    for (const QRegularExpressionMatch &m : row.globalMatch(info))
        durations << m.captured(1);
    EXPECT_EQ(durations, (QStringList {"60", "100", "30", "250", "1000", "20"})) << info.toStdString();
}

TEST(AnimatedFormatsReal, ApngAndWebMShowEachFrameForItsDelay)
{
    const EnvOverride dirs("QUILLO_TOOL_DIRS", std::nullopt);
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not installed";
    QTemporaryDir dir;
    for (AnimatedFormat format : {AnimatedFormat::apng, AnimatedFormat::webm}) {
        SCOPED_TRACE(GifExporter::formatName(format).toStdString());
        const QString path = dir.filePath(QStringLiteral("a.") + GifExporter::fileExtension(format));
        const ExportResult result
            = GifExporter::exportAnimated(format, *differentFrames(DELAYS), path, GifQuality::medium, 0);
        ASSERT_TRUE(result.ok) << result.message.toStdString();
        const ToolOutput codec = runChecker(QStringLiteral("ffprobe"),
            {"-v", "error", "-show_entries", "stream=codec_name,width,height", "-of", "csv=p=0", path});
        EXPECT_EQ(codec.out.trimmed(), format == AnimatedFormat::apng ? "apng,48,32" : "vp9,48,32");
        std::vector<double> shown = probedDisplayTimes(path);
        if (format == AnimatedFormat::webm) {
            // The last frame is there twice, the second time for its last
            // millisecond, so that the video ends on the total.
            ASSERT_EQ(shown.size(), DELAYS.size() + 1);
            shown[shown.size() - 2] += shown.back();
            shown.pop_back();
        }
        ASSERT_EQ(shown.size(), DELAYS.size());
        for (size_t i = 0; i < shown.size(); ++i)
            EXPECT_NEAR(shown[i], double(std::max<int64_t>(DELAYS[i], 20)), 1.5) << "frame " << i;
    }
    // APNG counts plays; 0 is for ever.
    QFile apng(dir.filePath("a.apng"));
    ASSERT_TRUE(apng.open(QIODevice::ReadOnly));
    const QByteArray bytes = apng.readAll();
    const qsizetype control = bytes.indexOf("acTL");
    ASSERT_GT(control, 0);
    EXPECT_EQ(bytes.mid(control + 4, 8), QByteArray("\0\0\0\x06\0\0\0\0", 8));
}
