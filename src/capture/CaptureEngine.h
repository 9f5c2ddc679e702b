#pragma once

#include "base/Geometry.h"
#include "base/SerialQueue.h"
#include "capture/CaptureBackend.h"
#include "capture/CaptureError.h"
#include "capture/ScreenUtil.h"
#include "model/GifProject.h"
#include "store/StoredFrame.h"

#include <QImage>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class FrameStore;
struct StoreError;

// One screen recording: a stream of one screen cropped to the region, the
// frames it delivers with their presentation times, and on stop a GifProject
// whose delays come from those times. Made for one recording, never restarted.
// Always owned through std::shared_ptr (std::make_shared<CaptureEngine>()).
//
// Threads. GUI thread: construction, configuration, start(), stop(),
// setPaused(), and every callback into the caller (completions, onFrame,
// onAutoStop, onStraddle, onStreamEnded), which are always posted, never
// called inline. Capture queue ("org.quillo.Quillo.capture"): the screen
// answer, launch, frames, stop step, assembly; all recording state lives
// there, so it needs no lock. Backend threads: the answers of the screen query
// and of a stream's start and stop. A Stop racing a start is settled by the
// capture queue's order: either the stop step finds the launched stream, or it
// runs first and the start is abandoned before any stream exists.
class CaptureEngine : public std::enable_shared_from_this<CaptureEngine> {
public:
    // Records through CaptureBackendFactory::create(). GUI thread.
    CaptureEngine();
    // Records through `backend`. Any thread.
    explicit CaptureEngine(std::shared_ptr<CaptureBackend> backend);
    // Dropping an engine whose stream is still live stops the stream and
    // lowers the live count. Any thread.
    ~CaptureEngine();

    CaptureEngine(const CaptureEngine &) = delete;
    CaptureEngine &operator=(const CaptureEngine &) = delete;

    // Configuration: set on the GUI thread before start(), read-only after.
    // Frames per second: the stream's rate and the nominal delay treat values
    // below 1 as 1; the project receives the value as set.
    int64_t fps = 15;
    bool showsCursor = true;
    // false: every frame gets the nominal delay 1000 / fps.
    bool variableFrameRate = true;
    // Intake stops by itself after this many kept frames and fires onAutoStop.
    int64_t maxFrames = 3000;
    // Where kept frames go: compressed on disk, so that memory does not grow
    // with the recording. Null keeps every frame in memory
    // (StoredFrame::fromImage). Appended to on the capture queue only, as the
    // store asks; the engine sets its onError (calling any handler set
    // before). A store that fails (a full disk, a folder that cannot be
    // written) ends the recording as a stream that ended would
    // (onStreamEnded with CaptureError::diskFull or storeFailed), keeping
    // the frames appended until then.
    std::shared_ptr<FrameStore> store;
    // How much more memory the process may take (MemoryHeadroom::bytes),
    // asked after every kept frame. Below the reserve for the frames' size the
    // recording ends itself, as a stream that ended would (onStreamEnded with
    // CaptureError::lowMemory), keeping what it has. With a store the measure
    // stays level while the store keeps up, so only a backlog that keeps
    // growing ends a recording. Tests put in their own measure. Capture queue.
    std::function<std::optional<int64_t>()> memoryHeadroom;
    // GUI thread, after every kept frame, with the count kept so far.
    std::function<void(int64_t)> onFrame;
    // GUI thread, once, when maxFrames is reached.
    std::function<void()> onAutoStop;
    // GUI thread, when the region had to be cropped to its screen at start.
    std::function<void()> onStraddle;
    // GUI thread, once, when the stream ended by itself (the X server went
    // away, the desktop stopped sharing). stop() then delivers the frames kept
    // until then.
    std::function<void(const CaptureFailure &)> onStreamEnded;
    // Window numbers (X11 window ids) to leave out of the picture; numbers
    // outside the 32-bit id range are ignored, and so is the whole list on a
    // backend that cannot leave windows out.
    std::vector<int64_t> excludedWindowNumbers;

    // The backend this engine records through. Any thread.
    const std::shared_ptr<CaptureBackend> &backend() const { return m_backend; }

    // Starts recording `region` (y-up global points) on `screen` (as
    // ScreenUtil::screen() found it). `completion` runs once on the GUI thread:
    // nullopt when the stream runs or a stop came first, else the failure;
    // never when the engine is released before the backend lists its screens.
    // GUI thread; returns at once. Call once per engine.
    void start(const Rect &region, const ScreenInfo &screen, CaptureCompletion completion);

    // Ends the recording. `completion` runs exactly once on the GUI thread with
    // the project of every kept frame, or nullptr when nothing usable was
    // recorded (no frame, or no stream launched). The last frame lasts until
    // this call, on the frames' clock. GUI thread; returns at once.
    void stop(std::function<void(GifProjectRef)> completion);

    // Frames arriving while paused are neither counted nor kept. Returns at
    // once; takes effect for the frames handled after it on the capture queue.
    // GUI thread.
    void setPaused(bool paused);

    // "org.quillo.Quillo.capture". Any thread.
    QString queueLabel() const;

    // Streams live in the whole process right now. Thread-safe.
    static int64_t liveStreamCount();
    // Calls of start() in the whole process. GUI thread only.
    static int64_t startCallCount();

    struct CapturedFrame {
        FrameRef pixels;
        double pts = 0; // seconds
    };
    // The project of `frames`, ordered by time (stable), each delay the
    // rounded gap to the next frame (at least 10 ms). The last frame lasts
    // until `endTime` (on the frames' clock), but at least the nominal delay
    // 1000 / max(fps, 1) truncated; without an end time, and for every frame
    // without variableFrameRate, it gets the nominal delay. nullptr without
    // frames. Pixels are shared, not copied. Pure; any thread.
    static GifProjectRef buildProject(
        std::vector<CapturedFrame> frames, int64_t fps, bool variableFrameRate, std::optional<double> endTime);

private:
    struct StartRequest;
    void handleScreens(const std::shared_ptr<StartRequest> &request, const std::vector<CaptureScreen> &screens,
        const std::optional<CaptureFailure> &error);
    std::optional<CaptureScreen> chooseScreen(const StartRequest &request, const std::vector<CaptureScreen> &screens);
    void launch(const std::shared_ptr<CaptureStream> &stream, const CaptureCompletion &completion);
    void intake(CaptureFrame frame);
    void streamEnded(const CaptureFailure &error);
    // The recording ends itself, keeping what it has (low memory, a failed
    // store).
    void endEarly(const CaptureFailure &why);
    void storeFailed(const StoreError &error);
    void stopStep(std::function<void(GifProjectRef)> completion, double requestedAt);
    void assemble(std::function<void(GifProjectRef)> completion, double requestedAt);
    // Clears m_streamLive and lowers the live count, once per stream.
    void endLive();
    QString statusTally() const;

    const std::shared_ptr<CaptureBackend> m_backend;
    const std::shared_ptr<SerialQueue> m_queue;

    // Capture queue only (see the class comment).
    std::shared_ptr<CaptureStream> m_stream;
    std::vector<CapturedFrame> m_captured;
    bool m_stopping = false;
    bool m_paused = false;
    bool m_cancelled = false;
    bool m_streamLive = false;
    // The stream ended by itself at this time (backend clock).
    std::optional<double> m_endedAt;
    // Intake reached maxFrames.
    bool m_capped = false;
    std::map<int64_t, int64_t> m_statusCounts;
    int64_t m_convertFailures = 0;
};
