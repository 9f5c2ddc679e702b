#include "frameui/FrameController.h"
#include "capture/RegionModel.h"
#include "capture/ScreenUtil.h"
#include "frameui/ControlBar.h"
#include "frameui/FloatWindow.h"
#include "frameui/GrabberView.h"
#include "frameui/OverlayView.h"
#include "frameui/TopBarView.h"
#include "support/TestUtil.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <gtest/gtest.h>

#include <set>

namespace {

void settle(int ms)
{
    waitUntil([] { return false; }, ms);
}

Rect centredRegion()
{
    const Rect screen = ScreenUtil::screen({0, 0, 1, 1}).frame;
    return {screen.midX() - 150, screen.midY() - 100, 300, 200};
}

} // namespace

TEST(FrameController, AllWindowNumbers_OverlayTopBarControlBarThenGrabbersInTheirOrder)
{
    auto frame = FrameController::create(centredRegion());
    const std::vector<int64_t> numbers = frame->allWindowNumbers();
    ASSERT_EQ(numbers.size(), 11u);
    EXPECT_EQ(numbers[0], frame->overlay()->windowNumber());
    EXPECT_EQ(numbers[1], frame->topBar()->windowNumber());
    EXPECT_EQ(numbers[2], frame->controlBar()->windowNumber());
    const Anchor order[] = {Anchor::top, Anchor::bottom, Anchor::left, Anchor::right, Anchor::topLeft, Anchor::topRight,
        Anchor::bottomLeft, Anchor::bottomRight};
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(frame->grabbers()[i].anchor, order[i]);
        EXPECT_EQ(numbers[3 + i], frame->grabbers()[i].window->windowNumber());
    }
    EXPECT_EQ(std::set<int64_t>(numbers.begin(), numbers.end()).size(), 11u);
}

TEST(FrameController, Construction_LaysOutEveryWindow_ButShowsNothing)
{
    const Rect r = centredRegion();
    auto frame = FrameController::create(r);
    EXPECT_EQ(frame->overlay()->frame(), FrameLayout::overlayFrame(r));
    EXPECT_EQ(frame->topBarView()->label(), QStringLiteral("300 × 200"));
    EXPECT_EQ(frame->topBar()->frame().y, r.maxY() + 7);
    for (const FrameController::Grabber &g : frame->grabbers()) {
        EXPECT_EQ(g.window->frame(), FrameLayout::grabberFrame(g.anchor, r));
        EXPECT_EQ(g.view->drawsHandle(), isCorner(g.anchor));
    }
    EXPECT_EQ(frame->controlBar()->window()->frame().y, r.minY() + 8);
    EXPECT_EQ(frame->controlBar()->wField()->text(), QStringLiteral("300"));
    EXPECT_FALSE(frame->overlay()->isVisible());
    EXPECT_FALSE(frame->controlBar()->window()->isVisible());
}

TEST(FrameController, Gestures_ApplyTheTotalDisplacementToTheRectangleAtThePress)
{
    const Rect r = centredRegion();
    auto frame = FrameController::create(r);
    TopBarView *bar = frame->topBarView();

    bar->onMoveStart();
    bar->onMove(30, -20);
    EXPECT_EQ(frame->region()->rect(), (Rect {r.x + 30, r.y - 20, r.width, r.height}));
    bar->onMove(12.4, 7.6);
    bar->onMove(-3, 2.5);
    bar->onMove(0, 0); // back where the drag began
    EXPECT_EQ(frame->region()->rect(), r);

    GrabberView *bottomRight = frame->grabbers().back().view;
    ASSERT_EQ(bottomRight->anchor(), Anchor::bottomRight);
    bottomRight->onDragStart();
    bottomRight->onDrag(Anchor::bottomRight, 100, -50);
    EXPECT_EQ(frame->region()->rect(), (Rect {r.x, r.y - 50, 400, 250}));
    // Past the opposite corner: held at the minimum, never inverted.
    bottomRight->onDrag(Anchor::bottomRight, -1000, 1000);
    EXPECT_EQ(frame->region()->rect(), (Rect {r.x, r.maxY() - 24, 24, 24}));
    EXPECT_EQ(frame->topBarView()->label(), QStringLiteral("24 × 24"));
    EXPECT_EQ(frame->grabbers()[0].window->frame().width, 2); // the top edge grabber
}

TEST(FrameController, RecordingLook_KeepsTheCountLabel_ThenRestoresTheSizeOfTheCurrentRegion)
{
    auto frame = FrameController::create(centredRegion());
    frame->setRecordingVisual(true);
    EXPECT_TRUE(frame->overlayView()->recording());
    EXPECT_TRUE(frame->topBarView()->recording());
    for (const FrameController::Grabber &g : frame->grabbers())
        EXPECT_EQ(g.window->windowOpacity(), 0.0);
    const double width = frame->topBar()->frame().width;

    frame->showRecordingCount(7);
    frame->showRecordingCount(1234567);
    EXPECT_EQ(frame->topBarView()->label(), QStringLiteral("● REC   1234567"));
    EXPECT_EQ(frame->topBar()->frame().width, width);

    // The region still moves while recording; the label does not follow.
    frame->region()->set({10, 10, 500, 400});
    EXPECT_EQ(frame->topBarView()->label(), QStringLiteral("● REC   1234567"));

    frame->setRecordingVisual(false);
    EXPECT_FALSE(frame->overlayView()->recording());
    EXPECT_FALSE(frame->topBarView()->recording());
    EXPECT_EQ(frame->topBarView()->label(), QStringLiteral("500 × 400"));
    for (const FrameController::Grabber &g : frame->grabbers())
        EXPECT_EQ(g.window->windowOpacity(), 1.0);
}

TEST(FrameController, ControlBarButtons_ReachTheControllersCallbacks_WhileItLives)
{
    auto frame = FrameController::create(centredRegion());
    std::vector<QString> calls;
    frame->controlBar()->recButton()->click(); // nothing set: skipped
    frame->onRecord = [&] { calls.push_back("rec"); };
    frame->onStop = [&] { calls.push_back("stop"); };
    frame->onClose = [&] { calls.push_back("close"); };
    frame->controlBar()->recButton()->click();
    frame->controlBar()->setRecording(true);
    frame->controlBar()->stopButton()->click();
    frame->controlBar()->closeButton()->click();
    EXPECT_EQ(calls, (std::vector<QString> {"rec", "stop", "close"}));

    // The region may outlive the controller; its listener must then do nothing.
    std::shared_ptr<RegionModel> region = frame->region();
    frame.reset();
    region->set({0, 0, 100, 100});
    EXPECT_EQ(region->rect(), (Rect {0, 0, 100, 100}));
}

TEST(FrameController, ShowThenCloseAll_OrdersEveryWindowInAndOut)
{
    auto frame = FrameController::create(centredRegion());
    frame->show();
    EXPECT_TRUE(frame->overlay()->isVisible());
    EXPECT_TRUE(frame->topBar()->isVisible());
    EXPECT_TRUE(frame->controlBar()->window()->isVisible());
    for (const FrameController::Grabber &g : frame->grabbers())
        EXPECT_TRUE(g.window->isVisible());
    frame->closeAll();
    frame->region()->set({20, 20, 300, 300}); // a late change must not bring them back
    EXPECT_FALSE(frame->overlay()->isVisible());
    EXPECT_FALSE(frame->topBar()->isVisible());
    EXPECT_FALSE(frame->controlBar()->window()->isVisible());
    for (const FrameController::Grabber &g : frame->grabbers())
        EXPECT_FALSE(g.window->isVisible());
}

TEST(FrameController, AbsurdlyLargeRegion_IsHeldToTheScreen_AndSoAreItsWindows)
{
    auto frame = FrameController::create(centredRegion());
    frame->show();
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    frame->controlBar()->wField()->setText(QStringLiteral("9000000000000000"));
    frame->controlBar()->commit(frame->controlBar()->wField());
    EXPECT_EQ(frame->region()->rect().width, desktop.width());
    EXPECT_EQ(frame->controlBar()->wField()->text(), QString::number(desktop.width()));
    EXPECT_TRUE(desktop.contains(frame->overlay()->geometry()));
    EXPECT_TRUE(desktop.contains(frame->grabbers()[0].window->geometry()));
    EXPECT_TRUE(frame->overlay()->isVisible()); // its left edge is still on screen
    frame->closeAll();
}

TEST(FrameController, ChromeOutside_LeavesTheRegionWhileRecording_AndComesBackAfter)
{
    for (const bool outside : {false, true}) {
        const Rect r = centredRegion();
        auto frame = FrameController::create(r);
        frame->setChromeOutsideWhileRecording(outside);
        frame->show();
        ControlBar &bar = *frame->controlBar();
        const Rect inside = bar.window()->frame();

        frame->setRecordingVisual(true);
        const Rect framed = FrameLayout::overlayFrame(r, FrameLayout::outsideBorderReach);
        EXPECT_EQ(bar.window()->frame().intersects(framed), !outside) << outside;
        EXPECT_EQ(frame->topBar()->frame().intersects(framed), false) << outside;
        EXPECT_EQ(frame->overlayView()->outside(), outside);
        for (const FrameController::Grabber &g : frame->grabbers())
            EXPECT_EQ(g.window->isVisible(), !outside) << outside;
        // Outside, the region stays where the recording is.
        EXPECT_EQ(bar.wField()->isReadOnly(), outside);
        frame->topBarView()->onMoveStart();
        frame->topBarView()->onMove(40, 40);
        EXPECT_EQ(frame->region()->rect() == r, outside) << outside;
        frame->region()->set(r);

        frame->setRecordingVisual(false);
        EXPECT_EQ(bar.window()->frame(), inside) << outside;
        EXPECT_FALSE(frame->overlayView()->outside());
        EXPECT_FALSE(bar.wField()->isReadOnly());
        for (const FrameController::Grabber &g : frame->grabbers())
            EXPECT_TRUE(g.window->isVisible()) << outside;
        EXPECT_TRUE(frame->topBar()->isVisible());
        frame->closeAll();
    }
}

TEST(FrameController, Countdown_ShowsEachSecond_ClearsTheNumberBeforeDone_AndCancelSkipsDone)
{
    auto frame = FrameController::create(centredRegion());
    std::vector<int> shown;
    int done = 0;
    frame->startCountdown(2, [&] {
        ++done;
        EXPECT_EQ(frame->overlayView()->countdown(), 0); // out of the picture before the capture starts
    });
    ASSERT_TRUE(waitUntil([&] {
        if (const int now = frame->overlayView()->countdown(); now > 0 && (shown.empty() || shown.back() != now))
            shown.push_back(now);
        return done > 0;
    }));
    EXPECT_EQ(shown, (std::vector<int> {2, 1}));

    frame->startCountdown(1, [&] { ++done; });
    frame->cancelCountdown();
    settle(1300);
    EXPECT_EQ(done, 1);
    EXPECT_FALSE(frame->isCountingDown());
}
