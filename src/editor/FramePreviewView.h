#pragma once

#include "base/Geometry.h"
#include "editor/ZoomMode.h"

#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

// The large view of the current frame and the crop surface. It shows the
// image centred at the zoom mode's scale or at a free scale set by pinch and
// wheel, and in crop mode turns a drag into a selection that cropRectInPixels()
// converts to whole image pixels.
//
// Rectangles of this view (`cropRect`, `imageDrawRect`) are in the view's own
// points with the origin at its bottom-left and y growing upward, so the crop
// arithmetic reads the same as the image arithmetic around it. GUI thread only.
class FramePreviewView : public QWidget {
    Q_OBJECT

public:
    explicit FramePreviewView(QWidget *parent = nullptr);

    const QImage &image() const { return m_image; }
    void setImage(const QImage &image);

    ZoomMode zoom() const { return m_zoom; }
    // Drops any free scale and reports the new effective scale.
    void setZoom(ZoomMode zoom);
    std::optional<double> customScale() const { return m_customScale; }
    void setCustomScale(std::optional<double> scale);

    bool cropMode() const { return m_cropMode; }
    // Every assignment, even of the same value, clears the selection.
    void setCropMode(bool on);
    const std::optional<Rect> &cropRect() const { return m_cropRect; }
    void setCropRect(std::optional<Rect> rect);

    double effectiveScale() const;
    std::optional<Rect> imageDrawRect() const;
    // The selection as whole pixels of the image, origin at its top-left;
    // nullopt when there is no usable selection.
    std::optional<QRect> cropRectInPixels() const;

    // Pure forms of the geometry above, for callers and tests without a view.
    static double fitScale(QSize imagePixels, QSizeF viewSize);
    static Rect drawRect(QSize imagePixels, QSizeF viewSize, double scale);
    static std::optional<QRect> cropRectInPixels(QSize imagePixels, const Rect &drawRect, const Rect &cropRect);
    // A free scale after a pinch of `magnification` or a wheel movement of
    // `delta` (pixels, or notches x 3), clamped to 0.1 ... 8.
    static double pinchedScale(double scale, double magnification);
    static double scrolledScale(double scale, double delta);
    // `p` moved into `r` (edges included).
    static Point clampInto(Point p, const Rect &r);
    // The drag selection between two clamped points.
    static Rect selectionBetween(Point a, Point b);
    // The size label of a selection: its width and height in image pixels,
    // both through the horizontal ratio, as "W × H".
    static QString sizeLabel(const Rect &selection, double imagePixelWidth, double drawWidth);

    std::function<void(double)> onZoomChanged;
    std::function<void()> onCropChanged;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void reportZoom();
    QRectF toWidget(const Rect &r) const;
    Point fromWidget(const QPointF &p) const;
    void paintCropOverlay(QPainter &p, const Rect &draw);

    QImage m_image;
    ZoomMode m_zoom = ZoomMode::fit;
    std::optional<double> m_customScale;
    bool m_cropMode = false;
    std::optional<Rect> m_cropRect;
    // The fixed corner of the crop drag in progress.
    std::optional<Point> m_dragStart;
};
