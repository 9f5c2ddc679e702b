#include "capture/synthetic/SyntheticCaptureService.h"

#include "capture/ScreenUtil.h"

#include <QPainter>

#include <chrono>
#include <cmath>
#include <ctime>

namespace {

double monotonicSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

QImage paintScene(int width, int height, int64_t index)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(23, 26, 23));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(199, 255, 0));
    const double d = std::max(8.0, std::min(width, height) / 4.0);
    const double phase = double(index % 60) / 60.0;
    const double x = phase * (width - d);
    const double y = (height - d) / 2.0 * (1.0 + std::sin(phase * 2.0 * M_PI) * 0.8);
    painter.drawEllipse(QRectF(x, y, d, d));
    return image;
}

} // namespace

SyntheticCaptureService::SyntheticCaptureService(Scene scene, bool generateFrames)
    : m_serviceQueue(makeSharedSerialQueue(QStringLiteral("org.quillo.Quillo.capture.synthetic")))
    , m_generateFrames(generateFrames)
    , m_scene(std::move(scene))
{
}

SyntheticCaptureService::~SyntheticCaptureService() = default;

SyntheticCaptureService::Scene SyntheticCaptureService::sceneFromScreens()
{
    Scene scene;
    const std::vector<ScreenInfo> screens = ScreenUtil::screens();
    const double primaryTop = screens.empty() ? 0.0 : screens.front().frame.maxY();
    const double primaryLeft = screens.empty() ? 0.0 : screens.front().frame.minX();
    uint32_t id = 1;
    for (const ScreenInfo &s : screens) {
        scene.content.displays.push_back({id, int64_t(s.frame.width), int64_t(s.frame.height)});
        scene.displayBounds[id]
            = {s.frame.minX() - primaryLeft, primaryTop - s.frame.maxY(), s.frame.width, s.frame.height};
        scene.screenNumbers[s.name] = id;
        ++id;
    }
    if (screens.empty()) {
        scene.content.displays.push_back({1, 1280, 1024});
        scene.displayBounds[1] = {0, 0, 1280, 1024};
    }
    scene.mainDisplayId = 1;
    scene.content.applications.push_back({QStringLiteral("org.quillo.Quillo")});
    return scene;
}

CaptureFailure SyntheticCaptureService::syntheticError(const QString &what)
{
    return {QStringLiteral("Quillo.SyntheticCapture"), 1, QStringLiteral("Synthetic failure: %1.").arg(what)};
}

SyntheticCaptureService::Faults SyntheticCaptureService::faultsFromEnvironment()
{
    Faults f;
    const QString fault = qEnvironmentVariable("QUILLO_SYNTHETIC_FAULT");
    if (fault == QLatin1String("content"))
        f.contentError = syntheticError(QStringLiteral("content query"));
    else if (fault == QLatin1String("nodisplay"))
        f.noContent = true;
    else if (fault == QLatin1String("output"))
        f.addOutputError = syntheticError(QStringLiteral("output registration"));
    else if (fault == QLatin1String("start"))
        f.startError = syntheticError(QStringLiteral("start"));
    else if (fault == QLatin1String("stop"))
        f.stopError = syntheticError(QStringLiteral("stop"));
    else if (fault == QLatin1String("midstream"))
        f.failAfterFrames = 5;
    return f;
}

void SyntheticCaptureService::setFaults(const Faults &faults)
{
    std::lock_guard lock(m_mutex);
    m_faults = faults;
}

SyntheticCaptureService::Faults SyntheticCaptureService::faults() const
{
    std::lock_guard lock(m_mutex);
    return m_faults;
}

void SyntheticCaptureService::setScene(const Scene &scene)
{
    std::lock_guard lock(m_mutex);
    m_scene = scene;
}

void SyntheticCaptureService::hold(Step step)
{
    std::lock_guard lock(m_mutex);
    m_held[step] = true;
}

void SyntheticCaptureService::release(Step step)
{
    std::vector<std::function<void()>> waiting;
    {
        std::lock_guard lock(m_mutex);
        m_held[step] = false;
        waiting.swap(m_waiting[step]);
    }
    for (auto &task : waiting)
        m_serviceQueue->async(std::move(task));
}

void SyntheticCaptureService::answer(Step step, std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_held[step]) {
            m_waiting[step].push_back(std::move(task));
            return;
        }
    }
    m_serviceQueue->async(std::move(task));
}

std::vector<std::shared_ptr<SyntheticCaptureStream>> SyntheticCaptureService::streams() const
{
    std::lock_guard lock(m_mutex);
    return m_streams;
}

int SyntheticCaptureService::contentQueries() const
{
    std::lock_guard lock(m_mutex);
    return m_contentQueries;
}

void SyntheticCaptureService::getShareableContent(bool, bool, ContentCompletion completion)
{
    Scene scene;
    {
        std::lock_guard lock(m_mutex);
        ++m_contentQueries;
        scene = m_scene;
    }
    const Faults f = faults();
    answer(Step::content, [completion = std::move(completion), scene = std::move(scene), f] {
        if (f.contentError)
            completion(std::nullopt, f.contentError);
        else if (f.noContent)
            completion(std::nullopt, std::nullopt);
        else
            completion(scene.content, std::nullopt);
    });
}

Rect SyntheticCaptureService::displayBounds(uint32_t displayId)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_scene.displayBounds.find(displayId);
    return it == m_scene.displayBounds.end() ? Rect {} : it->second;
}

uint32_t SyntheticCaptureService::mainDisplayId()
{
    std::lock_guard lock(m_mutex);
    return m_scene.mainDisplayId;
}

std::optional<uint32_t> SyntheticCaptureService::displayIdForScreen(const ScreenInfo &screen)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_scene.screenNumbers.find(screen.name);
    if (it == m_scene.screenNumbers.end())
        return std::nullopt;
    return it->second;
}

std::shared_ptr<CaptureStream> SyntheticCaptureService::createStream(const ContentFilter &filter,
    const StreamConfiguration &configuration, std::weak_ptr<CaptureStreamDelegate> delegate)
{
    auto stream = std::make_shared<SyntheticCaptureStream>(
        weak_from_this(), filter, configuration, std::move(delegate), m_generateFrames);
    std::lock_guard lock(m_mutex);
    m_streams.push_back(stream);
    return stream;
}

// ---- SyntheticCaptureStream

SyntheticCaptureStream::SyntheticCaptureStream(std::weak_ptr<SyntheticCaptureService> service, ContentFilter filter,
    StreamConfiguration configuration, std::weak_ptr<CaptureStreamDelegate> delegate, bool generateFrames)
    : m_service(std::move(service))
    , m_filter(std::move(filter))
    , m_configuration(std::move(configuration))
    , m_delegate(std::move(delegate))
    , m_generateFrames(generateFrames)
{
}

SyntheticCaptureStream::~SyntheticCaptureStream()
{
    stopGenerator();
}

bool SyntheticCaptureStream::hasOutput() const
{
    std::lock_guard lock(m_mutex);
    return m_queue != nullptr;
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

std::optional<CaptureFailure> SyntheticCaptureStream::addStreamOutput(
    std::weak_ptr<CaptureStreamOutput> output, StreamOutputType, std::shared_ptr<SerialQueue> queue)
{
    if (auto service = m_service.lock()) {
        if (std::optional<CaptureFailure> error = service->faults().addOutputError)
            return error;
    }
    std::lock_guard lock(m_mutex);
    m_output = std::move(output);
    m_queue = std::move(queue);
    return std::nullopt;
}

void SyntheticCaptureStream::deliver(const SampleBuffer &sample, StreamOutputType type)
{
    std::shared_ptr<SerialQueue> queue;
    std::weak_ptr<CaptureStreamOutput> output;
    {
        std::lock_guard lock(m_mutex);
        queue = m_queue;
        output = m_output;
    }
    if (!queue)
        return;
    queue->async([weakStream = weak_from_this(), output, sample, type] {
        auto stream = weakStream.lock();
        auto receiver = output.lock();
        if (stream && receiver)
            receiver->streamDidOutputSampleBuffer(*stream, sample, type);
    });
}

void SyntheticCaptureStream::waitForDelivery()
{
    std::shared_ptr<SerialQueue> queue;
    {
        std::lock_guard lock(m_mutex);
        queue = m_queue;
    }
    if (queue)
        queue->drain();
}

void SyntheticCaptureStream::fail(const CaptureFailure &error)
{
    auto service = m_service.lock();
    if (!service)
        return;
    service->m_serviceQueue->async([weakStream = weak_from_this(), error] {
        auto stream = weakStream.lock();
        if (!stream)
            return;
        stream->stopGenerator();
        {
            std::lock_guard lock(stream->m_mutex);
            stream->m_running = false;
        }
        if (auto delegate = stream->m_delegate.lock())
            delegate->streamDidStopWithError(*stream, error);
    });
}

void SyntheticCaptureStream::startCapture(CaptureCompletion completion)
{
    auto service = m_service.lock();
    if (!service)
        return;
    {
        std::lock_guard lock(m_mutex);
        ++m_startRequests;
    }
    const SyntheticCaptureService::Faults f = service->faults();
    service->answer(
        SyntheticCaptureService::Step::start, [self = shared_from_this(), completion = std::move(completion), f] {
            if (f.startError) {
                if (completion)
                    completion(f.startError);
                return;
            }
            {
                std::lock_guard lock(self->m_mutex);
                self->m_running = true;
                if (self->m_generateFrames && !self->m_generator.joinable() && self->m_queue)
                    self->m_generator = std::thread([self = self.get()] { self->generate(); });
            }
            if (completion)
                completion(std::nullopt);
        });
}

void SyntheticCaptureStream::stopCapture(CaptureCompletion completion)
{
    auto service = m_service.lock();
    if (!service)
        return;
    const SyntheticCaptureService::Faults f = service->faults();
    service->m_serviceQueue->async([self = shared_from_this(), completion = std::move(completion), f] {
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
    const auto interval
        = std::chrono::duration<double>(std::max(m_configuration.minimumFrameInterval.seconds(), 0.001));
    const int width = int(std::clamp<int64_t>(m_configuration.width, 2, 8192));
    const int height = int(std::clamp<int64_t>(m_configuration.height, 2, 8192));
    std::optional<int> failAfter;
    if (auto service = m_service.lock())
        failAfter = service->faults().failAfterFrames;

    for (int64_t index = 0;; ++index) {
        {
            std::unique_lock lock(m_mutex);
            if (m_wake.wait_for(lock, interval, [this] { return m_generatorStop; }))
                return;
        }
        if (failAfter && index >= *failAfter) {
            fail(SyntheticCaptureService::syntheticError(QStringLiteral("stream interrupted")));
            return;
        }
        SampleBuffer sample;
        sample.frameStatus = int64_t(FrameStatus::complete);
        sample.pixelBuffer = PixelBuffer {paintScene(width, height, index)};
        sample.presentationTime = monotonicSeconds();
        deliver(sample);
    }
}
