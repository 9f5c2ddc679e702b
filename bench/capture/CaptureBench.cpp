// Per-frame cost of the X11 capture backend next to a plain memcpy of the same
// bytes, measured in one run, at 640 x 420 and 1280 x 840: a frame as the
// stream makes it when something in the region changed (a small window
// changes colour before every grab, outside the timed part), with and without
// one excluded window composed out, and the conversion of a BGRX buffer into
// the frame format. Needs an X server with a screen of at least 1280 x 840 at
// depth 24, for example:
//   xvfb-run -a -s "-screen 0 1280x1024x24" ./capture_bench
#include "BenchSupport.h"

#include "capture/portal/PortalFrames.h"
#include "capture/x11/X11FrameGrabber.h"

#include <benchmark/benchmark.h>

#include <xcb/xcb.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int W = 1280;
constexpr int H = 840;

// The benchmark's argument is the frame width; heights keep the 640 x 420 shape.
QSize frameSize(const benchmark::State &state)
{
    const int w = int(state.range(0));
    return {w, w * H / W};
}

size_t frameBytes(QSize size)
{
    return size_t(size.width()) * size_t(size.height()) * 4;
}

// Windows of the benchmark's own, on $DISPLAY, kept for the whole run.
struct Scene {
    xcb_connection_t *connection = nullptr;
    xcb_window_t background = 0;
    xcb_window_t changing = 0;
    xcb_window_t excluded = 0;
    uint32_t pixel = 0;

    bool open()
    {
        connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection))
            return false;
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        if (screen->width_in_pixels < W || screen->height_in_pixels < H || screen->root_depth != 24)
            return false;
        background = window(screen->root, 0, 0, W, H, 0x204060);
        changing = window(screen->root, 100, 100, 200, 120, 0);
        // Where a recording frame's control bar sits: inside the region (of
        // either size), near the bottom of the small one.
        excluded = window(screen->root, 80, 330, 480, 64, 0xff00ff);
        sync();
        return true;
    }

    // A new colour in the region, drawn by the time this returns. A window
    // whose contents are redirected reaches the screen when the server next
    // paints the screen from the windows' pictures, between two rounds of
    // requests, and the grabber hears of it a moment later: the pause gives
    // it that moment.
    void change()
    {
        pixel = (pixel + 0x010307) & 0xffffff;
        xcb_change_window_attributes(connection, changing, XCB_CW_BACK_PIXEL, &pixel);
        xcb_clear_area(connection, 0, changing, 0, 0, 0, 0);
        sync();
        usleep(2000);
    }

    void sync() { free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr)); }

    xcb_window_t window(xcb_window_t root, int x, int y, int w, int h, uint32_t pixel)
    {
        const xcb_window_t id = xcb_generate_id(connection);
        const uint32_t values[] = {pixel, 1};
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, id, root, int16_t(x), int16_t(y), uint16_t(w), uint16_t(h),
            0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT,
            values);
        xcb_map_window(connection, id);
        return id;
    }
};

Scene &scene()
{
    static Scene s;
    return s;
}

void BM_Memcpy(benchmark::State &state)
{
    const size_t bytes = frameBytes(frameSize(state));
    std::vector<unsigned char> from(bytes, 0x5a), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

// A buffer whose alpha byte means nothing (BGRX) into the frame format, as the
// capture engine converts one.
void BM_ConvertBgrx(benchmark::State &state)
{
    QImage buffer(frameSize(state), QImage::Format_RGB32);
    buffer.fill(0x204060);
    for (auto _ : state) {
        QImage frame = buffer.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        benchmark::DoNotOptimize(frame.constBits());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frameBytes(buffer.size())));
}

// The portal path's own work for one frame: the region out of a shared-memory
// buffer (a 1920 x 1080 BGRx screencast with padded rows) into the frame
// format, and the comparison with the previous frame. The compositor's copy
// into the buffer is not Quillo's and not counted.
void BM_PortalFrame(benchmark::State &state)
{
    const QSize size = frameSize(state);
    const int stride = 1920 * 4 + 64;
    std::vector<uint8_t> buffer(size_t(stride) * 1080, 0x40);
    const QRect region(QPoint(100, 100), size);
    QImage previous;
    uint8_t tick = 0;
    for (auto _ : state) {
        buffer[size_t(stride) * 100 + 400] = ++tick; // a change in the region every frame
        QImage frame
            = PortalFrames::copyRegion(buffer.data(), buffer.size(), stride, region, PortalFrames::Layout::bgrx);
        benchmark::DoNotOptimize(X11FrameGrabber::samePixels(frame, previous));
        previous = frame;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frameBytes(size)));
}

// One frame as the stream makes it: grab, composition, cursor, copy into the
// frame image, and the comparison with the previous frame. "idle" counts the
// grabs that found nothing new (there should be none); "server_ms" is the X
// server's CPU per frame (Xvfb of this machine only), the part of the cost
// that the process's own CPU time leaves out and that a wall time on a busy
// machine blurs.
void frameLoop(benchmark::State &state, bool exclude)
{
    const QSize size = frameSize(state);
    X11FrameGrabber::Options options;
    options.rect = QRect(QPoint(0, 0), size);
    options.outputSize = size;
    options.showsCursor = true;
    if (exclude)
        options.excludedWindows = {scene().excluded};
    QString error;
    std::unique_ptr<X11FrameGrabber> grabber = X11FrameGrabber::create(options, &error);
    if (!grabber) {
        state.SkipWithError(error.toLocal8Bit().constData());
        return;
    }
    QImage previous;
    int64_t idle = 0;
    const pid_t server = BenchSupport::xServerPid();
    const double serverBefore = BenchSupport::processCpuSeconds(server);
    for (auto _ : state) {
        state.PauseTiming();
        scene().change();
        state.ResumeTiming();
        X11FrameGrabber::Result frame = grabber->grab();
        idle += frame.kind != X11FrameGrabber::Result::Kind::frame;
        previous = frame.image;
    }
    state.counters["idle"] = double(idle);
    if (server > 0) {
        state.counters["server_ms"] = benchmark::Counter(
            (BenchSupport::processCpuSeconds(server) - serverBefore) * 1e3 / double(state.iterations()));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frameBytes(size)));
}

// The scene's change alone: the X server's share of it is in "server_ms" of
// the frame benchmarks too.
void BM_X11SceneChange(benchmark::State &state)
{
    const pid_t server = BenchSupport::xServerPid();
    const double serverBefore = BenchSupport::processCpuSeconds(server);
    for (auto _ : state)
        scene().change();
    if (server > 0) {
        state.counters["server_ms"] = benchmark::Counter(
            (BenchSupport::processCpuSeconds(server) - serverBefore) * 1e3 / double(state.iterations()));
    }
}

void BM_X11Frame_OneExcludedWindow(benchmark::State &state)
{
    frameLoop(state, true);
}

void BM_X11Frame_NoExclusion(benchmark::State &state)
{
    frameLoop(state, false);
}

// Both sizes, three runs each, reported as their median: on a shared machine
// one run can land on a burst of someone else's work. A grab needs a longer
// minimum time than a copy to settle.
void bothSizes(benchmark::internal::Benchmark *b, double minTime)
{
    b->Arg(640)->Arg(W)->Unit(benchmark::kMillisecond)->MinTime(minTime)->Repetitions(3)->ReportAggregatesOnly();
}
void copySizes(benchmark::internal::Benchmark *b)
{
    bothSizes(b, 0.3);
}
void grabSizes(benchmark::internal::Benchmark *b)
{
    bothSizes(b, 0.5);
}

BENCHMARK(BM_Memcpy)->Apply(copySizes);
BENCHMARK(BM_ConvertBgrx)->Apply(copySizes);
BENCHMARK(BM_X11SceneChange)->Unit(benchmark::kMillisecond)->MinTime(0.3)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK(BM_X11Frame_NoExclusion)->Apply(grabSizes);
BENCHMARK(BM_X11Frame_OneExcludedWindow)->Apply(grabSizes);
BENCHMARK(BM_PortalFrame)->Apply(copySizes);

// Prints as usual and remembers each benchmark's median time per iteration,
// by "name/argument".
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter()
        : ConsoleReporter(OO_Tabular)
    {
    }
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" && !run.error_occurred)
                times[run.run_name.function_name + "/" + run.run_name.args] = run.GetAdjustedRealTime();
        }
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (!scene().open()) {
        std::fprintf(stderr, "needs an X display with a 24-bit screen of at least %dx%d\n", W, H);
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (int w : {640, W}) {
        auto key = [w](const char *name) {
            char text[96];
            std::snprintf(text, sizeof text, "%s/%d", name, w);
            return std::string(text);
        };
        const double copy = reporter.times[key("BM_Memcpy")];
        if (copy <= 0)
            continue;
        for (const char *name :
            {"BM_ConvertBgrx", "BM_X11Frame_NoExclusion", "BM_X11Frame_OneExcludedWindow", "BM_PortalFrame"}) {
            if (reporter.times.count(key(name)))
                std::printf("%s / BM_Memcpy (%dx%d): %.1f\n", name, w, w * H / W, reporter.times[key(name)] / copy);
        }
    }
    xcb_disconnect(scene().connection);
    return 0;
}
