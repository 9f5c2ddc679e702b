#pragma once

#include "capture/CaptureBackend.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// Records an X server ($DISPLAY): RandR monitors are the screens (id = the
// monitor's name atom), MIT-SHM grabs read the root window, and given windows
// are left out by composing the region from the other top-level windows' own
// contents. Answers come on the backend thread "org.quillo.Quillo.capture.x11";
// each stream grabs on a thread of its own. Every member is thread-safe.
class X11CaptureBackend : public CaptureBackend {
public:
    // `pointScale`: root-window pixels per point (the primary screen's device
    // pixel ratio).
    explicit X11CaptureBackend(double pointScale = 1.0);
    ~X11CaptureBackend() override;

    QString name() const override;
    bool canExcludeWindows() const override;
    bool needsConsent() const override;
    void queryScreens(ScreensCompletion completion) override;
    StreamOrError createStream(const CaptureRequest &request, CaptureSink sink) override;

    static CaptureFailure error(int64_t code, const QString &description);

    // True when $DISPLAY opens and a 1 x 1 grab of its root window succeeds:
    // on X11 that is all "allowed to record the screen" means. Any thread.
    static bool canRecordScreen();

    // Redirects the top-level windows of $DISPLAY into pictures of their own
    // from now until the program ends (once per process; later calls do
    // nothing). Leaving the recording frame out of a frame means painting
    // what lies under it from those pictures; a window redirected while the
    // frame covers it starts with a copy of the screen, the frame included,
    // and keeps it until its client repaints, which a clock or xeyes may not
    // do for seconds. Redirected before the frame is first shown, every
    // picture holds only its own window. False without a display or the
    // Composite extension. Any thread.
    static bool holdRedirection();

private:
    const std::shared_ptr<SerialQueue> m_backendQueue;
    const double m_scale;
};

// One recording of a rectangle of the X screen. Frames are grabbed on the
// stream's own thread at most `fps` times a second; a grab that shows nothing
// new goes out as an idle notice without an image. At most a few frames wait
// on the sink's queue at a time; a grab that would exceed that is skipped.
// Every member is thread-safe.
class X11CaptureStream : public CaptureStream, public std::enable_shared_from_this<X11CaptureStream> {
public:
    X11CaptureStream(std::shared_ptr<SerialQueue> backendQueue, CaptureRequest request, CaptureSink sink);
    ~X11CaptureStream() override;

    void start(CaptureCompletion completion) override;
    void stop(CaptureCompletion completion) override;

    // The tick after the one due at `due`, woken at `now`: ticks keep to
    // their grid, so a late grab is followed at once by the tick it overran,
    // ticks missed altogether are dropped, and neither moves the ones after.
    static std::chrono::steady_clock::time_point nextTick(std::chrono::steady_clock::time_point due,
        std::chrono::steady_clock::time_point now, std::chrono::steady_clock::duration interval);

private:
    struct Control {
        std::mutex mutex;
        std::condition_variable wake;
        bool stop = false;
        std::atomic<int> inFlight {0};
    };
    enum class State {
        idle,
        running,
        stopped,
    };

    // Backend thread only.
    std::optional<CaptureFailure> begin();
    void endGrabbing();

    const std::shared_ptr<SerialQueue> m_backendQueue;
    const CaptureRequest m_request;
    const CaptureSink m_sink;

    std::mutex m_mutex;
    State m_state = State::idle;
    std::shared_ptr<Control> m_control;
    std::thread m_thread;
};
