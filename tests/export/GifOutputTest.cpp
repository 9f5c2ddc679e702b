#include "ExportTestSupport.h"

#include "export/GifExporter.h"
#include "export/Tools.h"
#include "model/SelfTestProject.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

// Files written by the real encoders, read back by tools nobody here wrote:
// gifsicle for the GIF structure, ffmpeg for the pixels and the video.

namespace {

struct GifInfo {
    int images = -1;
    QString screen;
    QString loop; // "forever", "count N" or "" (no loop extension)
    QStringList delays;
};

GifInfo gifInfo(const QString &path)
{
    const ToolOutput output = runChecker(QStringLiteral("gifsicle"), {QStringLiteral("--info"), path});
    GifInfo info;
    const QRegularExpressionMatch images = QRegularExpression(QStringLiteral("(\\d+) images?")).match(output.out);
    if (images.hasMatch())
        info.images = images.captured(1).toInt();
    info.screen = QRegularExpression(QStringLiteral("logical screen (\\d+x\\d+)")).match(output.out).captured(1);
    if (output.out.contains(QLatin1String("loop forever")))
        info.loop = QStringLiteral("forever");
    else
        info.loop = QRegularExpression(QStringLiteral("loop (count \\d+)")).match(output.out).captured(1);
    for (const QRegularExpressionMatch &m :
        QRegularExpression(QStringLiteral("delay (\\d+\\.\\d+)s")).globalMatch(output.out))
        info.delays << m.captured(1);
    return info;
}

QStringList repeated(const QString &text, int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << text;
    return list;
}

GifProjectRef projectOfDelays(const std::vector<int64_t> &delays)
{
    GifFrameList frames;
    for (size_t i = 0; i < delays.size(); ++i)
        frames.push_back(std::make_shared<GifFrame>(makeSelfTestFrame(int(i)), delays[i]));
    return std::make_shared<GifProject>(std::move(frames), 15, 0);
}

// A photo-like picture with thousands of colours (gradients and grain) that
// forces real quantisation, changing from frame to frame.
GifProjectRef richProject(int count)
{
    GifFrameList frames;
    uint32_t seed = 12345;
    for (int i = 0; i < count; ++i) {
        QImage image(96, 64, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int grain = int(seed >> 30);
                image.setPixel(x, y, qRgb(x * 2 + i * 5, y * 3 + grain, 120 + (x + y) / 4));
            }
        }
        frames.push_back(std::make_shared<GifFrame>(image, 80));
    }
    return std::make_shared<GifProject>(std::move(frames), 12, 0);
}

void expectFramesMatch(const QString &gif, const GifProject &project, double minimumPsnr)
{
    const QList<QImage> decoded = decodeGifFrames(gif);
    ASSERT_EQ(decoded.size(), qsizetype(project.frames.size()));
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(psnr(decoded[i], project.frames[size_t(i)]->image()), minimumPsnr);
    }
}

ExportResult builtIn(const GifProject &project, const QString &path, int64_t loops = 0,
    std::optional<int64_t> fps = std::nullopt, GifQuality quality = GifQuality::high)
{
    return GifExporter::exportGif(project, path, ExportOptions(GifEncoder::imageIO, quality, loops, fps));
}

} // namespace

TEST(BuiltInGif, SelfTestProjectReadsBackWithItsFramesDelaysLoopAndPixels)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("self.gif");
    const mode_t oldMask = ::umask(022);
    const ExportResult result = builtIn(*makeSelfTestProject(), path);
    ::umask(oldMask);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message,
        QStringLiteral("Exported with built-in encoder (quality has limited effect on this path; per-frame timing and "
                       "loop honored)."));

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.read(6), QByteArray("GIF89a"));
    // The user's umask decides, not giflib's private 0600.
    EXPECT_EQ(file.permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::ReadGroup | QFile::ReadOther);

    const GifInfo info = gifInfo(path);
    EXPECT_EQ(info.images, 30);
    EXPECT_EQ(info.screen, QStringLiteral("320x200"));
    EXPECT_EQ(info.loop, QStringLiteral("forever"));
    EXPECT_EQ(info.delays, repeated(QStringLiteral("0.06"), 30));
    const ToolOutput probe = runChecker(QStringLiteral("ffprobe"),
        {"-v", "error", "-count_frames", "-show_entries", "stream=nb_read_frames,width,height", "-of", "csv=p=0",
            path});
    EXPECT_EQ(probe.out.trimmed(), QStringLiteral("320,200,30"));
    expectFramesMatch(path, *makeSelfTestProject(), 30);
}

TEST(BuiltInGif, ManyColoursAreQuantisedWellAndFewColoursKeptExactly)
{
    QTemporaryDir dir;
    const GifProjectRef rich = richProject(6);
    ASSERT_TRUE(builtIn(*rich, dir.filePath("rich.gif")).ok);
    expectFramesMatch(dir.filePath("rich.gif"), *rich, 30);

    // Few colours, repeated and unchanged frames: every pixel must come back
    // exactly, whatever was left transparent.
    GifProjectRef flat = solidProject(5, 40, 30, QColor(10, 20, 30), 60);
    QImage square = flat->frames[0]->image().copy();
    for (int y = 5; y < 15; ++y)
        for (int x = 8; x < 20; ++x)
            square.setPixel(x, y, qRgb(250, 40, 40));
    flat->frames[1]->setPixels(StoredFrame::fromImage(square));
    flat->frames[2]->setPixels(StoredFrame::fromImage(square));
    QImage moved = flat->frames[0]->image().copy();
    moved.setPixel(39, 29, qRgb(0, 255, 0));
    flat->frames[3]->setPixels(StoredFrame::fromImage(moved));
    ASSERT_TRUE(builtIn(*flat, dir.filePath("flat.gif")).ok);
    expectFramesMatch(dir.filePath("flat.gif"), *flat, std::numeric_limits<double>::infinity());
}

TEST(BuiltInGif, WhatChangesGetsThePaletteNotTheStillBackgroundAroundIt)
{
    // A screen recording in miniature: a still backdrop of many colours, and
    // two small patches in opposite corners that change every frame, so each
    // frame's changed rectangle spans the whole backdrop. The patches must
    // come back as well as the backdrop, in every frame.
    constexpr int W = 160, H = 100, PATCH = 10, FRAMES = 24;
    QImage backdrop(W, H, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            backdrop.setPixel(x, y, qRgb(60 + x / 2, 90 + y / 2, 160 - x / 4));
    GifFrameList frames;
    for (int i = 0; i < FRAMES; ++i) {
        QImage image = backdrop.copy();
        for (const QPoint corner : {QPoint(0, 0), QPoint(W - PATCH, H - PATCH)}) {
            for (int y = 0; y < PATCH; ++y)
                for (int x = 0; x < PATCH; ++x)
                    image.setPixel(corner + QPoint(x, y),
                        QColor::fromHsv((i * 47 + x * 9 + corner.x()) % 360, 255 - y * 8, 255).rgb());
        }
        frames.push_back(std::make_shared<GifFrame>(image, 50));
    }
    const GifProject project(std::move(frames), 20, 0);

    QTemporaryDir dir;
    ASSERT_TRUE(builtIn(project, dir.filePath("patches.gif")).ok);
    const QList<QImage> decoded = decodeGifFrames(dir.filePath("patches.gif"));
    ASSERT_EQ(decoded.size(), FRAMES);
    for (int i = 0; i < FRAMES; ++i) {
        SCOPED_TRACE(i);
        const QImage source = project.frames[size_t(i)]->image();
        for (const QRect patch : {QRect(0, 0, PATCH, PATCH), QRect(W - PATCH, H - PATCH, PATCH, PATCH)})
            EXPECT_GE(psnr(decoded[i].copy(patch), source.copy(patch)), 30);
        EXPECT_GE(psnr(decoded[i], source), 30);
    }
}

TEST(BuiltInGif, DelaysHaveAFloorAndTheOverrideReplacesThem)
{
    struct Case {
        std::vector<int64_t> delays;
        std::optional<int64_t> fps;
        QStringList expected;
    };
    const Case cases[] = {
        {{10, 60, 1500}, std::nullopt, {"0.02", "0.06", "1.50"}},
        {{10, 60, 1500}, 25, {"0.04", "0.04", "0.04"}},
        {{10, 60, 1500}, 100, {"0.02", "0.02", "0.02"}},
        {{10, 60, 1500}, 0, {"0.02", "0.06", "1.50"}},
    };
    QTemporaryDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fps.value_or(-1));
        ASSERT_TRUE(builtIn(*projectOfDelays(c.delays), dir.filePath("d.gif"), 0, c.fps).ok);
        EXPECT_EQ(gifInfo(dir.filePath("d.gif")).delays, c.expected);
    }
}

TEST(BuiltInGif, LoopCountMeansPlaysAsOnTheToolPaths)
{
    // One play needs no loop extension; three plays are two repetitions.
    const std::pair<int64_t, const char *> cases[] = {{0, "forever"}, {1, ""}, {3, "count 2"}, {-4, "forever"}};
    QTemporaryDir dir;
    for (const auto &[loops, expected] : cases) {
        SCOPED_TRACE(loops);
        ASSERT_TRUE(builtIn(*solidProject(2, 8, 8, Qt::red, 60), dir.filePath("l.gif"), loops).ok);
        EXPECT_EQ(gifInfo(dir.filePath("l.gif")).loop, QLatin1String(expected));
    }
}

TEST(BuiltInGif, QualityHasNoEffect)
{
    QTemporaryDir dir;
    const GifProjectRef project = makeSelfTestProject();
    ASSERT_TRUE(builtIn(*project, dir.filePath("low.gif"), 0, std::nullopt, GifQuality::low).ok);
    ASSERT_TRUE(builtIn(*project, dir.filePath("max.gif"), 0, std::nullopt, GifQuality::max).ok);
    QFile low(dir.filePath("low.gif"));
    QFile max(dir.filePath("max.gif"));
    ASSERT_TRUE(low.open(QIODevice::ReadOnly) && max.open(QIODevice::ReadOnly));
    EXPECT_EQ(low.readAll(), max.readAll());
}

TEST(BuiltInGif, TransparencyAndMixedSizesAreDrawnWholeOnTheLargestCanvas)
{
    QImage big(30, 20, QImage::Format_ARGB32_Premultiplied);
    big.fill(Qt::transparent);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 15; ++x)
            big.setPixel(x, y, qRgba(0, 0, 200, 255));
    QImage small(10, 10, QImage::Format_ARGB32_Premultiplied);
    small.fill(QColor(200, 0, 0));
    const GifProject project({std::make_shared<GifFrame>(big, 60), std::make_shared<GifFrame>(small, 60)}, 15);
    QTemporaryDir dir;
    const QString path = dir.filePath("t.gif");
    ASSERT_TRUE(builtIn(project, path).ok);
    const GifInfo info = gifInfo(path);
    EXPECT_EQ(info.images, 2);
    EXPECT_EQ(info.screen, QStringLiteral("30x20"));
    const ToolOutput dispose = runChecker(QStringLiteral("gifsicle"), {QStringLiteral("--info"), path});
    EXPECT_EQ(dispose.out.count(QLatin1String("disposal background")), 2);
    EXPECT_EQ(dispose.out.count(QLatin1String("transparent")), 2);

    // Frames of one size are read once per pass, taken to be opaque until one
    // is not: a transparent last frame still makes every frame whole.
    QImage opaque(30, 20, QImage::Format_ARGB32_Premultiplied);
    opaque.fill(QColor(0, 0, 200));
    const GifProject late({std::make_shared<GifFrame>(opaque, 60), std::make_shared<GifFrame>(opaque, 60),
                              std::make_shared<GifFrame>(big, 60)},
        15);
    const QString latePath = dir.filePath("late.gif");
    ASSERT_TRUE(builtIn(late, latePath).ok);
    const ToolOutput lateInfo = runChecker(QStringLiteral("gifsicle"), {QStringLiteral("--info"), latePath});
    EXPECT_EQ(lateInfo.out.count(QLatin1String("disposal background")), 3) << lateInfo.out.toStdString();
    const QList<QImage> decoded = decodeGifFrames(latePath);
    ASSERT_EQ(decoded.size(), 3);
    // The last frame's clear half shows no trace of the blue before it.
    EXPECT_EQ(QColor(decoded[1].pixel(25, 10)), QColor(0, 0, 200));
    EXPECT_EQ(QColor(decoded[2].pixel(5, 10)), QColor(0, 0, 200));
    EXPECT_NE(QColor(decoded[2].pixel(25, 10)), QColor(0, 0, 200));
}

TEST(BuiltInGif, AnUnwritableDestinationFailsWithAClearMessage)
{
    QTemporaryDir dir;
    const ExportResult missing = builtIn(*solidProject(1, 4, 4, Qt::red, 60), dir.filePath("no/such/folder/x.gif"));
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.message,
        QStringLiteral("Could not create GIF file. The folder \u201c%1\u201d does not exist.")
            .arg(dir.filePath("no/such/folder")));
    const ExportResult folder = builtIn(*solidProject(1, 4, 4, Qt::red, 60), dir.path());
    EXPECT_EQ(folder.message,
        QStringLiteral("Could not create GIF file. \u201c%1\u201d is a folder.").arg(QFileInfo(dir.path()).fileName()));
}

TEST(FFmpegGifReal, KeepsOneFramePerProjectFrameAndEveryDelay)
{
    const EnvOverride dirs("QUILLO_TOOL_DIRS", std::nullopt);
    if (!Tools::ffmpeg())
        GTEST_SKIP() << "ffmpeg is not installed";
    QTemporaryDir dir;
    const GifProjectRef project = projectOfDelays({60, 100, 30, 250});
    project->loopCount = 3;
    const ExportResult result = GifExporter::exportGif(
        *project, dir.filePath("f.gif"), ExportOptions(GifEncoder::ffmpeg, GifQuality::high, project->loopCount));
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    const GifInfo info = gifInfo(dir.filePath("f.gif"));
    EXPECT_EQ(info.images, 4);
    EXPECT_EQ(info.delays, (QStringList {"0.06", "0.10", "0.03", "0.25"}));
    EXPECT_EQ(info.loop, QStringLiteral("count 2"));

    ASSERT_TRUE(GifExporter::exportGif(
        *makeSelfTestProject(), dir.filePath("s.gif"), ExportOptions(GifEncoder::ffmpeg, GifQuality::high, 1))
                    .ok);
    const GifInfo selfTest = gifInfo(dir.filePath("s.gif"));
    EXPECT_EQ(selfTest.images, 30);
    EXPECT_EQ(selfTest.delays, repeated(QStringLiteral("0.06"), 30));
    EXPECT_EQ(selfTest.loop, QString()); // one play: no loop extension
    expectFramesMatch(dir.filePath("s.gif"), *makeSelfTestProject(), 30);
}

TEST(FFmpegGifReal, AnUnwritableDestinationIsRefusedBeforeFfmpegRuns)
{
    const EnvOverride dirs("QUILLO_TOOL_DIRS", std::nullopt);
    if (!Tools::ffmpeg())
        GTEST_SKIP() << "ffmpeg is not installed";
    QTemporaryDir dir;
    const ExportResult result = GifExporter::exportGif(*solidProject(2, 8, 8, Qt::red, 60),
        dir.filePath("missing/x.gif"), ExportOptions(GifEncoder::ffmpeg, GifQuality::high, 0));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message,
        QStringLiteral("Could not create GIF file. The folder \u201c%1\u201d does not exist.")
            .arg(dir.filePath("missing")));
}

TEST(GifskiReal, KeepsTheRecordingsSize)
{
    const EnvOverride dirs("QUILLO_TOOL_DIRS", std::nullopt);
    if (!Tools::gifski())
        GTEST_SKIP() << "gifski is not installed";
    QTemporaryDir dir;
    // Larger than gifski's own default limit in both directions.
    for (const QSize size : {QSize(1280, 840), QSize(840, 1280)}) {
        const QString path = dir.filePath(QStringLiteral("%1x%2.gif").arg(size.width()).arg(size.height()));
        const ExportResult result = GifExporter::exportGif(*solidProject(2, size.width(), size.height(), Qt::red, 60),
            path, ExportOptions(GifEncoder::gifski, GifQuality::low, 0));
        ASSERT_TRUE(result.ok) << result.message.toStdString();
        EXPECT_EQ(gifInfo(path).screen, QStringLiteral("%1x%2").arg(size.width()).arg(size.height()));
    }
}

TEST(Mp4Real, OddSizesArePaddedAndTheTrackIsAsLongAsTheProject)
{
    const EnvOverride dirs("QUILLO_TOOL_DIRS", std::nullopt);
    if (!Tools::ffmpeg())
        GTEST_SKIP() << "ffmpeg is not installed";
    QTemporaryDir dir;
    const GifProjectRef project = solidProject(6, 321, 201, QColor(30, 140, 200), 60, 15);
    project->frames[2]->delayMs = 500;
    project->frames[5]->delayMs = 3000; // a held last frame
    const ExportResult result = GifExporter::exportMP4(*project, dir.filePath("v.mp4"), GifQuality::high);
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    // Players take the track's own duration: it must cover the held frame.
    const ToolOutput probe = runChecker(QStringLiteral("ffprobe"),
        {"-v", "error", "-count_frames", "-show_entries", "stream=codec_name,pix_fmt,width,height,duration", "-of",
            "csv=p=0", dir.filePath("v.mp4")});
    EXPECT_EQ(probe.out.trimmed(), QStringLiteral("h264,322,202,yuv420p,3.740000"));
}
