#include "capture/synthetic/SyntheticCaptureBackend.h"

#include "capture/ScreenUtil.h"
#include "capture/synthetic/SyntheticContent.h"

#include <atomic>
#include <chrono>
#include <cmath>

namespace {

// Frames handed to the engine's queue and not yet taken: beyond this a
// generated frame is skipped, as a real backend's stream drops the frames a
// busy consumer cannot take.
constexpr int queueDepth = 8;

} // namespace

SyntheticCaptureBackend::SyntheticCaptureBackend(Scene scene, bool generateFrames)
    : m_backendQueue(makeSharedSerialQueue(QStringLiteral("org.quillo.Quillo.capture.synthetic")))
    , m_generateFrames(generateFrames)
    , m_scene(std::move(scene))
{
}

SyntheticCaptureBackend::~SyntheticCaptureBackend() = default;

SyntheticCaptureBackend::Scene SyntheticCaptureBackend::sceneFromScreens()
{
    Scene scene;
    const std::vector<ScreenInfo> screens = ScreenUtil::screens();
    const double primaryTop = screens.empty() ? 0.0 : screens.front().frame.maxY();
    const double primaryLeft = screens.empty() ? 0.0 : screens.front().frame.minX();
    uint32_t id = 1;
    for (const ScreenInfo &s : screens) {
        scene.screens.push_back({id, s.name,
            QRectF(s.frame.minX() - primaryLeft, primaryTop - s.frame.maxY(), s.frame.width, s.frame.height), s.scale,
            id == 1});
        ++id;
    }
    if (screens.empty())
        scene.screens.push_back({1, QString(), QRectF(0, 0, 1280, 1024), 1.0, true});
    return scene;
}

CaptureFailure SyntheticCaptureBackend::syntheticError(const QString &what)
{
    return {QStringLiteral("Quillo.SyntheticCapture"), 1, QStringLiteral("Synthetic failure: %1.").arg(what)};
}

SyntheticCaptureBackend::Faults SyntheticCaptureBackend::faultsFromEnvironment()
{
    Faults f;
    const QString fault = qEnvironmentVariable("QUILLO_SYNTHETIC_FAULT");
    if (fault == QLatin1String("content"))
        f.screensError = syntheticError(QStringLiteral("screen query"));
    else if (fault == QLatin1String("nodisplay"))
        f.noScreens = true;
    else if (fault == QLatin1String("output"))
        f.streamError = syntheticError(QStringLiteral("stream set-up"));
    else if (fault == QLatin1String("start"))
        f.startError = syntheticError(QStringLiteral("start"));
    else if (fault == QLatin1String("stop"))
        f.stopError = syntheticError(QStringLiteral("stop"));
    else if (fault == QLatin1String("midstream"))
        f.failAfterFrames = 5;
    return f;
}

void SyntheticCaptureBackend::setFaults(const Faults &faults)
{
    std::lock_guard lock(m_mutex);
    m_faults = faults;
}

SyntheticCaptureBackend::Faults SyntheticCaptureBackend::faults() const
{
    std::lock_guard lock(m_mutex);
    return m_faults;
}

void SyntheticCaptureBackend::setScene(const Scene &scene)
{
    std::lock_guard lock(m_mutex);
    m_scene = scene;
}

void SyntheticCaptureBackend::setClock(std::function<double()> clock)
{
    std::lock_guard lock(m_mutex);
    m_clock = std::move(clock);
}

double SyntheticCaptureBackend::now() const
{
    std::function<double()> clock;
    {
        std::lock_guard lock(m_mutex);
        clock = m_clock;
    }
    return clock ? clock() : monotonicSeconds();
}

void SyntheticCaptureBackend::hold(Step step)
{
    std::lock_guard lock(m_mutex);
    m_held[step] = true;
}

void SyntheticCaptureBackend::release(Step step)
{
    std::vector<std::function<void()>> waiting;
    {
        std::lock_guard lock(m_mutex);
        m_held[step] = false;
        waiting.swap(m_waiting[step]);
    }
    for (auto &task : waiting)
        m_backendQueue->async(std::move(task));
}

void SyntheticCaptureBackend::answer(Step step, std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_held[step]) {
            m_waiting[step].push_back(std::move(task));
            return;
        }
    }
    m_backendQueue->async(std::move(task));
}

std::vector<std::shared_ptr<SyntheticCaptureStream>> SyntheticCaptureBackend::streams() const
{
    std::lock_guard lock(m_mutex);
    return m_streams;
}

int SyntheticCaptureBackend::screenQueries() const
{
    std::lock_guard lock(m_mutex);
    return m_screenQueries;
}

int SyntheticCaptureBackend::cancelledQueries() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelledQueries;
}

QString SyntheticCaptureBackend::name() const
{
    return QStringLiteral("synthetic");
}

bool SyntheticCaptureBackend::canExcludeWindows() const
{
    std::lock_guard lock(m_mutex);
    return m_scene.canExcludeWindows;
}

bool SyntheticCaptureBackend::needsConsent() const
{
    std::lock_guard lock(m_mutex);
    return m_scene.needsConsent;
}

void SyntheticCaptureBackend::queryScreens(ScreensCompletion completion)
{
    Scene scene;
    {
        std::lock_guard lock(m_mutex);
        ++m_screenQueries;
        scene = m_scene;
    }
    const Faults f = faults();
    answer(Step::screens, [completion = std::move(completion), scene = std::move(scene), f] {
        if (f.screensError)
            completion({}, f.screensError);
        else if (f.noScreens)
            completion({}, std::nullopt);
        else
            completion(scene.screens, std::nullopt);
    });
}

void SyntheticCaptureBackend::cancelQuery()
{
    std::lock_guard lock(m_mutex);
    ++m_cancelledQueries;
}

CaptureBackend::StreamOrError SyntheticCaptureBackend::createStream(const CaptureRequest &request, CaptureSink sink)
{
    if (std::optional<CaptureFailure> error = faults().streamError)
        return {nullptr, error};
    auto stream
        = std::make_shared<SyntheticCaptureStream>(weak_from_this(), request, std::move(sink), m_generateFrames);
    std::lock_guard lock(m_mutex);
    m_streams.push_back(stream);
    return {stream, std::nullopt};
}

// ---- SyntheticCaptureStream

SyntheticCaptureStream::SyntheticCaptureStream(
    std::weak_ptr<SyntheticCaptureBackend> backend, CaptureRequest request, CaptureSink sink, bool generateFrames)
    : m_backend(std::move(backend))
    , m_request(std::move(request))
    , m_sink(std::move(sink))
    , m_generateFrames(generateFrames)
{
}

SyntheticCaptureStream::~SyntheticCaptureStream()
{
    stopGenerator();
}

int SyntheticCaptureStream::startRequests() const
{
    std::lock_guard lock(m_mutex);
    return m_startRequests;
}

bool SyntheticCaptureStream::isRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

bool SyntheticCaptureStream::wasStopped() const
{
    std::lock_guard lock(m_mutex);
    return m_stopped;
}

void SyntheticCaptureStream::deliver(CaptureFrame frame)
{
    if (!m_sink.queue)
        return;
    m_sink.queue->async([onFrame = m_sink.onFrame, frame = std::move(frame)]() mutable {
        if (onFrame)
            onFrame(std::move(frame));
    });
}

void SyntheticCaptureStream::waitForDelivery()
{
    if (m_sink.queue)
        m_sink.queue->drain();
}

void SyntheticCaptureStream::fail(const CaptureFailure &error)
{
    auto backend = m_backend.lock();
    if (!backend)
        return;
    backend->m_backendQueue->async([weakStream = weak_from_this(), error] {
        auto stream = weakStream.lock();
        if (!stream)
            return;
        stream->stopGenerator();
        {
            std::lock_guard lock(stream->m_mutex);
            stream->m_running = false;
        }
        if (stream->m_sink.onEnded)
            stream->m_sink.onEnded(error);
    });
}

void SyntheticCaptureStream::start(CaptureCompletion completion)
{
    auto backend = m_backend.lock();
    if (!backend)
        return;
    {
        std::lock_guard lock(m_mutex);
        ++m_startRequests;
    }
    const SyntheticCaptureBackend::Faults f = backend->faults();
    backend->answer(
        SyntheticCaptureBackend::Step::start, [self = shared_from_this(), completion = std::move(completion), f] {
            if (f.startError) {
                if (completion)
                    completion(f.startError);
                return;
            }
            {
                std::lock_guard lock(self->m_mutex);
                self->m_running = true;
                if (self->m_generateFrames && !self->m_generator.joinable())
                    self->m_generator = std::thread([self = self.get()] { self->generate(); });
            }
            if (completion)
                completion(std::nullopt);
        });
}

void SyntheticCaptureStream::stop(CaptureCompletion completion)
{
    auto backend = m_backend.lock();
    if (!backend)
        return;
    const SyntheticCaptureBackend::Faults f = backend->faults();
    backend->m_backendQueue->async([self = shared_from_this(), completion = std::move(completion), f] {
        self->stopGenerator();
        {
            std::lock_guard lock(self->m_mutex);
            self->m_running = false;
            self->m_stopped = true;
        }
        if (completion)
            completion(f.stopError);
    });
}

void SyntheticCaptureStream::stopGenerator()
{
    std::thread generator;
    {
        std::lock_guard lock(m_mutex);
        m_generatorStop = true;
        generator = std::move(m_generator);
    }
    m_wake.notify_all();
    if (generator.joinable())
        generator.join();
}

// Runs on the generator thread, which the stream joins before it goes away;
// it never takes a reference to the stream, so it is never the last holder.
void SyntheticCaptureStream::generate()
{
    const double seconds = 1.0 / std::max(m_request.fps, 1);
    const auto interval
        = std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
    const int width = std::clamp(m_request.pixels.width(), 2, 8192);
    const int height = std::clamp(m_request.pixels.height(), 2, 8192);
    std::optional<int> failAfter;
    std::function<double()> clock;
    if (auto backend = m_backend.lock()) {
        failAfter = backend->faults().failAfterFrames;
        std::lock_guard lock(backend->m_mutex);
        clock = backend->m_clock;
    }
    if (!clock)
        clock = [] { return monotonicSeconds(); };
    SyntheticContent content(SyntheticContent::kindFromEnvironment(), QSize(width, height));
    // Unpaced: a frame as soon as the engine has room for one, stamped as if
    // the rate had been kept, so a test records minutes of frames in the
    // time the machine needs to keep them.
    const bool unpaced = qEnvironmentVariableIntValue("QUILLO_SYNTHETIC_UNPACED") != 0;
    const double firstTime = clock();
    const auto inFlight = std::make_shared<std::atomic<int>>(0);

    auto next = std::chrono::steady_clock::now() + interval;
    for (int64_t index = 0;;) {
        {
            std::unique_lock lock(m_mutex);
            const auto until = unpaced ? std::chrono::steady_clock::now() : next;
            if (m_wake.wait_until(lock, until, [this] { return m_generatorStop; }))
                return;
        }
        // Ticks missed while painting are skipped, not caught up.
        next = std::max(next + interval, std::chrono::steady_clock::now());
        if (failAfter && index >= *failAfter) {
            fail(SyntheticCaptureBackend::syntheticError(QStringLiteral("stream interrupted")));
            return;
        }
        if (inFlight->load() >= queueDepth || !m_sink.queue) {
            if (unpaced) {
                std::unique_lock lock(m_mutex);
                m_wake.wait_for(lock, std::chrono::milliseconds(1), [this] { return m_generatorStop; });
            }
            continue;
        }
        CaptureFrame frame;
        frame.presentationTime = unpaced ? firstTime + double(index) * seconds : clock();
        frame.image = content.frame(index++);
        inFlight->fetch_add(1);
        m_sink.queue->async([onFrame = m_sink.onFrame, frame = std::move(frame), inFlight]() mutable {
            if (onFrame)
                onFrame(std::move(frame));
            inFlight->fetch_sub(1);
        });
    }
}
