#include "store/StoredFrame.h"

#include "store/FrameStore.h"

std::shared_ptr<const StoredFrame> StoredFrame::fromImage(QImage image)
{
    if (!image.isNull() && image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    auto frame = std::make_shared<StoredFrame>(nullptr, 0, image.size());
    frame->m_image = std::move(image);
    return frame;
}

StoredFrame::StoredFrame(std::shared_ptr<FrameStore> store, uint64_t id, QSize size)
    : m_store(std::move(store))
    , m_id(id)
    , m_size(size)
{
}

QImage StoredFrame::image() const
{
    if (!m_store)
        return m_image;
    return m_store->decode(m_id);
}
