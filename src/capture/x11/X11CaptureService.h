#pragma once

#include "capture/CaptureService.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// The capture service on an X server ($DISPLAY): RandR monitors are the
// displays (id = the monitor's name atom), the viewable children of the root
// window in stacking order are the windows (listed by their client window, the
// id a QWidget's winId() gives), and this program is the one application it
// can identify. Answers come on the service thread
// "org.quillo.Quillo.capture.x11"; each stream grabs on a thread of its own.
// Every member is thread-safe.
class X11CaptureService : public CaptureService, public std::enable_shared_from_this<X11CaptureService> {
public:
    // `pointScale`: root-window pixels per point (the primary screen's device
    // pixel ratio).
    explicit X11CaptureService(double pointScale = 1.0);
    ~X11CaptureService() override;

    void getShareableContent(
        bool excludingDesktopWindows, bool onScreenWindowsOnly, ContentCompletion completion) override;
    Rect displayBounds(uint32_t displayId) override;
    uint32_t mainDisplayId() override;
    std::optional<uint32_t> displayIdForScreen(const ScreenInfo &screen) override;
    std::shared_ptr<CaptureStream> createStream(const ContentFilter &filter, const StreamConfiguration &configuration,
        std::weak_ptr<CaptureStreamDelegate> delegate) override;

    static CaptureFailure error(int64_t code, const QString &description);

    // True when $DISPLAY opens and a 1 x 1 grab of its root window succeeds:
    // on X11 that is all "allowed to record the screen" means. Any thread.
    static bool canRecordScreen();

private:
    const std::shared_ptr<SerialQueue> m_serviceQueue;
    const double m_scale;
};

// One recording of a rectangle of the X screen. Frames are grabbed on the
// stream's own thread at most once per minimum frame interval; a frame that
// shows nothing new goes out with the idle status and no pixel buffer. At most
// queueDepth samples wait on the output queue at a time; a grab that would
// exceed that is skipped. Every member is thread-safe.
class X11CaptureStream : public CaptureStream, public std::enable_shared_from_this<X11CaptureStream> {
public:
    X11CaptureStream(std::shared_ptr<SerialQueue> serviceQueue, ContentFilter filter, StreamConfiguration configuration,
        std::weak_ptr<CaptureStreamDelegate> delegate, double pointScale);
    ~X11CaptureStream() override;

    std::optional<CaptureFailure> addStreamOutput(
        std::weak_ptr<CaptureStreamOutput> output, StreamOutputType type, std::shared_ptr<SerialQueue> queue) override;
    void startCapture(CaptureCompletion completion) override;
    void stopCapture(CaptureCompletion completion) override;

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

    // Service thread only.
    std::optional<CaptureFailure> begin();
    void endGrabbing();

    const std::shared_ptr<SerialQueue> m_serviceQueue;
    const ContentFilter m_filter;
    const StreamConfiguration m_configuration;
    const std::weak_ptr<CaptureStreamDelegate> m_delegate;
    const double m_scale;

    std::mutex m_mutex;
    std::weak_ptr<CaptureStreamOutput> m_output;
    std::shared_ptr<SerialQueue> m_outputQueue;
    State m_state = State::idle;
    std::shared_ptr<Control> m_control;
    std::thread m_thread;
};
