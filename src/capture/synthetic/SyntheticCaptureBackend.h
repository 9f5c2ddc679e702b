#pragma once

#include "capture/CaptureBackend.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class SyntheticCaptureStream;

// A capture backend with a scripted scene: its screens are whatever the
// script says, and every step can be told to fail. Answers and frames arrive
// on the same kinds of threads as from a real backend: a backend thread
// ("org.quillo.Quillo.capture.synthetic") and the queue the engine hands over.
//
// Two ways to get frames: with `generateFrames` the stream paints
// SyntheticContent (a moving ball unless QUILLO_SYNTHETIC_CONTENT names
// another) at the requested rate from start to stop, skipping a frame while
// the engine has a few waiting (what QUILLO_CAPTURE_BACKEND=synthetic gives
// the program), or with QUILLO_SYNTHETIC_UNPACED=1 as fast as the engine
// takes them, stamped 1 / rate apart; without it, frames come only from
// SyntheticCaptureStream::deliver(), which tests call.
//
// Every member is thread-safe.
class SyntheticCaptureBackend : public CaptureBackend, public std::enable_shared_from_this<SyntheticCaptureBackend> {
public:
    struct Scene {
        std::vector<CaptureScreen> screens;
        bool canExcludeWindows = true;
        bool needsConsent = false;
    };

    // Each one set makes that step fail with the given error.
    struct Faults {
        std::optional<CaptureFailure> screensError;
        // Answer the screen query with an empty list.
        bool noScreens = false;
        // createStream() refuses the request.
        std::optional<CaptureFailure> streamError;
        std::optional<CaptureFailure> startError;
        std::optional<CaptureFailure> stopError;
        // With generated frames: the stream ends by itself after this many.
        std::optional<int> failAfterFrames;
    };

    // The steps whose answers can be held back.
    enum class Step {
        screens,
        start,
    };

    SyntheticCaptureBackend(Scene scene, bool generateFrames);
    ~SyntheticCaptureBackend() override;

    // One screen per screen of ScreenUtil::screens() (ids 1, 2, ... in list
    // order, the first the primary), or one 1280 x 1024 screen without
    // screens. GUI thread.
    static Scene sceneFromScreens();
    // Faults named by QUILLO_SYNTHETIC_FAULT: "content" (the screen query
    // fails), "nodisplay" (it lists no screen), "output" (no stream can be
    // made), "start", "stop" or "midstream" (the stream ends after 5 frames).
    static Faults faultsFromEnvironment();
    static CaptureFailure syntheticError(const QString &what);

    void setFaults(const Faults &faults);
    void setScene(const Scene &scene);
    // While held, answers of that step wait; releasing sends them in order.
    void hold(Step step);
    void release(Step step);
    // A clock of the test's own for now(), instead of CLOCK_MONOTONIC.
    void setClock(std::function<double()> clock);
    // The streams created so far, oldest first.
    std::vector<std::shared_ptr<SyntheticCaptureStream>> streams() const;
    int screenQueries() const;
    int cancelledQueries() const;

    QString name() const override;
    bool canExcludeWindows() const override;
    bool needsConsent() const override;
    void queryScreens(ScreensCompletion completion) override;
    void cancelQuery() override;
    StreamOrError createStream(const CaptureRequest &request, CaptureSink sink) override;
    double now() const override;

private:
    friend class SyntheticCaptureStream;
    // Runs `answer` on the backend thread now, or when `step` is released.
    void answer(Step step, std::function<void()> answer);
    Faults faults() const;

    const std::shared_ptr<SerialQueue> m_backendQueue;
    const bool m_generateFrames;
    mutable std::mutex m_mutex;
    Scene m_scene;
    Faults m_faults;
    std::function<double()> m_clock;
    std::map<Step, bool> m_held;
    std::map<Step, std::vector<std::function<void()>>> m_waiting;
    std::vector<std::shared_ptr<SyntheticCaptureStream>> m_streams;
    int m_screenQueries = 0;
    int m_cancelledQueries = 0;
};

// A scripted stream. Every member is thread-safe.
class SyntheticCaptureStream : public CaptureStream, public std::enable_shared_from_this<SyntheticCaptureStream> {
public:
    SyntheticCaptureStream(
        std::weak_ptr<SyntheticCaptureBackend> backend, CaptureRequest request, CaptureSink sink, bool generateFrames);
    ~SyntheticCaptureStream() override;

    const CaptureRequest &request() const { return m_request; }
    int startRequests() const;
    bool isRunning() const;
    bool wasStopped() const;

    // Hands `frame` to the sink on its queue, whatever the stream's state: a
    // real backend may deliver a frame after a stop.
    void deliver(CaptureFrame frame);
    // Waits until every frame delivered so far has been handled.
    void waitForDelivery();
    // The stream ends by itself: the sink hears of it on the backend thread.
    void fail(const CaptureFailure &error);

    void start(CaptureCompletion completion) override;
    void stop(CaptureCompletion completion) override;

private:
    void generate();
    void stopGenerator();

    const std::weak_ptr<SyntheticCaptureBackend> m_backend;
    const CaptureRequest m_request;
    const CaptureSink m_sink;
    const bool m_generateFrames;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_startRequests = 0;
    bool m_running = false;
    bool m_stopped = false;
    bool m_generatorStop = false;
    std::thread m_generator;
};
