#include "frameui/CursorFactory.h"
#include "frameui/FloatWindow.h"
#include "frameui/GrabberView.h"
#include "frameui/OverlayView.h"
#include "frameui/Palette.h"
#include "frameui/TopBarView.h"

#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

TEST(TopBarView, Shape_IsAPillWithRoundEnds_AtAnyHeight)
{
    for (const QSize size : {QSize(54, 22), QSize(120, 40), QSize(300, 10)}) {
        TopBarView view;
        view.resize(size);
        const QRegion shape = view.shape();
        const int h = size.height();
        EXPECT_FALSE(shape.contains(QPoint(0, 0))) << h;
        EXPECT_FALSE(shape.contains(QPoint(size.width() - 1, h - 1))) << h;
        EXPECT_TRUE(shape.contains(QPoint(1, h / 2))) << h;
        EXPECT_TRUE(shape.contains(QPoint(size.width() - 2, h / 2))) << h;
        EXPECT_TRUE(shape.contains(QPoint(h / 2, 0))) << h;
        // Round all the way: a quarter of the height in from the end, the top
        // row is still outside.
        EXPECT_FALSE(shape.contains(QPoint(h / 4, 0))) << h;
    }
}

TEST(OverlayView, Shape_IsAFrameAroundTheRegion_NeverASheetOverIt)
{
    OverlayView view;
    view.resize(650, 430); // a 640 x 420 region
    const QRegion shape = view.shape();
    EXPECT_TRUE(shape.contains(QPoint(5, 200))); // the region's left edge
    EXPECT_TRUE(shape.contains(QPoint(2, 200))); // the dark line outside it
    EXPECT_TRUE(shape.contains(QPoint(6, 200))); // the coloured line inside it
    EXPECT_FALSE(shape.contains(QPoint(7, 200)));
    EXPECT_FALSE(shape.contains(QPoint(325, 215)));
    EXPECT_FALSE(shape.contains(QPoint(0, 200)));
}

TEST(OverlayView, OutsideBorder_PaintsNoPixelInsideTheRegion_AndTheCountdownOnlyBeforeRecording)
{
    OverlayView view;
    view.setOutside(true);
    view.setRecording(true);
    view.resize(656, 436); // a 640 x 420 region, 8 points in
    const QRect region(8, 8, 640, 420);
    const auto inside = [&](const QRegion &shape) { return shape.intersects(region); };
    EXPECT_FALSE(inside(view.shape()));
    EXPECT_TRUE(view.shape().contains(QPoint(6, 200))); // the coloured line, 2 points out
    EXPECT_TRUE(view.shape().contains(QPoint(1, 200))); // the dark line's outer edge
    EXPECT_FALSE(view.shape().contains(QPoint(7, 200))); // the one-point gap

    QImage painted(view.size(), QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    view.render(&painted, QPoint(), QRegion(), QWidget::RenderFlags());
    int touched = 0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x)
            touched += qAlpha(painted.pixel(x, y)) != 0;
    }
    EXPECT_EQ(touched, 0);
    EXPECT_EQ(painted.pixel(5, 200), Palette::recRed().rgba());

    // The countdown's disc lies in the region; the shell clears it before the
    // capture starts.
    view.setCountdown(3);
    EXPECT_TRUE(view.shape().contains(region.center()));
    view.setCountdown(0);
    EXPECT_FALSE(inside(view.shape()));
}

TEST(GrabberView, Shape_CoversTheBorderThroughIt_AndTheHandleOnlyWhenDrawn)
{
    GrabberView edge(Anchor::top);
    edge.resize(618, 18);
    edge.setDrawsHandle(false);
    EXPECT_TRUE(edge.shape().contains(QPoint(300, 9))); // on the region's top edge
    EXPECT_TRUE(edge.shape().contains(QPoint(0, 9)));
    EXPECT_FALSE(edge.shape().contains(QPoint(300, 0)));
    EXPECT_FALSE(edge.shape().contains(QPoint(300, 17)));

    GrabberView corner(Anchor::bottomRight);
    corner.resize(18, 18);
    EXPECT_TRUE(corner.shape().contains(QPoint(13, 13))); // the handle's far corner
    EXPECT_TRUE(corner.shape().contains(QPoint(9, 0))); // the right edge coming down
    EXPECT_FALSE(corner.shape().contains(QPoint(9, 17))); // the edge stops at the corner
    corner.setRecording(true);
    EXPECT_FALSE(corner.shape().contains(QPoint(13, 13)));
    EXPECT_TRUE(corner.shape().contains(QPoint(9, 0)));
}

TEST(CursorFactory, DiagonalCursors_HotSpotInTheCentre_ShaftAlongTheirDiagonal)
{
    struct Case {
        const QCursor &cursor;
        QPoint onShaft;
        QPoint offShaft;
    } cases[] = {
        {CursorFactory::nwse(), QPoint(5, 5), QPoint(15, 5)}, // top-left to bottom-right
        {CursorFactory::nwse(), QPoint(9, 9), QPoint(15, 5)},
        {CursorFactory::nesw(), QPoint(15, 5), QPoint(5, 5)},
        {CursorFactory::nesw(), QPoint(10, 9), QPoint(5, 5)},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.cursor.hotSpot(), QPoint(10, 10));
        const QImage image = c.cursor.pixmap().toImage();
        ASSERT_EQ(image.size(), QSize(20, 20));
        // A black arrow in a white outline.
        EXPECT_EQ(qAlpha(image.pixel(c.onShaft)), 255);
        EXPECT_LT(qGray(image.pixel(c.onShaft)), 60);
        EXPECT_EQ(qAlpha(image.pixel(c.offShaft)), 0);
    }
    EXPECT_EQ(CursorFactory::cursor(Anchor::topLeft).pixmap().cacheKey(), CursorFactory::nwse().pixmap().cacheKey());
    EXPECT_EQ(CursorFactory::cursor(Anchor::bottomLeft).pixmap().cacheKey(), CursorFactory::nesw().pixmap().cacheKey());
    EXPECT_EQ(CursorFactory::cursor(Anchor::top).shape(), Qt::SizeVerCursor);
    EXPECT_EQ(CursorFactory::cursor(Anchor::right).shape(), Qt::SizeHorCursor);
}

TEST(FloatWindow, WindowRect_HoldsEveryEdgeWithinAMillion)
{
    EXPECT_EQ(FloatWindow::windowRect(QRectF(10.4, 20.6, 100, 50)), QRect(10, 21, 100, 50));
    EXPECT_EQ(FloatWindow::windowRect(QRectF(-5, 0, 9e15, 1e300)), QRect(QPoint(-5, 0), QSize(1'000'005, 1'000'000)));
    const QRect desktop(0, 0, 1280, 800);
    EXPECT_EQ(FloatWindow::visiblePart(QRect(-100, 700, 400, 300), desktop), QRect(0, 700, 300, 100));
    EXPECT_TRUE(FloatWindow::visiblePart(QRect(2000, 0, 10, 10), desktop).isEmpty());
    EXPECT_EQ(FloatWindow::visiblePart(QRect(2000, 0, 10, 10), QRect()), QRect(2000, 0, 10, 10));
}
