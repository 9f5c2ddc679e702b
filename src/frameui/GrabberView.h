#pragma once

#include "base/Geometry.h"
#include "capture/Anchor.h"
#include "frameui/ChromeView.h"

#include <functional>

// One resize handle. Its window is centred on a corner of the region or on an
// edge; a drag reports the pointer's displacement from the press in global
// y-up points.
//
// Without a compositing manager nothing under a window can show through it,
// so a grabber cannot be an invisible 18-point strip: it paints the part of
// the region's border that runs through it (exactly what the overlay paints
// there) and is cut to that, plus the handle square when it draws one. That
// band and the square are what take presses.
//
// GUI thread only.
class GrabberView : public ChromeView {
    Q_OBJECT

public:
    explicit GrabberView(Anchor anchor, QWidget *parent = nullptr);

    Anchor anchor() const { return m_anchor; }
    bool drawsHandle() const { return m_drawsHandle; }
    void setDrawsHandle(bool on);
    // The recording look: the border in red and no handle.
    bool recording() const { return m_recording; }
    void setRecording(bool on);

    QRegion shape() const override;

    // Where the region lies in this view's coordinates (y down). Only the
    // edges that pass through the view are meaningful; the others are far away.
    QRect regionInView() const;
    // The 10 x 10 handle, centred.
    QRectF handleRect() const;

    std::function<void(Anchor anchor, double dx, double dy)> onDrag;
    std::function<void()> onDragStart;
    std::function<void()> onDragEnd;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    bool showsHandle() const { return m_drawsHandle && !m_recording; }
    void endDrag();

    Anchor m_anchor;
    bool m_drawsHandle = true;
    bool m_recording = false;
    Point m_startMouse;
    bool m_dragging = false;
};
