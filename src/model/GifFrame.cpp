#include "model/GifFrame.h"

GifFrame::GifFrame(QImage image, int64_t delayMs)
    : GifFrame(StoredFrame::fromImage(std::move(image)), delayMs)
{
}

GifFrame::GifFrame(FrameRef pixels, int64_t delayMs)
    : delayMs(delayMs)
    , m_pixels(std::move(pixels))
{
}

std::shared_ptr<GifFrame> GifFrame::copy() const
{
    return std::make_shared<GifFrame>(m_pixels, delayMs);
}

QImage GifFrame::image() const
{
    return m_pixels ? m_pixels->image() : QImage();
}

void GifFrame::setPixels(FrameRef pixels)
{
    m_pixels = std::move(pixels);
}

QSize GifFrame::size() const
{
    return m_pixels ? m_pixels->size() : QSize(0, 0);
}
