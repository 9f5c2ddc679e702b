// A whole recording through the capture engine on the X11 backend: frames
// per second sustained at 60 fps requested, CPU seconds per second of
// recording, and the resident memory each kept frame adds. A window inside the
// region changes colour every few milliseconds, so every grab finds a new
// picture, and a second window is excluded as the recording frame's own
// windows are. Each size is recorded twice: kept in a frame store in a
// temporary folder, as the program keeps them, then held in memory (second, so
// that its gigabytes do not hide the store's growth).
// Prints one JSON object per recording.
//
//   xvfb-run -a -s "-screen 0 1280x1024x24" ./recording_bench [seconds]
#include "BenchSupport.h"

#include "capture/CaptureBackendFactory.h"
#include "capture/CaptureEngine.h"
#include "capture/ScreenUtil.h"
#include "capture/x11/X11CaptureBackend.h"
#include "store/FrameStore.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>

namespace {

constexpr int SCREEN_H = 1024;

// Resident set size in bytes.
double residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE));
}

// Windows on their own connection: one that keeps changing inside the region,
// one to exclude.
class Scene {
public:
    bool open()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection))
            return false;
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        if (screen->width_in_pixels < 1280 || screen->height_in_pixels < 840 || screen->root_depth != 24)
            return false;
        window(screen->root, 0, 0, 1280, 840, 0x30506a);
        m_changing = window(screen->root, 100, 100, 200, 120, 0);
        excluded = window(screen->root, 80, 330, 480, 64, 0xff00ff);
        xcb_flush(m_connection);
        return true;
    }

    ~Scene()
    {
        stopAnimating();
        if (m_connection)
            xcb_disconnect(m_connection);
    }

    void startAnimating()
    {
        m_running = true;
        m_thread = std::thread([this] {
            const double before = BenchSupport::cpuSeconds(RUSAGE_THREAD);
            uint32_t pixel = 0;
            while (m_running) {
                pixel = (pixel + 0x010307) & 0xffffff;
                xcb_change_window_attributes(m_connection, m_changing, XCB_CW_BACK_PIXEL, &pixel);
                xcb_clear_area(m_connection, 0, m_changing, 0, 0, 0, 0);
                xcb_flush(m_connection);
                std::this_thread::sleep_for(std::chrono::milliseconds(4));
            }
            animatorCpu = BenchSupport::cpuSeconds(RUSAGE_THREAD) - before;
        });
    }

    void stopAnimating()
    {
        m_running = false;
        if (m_thread.joinable())
            m_thread.join();
    }

    xcb_window_t excluded = 0;
    // CPU seconds the animating thread used: not the recording's.
    double animatorCpu = 0;

private:
    xcb_window_t window(xcb_window_t root, int x, int y, int w, int h, uint32_t pixel)
    {
        return BenchSupport::createWindow(m_connection, root, QRect(x, y, w, h), pixel);
    }

    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_changing = 0;
    std::atomic<bool> m_running {false};
    std::thread m_thread;
};

// Records the top-left w x h pixels for `seconds` and prints the figures;
// with `store`, the frames go to a frame store under a temporary folder.
bool record(Scene &scene, int w, int h, double seconds, bool store)
{
    // QUILLO_CAPTURE_BACKEND=portal records the same scene through the
    // desktop's ScreenCast portal (run inside a Wayland session, whose
    // XWayland shows the scene).
    std::shared_ptr<CaptureBackend> backend = std::make_shared<X11CaptureBackend>(1.0);
    if (CaptureBackendFactory::chosen() == CaptureBackendFactory::Kind::portal)
        backend = CaptureBackendFactory::create(CaptureBackendFactory::Kind::portal);
    auto engine = std::make_shared<CaptureEngine>(backend);
    engine->fps = 60;
    engine->showsCursor = true;
    engine->excludedWindowNumbers = {int64_t(scene.excluded)};
    int64_t kept = 0;
    engine->onFrame = [&kept](int64_t n) { kept = n; };
    QTemporaryDir storeRoot;
    if (store) {
        RecordingInfo info;
        info.fps = engine->fps;
        info.created = QDateTime::currentDateTime();
        FrameStore::Options options;
        options.root = storeRoot.path();
        engine->store = FrameStore::create(info, options).store;
        if (!engine->store) {
            std::fprintf(stderr, "recording_bench: no frame store under %s\n", qPrintable(storeRoot.path()));
            return false;
        }
    }
    const ScreenInfo screen
        = ScreenUtil::mainScreen().value_or(ScreenInfo {QStringLiteral("screen"), {0, 0, 1280, double(SCREEN_H)}, 1.0});
    // The top-left w x h points, where the scene is.
    const Rect region {0, screen.frame.height - h, double(w), double(h)};

    const double rssBefore = residentBytes();
    bool started = false;
    std::optional<CaptureFailure> failure;
    scene.startAnimating();
    engine->start(region, screen, [&](std::optional<CaptureFailure> error) {
        started = true;
        failure = error;
    });
    if (!BenchSupport::spinUntil([&] { return started; }, 10000) || failure) {
        std::fprintf(stderr, "recording_bench: the recording did not start: %s\n",
            failure ? qPrintable(failure->toString()) : "no answer");
        scene.stopAnimating();
        return false;
    }
    const double cpuBefore = BenchSupport::cpuSeconds(RUSAGE_SELF);
    const pid_t server = BenchSupport::xServerPid();
    const double serverBefore = BenchSupport::processCpuSeconds(server);
    QElapsedTimer timer;
    timer.start();
    const int64_t countAtStart = kept;
    BenchSupport::spinUntil([&] { return timer.elapsed() >= qint64(seconds * 1000); }, int(seconds * 1000) + 1000);
    const int64_t countAtStop = kept;
    const double window = double(timer.nsecsElapsed()) / 1e9;
    bool stopped = false;
    GifProjectRef project;
    engine->stop([&](GifProjectRef p) {
        project = std::move(p);
        stopped = true;
    });
    BenchSupport::spinUntil([&] { return stopped; }, 20000);
    // Every frame on disk: the store's work is part of the recording's.
    if (engine->store)
        engine->store->waitForWrites();
    const double elapsed = double(timer.nsecsElapsed()) / 1e9;
    scene.stopAnimating();
    const double cpu = BenchSupport::cpuSeconds(RUSAGE_SELF) - cpuBefore - scene.animatorCpu;
    // -1 when the server's process is not known.
    const double serverCpu = server > 0 ? BenchSupport::processCpuSeconds(server) - serverBefore : -elapsed;
    const double rssAfter = residentBytes();
    if (!project || project->frames.empty()) {
        std::fprintf(stderr, "recording_bench: no frames were recorded\n");
        return false;
    }
    const double frames = double(project->frames.size());
    // Frames counted while the clock ran; the delays cannot tell, being
    // rounded to whole milliseconds (16.67 ms becomes 17).
    const double fps = double(countAtStop - countAtStart) / window;
    std::printf("{\"size\": \"%dx%d\", \"store\": %s, \"requested_fps\": 60, \"seconds\": %.3f, \"frames\": %.0f, "
                "\"fps\": %.2f, "
                "\"cpu_per_second\": %.3f, \"x_server_cpu_per_second\": %.3f, \"rss_growth_bytes\": %.0f, "
                "\"rss_per_frame_bytes\": %.0f, "
                "\"frame_bytes\": %d}\n",
        w, h, store ? "true" : "false", elapsed, frames, fps, cpu / elapsed, serverCpu / elapsed, rssAfter - rssBefore,
        (rssAfter - rssBefore) / frames, w * h * 4);
    std::fflush(stdout);
    project.reset();
    if (engine->store)
        engine->store->discard();
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 5.0;
    Scene scene;
    if (!scene.open()) {
        std::fprintf(stderr, "recording_bench: needs an X display with a 24-bit screen of at least 1280x840\n");
        return 1;
    }
    for (const bool store : {true, false}) {
        for (const QSize size : {QSize(640, 420), QSize(1280, 840)}) {
            if (!record(scene, size.width(), size.height(), seconds, store))
                return 1;
        }
    }
    return 0;
}
