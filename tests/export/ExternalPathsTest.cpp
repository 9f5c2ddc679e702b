#include "ExportTestSupport.h"

#include "export/FFmpegGifExport.h"
#include "export/FrameStaging.h"
#include "export/GifExporter.h"
#include "export/GifFile.h"
#include "export/GifskiExport.h"
#include "export/Mp4Export.h"
#include "export/OutputCheck.h"

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

// The file a run was told to write: its last argument, a hidden sibling of
// the destination until the export commits it.
void expectPendingSiblingOf(const QString &written, const QString &destination)
{
    EXPECT_EQ(QFileInfo(written).absolutePath(), QFileInfo(destination).absolutePath());
    EXPECT_TRUE(QFileInfo(written).fileName().startsWith(QLatin1Char('.') + QFileInfo(destination).fileName()))
        << written.toStdString();
    EXPECT_FALSE(QFileInfo::exists(written));
}

struct Staging {
    QTemporaryDir temp;
    EnvOverride tmp {"TMPDIR", temp.path().toLocal8Bit()};
    bool isEmpty() const { return QDir(temp.path()).isEmpty(); }
};

} // namespace

TEST(FFmpegGif, RunsThePalettePassThenTheMappingPassInTheStagingFolder)
{
    const StubTools tools({QStringLiteral("ffmpeg")}, 3);
    QTemporaryDir out;
    Staging staging;
    GifProjectRef project = solidProject(3, 10, 8, Qt::red, 60);
    project->frames[2]->delayMs = 250;
    const ExportResult result = GifExporter::exportGif(
        *project, out.filePath("x.gif"), ExportOptions(GifEncoder::ffmpeg, GifQuality::high, 0));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, QStringLiteral("Exported with ffmpeg (200 colors, High)."));
    EXPECT_EQ(OutputCheck::gifImageCount(out.filePath("x.gif")), 3);

    const QList<QStringList> runs = tools.runs();
    ASSERT_EQ(runs.size(), 2);
    const QString folder = cwdOf(runs[0]);
    EXPECT_TRUE(QFileInfo(folder).fileName().startsWith(QStringLiteral("quillo-")));
    EXPECT_EQ(cwdOf(runs[1]), folder);
    // The palette is named relative to the staging folder, so that no "%d"
    // in the temporary folder's path can reach ffmpeg.
    EXPECT_EQ(argumentsOf(runs[0]),
        (QStringList {"-y", "-f", "concat", "-safe", "0", "-i", "list.txt", "-vf",
            "palettegen=max_colors=200:stats_mode=diff", "palette.png"}));
    const QStringList mapping = argumentsOf(runs[1]);
    EXPECT_EQ(mapping.mid(0, mapping.size() - 1),
        (QStringList {"-y", "-nostats", "-progress", "pipe:1", "-f", "concat", "-safe", "0", "-i", "list.txt", "-i",
            "palette.png", "-lavfi", "[0:v][1:v]paletteuse=dither=sierra2_4a:diff_mode=rectangle", "-loop", "0",
            "-final_delay", "25", "-f", "gif"}));
    expectPendingSiblingOf(mapping.last(), out.filePath("x.gif"));
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
        EXPECT_EQ(mapping.value(13), c.graph);
        EXPECT_EQ(mapping.value(15), c.loop);
        // A resampled input already gives the last frame its length.
        const bool perFrame = !c.fps || *c.fps < 1;
        EXPECT_EQ(mapping.size(), perFrame ? 21 : 19);
        if (perFrame) {
            EXPECT_EQ(mapping.mid(16, 2), (QStringList {"-final_delay", "2"}));
        }
        EXPECT_EQ(mapping.last(), QStringLiteral("/d.gif"));
    }
}

TEST(FFmpegGif, AFailingPalettePassStopsTheExportAndShowsTheEndOfStandardError)
{
    const StubTools tools({QStringLiteral("ffmpeg")});
    QTemporaryDir out;
    Staging staging;
    const QString noise = QString(700, QLatin1Char('n')) + QString(300, QLatin1Char('e'));
    const EnvOverride err("QUILLO_STUB_STDERR", noise.toUtf8());
    const EnvOverride fail("QUILLO_STUB_FAIL_AT", "1");
    const ExportResult result = GifExporter::exportGif(*solidProject(2, 4, 4, Qt::red, 60), out.filePath("never.gif"),
        ExportOptions(GifEncoder::ffmpeg, GifQuality::high, 0));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, QStringLiteral("palettegen failed: ") + QString(300, QLatin1Char('e')));
    EXPECT_TRUE(QDir(out.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_EQ(tools.runs().size(), 1);
    EXPECT_TRUE(staging.isEmpty());
}

TEST(FFmpegGif, AFailingMappingPassIsReportedWithItsWholeShortMessage)
{
    const StubTools tools({QStringLiteral("ffmpeg")});
    QTemporaryDir out;
    Staging staging;
    const EnvOverride err("QUILLO_STUB_STDERR", "Invalid argument here");
    const EnvOverride fail("QUILLO_STUB_FAIL_AT", "2");
    const ExportResult result = GifExporter::exportGif(*solidProject(2, 4, 4, Qt::red, 60), out.filePath("never.gif"),
        ExportOptions(GifEncoder::ffmpeg, GifQuality::high, 0));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, QStringLiteral("ffmpeg gif failed: Invalid argument here"));
    EXPECT_TRUE(staging.isEmpty());
}

TEST(Gifski, CountsFramesAtAHundredPerSecondThenWritesTheProjectsDelays)
{
    const StubTools tools({QStringLiteral("gifski")}, 3);
    QTemporaryDir out;
    Staging staging;
    GifProjectRef project = solidProject(3, 4, 4, Qt::red, 60);
    project->frames[1]->delayMs = 10; // held to a GIF's 20 ms
    project->frames[2]->delayMs = 250;
    const ExportResult result = GifExporter::exportGif(
        *project, out.filePath("g.gif"), ExportOptions(GifEncoder::gifski, GifQuality::high, 0));
    EXPECT_TRUE(result.ok) << result.message.toStdString();
    // The message names the recording's rate, as it always has.
    EXPECT_EQ(result.message, QStringLiteral("Exported with gifski (q90, 15fps, High)."));
    const QList<QStringList> runs = tools.runs();
    ASSERT_EQ(runs.size(), 1);
    const QStringList arguments = argumentsOf(runs[0]);
    ASSERT_EQ(arguments.size(), 13);
    EXPECT_EQ(
        arguments.mid(0, 9), (QStringList {"--fps", "100", "--quality", "90", "--repeat", "0", "--width", "4", "-o"}));
    expectPendingSiblingOf(arguments.value(9), out.filePath("g.gif"));
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(QFileInfo(arguments[10 + i]).isAbsolute());
        EXPECT_EQ(QFileInfo(arguments[10 + i]).fileName(), GifExporter::frameFileName(i));
    }
    // No working directory: the child runs where the program runs.
    EXPECT_EQ(cwdOf(runs[0]), QDir::currentPath());
    const std::optional<GifFile::Structure> written = GifFile::read(out.filePath("g.gif"));
    ASSERT_TRUE(written);
    EXPECT_EQ(written->delays, (std::vector<std::optional<int>> {6, 2, 25}));
    EXPECT_TRUE(staging.isEmpty());
}

TEST(Gifski, EachGifFrameLastsWhatTheProjectFramesItShowsSpan)
{
    struct Case {
        std::vector<int> counted;
        std::vector<int64_t> delays;
        std::optional<std::vector<int>> expected;
    };
    const Case cases[] = {
        {{1, 1, 1}, {60, 10, 250}, std::vector<int> {6, 2, 25}},
        // gifski merged the first two frames: they last 80 ms together.
        {{2, 1}, {60, 10, 250}, std::vector<int> {8, 25}},
        // Starts rounded on the running total: 33 ms three times is 10, not 9.
        {{1, 1, 1}, {33, 33, 33}, std::vector<int> {3, 4, 3}},
        {{1, 1}, {60, 10, 250}, std::nullopt},
        {{1, 0, 2}, {60, 10, 250}, std::nullopt},
    };
    for (const Case &c : cases) {
        GifFrameList frames;
        for (int64_t delay : c.delays)
            frames.push_back(std::make_shared<GifFrame>(QImage(), delay));
        EXPECT_EQ(GifExporter::gifskiDelays(c.counted, GifProject(std::move(frames), 15)), c.expected);
    }
}

TEST(Gifski, AnOverrideGivesEveryFrameThatRateAsGifskiWritesIt)
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
        {30, std::nullopt, -1, "100", "0"},
        {0, std::nullopt, 3, "100", "2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rate.toStdString());
        const GifProjectRef project = solidProject(2, 2, 2, Qt::red, 20, c.projectFps);
        const ExportOptions options(GifEncoder::gifski, GifQuality::low, c.loops, c.fps);
        EXPECT_EQ(GifExporter::gifskiArguments(
                      GifExporter::gifskiArgumentRate(*project, options), 2, options, "/d.gif", {"/a.png", "/b.png"}),
            (QStringList {"--fps", c.rate, "--quality", "50", "--repeat", c.repeat, "--width", "2", "-o", "/d.gif",
                "/a.png", "/b.png"}));
    }
    QStringList pngs;
    for (int i = 0; i < 200; ++i)
        pngs << QStringLiteral("/f%1.png").arg(i);
    EXPECT_EQ(
        GifExporter::gifskiArguments(15, 640, ExportOptions(GifEncoder::gifski, GifQuality::max, 0), "/d.gif", pngs)
            .size(),
        210);
}

TEST(Gifski, AFailingRunIsReportedAndFfmpegIsNotTried)
{
    const StubTools tools({QStringLiteral("gifski"), QStringLiteral("ffmpeg")});
    QTemporaryDir out;
    Staging staging;
    const EnvOverride err("QUILLO_STUB_STDERR", "error: bad frame");
    const EnvOverride fail("QUILLO_STUB_FAIL_AT", "1");
    const ExportResult result = GifExporter::exportGif(*solidProject(2, 4, 4, Qt::red, 60), out.filePath("never.gif"),
        ExportOptions(GifEncoder::gifski, GifQuality::high, 0));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, QStringLiteral("gifski failed: error: bad frame"));
    ASSERT_EQ(tools.runs().size(), 1);
    EXPECT_EQ(tools.runs()[0].first(), QStringLiteral("gifski"));
    EXPECT_TRUE(staging.isEmpty());
}

TEST(Mp4, ReadsTheVideoListWithEachFramesOwnDelay)
{
    const StubTools tools({QStringLiteral("ffmpeg")});
    QTemporaryDir out;
    Staging staging;
    GifProjectRef project = solidProject(2, 4, 4, Qt::red, 60);
    project->frames[1]->delayMs = 17; // a 60 fps recording's frame keeps its 17 ms
    const ExportResult result = GifExporter::exportMP4(*project, out.filePath("v.mp4"), GifQuality::high);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, QStringLiteral("Exported MP4 (CRF 20, High)."));
    const QList<QStringList> runs = tools.runs();
    ASSERT_EQ(runs.size(), 1);
    EXPECT_TRUE(QFileInfo(cwdOf(runs[0])).fileName().startsWith(QStringLiteral("quillo-")));
    const QStringList arguments = argumentsOf(runs[0]);
    EXPECT_EQ(arguments.mid(0, arguments.size() - 1),
        (QStringList {"-y", "-nostats", "-progress", "pipe:1", "-f", "concat", "-safe", "0", "-i", "video.txt", "-vf",
            "pad=ceil(iw/2)*2:ceil(ih/2)*2,format=yuv420p", "-fps_mode", "vfr", "-c:v", "libx264", "-bf", "0", "-crf",
            "20", "-preset", "medium", "-pix_fmt", "yuv420p", "-f", "mp4"}));
    expectPendingSiblingOf(arguments.last(), out.filePath("v.mp4"));
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
    QTemporaryDir out;
    Staging staging;
    const ExportResult max
        = GifExporter::exportMP4(*solidProject(1, 4, 4, Qt::red, 60, 0), out.filePath("v.mp4"), GifQuality::max);
    EXPECT_EQ(max.message, QStringLiteral("Exported MP4 (CRF 16, Max (large file))."));
    const ExportResult low
        = GifExporter::exportMP4(*solidProject(1, 4, 4, Qt::red, 60), out.filePath("v.mp4"), GifQuality::low);
    EXPECT_EQ(low.message, QStringLiteral("Exported MP4 (CRF 28, Low (small file))."));
    const QList<QStringList> runs = tools.runs();
    ASSERT_EQ(runs.size(), 2);
    EXPECT_EQ(argumentsOf(runs[0]).value(19), QStringLiteral("16"));
    EXPECT_EQ(argumentsOf(runs[1]).value(19), QStringLiteral("28"));
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
        const StubTools tools(c.installed, 2);
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
        const StubTools tools(c.installed, 1);
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
