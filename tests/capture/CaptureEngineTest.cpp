#include "LogRecorder.h"

#include "base/MainThread.h"
#include "capture/CaptureEngine.h"
#include "capture/MemoryHeadroom.h"
#include "capture/synthetic/SyntheticCaptureBackend.h"
#include "store/FrameStore.h"
#include "store/StoreTestSupport.h"
#include "support/SmallDisk.h"
#include "support/TestUtil.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <map>

#include <unistd.h>

namespace {

auto *const g_logs = ::testing::AddGlobalTestEnvironment(new LogRecorder);

SyntheticCaptureBackend::Scene makeScene()
{
    SyntheticCaptureBackend::Scene scene;
    scene.screens = {{7, QStringLiteral("main"), QRectF(0, 0, 1512, 982), 2.0, true}};
    return scene;
}

QImage solid(QRgb colour, QSize size = {64, 48})
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

CaptureFrame frameAt(double pts, QImage image = solid(0xff336699))
{
    CaptureFrame f;
    f.image = std::move(image);
    f.presentationTime = pts;
    return f;
}

// What a start completion delivered, once it has.
struct StartResult {
    bool called = false;
    bool onMainThread = false;
    std::optional<CaptureFailure> error;
};

struct StopResult {
    bool called = false;
    GifProjectRef project;
};

class CaptureEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LogRecorder::clear();
        service = std::make_shared<SyntheticCaptureBackend>(makeScene(), false);
        // Stops come a moment after the last frame a test delivers.
        service->setClock([this] { return clock.load(); });
        liveBefore = CaptureEngine::liveStreamCount();
    }

    std::shared_ptr<CaptureEngine> makeEngine() { return std::make_shared<CaptureEngine>(service); }

    std::shared_ptr<StartResult> start(
        const std::shared_ptr<CaptureEngine> &engine, const Rect &region, const ScreenInfo &on = mainScreen())
    {
        auto result = std::make_shared<StartResult>();
        engine->start(region, on, [result](std::optional<CaptureFailure> error) {
            result->called = true;
            result->onMainThread = isMainThread();
            result->error = std::move(error);
        });
        return result;
    }

    std::shared_ptr<StartResult> startAndWait(const std::shared_ptr<CaptureEngine> &engine,
        const Rect &region = {100, 200, 640, 480}, const ScreenInfo &on = mainScreen())
    {
        auto result = start(engine, region, on);
        EXPECT_TRUE(waitUntil([&] { return result->called; }));
        return result;
    }

    std::shared_ptr<StopResult> stop(const std::shared_ptr<CaptureEngine> &engine)
    {
        auto result = std::make_shared<StopResult>();
        engine->stop([result](GifProjectRef project) {
            result->called = true;
            result->project = std::move(project);
        });
        return result;
    }

    GifProjectRef stopAndWait(const std::shared_ptr<CaptureEngine> &engine)
    {
        auto result = stop(engine);
        EXPECT_TRUE(waitUntil([&] { return result->called; }));
        return result->project;
    }

    std::shared_ptr<SyntheticCaptureStream> lastStream() const
    {
        const auto all = service->streams();
        return all.empty() ? nullptr : all.back();
    }

    void deliver(std::initializer_list<CaptureFrame> frames)
    {
        auto stream = lastStream();
        ASSERT_TRUE(stream);
        for (const CaptureFrame &f : frames) {
            stream->deliver(f);
            clock = std::max(clock.load(), f.presentationTime);
        }
        stream->waitForDelivery();
    }

    static ScreenInfo mainScreen() { return {QStringLiteral("main"), {0, 0, 1512, 982}, 2.0}; }

    std::shared_ptr<SyntheticCaptureBackend> service;
    // The backend's clock: the time of the latest frame delivered, unless a
    // test moves it.
    std::atomic<double> clock {0};
    int64_t liveBefore = 0;
};

std::vector<int64_t> delaysOf(const GifProjectRef &project)
{
    std::vector<int64_t> out;
    for (const GifFrameRef &f : project->frames)
        out.push_back(f->delayMs);
    return out;
}

} // namespace

TEST_F(CaptureEngineTest, NewEngine_HasTheDefaults_AndTheCaptureQueueLabel)
{
    auto engine = makeEngine();
    EXPECT_EQ(engine->fps, 15);
    EXPECT_TRUE(engine->showsCursor);
    EXPECT_TRUE(engine->variableFrameRate);
    EXPECT_EQ(engine->maxFrames, 3000);
    EXPECT_FALSE(engine->onFrame);
    EXPECT_FALSE(engine->onAutoStop);
    EXPECT_FALSE(engine->onStraddle);
    EXPECT_TRUE(engine->excludedWindowNumbers.empty());
    EXPECT_EQ(engine->queueLabel(), QStringLiteral("org.quillo.Quillo.capture"));
    EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore);
}

TEST_F(CaptureEngineTest, Start_ConfiguresTheStreamForTheRegion_AndLogsEachStep)
{
    auto engine = makeEngine();
    const int64_t startsBefore = CaptureEngine::startCallCount();
    auto result = startAndWait(engine);
    EXPECT_FALSE(result->error);
    EXPECT_TRUE(result->onMainThread);
    EXPECT_EQ(CaptureEngine::startCallCount(), startsBefore + 1);
    EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore + 1);

    auto stream = lastStream();
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->startRequests(), 1);
    const CaptureRequest &c = stream->request();
    // (100, 200) y-up on a 982-point-high screen is (100, 302) from the top,
    // in pixels at scale 2.
    EXPECT_EQ(c.pixels, QRect(200, 604, 1280, 960));
    EXPECT_EQ(c.scale, 2.0);
    EXPECT_EQ(c.fps, 15);
    EXPECT_TRUE(c.showsCursor);
    EXPECT_EQ(c.screenId, 7u);
    EXPECT_TRUE(c.excludedWindows.empty());

    EXPECT_EQ(LogRecorder::lines(),
        QStringList({
            QStringLiteral("START region=(100.0, 200.0, 640.0, 480.0) screenFrame=(0.0, 0.0, 1512.0, 982.0) scale=2.0 "
                           "fps=15"),
            QStringLiteral("display 7 1512x982; backend=synthetic"),
            QStringLiteral("exclude: windows=0"),
            QStringLiteral("sourceRect=(100.0, 302.0, 640.0, 480.0) px=1280x960 dbBounds=(0.0, 0.0, 1512.0, 982.0)"),
            QStringLiteral("startCapture OK"),
        }));

    EXPECT_FALSE(stopAndWait(engine)); // nothing delivered
    EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore);
    EXPECT_TRUE(stream->wasStopped());
}

TEST_F(CaptureEngineTest, Start_CropsTheRegionToItsDisplay_WarningOnlyBeyondOnePoint)
{
    struct Case {
        const char *name;
        Rect region;
        double scale;
        QRect pixels;
        bool warns;
    };
    // Display 7: 1512 x 982 points; local y = 982 - region.maxY.
    const Case cases[] = {
        {"inside", {100, 200, 640, 480}, 2.0, {200, 604, 1280, 960}, false},
        {"100 wider, from the left edge", {0, 100, 1612, 400}, 1.0, {0, 482, 1512, 400}, true},
        {"50 off the left edge", {-50, 100, 300, 200}, 1.0, {0, 682, 300, 200}, true},
        {"wholly to the right", {1600, 100, 300, 200}, 1.0, {1510, 682, 2, 200}, true},
        {"one point past the right edge", {1213, 100, 300, 200}, 1.0, {1213, 682, 299, 200}, false},
        {"hanging off the top", {10, 900, 100, 100}, 1.0, {10, 0, 100, 100}, true},
        {"tiny", {10, 10, 1, 1}, 1.0, {10, 971, 2, 2}, false},
        {"odd scale rounds halves away", {0, 0, 101, 101}, 1.5, {0, 1322, 152, 152}, false},
    };
    for (const Case &c : cases) {
        LogRecorder::clear();
        auto engine = makeEngine();
        int straddles = 0;
        engine->onStraddle = [&] { ++straddles; };
        ScreenInfo screen = mainScreen();
        screen.scale = c.scale;
        auto result = startAndWait(engine, c.region, screen);
        ASSERT_FALSE(result->error) << c.name;
        EXPECT_EQ(lastStream()->request().pixels, c.pixels) << c.name;
        EXPECT_EQ(LogRecorder::linesStartingWith(QStringLiteral("WARN")).size(), c.warns ? 1 : 0) << c.name;
        EXPECT_EQ(straddles, c.warns ? 1 : 0) << c.name;
        stopAndWait(engine);
    }

    LogRecorder::clear();
    auto engine = makeEngine();
    startAndWait(engine, {0, 100, 1612, 400}, {QStringLiteral("main"), {0, 0, 1512, 982}, 1.0});
    EXPECT_EQ(LogRecorder::linesStartingWith(QStringLiteral("WARN")),
        QStringList(QStringLiteral("WARN region straddles/exceeds display 7 — cropped from (0.0, 482.0, 1612.0, 400.0) "
                                   "to (0.0, 482.0, 1512.0, 400.0). Recording covers only this display.")));
    stopAndWait(engine);
}

TEST_F(CaptureEngineTest, Start_StreamRateAndProjectFps_FollowFps)
{
    struct Case {
        int64_t fps;
        int rate;
    };
    const Case cases[] = {{0, 1}, {-3, 1}, {1, 1}, {60, 60}, {int64_t(1) << 40, std::numeric_limits<int32_t>::max()}};
    for (const Case &c : cases) {
        auto engine = makeEngine();
        engine->fps = c.fps;
        startAndWait(engine);
        EXPECT_EQ(lastStream()->request().fps, c.rate) << c.fps;
        deliver({frameAt(1.0)});
        GifProjectRef project = stopAndWait(engine);
        ASSERT_TRUE(project);
        EXPECT_EQ(project->fps, c.fps); // as set, not clamped
    }
}

TEST_F(CaptureEngineTest, Start_HandsTheWindowsToLeaveOut_OnlyToABackendThatCan)
{
    struct Case {
        const char *name;
        std::vector<int64_t> excluded;
        bool canExclude;
        std::vector<uint32_t> handed;
        QString line;
    };
    const int64_t wraps = (int64_t(1) << 32) + 100; // would wrap onto window 100
    const Case cases[] = {
        {"every window", {101, 999, 100}, true, {101, 999, 100}, QStringLiteral("exclude: windows=3")},
        {"none", {}, true, {}, QStringLiteral("exclude: windows=0")},
        {"numbers outside 32 bits are ignored", {-1, wraps, 200}, true, {200}, QStringLiteral("exclude: windows=1")},
        {"a backend that records every window", {101, 100}, false, {},
            QStringLiteral("exclude: none, the synthetic backend records every window (2 asked)")},
    };
    for (const Case &c : cases) {
        LogRecorder::clear();
        SyntheticCaptureBackend::Scene scene = makeScene();
        scene.canExcludeWindows = c.canExclude;
        service->setScene(scene);
        auto engine = makeEngine();
        engine->excludedWindowNumbers = c.excluded;
        startAndWait(engine);
        EXPECT_EQ(lastStream()->request().excludedWindows, c.handed) << c.name;
        EXPECT_EQ(LogRecorder::linesStartingWith(QStringLiteral("exclude:")), QStringList(c.line)) << c.name;
        stopAndWait(engine);
    }
}

TEST_F(CaptureEngineTest, Start_PicksTheRegionsScreen_ByNameThenPlace_ElseThePrimary)
{
    // Without a GUI this program sees no screen: the engine takes the
    // region's screen for the primary one, so its y-up bottom is 0.
    ASSERT_TRUE(ScreenUtil::screens().empty());
    const CaptureScreen left {3, QStringLiteral("DP-1"), QRectF(0, 0, 1512, 982), 1.0, false};
    const CaptureScreen right {7, QStringLiteral("HDMI-1"), QRectF(1512, 0, 800, 600), 1.0, true};
    const CaptureScreen third {9, QString(), QRectF(-800, 0, 800, 600), 1.0, false};
    const ScreenInfo onRight {QStringLiteral("other"), {1512, 0, 800, 600}, 1.0};
    struct Case {
        const char *name;
        std::vector<CaptureScreen> screens;
        ScreenInfo screen;
        bool consent;
        std::optional<uint32_t> expected; // nullopt: refused as not shared
        QSizeF size = {}; // what the region is measured on
    };
    const Case cases[] = {
        {"by name", {left, right}, {QStringLiteral("DP-1"), {0, 0, 10, 10}, 1.0}, false, 3, {1512, 982}},
        {"by place", {left, right}, onRight, false, 7, {800, 600}},
        {"neither: the primary", {left, right}, {QStringLiteral("x"), {5000, 0, 10, 10}, 1.0}, false, 7, {800, 600}},
        {"no primary: the first", {left, {right.id, right.name, right.geometry, 1.0, false}},
            {QStringLiteral("x"), {5000, 0, 10, 10}, 1.0}, false, 3, {1512, 982}},
        {"shared: found by place", {left, right}, onRight, true, 7, {800, 600}},
        {"shared: other screens were chosen", {left, third}, onRight, true, std::nullopt},
        // One screen here and one shared: the same one, whatever the scaling
        // made of its size; the region is measured on this program's screen.
        {"shared: one and one", {left}, onRight, true, 3, {800, 600}},
    };
    for (const Case &c : cases) {
        LogRecorder::clear();
        SyntheticCaptureBackend::Scene scene;
        scene.screens = c.screens;
        scene.needsConsent = c.consent;
        service->setScene(scene);
        const size_t streamsBefore = service->streams().size();
        auto engine = makeEngine();
        auto result = startAndWait(engine, {c.screen.frame.x + 1, c.screen.frame.y + 1, 8, 8}, c.screen);
        if (c.expected) {
            EXPECT_FALSE(result->error) << c.name;
            ASSERT_EQ(service->streams().size(), streamsBefore + 1) << c.name;
            EXPECT_EQ(lastStream()->request().screenId, *c.expected) << c.name;
            EXPECT_EQ(lastStream()->request().screenSize, c.size) << c.name;
        } else {
            ASSERT_TRUE(result->error) << c.name;
            EXPECT_EQ(result->error->captureError(), CaptureError::screenNotShared) << c.name;
            EXPECT_EQ(service->streams().size(), streamsBefore) << c.name;
            EXPECT_EQ(LogRecorder::linesStartingWith(QStringLiteral("ERROR screen not shared: ")).size(), 1) << c.name;
        }
        stopAndWait(engine);
        EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore) << c.name;
    }
    EXPECT_EQ(CaptureFailure(CaptureError::screenNotShared).description(),
        QStringLiteral("The frame is on a screen that was not chosen for sharing. Press REC again and share the screen "
                       "the frame is on."));
}

TEST_F(CaptureEngineTest, StartFailure_AtEachStep_ReachesTheCompletionWithItsLineAndLeavesNoStream)
{
    using Faults = SyntheticCaptureBackend::Faults;
    const CaptureFailure contentError = SyntheticCaptureBackend::syntheticError(QStringLiteral("screen query"));
    const CaptureFailure outputError = SyntheticCaptureBackend::syntheticError(QStringLiteral("stream set-up"));
    const CaptureFailure startError = SyntheticCaptureBackend::syntheticError(QStringLiteral("start"));
    struct Case {
        const char *name;
        Faults faults;
        bool noDisplays;
        CaptureFailure expected;
        QString line; // empty: no error line at all
        int startRequests;
    };
    Faults content;
    content.screensError = contentError;
    Faults none;
    none.noScreens = true;
    Faults output;
    output.streamError = outputError;
    Faults starting;
    starting.startError = startError;
    const Case cases[] = {
        {"screen query fails", content, false, contentError,
            QStringLiteral("ERROR queryScreens: Error Domain=Quillo.SyntheticCapture Code=1 \"Synthetic failure: "
                           "screen query.\""),
            0},
        {"an empty answer", none, false, CaptureError::noDisplay, QStringLiteral("ERROR no display found"), 0},
        {"a scene without screens", {}, true, CaptureError::noDisplay, QStringLiteral("ERROR no display found"), 0},
        {"no stream can be made", output, false, outputError, QString(), 0},
        {"stream does not start", starting, false, startError,
            QStringLiteral("startCapture ERROR: Error Domain=Quillo.SyntheticCapture Code=1 \"Synthetic failure: "
                           "start.\""),
            1},
    };
    for (const Case &c : cases) {
        LogRecorder::clear();
        SyntheticCaptureBackend::Scene scene = makeScene();
        if (c.noDisplays)
            scene.screens.clear();
        service->setScene(scene);
        service->setFaults(c.faults);
        auto engine = makeEngine();
        auto result = startAndWait(engine);
        ASSERT_TRUE(result->error) << c.name;
        EXPECT_EQ(*result->error, c.expected) << c.name;
        EXPECT_TRUE(result->onMainThread) << c.name;

        QStringList errorLines = LogRecorder::linesStartingWith(QStringLiteral("ERROR"));
        errorLines += LogRecorder::linesStartingWith(QStringLiteral("startCapture"));
        EXPECT_EQ(errorLines, c.line.isEmpty() ? QStringList() : QStringList(c.line)) << c.name;
        if (auto stream = lastStream(); stream && c.startRequests == 0) {
            EXPECT_EQ(stream->startRequests(), 0) << c.name;
        }

        EXPECT_FALSE(stopAndWait(engine)) << c.name;
        EXPECT_TRUE(LogRecorder::lines().contains(QStringLiteral("STOP: no stream yet (cancelled set) → nil project")))
            << c.name;
        EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore) << c.name;
    }
    EXPECT_EQ(CaptureFailure(CaptureError::noDisplay).description(),
        QStringLiteral("No display is available to record. (Quillo.CaptureError error 0.)"));
}

TEST_F(CaptureEngineTest, StopBeforeLaunch_CancelsTheStart_WithoutAStream)
{
    service->hold(SyntheticCaptureBackend::Step::screens);
    auto engine = makeEngine();
    auto started = start(engine, {100, 200, 640, 480});
    auto stopped = stop(engine);
    ASSERT_TRUE(waitUntil([&] { return stopped->called; }));
    EXPECT_FALSE(stopped->project);
    EXPECT_FALSE(started->called);
    // A backend waiting for the user's consent hears of the stop at once.
    EXPECT_EQ(service->cancelledQueries(), 1);

    service->release(SyntheticCaptureBackend::Step::screens);
    ASSERT_TRUE(waitUntil([&] { return started->called; }));
    EXPECT_FALSE(started->error);
    EXPECT_TRUE(service->streams().empty()); // none made, none started
    EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore);

    const QStringList lines = LogRecorder::lines();
    const qsizetype stopLine = lines.indexOf(QStringLiteral("STOP: no stream yet (cancelled set) → nil project"));
    const qsizetype abortLine = lines.indexOf(QStringLiteral("start: cancelled before launch — aborting"));
    EXPECT_GT(lines.indexOf(QStringLiteral("STOP requested (main)")), 0);
    EXPECT_GT(stopLine, 0);
    EXPECT_GT(abortLine, stopLine);
    EXPECT_FALSE(lines.contains(QStringLiteral("startCapture OK")));
}

TEST_F(CaptureEngineTest, StopWhileStarting_StopsTheLaunchedStream)
{
    service->hold(SyntheticCaptureBackend::Step::start);
    auto engine = makeEngine();
    auto started = start(engine, {100, 200, 640, 480});
    ASSERT_TRUE(waitUntil([&] { return lastStream() && lastStream()->startRequests() == 1; }));
    EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore + 1);
    auto stopped = stop(engine);
    service->release(SyntheticCaptureBackend::Step::start);
    ASSERT_TRUE(waitUntil([&] { return stopped->called && started->called; }));
    EXPECT_FALSE(started->error);
    EXPECT_TRUE(lastStream()->wasStopped());
    EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore);
}

TEST_F(CaptureEngineTest, StopWhileRunning_BuildsTheProjectFromTheKeptFrames_EvenWhenTheStopAnswerIsAnError)
{
    for (const bool stopFails : {false, true}) {
        LogRecorder::clear();
        SyntheticCaptureBackend::Faults faults;
        if (stopFails)
            faults.stopError = SyntheticCaptureBackend::syntheticError(QStringLiteral("stop"));
        service->setFaults(faults);

        auto first = makeEngine();
        auto second = makeEngine();
        startAndWait(first);
        const QImage a = solid(0xffff0000), b = solid(0xff00ff00), c = solid(0xff0000ff);
        deliver({frameAt(10.0, a), frameAt(10.05, b), frameAt(10.1, c)});
        startAndWait(second);
        EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore + 2);

        GifProjectRef project = stopAndWait(first);
        EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore + 1);
        ASSERT_TRUE(project);
        EXPECT_EQ(delaysOf(project), (std::vector<int64_t> {50, 50, 66}));
        EXPECT_EQ(project->fps, 15);
        EXPECT_EQ(project->loopCount, 0);
        // The frames share the delivered pixels; nothing was copied.
        EXPECT_EQ(project->frames[0]->image().cacheKey(), a.cacheKey());
        EXPECT_EQ(project->frames[2]->image().cacheKey(), c.cacheKey());

        const QStringList lines = LogRecorder::lines();
        EXPECT_TRUE(lines.contains(QStringLiteral("building; captured=3 status=[0: 3] convFail=0")));
        EXPECT_TRUE(lines.contains(QStringLiteral("buildProject → 3 frames")));
        EXPECT_EQ(LogRecorder::linesStartingWith(QStringLiteral("stopCapture err: ")).size(), stopFails ? 1 : 0);

        EXPECT_FALSE(stopAndWait(second));
        EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore);
        EXPECT_TRUE(LogRecorder::lines().contains(QStringLiteral("buildProject → -1 frames")));
    }
}

TEST_F(CaptureEngineTest, StreamEndingByItself_TellsTheCaller_AndStopKeepsTheFramesSoFar)
{
    auto engine = makeEngine();
    std::vector<CaptureFailure> endings;
    engine->onStreamEnded = [&](const CaptureFailure &f) {
        EXPECT_TRUE(isMainThread());
        endings.push_back(f);
    };
    startAndWait(engine);
    deliver({frameAt(1.0), frameAt(1.1)});
    clock = 3.0;
    const CaptureFailure interrupted = SyntheticCaptureBackend::syntheticError(QStringLiteral("stream interrupted"));
    lastStream()->fail(interrupted);
    ASSERT_TRUE(waitUntil([&] { return CaptureEngine::liveStreamCount() == liveBefore && endings.size() == 1; }));
    EXPECT_EQ(endings[0], interrupted);

    clock = 5.0;
    GifProjectRef project = stopAndWait(engine);
    ASSERT_TRUE(project);
    // The last picture was on screen until the stream ended, not until Stop.
    EXPECT_EQ(delaysOf(project), (std::vector<int64_t> {100, 1900}));
    const QString failure = QStringLiteral(
        "capture stream stopped with error: Error Domain=Quillo.SyntheticCapture Code=1 \"Synthetic failure: stream "
        "interrupted.\"");
    EXPECT_TRUE(LogRecorder::warnings().contains(failure));
    EXPECT_FALSE(LogRecorder::lines().contains(failure)); // the system log only
    EXPECT_TRUE(LogRecorder::lines().contains(
        QStringLiteral("STOP: the stream had ended by itself → building from the kept frames")));
    EXPECT_TRUE(LogRecorder::lines().contains(QStringLiteral("buildProject → 2 frames")));
    EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore);
}

TEST_F(CaptureEngineTest, LastFrame_LastsUntilTheStop_ButACappedRecordingKeepsTheNominalDelay)
{
    struct Case {
        const char *name;
        double stopAt;
        int64_t maxFrames;
        bool variable;
        std::vector<int64_t> delays;
    };
    const Case cases[] = {
        {"held for three seconds", 4.1, 3000, true, {100, 3000}},
        {"stopped at once: the nominal delay", 1.11, 3000, true, {100, 66}},
        {"capped: cut, not held", 4.1, 2, true, {100, 66}},
        {"fixed rate: every delay nominal", 4.1, 3000, false, {66, 66}},
    };
    for (const Case &c : cases) {
        auto engine = makeEngine();
        engine->maxFrames = c.maxFrames;
        engine->variableFrameRate = c.variable;
        startAndWait(engine);
        deliver({frameAt(1.0), frameAt(1.1)});
        clock = c.stopAt;
        GifProjectRef project = stopAndWait(engine);
        ASSERT_TRUE(project) << c.name;
        EXPECT_EQ(delaysOf(project), c.delays) << c.name;
    }
}

TEST_F(CaptureEngineTest, MaxFrames_StopsIntakeAtExactlyThatMany_AndFiresAutoStopOnce)
{
    auto engine = makeEngine();
    engine->maxFrames = 3;
    std::vector<int64_t> counts;
    int autoStops = 0;
    engine->onFrame = [&](int64_t n) {
        EXPECT_TRUE(isMainThread());
        counts.push_back(n);
    };
    engine->onAutoStop = [&] { ++autoStops; };
    startAndWait(engine);
    deliver({frameAt(0.0), frameAt(0.1), frameAt(0.2), frameAt(0.3), frameAt(0.4)});
    ASSERT_TRUE(waitUntil([&] { return autoStops == 1 && counts.size() == 3; }));
    GifProjectRef project = stopAndWait(engine);
    ASSERT_TRUE(project);
    EXPECT_EQ(project->frames.size(), 3u);
    EXPECT_EQ(counts, (std::vector<int64_t> {1, 2, 3}));
    EXPECT_EQ(autoStops, 1);
}

TEST_F(CaptureEngineTest, LowMemory_EndsTheRecordingWhileThereIsRoom_KeepingEveryFrameSoFar)
{
    auto engine = makeEngine();
    // Plenty of room after the first two frames; after the third, less than
    // the reserve.
    std::atomic<int> measured {0};
    engine->memoryHeadroom = [&]() -> std::optional<int64_t> {
        return ++measured < 3 ? MemoryHeadroom::reserveFor(0) * 4 : MemoryHeadroom::reserveFor(0);
    };
    std::vector<int64_t> counts;
    std::vector<CaptureFailure> endings;
    engine->onFrame = [&](int64_t n) { counts.push_back(n); };
    engine->onStreamEnded = [&](const CaptureFailure &f) { endings.push_back(f); };
    startAndWait(engine);
    deliver({frameAt(1.0), frameAt(1.1), frameAt(1.2), frameAt(1.3), frameAt(1.4)});
    ASSERT_TRUE(waitUntil([&] { return endings.size() == 1; }));
    EXPECT_EQ(endings[0].captureError(), CaptureError::lowMemory);
    EXPECT_EQ(endings[0].description(),
        QStringLiteral("Memory was running low, so the recording stopped before it ran out."));
    GifProjectRef project = stopAndWait(engine);
    ASSERT_TRUE(project);
    // The third frame was kept, then nothing more; the counter never went
    // past what was kept.
    EXPECT_EQ(project->frames.size(), 3u);
    EXPECT_EQ(counts, (std::vector<int64_t> {1, 2, 3}));
    EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore);
}

TEST_F(CaptureEngineTest, WithAStore_FramesAreKeptInIt_AsTheyCame)
{
    QTemporaryDir dir;
    FrameStore::Options options;
    options.root = dir.path();
    const std::shared_ptr<FrameStore> store = FrameStore::create(RecordingInfo {}, options).store;
    ASSERT_TRUE(store);
    auto engine = makeEngine();
    engine->store = store;
    startAndWait(engine);
    // Opaque screen pixels as X delivers them (alpha undefined), and one
    // frame already premultiplied.
    std::vector<QImage> sent;
    for (int i = 0; i < 3; ++i)
        sent.push_back(StoreTest::screen({320, 200}, 4 * i, i, QImage::Format_RGB32));
    sent.push_back(StoreTest::screen({320, 200}, 12, 3));
    deliver({frameAt(1.0, sent[0]), frameAt(1.1, sent[1]), frameAt(1.2, sent[2]), frameAt(1.3, sent[3])});
    GifProjectRef project = stopAndWait(engine);
    ASSERT_TRUE(project);
    ASSERT_EQ(project->frames.size(), 4u);
    EXPECT_FALSE(store->waitForWrites());
    EXPECT_EQ(store->stats().framesWritten, 4);
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(project->frames[i]->pixels()->store(), store) << i;
        EXPECT_EQ(project->frames[i]->image(), sent[i].convertToFormat(QImage::Format_ARGB32_Premultiplied)) << i;
    }
}

// A full disk ends the recording as a stream that ended would, and the frames
// kept until then reach the editor, readable.
TEST_F(CaptureEngineTest, AFullDisk_EndsTheRecordingWithItsFramesAndSaysSo)
{
    const SmallDisk disk(QStringLiteral("1m"));
    if (!disk.mounted())
        GTEST_SKIP() << "needs root to mount a 1 MB tmpfs for a full disk";
    FrameStore::Options options;
    options.root = disk.path();
    const std::shared_ptr<FrameStore> store = FrameStore::create(RecordingInfo {}, options).store;
    ASSERT_TRUE(store);
    int storeErrors = 0;
    store->onError = [&](const StoreError &) { ++storeErrors; };

    auto engine = makeEngine();
    engine->store = store;
    std::vector<CaptureFailure> endings;
    std::atomic<int64_t> counted {0};
    engine->onFrame = [&](int64_t n) { counted = n; };
    engine->onStreamEnded = [&](const CaptureFailure &f) { endings.push_back(f); };
    startAndWait(engine);
    // Noise does not compress: 40 kB a frame, about 25 fill the disk.
    std::vector<QImage> sent;
    for (int i = 0; i < 80 && endings.empty(); ++i) {
        sent.push_back(StoreTest::noise({100, 100}, uint32_t(i)));
        deliver({frameAt(i / 30.0, sent.back())});
        store->waitForWrites();
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(waitUntil([&] { return endings.size() == 1; }));
    EXPECT_EQ(endings[0].captureError(), CaptureError::diskFull);
    EXPECT_EQ(endings[0].description(), QStringLiteral("The disk is full, so the recording stopped."));
    EXPECT_EQ(storeErrors, 1); // the handler set before the engine's still hears of it
    EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore);
    EXPECT_EQ(LogRecorder::linesStartingWith(QStringLiteral("frame store failed after ")).size(), 1);

    GifProjectRef project = stopAndWait(engine);
    ASSERT_TRUE(project);
    EXPECT_GT(project->frames.size(), 5u);
    EXPECT_LT(project->frames.size(), 80u);
    EXPECT_EQ(int64_t(project->frames.size()), counted.load());
    for (size_t i = 0; i < project->frames.size(); ++i)
        EXPECT_EQ(project->frames[i]->image(), sent[i]) << i;
}

TEST(MemoryHeadroom, AGroupsInactivePageCacheIsNotCountedAsUsed)
{
    // A recording's frame store writes hundreds of megabytes that a group's
    // usage counts until the kernel takes them back; they must not end it.
    constexpr int64_t MiB = 1 << 20;
    const QByteArray v1 = "4:memory:/rec\n0::/\n";
    const QByteArray v2 = "0::/rec\n";
    struct Case {
        const char *name;
        QByteArray membership;
        std::map<QString, QByteArray> files;
        std::optional<int64_t> room;
    };
    const QString g1 = QStringLiteral("/sys/fs/cgroup/memory/rec/"), g2 = QStringLiteral("/sys/fs/cgroup/rec/");
    const Case cases[] = {
        {"v1", v1,
            {{g1 + "memory.limit_in_bytes", "2147483648\n"}, {g1 + "memory.usage_in_bytes", "1610612736\n"},
                {g1 + "memory.stat", "cache 700000000\ninactive_file 1\ntotal_inactive_file 629145600\n"}},
            2048 * MiB - (1536 - 600) * MiB},
        {"v2", v2,
            {{g2 + "memory.max", "2147483648\n"}, {g2 + "memory.current", "1610612736\n"},
                {g2 + "memory.stat", "anon 1\nfile 700000000\ninactive_file 629145600\nactive_file 5\n"}},
            2048 * MiB - (1536 - 600) * MiB},
        {"v1 without a memory.stat", v1,
            {{g1 + "memory.limit_in_bytes", "2147483648"}, {g1 + "memory.usage_in_bytes", "1610612736"}}, 512 * MiB},
        {"v2 without a limit", v2, {{g2 + "memory.max", "max\n"}, {g2 + "memory.current", "1610612736\n"}},
            std::nullopt},
        {"v1 without a limit", v1,
            {{g1 + "memory.limit_in_bytes", "9223372036854771712\n"}, {g1 + "memory.usage_in_bytes", "1000\n"}},
            std::nullopt},
        {"the tighter of two groups", "4:memory:/rec\n0::/rec\n",
            {{g1 + "memory.limit_in_bytes", "2147483648"}, {g1 + "memory.usage_in_bytes", "1073741824"},
                {g2 + "memory.max", "1610612736"}, {g2 + "memory.current", "1073741824"}},
            512 * MiB},
    };
    for (const Case &c : cases) {
        const auto read = [&](const QString &path) -> std::optional<QByteArray> {
            const auto it = c.files.find(path);
            return it == c.files.end() ? std::nullopt : std::optional(it->second);
        };
        EXPECT_EQ(MemoryHeadroom::cgroupRoom(c.membership, read), c.room) << c.name;
    }
}

TEST_F(CaptureEngineTest, Intake_KeepsOnlyUsableScreenFrames_AndCountsWhatItSaw)
{
    auto withStatus = [](FrameStatus status, QImage image, double pts = 1.0) {
        CaptureFrame f;
        f.status = status;
        f.image = std::move(image);
        f.presentationTime = pts;
        return f;
    };
    struct Case {
        const char *name;
        CaptureFrame frame;
        QString building; // the assembly line after this one frame
    };
    const QImage good = solid(0xff102030);
    const Case cases[] = {
        {"a complete frame", frameAt(1.0), QStringLiteral("building; captured=1 status=[0: 1] convFail=0")},
        {"an idle notice", withStatus(FrameStatus::idle, QImage()),
            QStringLiteral("building; captured=0 status=[1: 1] convFail=0")},
        {"an idle notice is not kept, even with pixels", withStatus(FrameStatus::idle, good),
            QStringLiteral("building; captured=0 status=[1: 1] convFail=0")},
        {"pixels that do not convert", withStatus(FrameStatus::complete, QImage(8, 8, QImage::Format_Mono)),
            QStringLiteral("building; captured=0 status=[0: 1] convFail=1")},
        {"a complete frame without pixels", withStatus(FrameStatus::complete, QImage()),
            QStringLiteral("building; captured=0 status=[0: 1] convFail=1")},
        {"a time that is not finite", withStatus(FrameStatus::complete, good, std::nan("")),
            QStringLiteral("building; captured=0 status=[0: 1] convFail=0")},
    };
    for (const Case &c : cases) {
        LogRecorder::clear();
        auto engine = makeEngine();
        std::vector<int64_t> counts;
        engine->onFrame = [&](int64_t n) { counts.push_back(n); };
        startAndWait(engine);
        lastStream()->deliver(c.frame);
        lastStream()->waitForDelivery();
        stopAndWait(engine);
        EXPECT_EQ(LogRecorder::linesStartingWith(QStringLiteral("building;")), QStringList(c.building)) << c.name;
        const bool kept = c.building.contains(QStringLiteral("captured=1"));
        EXPECT_EQ(counts.size(), kept ? 1u : 0u) << c.name;
    }
}

TEST_F(CaptureEngineTest, Intake_IgnoresFramesWhilePaused)
{
    auto engine = makeEngine();
    startAndWait(engine);
    deliver({frameAt(0.0)});
    engine->setPaused(true);
    deliver({frameAt(0.5), frameAt(0.6)});
    engine->setPaused(false);
    deliver({frameAt(2.0)});
    GifProjectRef project = stopAndWait(engine);
    ASSERT_TRUE(project);
    // The pause shows as one long delay on the frame before it.
    EXPECT_EQ(delaysOf(project), (std::vector<int64_t> {2000, 66}));
}

TEST_F(CaptureEngineTest, Intake_LogsTheFirstFrameAndEveryFifteenth)
{
    auto engine = makeEngine();
    startAndWait(engine);
    auto stream = lastStream();
    for (int i = 0; i < 31; ++i)
        stream->deliver(frameAt(i * 0.1));
    stream->deliver(frameAt(4.0, QImage())); // a conversion failure, reported from then on
    for (int i = 0; i < 14; ++i)
        stream->deliver(frameAt(5.0 + i * 0.1));
    stream->waitForDelivery();
    EXPECT_EQ(LogRecorder::linesStartingWith(QStringLiteral("first frame ")),
        QStringList(QStringLiteral("first frame 64x48")));
    EXPECT_EQ(LogRecorder::linesStartingWith(QStringLiteral("frames=")),
        QStringList({QStringLiteral("frames=15 status=[0: 15] convFail=0"),
            QStringLiteral("frames=30 status=[0: 30] convFail=0"),
            QStringLiteral("frames=45 status=[0: 46] convFail=1")}));
    stopAndWait(engine);
}

TEST_F(CaptureEngineTest, Intake_OpaqueBgrxPixels_BecomeOpaquePremultipliedFrames)
{
    QImage bgrx(4, 2, QImage::Format_RGB32);
    for (int y = 0; y < bgrx.height(); ++y) {
        auto *row = reinterpret_cast<uint32_t *>(bgrx.scanLine(y));
        for (int x = 0; x < bgrx.width(); ++x)
            row[x] = 0x00123456; // X leaves the top byte undefined, often zero
    }
    auto engine = makeEngine();
    startAndWait(engine);
    deliver({frameAt(0.0, bgrx)});
    GifProjectRef project = stopAndWait(engine);
    ASSERT_TRUE(project);
    const QImage image = project->frames[0]->image();
    EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(image.pixel(3, 1), 0xff123456u);
}

TEST_F(CaptureEngineTest, DroppingALiveEngine_StopsItsStream_AndLowersTheLiveCount)
{
    auto engine = makeEngine();
    startAndWait(engine);
    auto stream = lastStream();
    ASSERT_EQ(CaptureEngine::liveStreamCount(), liveBefore + 1);
    engine.reset();
    EXPECT_TRUE(waitUntil([&] { return CaptureEngine::liveStreamCount() == liveBefore && stream->wasStopped(); }));
}

TEST(CaptureEngineBuildProject, DelaysComeFromTheTimestamps)
{
    struct Case {
        const char *name;
        std::vector<double> times; // arrival order; frame i is identified by its index
        int64_t fps;
        bool variable;
        std::vector<int> order;
        std::vector<int64_t> delays;
        std::optional<double> end = std::nullopt;
    };
    const double nan = std::nan("");
    const Case cases[] = {
        {"measured gaps, nominal last", {0.0, 0.05, 0.1}, 15, true, {0, 1, 2}, {50, 50, 66}},
        {"the last lasts until the end", {0.0, 0.05, 0.1}, 15, true, {0, 1, 2}, {50, 50, 2900}, 3.0},
        {"an end sooner than the nominal delay", {0.0, 0.1}, 15, true, {0, 1}, {100, 66}, 0.12},
        {"an end before the last frame", {0.0, 0.1}, 15, true, {0, 1}, {100, 66}, 0.05},
        {"an end that is not a number", {0.0, 0.1}, 15, true, {0, 1}, {100, 66}, nan},
        {"an end too far for milliseconds", {0.0, 0.1}, 15, true, {0, 1}, {100, 66}, 1e300},
        {"fixed rate ignores the end", {0.0, 0.1}, 15, false, {0, 1}, {66, 66}, 3.0},
        {"fixed rate", {0.0, 0.05, 0.1}, 15, false, {0, 1, 2}, {66, 66, 66}},
        {"floor of 10 ms", {0.0, 0.004, 0.5}, 15, true, {0, 1, 2}, {10, 496, 66}},
        {"equal times keep arrival order", {0.1, 0.1}, 15, true, {0, 1}, {10, 66}},
        {"out of order times are sorted", {0.2, 0.1, 0.3}, 15, true, {1, 0, 2}, {100, 100, 66}},
        {"a two-second gap", {0.0, 2.0}, 15, true, {0, 1}, {2000, 66}},
        {"half a millisecond rounds away", {0.0, 0.0125}, 30, true, {0, 1}, {13, 33}},
        {"one frame at fps 0", {3.0}, 0, true, {0}, {1000}},
        {"a gap too large for milliseconds gets the nominal delay", {0.0, 1e300}, 15, true, {0, 1}, {66, 66}},
    };
    for (const Case &c : cases) {
        std::vector<CaptureEngine::CapturedFrame> frames;
        for (size_t i = 0; i < c.times.size(); ++i)
            frames.push_back({StoredFrame::fromImage(solid(qRgb(int(i), 0, 0), {2, 2})), c.times[i]});
        GifProjectRef project = CaptureEngine::buildProject(frames, c.fps, c.variable, c.end);
        ASSERT_TRUE(project) << c.name;
        EXPECT_EQ(delaysOf(project), c.delays) << c.name;
        std::vector<int> order;
        for (const GifFrameRef &f : project->frames)
            order.push_back(qRed(f->image().pixel(0, 0)));
        EXPECT_EQ(order, c.order) << c.name;
        EXPECT_EQ(project->fps, c.fps) << c.name;
        EXPECT_EQ(project->loopCount, 0) << c.name;
    }
    EXPECT_FALSE(CaptureEngine::buildProject({}, 15, true, 1.0));
}

TEST(CaptureEngineBuildProject, NominalDelayIsTruncated)
{
    const std::pair<int64_t, int64_t> cases[]
        = {{15, 66}, {30, 33}, {60, 16}, {24, 41}, {10, 100}, {1, 1000}, {0, 1000}, {-5, 1000}};
    for (const auto &[fps, delay] : cases) {
        GifProjectRef project = CaptureEngine::buildProject(
            {{StoredFrame::fromImage(solid(0xff000000, {2, 2})), 0.0}}, fps, true, std::nullopt);
        ASSERT_TRUE(project);
        EXPECT_EQ(project->frames[0]->delayMs, delay) << fps;
    }
}

TEST(CaptureError, NoDisplay_IsEqualToItself_AndReadable)
{
    const CaptureFailure a(CaptureError::noDisplay), b(CaptureError::noDisplay);
    EXPECT_EQ(a, b);
    EXPECT_EQ(qHash(a), qHash(b));
    EXPECT_EQ(a.code(), 0);
    EXPECT_EQ(a.captureError(), CaptureError::noDisplay);
    EXPECT_FALSE(SyntheticCaptureBackend::syntheticError(QStringLiteral("x")).captureError());
    EXPECT_FALSE(a == SyntheticCaptureBackend::syntheticError(QStringLiteral("x")));
    EXPECT_EQ(a.toString(),
        QStringLiteral(
            "Error Domain=Quillo.CaptureError Code=0 \"No display is available to record. (Quillo.CaptureError error "
            "0.)\""));
}

TEST_F(CaptureEngineTest, SyntheticBackend_ChosenByTheEnvironment_RecordsItsScene_OrFailsWhereTold)
{
    qputenv("QUILLO_CAPTURE_BACKEND", "synthetic");
    struct Case {
        const char *fault;
        bool startFails;
        bool project;
    };
    // "midstream": the stream ends by itself after five frames, which stop
    // still delivers.
    const Case cases[] = {{"", false, true}, {"start", true, false}, {"midstream", false, true}};
    for (const Case &c : cases) {
        qputenv("QUILLO_SYNTHETIC_FAULT", c.fault);
        auto engine = std::make_shared<CaptureEngine>();
        engine->fps = 60;
        int64_t frames = 0;
        engine->onFrame = [&](int64_t n) { frames = n; };
        auto result = startAndWait(engine, {0, 0, 320, 200}, ScreenInfo {});
        EXPECT_EQ(bool(result->error), c.startFails) << c.fault;
        if (!c.startFails && c.project) {
            EXPECT_TRUE(waitUntil([&] { return frames >= 3; })) << c.fault;
        }
        if (QByteArray(c.fault) == "midstream") {
            EXPECT_TRUE(waitUntil([&] { return CaptureEngine::liveStreamCount() == liveBefore; })) << c.fault;
        }
        GifProjectRef project = stopAndWait(engine);
        EXPECT_EQ(bool(project), c.project) << c.fault;
        if (project) {
            if (QByteArray(c.fault) == "midstream") {
                EXPECT_EQ(project->frames.size(), 5u);
            }
            EXPECT_GE(project->frames.size(), 3u);
            EXPECT_EQ(project->frames[0]->size(), QSize(320, 200));
        }
        EXPECT_EQ(CaptureEngine::liveStreamCount(), liveBefore) << c.fault;
    }
    qunsetenv("QUILLO_CAPTURE_BACKEND");
    qunsetenv("QUILLO_SYNTHETIC_FAULT");
}
