// The recording frame's chrome over windows that repaint rarely: a shaped
// window (xeyes) and an ordinary one that never repaints by itself. Their
// contents under the frame's border come from their own window pictures;
// none of the frame's colours may reach any frame, the first included, in
// recording after recording.
#include "app/AppDelegate.h"
#include "capture/LogRecorder.h"
#include "capture/RegionModel.h"
#include "editor/EditorController.h"
#include "frameui/ControlBar.h"
#include "frameui/FloatWindow.h"
#include "frameui/FrameController.h"
#include "frameui/Palette.h"
#include "support/TestUtil.h"

#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

auto *const g_logs = ::testing::AddGlobalTestEnvironment(new LogRecorder);

constexpr int RECORDINGS = 10;

bool click(QPoint p)
{
    return QProcess::execute(
               QStringLiteral("xdotool"), {"mousemove", QString::number(p.x()), QString::number(p.y()), "click", "1"})
        == 0;
}

QPoint centreOf(const QWidget *w)
{
    return w->mapToGlobal(w->rect().center());
}

void settle(int ms)
{
    QDeadlineTimer t(ms);
    while (!t.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool near(QRgb p, const QColor &c, int tolerance)
{
    return std::abs(qRed(p) - c.red()) <= tolerance && std::abs(qGreen(p) - c.green()) <= tolerance
        && std::abs(qBlue(p) - c.blue()) <= tolerance;
}

// Pixels of the frame's two signal colours: its border when idle and while
// recording.
int chromePixels(const QImage &frame)
{
    const QImage image = frame.convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            count += near(line[x], Palette::lime(), 24) || near(line[x], Palette::recRed(), 24);
    }
    return count;
}

// Records RECORDINGS times over whatever lies under the region and checks
// every frame of each.
void recordRepeatedly(AppDelegate &app)
{
    for (int run = 0; run < RECORDINGS; ++run) {
        SCOPED_TRACE(run);
        ASSERT_NE(app.frame, nullptr);
        ControlBar &bar = *app.frame->controlBar();
        ASSERT_TRUE(waitUntil([&] { return bar.window()->isVisible(); }));
        settle(150);
        LogRecorder::clear();
        ASSERT_TRUE(click(centreOf(bar.recButton())));
        ASSERT_TRUE(waitUntil([&] { return LogRecorder::lines().contains(QStringLiteral("startCapture OK")); }));
        settle(300);
        ASSERT_TRUE(click(centreOf(bar.stopButton())));
        ASSERT_TRUE(waitUntil([&] { return app.editor != nullptr; }, 10000));
        const GifFrameList &frames = app.editor->project()->frames;
        ASSERT_FALSE(frames.empty());
        for (size_t i = 0; i < frames.size(); ++i)
            EXPECT_EQ(chromePixels(frames[i]->image()), 0) << "frame " << i;
        app.editor->window()->close();
        ASSERT_TRUE(waitUntil([&] { return app.frame != nullptr; }));
    }
}

class RecordingChromeE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is not installed";
        qputenv("QUILLO_CAPTURE_BACKEND", "x11");
        app = std::make_unique<AppDelegate>(QStringList {QStringLiteral("quillo")});
        app->showAlert = [](const QString &title, const QString &text) {
            ADD_FAILURE() << title.toStdString() << ": " << text.toStdString();
        };
        app->applicationDidFinishLaunching();
        ASSERT_NE(app->frame, nullptr);
        // Every window under the region must already be on the screen when
        // the frame appears over it.
        app->frame->closeAll();
        app->frame.reset();
        region = Geometry::toQt(app->lastRect).toRect();
    }
    void TearDown() override
    {
        if (app && app->frame)
            app->frame->closeAll();
    }

    void showFrame()
    {
        app->showRecorder(app->lastRect);
        ASSERT_NE(app->frame, nullptr);
    }

    std::unique_ptr<AppDelegate> app;
    QRect region;
};

} // namespace

TEST_F(RecordingChromeE2E, NoFrameOverAShapedWindowShowsTheFramesColours)
{
    if (QStandardPaths::findExecutable(QStringLiteral("xeyes")).isEmpty())
        GTEST_SKIP() << "xeyes is not installed";
    QProcess eyes;
    const QRect area = region.adjusted(-30, -30, 30, 30);
    eyes.start(QStringLiteral("xeyes"),
        {QStringLiteral("-geometry"),
            QStringLiteral("%1x%2+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y())});
    ASSERT_TRUE(eyes.waitForStarted());
    ASSERT_EQ(
        QProcess::execute(QStringLiteral("xdotool"), {"search", "--sync", "--onlyvisible", "--class", "xeyes"}), 0);
    settle(200);
    showFrame();
    recordRepeatedly(*app);
    eyes.kill();
    eyes.waitForFinished();
}

TEST_F(RecordingChromeE2E, NoFrameOverAStillWindowShowsTheFramesColours)
{
    // Painted once when it appears and never again.
    QWidget still;
    still.setWindowFlags(Qt::FramelessWindowHint);
    still.setAutoFillBackground(true);
    QPalette palette = still.palette();
    palette.setColor(QPalette::Window, QColor(40, 90, 200));
    still.setPalette(palette);
    still.setGeometry(region.adjusted(-30, -30, 30, 30));
    still.show();
    ASSERT_TRUE(waitUntil([&] { return still.windowHandle()->isExposed(); }));
    settle(200);
    showFrame();
    recordRepeatedly(*app);
}
