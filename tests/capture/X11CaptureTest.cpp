#include "LogRecorder.h"
#include "X11TestDisplay.h"

#include "capture/CaptureEngine.h"
#include "capture/x11/X11CaptureBackend.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>

namespace {

auto *const g_logs = ::testing::AddGlobalTestEnvironment(new LogRecorder);

constexpr QSize screenSize {1280, 1024};
constexpr QRgb red = 0xffff0000, green = 0xff00ff00, blue = 0xff0000ff, yellow = 0xffffff00, magenta = 0xffff00ff,
               cyan = 0xff00ffff, white = 0xffffffff, grey = 0xff808080;

void pause(int ms)
{
    QElapsedTimer timer;
    timer.start();
    waitUntil([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

int countPixels(const QImage &image, QRgb colour, const QRect &within = {})
{
    const QRect area = within.isNull() ? image.rect() : within & image.rect();
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
}

// Runs on a bare server, under a compositing manager, and under a window
// manager that reparents windows into frames.
class X11CaptureTest : public ::testing::TestWithParam<X11TestDisplay::Desktop> {
protected:
    void SetUp() override
    {
        LogRecorder::clear();
        m_savedDisplay = qgetenv("DISPLAY");
        display = std::make_unique<X11TestDisplay>(screenSize, GetParam());
        ASSERT_TRUE(display->isRunning()) << display->failure().toStdString();
        // The capture service connects to $DISPLAY: point it at the private server.
        qputenv("DISPLAY", display->name().toLatin1());
        service = std::make_shared<X11CaptureBackend>(1.0);
    }

    void TearDown() override
    {
        service.reset();
        display.reset();
        qputenv("DISPLAY", m_savedDisplay);
    }

    // `rect` in root pixels (top-left origin) as the y-up region the engine
    // takes, with the primary height the engine will use.
    static Rect regionFor(const QRect &rect)
    {
        const double h = ScreenUtil::screens().empty() ? screenSize.height() : ScreenUtil::primaryHeight();
        return {double(rect.x()), h - (rect.y() + rect.height()), double(rect.width()), double(rect.height())};
    }

    static ScreenInfo screen()
    {
        return {QStringLiteral("screen"), {0, 0, double(screenSize.width()), double(screenSize.height())}, 1.0};
    }

    std::shared_ptr<CaptureEngine> startEngine(
        const QRect &rect, const std::vector<int64_t> &excluded = {}, bool cursor = false)
    {
        auto engine = std::make_shared<CaptureEngine>(service);
        engine->showsCursor = cursor;
        engine->excludedWindowNumbers = excluded;
        engine->onFrame = [this](int64_t n) { frames = n; };
        frames = 0;
        bool done = false;
        std::optional<CaptureFailure> error;
        engine->start(regionFor(rect), screen(), [&](std::optional<CaptureFailure> e) {
            done = true;
            error = e;
        });
        EXPECT_TRUE(waitUntil([&] { return done; }, 10000));
        EXPECT_FALSE(error) << (error ? error->toString().toStdString() : std::string());
        return engine;
    }

    GifProjectRef stop(const std::shared_ptr<CaptureEngine> &engine)
    {
        bool done = false;
        GifProjectRef project;
        engine->stop([&](GifProjectRef p) {
            done = true;
            project = std::move(p);
        });
        EXPECT_TRUE(waitUntil([&] { return done; }, 10000));
        return project;
    }

    // Changes what the screen shows and waits for the frame that shows it.
    void changeAndWait(xcb_window_t window, QRgb colour)
    {
        const int64_t before = frames;
        display->setColour(window, colour);
        ASSERT_TRUE(waitUntil([&] { return frames > before; }, 10000)) << "no frame after a change";
    }

    std::unique_ptr<X11TestDisplay> display;
    std::shared_ptr<X11CaptureBackend> service;
    int64_t frames = 0;

private:
    QByteArray m_savedDisplay;
};

} // namespace

TEST_P(X11CaptureTest, Screens_ListTheMonitor_InPoints_AndNeedNoConsent)
{
    for (const double scale : {1.0, 2.0}) {
        auto backend = std::make_shared<X11CaptureBackend>(scale);
        std::vector<CaptureScreen> screens;
        std::optional<CaptureFailure> error;
        bool done = false;
        backend->queryScreens([&](std::vector<CaptureScreen> s, std::optional<CaptureFailure> e) {
            screens = std::move(s);
            error = std::move(e);
            done = true;
        });
        ASSERT_TRUE(waitUntil([&] { return done; }));
        EXPECT_FALSE(error);
        ASSERT_EQ(screens.size(), 1u);
        EXPECT_EQ(screens[0].geometry, QRectF(0, 0, screenSize.width() / scale, screenSize.height() / scale));
        EXPECT_EQ(screens[0].scale, scale);
        EXPECT_NE(screens[0].id, 0u);
    }
    EXPECT_TRUE(X11CaptureBackend::canRecordScreen());
    EXPECT_EQ(service->name(), QStringLiteral("x11"));
    EXPECT_TRUE(service->canExcludeWindows());
    EXPECT_FALSE(service->needsConsent());
}

TEST_P(X11CaptureTest, AnimatedWindow_ShowsInTheFramesInOrder)
{
    const QRect region(50, 60, 400, 300);
    const xcb_window_t window = display->createWindow({100, 100, 300, 200}, red);
    ASSERT_TRUE(display->waitUntilShown({200, 200}, red));
    auto engine = startEngine(region);
    ASSERT_TRUE(waitUntil([&] { return frames >= 1; }, 10000));
    for (QRgb colour : {green, blue, yellow})
        changeAndWait(window, colour);
    GifProjectRef project = stop(engine);
    ASSERT_TRUE(project);

    std::vector<QRgb> seen;
    for (const GifFrameRef &f : project->frames) {
        EXPECT_EQ(f->size(), region.size());
        const QRgb centre = f->image().pixel(200 - region.x(), 200 - region.y());
        if (seen.empty() || seen.back() != centre)
            seen.push_back(centre);
    }
    // Compositing may add an in-between frame; the order of the colours holds.
    std::vector<QRgb> expected {red, green, blue, yellow};
    std::vector<QRgb> filtered;
    std::copy_if(seen.begin(), seen.end(), std::back_inserter(filtered),
        [&](QRgb c) { return std::find(expected.begin(), expected.end(), c) != expected.end(); });
    EXPECT_EQ(filtered, expected);
}

TEST_P(X11CaptureTest, Ico_AnimatesInTheFrames)
{
    auto ico = display->launch(QStringLiteral("ico"), {QStringLiteral("-geometry"), QStringLiteral("300x300+100+100")});
    ASSERT_TRUE(ico);
    // A window manager places ico where it likes: record the whole screen.
    auto engine = startEngine(QRect(QPoint(0, 0), screenSize));
    const bool animated = waitUntil([&] { return frames >= 5; }, 15000);
    GifProjectRef project = stop(engine);
    ico->kill();
    ico->waitForFinished(3000);
    ASSERT_TRUE(animated);
    ASSERT_TRUE(project);
    int different = 0;
    for (size_t i = 1; i < project->frames.size(); ++i)
        different += project->frames[i]->image() != project->frames[i - 1]->image();
    EXPECT_GE(different, 4);
}

TEST_P(X11CaptureTest, ExcludedWindows_NeverAppear_WhileWhatLiesUnderThemDoes)
{
    const QRect region(50, 50, 700, 500);
    const xcb_window_t background = display->createWindow({100, 100, 600, 400}, green);
    // A floating bar inside the region, and a border ring shaped like the
    // recording frame's outline, both to be left out.
    const xcb_window_t bar = display->createWindow({300, 200, 150, 100}, magenta);
    QRegion ring(0, 0, 560, 360);
    ring -= QRegion(6, 6, 548, 348);
    const xcb_window_t outline = display->createWindow({120, 120, 560, 360}, magenta, true, ring);
    // A small window above the bar must still show.
    const xcb_window_t tip = display->createWindow({320, 220, 30, 30}, cyan, true);

    ASSERT_TRUE(display->waitUntilShown({150, 150}, green));
    ASSERT_TRUE(display->waitUntilShown({335, 235}, cyan));
    auto engine = startEngine(region, {int64_t(bar), int64_t(outline), 424242});
    ASSERT_TRUE(waitUntil([&] { return frames >= 1; }, 10000));
    changeAndWait(background, blue);
    changeAndWait(background, red);
    GifProjectRef project = stop(engine);
    ASSERT_TRUE(project);
    EXPECT_TRUE(LogRecorder::lines().contains(QStringLiteral("exclude: windows=3")));

    const QPoint underBar = QPoint(400, 280) - region.topLeft();
    const QPoint elsewhere = QPoint(150, 150) - region.topLeft();
    const QPoint onTip = QPoint(335, 235) - region.topLeft();
    const QPoint underRing = QPoint(300, 122) - region.topLeft(); // the ring's top edge
    std::vector<QRgb> seen;
    int torn = 0;
    for (const GifFrameRef &f : project->frames) {
        const QImage image = f->image();
        EXPECT_EQ(countPixels(image, magenta), 0);
        const QRgb content = image.pixel(elsewhere);
        torn += image.pixel(underBar) != content || image.pixel(underRing) != content;
        EXPECT_EQ(image.pixel(onTip), cyan);
        seen.push_back(content);
        // A torn frame shows the new colour under the bar first.
        seen.push_back(image.pixel(underBar));
    }
    // What lies under the left-out windows comes from the windows' own
    // contents, the rest from the screen. The screen shows a window's change
    // a moment after its contents have it (a compositor's paint, or the X
    // server's own copy of a redirected window on a busy server), so a frame
    // grabbed in that moment may show both colours: at most once per change
    // (and the first paint).
    EXPECT_LE(torn, 3);
    for (QRgb colour : {green, blue, red})
        EXPECT_NE(std::find(seen.begin(), seen.end(), colour), seen.end());
    (void)tip;
}

// The recording frame may map a window after the recording has started (a
// pop-up of the control bar): it is left out as soon as it shows.
TEST_P(X11CaptureTest, AWindowToLeaveOut_ShownAfterTheStart_NeverAppears)
{
    const QRect region(50, 50, 400, 300);
    const xcb_window_t background = display->createWindow({60, 60, 380, 280}, green);
    ASSERT_TRUE(display->waitUntilShown({100, 100}, green));
    const xcb_window_t late = display->createWindow({150, 150, 100, 80}, magenta, false);
    display->waitUntilViewable(late);
    display->hideWindow(late);
    ASSERT_TRUE(display->waitUntilShown({200, 190}, green));
    auto engine = startEngine(region, {int64_t(late)});
    ASSERT_TRUE(waitUntil([&] { return frames >= 1; }, 10000));
    display->showWindow(late);
    ASSERT_TRUE(display->waitUntilShown({200, 190}, magenta));
    changeAndWait(background, blue);
    GifProjectRef project = stop(engine);
    ASSERT_TRUE(project);
    EXPECT_TRUE(LogRecorder::lines().contains(QStringLiteral("exclude: windows=1")));
    for (const GifFrameRef &f : project->frames) {
        const QImage image = f->image();
        EXPECT_EQ(countPixels(image, magenta), 0);
        EXPECT_EQ(image.pixel(QPoint(200, 190) - region.topLeft()), image.pixel(QPoint(100, 100) - region.topLeft()));
    }
}

TEST_P(X11CaptureTest, Cursor_IsDrawnAtThePointer_OnlyWhenAsked)
{
    const QRect region(100, 100, 400, 300);
    display->createWindow(region, white);
    ASSERT_TRUE(display->movePointer(300, 250));
    for (const bool cursor : {true, false}) {
        auto engine = startEngine(region, {}, cursor);
        ASSERT_TRUE(waitUntil([&] { return frames >= 1; }, 10000));
        GifProjectRef project = stop(engine);
        ASSERT_TRUE(project);
        const QImage image = project->frames.back()->image();
        const QPoint pointer = QPoint(300, 250) - region.topLeft();
        const QRect near(pointer - QPoint(32, 32), QSize(64, 64));
        const int area = near.width() * near.height();
        if (cursor) {
            EXPECT_LT(countPixels(image, white, near), area) << "no cursor near the pointer";
            EXPECT_EQ(
                countPixels(image, white), image.width() * image.height() - (area - countPixels(image, white, near)))
                << "cursor pixels away from the pointer";
        } else {
            EXPECT_EQ(countPixels(image, white), image.width() * image.height());
        }
    }
}

TEST_P(X11CaptureTest, StillRegion_GivesFewFramesWithLongDelays)
{
    const QRect region(200, 200, 320, 240);
    const xcb_window_t window = display->createWindow({150, 150, 500, 400}, grey);
    auto engine = startEngine(region);
    ASSERT_TRUE(waitUntil([&] { return frames >= 1; }, 10000));
    pause(800); // a dozen ticks at 15 fps with nothing to show
    changeAndWait(window, blue);
    pause(300);
    GifProjectRef project = stop(engine);
    ASSERT_TRUE(project);
    ASSERT_EQ(project->frames.size(), 2u);
    EXPECT_GE(project->frames[0]->delayMs, 700); // the still stretch, measured from the timestamps
    // The ticks with nothing new arrived as idle samples and were not kept.
    const QStringList building = LogRecorder::linesStartingWith(QStringLiteral("building;"));
    ASSERT_EQ(building.size(), 1);
    EXPECT_TRUE(building[0].startsWith(QStringLiteral("building; captured=2 status=[0: 2, 1: ")))
        << building[0].toStdString();
}

TEST_P(X11CaptureTest, LostServer_EndsTheStream_AndStopKeepsTheFramesSoFar)
{
    const xcb_window_t window = display->createWindow({0, 0, 400, 300}, green);
    const int64_t liveBefore = CaptureEngine::liveStreamCount();
    auto engine = startEngine({0, 0, 400, 300});
    std::optional<CaptureFailure> ended;
    engine->onStreamEnded = [&](const CaptureFailure &f) { ended = f; };
    ASSERT_TRUE(waitUntil([&] { return frames >= 1; }, 10000));
    changeAndWait(window, blue);
    const int64_t kept = frames;
    EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore + 1);
    display->killServer();
    EXPECT_TRUE(waitUntil([&] { return CaptureEngine::liveStreamCount() == liveBefore && ended; }, 10000));
    GifProjectRef project = stop(engine);
    ASSERT_TRUE(project);
    EXPECT_EQ(int64_t(project->frames.size()), kept);
    EXPECT_EQ(project->frames.back()->image().pixel(200, 150), blue);
    // The server's socket may take a moment longer to go than its connections.
    EXPECT_TRUE(waitUntil([] { return !X11CaptureBackend::canRecordScreen(); }, 5000));
    const CaptureFailure lost = X11CaptureBackend::error(3, QStringLiteral("The connection to the X server was lost."));
    EXPECT_EQ(ended, lost);
    const QString warning = QStringLiteral(
        "capture stream stopped with error: Error Domain=Quillo.X11Capture Code=3 \"The connection to the X server was "
        "lost.\"");
    EXPECT_TRUE(waitUntil([&] { return LogRecorder::warnings().contains(warning); }, 5000))
        << LogRecorder::warnings().join(QLatin1Char('\n')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Capture, X11CaptureTest,
    ::testing::Values(
        X11TestDisplay::Desktop::bare, X11TestDisplay::Desktop::compositor, X11TestDisplay::Desktop::windowManager),
    [](const ::testing::TestParamInfo<X11TestDisplay::Desktop> &info) {
        switch (info.param) {
        case X11TestDisplay::Desktop::bare:
            return "Plain";
        case X11TestDisplay::Desktop::compositor:
            return "WithCompositor";
        case X11TestDisplay::Desktop::windowManager:
            return "WithWindowManager";
        }
        return "";
    });
