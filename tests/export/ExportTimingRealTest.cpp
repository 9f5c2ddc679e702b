#include "ExportTestSupport.h"

#include "export/GifExporter.h"
#include "export/Tools.h"

#include <QPainter>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <numeric>
#include <random>

// Every path with the real tools: the file, as a player reads it back, shows
// each frame for the project's delay.

namespace {

// Frames that all differ everywhere, so no encoder may merge two of them
// (gifski merges neighbours that differ only in a few pixels).
GifProjectRef numberedProject(const std::vector<int64_t> &delays)
{
    GifFrameList frames;
    for (size_t i = 0; i < delays.size(); ++i) {
        QImage image(64, 48, QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor::fromHsv(int(i * 37 % 360), 200, 90 + int(i % 3) * 40));
        QPainter painter(&image);
        painter.fillRect(QRect(int(i % 16) * 4, int(i / 16 % 12) * 4, 4, 4), Qt::white);
        painter.fillRect(QRect(0, 44, int(i * 64 / std::max<size_t>(delays.size(), 1)), 4), QColor(200, 240, 0));
        painter.end();
        frames.push_back(std::make_shared<GifFrame>(image, delays[i]));
    }
    return std::make_shared<GifProject>(std::move(frames), 15, 0);
}

std::vector<int64_t> gifDelaysMs(const QString &path)
{
    const ToolOutput output = runChecker(QStringLiteral("gifsicle"), {QStringLiteral("--info"), path});
    std::vector<int64_t> delays;
    for (const QRegularExpressionMatch &m :
        QRegularExpression(QStringLiteral("delay (\\d+\\.\\d+)s")).globalMatch(output.out))
        delays.push_back(int64_t(std::llround(m.captured(1).toDouble() * 1000)));
    return delays;
}

// How long each frame of the video is shown, from the presentation times and
// the file's duration, in milliseconds.
std::vector<double> videoDisplayTimesMs(const QString &path)
{
    const ToolOutput frames = runChecker(QStringLiteral("ffprobe"),
        {"-v", "error", "-select_streams", "v", "-show_frames", "-show_entries", "frame=pts_time", "-of", "csv=p=0",
            path});
    const ToolOutput format = runChecker(
        QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path});
    std::vector<double> starts;
    for (const QString &line : frames.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        starts.push_back(line.split(QLatin1Char(',')).value(0).toDouble() * 1000);
    starts.push_back(format.out.trimmed().toDouble() * 1000);
    std::vector<double> times;
    for (size_t i = 0; i + 1 < starts.size(); ++i)
        times.push_back(starts[i + 1] - starts[i]);
    return times;
}

std::vector<int64_t> gifDelaysOf(const GifProject &project)
{
    std::vector<int64_t> delays;
    for (const GifFrameRef &frame : project.frames)
        delays.push_back(std::max<int64_t>(frame->delayMs, 20));
    return delays;
}

int64_t sum(const std::vector<int64_t> &values)
{
    return std::accumulate(values.begin(), values.end(), int64_t(0));
}

void expectGifPlaysAsProject(const QString &path, const GifProject &project, int64_t toleranceMs)
{
    const std::vector<int64_t> expected = gifDelaysOf(project);
    const std::vector<int64_t> delays = gifDelaysMs(path);
    ASSERT_EQ(delays.size(), expected.size());
    for (size_t i = 0; i < delays.size(); ++i)
        EXPECT_NEAR(double(delays[i]), double(expected[i]), double(toleranceMs)) << "frame " << i;
    EXPECT_NEAR(double(sum(delays)), double(sum(expected)), double(sum(expected)) * 0.01);
}

void checkAllPaths(const std::vector<int64_t> &delays)
{
    const GifProjectRef project = numberedProject(delays);
    QTemporaryDir dir;
    for (const GifEncoder encoder : allGifEncoders) {
        SCOPED_TRACE(rawValue(encoder).toStdString());
        const QString path = dir.filePath(rawValue(encoder) + QStringLiteral(".gif"));
        const ExportResult result = GifExporter::exportGif(*project, path, ExportOptions(encoder, GifQuality::high, 0));
        ASSERT_TRUE(result.ok) << result.message.toStdString();
        // Every path writes the delays to the hundredth.
        expectGifPlaysAsProject(path, *project, 10);
    }

    const QString video = dir.filePath(QStringLiteral("v.mp4"));
    const ExportResult result = GifExporter::exportMP4(*project, video, GifQuality::low);
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    const std::vector<double> shown = videoDisplayTimesMs(video);
    // The last frame is there twice: all but its last millisecond, then that.
    ASSERT_EQ(shown.size(), delays.size() + 1);
    for (size_t i = 0; i + 1 < delays.size(); ++i)
        EXPECT_NEAR(shown[i], double(delays[i]), 1.5) << "video frame " << i;
    EXPECT_NEAR(shown[delays.size() - 1] + shown[delays.size()], double(delays.back()), 1.5);
    EXPECT_NEAR(std::accumulate(shown.begin(), shown.end(), 0.0), double(sum(delays)), double(sum(delays)) * 0.01);
}

bool haveRealTools()
{
    return Tools::ffmpeg() && Tools::gifski();
}

} // namespace

TEST(ExportTimingReal, EveryPathShowsEachFrameForItsDelay)
{
    const EnvOverride dirs("QUILLO_TOOL_DIRS", std::nullopt);
    if (!haveRealTools())
        GTEST_SKIP() << "ffmpeg and gifski are needed";
    checkAllPaths({60, 100, 30, 250, 1000, 20});
}

TEST(ExportTimingReal, ALongProjectOfMixedDelaysKeepsItsTiming)
{
    const EnvOverride dirs("QUILLO_TOOL_DIRS", std::nullopt);
    if (!haveRealTools())
        GTEST_SKIP() << "ffmpeg and gifski are needed";
    std::mt19937 random(7);
    const int64_t choices[] = {20, 30, 40, 60, 66, 70, 100, 133, 250, 500, 1200};
    std::vector<int64_t> delays;
    for (int i = 0; i < 300; ++i)
        delays.push_back(choices[random() % std::size(choices)]);
    checkAllPaths(delays);
}
