#pragma once

#include "model/GifFrame.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>

class QMouseEvent;

// The strip of frame thumbnails under the preview. It keeps no selection logic:
// clicks become `onSelect` requests and the controller writes `current` and
// `selected` back. This is the surface the controller uses with a plain drawing
// and plain clicks; thumbnails, drags and the drop marker arrive with the
// editor window. GUI thread only.
class FrameStripView : public QWidget {
    Q_OBJECT

public:
    static constexpr int boxW = 84;
    static constexpr int boxH = 62;
    static constexpr int gap = 6;
    static constexpr int pad = 8;
    static constexpr int pitch = boxW + gap;

    explicit FrameStripView(QWidget *parent = nullptr);

    const GifFrameList &frames() const { return m_frames; }
    void setFrames(GifFrameList frames);
    int64_t current() const { return m_current; }
    void setCurrent(int64_t index);
    const std::set<int64_t> &selected() const { return m_selected; }
    void setSelected(std::set<int64_t> selected);

    // Drops cached thumbnails of frame objects no longer shown.
    void pruneCache();
    std::optional<int64_t> indexAt(double x) const;
    // Brings box `index` into view with one box width of margin on each side.
    void scrollTo(int64_t index);

    QSize sizeHint() const override;

    // (index, modifiers held at the click)
    std::function<void(int64_t, Qt::KeyboardModifiers)> onSelect;
    // (slot): move the selection to this gap of the frame list.
    std::function<void(int64_t)> onReorder;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    GifFrameList m_frames;
    int64_t m_current = 0;
    std::set<int64_t> m_selected;
};
