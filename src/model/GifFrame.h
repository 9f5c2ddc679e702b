#pragma once

#include "store/StoredFrame.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <memory>
#include <vector>

// One frame of an animation. Frames are shared by reference
// (std::shared_ptr<GifFrame>): a change to delayMs is seen by every holder.
// The pixels are an immutable StoredFrame handle, never changed in place: crop
// and resize give the frame new pixels. Copying a frame copies the handle, so
// it never copies pixels.
class GifFrame {
public:
    // Pixels held in memory (StoredFrame::fromImage).
    GifFrame(QImage image, int64_t delayMs);
    GifFrame(FrameRef pixels, int64_t delayMs);

    // A new frame object with the same pixels and delay.
    std::shared_ptr<GifFrame> copy() const;

    // The picture in Format_ARGB32_Premultiplied, decoded when the pixels live
    // in a frame store; null for a frame without pixels or whose stored bytes
    // cannot be read. Thread-safe, like the StoredFrame it reads.
    QImage image() const;
    const FrameRef &pixels() const { return m_pixels; }
    void setPixels(FrameRef pixels);
    // The pixel size, known without decoding; (0, 0) without pixels.
    QSize size() const;

    int64_t delayMs = 0;

private:
    FrameRef m_pixels;
};

using GifFrameRef = std::shared_ptr<GifFrame>;
using GifFrameList = std::vector<GifFrameRef>;
