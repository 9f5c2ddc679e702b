#include "capture/portal/PortalCaptureBackend.h"

#include "base/Geometry.h"
#include "capture/portal/PipeWireStream.h"

#include <QSettings>
#include <QThread>
#include <QTimer>

#include <utility>

namespace {

const QString errorDomain = QStringLiteral("Quillo.Portal");

enum ErrorCode : int64_t {
    // Codes 1 to 4 are ScreenCastPortal's.
    noSuchScreen = 5,
    notRunning = 6,
    pipeWire = 7,
};

CaptureFailure failure(int64_t code, const QString &text)
{
    return {errorDomain, code, text};
}

QSettings settings()
{
    return QSettings(QStringLiteral("Quillo"), QStringLiteral("Quillo"));
}

} // namespace

PortalCaptureBackend::PortalCaptureBackend(QDBusConnection bus)
    : m_portal(new ScreenCastPortal(std::move(bus)))
    , m_primary(Geometry::primaryScreenGeometry())
{
}

PortalCaptureBackend::~PortalCaptureBackend()
{
    ScreenCastPortal *portal = m_portal;
    if (QThread::currentThread() == portal->thread())
        delete portal;
    else
        QMetaObject::invokeMethod(
            portal, [portal] { delete portal; }, Qt::QueuedConnection);
}

bool PortalCaptureBackend::isAvailable()
{
    return ScreenCastPortal::isAvailable(QDBusConnection::sessionBus());
}

QString PortalCaptureBackend::name() const
{
    return QStringLiteral("portal");
}

bool PortalCaptureBackend::canExcludeWindows() const
{
    return false;
}

bool PortalCaptureBackend::needsConsent() const
{
    return true;
}

void PortalCaptureBackend::post(std::function<void(ScreenCastPortal &)> task)
{
    ScreenCastPortal *portal = m_portal;
    QMetaObject::invokeMethod(
        portal, [portal, task = std::move(task)] { task(*portal); }, Qt::QueuedConnection);
}

void PortalCaptureBackend::queryScreens(ScreensCompletion completion)
{
    post([weak = weak_from_this(), completion = std::move(completion)](ScreenCastPortal &portal) {
        auto self = weak.lock();
        if (!self)
            return;
        // A restore token is good for one session: the one this session
        // gets replaces it once its stream has run.
        QString token = settings().value(restoreTokenKey).toString();
        settings().remove(restoreTokenKey);
        portal.start(token,
            [weak, completion](std::optional<ScreenCastPortal::Started> started, std::optional<CaptureFailure> error) {
                auto self = weak.lock();
                if (!self)
                    return;
                if (!started) {
                    completion({}, error);
                    return;
                }
                std::vector<CaptureScreen> screens;
                const QPoint origin = self->m_primary.topLeft();
                for (const ScreenCastPortal::Stream &s : started->streams) {
                    CaptureScreen screen;
                    screen.id = s.nodeId;
                    // Without a size from the portal, the one monitor it shares is
                    // taken to be the primary screen.
                    const QPoint at = s.position ? *s.position - origin : QPoint();
                    const QSize size = s.size ? *s.size : self->m_primary.size();
                    screen.geometry = QRectF(at, size);
                    screen.primary = screens.empty();
                    screens.push_back(screen);
                }
                {
                    std::lock_guard lock(self->m_mutex);
                    self->m_streams = started->streams;
                    self->m_screens = screens;
                    self->m_restoreToken = started->restoreToken;
                }
                completion(std::move(screens), std::nullopt);
            });
    });
}

void PortalCaptureBackend::cancelQuery()
{
    post([](ScreenCastPortal &portal) { portal.cancel(); });
}

CaptureBackend::StreamOrError PortalCaptureBackend::createStream(const CaptureRequest &request, CaptureSink sink)
{
    std::optional<CaptureScreen> screen;
    {
        std::lock_guard lock(m_mutex);
        for (const CaptureScreen &s : m_screens) {
            if (s.id == request.screenId)
                screen = s;
        }
    }
    if (!screen || request.pixels.isEmpty())
        return {nullptr, failure(noSuchScreen, QStringLiteral("The shared screen is not available."))};
    const double scale = request.scale > 0 ? request.scale : 1.0;
    const QRectF region(request.pixels.x() / scale, request.pixels.y() / scale, request.pixels.width() / scale,
        request.pixels.height() / scale);
    const double logicalWidth = request.screenSize.width() > 0 ? request.screenSize.width() : screen->geometry.width();
    auto stream = std::make_shared<PortalCaptureStream>(
        weak_from_this(), screen->id, region, logicalWidth, request.fps, std::move(sink), m_firstPictureWaitMs);
    post([weakStream = std::weak_ptr<PortalCaptureStream>(stream)](ScreenCastPortal &portal) {
        portal.onClosed = [weakStream] {
            if (auto s = weakStream.lock())
                s->sessionClosed();
        };
    });
    return {stream, std::nullopt};
}

// ---- PortalCaptureStream

PortalCaptureStream::PortalCaptureStream(std::weak_ptr<PortalCaptureBackend> backend, uint32_t nodeId, QRectF region,
    double logicalWidth, int fps, CaptureSink sink, int firstPictureWaitMs)
    : m_backend(std::move(backend))
    , m_nodeId(nodeId)
    , m_region(region)
    , m_logicalWidth(logicalWidth)
    , m_fps(fps)
    , m_sink(std::move(sink))
    , m_firstPictureWaitMs(firstPictureWaitMs)
{
}

void PortalCaptureStream::PendingStart::set(CaptureCompletion completion)
{
    std::lock_guard lock(m_mutex);
    m_completion = std::move(completion);
}

bool PortalCaptureStream::PendingStart::answer(const std::optional<CaptureFailure> &error)
{
    CaptureCompletion completion;
    {
        std::lock_guard lock(m_mutex);
        completion = std::exchange(m_completion, nullptr);
    }
    if (!completion)
        return false;
    completion(error);
    return true;
}

PortalCaptureStream::~PortalCaptureStream()
{
    std::unique_ptr<PipeWireStream> pipewire;
    {
        std::lock_guard lock(m_mutex);
        pipewire = std::move(m_pipewire);
    }
    pipewire.reset();
    if (auto backend = m_backend.lock())
        backend->post([](ScreenCastPortal &portal) { portal.close(); });
}

void PortalCaptureStream::ended(const CaptureFailure &failure)
{
    if (!m_quiet->exchange(true) && m_sink.onEnded)
        m_sink.onEnded(failure);
}

void PortalCaptureStream::sessionClosed()
{
    ended(failure(pipeWire, QStringLiteral("The desktop stopped sharing the screen.")));
}

void PortalCaptureStream::start(CaptureCompletion completion)
{
    auto backend = m_backend.lock();
    if (!backend)
        return;
    m_start->set(std::move(completion));
    backend->post([self = shared_from_this(), backend](ScreenCastPortal &portal) {
        ScreenCastPortal *timers = &portal;
        portal.openPipeWireRemote([self, backend, timers](int fd, std::optional<CaptureFailure> error) {
            if (error) {
                self->m_start->answer(error);
                return;
            }
            PipeWireStream::Target target;
            target.fd = fd;
            target.nodeId = self->m_nodeId;
            target.region = self->m_region;
            target.logicalWidth = self->m_logicalWidth;
            target.fps = self->m_fps;
            CaptureSink sink = self->m_sink;
            sink.onEnded = [start = self->m_start, quiet = self->m_quiet, onEnded = self->m_sink.onEnded](
                               const CaptureFailure &f) {
                // Disconnected on request: not the desktop's doing.
                if (quiet->load())
                    return;
                // Ended before its first picture: the start failed.
                if (start->answer(f)) {
                    quiet->store(true);
                    return;
                }
                if (!quiet->exchange(true) && onEnded)
                    onEnded(f);
            };
            const auto started = [start = self->m_start] { start->answer(std::nullopt); };
            QString message;
            std::unique_ptr<PipeWireStream> pipewire = PipeWireStream::open(target, std::move(sink), &message, started);
            if (!pipewire) {
                self->m_start->answer(failure(pipeWire, message));
                return;
            }
            bool stopped = false;
            {
                std::lock_guard lock(self->m_mutex);
                stopped = self->m_stopped;
                if (!stopped) {
                    self->m_pipewire = std::move(pipewire);
                    self->m_started = true;
                }
            }
            // The stream ran: its session's token brings the same choice back
            // next time, without a dialog.
            QString token;
            {
                std::lock_guard lock(backend->m_mutex);
                token = backend->m_restoreToken;
            }
            if (!stopped && !token.isEmpty())
                settings().setValue(PortalCaptureBackend::restoreTokenKey, token);
            QTimer::singleShot(self->m_firstPictureWaitMs, timers, started);
        });
    });
}

void PortalCaptureStream::stop(CaptureCompletion completion)
{
    auto backend = m_backend.lock();
    std::unique_ptr<PipeWireStream> pipewire;
    bool wasRunning = false;
    {
        std::lock_guard lock(m_mutex);
        wasRunning = m_started && !m_stopped;
        m_stopped = true;
        m_quiet->store(true);
        pipewire = std::move(m_pipewire);
    }
    // Stopping joins the PipeWire thread: never on that thread, and not on
    // the caller's, which may be the engine's queue. A start still waiting
    // for its first picture is answered first: it was made.
    auto finish = [start = m_start, pipewire = std::shared_ptr<PipeWireStream>(std::move(pipewire)), completion,
                      wasRunning](ScreenCastPortal &portal) mutable {
        start->answer(wasRunning ? std::nullopt
                                 : std::optional<CaptureFailure>(failure(
                                     notRunning, QStringLiteral("The recording was stopped before it started."))));
        pipewire.reset();
        portal.close();
        if (completion) {
            completion(wasRunning ? std::nullopt
                                  : std::optional<CaptureFailure>(
                                      failure(notRunning, QStringLiteral("The stream was not running."))));
        }
    };
    if (backend)
        backend->post(std::move(finish));
}
