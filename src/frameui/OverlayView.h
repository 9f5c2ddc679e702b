#pragma once

#include "frameui/ChromeView.h"

class QPainter;

// The border around the region. Its window is the region grown by `margin` on
// every side, so the region is the view's bounds shrunk by `margin`. The view
// is a frame, never a sheet: the region itself stays outside its shape.
//
// GUI thread only.
class OverlayView : public ChromeView {
    Q_OBJECT

public:
    static constexpr int margin = 5;

    explicit OverlayView(QWidget *parent = nullptr);

    bool recording() const { return m_recording; }
    void setRecording(bool on);

    QRegion shape() const override;

    // The border of `region` (in the painter's coordinates, y down): a thin
    // dark line just outside a 4-point line in the accent colour that covers
    // 2 points on each side of the region's edge. The grabbers paint the same
    // border where their windows lie over it.
    static void paintBorder(QPainter &painter, const QRectF &region, bool recording);
    // The whole pixels paintBorder() touches for a region of whole points.
    static QRegion borderShape(const QRect &region);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect regionRect() const;

    bool m_recording = false;
};
