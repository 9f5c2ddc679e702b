#pragma once

#include "base/Geometry.h"
#include "base/SerialQueue.h"
#include "capture/CaptureError.h"
#include "capture/ScreenUtil.h"

#include <QImage>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The screen-capture service the capture engine records through: what the
// engine needs of a platform's capture API, and nothing more. Backends:
// x11/ (xcb: RandR, MIT-SHM, Composite, XFixes) and synthetic/ (a scripted
// scene with fault injection, for tests and for runs without a screen).
//
// Threads: answers of the content query and of a stream's start and stop
// requests arrive on the service's own thread, never inline on the caller's
// thread. Sample buffers arrive on the serial queue given to addStreamOutput.

// A display that can be recorded. Size in points.
struct CaptureDisplay {
    uint32_t displayId = 0;
    int64_t width = 0;
    int64_t height = 0;
};

// An on-screen window; windowId compares with a QWidget's winId().
struct CaptureWindow {
    uint32_t windowId = 0;
};

struct CaptureApplication {
    // Absent when the application cannot be identified.
    std::optional<QString> bundleIdentifier;
};

struct ShareableContent {
    std::vector<CaptureDisplay> displays;
    std::vector<CaptureWindow> windows;
    std::vector<CaptureApplication> applications;
};

// One whole display minus some windows, or minus some applications (with no
// windows excepted).
struct ContentFilter {
    uint32_t displayId = 0;
    std::vector<uint32_t> excludedWindows;
    std::vector<QString> excludedApplications;
};

// value / timescale seconds.
struct FrameInterval {
    int64_t value = 1;
    int32_t timescale = 1;
    double seconds() const { return timescale > 0 ? double(value) / timescale : 0.0; }
};

inline constexpr uint32_t pixelFormat32BGRA = 0x42475241; // 'BGRA'

struct StreamConfiguration {
    // In the display's own points: origin at its top-left, y down.
    QRectF sourceRect;
    // Output pixels; the source is scaled to them.
    int64_t width = 0;
    int64_t height = 0;
    FrameInterval minimumFrameInterval;
    int queueDepth = 8;
    bool showsCursor = true;
    uint32_t pixelFormat = pixelFormat32BGRA;
    QString colorSpaceName = QStringLiteral("sRGB");
    bool capturesAudio = false;
};

enum class StreamOutputType {
    screen,
    audio,
};

// Raw values of the per-frame status a stream attaches to each sample.
enum class FrameStatus : int64_t {
    complete = 0, // a new picture
    idle = 1, // nothing changed since the last picture: no pixel buffer
    blank = 2,
    suspended = 3,
    started = 4,
    stopped = 5,
};

// A frame's pixels as the service hands them over: 32-bit BGRA in memory. A
// QImage of Format_RGB32 (alpha byte meaningless, the picture is opaque) or
// Format_ARGB32_Premultiplied. The service never writes to it again.
struct PixelBuffer {
    QImage image;
};

struct SampleBuffer {
    bool valid = true;
    // The status from the first attachment dictionary; absent when there are
    // no attachments or the first one carries none.
    std::optional<int64_t> frameStatus;
    std::optional<PixelBuffer> pixelBuffer;
    // Seconds on one clock for the whole stream (CLOCK_MONOTONIC on X11).
    double presentationTime = 0;
};

class CaptureStream;

// Receives a stream's samples. Called on the queue registered with
// addStreamOutput, one sample at a time.
class CaptureStreamOutput {
public:
    virtual ~CaptureStreamOutput() = default;
    virtual void streamDidOutputSampleBuffer(CaptureStream &stream, const SampleBuffer &sample, StreamOutputType type)
        = 0;
};

// Hears of a stream that stopped by itself. Called on a service thread.
class CaptureStreamDelegate {
public:
    virtual ~CaptureStreamDelegate() = default;
    virtual void streamDidStopWithError(CaptureStream &stream, const CaptureFailure &error) = 0;
};

using CaptureCompletion = std::function<void(std::optional<CaptureFailure>)>;

// One capture stream: created unstarted, started once, stopped once. Every
// member is thread-safe; completions arrive on a service thread. Dropping the
// last reference to a running stream stops it.
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // Registers the receiver of `type` samples, delivered as tasks on `queue`
    // (held until the stream is gone). Fails at once with an error.
    virtual std::optional<CaptureFailure> addStreamOutput(
        std::weak_ptr<CaptureStreamOutput> output, StreamOutputType type, std::shared_ptr<SerialQueue> queue)
        = 0;
    virtual void startCapture(CaptureCompletion completion) = 0;
    virtual void stopCapture(CaptureCompletion completion) = 0;
};

class CaptureService {
public:
    virtual ~CaptureService() = default;

    using ContentCompletion = std::function<void(std::optional<ShareableContent>, std::optional<CaptureFailure>)>;

    // Answered once on a service thread: content, an error, or (a faulty
    // service) neither. Any thread.
    virtual void getShareableContent(
        bool excludingDesktopWindows, bool onScreenWindowsOnly, ContentCompletion completion)
        = 0;

    // The display's rectangle in the global display space: points, origin at
    // the top-left of the primary display, y down. Empty for an unknown id.
    // Any thread.
    virtual Rect displayBounds(uint32_t displayId) = 0;
    // The display the system treats as the main one. Any thread.
    virtual uint32_t mainDisplayId() = 0;
    // The display id of a screen, when the service can tell which one it is.
    // Any thread.
    virtual std::optional<uint32_t> displayIdForScreen(const ScreenInfo &screen) = 0;

    // An unstarted stream. The stream holds `delegate` weakly. Any thread.
    virtual std::shared_ptr<CaptureStream> createStream(const ContentFilter &filter,
        const StreamConfiguration &configuration, std::weak_ptr<CaptureStreamDelegate> delegate)
        = 0;

    // A new service of the kind QUILLO_CAPTURE_BACKEND names ("x11" or
    // "synthetic"); without it, the X11 backend. Call on the GUI thread (it
    // reads the primary screen's pixel ratio).
    static std::shared_ptr<CaptureService> createDefault();
};

// A serial queue that may be released from any thread, its own included:
// released on its own thread, it is joined from a helper thread instead.
std::shared_ptr<SerialQueue> makeSharedSerialQueue(const QString &name);
