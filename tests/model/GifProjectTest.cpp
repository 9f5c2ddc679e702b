#include "model/GifProject.h"
#include "model/ImageOps.h"
#include "model/SelfTestProject.h"
#include "store/FrameStore.h"
#include "store/StoreTestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
QImage image(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::red);
    return img;
}
} // namespace

TEST(GifProject, EmptyProjectHasNoSizeNoDurationAndAnEmptySnapshot)
{
    const GifProject project({}, 15);
    EXPECT_EQ(project.canvasSize(), (Size {0, 0}));
    EXPECT_EQ(project.totalDurationMs(), 0);
    EXPECT_TRUE(project.snapshot().empty());
    EXPECT_EQ(project.loopCount, 0); // plays forever unless told otherwise
}

TEST(GifProject, SizeComesFromTheFirstFrameAndDurationSumsDelays)
{
    const GifProject project(
        {std::make_shared<GifFrame>(image(320, 200), 60), std::make_shared<GifFrame>(image(100, 100), 60),
            std::make_shared<GifFrame>(image(100, 100), 100)},
        15, 3);
    EXPECT_EQ(project.canvasSize(), (Size {320, 200}));
    EXPECT_EQ(project.totalDurationMs(), 220);
    EXPECT_EQ(project.loopCount, 3);
}

TEST(GifProject, SnapshotCopiesFramesButSharesImages)
{
    GifProject project(
        {std::make_shared<GifFrame>(image(10, 10), 60), std::make_shared<GifFrame>(image(10, 10), 60)}, 15);
    const GifFrameList snap = project.snapshot();
    ASSERT_EQ(snap.size(), 2u);
    for (size_t i = 0; i < snap.size(); ++i) {
        EXPECT_NE(snap[i], project.frames[i]);
        EXPECT_EQ(snap[i]->pixels(), project.frames[i]->pixels());
        EXPECT_EQ(snap[i]->image().constBits(), project.frames[i]->image().constBits());
    }
    project.frames[0]->delayMs = 120;
    EXPECT_EQ(snap[0]->delayMs, 60);
}

TEST(GifProject, RestoreAdoptsTheListWithoutCopying)
{
    GifProject project({std::make_shared<GifFrame>(image(10, 10), 60)}, 15);
    const GifFrameList snap = project.snapshot();
    project.restore(snap);
    ASSERT_EQ(project.frames.size(), 1u);
    EXPECT_EQ(project.frames[0], snap[0]);
    project.frames[0]->delayMs = 90;
    EXPECT_EQ(snap[0]->delayMs, 90);
}

TEST(GifProject, TransformedPixels_OfStoredFramesGoThroughTheirStore_AndLeaveTheFramesAsTheyWere)
{
    QTemporaryDir dir;
    FrameStore::Options options;
    options.root = dir.path();
    const std::shared_ptr<FrameStore> store = FrameStore::create(RecordingInfo {}, options).store;
    ASSERT_TRUE(store);
    std::vector<QImage> pictures;
    GifFrameList frames;
    for (int i = 0; i < 5; ++i) {
        pictures.push_back(StoreTest::screen({64, 48}, 2 * i, i));
        // One frame in the middle held in memory, as a test or a self-test
        // project makes them.
        frames.push_back(i == 2 ? std::make_shared<GifFrame>(pictures.back(), 60)
                                : std::make_shared<GifFrame>(store->append(pictures.back()), 60));
    }
    const GifProject project(frames, 15);
    const QRectF rect(8, 4, 30, 20);
    const std::optional<FrameRefList> cropped
        = project.transformedPixels([&](const QImage &image) { return ImageOps::crop(image, rect); });
    ASSERT_TRUE(cropped);
    ASSERT_EQ(cropped->size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ((*cropped)[i]->image(), ImageOps::crop(pictures[i], rect));
        EXPECT_EQ((*cropped)[i]->store(), i == 2 ? nullptr : store);
        EXPECT_EQ(project.frames[i]->image(), pictures[i]);
    }
    EXPECT_FALSE(store->waitForWrites());
    EXPECT_EQ(store->stats().framesWritten, 8); // four appended, four cropped
}

TEST(SelfTestProject, HasThirtyFramesOfTheBallAndBar)
{
    const GifProjectRef project = makeSelfTestProject();
    ASSERT_EQ(project->frames.size(), 30u);
    EXPECT_EQ(project->canvasSize(), (Size {320, 200}));
    EXPECT_EQ(project->totalDurationMs(), 1800);
    EXPECT_EQ(project->fps, 15);
    EXPECT_EQ(project->loopCount, 0);
    // Frame 0: the bar sits on the bottom rows (y-up drawing), the ball's
    // centre at (50, 100) from the bottom-left, background elsewhere.
    const QImage first = project->frames[0]->image();
    EXPECT_GT(qGray(first.pixel(160, 198)), 200);
    EXPECT_EQ(QColor(first.pixel(50, 99)).name(), QColor::fromRgbF(0.78f, 1.0f, 0.0f).name());
    EXPECT_LT(qGray(first.pixel(300, 20)), 40);
    EXPECT_NE(project->frames[0]->image(), project->frames[15]->image());
}

TEST(GifProject, RecordingIndexRoundTrips_AndAnIndexWithoutFpsTakesTheGivenOne)
{
    GifProject project(
        {std::make_shared<GifFrame>(image(10, 10), 60), std::make_shared<GifFrame>(image(10, 10), 90)}, 24, 3);
    RecordingIndex index = project.recordingIndex();
    const GifProjectRef back = GifProject::fromRecordingIndex(index, 30);
    ASSERT_EQ(back->frames.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(back->frames[i]->pixels(), project.frames[i]->pixels());
        EXPECT_EQ(back->frames[i]->delayMs, project.frames[i]->delayMs);
    }
    EXPECT_EQ(back->fps, 24);
    EXPECT_EQ(back->loopCount, 3);
    index.fps = 0;
    EXPECT_EQ(GifProject::fromRecordingIndex(index, 30)->fps, 30);
}
