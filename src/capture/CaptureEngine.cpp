#include "capture/CaptureEngine.h"

#include "base/Log.h"
#include "base/MainThread.h"
#include "base/Rounding.h"
#include "capture/CaptureBackendFactory.h"
#include "capture/CaptureGeometry.h"
#include "capture/MemoryHeadroom.h"
#include "store/FrameStore.h"

#include <QDebug>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

namespace {

const QString appIdentifier = QStringLiteral("org.quillo.Quillo");

std::mutex liveLock;
int64_t liveStreams = 0; // guarded by liveLock
int64_t startCalls = 0; // GUI thread only

void changeLiveStreams(int64_t delta)
{
    std::lock_guard lock(liveLock);
    liveStreams += delta;
}

void deliver(const CaptureCompletion &completion, std::optional<CaptureFailure> error)
{
    if (!completion)
        return;
    postToMain([completion, error = std::move(error)] { completion(error); });
}

int64_t nominalDelayMs(int64_t fps)
{
    return static_cast<int64_t>(1000.0 / double(std::max<int64_t>(fps, 1)));
}

// Whether the backend's picture is one of the two layouts frames are kept in.
bool usableImage(const QImage &source)
{
    return !source.isNull() && source.width() > 0 && source.height() > 0
        && (source.format() == QImage::Format_ARGB32_Premultiplied || source.format() == QImage::Format_RGB32);
}

// The frame's image in the frame format: premultiplied ARGB is taken as is
// (shared, no copy), opaque RGB32 gets its alpha set. Anything else is a
// failure.
std::optional<QImage> frameImage(QImage source)
{
    if (!usableImage(source))
        return std::nullopt;
    switch (source.format()) {
    case QImage::Format_ARGB32_Premultiplied:
        return source;
    case QImage::Format_RGB32: {
        QImage image = std::move(source).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            return std::nullopt;
        return image;
    }
    default:
        return std::nullopt;
    }
}

bool sameGeometry(const QRectF &a, const QRectF &b)
{
    auto near = [](double x, double y) { return std::abs(x - y) <= 1.0; };
    return near(a.x(), b.x()) && near(a.y(), b.y()) && near(a.width(), b.width()) && near(a.height(), b.height());
}

} // namespace

struct CaptureEngine::StartRequest {
    Rect region;
    ScreenInfo screen;
    double primaryHeight = 0;
    // How many screens this program sees.
    size_t screenCount = 0;
    CaptureCompletion completion;
};

CaptureEngine::CaptureEngine()
    : CaptureEngine(CaptureBackendFactory::create())
{
}

CaptureEngine::CaptureEngine(std::shared_ptr<CaptureBackend> backend)
    : memoryHeadroom(&MemoryHeadroom::bytes)
    , m_backend(std::move(backend))
    , m_queue(makeSharedSerialQueue(appIdentifier + QStringLiteral(".capture")))
{
}

CaptureEngine::~CaptureEngine()
{
    // Nothing else can reach the engine now: no task holds it, and the ones
    // holding it weakly find it gone.
    if (m_streamLive) {
        m_streamLive = false;
        changeLiveStreams(-1);
    }
    if (m_stream)
        m_stream->stop({});
}

QString CaptureEngine::queueLabel() const
{
    return m_queue->name();
}

int64_t CaptureEngine::liveStreamCount()
{
    std::lock_guard lock(liveLock);
    return liveStreams;
}

int64_t CaptureEngine::startCallCount()
{
    return startCalls;
}

void CaptureEngine::start(const Rect &region, const ScreenInfo &screen, CaptureCompletion completion)
{
    ++startCalls;
    if (store) {
        // The store reports a failed write on its own thread, perhaps while no
        // frame arrives (an idle screen): the recording ends on the capture
        // queue all the same.
        store->onError
            = [previous = store->onError, weak = weak_from_this(), queue = m_queue](const StoreError &error) {
                  if (previous)
                      previous(error);
                  queue->async([weak, error] {
                      if (auto self = weak.lock())
                          self->storeFailed(error);
                  });
              };
    }
    // The reset is a capture-queue task like every other touch of the
    // recording state; a stop posted before it is thereby forgotten, as a stop
    // before start() must be.
    m_queue->async([self = shared_from_this()] {
        self->m_captured.clear();
        self->m_stopping = false;
        self->m_paused = false;
        self->m_cancelled = false;
        self->m_endedAt.reset();
        self->m_capped = false;
        self->m_statusCounts.clear();
        self->m_convertFailures = 0;
    });

    Log::reset();
    Log::write(QStringLiteral("START region=") + CaptureGeometry::formatRect(region) + QStringLiteral(" screenFrame=")
        + CaptureGeometry::formatRect(screen.frame) + QStringLiteral(" scale=")
        + CaptureGeometry::formatDouble(screen.scale) + QStringLiteral(" fps=") + QString::number(fps));

    auto request = std::make_shared<StartRequest>();
    request->region = region;
    request->screen = screen;
    const std::vector<ScreenInfo> screens = ScreenUtil::screens();
    request->primaryHeight = screens.empty() ? screen.frame.height : ScreenUtil::primaryHeight(screens);
    request->screenCount = screens.size();
    request->completion = std::move(completion);

    // The answer is handled on the capture queue, so that it is ordered with
    // a stop: a stop that came first (during a consent dialog, say) abandons
    // the start before any stream exists.
    m_backend->queryScreens([weak = weak_from_this(), queue = m_queue, request](
                                std::vector<CaptureScreen> list, std::optional<CaptureFailure> error) {
        queue->async([weak, request, list = std::move(list), error = std::move(error)] {
            if (auto self = weak.lock())
                self->handleScreens(request, list, error);
        });
    });
}

std::optional<CaptureScreen> CaptureEngine::chooseScreen(
    const StartRequest &request, const std::vector<CaptureScreen> &screens)
{
    const QString &name = request.screen.name;
    for (const CaptureScreen &s : screens) {
        if (!name.isEmpty() && s.name == name)
            return s;
    }
    const Rect &f = request.screen.frame;
    const QRectF wanted(f.minX(), request.primaryHeight - f.maxY(), f.width, f.height);
    for (const CaptureScreen &s : screens) {
        if (sameGeometry(s.geometry, wanted))
            return s;
    }
    if (m_backend->needsConsent()) {
        // Only what the user shared is listed: another screen is not there to
        // fall back on. With one screen on each side they are the same one,
        // whatever scaling makes of their sizes.
        if (screens.size() == 1 && request.screenCount <= 1) {
            // The region is measured on this program's screen: so is the crop.
            CaptureScreen only = screens.front();
            only.geometry = wanted;
            return only;
        }
        return std::nullopt;
    }
    const auto primary = std::find_if(screens.begin(), screens.end(), [](const CaptureScreen &s) { return s.primary; });
    return primary != screens.end() ? *primary : screens.front();
}

void CaptureEngine::handleScreens(const std::shared_ptr<StartRequest> &request,
    const std::vector<CaptureScreen> &screens, const std::optional<CaptureFailure> &error)
{
    if (m_cancelled) {
        Log::write(QStringLiteral("start: cancelled before launch — aborting"));
        deliver(request->completion, std::nullopt);
        return;
    }
    if (error) {
        Log::write(QStringLiteral("ERROR queryScreens: ") + error->toString());
        deliver(request->completion, error);
        return;
    }
    if (screens.empty()) {
        Log::write(QStringLiteral("ERROR no display found"));
        deliver(request->completion, CaptureFailure(CaptureError::noDisplay));
        return;
    }
    const std::optional<CaptureScreen> chosen = chooseScreen(*request, screens);
    if (!chosen) {
        Log::write(QStringLiteral("ERROR screen not shared: ") + CaptureGeometry::formatRect(request->screen.frame)
            + QStringLiteral(" is not among %1 shared").arg(screens.size()));
        deliver(request->completion, CaptureFailure(CaptureError::screenNotShared));
        return;
    }
    const CaptureScreen &display = *chosen;
    const Rect bounds {display.geometry.x(), display.geometry.y(), display.geometry.width(), display.geometry.height()};
    Log::write(QStringLiteral("display %1 %2x%3; backend=%4")
                   .arg(display.id)
                   .arg(int64_t(roundHalfAway(bounds.width)))
                   .arg(int64_t(roundHalfAway(bounds.height)))
                   .arg(m_backend->name()));

    std::vector<uint32_t> wanted;
    for (int64_t number : excludedWindowNumbers) {
        if (number >= 0 && number <= int64_t(std::numeric_limits<uint32_t>::max()))
            wanted.push_back(static_cast<uint32_t>(number));
    }
    CaptureRequest config;
    if (m_backend->canExcludeWindows()) {
        config.excludedWindows = wanted;
        Log::write(QStringLiteral("exclude: windows=%1").arg(wanted.size()));
    } else {
        Log::write(QStringLiteral("exclude: none, the %1 backend records every window (%2 asked)")
                       .arg(m_backend->name())
                       .arg(wanted.size()));
    }

    const CaptureGeometry::DisplayCrop crop
        = CaptureGeometry::cropToDisplay(request->region, request->primaryHeight, bounds);
    if (crop.straddles) {
        Log::write(QStringLiteral("WARN region straddles/exceeds display %1 — cropped from %2 to %3. Recording covers "
                                  "only this display.")
                       .arg(display.id)
                       .arg(CaptureGeometry::formatRect(crop.local), CaptureGeometry::formatRect(crop.cropped)));
        if (onStraddle)
            postToMain(onStraddle);
    }

    config.screenId = display.id;
    config.scale = request->screen.scale;
    config.screenSize = display.geometry.size();
    config.pixels = CaptureGeometry::devicePixels(crop.cropped, request->screen.scale);
    Log::write(QStringLiteral("sourceRect=") + CaptureGeometry::formatRect(crop.cropped)
        + QStringLiteral(" px=%1x%2 dbBounds=").arg(config.pixels.width()).arg(config.pixels.height())
        + CaptureGeometry::formatRect(bounds));
    config.fps = static_cast<int>(std::clamp<int64_t>(fps, 1, std::numeric_limits<int32_t>::max()));
    config.showsCursor = showsCursor;

    CaptureSink sink;
    sink.queue = m_queue;
    sink.onFrame = [weak = weak_from_this()](CaptureFrame frame) {
        if (auto self = weak.lock())
            self->intake(std::move(frame));
    };
    sink.onEnded = [weak = weak_from_this(), queue = m_queue](const CaptureFailure &failure) {
        // The system log only: the diagnostic log keeps the recording's story.
        qWarning().noquote() << QStringLiteral("capture stream stopped with error: ") + failure.toString();
        queue->async([weak, failure] {
            if (auto self = weak.lock())
                self->streamEnded(failure);
        });
    };
    CaptureBackend::StreamOrError created = m_backend->createStream(config, std::move(sink));
    if (!created.stream) {
        deliver(request->completion,
            created.error.value_or(CaptureFailure(
                QStringLiteral("Quillo.CaptureEngine"), 1, QStringLiteral("The capture backend made no stream."))));
        return;
    }
    launch(created.stream, request->completion);
}

void CaptureEngine::launch(const std::shared_ptr<CaptureStream> &stream, const CaptureCompletion &completion)
{
    m_stream = stream;
    m_streamLive = true;
    changeLiveStreams(+1);
    stream->start([self = shared_from_this(), stream, completion](std::optional<CaptureFailure> error) {
        if (error) {
            Log::write(QStringLiteral("startCapture ERROR: ") + error->toString());
            self->m_queue->async([self, stream] {
                if (self->m_stream != stream)
                    return;
                self->endLive();
                self->m_stream.reset();
            });
        } else {
            Log::write(QStringLiteral("startCapture OK"));
        }
        deliver(completion, error);
    });
}

void CaptureEngine::endLive()
{
    if (!m_streamLive)
        return;
    m_streamLive = false;
    changeLiveStreams(-1);
}

void CaptureEngine::setPaused(bool paused)
{
    m_queue->async([self = shared_from_this(), paused] { self->m_paused = paused; });
}

void CaptureEngine::intake(CaptureFrame frame)
{
    if (m_stopping || m_paused)
        return;
    ++m_statusCounts[static_cast<int64_t>(frame.status)];
    if (frame.status == FrameStatus::idle)
        return;
    if (!usableImage(frame.image)) {
        ++m_convertFailures;
        return;
    }
    // A frame without a finite time cannot be placed in the animation.
    if (!std::isfinite(frame.presentationTime))
        return;

    FrameRef kept;
    if (store) {
        // The store takes both layouts as they are, without a copy.
        kept = store->append(frame.image, frame.presentationTime);
        if (!kept) {
            storeFailed(store->error().value_or(
                StoreError {StoreError::Kind::unwritable, QStringLiteral("The frame store refused a frame")}));
            return;
        }
    } else {
        std::optional<QImage> image = frameImage(std::move(frame.image));
        if (!image) {
            ++m_convertFailures;
            return;
        }
        kept = StoredFrame::fromImage(std::move(*image));
    }

    m_captured.push_back({kept, frame.presentationTime});
    const int64_t n = int64_t(m_captured.size());
    if (n == 1) {
        Log::write(QStringLiteral("first frame %1x%2").arg(kept->width()).arg(kept->height()));
    } else if (n % 15 == 0) {
        Log::write(QStringLiteral("frames=%1 status=%2 convFail=%3").arg(n).arg(statusTally()).arg(m_convertFailures));
    }
    if (onFrame)
        postToMain([callback = onFrame, n] { callback(n); });
    if (n >= maxFrames) {
        m_stopping = true;
        m_capped = true;
        if (onAutoStop)
            postToMain(onAutoStop);
        return;
    }
    // Measured, not counted: frames in a store leave memory once compressed,
    // and only the store's backlog shows here.
    const int64_t frameBytes = int64_t(kept->width()) * int64_t(kept->height()) * 4;
    const std::optional<int64_t> room = memoryHeadroom ? memoryHeadroom() : std::nullopt;
    if (room && *room < MemoryHeadroom::reserveFor(frameBytes)) {
        Log::write(QStringLiteral("memory low: %1 MB left after %2 frames").arg(*room / (1024 * 1024)).arg(n));
        endEarly(CaptureError::lowMemory);
    }
}

void CaptureEngine::endEarly(const CaptureFailure &why)
{
    m_stopping = true;
    if (m_stream)
        m_stream->stop({});
    streamEnded(why);
}

void CaptureEngine::storeFailed(const StoreError &error)
{
    // Only a recording still taking frames ends here; a store failing after
    // the stop (the index, a read) is the editor's business.
    if (m_stopping || !m_stream)
        return;
    Log::write(QStringLiteral("frame store failed after %1 frames: %2").arg(m_captured.size()).arg(error.message));
    endEarly(error.kind == StoreError::Kind::diskFull ? CaptureError::diskFull : CaptureError::storeFailed);
}

void CaptureEngine::streamEnded(const CaptureFailure &error)
{
    // A stream already stopped on request may still report its end.
    if (!m_stream)
        return;
    endLive();
    m_stream.reset();
    m_endedAt = m_backend->now();
    Log::write(QStringLiteral("stream ended by itself: ") + error.toString());
    if (onStreamEnded)
        postToMain([callback = onStreamEnded, error] { callback(error); });
}

void CaptureEngine::stop(std::function<void(GifProjectRef)> completion)
{
    Log::write(QStringLiteral("STOP requested (main)"));
    const double requestedAt = m_backend->now();
    m_queue->async([self = shared_from_this(), completion = std::move(completion), requestedAt]() mutable {
        self->stopStep(std::move(completion), requestedAt);
    });
}

void CaptureEngine::stopStep(std::function<void(GifProjectRef)> completion, double requestedAt)
{
    m_cancelled = true;
    std::shared_ptr<CaptureStream> stream = std::move(m_stream);
    m_stream.reset();
    endLive();
    if (!stream) {
        if (m_endedAt) {
            // What was recorded before the stream ended is the user's.
            Log::write(QStringLiteral("STOP: the stream had ended by itself → building from the kept frames"));
            assemble(std::move(completion), requestedAt);
            return;
        }
        Log::write(QStringLiteral("STOP: no stream yet (cancelled set) → nil project"));
        // A backend still waiting for the user's consent gives up now.
        m_backend->cancelQuery();
        if (completion)
            postToMain([completion] { completion(nullptr); });
        return;
    }
    stream->stop([self = shared_from_this(), completion, requestedAt](std::optional<CaptureFailure> error) mutable {
        if (error)
            Log::write(QStringLiteral("stopCapture err: ") + error->toString());
        self->m_queue->async([self, completion = std::move(completion), requestedAt]() mutable {
            self->assemble(std::move(completion), requestedAt);
        });
    });
}

void CaptureEngine::assemble(std::function<void(GifProjectRef)> completion, double requestedAt)
{
    m_stopping = true;
    Log::write(QStringLiteral("building; captured=%1 status=%2 convFail=%3")
                   .arg(m_captured.size())
                   .arg(statusTally())
                   .arg(m_convertFailures));
    // The last picture stayed on screen until the stop (or until the stream
    // ended); a recording that reached the frame cap was cut, not held.
    std::optional<double> end;
    if (!m_capped)
        end = m_endedAt ? std::min(*m_endedAt, requestedAt) : requestedAt;
    GifProjectRef project = buildProject(m_captured, fps, variableFrameRate, end);
    Log::write(QStringLiteral("buildProject → %1 frames").arg(project ? int64_t(project->frames.size()) : -1));
    if (completion)
        postToMain([completion, project] { completion(project); });
}

QString CaptureEngine::statusTally() const
{
    if (m_statusCounts.empty())
        return QStringLiteral("[:]");
    QStringList pairs;
    for (const auto &[status, count] : m_statusCounts)
        pairs << QStringLiteral("%1: %2").arg(status).arg(count);
    return QLatin1Char('[') + pairs.join(QStringLiteral(", ")) + QLatin1Char(']');
}

GifProjectRef CaptureEngine::buildProject(
    std::vector<CapturedFrame> frames, int64_t fps, bool variableFrameRate, std::optional<double> endTime)
{
    std::stable_sort(
        frames.begin(), frames.end(), [](const CapturedFrame &a, const CapturedFrame &b) { return a.pts < b.pts; });
    if (frames.empty())
        return nullptr;
    const int64_t nominal = nominalDelayMs(fps);
    // Gaps beyond this many milliseconds (about 285 000 years) are not a real
    // recording; they get the nominal delay rather than overflow.
    constexpr double maxGapMs = 9.0e15;
    auto measured = [](double from, double to) -> std::optional<int64_t> {
        const double ms = roundHalfAway((to - from) * 1000.0);
        if (!std::isfinite(ms) || ms > maxGapMs)
            return std::nullopt;
        return int64_t(ms);
    };
    GifFrameList list;
    list.reserve(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        int64_t delay = nominal;
        if (variableFrameRate && i + 1 < frames.size()) {
            if (std::optional<int64_t> ms = measured(frames[i].pts, frames[i + 1].pts))
                delay = std::max<int64_t>(*ms, 10);
        } else if (variableFrameRate && endTime) {
            if (std::optional<int64_t> ms = measured(frames[i].pts, *endTime))
                delay = std::max(*ms, nominal);
        }
        list.push_back(std::make_shared<GifFrame>(frames[i].pixels, delay));
    }
    return std::make_shared<GifProject>(std::move(list), fps, 0);
}
