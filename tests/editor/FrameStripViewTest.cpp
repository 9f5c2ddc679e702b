#include "EditorTestSupport.h"

#include "editor/FrameStripView.h"

#include <QApplication>
#include <QMouseEvent>

#include <cmath>

#include <gtest/gtest.h>

namespace {

struct Call {
    char kind; // 's' select, 'r' reorder
    int64_t value;
    Qt::KeyboardModifiers modifiers;
};

struct StripFixture {
    explicit StripFixture(int frames)
    {
        strip.setFrames(makeProject(frames)->frames);
        strip.resize(int(FrameStripView::intrinsicWidth(frames)), 94);
        strip.onSelect = [this](int64_t i, Qt::KeyboardModifiers m) { calls.push_back({'s', i, m}); };
        strip.onReorder = [this](int64_t slot) { calls.push_back({'r', slot, {}}); };
    }

    void send(QEvent::Type type, QPointF at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, strip.mapToGlobal(at), button, held, modifiers);
        QApplication::sendEvent(&strip, &event);
    }

    FrameStripView strip;
    std::vector<Call> calls;
};

} // namespace

TEST(FrameStripGeometry, HitTestDropSlotsAndWidth)
{
    EXPECT_EQ(FrameStripView::intrinsicWidth(10), 916);
    EXPECT_EQ(FrameStripView::intrinsicWidth(0), 106);

    struct Hit {
        double x;
        int64_t frames;
        std::optional<int64_t> index;
    };
    const Hit hits[] = {{97, 10, 0}, {98, 10, 1}, {3, 10, 0}, {280, 3, std::nullopt}, {277, 3, 2},
        {50, 0, std::nullopt}, {-90, 10, std::nullopt}};
    for (const Hit &h : hits)
        EXPECT_EQ(FrameStripView::indexAt(h.x, h.frames), h.index) << h.x;

    struct Slot {
        double x;
        int64_t frames;
        int64_t slot;
    };
    // The slot changes 45 points right of a box's left edge.
    const Slot drops[] = {{222, 10, 2}, {142, 10, 1}, {143, 10, 2}, {900, 5, 5}, {-40, 5, 0}, {40, 0, 0}};
    for (const Slot &s : drops)
        EXPECT_EQ(FrameStripView::dropSlot(s.x, s.frames), s.slot) << s.x;
}

TEST(FrameStripView, ClicksSelectOnPressOrReleaseAsTheModifiersSay)
{
    StripFixture f(10);
    // A plain click on an unselected box asks twice: on press and on release.
    f.send(QEvent::MouseButtonPress, {200, 30});
    f.send(QEvent::MouseButtonRelease, {200, 30});
    ASSERT_EQ(f.calls.size(), 2u);
    EXPECT_EQ(f.calls[0].value, 2);
    EXPECT_EQ(f.calls[1].value, 2);

    // Shift-click: once, on release, with the shift flag.
    f.calls.clear();
    f.send(QEvent::MouseButtonPress, {8 + 90 * 4 + 10, 30}, Qt::ShiftModifier);
    EXPECT_TRUE(f.calls.empty());
    f.send(QEvent::MouseButtonRelease, {8 + 90 * 4 + 10, 30}, Qt::ShiftModifier);
    ASSERT_EQ(f.calls.size(), 1u);
    EXPECT_EQ(f.calls[0].value, 4);
    EXPECT_TRUE(f.calls[0].modifiers & Qt::ShiftModifier);

    // A box already in a multiple selection: once, on release, no modifiers.
    f.strip.setSelected({2, 3, 4});
    f.calls.clear();
    f.send(QEvent::MouseButtonPress, {8 + 90 * 3 + 10, 30});
    f.send(QEvent::MouseButtonRelease, {8 + 90 * 3 + 10, 30});
    ASSERT_EQ(f.calls.size(), 1u);
    EXPECT_EQ(f.calls[0].value, 3);
    EXPECT_EQ(f.calls[0].modifiers, Qt::NoModifier);

    // Past the last box: nothing on press or release.
    f.calls.clear();
    f.send(QEvent::MouseButtonPress, {1000, 30});
    f.send(QEvent::MouseButtonRelease, {1000, 30});
    EXPECT_TRUE(f.calls.empty());
}

TEST(FrameStripView, DragStartsAtFivePointsAndReleasesIntoAReorder)
{
    StripFixture f(10);
    f.strip.setSelected({0});
    const QPointF press(8 + 90 * 2 + 20, 30);
    f.send(QEvent::MouseButtonPress, press);
    f.calls.clear(); // the press selected box 2
    f.strip.setSelected({0}); // as if the owner had not followed the request

    f.send(QEvent::MouseMove, press + QPointF(4, 4));
    EXPECT_FALSE(f.strip.isDragging());
    EXPECT_TRUE(f.calls.empty());

    // Five points: the drag starts, selecting the pressed box alone first.
    f.send(QEvent::MouseMove, press + QPointF(5, 0));
    EXPECT_TRUE(f.strip.isDragging());
    ASSERT_EQ(f.calls.size(), 1u);
    EXPECT_EQ(f.calls[0].kind, 's');
    EXPECT_EQ(f.calls[0].value, 2);
    EXPECT_EQ(f.calls[0].modifiers, Qt::NoModifier);

    f.send(QEvent::MouseMove, {8 + 90 * 6 + 50, 30});
    EXPECT_EQ(f.strip.dropIndex(), 7);
    f.send(QEvent::MouseButtonRelease, {8 + 90 * 6 + 50, 30});
    ASSERT_EQ(f.calls.size(), 2u);
    EXPECT_EQ(f.calls[1].kind, 'r');
    EXPECT_EQ(f.calls[1].value, 7);
    EXPECT_FALSE(f.strip.isDragging());
    EXPECT_FALSE(f.strip.dropIndex());
}

TEST(FrameStripView, ThumbnailsFollowFrameObjectsNotIndices)
{
    StripFixture f(4);
    f.strip.grab();
    EXPECT_EQ(f.strip.thumbnailsMade(), 4);

    // A reorder shows the same objects: nothing is made again.
    GifFrameList frames = f.strip.frames();
    std::reverse(frames.begin(), frames.end());
    f.strip.setFrames(frames);
    f.strip.grab();
    EXPECT_EQ(f.strip.thumbnailsMade(), 4);

    // Copies (what undo brings back) get thumbnails of their own; the old go.
    GifFrameList copies;
    for (const GifFrameRef &frame : frames)
        copies.push_back(std::make_shared<GifFrame>(*frame));
    f.strip.setFrames(copies);
    EXPECT_EQ(f.strip.cachedThumbnailCount(), 0u);
    f.strip.grab();
    EXPECT_EQ(f.strip.thumbnailsMade(), 8);
    EXPECT_EQ(f.strip.cachedThumbnailCount(), 4u);
}

TEST(FrameStripView, ThumbnailShowsAnImageReplacedInPlace)
{
    // Crop and resize swap each frame's image but keep the frame object.
    StripFixture f(1);
    const GifFrameRef frame = f.strip.frames().front();
    QImage blue(80, 60, QImage::Format_ARGB32_Premultiplied);
    blue.fill(Qt::blue);
    frame->setPixels(StoredFrame::fromImage(blue));
    f.strip.grab();

    QImage cropped(40, 30, QImage::Format_ARGB32_Premultiplied);
    cropped.fill(Qt::green);
    frame->setPixels(StoredFrame::fromImage(cropped));
    const QImage shown = f.strip.grab().toImage();
    const QPoint boxCentre(
        FrameStripView::pad + FrameStripView::boxW / 2, FrameStripView::pad + FrameStripView::boxH / 2);
    EXPECT_EQ(QColor(shown.pixel(boxCentre)), QColor(Qt::green));
    EXPECT_EQ(f.strip.thumbnailsMade(), 2);
    EXPECT_EQ(f.strip.cachedThumbnailCount(), 1u);
}

TEST(FrameStripView, ThumbnailsAreSmallCopies_NotTheFramesPictures)
{
    // A long recording must not be held twice: frames read from a frame store
    // are decoded for their thumbnail, and the strip keeps only what it shows.
    FrameStripView strip;
    GifFrameList frames;
    for (int i = 0; i < 3; ++i) {
        QImage image(1920, 1080, QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor(40 * i, 90, 200));
        frames.push_back(std::make_shared<GifFrame>(image, 60));
    }
    strip.setFrames(frames);
    strip.resize(int(FrameStripView::intrinsicWidth(3)), 94);
    const QImage shown = strip.grab().toImage();
    ASSERT_EQ(strip.cachedThumbnailCount(), 3u);
    const double ratio = strip.devicePixelRatioF();
    const double box = std::ceil(FrameStripView::boxW * ratio) * std::ceil(FrameStripView::boxH * ratio) * 4;
    EXPECT_LE(strip.cachedThumbnailBytes(), int64_t(3 * box));
    const QPoint secondBox(FrameStripView::pad + FrameStripView::pitch + FrameStripView::boxW / 2,
        FrameStripView::pad + FrameStripView::boxH / 2);
    EXPECT_EQ(QColor(shown.pixel(secondBox)), QColor(40, 90, 200));
}
