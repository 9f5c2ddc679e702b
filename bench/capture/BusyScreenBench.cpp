// One recording through the capture engine on the X11 backend while `ico`
// clients keep the X server busy under the region, and `ffmpeg -f x11grab`
// grabs the same area at the same rate in the same seconds: how many frames
// Quillo keeps per second next to how many distinct frames ffmpeg sees. A
// window standing in for the recording frame's control bar sits inside the
// region and is left out, as the program leaves out its own windows; the
// pointer rests in the region and is drawn in. Prints one JSON object.
//
//   busy_screen_bench --clients=1 --fps=30 --size=640x420 [--seconds=10]
//
// Run it on a display with a window manager (bench/run.sh uses Xvfb and
// openbox). Preloaded with libquillo_xcb_waits.so it also counts the capture's
// round trips to the X server and the time it waits for them.
#include "BenchSupport.h"

#include "capture/CaptureEngine.h"
#include "capture/ScreenUtil.h"
#include "capture/x11/X11CaptureBackend.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>

#include <xcb/xcb.h>

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <set>

namespace {

// Counts what the stream hands the engine: every sample, and the idle ones.
class CountingBackend : public CaptureBackend {
public:
    explicit CountingBackend(std::shared_ptr<CaptureBackend> inner)
        : m_inner(std::move(inner))
    {
    }
    QString name() const override { return m_inner->name(); }
    bool canExcludeWindows() const override { return m_inner->canExcludeWindows(); }
    bool needsConsent() const override { return m_inner->needsConsent(); }
    void queryScreens(ScreensCompletion completion) override { m_inner->queryScreens(std::move(completion)); }
    StreamOrError createStream(const CaptureRequest &request, CaptureSink sink) override
    {
        auto onFrame = std::move(sink.onFrame);
        sink.onFrame = [this, onFrame](CaptureFrame frame) {
            samples.fetch_add(1);
            if (frame.status == FrameStatus::idle)
                idle.fetch_add(1);
            if (onFrame)
                onFrame(std::move(frame));
        };
        return m_inner->createStream(request, std::move(sink));
    }
    double now() const override { return m_inner->now(); }

    std::atomic<int64_t> samples {0};
    std::atomic<int64_t> idle {0};

private:
    std::shared_ptr<CaptureBackend> m_inner;
};

struct Options {
    int clients = 1;
    int fps = 30;
    QSize size {640, 420};
    double seconds = 10;
    bool ffmpeg = true;
};

std::optional<Options> parse(const QStringList &args)
{
    Options o;
    for (const QString &arg : args.mid(1)) {
        const QString value = arg.section(QLatin1Char('='), 1);
        bool ok = true;
        if (arg.startsWith(QLatin1String("--clients=")))
            o.clients = value.toInt(&ok);
        else if (arg.startsWith(QLatin1String("--fps=")))
            o.fps = value.toInt(&ok);
        else if (arg.startsWith(QLatin1String("--seconds=")))
            o.seconds = value.toDouble(&ok);
        else if (arg.startsWith(QLatin1String("--size="))) {
            o.size
                = QSize(value.section(QLatin1Char('x'), 0, 0).toInt(&ok), value.section(QLatin1Char('x'), 1).toInt());
            ok = ok && !o.size.isEmpty();
        } else if (arg == QLatin1String("--no-ffmpeg"))
            o.ffmpeg = false;
        else
            ok = false;
        if (!ok || o.clients < 0 || o.fps < 1 || o.seconds <= 0)
            return std::nullopt;
    }
    return o;
}

// The round-trip counters of libquillo_xcb_waits.so, when it is preloaded.
struct Waits {
    uint64_t count = 0;
    uint64_t blockedNanos = 0;
};
std::optional<Waits> readWaits()
{
    using Fn = void (*)(uint64_t *, uint64_t *);
    static const auto fn = reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, "quillo_xcb_waits"));
    if (!fn)
        return std::nullopt;
    Waits w;
    fn(&w.count, &w.blockedNanos);
    return w;
}

// The frames ffmpeg wrote as "framecrc" lines, and how many of them differ
// from the one before (the first counts).
struct FfmpegCount {
    int frames = 0;
    int distinct = 0;
};
FfmpegCount countFrames(const QByteArray &framecrc)
{
    FfmpegCount count;
    QByteArray previous;
    for (const QByteArray &line : framecrc.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QByteArray crc = line.mid(line.lastIndexOf(',') + 1).trimmed();
        ++count.frames;
        count.distinct += crc != previous;
        previous = crc;
    }
    return count;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const std::optional<Options> options = parse(app.arguments());
    if (!options) {
        std::fprintf(stderr, "usage: busy_screen_bench --clients=N --fps=F --size=WxH [--seconds=S] [--no-ffmpeg]\n");
        return 2;
    }
    const Options &o = *options;
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "busy_screen_bench: no X display\n");
        return 1;
    }
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const QSize rootSize(screen->width_in_pixels, screen->height_in_pixels);
    if (rootSize.width() < o.size.width() + 40 || rootSize.height() < o.size.height() + 80) {
        std::fprintf(stderr, "busy_screen_bench: the screen (%dx%d) is too small for %dx%d\n", rootSize.width(),
            rootSize.height(), o.size.width(), o.size.height());
        return 1;
    }
    // Centred, as the program places its region.
    const QRect region(
        QPoint((rootSize.width() - o.size.width()) / 2, (rootSize.height() - o.size.height()) / 2), o.size);

    // The icos, each a square of two thirds of the region's height, spread
    // across it; the window manager adds its decorations around them.
    std::vector<std::unique_ptr<QProcess>> icos;
    const int side = o.size.height() * 2 / 3;
    for (int i = 0; i < o.clients; ++i) {
        const int span = std::max(0, o.size.width() - side);
        const int x = region.x() + (o.clients > 1 ? span * i / (o.clients - 1) : span / 2);
        const int y = region.y() + (o.size.height() - side) / 4 + (i % 2) * (o.size.height() - side) / 2;
        auto ico = std::make_unique<QProcess>();
        ico->start(QStringLiteral("ico"),
            {QStringLiteral("-geometry"), QStringLiteral("%1x%1+%2+%3").arg(side).arg(x).arg(y)});
        if (!ico->waitForStarted(5000)) {
            std::fprintf(stderr, "busy_screen_bench: ico did not start (install x11-apps)\n");
            return 1;
        }
        icos.push_back(std::move(ico));
    }
    // The control bar's stand-in, above the icos, and the pointer in the region.
    const QRect barRect(region.x() + (o.size.width() - 480) / 2, region.bottom() - 64 - 12, 480, 64);
    const xcb_window_t bar = BenchSupport::createWindow(c, screen->root, barRect, 0x202020);
    xcb_warp_pointer(c, XCB_NONE, screen->root, 0, 0, 0, 0, int16_t(region.center().x()), int16_t(region.center().y()));
    xcb_flush(c);
    QThread::msleep(1500); // the icos mapped and animating

    auto backend = std::make_shared<CountingBackend>(std::make_shared<X11CaptureBackend>(1.0));
    auto engine = std::make_shared<CaptureEngine>(backend);
    engine->fps = o.fps;
    engine->showsCursor = true;
    engine->excludedWindowNumbers = {int64_t(bar)};
    std::atomic<int64_t> kept {0};
    engine->onFrame = [&kept](int64_t n) { kept = n; };
    const ScreenInfo info = ScreenUtil::mainScreen().value_or(
        ScreenInfo {QStringLiteral("screen"), {0, 0, double(rootSize.width()), double(rootSize.height())}, 1.0});
    const Rect yUp {
        double(region.x()), info.frame.height - region.bottom() - 1, double(region.width()), double(region.height())};

    bool started = false;
    std::optional<CaptureFailure> failure;
    engine->start(yUp, info, [&](std::optional<CaptureFailure> error) {
        started = true;
        failure = error;
    });
    if (!BenchSupport::spinUntil([&] { return started; }, 10000) || failure) {
        std::fprintf(stderr, "busy_screen_bench: the recording did not start: %s\n",
            failure ? qPrintable(failure->toString()) : "no answer");
        return 1;
    }

    QProcess ffmpeg;
    const bool withFfmpeg = o.ffmpeg && !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
    if (withFfmpeg) {
        ffmpeg.start(QStringLiteral("ffmpeg"),
            {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"),
                QStringLiteral("x11grab"), QStringLiteral("-framerate"), QString::number(o.fps),
                QStringLiteral("-video_size"), QStringLiteral("%1x%2").arg(o.size.width()).arg(o.size.height()),
                QStringLiteral("-i"),
                qEnvironmentVariable("DISPLAY") + QStringLiteral("+%1,%2").arg(region.x()).arg(region.y()),
                QStringLiteral("-t"), QString::number(o.seconds), QStringLiteral("-f"), QStringLiteral("framecrc"),
                QStringLiteral("-")});
    }

    const std::optional<Waits> waitsBefore = readWaits();
    const double cpuBefore = BenchSupport::cpuSeconds();
    const pid_t server = BenchSupport::xServerPid();
    const double serverBefore = BenchSupport::processCpuSeconds(server);
    const int64_t samplesBefore = backend->samples;
    const int64_t idleBefore = backend->idle;
    const int64_t keptBefore = kept;
    QElapsedTimer timer;
    timer.start();
    BenchSupport::spinUntil([&] { return timer.elapsed() >= qint64(o.seconds * 1000); }, int(o.seconds * 1000) + 1000);
    const double window = double(timer.nsecsElapsed()) / 1e9;
    const int64_t keptInWindow = kept - keptBefore;
    const int64_t samples = backend->samples - samplesBefore;
    const int64_t idle = backend->idle - idleBefore;
    const std::optional<Waits> waitsAfter = readWaits();
    const double cpu = BenchSupport::cpuSeconds() - cpuBefore;
    const double serverCpu = server > 0 ? BenchSupport::processCpuSeconds(server) - serverBefore : -window;

    bool stopped = false;
    engine->stop([&](GifProjectRef) { stopped = true; });
    BenchSupport::spinUntil([&] { return stopped; }, 20000);

    FfmpegCount seen;
    if (withFfmpeg) {
        ffmpeg.waitForFinished(int(o.seconds * 1000) + 30000);
        seen = countFrames(ffmpeg.readAllStandardOutput());
    }
    for (auto &ico : icos) {
        ico->kill();
        ico->waitForFinished(3000);
    }
    xcb_destroy_window(c, bar);
    xcb_disconnect(c);

    QString waits = QStringLiteral("null");
    QString blocked = QStringLiteral("null");
    if (waitsBefore && waitsAfter && samples > 0) {
        waits = QString::number(double(waitsAfter->count - waitsBefore->count) / double(samples), 'f', 2);
        blocked = QString::number(
            double(waitsAfter->blockedNanos - waitsBefore->blockedNanos) / 1e6 / double(samples), 'f', 2);
    }
    std::printf("{\"clients\": %d, \"size\": \"%dx%d\", \"requested_fps\": %d, \"seconds\": %.3f, "
                "\"kept\": %lld, \"kept_per_second\": %.2f, \"samples\": %lld, \"idle\": %lld, "
                "\"ffmpeg_seconds\": %.3f, \"ffmpeg_frames\": %d, \"ffmpeg_distinct\": %d, "
                "\"round_trips_per_sample\": %s, \"blocked_ms_per_sample\": %s, "
                "\"cpu_per_second\": %.3f, \"x_server_cpu_per_second\": %.3f, \"load\": %.2f}\n",
        o.clients, o.size.width(), o.size.height(), o.fps, window, static_cast<long long>(keptInWindow),
        double(keptInWindow) / window, static_cast<long long>(samples), static_cast<long long>(idle),
        withFfmpeg ? o.seconds : 0.0, seen.frames, seen.distinct, qPrintable(waits), qPrintable(blocked), cpu / window,
        serverCpu / window, BenchSupport::loadAverage());
    std::fflush(stdout);
    return 0;
}
