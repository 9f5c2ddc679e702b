#pragma once

#include <QImage>

#include <cstdint>
#include <memory>

// One frame of an animation. Frames are shared by reference
// (std::shared_ptr<GifFrame>): a change to delayMs is seen by every holder.
// The image is never modified in place; crop and resize assign a new one.
// QImage shares its pixel data implicitly, so copying a frame never copies
// pixels (the copy's image has the same cacheKey()).
class GifFrame {
public:
    GifFrame(QImage image, int64_t delayMs);

    // A new frame object with the same image data and delay.
    std::shared_ptr<GifFrame> copy() const;

    QImage image;
    int64_t delayMs = 0;
};

using GifFrameRef = std::shared_ptr<GifFrame>;
using GifFrameList = std::vector<GifFrameRef>;
