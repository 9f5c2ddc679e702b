#include "capture/x11/X11CaptureService.h"

#include "base/Rounding.h"
#include "capture/x11/X11Connection.h"
#include "capture/x11/X11FrameGrabber.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>

namespace {

const QString errorDomain = QStringLiteral("Quillo.X11Capture");

enum ErrorCode : int64_t {
    noConnection = 1,
    setUpFailed = 2,
    streamLost = 3,
    notRunning = 4,
    alreadyStarted = 5,
};

double monotonicSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

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

CaptureFailure X11CaptureService::error(int64_t code, const QString &description)
{
    return {errorDomain, code, description};
}

bool X11CaptureService::canRecordScreen()
{
    std::unique_ptr<X11Connection> x = X11Connection::open(nullptr);
    if (!x)
        return false;
    XcbReply<xcb_get_image_reply_t> pixel(xcb_get_image_reply(
        x->get(), xcb_get_image(x->get(), XCB_IMAGE_FORMAT_Z_PIXMAP, x->root(), 0, 0, 1, 1, ~0u), nullptr));
    return pixel != nullptr;
}

X11CaptureService::X11CaptureService(double pointScale)
    : m_serviceQueue(makeSharedSerialQueue(QStringLiteral("org.quillo.Quillo.capture.x11")))
    , m_scale(pointScale > 0 && std::isfinite(pointScale) ? pointScale : 1.0)
{
}

X11CaptureService::~X11CaptureService() = default;

void X11CaptureService::getShareableContent(bool, bool onScreenWindowsOnly, ContentCompletion completion)
{
    m_serviceQueue->async([scale = m_scale, onScreenWindowsOnly, completion = std::move(completion)] {
        QString message;
        std::unique_ptr<X11Connection> x = X11Connection::open(&message);
        if (!x) {
            completion(std::nullopt, error(noConnection, message));
            return;
        }
        ShareableContent content;
        for (const X11Monitor &m : x->monitors()) {
            content.displays.push_back({m.id, int64_t(roundHalfAway(m.pixels.width() / scale)),
                int64_t(roundHalfAway(m.pixels.height() / scale))});
        }
        for (const X11TopLevel &w : x->topLevels()) {
            if (onScreenWindowsOnly && !w.viewable)
                continue;
            content.windows.push_back({x->clientOf(w.id)});
        }
        content.applications.push_back({QStringLiteral("org.quillo.Quillo")});
        completion(std::move(content), std::nullopt);
    });
}

Rect X11CaptureService::displayBounds(uint32_t displayId)
{
    std::unique_ptr<X11Connection> x = X11Connection::open(nullptr);
    if (!x)
        return {};
    const std::vector<X11Monitor> monitors = x->monitors();
    const std::optional<X11Monitor> m = findMonitor(monitors, displayId);
    if (!m)
        return {};
    const QPoint origin = primaryOf(monitors).pixels.topLeft();
    return {(m->pixels.x() - origin.x()) / m_scale, (m->pixels.y() - origin.y()) / m_scale, m->pixels.width() / m_scale,
        m->pixels.height() / m_scale};
}

uint32_t X11CaptureService::mainDisplayId()
{
    std::unique_ptr<X11Connection> x = X11Connection::open(nullptr);
    return x ? x->primaryMonitor().id : 0;
}

std::optional<uint32_t> X11CaptureService::displayIdForScreen(const ScreenInfo &screen)
{
    std::unique_ptr<X11Connection> x = X11Connection::open(nullptr);
    if (!x)
        return std::nullopt;
    const std::vector<X11Monitor> monitors = x->monitors();
    for (const X11Monitor &m : monitors) {
        if (!screen.name.isEmpty() && m.name == screen.name)
            return m.id;
    }
    // Qt may name a screen after its output rather than its monitor: fall back
    // to the monitor with the same size and place.
    const X11Monitor primary = primaryOf(monitors);
    const double primaryHeight = primary.pixels.height() / m_scale;
    for (const X11Monitor &m : monitors) {
        const QRect p = m.pixels.translated(-primary.pixels.topLeft());
        const Rect points {
            p.x() / m_scale, primaryHeight - (p.y() + p.height()) / m_scale, p.width() / m_scale, p.height() / m_scale};
        if (points == screen.frame)
            return m.id;
    }
    return std::nullopt;
}

std::shared_ptr<CaptureStream> X11CaptureService::createStream(const ContentFilter &filter,
    const StreamConfiguration &configuration, std::weak_ptr<CaptureStreamDelegate> delegate)
{
    return std::make_shared<X11CaptureStream>(m_serviceQueue, filter, configuration, std::move(delegate), m_scale);
}

// ---- X11CaptureStream

X11CaptureStream::X11CaptureStream(std::shared_ptr<SerialQueue> serviceQueue, ContentFilter filter,
    StreamConfiguration configuration, std::weak_ptr<CaptureStreamDelegate> delegate, double pointScale)
    : m_serviceQueue(std::move(serviceQueue))
    , m_filter(std::move(filter))
    , m_configuration(std::move(configuration))
    , m_delegate(std::move(delegate))
    , m_scale(pointScale)
{
}

X11CaptureStream::~X11CaptureStream()
{
    endGrabbing();
}

std::optional<CaptureFailure> X11CaptureStream::addStreamOutput(
    std::weak_ptr<CaptureStreamOutput> output, StreamOutputType type, std::shared_ptr<SerialQueue> queue)
{
    if (type != StreamOutputType::screen)
        return X11CaptureService::error(setUpFailed, QStringLiteral("This stream records no audio."));
    std::lock_guard lock(m_mutex);
    m_output = std::move(output);
    m_outputQueue = std::move(queue);
    return std::nullopt;
}

void X11CaptureStream::startCapture(CaptureCompletion completion)
{
    m_serviceQueue->async([self = shared_from_this(), completion = std::move(completion)] {
        std::optional<CaptureFailure> failure = self->begin();
        if (completion)
            completion(failure);
    });
}

void X11CaptureStream::stopCapture(CaptureCompletion completion)
{
    m_serviceQueue->async([self = shared_from_this(), completion = std::move(completion)] {
        bool wasRunning = false;
        {
            std::lock_guard lock(self->m_mutex);
            wasRunning = self->m_state == State::running;
            self->m_state = State::stopped;
        }
        self->endGrabbing();
        if (completion) {
            completion(wasRunning ? std::nullopt
                                  : std::optional<CaptureFailure>(X11CaptureService::error(
                                      notRunning, QStringLiteral("The stream was not running."))));
        }
    });
}

std::optional<CaptureFailure> X11CaptureStream::begin()
{
    std::weak_ptr<CaptureStreamOutput> output;
    std::shared_ptr<SerialQueue> outputQueue;
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::idle)
            return X11CaptureService::error(alreadyStarted, QStringLiteral("The stream was already started."));
        output = m_output;
        outputQueue = m_outputQueue;
    }
    if (!outputQueue)
        return X11CaptureService::error(setUpFailed, QStringLiteral("The stream has no output."));

    QString message;
    std::unique_ptr<X11Connection> x = X11Connection::open(&message);
    if (!x)
        return X11CaptureService::error(noConnection, message);
    const std::vector<X11Monitor> monitors = x->monitors();
    const X11Monitor monitor = findMonitor(monitors, m_filter.displayId).value_or(primaryOf(monitors));
    x.reset();

    const QRectF source = m_configuration.sourceRect;
    const QPointF topLeft(monitor.pixels.x() + source.x() * m_scale, monitor.pixels.y() + source.y() * m_scale);
    const QPointF bottomRight(
        monitor.pixels.x() + source.right() * m_scale, monitor.pixels.y() + source.bottom() * m_scale);
    X11FrameGrabber::Options options;
    options.rect = QRect(QPoint(int(roundHalfAway(topLeft.x())), int(roundHalfAway(topLeft.y()))),
        QPoint(int(roundHalfAway(bottomRight.x())) - 1, int(roundHalfAway(bottomRight.y())) - 1));
    options.outputSize = QSize(int(m_configuration.width), int(m_configuration.height));
    options.showsCursor = m_configuration.showsCursor;
    options.excludedWindows = m_filter.excludedWindows;
    options.excludeOwnWindows = !m_filter.excludedApplications.empty();

    std::unique_ptr<X11FrameGrabber> grabber = X11FrameGrabber::create(options, &message);
    if (!grabber)
        return X11CaptureService::error(setUpFailed, message);

    auto control = std::make_shared<Control>();
    const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(std::max(m_configuration.minimumFrameInterval.seconds(), 0.001)));
    const int depth = std::max(1, m_configuration.queueDepth);

    // The grab thread holds the stream only weakly: it must never be the one
    // that destroys it, since the destructor joins it.
    auto run = [grabber = std::move(grabber), control, interval, depth, output, outputQueue,
                   weakStream = weak_from_this(), serviceQueue = m_serviceQueue, delegate = m_delegate]() mutable {
        QImage previous;
        int failures = 0;
        auto next = std::chrono::steady_clock::now();
        for (;;) {
            {
                std::unique_lock lock(control->mutex);
                if (control->wake.wait_until(lock, next, [&] { return control->stop; }))
                    return;
            }
            const auto now = std::chrono::steady_clock::now();
            next = std::max(next + interval, now);
            if (control->inFlight.load() >= depth)
                continue;

            const double pts = monotonicSeconds();
            QString message;
            QImage frame = grabber->grab(&message);
            if (frame.isNull()) {
                if (++failures < 3 && !grabber->connectionLost())
                    continue;
                serviceQueue->async([weakStream, delegate, message] {
                    auto stream = weakStream.lock();
                    auto receiver = delegate.lock();
                    if (stream && receiver)
                        receiver->streamDidStopWithError(*stream, X11CaptureService::error(streamLost, message));
                });
                return;
            }
            failures = 0;

            SampleBuffer sample;
            sample.presentationTime = pts;
            if (X11FrameGrabber::samePixels(frame, previous)) {
                sample.frameStatus = int64_t(FrameStatus::idle);
            } else {
                sample.frameStatus = int64_t(FrameStatus::complete);
                sample.pixelBuffer = PixelBuffer {frame};
                previous = frame;
            }
            control->inFlight.fetch_add(1);
            outputQueue->async([weakStream, output, sample = std::move(sample), control] {
                auto stream = weakStream.lock();
                auto receiver = output.lock();
                if (stream && receiver)
                    receiver->streamDidOutputSampleBuffer(*stream, sample, StreamOutputType::screen);
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
