#pragma once

#include "base/Geometry.h"
#include "editor/ZoomMode.h"

#include <QImage>
#include <QRect>
#include <QWidget>

#include <functional>
#include <optional>

// The large view of the current frame and the crop surface. This is the state
// and geometry the editor controller relies on (image, zoom, crop mode, the
// crop selection and its conversion to image pixels) with a plain drawing; the
// pinch, scroll and crop-drag handling and the full drawing arrive with the
// editor window.
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
    static std::optional<QRect> cropRectInPixels(QSize imagePixels, const Rect &drawRect, const Rect &cropRect);

    std::function<void(double)> onZoomChanged;
    std::function<void()> onCropChanged;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void reportZoom();
    QRectF toWidget(const Rect &r) const;

    QImage m_image;
    ZoomMode m_zoom = ZoomMode::fit;
    std::optional<double> m_customScale;
    bool m_cropMode = false;
    std::optional<Rect> m_cropRect;
};
