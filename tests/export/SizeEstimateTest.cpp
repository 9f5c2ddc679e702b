#include "ExportTestSupport.h"

#include "export/GifExporter.h"
#include "export/SizeEstimate.h"

#include <QFileInfo>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>

namespace {

// Glyph-like marks of varying width along a line (no fonts: the test runs
// without a GUI application).
void drawLine(QPainter &p, int x, int y, int glyphs, int seed)
{
    for (int g = 0; g < glyphs; ++g) {
        const int w = 3 + (seed * 31 + g * 17) % 5;
        if ((seed + g * 7) % 6 != 0)
            p.fillRect(x, y + (g % 3 == 0 ? 0 : 3), w, g % 3 == 0 ? 11 : 8, QColor(30 + seed * 7 % 120, 30, 60));
        x += w + 2;
    }
}

// A page of text lines and blocks taller than the frame, scrolled 4 pixels a
// frame, or held still while one line is typed a glyph a frame.
GifProjectRef screenProject(int frames, bool scrolling)
{
    QImage page(320, 1200, QImage::Format_ARGB32_Premultiplied);
    page.fill(Qt::white);
    {
        QPainter p(&page);
        for (int y = 10, i = 0; y < page.height(); y += 18, ++i) {
            drawLine(p, 8, y, 40, i);
            if (i % 9 == 4)
                p.fillRect(200, y, 100, 50, QColor(40 + i % 5 * 40, 120, 200));
        }
    }
    GifFrameList list;
    for (int i = 0; i < frames; ++i) {
        QImage frame(320, 200, QImage::Format_ARGB32_Premultiplied);
        QPainter p(&frame);
        p.drawImage(0, 0, page, 0, scrolling ? (i * 4) % 1000 : 0, 320, 200);
        if (!scrolling) {
            p.fillRect(8, 176, 304, 20, Qt::white);
            drawLine(p, 8, 180, i % 40, 3);
        }
        p.end();
        list.push_back(std::make_shared<GifFrame>(frame, 40 + i % 3 * 20));
    }
    return std::make_shared<GifProject>(std::move(list), 25);
}

} // namespace

TEST(SizeEstimate, PlansSpreadDistinctFramesAndTakeShortProjectsWhole)
{
    const SizeEstimate::Plan shortPlan = SizeEstimate::plan(30);
    EXPECT_TRUE(shortPlan.whole);
    EXPECT_EQ(shortPlan.runs.size(), 30u);
    EXPECT_TRUE(shortPlan.shortRuns.empty());

    for (const size_t frames : {31u, 100u, 3000u}) {
        const SizeEstimate::Plan p = SizeEstimate::plan(frames);
        ASSERT_FALSE(p.whole) << frames;
        ASSERT_EQ(p.shortRuns.size(), p.places);
        ASSERT_EQ(p.runs.size(), p.places * p.runLength);
        EXPECT_EQ(std::set<size_t>(p.runs.begin(), p.runs.end()).size(), p.runs.size()) << frames;
        EXPECT_LT(p.runs.back(), frames);
        // The places reach into the last sixth of the project.
        EXPECT_GE(p.shortRuns.back(), frames * 5 / 6 - p.runLength) << frames;
        for (size_t i = 0; i < p.places; ++i)
            EXPECT_EQ(p.shortRuns[i], p.runs[i * p.runLength]);
    }
    // One jump and one ordinary frame per place, extrapolated.
    SizeEstimate::Plan p = SizeEstimate::plan(100);
    EXPECT_EQ(SizeEstimate::extrapolate(p, 100, 6 * 1000, 6 * 1000 + 6 * 4 * 10), 1000 + 99 * 10);
    // Short runs of several frames: each holds its first frame and ordinary ones.
    const SizeEstimate::Plan video = SizeEstimate::plan(300, SizeEstimate::shapeFor(QStringLiteral("mp4")));
    ASSERT_GT(video.shortRun, 1u);
    ASSERT_EQ(video.shortRuns.size(), video.places * video.shortRun);
    const int64_t first = 5000, next = 100;
    const int64_t shortBytes = int64_t(video.places) * (first + int64_t(video.shortRun - 1) * next);
    const int64_t longBytes = int64_t(video.places) * (first + int64_t(video.runLength - 1) * next);
    // ... and at frame 250 x264 starts a keyframe of its own.
    EXPECT_EQ(SizeEstimate::extrapolate(video, 300, shortBytes, longBytes), first + 299 * next + (first - next));
}

TEST(SizeEstimate, SizeTextReadsAsAFileManagerWouldSayIt)
{
    EXPECT_EQ(SizeEstimate::sizeText(512), QStringLiteral("512 bytes"));
    EXPECT_EQ(SizeEstimate::sizeText(830'400), QStringLiteral("830 kB"));
    EXPECT_EQ(SizeEstimate::sizeText(999'700), QStringLiteral("1.0 MB"));
    EXPECT_EQ(SizeEstimate::sizeText(1'240'000), QStringLiteral("1.2 MB"));
    EXPECT_EQ(SizeEstimate::sizeText(23'730'000), QStringLiteral("24 MB"));
}

// The estimate against the real export, through the built-in encoder (the
// external paths are measured on the benchmark clips): within 30 % on typing
// and scrolling content, and exact for a project short enough to write whole.
TEST(SizeEstimate, EstimatesTheBuiltInGifWithinThirtyPercent)
{
    const SizeEstimate::Writer write = [](const GifProject &project, const QString &path, ExportJob &job) {
        return GifExporter::exportGif(project, path, ExportOptions(GifEncoder::imageIO, GifQuality::high, 0), &job);
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const bool scrolling : {false, true}) {
        for (const int frames : {24, 240}) {
            const GifProjectRef project = screenProject(frames, scrolling);
            ExportJob job;
            const std::optional<int64_t> estimate
                = SizeEstimate::estimate(SizeEstimate::takeSamples(*project), QStringLiteral("gif"), write, job);
            ASSERT_TRUE(estimate);
            const QString path = dir.filePath(QStringLiteral("real.gif"));
            ExportJob realJob;
            ASSERT_TRUE(write(*project, path, realJob).ok);
            const double real = double(QFileInfo(path).size());
            if (frames <= 30)
                EXPECT_EQ(double(*estimate), real) << scrolling;
            else
                EXPECT_NEAR(double(*estimate) / real, 1.0, 0.3) << scrolling << " " << *estimate << " vs " << real;
        }
    }
    // A cancelled job gives no figure.
    ExportJob cancelled;
    cancelled.cancel();
    EXPECT_FALSE(SizeEstimate::estimate(
        SizeEstimate::takeSamples(*screenProject(40, true)), QStringLiteral("gif"), write, cancelled));
}
