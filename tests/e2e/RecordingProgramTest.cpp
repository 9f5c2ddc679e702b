// The built program on a private X server, driven by real X input (xdotool)
// and watched through screenshots and its log file, as a user would see it.
#include "capture/X11TestDisplay.h"
#include "store/FrameStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>

namespace {

const QSize screenSize {1280, 1024};
// The first region: 640 x 420 centred on the screen, in X's top-left pixels.
const QRect firstRegion {320, 302, 640, 420};

bool near(QRgb pixel, QColor colour, int tolerance)
{
    return std::abs(qRed(pixel) - colour.red()) <= tolerance && std::abs(qGreen(pixel) - colour.green()) <= tolerance
        && std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

bool isLime(QRgb p)
{
    return near(p, QColor(199, 255, 0), 40);
}
// The pill's 1-pixel outline, blended with the dark fill.
bool isGreenish(QRgb p)
{
    return qGreen(p) >= 120 && qGreen(p) > qRed(p) + 20 && qBlue(p) < 60;
}
bool isRecRed(QRgb p)
{
    return near(p, QColor(255, 69, 59), 40);
}
bool isPanel(QRgb p)
{
    return near(p, QColor(28, 31, 28), 8);
}

// The region the lime border encloses, found by walking out from a point
// inside it to the first border pixel on each side: the border is drawn 2
// pixels either side of the region's edges.
std::optional<QRect> borderAround(const QImage &shot, QPoint inside)
{
    const auto walk = [&](int dx, int dy) -> std::optional<int> {
        for (QPoint p = inside; shot.rect().contains(p); p += QPoint(dx, dy)) {
            if (isLime(shot.pixel(p)))
                return dx ? p.x() : p.y();
        }
        return std::nullopt;
    };
    const auto left = walk(-1, 0), right = walk(1, 0), top = walk(0, -1), bottom = walk(0, 1);
    if (!left || !right || !top || !bottom)
        return std::nullopt;
    return QRect(QPoint(*left - 1, *top - 1), QPoint(*right + 1, *bottom + 1));
}

// Wide runs of one kind of pixel along a row: the bar's fields, buttons.
struct PixelRun {
    int from;
    int to;
    int mid() const { return (from + to) / 2; }
    int width() const { return to - from + 1; }
};

std::vector<PixelRun> runs(
    const QImage &shot, int y, int x0, int x1, const std::function<bool(QRgb)> &inRun, int minWidth)
{
    std::vector<PixelRun> out;
    std::optional<int> start;
    for (int x = x0; x <= x1 + 1; ++x) {
        const bool in = x <= x1 && inRun(shot.pixel(x, y));
        if (in && !start)
            start = x;
        if (!in && start) {
            if (x - *start >= minWidth)
                out.push_back({*start, x - 1});
            start.reset();
        }
    }
    return out;
}

class RecordingProgram : public ::testing::TestWithParam<X11TestDisplay::Desktop> {
protected:
    void SetUp() override
    {
        for (const char *tool : {"xdotool", "import"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        }
        display = std::make_unique<X11TestDisplay>(screenSize, GetParam());
        ASSERT_TRUE(display->isRunning()) << display->failure().toStdString();
        ASSERT_TRUE(state.isValid());
    }

    void TearDown() override
    {
        if (program && program->state() != QProcess::NotRunning) {
            program->kill();
            program->waitForFinished(5000);
        }
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display->name());
        env.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
        // The program remembers its region: each test starts from none.
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), state.filePath(QStringLiteral("config")));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("QUILLO_CAPTURE_BACKEND"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
        return env;
    }

    void launch(const QStringList &arguments = {})
    {
        program = std::make_unique<QProcess>();
        program->setProcessEnvironment(environment());
        program->start(QStringLiteral(QUILLO_PROGRAM), arguments);
        ASSERT_TRUE(program->waitForStarted(10000));
        clock.start();
        errorLines.clear();
        pendingError.clear();
    }

    // The settings the program finds at start, as the user's would be.
    void remember(const QString &key, const QString &value) const
    {
        QDir().mkpath(state.filePath(QStringLiteral("config/Quillo")));
        QFile file(state.filePath(QStringLiteral("config/Quillo/Quillo.conf")));
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(QStringLiteral("[General]\n%1=%2\n").arg(key, value).toUtf8());
    }

    // The program's log lines as they reach standard error (the log file
    // starts again with each recording), with when each arrived.
    struct ErrorLine {
        QString text;
        qint64 atMs;
    };
    void readErrors(int waitMs = 20)
    {
        program->waitForReadyRead(waitMs);
        pendingError += program->readAllStandardError();
        qsizetype end;
        while ((end = pendingError.indexOf('\n')) >= 0) {
            errorLines.push_back({QString::fromUtf8(pendingError.left(end)), clock.elapsed()});
            pendingError.remove(0, end + 1);
        }
    }
    // When the first line containing `text` arrived; `meanwhile` runs between
    // reads (to keep something on the screen changing).
    std::optional<qint64> waitForError(
        const QString &text, int timeoutMs = 10000, const std::function<void()> &meanwhile = {})
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            for (const ErrorLine &line : errorLines) {
                if (line.text.contains(text))
                    return line.atMs;
            }
            if (deadline.hasExpired() || program->state() == QProcess::NotRunning)
                return std::nullopt;
            if (meanwhile)
                meanwhile();
            readErrors(40);
        }
    }
    QString errors() const
    {
        QString all;
        for (const ErrorLine &line : errorLines)
            all += line.text + QLatin1Char('\n');
        return all;
    }

    // Runs a self-test mode to its end, changing `client`'s colour every
    // 50 ms meanwhile so there is something to record.
    QString runMode(const QString &option, std::optional<xcb_window_t> client = std::nullopt)
    {
        launch({option});
        QDeadlineTimer deadline(60000);
        int tick = 0;
        while (program->state() != QProcess::NotRunning && !deadline.hasExpired()) {
            if (client)
                display->setColour(*client, (++tick % 2) ? qRgb(40, 90, 200) : qRgb(200, 60, 160));
            program->waitForFinished(50);
        }
        return QString::fromUtf8(program->readAllStandardOutput());
    }

    bool xdotool(const QStringList &arguments) const
    {
        QProcess run;
        run.setProcessEnvironment(environment());
        run.start(QStringLiteral("xdotool"), arguments);
        return run.waitForFinished(10000) && run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0;
    }

    bool click(QPoint p) const
    {
        return xdotool({"mousemove", QString::number(p.x()), QString::number(p.y()), "click", "1"});
    }

    bool drag(QPoint from, QPoint by) const
    {
        const QPoint half = from + by / 2, to = from + by;
        return xdotool({"mousemove", QString::number(from.x()), QString::number(from.y()), "mousedown", "1",
            "mousemove", QString::number(half.x()), QString::number(half.y()), "mousemove", QString::number(to.x()),
            QString::number(to.y()), "mouseup", "1"});
    }

    QImage screenshot() const
    {
        QProcess run;
        run.setProcessEnvironment(environment());
        run.start(QStringLiteral("import"), {"-window", "root", "png:-"});
        if (!run.waitForFinished(20000))
            return {};
        return QImage::fromData(run.readAllStandardOutput(), "PNG").convertToFormat(QImage::Format_RGB32);
    }

    // The lime border's region once it is on screen and stands still.
    std::optional<QRect> waitForBorder(QPoint inside, std::optional<QRect> expected = std::nullopt)
    {
        std::optional<QRect> last;
        QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired()) {
            const std::optional<QRect> now = borderAround(screenshot(), inside);
            if (now && now == last && (!expected || now == expected))
                return now;
            last = now;
            QThread::msleep(100);
        }
        return last;
    }

    QString log() const
    {
        QFile file(state.filePath(QStringLiteral("Quillo/Quillo.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    bool waitForLog(const QString &text, int timeoutMs = 10000) const
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!log().contains(text)) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(50);
        }
        return true;
    }

    // The control bar's fields and buttons, left to right, along a row of
    // the bar inside `region` that passes above their texts.
    std::vector<PixelRun> barControls(const QImage &shot, const QRect &region) const
    {
        const int y = region.bottom() - 8 - 23 - 8;
        return runs(
            shot, y, region.left(), region.right(), [](QRgb p) { return qGray(p) > 200; }, 24);
    }

    // The bar's eight controls fully on the screen, each as wide as in
    // `reference` (the bar seen whole): nothing cut off at an edge.
    void expectWholeBar(
        const std::vector<PixelRun> &controls, const std::vector<PixelRun> &reference, const std::string &where) const
    {
        ASSERT_EQ(controls.size(), reference.size()) << where;
        for (size_t i = 0; i < controls.size(); ++i) {
            EXPECT_EQ(controls[i].width(), reference[i].width()) << where << ", control " << i;
            EXPECT_GE(controls[i].from, 0) << where;
            EXPECT_LT(controls[i].to, screenSize.width()) << where;
        }
    }

    std::unique_ptr<X11TestDisplay> display;
    std::unique_ptr<QProcess> program;
    QTemporaryDir state;
    QElapsedTimer clock;
    std::vector<ErrorLine> errorLines;
    QByteArray pendingError;
};

// Where the top bar's middle is for a region: above it, or inside its top
// when there is no room above.
QPoint topBarHandle(const QRect &region)
{
    const bool above = region.top() - 7 - 22 >= 4;
    return {region.center().x(), above ? region.top() - 7 - 11 : region.top() + 6 + 11};
}

constexpr int recControl = 5;
constexpr int stopControl = 6;

} // namespace

TEST_P(RecordingProgram, Starts_WithTheFrameAroundACentredRegion)
{
    launch();
    const std::optional<QRect> region = waitForBorder(firstRegion.center(), firstRegion);
    ASSERT_EQ(region, firstRegion);
    const QImage shot = screenshot();

    // The size pill floats 7 points above the top edge: dark, a green
    // outline, white text.
    const QRect pill(firstRegion.center().x() - 20, firstRegion.top() - 7 - 22, 40, 22);
    int panel = 0, outline = 0, text = 0;
    for (int y = pill.top(); y <= pill.bottom(); ++y) {
        for (int x = pill.left(); x <= pill.right(); ++x) {
            const QRgb p = shot.pixel(x, y);
            panel += isPanel(p);
            outline += isGreenish(p);
            text += p == qRgb(255, 255, 255);
        }
    }
    EXPECT_GT(panel, 300);
    EXPECT_GE(outline, 2 * 40);
    EXPECT_GT(text, 10);

    // A white handle on each corner.
    for (const QPoint corner : {firstRegion.topLeft(), firstRegion.topRight() + QPoint(1, 0),
             firstRegion.bottomLeft() + QPoint(0, 1), firstRegion.bottomRight() + QPoint(1, 1)})
        EXPECT_EQ(shot.pixel(corner), qRgb(255, 255, 255)) << corner.x() << "," << corner.y();

    // The control bar inside the bottom: five fields, then REC (red title),
    // Stop and close.
    const std::vector<PixelRun> controls = barControls(shot, firstRegion);
    ASSERT_EQ(controls.size(), 8u);
    const int barRow = firstRegion.bottom() - 8 - 23;
    int red = 0;
    for (int x = controls[5].from; x <= controls[5].to; ++x)
        red += isRecRed(shot.pixel(x, barRow));
    EXPECT_GT(red, 0);
    EXPECT_TRUE(
        isPanel(shot.pixel(controls[0].from - 30, barRow)) || isPanel(shot.pixel(controls[0].from - 3, barRow)));
}

TEST_P(RecordingProgram, DraggingTheHandleAndTheTopBar_ResizesAndMovesTheRegion)
{
    launch();
    ASSERT_EQ(waitForBorder(firstRegion.center(), firstRegion), firstRegion);

    ASSERT_TRUE(drag(firstRegion.bottomRight() + QPoint(1, 1), {100, 50}));
    const QRect grown(firstRegion.topLeft(), QSize(740, 470));
    EXPECT_EQ(waitForBorder(firstRegion.center(), grown), grown);

    ASSERT_TRUE(drag({grown.center().x(), grown.top() - 7 - 11}, {60, 40}));
    const QRect moved = grown.translated(60, 40);
    EXPECT_EQ(waitForBorder(firstRegion.center(), moved), moved);
}

TEST_P(RecordingProgram, TypedWidthAndFrameRate_ReachTheRecording)
{
    launch();
    ASSERT_EQ(waitForBorder(firstRegion.center(), firstRegion), firstRegion);
    std::vector<PixelRun> controls = barControls(screenshot(), firstRegion);
    ASSERT_EQ(controls.size(), 8u);
    const int barRow = firstRegion.bottom() - 8 - 23;

    ASSERT_TRUE(click({controls[0].mid(), barRow}));
    ASSERT_TRUE(xdotool({"key", "ctrl+a", "type", "--delay", "30", "1920/2"}));
    ASSERT_TRUE(xdotool({"key", "Tab"}));
    // 960 wide from x = 320 reaches the screen's right edge: the bar moves
    // to the new centre.
    const QRect wide(firstRegion.topLeft(), QSize(960, 420));
    QDeadlineTimer deadline(10000);
    do {
        controls = barControls(screenshot(), wide);
    } while ((controls.size() != 8u || controls[0].from < wide.center().x() - 300) && !deadline.hasExpired());
    ASSERT_EQ(controls.size(), 8u);

    ASSERT_TRUE(click({controls[4].mid(), barRow}));
    ASSERT_TRUE(xdotool({"key", "ctrl+a", "type", "--delay", "30", "120"}));
    ASSERT_TRUE(xdotool({"key", "Tab"}));
    QThread::msleep(300);
    ASSERT_TRUE(click({controls[5].mid(), barRow}));
    ASSERT_TRUE(waitForLog(QStringLiteral("START region=")));
    EXPECT_TRUE(log().contains(QStringLiteral("START region=(320.0, 302.0, 960.0, 420.0)"))) << log().toStdString();
    EXPECT_TRUE(log().contains(QStringLiteral(" fps=60\n"))) << log().toStdString();
}

TEST_P(RecordingProgram, RecThenStopAtOnce_SkipsTheStart_AndLeavesTheFrameReady)
{
    launch();
    ASSERT_EQ(waitForBorder(firstRegion.center(), firstRegion), firstRegion);
    const std::vector<PixelRun> controls = barControls(screenshot(), firstRegion);
    ASSERT_EQ(controls.size(), 8u);
    const int barRow = firstRegion.bottom() - 8 - 23;
    const QString rec = QString::number(controls[5].mid()), stop = QString::number(controls[6].mid()),
                  row = QString::number(barRow);

    // Both clicks in one xdotool run: a few milliseconds apart.
    ASSERT_TRUE(xdotool({"mousemove", rec, row, "click", "1", "mousemove", stop, row, "click", "1"}));
    ASSERT_TRUE(waitForLog(QStringLiteral("REC: start skipped — stopped within the 0.12s defer window")))
        << log().toStdString();
    EXPECT_TRUE(log().contains(QStringLiteral("STOP tapped; engine=true")));
    EXPECT_FALSE(log().contains(QStringLiteral("START region=")));

    // "No frames captured" waits for its button; then REC records again.
    ASSERT_TRUE(xdotool({"search", "--sync", "--onlyvisible", "--name", "No frames captured"}));
    QThread::msleep(300);
    ASSERT_TRUE(xdotool({"key", "Return"}));
    ASSERT_EQ(waitForBorder(firstRegion.center(), firstRegion), firstRegion);
    ASSERT_TRUE(click({controls[5].mid(), barRow}));
    EXPECT_TRUE(waitForLog(QStringLiteral("startCapture OK"))) << log().toStdString();
}

TEST_P(RecordingProgram, SelfTestRecord_RecordsAnAnimatedWindow)
{
    QFile::remove(QStringLiteral("/tmp/quillo-headless.gif"));
    const xcb_window_t client = display->createWindow({40, 40, 300, 200}, qRgb(40, 90, 200));
    const QString out = runMode(QStringLiteral("--selftest-record"), client);
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^FRAMES=(\\d+) EXPORT=true ")).match(out);
    ASSERT_TRUE(m.hasMatch()) << out.toStdString();
    EXPECT_GT(m.captured(1).toInt(), 1);
    EXPECT_EQ(program->exitCode(), 0);
    EXPECT_TRUE(QFile::exists(QStringLiteral("/tmp/quillo-headless.gif")));
}

TEST_P(RecordingProgram, SelfTestRecord_OverAClockTickingOnceASecond_PlaysAsLongAsItRecorded)
{
    // Three pictures in two seconds: each lasts until the next, and the last
    // until the recording stopped. The GIF must play for those two seconds,
    // whichever encoder is the default.
    for (const char *tool : {"xclock", "gifsicle"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_SKIP() << tool << " is not installed";
    }
    QFile::remove(QStringLiteral("/tmp/quillo-headless.gif"));
    QProcess clock;
    clock.setProcessEnvironment(environment());
    clock.start(QStringLiteral("xclock"), {"-update", "1", "-geometry", "300x200+20+20"});
    ASSERT_TRUE(clock.waitForStarted());
    ASSERT_TRUE(xdotool({"search", "--sync", "--onlyvisible", "--class", "xclock"}));
    const QString out = runMode(QStringLiteral("--selftest-record"));
    clock.kill();
    clock.waitForFinished();
    ASSERT_TRUE(out.contains(QStringLiteral("EXPORT=true"))) << out.toStdString();
    QProcess info;
    info.start(QStringLiteral("gifsicle"), {QStringLiteral("--info"), QStringLiteral("/tmp/quillo-headless.gif")});
    ASSERT_TRUE(info.waitForFinished(10000));
    double total = 0;
    for (const QRegularExpressionMatch &m : QRegularExpression(QStringLiteral("delay (\\d+\\.\\d+)s"))
                                                .globalMatch(QString::fromUtf8(info.readAllStandardOutput())))
        total += m.captured(1).toDouble();
    EXPECT_GE(total, 1.7) << out.toStdString();
    EXPECT_LE(total, 2.4) << out.toStdString();
}

TEST_P(RecordingProgram, SelfTestStopRace_PassesAndWritesItsLine_WithoutFollowingALinkPlantedThere)
{
    // Anyone can plant a link at a fixed name in /tmp; the mode must not
    // write through it.
    const QString path = QStringLiteral("/tmp/quillo-stoprace.txt");
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString victim = scratch.filePath(QStringLiteral("victim"));
    {
        QFile file(victim);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    QFile::remove(path);
    ASSERT_TRUE(QFile::link(victim, path));
    const QString out = runMode(QStringLiteral("--selftest-stoprace"));
    EXPECT_EQ(out, QStringLiteral("STOPRACE permission=true startCalls=0 liveStreams=0 engineLeaked=false → PASS\n"));
    EXPECT_EQ(program->exitCode(), 0);
    EXPECT_FALSE(QFileInfo(path).isSymLink());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()) + QLatin1Char('\n'), out);
    QFile kept(victim);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("keep me"));
}

TEST_P(RecordingProgram, SelfTestClose_BringsTheRecordingFrameBack)
{
    const QString out = runMode(QStringLiteral("--selftest-close"));
    EXPECT_EQ(out, QStringLiteral("SURVIVED close+reopen; recorder=true\n"));
    EXPECT_EQ(program->exitCode(), 0);
    EXPECT_TRUE(log().contains(QStringLiteral("selftest-close: closing editor window\n")));
}

TEST_P(RecordingProgram, CloseButtonAndCtrlQ_EndTheProgram)
{
    launch();
    ASSERT_EQ(waitForBorder(firstRegion.center(), firstRegion), firstRegion);
    const std::vector<PixelRun> controls = barControls(screenshot(), firstRegion);
    ASSERT_EQ(controls.size(), 8u);
    ASSERT_TRUE(click({controls[7].mid(), firstRegion.bottom() - 8 - 23}));
    ASSERT_TRUE(program->waitForFinished(10000));
    EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program->exitCode(), 0);

    // The frame has no menu bar, yet answers Quit.
    launch();
    ASSERT_EQ(waitForBorder(firstRegion.center(), firstRegion), firstRegion);
    ASSERT_TRUE(xdotool({"key", "ctrl+q"}));
    ASSERT_TRUE(program->waitForFinished(10000));
    EXPECT_EQ(program->exitCode(), 0);
}

TEST_P(RecordingProgram, TypedSizesBeyondTheScreen_AreHeldToIt_AndTheBarStaysWholeAndReachable)
{
    launch();
    ASSERT_EQ(waitForBorder(firstRegion.center(), firstRegion), firstRegion);
    const std::vector<PixelRun> reference = barControls(screenshot(), firstRegion);
    ASSERT_EQ(reference.size(), 8u);
    const int barRow = firstRegion.bottom() - 8 - 23;

    // W = 99999: as wide as the screen, the height and top edge kept.
    ASSERT_TRUE(click({reference[0].mid(), barRow}));
    ASSERT_TRUE(xdotool({"key", "ctrl+a", "type", "--delay", "30", "99999"}));
    ASSERT_TRUE(xdotool({"key", "Tab"}));
    const QRect wide(0, firstRegion.top(), screenSize.width(), firstRegion.height());
    ASSERT_EQ(waitForBorder(firstRegion.center(), wide), wide);
    std::vector<PixelRun> controls = barControls(screenshot(), wide);
    expectWholeBar(controls, reference, "W=99999");

    // Then H = 99999: the whole screen.
    ASSERT_TRUE(click({controls[1].mid(), barRow}));
    ASSERT_TRUE(xdotool({"key", "ctrl+a", "type", "--delay", "30", "99999"}));
    ASSERT_TRUE(xdotool({"key", "Tab"}));
    const QRect whole({0, 0}, screenSize);
    ASSERT_EQ(waitForBorder(firstRegion.center(), whole), whole);
    controls = barControls(screenshot(), whole);
    expectWholeBar(controls, reference, "H=99999");

    // The bar still has the keyboard, so Quit still works.
    ASSERT_TRUE(xdotool({"key", "ctrl+q"}));
    ASSERT_TRUE(program->waitForFinished(10000));
    EXPECT_EQ(program->exitCode(), 0);
}

TEST_P(RecordingProgram, DragsToEachScreenEdge_StopThere_WithTheBarWhole_AndRecordWhatTheFrameShows)
{
    launch();
    ASSERT_EQ(waitForBorder(firstRegion.center(), firstRegion), firstRegion);
    const std::vector<PixelRun> reference = barControls(screenshot(), firstRegion);
    ASSERT_EQ(reference.size(), 8u);

    // Far past each edge: the pointer itself stops at the screen's edge (and
    // xdotool takes no negative positions), so the top needs a second drag
    // from where the top bar has gone.
    const int w = screenSize.width(), h = screenSize.height();
    struct Step {
        const char *edge;
        QPoint by;
        QRect expected;
    } steps[] = {
        {"right", {2000, 0}, {w - 640, 302, 640, 420}},
        {"left", {-2000, 0}, {0, 302, 640, 420}},
        {"bottom", {0, 2000}, {0, h - 420, 640, 420}},
        {"top", {0, -2000}, {0, 18, 640, 420}},
        {"top, again", {0, -2000}, {0, 0, 640, 420}},
    };
    QRect region = firstRegion;
    for (const Step &step : steps) {
        const QPoint from = topBarHandle(region);
        const QPoint to(std::clamp(from.x() + step.by.x(), 0, w - 1), std::clamp(from.y() + step.by.y(), 0, h - 1));
        ASSERT_TRUE(drag(from, to - from)) << step.edge;
        region = step.expected;
        ASSERT_EQ(waitForBorder(region.center(), region), region) << step.edge;
        expectWholeBar(barControls(screenshot(), region), reference, step.edge);
    }

    // What is recorded is what the frame shows, uncut.
    const std::vector<PixelRun> controls = barControls(screenshot(), region);
    const int barRow = region.bottom() - 8 - 23;
    ASSERT_TRUE(click({controls[recControl].mid(), barRow}));
    ASSERT_TRUE(waitForError(QStringLiteral("first frame"))) << errors().toStdString();
    ASSERT_TRUE(click({controls[stopControl].mid(), barRow}));
    ASSERT_TRUE(waitForError(QStringLiteral("STOP tapped; engine=true"))) << errors().toStdString();
    EXPECT_TRUE(errors().contains(QStringLiteral("sourceRect=(0.0, 0.0, 640.0, 420.0)"))) << errors().toStdString();
    EXPECT_FALSE(errors().contains(QStringLiteral("WARN region straddles"))) << errors().toStdString();
}

TEST_P(RecordingProgram, RecordKey_StartsAndStopsARecording_WithThePointerElsewhere)
{
    const xcb_window_t client = display->createWindow({400, 400, 300, 200}, qRgb(40, 90, 200));
    int tick = 0;
    const auto animate = [&] { display->setColour(client, (++tick % 2) ? qRgb(40, 90, 200) : qRgb(200, 60, 160)); };
    launch();
    ASSERT_EQ(waitForBorder(firstRegion.center(), firstRegion), firstRegion);
    ASSERT_TRUE(waitForError(QStringLiteral("record key Ctrl+Alt+R: X11 key grab"))) << errors().toStdString();

    // Nowhere near the frame.
    ASSERT_TRUE(display->movePointer(40, 40));
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+r"}));
    ASSERT_TRUE(waitForError(QStringLiteral("first frame"), 10000, animate)) << errors().toStdString();
    waitForError(QStringLiteral("(never)"), 1000, animate);
    ASSERT_TRUE(display->movePointer(1200, 1000));
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+r"}));
    ASSERT_TRUE(waitForError(QStringLiteral("→ opening editor with"), 10000)) << errors().toStdString();
    EXPECT_TRUE(errors().contains(QStringLiteral("record key pressed\nQuillo: STOP tapped; engine=true")))
        << errors().toStdString();
}

TEST_P(RecordingProgram, Countdown_DelaysTheFirstFrameByItsSeconds_AndStopCancelsIt)
{
    remember(QStringLiteral("countdownSeconds"), QStringLiteral("3"));
    launch();
    ASSERT_EQ(waitForBorder(firstRegion.center(), firstRegion), firstRegion);
    const std::vector<PixelRun> controls = barControls(screenshot(), firstRegion);
    ASSERT_EQ(controls.size(), 8u);
    const int barRow = firstRegion.bottom() - 8 - 23;

    // REC, then Stop during the countdown: nothing is recorded.
    ASSERT_TRUE(click({controls[recControl].mid(), barRow}));
    ASSERT_TRUE(waitForError(QStringLiteral("REC: countdown 3 s"))) << errors().toStdString();
    // The number is shown large in the middle, on a dark disc.
    const QImage during = screenshot();
    EXPECT_TRUE(isPanel(during.pixel(firstRegion.center() - QPoint(40, 0))));
    ASSERT_TRUE(click({controls[stopControl].mid(), barRow}));
    ASSERT_TRUE(waitForError(QStringLiteral("REC: countdown cancelled"))) << errors().toStdString();
    EXPECT_FALSE(waitForError(QStringLiteral("START region="), 3500)) << errors().toStdString();
    EXPECT_FALSE(isPanel(screenshot().pixel(firstRegion.center() - QPoint(40, 0))));

    // REC again, and let it run: the first frame comes three seconds later.
    ASSERT_TRUE(click({controls[recControl].mid(), barRow}));
    const int seen = static_cast<int>(errorLines.size());
    ASSERT_TRUE(waitForError(QStringLiteral("first frame"), 15000)) << errors().toStdString();
    std::optional<qint64> tapped, first;
    for (size_t i = seen; i < errorLines.size(); ++i) {
        if (!tapped && errorLines[i].text.contains(QStringLiteral("REC tapped")))
            tapped = errorLines[i].atMs;
        if (!first && errorLines[i].text.contains(QStringLiteral("first frame")))
            first = errorLines[i].atMs;
    }
    ASSERT_TRUE(tapped && first) << errors().toStdString();
    // Lines are read every 40 ms or so; the countdown cannot end early.
    EXPECT_GE(*first - *tapped, 3000 - 50) << errors().toStdString();
    EXPECT_LT(*first - *tapped, 3000 + 2000) << errors().toStdString();
}

// A bare server, a compositing manager that draws the screen, and a window
// manager that reparents and stacks windows: the frame must work on each.
INSTANTIATE_TEST_SUITE_P(Desktops, RecordingProgram,
    ::testing::Values(
        X11TestDisplay::Desktop::bare, X11TestDisplay::Desktop::compositor, X11TestDisplay::Desktop::windowManager),
    [](const ::testing::TestParamInfo<X11TestDisplay::Desktop> &info) {
        switch (info.param) {
        case X11TestDisplay::Desktop::bare:
            return std::string("bare");
        case X11TestDisplay::Desktop::compositor:
            return std::string("compositor");
        case X11TestDisplay::Desktop::windowManager:
            return std::string("windowManager");
        }
        return std::string();
    });

// Settings across restarts need one desktop only.
class RememberingProgram : public RecordingProgram { };

TEST_P(RememberingProgram, RegionAndFrameRate_SurviveARestart_AndAMissingScreenFallsBackToTheCentre)
{
    launch();
    ASSERT_EQ(waitForBorder(firstRegion.center(), firstRegion), firstRegion);
    ASSERT_TRUE(drag({firstRegion.center().x(), firstRegion.top() - 7 - 11}, {60, 40}));
    const QRect moved = firstRegion.translated(60, 40);
    ASSERT_EQ(waitForBorder(firstRegion.center(), moved), moved);
    std::vector<PixelRun> controls = barControls(screenshot(), moved);
    ASSERT_EQ(controls.size(), 8u);
    const int barRow = moved.bottom() - 8 - 23;
    ASSERT_TRUE(click({controls[4].mid(), barRow}));
    ASSERT_TRUE(xdotool({"key", "ctrl+a", "type", "--delay", "30", "24"}));
    ASSERT_TRUE(xdotool({"key", "Tab"}));
    QThread::msleep(300);
    ASSERT_TRUE(xdotool({"key", "ctrl+q"}));
    ASSERT_TRUE(program->waitForFinished(10000));

    // Started again: the frame stands where it was left, and REC records at
    // the remembered rate.
    launch();
    ASSERT_EQ(waitForBorder(moved.center(), moved), moved);
    controls = barControls(screenshot(), moved);
    ASSERT_EQ(controls.size(), 8u);
    ASSERT_TRUE(click({controls[5].mid(), barRow}));
    ASSERT_TRUE(waitForLog(QStringLiteral("START region=")));
    EXPECT_TRUE(log().contains(QStringLiteral(" fps=24\n"))) << log().toStdString();
    program->kill();
    program->waitForFinished(5000);
    // The killed recording's folder would be offered first at the next start
    // (SigtermWhileRecording covers that); here only the region matters.
    ASSERT_TRUE(QDir(state.filePath(QStringLiteral("Quillo/recordings"))).removeRecursively());

    // The screen it was on is gone: the centred default.
    const QString conf = state.filePath(QStringLiteral("config/Quillo/Quillo.conf"));
    QFile file(conf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(file.readAll());
    file.close();
    const QRegularExpression screenLine(QStringLiteral("lastRegionScreen=[^\n]*"));
    ASSERT_TRUE(screenLine.match(text).hasMatch()) << text.toStdString();
    text.replace(screenLine, QStringLiteral("lastRegionScreen=HDMI-9"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
    file.close();
    launch();
    EXPECT_EQ(waitForBorder(firstRegion.center(), firstRegion), firstRegion);
}

// A stop signal in the middle of a recording: the program ends as SIGTERM
// ends it, and the frames recorded so far are in the recording folder, with
// an index that opens as exactly those frames.
TEST_P(RememberingProgram, SigtermWhileRecording_KeepsTheFramesInTheRecordingFolder)
{
    const xcb_window_t client = display->createWindow({400, 400, 300, 200}, qRgb(40, 90, 200));
    int tick = 0;
    const auto animate = [&] { display->setColour(client, (++tick % 2) ? qRgb(40, 90, 200) : qRgb(200, 60, 160)); };
    launch();
    ASSERT_EQ(waitForBorder(firstRegion.center(), firstRegion), firstRegion);
    ASSERT_TRUE(waitForError(QStringLiteral("record key Ctrl+Alt+R: X11 key grab"))) << errors().toStdString();
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+r"}));
    ASSERT_TRUE(waitForError(QStringLiteral("first frame"), 10000, animate)) << errors().toStdString();
    waitForError(QStringLiteral("(never)"), 1500, animate);

    program->terminate();
    ASSERT_TRUE(program->waitForFinished(15000));
    readErrors();
    EXPECT_EQ(program->exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(program->exitCode(), SIGTERM);
    const QRegularExpression kept(QStringLiteral("shutdown: recording of (\\d+) frames kept in (\\S+)"));
    const QRegularExpressionMatch match = kept.match(errors());
    ASSERT_TRUE(match.hasMatch()) << errors().toStdString();
    const int frames = match.captured(1).toInt();
    EXPECT_GE(frames, 5);
    const QString folder = match.captured(2);
    EXPECT_TRUE(folder.startsWith(state.filePath(QStringLiteral("Quillo/recordings")))) << folder.toStdString();

    {
        const FrameStore::Opened opened = FrameStore::open(folder, {});
        ASSERT_TRUE(opened.store) << (opened.error ? opened.error->message.toStdString() : std::string());
        EXPECT_TRUE(opened.exact) << opened.problems.join(QLatin1Char(' ')).toStdString();
        ASSERT_EQ(int(opened.index.entries.size()), frames);
        EXPECT_EQ(opened.index.canvas, firstRegion.size());
        for (const RecordingIndex::Entry &entry : opened.index.entries) {
            EXPECT_GE(entry.delayMs, 10);
            EXPECT_EQ(entry.frame->image().size(), firstRegion.size());
        }
    }

    // The next start offers it; Return takes the default, Recover, and the
    // editor opens on every frame. Quit then asks, and Escape keeps the editor.
    launch();
    const QString offered = QStringLiteral("recovery: offered %1 (%2 frames)").arg(folder).arg(frames);
    ASSERT_TRUE(waitForError(offered)) << errors().toStdString();
    QThread::msleep(500);
    ASSERT_TRUE(xdotool({"key", "Return"}));
    ASSERT_TRUE(waitForError(QStringLiteral("recovery: opening editor with %1 frames").arg(frames)))
        << errors().toStdString();
    QThread::msleep(800);
    ASSERT_TRUE(xdotool({"key", "ctrl+q"}));
    QThread::msleep(800);
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    ASSERT_TRUE(waitForError(QStringLiteral("quit: cancelled"))) << errors().toStdString();
    EXPECT_EQ(program->state(), QProcess::Running);
    program->kill();
    program->waitForFinished(5000);
    EXPECT_TRUE(QFileInfo::exists(folder));
}

INSTANTIATE_TEST_SUITE_P(Bare, RememberingProgram, ::testing::Values(X11TestDisplay::Desktop::bare),
    [](const ::testing::TestParamInfo<X11TestDisplay::Desktop> &) { return std::string("bare"); });
