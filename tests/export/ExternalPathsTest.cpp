#include "ExportTestSupport.h"

#include "export/ExportTiming.h"
#include "export/FFmpegGifExport.h"
#include "export/FrameStaging.h"
#include "export/GifExporter.h"
#include "export/GifskiExport.h"
#include "export/Mp4Export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

// The ffmpeg, gifski and MP4 paths with stand-in tools: what they are asked
// to do, and what the user reads back.

namespace {

// A stand-in run's lines: tool, cwd, then the arguments.
QStringList argumentsOf(const QStringList &run)
{
    return run.mid(2);
}

QString cwdOf(const QStringList &run)
{
    return run.value(1).mid(4);
}

struct Staging {
    QTemporaryDir temp;
    EnvOverride tmp {"TMPDIR", temp.path().toLocal8Bit()};
    bool isEmpty() const { return QDir(temp.path()).isEmpty(); }
};

} // namespace

TEST(FFmpegGif, RunsThePalettePassThenTheMappingPassInTheStagingFolder)
{
    const StubTools tools({QStringLiteral("ffmpeg")});
    Staging staging;
    GifProjectRef project = solidProject(3, 10, 8, Qt::red, 60);
    project->frames[2]->delayMs = 250;
    const ExportResult result = GifExporter::exportGif(
        *project, QStringLiteral("out/x.gif"), ExportOptions(GifEncoder::ffmpeg, GifQuality::high, 0));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, QStringLiteral("Exported with ffmpeg (200 colors, High)."));

    const QList<QStringList> runs = tools.runs();
    ASSERT_EQ(runs.size(), 2);
    const QString folder = cwdOf(runs[0]);
    EXPECT_TRUE(QFileInfo(folder).fileName().startsWith(QStringLiteral("quillo-")));
    EXPECT_EQ(cwdOf(runs[1]), folder);
    const QString palette = folder + QStringLiteral("/palette.png");
    EXPECT_EQ(argumentsOf(runs[0]),
        (QStringList {"-y", "-f", "concat", "-safe", "0", "-i", "list.txt", "-vf",
            "palettegen=max_colors=200:stats_mode=diff", palette}));
    EXPECT_EQ(argumentsOf(runs[1]),
        (QStringList {"-y", "-f", "concat", "-safe", "0", "-i", "list.txt", "-i", palette, "-lavfi",
            "[0:v][1:v]paletteuse=dither=sierra2_4a:diff_mode=rectangle", "-loop", "0", "-final_delay", "25",
            QDir::current().absoluteFilePath("out/x.gif")}));
    EXPECT_TRUE(
        tools.listSeenBy(1).contains(QStringLiteral("file 'frame00002.png'\noption framerate 100\nduration 0.25\n")));
    EXPECT_TRUE(staging.isEmpty());
}

TEST(FFmpegGif, QualityLoopAndOverrideReachTheArguments)
{
    struct Case {
        GifQuality quality;
        int64_t loops;
        std::optional<int64_t> fps;
        QString paletteFilter;
        QString graph;
        QString loop;
    };
    const Case cases[] = {
        {GifQuality::low, 1, std::nullopt, "palettegen=max_colors=64:stats_mode=diff",
            "[0:v][1:v]paletteuse=dither=bayer:bayer_scale=5:diff_mode=rectangle", "-1"},
        {GifQuality::medium, 3, std::nullopt, "palettegen=max_colors=128:stats_mode=diff",
            "[0:v][1:v]paletteuse=dither=bayer:bayer_scale=3:diff_mode=rectangle", "2"},
        {GifQuality::max, 5, 0, "palettegen=max_colors=256:stats_mode=diff",
            "[0:v][1:v]paletteuse=dither=floyd_steinberg:diff_mode=rectangle", "4"},
        {GifQuality::high, -2, 10, "fps=10,palettegen=max_colors=200:stats_mode=diff",
            "[0:v]fps=10[v];[v][1:v]paletteuse=dither=sierra2_4a:diff_mode=rectangle", "0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.paletteFilter.toStdString());
        const ExportOptions options(GifEncoder::ffmpeg, c.quality, c.loops, c.fps);
        const QStringList palette = GifExporter::ffmpegPaletteArguments(QStringLiteral("P"), options);
        EXPECT_EQ(palette.value(8), c.paletteFilter);
        const QStringList mapping = GifExporter::ffmpegMappingArguments(QStringLiteral("P"), "/d.gif", options, 10);
        EXPECT_EQ(mapping.value(10), c.graph);
        EXPECT_EQ(mapping.value(12), c.loop);
        // A resampled input already gives the last frame its length.
        const bool perFrame = !c.fps || *c.fps < 1;
        EXPECT_EQ(mapping.size(), perFrame ? 16 : 14);
        if (perFrame) {
            EXPECT_EQ(mapping.mid(13, 2), (QStringList {"-final_delay", "2"}));
        }
        EXPECT_EQ(mapping.last(), QStringLiteral("/d.gif"));
    }
}

TEST(FFmpegGif, AFailingPalettePassStopsTheExportAndShowsTheEndOfStandardError)
{
    const StubTools tools({QStringLiteral("ffmpeg")});
    Staging staging;
    const QString noise = QString(700, QLatin1Char('n')) + QString(300, QLatin1Char('e'));
    const EnvOverride err("QUILLO_STUB_STDERR", noise.toUtf8());
    const EnvOverride fail("QUILLO_STUB_FAIL_AT", "1");
    const ExportResult result = GifExporter::exportGif(
        *solidProject(2, 4, 4, Qt::red, 60), "/tmp/never.gif", ExportOptions(GifEncoder::ffmpeg, GifQuality::high, 0));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, QStringLiteral("palettegen failed: ") + QString(300, QLatin1Char('e')));
    EXPECT_EQ(tools.runs().size(), 1);
    EXPECT_TRUE(staging.isEmpty());
}

TEST(FFmpegGif, AFailingMappingPassIsReportedWithItsWholeShortMessage)
{
    const StubTools tools({QStringLiteral("ffmpeg")});
    Staging staging;
    const EnvOverride err("QUILLO_STUB_STDERR", "Invalid argument here");
    const EnvOverride fail("QUILLO_STUB_FAIL_AT", "2");
    const ExportResult result = GifExporter::exportGif(
        *solidProject(2, 4, 4, Qt::red, 60), "/tmp/never.gif", ExportOptions(GifEncoder::ffmpeg, GifQuality::high, 0));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, QStringLiteral("ffmpeg gif failed: Invalid argument here"));
    EXPECT_TRUE(staging.isEmpty());
}

TEST(Gifski, NamesEachPngOncePerTwentyMillisecondsOfItsDelay)
{
    const StubTools tools({QStringLiteral("gifski")});
    Staging staging;
    GifProjectRef project = solidProject(3, 4, 4, Qt::red, 60);
    project->frames[1]->delayMs = 10; // held to a GIF's 20 ms
    project->frames[2]->delayMs = 250;
    const ExportResult result
        = GifExporter::exportGif(*project, "/tmp/g.gif", ExportOptions(GifEncoder::gifski, GifQuality::high, 0));
    EXPECT_TRUE(result.ok);
    // The message names the recording's rate, as it always has.
    EXPECT_EQ(result.message, QStringLiteral("Exported with gifski (q90, 15fps, High)."));
    const QList<QStringList> runs = tools.runs();
    ASSERT_EQ(runs.size(), 1);
    const QStringList arguments = argumentsOf(runs[0]);
    EXPECT_EQ(arguments.mid(0, 10),
        (QStringList {"--fps", "50", "--quality", "90", "--repeat", "0", "--width", "4", "-o", "/tmp/g.gif"}));
    // 60 ms, 20 ms and 250 ms in 20 ms steps: 3, then 1, then 13 (the last
    // frame runs from 80 to 330 ms, and 330 rounds to the grid point 340).
    QStringList names;
    for (const QString &file : arguments.mid(10)) {
        EXPECT_TRUE(QFileInfo(file).isAbsolute());
        names << QFileInfo(file).fileName();
    }
    QStringList expected;
    for (const auto &[index, count] : {std::pair {0, 3}, {1, 1}, {2, 13}}) {
        for (int i = 0; i < count; ++i)
            expected << GifExporter::frameFileName(index);
    }
    EXPECT_EQ(names, expected);
    // No working directory: the child runs where the program runs.
    EXPECT_EQ(cwdOf(runs[0]), QDir::currentPath());
    EXPECT_TRUE(staging.isEmpty());
}

TEST(Gifski, AnOverrideGivesEveryFrameOneEntryAtThatRate)
{
    struct Case {
        int64_t projectFps;
        std::optional<int64_t> fps;
        int64_t loops;
        QString rate;
        QString repeat;
    };
    const Case cases[] = {
        {15, 0, 1, "1", "-1"},
        {15, 25, 5, "25", "4"},
        {30, std::nullopt, -1, "50", "0"},
        {0, std::nullopt, 3, "50", "2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rate.toStdString());
        const GifProjectRef project = solidProject(2, 2, 2, Qt::red, 20, c.projectFps);
        const ExportOptions options(GifEncoder::gifski, GifQuality::low, c.loops, c.fps);
        const GifExporter::GifskiInput input
            = GifExporter::gifskiInput(*project, {"/a.png", "/b.png"}, options, 1 << 20);
        EXPECT_EQ(GifExporter::gifskiArguments(input.fps, 2, options, "/d.gif", input.files),
            (QStringList {"--fps", c.rate, "--quality", "50", "--repeat", c.repeat, "--width", "2", "-o", "/d.gif",
                "/a.png", "/b.png"}));
    }
}

TEST(Gifski, ALongProjectTakesACoarserGridThatStillAddsUpToItsLength)
{
    // 3,000 frames, many of them long pauses: minutes of animation that would
    // need about 84,000 names at 20 ms.
    std::vector<int64_t> delays;
    GifProjectRef project = solidProject(3000, 2, 2, Qt::red, 66);
    for (size_t i = 0; i < project->frames.size(); ++i) {
        if (i % 10 == 0)
            project->frames[i]->delayMs = 5000;
        delays.push_back(ExportTiming::gifDelayMs(project->frames[i]->delayMs));
    }
    QStringList pngs;
    for (int i = 0; i < 3000; ++i)
        pngs << QStringLiteral("/tmp/quillo-0123456789abcdef/") + GifExporter::frameFileName(i);
    const ExportOptions options(GifEncoder::gifski, GifQuality::high, 0);
    const qsizetype budget = 2 * 1024 * 1024;
    const GifExporter::GifskiInput input = GifExporter::gifskiInput(*project, pngs, options, budget);
    EXPECT_LE(GifExporter::commandLineBytes(input.files), budget);
    const double stepMs = 1000.0 / input.fps.toDouble();
    EXPECT_GT(stepMs, 20);
    EXPECT_EQ(std::lround(stepMs) % 20, 0);
    // In order, and the whole as long as the project to within half a step.
    EXPECT_TRUE(std::is_sorted(input.files.begin(), input.files.end()));
    const double total = std::accumulate(delays.begin(), delays.end(), 0.0);
    EXPECT_NEAR(double(input.files.size()) * stepMs, total, stepMs / 2);
    // Every long pause is still there.
    for (int i = 0; i < 3000; i += 10)
        EXPECT_GE(input.files.count(pngs[i]), int(5000 / stepMs) - 1) << i;

    // A budget that holds the fine grid keeps it.
    const GifExporter::GifskiInput fine = GifExporter::gifskiInput(*project, pngs, options, 64 * 1024 * 1024);
    EXPECT_EQ(fine.fps, QStringLiteral("50"));
}

TEST(Gifski, AFailingRunIsReportedAndFfmpegIsNotTried)
{
    const StubTools tools({QStringLiteral("gifski"), QStringLiteral("ffmpeg")});
    Staging staging;
    const EnvOverride err("QUILLO_STUB_STDERR", "error: bad frame");
    const EnvOverride fail("QUILLO_STUB_FAIL_AT", "1");
    const ExportResult result = GifExporter::exportGif(
        *solidProject(2, 4, 4, Qt::red, 60), "/tmp/never.gif", ExportOptions(GifEncoder::gifski, GifQuality::high, 0));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, QStringLiteral("gifski failed: error: bad frame"));
    ASSERT_EQ(tools.runs().size(), 1);
    EXPECT_EQ(tools.runs()[0].first(), QStringLiteral("gifski"));
    EXPECT_TRUE(staging.isEmpty());
}

TEST(Mp4, ReadsTheVideoListWithEachFramesOwnDelay)
{
    const StubTools tools({QStringLiteral("ffmpeg")});
    Staging staging;
    GifProjectRef project = solidProject(2, 4, 4, Qt::red, 60);
    project->frames[1]->delayMs = 17; // a 60 fps recording's frame keeps its 17 ms
    const ExportResult result = GifExporter::exportMP4(*project, QStringLiteral("/tmp/v.mp4"), GifQuality::high);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, QStringLiteral("Exported MP4 (CRF 20, High)."));
    const QList<QStringList> runs = tools.runs();
    ASSERT_EQ(runs.size(), 1);
    EXPECT_TRUE(QFileInfo(cwdOf(runs[0])).fileName().startsWith(QStringLiteral("quillo-")));
    EXPECT_EQ(argumentsOf(runs[0]),
        (QStringList {"-y", "-f", "concat", "-safe", "0", "-i", "video.txt", "-vf",
            "scale=trunc(iw/2)*2:trunc(ih/2)*2,format=yuv420p", "-fps_mode", "vfr", "-c:v", "libx264", "-bf", "0",
            "-crf", "20", "-preset", "medium", "-pix_fmt", "yuv420p", "/tmp/v.mp4"}));
    EXPECT_EQ(tools.listSeenBy(1, QStringLiteral("video")),
        QStringLiteral("ffconcat version 1.0\n"
                       "file 'frame00000.png'\noption framerate 1000\nduration 0.06\n"
                       "file 'frame00001.png'\noption framerate 1000\nduration 0.016\n"
                       "file 'frame00001.png'\noption framerate 1000\n"));
    EXPECT_TRUE(staging.isEmpty());
}

TEST(Mp4, QualityReachesTheArgumentsAndTheMessage)
{
    const StubTools tools({QStringLiteral("ffmpeg")});
    Staging staging;
    const ExportResult max
        = GifExporter::exportMP4(*solidProject(1, 4, 4, Qt::red, 60, 0), "/tmp/v.mp4", GifQuality::max);
    EXPECT_EQ(max.message, QStringLiteral("Exported MP4 (CRF 16, Max (large file))."));
    const ExportResult low = GifExporter::exportMP4(*solidProject(1, 4, 4, Qt::red, 60), "/tmp/v.mp4", GifQuality::low);
    EXPECT_EQ(low.message, QStringLiteral("Exported MP4 (CRF 28, Low (small file))."));
    const QList<QStringList> runs = tools.runs();
    ASSERT_EQ(runs.size(), 2);
    EXPECT_EQ(argumentsOf(runs[0]).value(16), QStringLiteral("16"));
    EXPECT_EQ(argumentsOf(runs[1]).value(16), QStringLiteral("28"));
}

TEST(Mp4, FailsWithoutFfmpegOrFramesAndShowsTheToolsComplaint)
{
    QTemporaryDir out;
    const QString destination = out.filePath("v.mp4");
    {
        const StubTools none({});
        EXPECT_EQ(GifExporter::exportMP4(*solidProject(1, 4, 4, Qt::red, 60), destination, GifQuality::high).message,
            QStringLiteral("ffmpeg not found."));
    }
    const StubTools tools({QStringLiteral("ffmpeg")});
    Staging staging;
    const ExportResult empty = GifExporter::exportMP4(GifProject({}, 15), destination, GifQuality::high);
    EXPECT_FALSE(empty.ok);
    EXPECT_EQ(empty.message, QStringLiteral("Nothing to export — project has no frames."));
    EXPECT_TRUE(tools.runs().isEmpty());

    const EnvOverride err("QUILLO_STUB_STDERR", "height not divisible by 2");
    const EnvOverride fail("QUILLO_STUB_FAIL_AT", "1");
    const ExportResult failed
        = GifExporter::exportMP4(*solidProject(1, 4, 4, Qt::red, 60), destination, GifQuality::high);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.message, QStringLiteral("ffmpeg mp4 failed: height not divisible by 2"));
    EXPECT_FALSE(QFileInfo::exists(destination));
    EXPECT_TRUE(staging.isEmpty());
}

TEST(Dispatch, PicksThePathByEncoderAndFallsBackSilently)
{
    struct Case {
        GifEncoder requested;
        QStringList installed;
        const char *messageStart;
    };
    const Case cases[] = {
        {GifEncoder::imageIO, {"ffmpeg", "gifski"}, "Exported with built-in encoder ("},
        {GifEncoder::gifski, {"ffmpeg", "gifski"}, "Exported with gifski (q"},
        {GifEncoder::gifski, {"gifski"}, "Exported with gifski (q"},
        {GifEncoder::gifski, {"ffmpeg"}, "Exported with ffmpeg ("},
        {GifEncoder::gifski, {}, "Exported with built-in encoder ("},
        {GifEncoder::ffmpeg, {"ffmpeg", "gifski"}, "Exported with ffmpeg ("},
        {GifEncoder::ffmpeg, {"gifski"}, "Exported with built-in encoder ("},
        {GifEncoder::ffmpeg, {}, "Exported with built-in encoder ("},
    };
    QTemporaryDir out;
    for (const Case &c : cases) {
        SCOPED_TRACE(rawValue(c.requested).toStdString() + " with " + c.installed.join(',').toStdString());
        const StubTools tools(c.installed);
        const ExportResult result = GifExporter::exportGif(*solidProject(2, 6, 6, Qt::green, 60), out.filePath("d.gif"),
            ExportOptions(c.requested, GifQuality::high, 0));
        EXPECT_TRUE(result.ok);
        EXPECT_TRUE(result.message.startsWith(QLatin1String(c.messageStart))) << result.message.toStdString();
    }
}

TEST(Dispatch, OneFrameAskedOfGifskiTakesThePathWithoutIt)
{
    struct Case {
        QStringList installed;
        const char *messageStart;
    };
    const Case cases[] = {
        {{"ffmpeg", "gifski"}, "Exported with ffmpeg ("},
        {{"gifski"}, "Exported with built-in encoder ("},
    };
    QTemporaryDir out;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.installed.join(',').toStdString());
        const StubTools tools(c.installed);
        const ExportResult result = GifExporter::exportGif(*solidProject(1, 6, 6, Qt::green, 60),
            out.filePath("one.gif"), ExportOptions(GifEncoder::gifski, GifQuality::high, 0));
        EXPECT_TRUE(result.ok) << result.message.toStdString();
        EXPECT_TRUE(result.message.startsWith(QLatin1String(c.messageStart))) << result.message.toStdString();
        for (const QStringList &run : tools.runs())
            EXPECT_NE(run.value(0), QStringLiteral("== gifski"));
    }
}

TEST(Dispatch, AnEmptyProjectIsRefusedBeforeAnythingIsWritten)
{
    const StubTools tools({QStringLiteral("ffmpeg"), QStringLiteral("gifski")});
    QTemporaryDir out;
    for (GifEncoder encoder : allGifEncoders) {
        const ExportResult result = GifExporter::exportGif(
            GifProject({}, 15), out.filePath("e.gif"), ExportOptions(encoder, GifQuality::high, 0));
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, QStringLiteral("Nothing to export — project has no frames."));
    }
    EXPECT_TRUE(tools.runs().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(out.filePath("e.gif")));
}
