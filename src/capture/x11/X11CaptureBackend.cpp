#include "capture/x11/X11CaptureBackend.h"

#include "base/Rounding.h"
#include "capture/x11/X11Connection.h"
#include "capture/x11/X11FrameGrabber.h"

#include <xcb/composite.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

const QString errorDomain = QStringLiteral("Quillo.X11Capture");

enum ErrorCode : int64_t {
    noConnection = 1,
    setUpFailed = 2,
    streamLost = 3,
    notRunning = 4,
    alreadyStarted = 5,
};

// Samples that may wait on the engine's queue at once: enough to ride out a
// busy moment, few enough that a stalled engine does not pile up frames.
constexpr int queueDepth = 8;

std::optional<X11Monitor> findMonitor(const std::vector<X11Monitor> &monitors, uint32_t id)
{
    for (const X11Monitor &m : monitors) {
        if (m.id == id)
            return m;
    }
    return std::nullopt;
}

X11Monitor primaryOf(const std::vector<X11Monitor> &monitors)
{
    for (const X11Monitor &m : monitors) {
        if (m.primary)
            return m;
    }
    return monitors.front();
}

} // namespace

CaptureFailure X11CaptureBackend::error(int64_t code, const QString &description)
{
    return {errorDomain, code, description};
}

bool X11CaptureBackend::canRecordScreen()
{
    std::unique_ptr<X11Connection> x = X11Connection::open(nullptr);
    if (!x)
        return false;
    XcbReply<xcb_get_image_reply_t> pixel(xcb_get_image_reply(
        x->get(), xcb_get_image(x->get(), XCB_IMAGE_FORMAT_Z_PIXMAP, x->root(), 0, 0, 1, 1, ~0u), nullptr));
    return pixel != nullptr;
}

bool X11CaptureBackend::holdRedirection()
{
    static std::mutex mutex;
    static std::unique_ptr<X11Connection> holder;
    std::lock_guard lock(mutex);
    if (holder)
        return true;
    std::unique_ptr<X11Connection> x = X11Connection::open(nullptr);
    if (!x)
        return false;
    xcb_connection_t *c = x->get();
    const xcb_query_extension_reply_t *composite = xcb_get_extension_data(c, &xcb_composite_id);
    if (!composite || !composite->present)
        return false;
    XcbReply<xcb_composite_query_version_reply_t> version(
        xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 4), nullptr));
    // Automatic redirection lasts as long as this connection: the server
    // keeps drawing the screen as before, and the grabber's own redirection
    // later only adds to it.
    XcbReply<xcb_generic_error_t> failed(xcb_request_check(
        c, xcb_composite_redirect_subwindows_checked(c, x->root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
    if (!version || failed)
        return false;
    holder = std::move(x);
    return true;
}

X11CaptureBackend::X11CaptureBackend(double pointScale)
    : m_backendQueue(makeSharedSerialQueue(QStringLiteral("org.quillo.Quillo.capture.x11")))
    , m_scale(pointScale > 0 && std::isfinite(pointScale) ? pointScale : 1.0)
{
}

X11CaptureBackend::~X11CaptureBackend() = default;

QString X11CaptureBackend::name() const
{
    return QStringLiteral("x11");
}

bool X11CaptureBackend::canExcludeWindows() const
{
    return true;
}

bool X11CaptureBackend::needsConsent() const
{
    return false;
}

void X11CaptureBackend::queryScreens(ScreensCompletion completion)
{
    m_backendQueue->async([scale = m_scale, completion = std::move(completion)] {
        QString message;
        std::unique_ptr<X11Connection> x = X11Connection::open(&message);
        if (!x) {
            completion({}, error(noConnection, message));
            return;
        }
        const std::vector<X11Monitor> monitors = x->monitors();
        std::vector<CaptureScreen> screens;
        if (!monitors.empty()) {
            const QPoint origin = primaryOf(monitors).pixels.topLeft();
            for (const X11Monitor &m : monitors) {
                const QRect p = m.pixels.translated(-origin);
                screens.push_back({m.id, m.name,
                    QRectF(p.x() / scale, p.y() / scale, p.width() / scale, p.height() / scale), scale, m.primary});
            }
        }
        completion(std::move(screens), std::nullopt);
    });
}

CaptureBackend::StreamOrError X11CaptureBackend::createStream(const CaptureRequest &request, CaptureSink sink)
{
    if (request.pixels.isEmpty())
        return {nullptr, error(setUpFailed, QStringLiteral("The region to record is empty."))};
    return {std::make_shared<X11CaptureStream>(m_backendQueue, request, std::move(sink)), std::nullopt};
}

// ---- X11CaptureStream

X11CaptureStream::X11CaptureStream(std::shared_ptr<SerialQueue> backendQueue, CaptureRequest request, CaptureSink sink)
    : m_backendQueue(std::move(backendQueue))
    , m_request(std::move(request))
    , m_sink(std::move(sink))
{
}

X11CaptureStream::~X11CaptureStream()
{
    endGrabbing();
}

void X11CaptureStream::start(CaptureCompletion completion)
{
    m_backendQueue->async([self = shared_from_this(), completion = std::move(completion)] {
        std::optional<CaptureFailure> failure = self->begin();
        if (completion)
            completion(failure);
    });
}

void X11CaptureStream::stop(CaptureCompletion completion)
{
    m_backendQueue->async([self = shared_from_this(), completion = std::move(completion)] {
        bool wasRunning = false;
        {
            std::lock_guard lock(self->m_mutex);
            wasRunning = self->m_state == State::running;
            self->m_state = State::stopped;
        }
        self->endGrabbing();
        if (completion) {
            completion(wasRunning ? std::nullopt
                                  : std::optional<CaptureFailure>(X11CaptureBackend::error(
                                      notRunning, QStringLiteral("The stream was not running."))));
        }
    });
}

std::chrono::steady_clock::time_point X11CaptureStream::nextTick(std::chrono::steady_clock::time_point due,
    std::chrono::steady_clock::time_point now, std::chrono::steady_clock::duration interval)
{
    if (now >= due + interval)
        due += (now - due) / interval * interval;
    return due + interval;
}

std::optional<CaptureFailure> X11CaptureStream::begin()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::idle)
            return X11CaptureBackend::error(alreadyStarted, QStringLiteral("The stream was already started."));
    }
    if (!m_sink.queue)
        return X11CaptureBackend::error(setUpFailed, QStringLiteral("The stream has no output."));

    QString message;
    std::unique_ptr<X11Connection> x = X11Connection::open(&message);
    if (!x)
        return X11CaptureBackend::error(noConnection, message);
    const std::vector<X11Monitor> monitors = x->monitors();
    const X11Monitor monitor = findMonitor(monitors, m_request.screenId).value_or(primaryOf(monitors));
    x.reset();

    X11FrameGrabber::Options options;
    options.rect = m_request.pixels.translated(monitor.pixels.topLeft());
    options.outputSize = m_request.pixels.size();
    options.showsCursor = m_request.showsCursor;
    options.excludedWindows = m_request.excludedWindows;

    std::unique_ptr<X11FrameGrabber> grabber = X11FrameGrabber::create(options, &message);
    if (!grabber)
        return X11CaptureBackend::error(setUpFailed, message);

    auto control = std::make_shared<Control>();
    const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1.0 / std::max(m_request.fps, 1)));

    // The grab thread holds the stream only weakly: it must never be the one
    // that destroys it, since the destructor joins it.
    auto run
        = [grabber = std::move(grabber), control, interval, sink = m_sink, backendQueue = m_backendQueue]() mutable {
              int failures = 0;
              auto next = std::chrono::steady_clock::now();
              for (;;) {
                  {
                      std::unique_lock lock(control->mutex);
                      if (control->wake.wait_until(lock, next, [&] { return control->stop; }))
                          return;
                  }
                  next = X11CaptureStream::nextTick(next, std::chrono::steady_clock::now(), interval);
                  if (control->inFlight.load() >= queueDepth)
                      continue;

                  const double pts = monotonicSeconds();
                  X11FrameGrabber::Result grabbed = grabber->grab();
                  if (grabbed.kind == X11FrameGrabber::Result::Kind::failed) {
                      if (++failures < 3 && !grabber->connectionLost())
                          continue;
                      backendQueue->async([onEnded = sink.onEnded, control, message = grabbed.error] {
                          // A stop that came meanwhile has the last word.
                          bool stopped = false;
                          {
                              std::lock_guard lock(control->mutex);
                              stopped = control->stop;
                          }
                          if (!stopped && onEnded)
                              onEnded(X11CaptureBackend::error(streamLost, message));
                      });
                      return;
                  }
                  failures = 0;

                  CaptureFrame frame;
                  frame.presentationTime = pts;
                  if (grabbed.kind == X11FrameGrabber::Result::Kind::idle)
                      frame.status = FrameStatus::idle;
                  else
                      frame.image = std::move(grabbed.image);
                  control->inFlight.fetch_add(1);
                  sink.queue->async([onFrame = sink.onFrame, frame = std::move(frame), control]() mutable {
                      if (onFrame)
                          onFrame(std::move(frame));
                      control->inFlight.fetch_sub(1);
                  });
              }
          };

    std::lock_guard lock(m_mutex);
    m_control = control;
    m_thread = std::thread(std::move(run));
    m_state = State::running;
    return std::nullopt;
}

void X11CaptureStream::endGrabbing()
{
    std::thread thread;
    std::shared_ptr<Control> control;
    {
        std::lock_guard lock(m_mutex);
        thread = std::move(m_thread);
        control = m_control;
    }
    if (control) {
        {
            std::lock_guard lock(control->mutex);
            control->stop = true;
        }
        control->wake.notify_all();
    }
    if (thread.joinable())
        thread.join();
}
