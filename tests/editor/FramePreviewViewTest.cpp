#include "editor/FramePreviewView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace {

QImage imageOf(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::gray);
    return image;
}

// Widget coordinates are y-down; the view's own rectangles are y-up.
void mouse(QWidget &w, QEvent::Type type, QPointF at)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, w.mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
}

void wheel(QWidget &w, QPoint pixelDelta, QPoint angleDelta)
{
    QWheelEvent event(QPointF(10, 10), QPointF(10, 10), pixelDelta, angleDelta, Qt::NoButton, Qt::NoModifier,
        Qt::NoScrollPhase, false);
    QApplication::sendEvent(&w, &event);
}

} // namespace

TEST(FramePreviewGeometry, FitScaleDrawRectAndFreeScaleLimits)
{
    EXPECT_DOUBLE_EQ(FramePreviewView::fitScale({100, 50}, {232, 132}), 2.0);
    // Fit enlarges as well as shrinks, and never drops below 0.01.
    EXPECT_DOUBLE_EQ(FramePreviewView::fitScale({100, 50}, {30, 400}), 0.01);
    EXPECT_DOUBLE_EQ(FramePreviewView::fitScale({0, 50}, {232, 132}), 1.0);

    // Centred; a picture larger than the view starts left of and below it.
    EXPECT_EQ(FramePreviewView::drawRect({100, 50}, {232, 132}, 2.0), (Rect {16, 16, 200, 100}));
    EXPECT_EQ(FramePreviewView::drawRect({400, 300}, {200, 100}, 1.0), (Rect {-100, -100, 400, 300}));

    EXPECT_DOUBLE_EQ(FramePreviewView::pinchedScale(6, 0.5), 8.0);
    EXPECT_DOUBLE_EQ(FramePreviewView::pinchedScale(0.2, -0.9), 0.1);
    EXPECT_DOUBLE_EQ(FramePreviewView::scrolledScale(1.0, 3), 1.012);
    EXPECT_DOUBLE_EQ(FramePreviewView::scrolledScale(0.11, -100), 0.1);

    EXPECT_EQ(FramePreviewView::sizeLabel({0, 0, 60, 40}, 400, 200), QStringLiteral("120 × 80"));
    // The horizontal ratio serves both sides, even when the picture is stretched.
    EXPECT_EQ(FramePreviewView::sizeLabel({0, 0, 10, 10}, 100, 50), QStringLiteral("20 × 20"));
}

TEST(FramePreviewView, ZoomModesDropTheFreeScaleAndReportTheEffectiveOne)
{
    FramePreviewView view;
    view.resize(232, 132);
    view.setImage(imageOf(100, 50));
    std::vector<double> reported;
    view.onZoomChanged = [&reported](double s) { reported.push_back(s); };

    EXPECT_DOUBLE_EQ(view.effectiveScale(), 2.0);
    // One notch of a plain wheel: 3 x 0.4 % up.
    wheel(view, {}, {0, 120});
    EXPECT_DOUBLE_EQ(view.effectiveScale(), 2.0 * 1.012);
    // A device with pixel deltas uses them as they come.
    wheel(view, {0, -50}, {0, -120});
    EXPECT_DOUBLE_EQ(view.effectiveScale(), 2.0 * 1.012 * 0.8);

    view.setZoom(ZoomMode::p200);
    EXPECT_FALSE(view.customScale());
    EXPECT_EQ(view.effectiveScale(), 2.0);
    ASSERT_EQ(reported.size(), 3u);
    EXPECT_EQ(reported.back(), 2.0);

    view.setCropMode(true);
    wheel(view, {}, {0, 120});
    EXPECT_EQ(view.effectiveScale(), 2.0);
    EXPECT_EQ(reported.size(), 3u);
}

TEST(FramePreviewView, CropDragIsClampedToThePictureAndTinyDragsLeaveNoSelection)
{
    FramePreviewView view;
    view.resize(232, 132);
    view.setImage(imageOf(100, 50)); // drawn at (16, 16, 200, 100), y up
    int changes = 0;
    view.onCropChanged = [&changes] { ++changes; };

    // Outside crop mode a drag selects nothing.
    mouse(view, QEvent::MouseButtonPress, {50, 50});
    mouse(view, QEvent::MouseMove, {100, 80});
    mouse(view, QEvent::MouseButtonRelease, {100, 80});
    EXPECT_FALSE(view.cropRect());

    view.setCropMode(true);
    changes = 0;
    // From beyond the top-left corner to the middle: starts at the picture's corner.
    mouse(view, QEvent::MouseButtonPress, {0, 0});
    mouse(view, QEvent::MouseMove, {116, 66});
    mouse(view, QEvent::MouseButtonRelease, {116, 66});
    ASSERT_TRUE(view.cropRect());
    EXPECT_EQ(*view.cropRect(), (Rect {16, 66, 100, 50}));
    EXPECT_EQ(view.cropRectInPixels(), QRect(0, 0, 50, 25));
    EXPECT_EQ(changes, 1);

    // Past the bottom-right: the selection never leaves the picture.
    mouse(view, QEvent::MouseButtonPress, {116, 66});
    mouse(view, QEvent::MouseMove, {400, 400});
    mouse(view, QEvent::MouseButtonRelease, {400, 400});
    EXPECT_EQ(view.cropRectInPixels(), QRect(50, 25, 50, 25));

    // Three points wide: gone on release, and the owner still hears of it.
    mouse(view, QEvent::MouseButtonPress, {50, 50});
    mouse(view, QEvent::MouseMove, {53, 90});
    mouse(view, QEvent::MouseButtonRelease, {53, 90});
    EXPECT_FALSE(view.cropRect());
    EXPECT_FALSE(view.cropRectInPixels());
    EXPECT_EQ(changes, 3);

    // Leaving and entering crop mode clears a selection.
    mouse(view, QEvent::MouseButtonPress, {50, 50});
    mouse(view, QEvent::MouseMove, {90, 90});
    mouse(view, QEvent::MouseButtonRelease, {90, 90});
    ASSERT_TRUE(view.cropRect());
    view.setCropMode(true);
    EXPECT_FALSE(view.cropRect());
}
