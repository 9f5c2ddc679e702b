// The whole recording in this process, on the shared X server, with real
// clicks: REC over a window whose colour keeps changing, Stop, and the editor
// on what was recorded. Whatever the recording frame draws must be missing
// from every frame: its windows are left out of the capture.
#include "app/AppDelegate.h"
#include "capture/LogRecorder.h"
#include "capture/RegionModel.h"
#include "editor/EditorController.h"
#include "frameui/ControlBar.h"
#include "frameui/FloatWindow.h"
#include "frameui/FrameController.h"
#include "support/TestUtil.h"

#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

auto *const g_logs = ::testing::AddGlobalTestEnvironment(new LogRecorder);

const QColor clientColours[] = {QColor(40, 90, 200), QColor(200, 60, 160)};

bool near(QRgb p, const QColor &c, int tolerance)
{
    return std::abs(qRed(p) - c.red()) <= tolerance && std::abs(qGreen(p) - c.green()) <= tolerance
        && std::abs(qBlue(p) - c.blue()) <= tolerance;
}

bool xdotool(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

bool click(QPoint p)
{
    return xdotool({"mousemove", QString::number(p.x()), QString::number(p.y()), "click", "1"});
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

// A plain window that changes its whole colour every 60 ms.
class Blinker : public QWidget {
public:
    Blinker()
    {
        setWindowFlags(Qt::FramelessWindowHint);
        setAutoFillBackground(true);
        paint(0);
        connect(&m_timer, &QTimer::timeout, this, [this] { paint(++m_tick); });
        m_timer.start(60);
    }

private:
    void paint(int tick)
    {
        QPalette p = palette();
        p.setColor(QPalette::Window, clientColours[tick % 2]);
        setPalette(p);
        update();
    }
    QTimer m_timer;
    int m_tick = 0;
};

} // namespace

TEST(RecordingFlowE2E, RecThenStop_OpensTheEditorOnFramesWithoutTheFramesOwnWindows)
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "xdotool is not installed";
    qputenv("QUILLO_CAPTURE_BACKEND", "x11");

    AppDelegate app({QStringLiteral("quillo")});
    app.showAlert = [](const QString &title, const QString &text) {
        ADD_FAILURE() << title.toStdString() << ": " << text.toStdString();
    };
    app.applicationDidFinishLaunching();
    ASSERT_NE(app.frame, nullptr);
    const Rect region = app.frame->region()->rect();

    // The client lies under the recording frame and reaches past it.
    Blinker client;
    client.setGeometry(Geometry::toQt(region).toRect().adjusted(-40, -40, 40, 40));
    client.show();
    ASSERT_TRUE(waitUntil([&] { return client.windowHandle()->isExposed(); }));
    app.frame->show();
    ControlBar &bar = *app.frame->controlBar();
    ASSERT_TRUE(waitUntil([&] { return bar.window()->isActiveWindow(); }));
    settle(200);

    ASSERT_TRUE(click(centreOf(bar.recButton())));
    ASSERT_TRUE(waitUntil([&] { return LogRecorder::lines().contains(QStringLiteral("startCapture OK")); }));
    settle(1500);
    ASSERT_TRUE(bar.stopButton()->isEnabled());
    ASSERT_TRUE(click(centreOf(bar.stopButton())));
    ASSERT_TRUE(waitUntil([&] { return app.editor != nullptr; }, 10000));
    EXPECT_EQ(app.frame, nullptr);

    const GifFrameList &frames = app.editor->project()->frames;
    ASSERT_GT(frames.size(), 1u);
    for (size_t i = 0; i < frames.size(); ++i) {
        const QImage image = frames[i]->image().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(image.size(), QSize(640, 420));
        // Anything but the client's colours can only be the pointer, drawn in
        // where the Stop click left it: far fewer pixels than the border, a
        // handle or the control bar would leave.
        int foreign = 0, lime = 0, red = 0;
        for (int y = 0; y < image.height(); ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = line[x];
                foreign += !near(p, clientColours[0], 3) && !near(p, clientColours[1], 3);
                lime += near(p, QColor(199, 255, 0), 40);
                red += near(p, QColor(255, 69, 59), 40);
            }
        }
        EXPECT_EQ(lime, 0) << "frame " << i;
        EXPECT_EQ(red, 0) << "frame " << i;
        EXPECT_LT(foreign, 32 * 32) << "frame " << i;
    }

    app.editor->window()->close();
    ASSERT_TRUE(waitUntil([&] { return app.frame != nullptr; }));
    EXPECT_EQ(app.frame->region()->rect(), region);
    app.frame->closeAll();
}
