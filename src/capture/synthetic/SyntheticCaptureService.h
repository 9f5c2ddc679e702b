#pragma once

#include "capture/CaptureService.h"

#include <QString>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class SyntheticCaptureStream;

// A capture service with a scripted scene: displays, windows, applications
// and their bounds are whatever the script says, and every step can be told
// to fail. Answers and samples arrive on the same kinds of threads as from a
// real service: a service thread ("org.quillo.Quillo.capture.synthetic") and
// the queue the engine registers.
//
// Two ways to get frames: with `generateFrames` the stream paints a moving
// ball at the configured rate from start to stop (what QUILLO_CAPTURE_BACKEND
// =synthetic gives the program); without it, frames come only from
// SyntheticCaptureStream::deliver(), which tests call.
//
// Every member is thread-safe.
class SyntheticCaptureService : public CaptureService, public std::enable_shared_from_this<SyntheticCaptureService> {
public:
    struct Scene {
        ShareableContent content;
        std::map<uint32_t, Rect> displayBounds;
        uint32_t mainDisplayId = 1;
        // ScreenInfo::name -> display id.
        std::map<QString, uint32_t> screenNumbers;
    };

    // Each one set makes that step fail with the given error.
    struct Faults {
        std::optional<CaptureFailure> contentError;
        // Answer the content query with neither content nor an error.
        bool noContent = false;
        std::optional<CaptureFailure> addOutputError;
        std::optional<CaptureFailure> startError;
        std::optional<CaptureFailure> stopError;
        // With generated frames: the stream fails on its own after this many.
        std::optional<int> failAfterFrames;
    };

    // The steps whose answers can be held back.
    enum class Step {
        content,
        start,
    };

    SyntheticCaptureService(Scene scene, bool generateFrames);
    ~SyntheticCaptureService() override;

    // One display per screen of ScreenUtil::screens() (ids 1, 2, ... in list
    // order, the first the main one), or one 1280 x 1024 display without
    // screens; no windows; this program as the one application. GUI thread.
    static Scene sceneFromScreens();
    // Faults named by QUILLO_SYNTHETIC_FAULT: "content", "nodisplay", "output",
    // "start", "stop" or "midstream" (after 5 frames).
    static Faults faultsFromEnvironment();
    static CaptureFailure syntheticError(const QString &what);

    void setFaults(const Faults &faults);
    void setScene(const Scene &scene);
    // While held, answers of that step wait; releasing sends them in order.
    void hold(Step step);
    void release(Step step);
    // The streams created so far, oldest first.
    std::vector<std::shared_ptr<SyntheticCaptureStream>> streams() const;
    int contentQueries() const;

    void getShareableContent(
        bool excludingDesktopWindows, bool onScreenWindowsOnly, ContentCompletion completion) override;
    Rect displayBounds(uint32_t displayId) override;
    uint32_t mainDisplayId() override;
    std::optional<uint32_t> displayIdForScreen(const ScreenInfo &screen) override;
    std::shared_ptr<CaptureStream> createStream(const ContentFilter &filter, const StreamConfiguration &configuration,
        std::weak_ptr<CaptureStreamDelegate> delegate) override;

private:
    friend class SyntheticCaptureStream;
    // Runs `answer` on the service thread now, or when `step` is released.
    void answer(Step step, std::function<void()> answer);
    Faults faults() const;

    const std::shared_ptr<SerialQueue> m_serviceQueue;
    const bool m_generateFrames;
    mutable std::mutex m_mutex;
    Scene m_scene;
    Faults m_faults;
    std::map<Step, bool> m_held;
    std::map<Step, std::vector<std::function<void()>>> m_waiting;
    std::vector<std::shared_ptr<SyntheticCaptureStream>> m_streams;
    int m_contentQueries = 0;
};

// A scripted stream. Every member is thread-safe.
class SyntheticCaptureStream : public CaptureStream, public std::enable_shared_from_this<SyntheticCaptureStream> {
public:
    SyntheticCaptureStream(std::weak_ptr<SyntheticCaptureService> service, ContentFilter filter,
        StreamConfiguration configuration, std::weak_ptr<CaptureStreamDelegate> delegate, bool generateFrames);
    ~SyntheticCaptureStream() override;

    const ContentFilter &filter() const { return m_filter; }
    const StreamConfiguration &configuration() const { return m_configuration; }
    bool hasOutput() const;
    int startRequests() const;
    bool isRunning() const;
    bool wasStopped() const;

    // Hands `sample` to the registered output on its queue, whatever the
    // stream's state: a real service may deliver a frame after a stop.
    void deliver(const SampleBuffer &sample, StreamOutputType type = StreamOutputType::screen);
    // Waits until every sample delivered so far has been handled.
    void waitForDelivery();
    // The stream stops by itself: the delegate hears of it on the service
    // thread.
    void fail(const CaptureFailure &error);

    std::optional<CaptureFailure> addStreamOutput(
        std::weak_ptr<CaptureStreamOutput> output, StreamOutputType type, std::shared_ptr<SerialQueue> queue) override;
    void startCapture(CaptureCompletion completion) override;
    void stopCapture(CaptureCompletion completion) override;

private:
    void generate();
    void stopGenerator();

    const std::weak_ptr<SyntheticCaptureService> m_service;
    const ContentFilter m_filter;
    const StreamConfiguration m_configuration;
    const std::weak_ptr<CaptureStreamDelegate> m_delegate;
    const bool m_generateFrames;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::weak_ptr<CaptureStreamOutput> m_output;
    std::shared_ptr<SerialQueue> m_queue;
    int m_startRequests = 0;
    bool m_running = false;
    bool m_stopped = false;
    bool m_generatorStop = false;
    std::thread m_generator;
};
