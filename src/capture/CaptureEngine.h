#pragma once

#include "base/Geometry.h"
#include "base/SerialQueue.h"
#include "capture/CaptureError.h"
#include "capture/CaptureService.h"
#include "capture/ScreenUtil.h"
#include "model/GifProject.h"

#include <QImage>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// One screen recording: a stream of one display cropped to the region, the
// frames it delivers with their presentation times, and on stop a GifProject
// whose delays come from those times. Made for one recording, never restarted.
// Always owned through std::shared_ptr (std::make_shared<CaptureEngine>()).
//
// Threads. GUI thread: construction, configuration, start(), stop(),
// setPaused(), and every callback into the caller (completions, onFrame,
// onAutoStop, onStraddle), which are always posted, never called inline.
// Capture queue ("org.quillo.Quillo.capture"): launch, samples, stop step,
// assembly; all recording state lives there, so it needs no lock. Service
// threads: the answers of the content query and of start and stop requests.
// A Stop racing a start is settled by the capture queue's order: either the
// stop step finds the launched stream, or it runs first and the launch step
// drops the stream unstarted.
class CaptureEngine : public std::enable_shared_from_this<CaptureEngine>,
                      public CaptureStreamOutput,
                      public CaptureStreamDelegate {
public:
    // Records through CaptureService::createDefault(). GUI thread.
    CaptureEngine();
    // Records through `service`. Any thread.
    explicit CaptureEngine(std::shared_ptr<CaptureService> service);
    // Dropping an engine whose stream is still live stops the stream and
    // lowers the live count. Any thread.
    ~CaptureEngine() override;

    CaptureEngine(const CaptureEngine &) = delete;
    CaptureEngine &operator=(const CaptureEngine &) = delete;

    // Configuration: set on the GUI thread before start(), read-only after.
    // Frames per second: the stream's minimum frame interval and the nominal
    // delay treat values below 1 as 1; the project receives the value as set.
    int64_t fps = 15;
    bool showsCursor = true;
    // false: every frame gets the nominal delay 1000 / fps.
    bool variableFrameRate = true;
    // Intake stops by itself after this many kept frames and fires onAutoStop.
    int64_t maxFrames = 3000;
    // GUI thread, after every kept frame, with the count kept so far.
    std::function<void(int64_t)> onFrame;
    // GUI thread, once, when maxFrames is reached.
    std::function<void()> onAutoStop;
    // GUI thread, when the region had to be cropped to its display at start.
    std::function<void()> onStraddle;
    // Window numbers (X11 window ids) to leave out of the picture; numbers
    // outside the 32-bit id range are ignored.
    std::vector<int64_t> excludedWindowNumbers;

    // Starts recording `region` (y-up global points) on `screen` (as
    // ScreenUtil::screen() found it). `completion` runs once on the GUI thread:
    // nullopt when the stream runs or a stop came first, else the failure;
    // never when the engine is released before the service answers the
    // content query. GUI thread; returns at once. Call once per engine.
    void start(const Rect &region, const ScreenInfo &screen, CaptureCompletion completion);

    // Ends the recording. `completion` runs exactly once on the GUI thread with
    // the project of every kept frame, or nullptr when nothing usable was
    // recorded (no frame, no stream launched, or the stream had failed). GUI
    // thread; returns at once.
    void stop(std::function<void(GifProjectRef)> completion);

    // Frames arriving while paused are neither counted nor kept. Returns at
    // once; takes effect for the samples handled after it on the capture queue.
    // GUI thread.
    void setPaused(bool paused);

    // "org.quillo.Quillo.capture". Any thread.
    QString queueLabel() const;

    // Streams live in the whole process right now. Thread-safe.
    static int64_t liveStreamCount();
    // Calls of start() in the whole process. GUI thread only.
    static int64_t startCallCount();

    struct CapturedFrame {
        QImage image;
        double pts = 0; // seconds
    };
    // The project of `frames`, ordered by time (stable), each delay the
    // rounded gap to the next frame (at least 10 ms) or, for the last frame
    // and without variableFrameRate, 1000 / max(fps, 1) truncated. nullptr
    // without frames. Images are shared, not copied. Pure; any thread.
    static GifProjectRef buildProject(std::vector<CapturedFrame> frames, int64_t fps, bool variableFrameRate);

    // CaptureStreamOutput: on the capture queue only.
    void streamDidOutputSampleBuffer(CaptureStream &stream, const SampleBuffer &sample, StreamOutputType type) override;
    // CaptureStreamDelegate: on a service thread.
    void streamDidStopWithError(CaptureStream &stream, const CaptureFailure &error) override;

private:
    struct StartRequest;
    void handleContent(const std::shared_ptr<StartRequest> &request, std::optional<ShareableContent> content,
        std::optional<CaptureFailure> error);
    void launch(const std::shared_ptr<CaptureStream> &stream, const CaptureCompletion &completion);
    void stopStep(std::function<void(GifProjectRef)> completion);
    void assemble(std::function<void(GifProjectRef)> completion);
    // Clears m_streamLive and lowers the live count, once per stream.
    void endLive();
    QString statusTally() const;

    const std::shared_ptr<CaptureService> m_service;
    const std::shared_ptr<SerialQueue> m_queue;

    // Capture queue only (see the class comment).
    std::shared_ptr<CaptureStream> m_stream;
    std::vector<CapturedFrame> m_captured;
    bool m_stopping = false;
    bool m_paused = false;
    bool m_cancelled = false;
    bool m_streamLive = false;
    std::map<int64_t, int64_t> m_statusCounts;
    int64_t m_convertFailures = 0;
};
