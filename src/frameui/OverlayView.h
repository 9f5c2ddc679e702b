#pragma once

#include "frameui/ChromeView.h"

class QPainter;

// The border around the region. Its window is the region grown by
// windowMargin() on every side, so the region is the view's bounds shrunk by
// that margin. The view is a frame, never a sheet: the region itself stays
// outside its shape, except for the countdown's disc before a recording.
//
// GUI thread only.
class OverlayView : public ChromeView {
    Q_OBJECT

public:
    static constexpr int margin = 5;
    static constexpr int outsideMargin = 8;

    explicit OverlayView(QWidget *parent = nullptr);

    bool recording() const { return m_recording; }
    void setRecording(bool on);
    // The border drawn wholly outside the region, for a capture that records
    // every window on the screen. The window must then be the region grown by
    // outsideMargin.
    bool outside() const { return m_outside; }
    void setOutside(bool on);
    int windowMargin() const { return m_outside ? outsideMargin : margin; }
    // Seconds left before the recording starts, drawn large in the region's
    // middle; 0 draws nothing.
    int countdown() const { return m_countdown; }
    void setCountdown(int seconds);

    QRegion shape() const override;

    // The border of `region` (in the painter's coordinates, y down): a thin
    // dark line just outside a 4-point line in the accent colour that covers
    // 2 points on each side of the region's edge. The grabbers paint the same
    // border where their windows lie over it.
    static void paintBorder(QPainter &painter, const QRectF &region, bool recording);
    // The whole pixels paintBorder() touches for a region of whole points.
    static QRegion borderShape(const QRect &region);
    // The same border moved out: a 1-point gap, the coloured line, the dark
    // line; not one pixel of it inside the region.
    static void paintOutsideBorder(QPainter &painter, const QRect &region, bool recording);
    static QRegion outsideBorderShape(const QRect &region);
    // Where the countdown is drawn for a region: a disc in its middle.
    static QRect countdownDisc(const QRect &region);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect regionRect() const;
    void paintCountdown(QPainter &painter) const;

    bool m_recording = false;
    bool m_outside = false;
    int m_countdown = 0;
};
