#pragma once

#include "base/SerialQueue.h"
#include "capture/CaptureError.h"

#include <QImage>
#include <QRect>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The seam between the capture engine and whatever reads the screen: an X
// server (x11/), the desktop's ScreenCast portal with a PipeWire stream
// (portal/), or a scripted scene for tests (synthetic/). A backend says what
// it can record, then runs one stream per recording that pushes frames to the
// engine.
//
// Threads: answers (the screen query, a stream's start and stop, a stream
// that ends by itself) come on the backend's own threads, never inline on the
// caller's. Frames are posted as tasks to the queue the engine hands over.

// A screen the backend can record.
struct CaptureScreen {
    // The backend's own identity for it: a RandR monitor's name atom, a
    // PipeWire node, a synthetic number.
    uint32_t id = 0;
    // QScreen::name() of the same screen, when the backend can tell.
    QString name;
    // Logical points in the global layout: origin at the top-left of the
    // primary screen, y down.
    QRectF geometry;
    // Device pixels per point, as the backend knows it before recording.
    double scale = 1.0;
    bool primary = false;
};

// What one recording asks of a stream.
struct CaptureRequest {
    uint32_t screenId = 0;
    // The region in the screen's device pixels (as Qt counts them: points
    // times `scale`), origin at the screen's top-left. Frames have this size,
    // unless the backend's source has more pixels per point than `scale`
    // (a portal stream at the compositor's own scale).
    QRect pixels;
    double scale = 1.0;
    // The screen's size in points as the region was measured on it: where a
    // backend's own idea of the screen's size differs (a portal that counts
    // an output scaled by 2 in physical pixels), this is what `pixels` is a
    // part of.
    QSizeF screenSize;
    // Frames per second at most; at least 1.
    int fps = 15;
    bool showsCursor = true;
    // Window ids (X11, as QWidget::winId()) to leave out of the picture, for a
    // backend that can.
    std::vector<uint32_t> excludedWindows;
};

// Raw values are what the engine's log tally prints.
enum class FrameStatus : int64_t {
    complete = 0, // a new picture
    idle = 1, // nothing changed since the last picture: no image
};

struct CaptureFrame {
    FrameStatus status = FrameStatus::complete;
    // Format_ARGB32_Premultiplied (opaque), handed over as is; Format_RGB32 is
    // converted. Null with the idle status. The backend never writes to it
    // again.
    QImage image;
    // Seconds on the backend's clock (CaptureBackend::now()), the same for
    // every frame of every stream of that backend.
    double presentationTime = 0;
};

using CaptureCompletion = std::function<void(std::optional<CaptureFailure>)>;

// Where a stream's frames and its end go.
struct CaptureSink {
    // Every frame is a task on this queue, in order.
    std::shared_ptr<SerialQueue> queue;
    std::function<void(CaptureFrame frame)> onFrame;
    // The stream stopped by itself (the X server went away, the compositor
    // ended the screencast). On a backend thread; no frame follows.
    std::function<void(const CaptureFailure &error)> onEnded;
};

// One stream: created unstarted, started once, stopped once. Every member is
// thread-safe; completions come once each on a backend thread. Dropping a
// running stream stops it.
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    virtual void start(CaptureCompletion completion) = 0;
    // Frames may still arrive until the completion has run.
    virtual void stop(CaptureCompletion completion) = 0;
};

class CaptureBackend {
public:
    virtual ~CaptureBackend() = default;

    // "x11", "portal", "synthetic": for log lines.
    virtual QString name() const = 0;
    // Whether CaptureRequest::excludedWindows is honoured. Without it the
    // recording frame must keep its windows out of the region itself.
    virtual bool canExcludeWindows() const = 0;
    // Whether the user is asked (by the desktop) before anything is recorded.
    // Such a backend lists only the screens the user chose to share.
    virtual bool needsConsent() const = 0;

    using ScreensCompletion = std::function<void(std::vector<CaptureScreen>, std::optional<CaptureFailure>)>;
    // The screens that can be recorded, or an error; answered once on a
    // backend thread. May wait for the user's consent. Any thread.
    virtual void queryScreens(ScreensCompletion completion) = 0;
    // Gives up a query that has not been answered: a consent dialog closes and
    // its session ends. The query's completion still comes, with an error.
    // Any thread.
    virtual void cancelQuery() { }

    struct StreamOrError {
        std::shared_ptr<CaptureStream> stream;
        std::optional<CaptureFailure> error;
    };
    // An unstarted stream for `request` on one of the screens the last query
    // listed, or the reason there can be none. Any thread.
    virtual StreamOrError createStream(const CaptureRequest &request, CaptureSink sink) = 0;

    // Now, on the clock of the frames' presentation times. Any thread.
    virtual double now() const;
};

// Seconds on CLOCK_MONOTONIC: the clock of the X11 and synthetic frames.
double monotonicSeconds();

// A serial queue that may be released from any thread, its own included:
// released on its own thread, it is joined from a helper thread instead.
std::shared_ptr<SerialQueue> makeSharedSerialQueue(const QString &name);
