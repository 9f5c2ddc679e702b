#include "ExportTestSupport.h"

#include "export/ExportTiming.h"
#include "export/FrameStaging.h"

#include <QDirIterator>

#include <gtest/gtest.h>

using GifExporter::concatList;
using GifExporter::frameFileName;
using GifExporter::makeFrameDir;

namespace {

GifProject projectWithDelays(const std::vector<int64_t> &delays)
{
    GifFrameList frames;
    for (int64_t delay : delays) {
        QImage image(8, 6, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::blue);
        frames.push_back(std::make_shared<GifFrame>(image, delay));
    }
    return GifProject(std::move(frames), 15);
}

QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

TEST(FrameStaging, DurationsAreShortestDecimalsWithAFloorOfTwoHundredths)
{
    const std::pair<int64_t, const char *> cases[] = {
        {60, "0.06"},
        {66, "0.066"},
        {33, "0.033"},
        {100, "0.1"},
        {1000, "1.0"},
        {1500, "1.5"},
        {10, "0.02"},
        {0, "0.02"},
        {-5, "0.02"},
    };
    for (const auto &[delay, text] : cases) {
        SCOPED_TRACE(delay);
        EXPECT_EQ(ExportTiming::secondsText(ExportTiming::frameSeconds(delay)), QLatin1String(text));
    }
}

TEST(FrameStaging, ListNamesEveryFrameOnceWithItsDurationAtAHundredthTimeBase)
{
    EXPECT_EQ(concatList(projectWithDelays({60, 100})),
        QStringLiteral("ffconcat version 1.0\n"
                       "file 'frame00000.png'\n"
                       "option framerate 100\n"
                       "duration 0.06\n"
                       "file 'frame00001.png'\n"
                       "option framerate 100\n"
                       "duration 0.1\n"));
    EXPECT_EQ(concatList(projectWithDelays({})), QStringLiteral("ffconcat version 1.0\n"));
}

TEST(FrameStaging, VideoListKeepsEachDelayToTheMillisecondAndEndsOnTheTotal)
{
    // 10 ms is a video frame's floor, not GIF's 20 ms; the last frame is
    // split into all but its last millisecond and a repeat for that.
    EXPECT_EQ(GifExporter::videoConcatList(projectWithDelays({66, 5, 1500})),
        QStringLiteral("ffconcat version 1.0\n"
                       "file 'frame00000.png'\noption framerate 1000\nduration 0.066\n"
                       "file 'frame00001.png'\noption framerate 1000\nduration 0.01\n"
                       "file 'frame00002.png'\noption framerate 1000\nduration 1.499\n"
                       "file 'frame00002.png'\noption framerate 1000\n"));
    EXPECT_EQ(GifExporter::videoConcatList(projectWithDelays({})), QStringLiteral("ffconcat version 1.0\n"));
}

TEST(FrameStaging, PngsHoldTheFramesExactPixelsOpaqueOrNot)
{
    QTemporaryDir temp;
    const EnvOverride tmp("TMPDIR", temp.path().toLocal8Bit());
    // Odd sizes, one pixel, every channel value, and a frame with alpha.
    QImage noisy(33, 7, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < noisy.height(); ++y)
        for (int x = 0; x < noisy.width(); ++x)
            noisy.setPixel(x, y, qRgb((x * 37 + y) % 256, (x * 11 + y * 101) % 256, (x * y * 7) % 256));
    QImage dot(1, 1, QImage::Format_RGB32);
    dot.fill(QColor(1, 2, 3));
    QImage clear(5, 4, QImage::Format_ARGB32_Premultiplied);
    clear.fill(Qt::transparent);
    clear.setPixel(1, 1, qRgba(0, 100, 0, 255));
    clear.setPixel(2, 2, qPremultiply(qRgba(200, 0, 0, 128)));
    const std::vector<QImage> images {noisy, dot, clear};
    GifFrameList frames;
    for (const QImage &image : images)
        frames.push_back(std::make_shared<GifFrame>(image, 60));
    const std::optional<GifExporter::FrameDir> staged = makeFrameDir(GifProject(std::move(frames), 15));
    ASSERT_TRUE(staged);
    for (size_t i = 0; i < images.size(); ++i) {
        SCOPED_TRACE(i);
        const QImage read = QImage(staged->pngs()[qsizetype(i)]).convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(read, images[i].convertToFormat(QImage::Format_ARGB32));
    }
    EXPECT_FALSE(QImage(staged->pngs()[0]).hasAlphaChannel());
    EXPECT_TRUE(QImage(staged->pngs()[2]).hasAlphaChannel());
}

TEST(FrameStaging, FileNamesArePaddedToFiveDigitsAndThenGrow)
{
    EXPECT_EQ(frameFileName(0), QStringLiteral("frame00000.png"));
    EXPECT_EQ(frameFileName(42), QStringLiteral("frame00042.png"));
    EXPECT_EQ(frameFileName(99999), QStringLiteral("frame99999.png"));
    EXPECT_EQ(frameFileName(100000), QStringLiteral("frame100000.png"));
}

TEST(FrameStaging, WritesOnePngPerFrameAndTheListThenRemovesTheFolder)
{
    QTemporaryDir temp;
    const EnvOverride tmp("TMPDIR", temp.path().toLocal8Bit());
    const GifProject project = projectWithDelays({60, 10, 1500});
    QString folder;
    {
        std::optional<GifExporter::FrameDir> staged = makeFrameDir(project);
        ASSERT_TRUE(staged);
        folder = staged->dir();
        EXPECT_TRUE(QFileInfo(folder).fileName().startsWith(QStringLiteral("quillo-")));
        EXPECT_EQ(QFileInfo(folder).absolutePath(), QDir(temp.path()).absolutePath());
        EXPECT_EQ(entriesOf(folder),
            (QStringList {".lock", "frame00000.png", "frame00001.png", "frame00002.png", "list.txt"}));
        ASSERT_EQ(staged->pngs().size(), 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(staged->pngs()[i], folder + '/' + frameFileName(i));
            const QImage png(staged->pngs()[i]);
            EXPECT_EQ(png.size(), QSize(8, 6));
            EXPECT_EQ(png.pixelColor(3, 3), QColor(Qt::blue));
        }
        QFile list(staged->filePath(QStringLiteral("list.txt")));
        ASSERT_TRUE(list.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(list.readAll()), concatList(project));
    }
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(entriesOf(temp.path()).isEmpty());
}

TEST(FrameStaging, EmptyProjectGetsAListWithOnlyTheHeader)
{
    QTemporaryDir temp;
    const EnvOverride tmp("TMPDIR", temp.path().toLocal8Bit());
    const std::optional<GifExporter::FrameDir> staged = makeFrameDir(projectWithDelays({}));
    ASSERT_TRUE(staged);
    EXPECT_TRUE(staged->pngs().isEmpty());
    EXPECT_EQ(entriesOf(staged->dir()), (QStringList {".lock", "list.txt"}));
}

TEST(FrameStaging, TwoStagingsUseTwoFolders)
{
    QTemporaryDir temp;
    const EnvOverride tmp("TMPDIR", temp.path().toLocal8Bit());
    const GifProject project = projectWithDelays({60});
    const std::optional<GifExporter::FrameDir> a = makeFrameDir(project);
    const std::optional<GifExporter::FrameDir> b = makeFrameDir(project);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->dir(), b->dir());
}

TEST(FrameStaging, AFailureLeavesNothingBehind)
{
    QTemporaryDir temp;
    const EnvOverride tmp("TMPDIR", temp.path().toLocal8Bit());
    GifProject project = projectWithDelays({60, 60, 60});
    // A null image cannot be written as PNG: the third frame fails.
    project.frames[2]->setPixels(StoredFrame::fromImage(QImage()));
    EXPECT_FALSE(makeFrameDir(project));
    EXPECT_TRUE(entriesOf(temp.path()).isEmpty());
}

TEST(FrameStaging, AnUnusableTemporaryFolderGivesNoStaging)
{
    QTemporaryDir temp;
    // A regular file where the temporary folder should be: no folder can be
    // made inside it, whoever runs the test.
    const QString notAFolder = temp.filePath("file");
    QFile file(notAFolder);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const EnvOverride tmp("TMPDIR", notAFolder.toLocal8Bit());
    EXPECT_FALSE(makeFrameDir(projectWithDelays({60})));
    EXPECT_EQ(entriesOf(temp.path()), QStringList {"file"});
}
