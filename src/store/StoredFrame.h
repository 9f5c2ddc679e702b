#pragma once

#include <QImage>
#include <QSize>

#include <cstdint>
#include <memory>
#include <vector>

class FrameStore;

// One immutable picture, shared by reference: lists, the undo history and an
// export hold the same handle, and reordering or deleting frames moves
// handles, never pixels. The pixels live compressed in a FrameStore and are
// decoded on demand through its cache; a frame made with fromImage() keeps its
// QImage in memory instead (tests, small generated projects).
//
// Every member is thread-safe: an export decodes on a worker while the editor
// shows the same frames.
class StoredFrame {
public:
    // A frame whose pixels stay in memory, converted to
    // Format_ARGB32_Premultiplied when they are in another format.
    static std::shared_ptr<const StoredFrame> fromImage(QImage image);

    StoredFrame(std::shared_ptr<FrameStore> store, uint64_t id, QSize size);

    QSize size() const { return m_size; }
    int width() const { return m_size.width(); }
    int height() const { return m_size.height(); }

    // The pixels in Format_ARGB32_Premultiplied. Decodes when the store's
    // cache does not hold them; a null image when the stored bytes cannot be
    // read or are damaged (the store reports it through FrameStore::onError).
    QImage image() const;

    // Unique within its store, in the order the store received the frames;
    // 0 for a frame held in memory. A frame's key for caches of derived
    // pictures (thumbnails) together with store().
    uint64_t id() const { return m_id; }
    // Null for a frame held in memory.
    const std::shared_ptr<FrameStore> &store() const { return m_store; }

private:
    std::shared_ptr<FrameStore> m_store;
    uint64_t m_id = 0;
    QSize m_size;
    QImage m_image; // only for frames held in memory
};

using FrameRef = std::shared_ptr<const StoredFrame>;
using FrameRefList = std::vector<FrameRef>;
