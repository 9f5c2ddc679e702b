#include "capture/CaptureEngine.h"

#include "base/Log.h"
#include "base/MainThread.h"
#include "base/Rounding.h"
#include "capture/CaptureGeometry.h"

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

// The converter of a pixel buffer into the frame's image: opaque BGRX gets its
// alpha set, premultiplied BGRA is shared as is. Anything else is a failure.
std::optional<QImage> frameImage(const PixelBuffer &buffer)
{
    const QImage &source = buffer.image;
    if (source.isNull() || source.width() <= 0 || source.height() <= 0)
        return std::nullopt;
    switch (source.format()) {
    case QImage::Format_ARGB32_Premultiplied:
        return source;
    case QImage::Format_RGB32: {
        QImage image = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            return std::nullopt;
        return image;
    }
    default:
        return std::nullopt;
    }
}

} // namespace

struct CaptureEngine::StartRequest {
    Rect region;
    ScreenInfo screen;
    uint32_t displayId = 0;
    double primaryHeight = 0;
    CaptureCompletion completion;
};

CaptureEngine::CaptureEngine()
    : CaptureEngine(CaptureService::createDefault())
{
}

CaptureEngine::CaptureEngine(std::shared_ptr<CaptureService> service)
    : m_service(std::move(service))
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
        m_stream->stopCapture({});
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
    // The reset is a capture-queue task like every other touch of the
    // recording state; a stop posted before it is thereby forgotten, as a stop
    // before start() must be.
    m_queue->async([self = shared_from_this()] {
        self->m_captured.clear();
        self->m_stopping = false;
        self->m_paused = false;
        self->m_cancelled = false;
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
    request->displayId = m_service->displayIdForScreen(screen).value_or(m_service->mainDisplayId());
    const std::vector<ScreenInfo> screens = ScreenUtil::screens();
    request->primaryHeight = screens.empty() ? screen.frame.height : ScreenUtil::primaryHeight(screens);
    request->completion = std::move(completion);

    m_service->getShareableContent(false, true,
        [weak = weak_from_this(), request](
            std::optional<ShareableContent> content, std::optional<CaptureFailure> error) {
            if (auto self = weak.lock())
                self->handleContent(request, std::move(content), std::move(error));
        });
}

void CaptureEngine::handleContent(const std::shared_ptr<StartRequest> &request, std::optional<ShareableContent> content,
    std::optional<CaptureFailure> error)
{
    if (error) {
        Log::write(QStringLiteral("ERROR SCShareableContent: ") + error->toString());
        deliver(request->completion, error);
        return;
    }
    if (!content || content->displays.empty()) {
        Log::write(QStringLiteral("ERROR no display found"));
        deliver(request->completion, CaptureFailure(CaptureError::noDisplay));
        return;
    }

    const auto match = std::find_if(content->displays.begin(), content->displays.end(),
        [&](const CaptureDisplay &d) { return d.displayId == request->displayId; });
    const CaptureDisplay display = match != content->displays.end() ? *match : content->displays.front();
    Log::write(QStringLiteral("display %1 %2x%3; apps=%4")
                   .arg(display.displayId)
                   .arg(display.width)
                   .arg(display.height)
                   .arg(content->applications.size()));

    // Exclusions: the recording frame's own windows when the service lists
    // them; otherwise this whole application, so its windows stay out anyway.
    std::vector<uint32_t> wanted;
    for (int64_t number : excludedWindowNumbers) {
        if (number >= 0 && number <= int64_t(std::numeric_limits<uint32_t>::max()))
            wanted.push_back(static_cast<uint32_t>(number));
    }
    ContentFilter filter;
    filter.displayId = display.displayId;
    for (const CaptureWindow &w : content->windows) {
        if (std::find(wanted.begin(), wanted.end(), w.windowId) != wanted.end())
            filter.excludedWindows.push_back(w.windowId);
    }
    std::vector<QString> ownApps;
    for (const CaptureApplication &app : content->applications) {
        if (app.bundleIdentifier && *app.bundleIdentifier == appIdentifier)
            ownApps.push_back(*app.bundleIdentifier);
    }
    if (filter.excludedWindows.empty())
        filter.excludedApplications = ownApps;
    Log::write(QStringLiteral("exclude: windows=%1 apps=%2").arg(filter.excludedWindows.size()).arg(ownApps.size()));

    const Rect bounds = m_service->displayBounds(display.displayId);
    const CaptureGeometry::DisplayCrop crop
        = CaptureGeometry::cropToDisplay(request->region, request->primaryHeight, bounds);
    if (crop.straddles) {
        Log::write(QStringLiteral("WARN region straddles/exceeds display %1 — cropped from %2 to %3. Recording covers "
                                  "only this display.")
                       .arg(display.displayId)
                       .arg(CaptureGeometry::formatRect(crop.local), CaptureGeometry::formatRect(crop.cropped)));
        if (onStraddle)
            postToMain(onStraddle);
    }

    StreamConfiguration config;
    config.sourceRect = crop.cropped;
    const QSize px = CaptureGeometry::outputPixels(crop.cropped.size(), request->screen.scale);
    config.width = px.width();
    config.height = px.height();
    Log::write(QStringLiteral("sourceRect=") + CaptureGeometry::formatRect(crop.cropped)
        + QStringLiteral(" px=%1x%2 dbBounds=").arg(config.width).arg(config.height)
        + CaptureGeometry::formatRect(bounds));
    const int32_t rate = static_cast<int32_t>(std::clamp<int64_t>(fps, 1, std::numeric_limits<int32_t>::max()));
    config.minimumFrameInterval = {1, rate};
    config.queueDepth = 8;
    config.showsCursor = showsCursor;
    config.pixelFormat = pixelFormat32BGRA;
    config.colorSpaceName = QStringLiteral("sRGB");
    config.capturesAudio = false;

    std::shared_ptr<CaptureStream> stream = m_service->createStream(filter, config, weak_from_this());
    const std::shared_ptr<CaptureStreamOutput> output = shared_from_this();
    if (std::optional<CaptureFailure> failure = stream->addStreamOutput(output, StreamOutputType::screen, m_queue)) {
        deliver(request->completion, failure);
        return;
    }
    m_queue->async(
        [self = shared_from_this(), stream, completion = request->completion] { self->launch(stream, completion); });
}

void CaptureEngine::launch(const std::shared_ptr<CaptureStream> &stream, const CaptureCompletion &completion)
{
    if (m_cancelled) {
        Log::write(QStringLiteral("start: cancelled before launch — aborting"));
        deliver(completion, std::nullopt);
        return;
    }
    m_stream = stream;
    m_streamLive = true;
    changeLiveStreams(+1);
    stream->startCapture([self = shared_from_this(), completion](std::optional<CaptureFailure> error) {
        if (error) {
            Log::write(QStringLiteral("startCapture ERROR: ") + error->toString());
            self->m_queue->async([self] {
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

void CaptureEngine::streamDidOutputSampleBuffer(CaptureStream &, const SampleBuffer &sample, StreamOutputType type)
{
    if (type != StreamOutputType::screen)
        return;
    if (m_stopping || m_paused)
        return;
    if (!sample.valid)
        return;
    if (sample.frameStatus)
        ++m_statusCounts[*sample.frameStatus];
    if (!sample.pixelBuffer)
        return;
    std::optional<QImage> image = frameImage(*sample.pixelBuffer);
    if (!image) {
        ++m_convertFailures;
        return;
    }
    // A frame without a finite time cannot be placed in the animation.
    if (!std::isfinite(sample.presentationTime))
        return;

    m_captured.push_back({*image, sample.presentationTime});
    const int64_t n = int64_t(m_captured.size());
    if (n == 1) {
        Log::write(QStringLiteral("first frame %1x%2").arg(image->width()).arg(image->height()));
    } else if (n % 15 == 0) {
        Log::write(QStringLiteral("frames=%1 status=%2 convFail=%3").arg(n).arg(statusTally()).arg(m_convertFailures));
    }
    if (onFrame)
        postToMain([callback = onFrame, n] { callback(n); });
    if (n >= maxFrames) {
        m_stopping = true;
        if (onAutoStop)
            postToMain(onAutoStop);
    }
}

void CaptureEngine::streamDidStopWithError(CaptureStream &, const CaptureFailure &error)
{
    // The system log only: the diagnostic log keeps the recording's story.
    qWarning().noquote() << QStringLiteral("SCStream stopped with error: ") + error.toString();
    m_queue->async([self = shared_from_this()] {
        self->endLive();
        self->m_stream.reset();
    });
}

void CaptureEngine::stop(std::function<void(GifProjectRef)> completion)
{
    Log::write(QStringLiteral("STOP requested (main)"));
    m_queue->async([self = shared_from_this(), completion = std::move(completion)]() mutable {
        self->stopStep(std::move(completion));
    });
}

void CaptureEngine::stopStep(std::function<void(GifProjectRef)> completion)
{
    m_cancelled = true;
    std::shared_ptr<CaptureStream> stream = std::move(m_stream);
    m_stream.reset();
    endLive();
    if (!stream) {
        Log::write(QStringLiteral("STOP: no stream yet (cancelled set) → nil project"));
        if (completion)
            postToMain([completion] { completion(nullptr); });
        return;
    }
    stream->stopCapture([self = shared_from_this(), completion](std::optional<CaptureFailure> error) mutable {
        if (error)
            Log::write(QStringLiteral("stopCapture err: ") + error->toString());
        self->m_queue->async(
            [self, completion = std::move(completion)]() mutable { self->assemble(std::move(completion)); });
    });
}

void CaptureEngine::assemble(std::function<void(GifProjectRef)> completion)
{
    m_stopping = true;
    Log::write(QStringLiteral("building; captured=%1 status=%2 convFail=%3")
                   .arg(m_captured.size())
                   .arg(statusTally())
                   .arg(m_convertFailures));
    GifProjectRef project = buildProject(m_captured, fps, variableFrameRate);
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

GifProjectRef CaptureEngine::buildProject(std::vector<CapturedFrame> frames, int64_t fps, bool variableFrameRate)
{
    std::stable_sort(
        frames.begin(), frames.end(), [](const CapturedFrame &a, const CapturedFrame &b) { return a.pts < b.pts; });
    if (frames.empty())
        return nullptr;
    const int64_t nominal = nominalDelayMs(fps);
    // Gaps beyond this many milliseconds (about 285 000 years) are not a real
    // recording; they get the nominal delay rather than overflow.
    constexpr double maxGapMs = 9.0e15;
    GifFrameList list;
    list.reserve(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        int64_t delay = nominal;
        if (variableFrameRate && i + 1 < frames.size()) {
            const double ms = roundHalfAway((frames[i + 1].pts - frames[i].pts) * 1000.0);
            if (std::isfinite(ms) && ms <= maxGapMs)
                delay = std::max<int64_t>(int64_t(ms), 10);
        }
        list.push_back(std::make_shared<GifFrame>(frames[i].image, delay));
    }
    return std::make_shared<GifProject>(std::move(list), fps, 0);
}
