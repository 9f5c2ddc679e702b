#pragma once

#include "capture/CaptureBackend.h"

#include <QRectF>
#include <QString>

#include <functional>
#include <memory>

// Reads one screencast node of a PipeWire remote (what the ScreenCast portal
// hands out) and turns its buffers into frames of the region: BGRx, BGRA,
// RGBx or RGBA in shared-memory buffers, the picture's content and damage from
// the buffer's metadata, the row stride from its chunk. A frame that shows no
// change in the region goes out as an idle notice. Runs its own thread (a
// pw_thread_loop); frames go to the sink's queue, the end of the stream (the
// node or the connection gone) to the sink's onEnded on that thread.
class PipeWireStream {
public:
    struct Target {
        // A connected PipeWire socket; the stream owns it from here on.
        int fd = -1;
        uint32_t nodeId = 0;
        // Logical points, relative to the monitor's top-left.
        QRectF region;
        // The monitor's logical width: stream pixels per point follow from it.
        double logicalWidth = 0;
        int fps = 15;
    };

    // Connected, or nullptr with `error` set. `onFirstBuffer` runs once, on
    // the stream's thread, when the first buffer arrives: only then is the
    // desktop sending pictures. Any thread.
    static std::unique_ptr<PipeWireStream> open(
        const Target &target, CaptureSink sink, QString *error, std::function<void()> onFirstBuffer = {});
    // Disconnects; no frame or end notice is sent once it returns. Not on the
    // stream's own thread.
    ~PipeWireStream();

    PipeWireStream(const PipeWireStream &) = delete;
    PipeWireStream &operator=(const PipeWireStream &) = delete;

    struct Impl;

private:
    explicit PipeWireStream(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};
