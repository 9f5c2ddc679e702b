// Real windows on a real X server, driven with xdotool: what the unit tests
// cannot see (shapes, input transparency, focus, the pointer's global
// positions while windows move under it).
#include "capture/RegionModel.h"
#include "capture/ScreenUtil.h"
#include "frameui/ControlBar.h"
#include "frameui/FloatWindow.h"
#include "frameui/FrameController.h"
#include "frameui/TopBarView.h"
#include "support/TestUtil.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

bool xdotool(const QStringList &args)
{
    return QProcess::execute(QStringLiteral("xdotool"), args) == 0;
}

QStringList at(QPoint p)
{
    return {QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())};
}

// Presses at `from`, moves in two steps by `by` (Qt's y-down pixels), releases.
bool drag(QPoint from, QPoint by)
{
    const QPoint half = from + by / 2;
    const QPoint to = from + by;
    return xdotool(at(from) + QStringList {"mousedown", "1"} + at(half) + at(to) + QStringList {"mouseup", "1"});
}

bool click(QPoint p)
{
    return xdotool(at(p) + QStringList {"click", "1"});
}

void settle(int ms = 150)
{
    QDeadlineTimer t(ms);
    while (!t.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A plain window that counts the presses that reach it.
class Witness : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

class FrameX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is not installed";
        const Rect screen = ScreenUtil::screen({0, 0, 1, 1}).frame;
        start = {std::round(screen.midX() - 320), std::round(screen.midY() - 210), 640, 420};
        frame = FrameController::create(start);
        frame->show();
        ASSERT_TRUE(waitUntil([&] {
            return frame->controlBar()->window()->isActiveWindow() && frame->topBar()->windowHandle()->isExposed();
        }));
        settle();
    }

    void TearDown() override
    {
        if (frame)
            frame->closeAll();
    }

    QPoint centreOf(const QWidget *w) const { return w->mapToGlobal(w->rect().center()); }

    QWidget *grabber(Anchor anchor) const
    {
        for (const FrameController::Grabber &g : frame->grabbers()) {
            if (g.anchor == anchor)
                return g.window.get();
        }
        return nullptr;
    }

    Rect start;
    std::shared_ptr<FrameController> frame;
};

} // namespace

TEST_F(FrameX11, DraggingHandles_ResizesFromTheRectangleAtThePress)
{
    struct Case {
        Anchor anchor;
        QPoint by;
        Rect expected;
    } cases[] = {
        {Anchor::bottomRight, {100, 50}, {start.x, start.y - 50, 740, 470}},
        {Anchor::left, {-30, 0}, {start.x - 30, start.y, 670, 420}},
        {Anchor::top, {0, 20}, {start.x, start.y, 640, 400}},
    };
    for (const Case &c : cases) {
        frame->region()->set(start);
        settle();
        ASSERT_TRUE(drag(centreOf(grabber(c.anchor)), c.by));
        EXPECT_TRUE(waitUntil([&] { return frame->region()->rect() == c.expected; })) << static_cast<int>(
            c.anchor) << ": " << frame->region()->rect().width << " x " << frame->region()->rect().height;
    }
}

TEST_F(FrameX11, DraggingTheTopBar_MovesTheRegion_KeepingItsSize)
{
    ASSERT_TRUE(drag(centreOf(frame->topBar()), {60, 40}));
    EXPECT_TRUE(waitUntil([&] { return frame->region()->rect() == Rect {start.x + 60, start.y - 40, 640, 420}; }));
    // The bar followed, and the bar's fields with it.
    EXPECT_EQ(frame->topBar()->frame().y, start.maxY() - 40 + 7);
    EXPECT_EQ(frame->controlBar()->wField()->text(), QStringLiteral("640"));
}

TEST_F(FrameX11, TypingInTheFields_CommitsOnTab)
{
    ControlBar &bar = *frame->controlBar();
    ASSERT_TRUE(click(centreOf(bar.wField())));
    ASSERT_TRUE(waitUntil([&] { return bar.wField()->hasFocus(); }));
    ASSERT_TRUE(xdotool({"key", "ctrl+a", "type", "--delay", "20", "1920/2"}));
    ASSERT_TRUE(xdotool({"key", "Tab"}));
    EXPECT_TRUE(waitUntil([&] { return frame->region()->rect().width == 960; }));
    EXPECT_TRUE(waitUntil([&] { return bar.wField()->text() == QStringLiteral("960"); }));

    ASSERT_TRUE(click(centreOf(bar.fpsField())));
    ASSERT_TRUE(waitUntil([&] { return bar.fpsField()->hasFocus(); }));
    ASSERT_TRUE(xdotool({"key", "ctrl+a", "type", "--delay", "20", "120"}));
    ASSERT_TRUE(xdotool({"key", "Tab"}));
    EXPECT_TRUE(waitUntil([&] { return bar.fps() == 60; }));
    EXPECT_EQ(bar.fpsField()->text(), QStringLiteral("60"));
}

TEST_F(FrameX11, OverlayLetsClicksThrough_TopBarTakesPressesButNeverTheFocus)
{
    // A window under the region's top-left edge, in the gap between the
    // corner grabber and the left edge grabber, where only the overlay is.
    Witness witness;
    witness.setWindowFlags(Qt::FramelessWindowHint);
    const QRect region = Geometry::toQt(start).toRect();
    witness.setGeometry(region.left() - 20, region.top() - 20, 60, 60);
    witness.show();
    ASSERT_TRUE(waitUntil([&] { return witness.windowHandle()->isExposed(); }));
    frame->show(); // back in front of the witness
    ASSERT_TRUE(waitUntil([&] { return frame->controlBar()->window()->isActiveWindow(); }));
    settle();

    ASSERT_TRUE(click(QPoint(region.left(), region.top() + 10)));
    EXPECT_TRUE(waitUntil([&] { return witness.presses == 1; }));
    // The click may still move the keyboard to the witness; let that land
    // before the next click takes it back.
    settle(300);

    ControlBar &bar = *frame->controlBar();
    ASSERT_TRUE(click(centreOf(bar.hField())));
    ASSERT_TRUE(waitUntil([&] { return bar.hField()->hasFocus(); }));
    ASSERT_TRUE(click(centreOf(frame->topBar())));
    settle(300);
    EXPECT_TRUE(bar.window()->isActiveWindow());
    EXPECT_TRUE(bar.hField()->hasFocus());
    EXPECT_EQ(witness.presses, 1);
}
