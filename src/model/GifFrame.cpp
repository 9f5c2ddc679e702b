#include "model/GifFrame.h"

GifFrame::GifFrame(QImage image, int64_t delayMs)
    : image(std::move(image))
    , delayMs(delayMs)
{
}

std::shared_ptr<GifFrame> GifFrame::copy() const
{
    return std::make_shared<GifFrame>(image, delayMs);
}
