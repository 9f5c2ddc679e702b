#pragma once

#include "model/GifFrame.h"

#include <QImage>
#include <QPointF>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

class QMouseEvent;

// The strip of frame thumbnails under the preview. It keeps no selection logic:
// clicks become `onSelect` requests and the controller writes `current` and
// `selected` back; a horizontal drag of the selection becomes an `onReorder`
// request for a slot (a gap of the frame list). Coordinates are the widget's
// own: origin top-left, y down. GUI thread only.
class FrameStripView : public QWidget {
    Q_OBJECT

public:
    static constexpr int boxW = 84;
    static constexpr int boxH = 62;
    static constexpr int gap = 6;
    static constexpr int pad = 8;
    static constexpr int pitch = boxW + gap;
    // A press must move this far, in x or y, before it becomes a move drag.
    static constexpr double dragThreshold = 5;

    explicit FrameStripView(QWidget *parent = nullptr);

    const GifFrameList &frames() const { return m_frames; }
    void setFrames(GifFrameList frames);
    int64_t current() const { return m_current; }
    void setCurrent(int64_t index);
    const std::set<int64_t> &selected() const { return m_selected; }
    void setSelected(std::set<int64_t> selected);

    // Drops cached thumbnails of frame objects no longer shown.
    void pruneCache();
    size_t cachedThumbnailCount() const { return m_thumbCache.size(); }
    // The pixel bytes the cached thumbnails hold.
    int64_t cachedThumbnailBytes() const;
    // How many thumbnails have been made since the view was created.
    int thumbnailsMade() const { return m_thumbnailsMade; }

    std::optional<int64_t> indexAt(double x) const;
    static std::optional<int64_t> indexAt(double x, int64_t frameCount);
    // The slot a drag at `x` points at, 0 ... frameCount.
    static int64_t dropSlot(double x, int64_t frameCount);
    static double intrinsicWidth(int64_t frameCount);
    // Brings box `index` into view with one box width of margin on each side.
    void scrollTo(int64_t index);

    bool isDragging() const { return m_dragging; }
    std::optional<int64_t> dropIndex() const { return m_dropIndex; }

    QSize sizeHint() const override;

    // (index, modifiers held at the click)
    std::function<void(int64_t, Qt::KeyboardModifiers)> onSelect;
    // (slot): move the selection to this gap of the frame list.
    std::function<void(int64_t)> onReorder;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // The frame's picture scaled to `shown` (points) at the screen's pixel
    // ratio.
    const QImage &thumbnail(const GifFrameRef &frame, QSizeF shown);

    GifFrameList m_frames;
    int64_t m_current = 0;
    std::set<int64_t> m_selected;

    // Keyed by frame object, not index: a reorder keeps every thumbnail, and
    // the copies the undo history brings back get their own. Crop and resize
    // give a frame new pixels in place, so each entry also remembers the
    // pixels it was made from (weakly: it must not keep old pixels alive).
    // An entry is a small copy, never the full picture: frames kept in a
    // frame store are decoded for it once, and a strip scrolled through a
    // long recording must not end up holding every picture decoded.
    struct Thumbnail {
        std::weak_ptr<const StoredFrame> pixels;
        QImage image;
    };
    std::map<std::weak_ptr<GifFrame>, Thumbnail, std::owner_less<std::weak_ptr<GifFrame>>> m_thumbCache;
    int m_thumbnailsMade = 0;

    std::optional<int64_t> m_pressIndex;
    QPointF m_pressOrigin;
    bool m_dragging = false;
    double m_dragX = 0;
    std::optional<int64_t> m_dropIndex;
};
