#include "editor/FramePreviewView.h"

#include "base/Rounding.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

FramePreviewView::FramePreviewView(QWidget *parent)
    : QWidget(parent)
{
    // Keys belong to the editor's content view.
    setFocusPolicy(Qt::NoFocus);
}

void FramePreviewView::setImage(const QImage &image)
{
    m_image = image;
    update();
}

void FramePreviewView::setZoom(ZoomMode zoom)
{
    m_zoom = zoom;
    m_customScale.reset();
    update();
    reportZoom();
}

void FramePreviewView::setCustomScale(std::optional<double> scale)
{
    m_customScale = scale;
    update();
    reportZoom();
}

void FramePreviewView::setCropMode(bool on)
{
    m_cropMode = on;
    m_cropRect.reset();
    if (on)
        setCursor(Qt::CrossCursor);
    else
        unsetCursor();
    update();
}

void FramePreviewView::setCropRect(std::optional<Rect> rect)
{
    m_cropRect = rect;
    update();
}

void FramePreviewView::reportZoom()
{
    if (onZoomChanged)
        onZoomChanged(effectiveScale());
}

double FramePreviewView::fitScale(QSize imagePixels, QSizeF viewSize)
{
    if (imagePixels.width() < 1 || imagePixels.height() < 1)
        return 1.0;
    const double availW = viewSize.width() - 32;
    const double availH = viewSize.height() - 32;
    return std::max(std::min(availW / imagePixels.width(), availH / imagePixels.height()), 0.01);
}

double FramePreviewView::effectiveScale() const
{
    if (m_customScale)
        return *m_customScale;
    if (const auto fixed = ZoomModes::fixedScale(m_zoom))
        return *fixed;
    if (m_image.isNull())
        return 1.0;
    return fitScale(m_image.size(), QSizeF(size()));
}

std::optional<Rect> FramePreviewView::imageDrawRect() const
{
    if (m_image.isNull() || m_image.width() < 1 || m_image.height() < 1)
        return std::nullopt;
    const double s = effectiveScale();
    const double w = s * m_image.width();
    const double h = s * m_image.height();
    return Rect {(width() - w) / 2, (height() - h) / 2, w, h};
}

std::optional<QRect> FramePreviewView::cropRectInPixels(QSize imagePixels, const Rect &d, const Rect &crop)
{
    const double W = imagePixels.width();
    const double H = imagePixels.height();
    if (W < 1 || H < 1)
        return std::nullopt;
    if (!(crop.width > 2) || !(crop.height > 2))
        return std::nullopt;
    if (!(d.width > 0) || !(d.height > 0))
        return std::nullopt;
    const double sx = W / d.width;
    const double sy = H / d.height;
    // The selection's top edge becomes a row counted from the image's top.
    const double x = std::clamp(roundHalfAway(sx * (crop.minX() - d.minX())), 0.0, W - 1);
    const double y = std::clamp(roundHalfAway(H - sy * (crop.maxY() - d.minY())), 0.0, H - 1);
    const double w = std::min(W - x, roundHalfAway(sx * crop.width));
    const double h = std::min(H - y, roundHalfAway(sy * crop.height));
    if (!(w >= 1) || !(h >= 1))
        return std::nullopt;
    return QRect(int(x), int(y), int(w), int(h));
}

std::optional<QRect> FramePreviewView::cropRectInPixels() const
{
    const auto draw = imageDrawRect();
    if (!draw || !m_cropRect)
        return std::nullopt;
    return cropRectInPixels(m_image.size(), *draw, *m_cropRect);
}

QRectF FramePreviewView::toWidget(const Rect &r) const
{
    return QRectF(r.x, height() - r.maxY(), r.width, r.height);
}

void FramePreviewView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor::fromRgbF(0.1f, 0.1f, 0.1f));
    const auto draw = imageDrawRect();
    if (!draw)
        return;
    p.setRenderHint(QPainter::SmoothPixmapTransform, effectiveScale() < 1.0);
    p.drawImage(toWidget(*draw), m_image);
    if (!m_cropMode)
        return;
    QPainterPath dim;
    dim.addRect(QRectF(rect()));
    if (m_cropRect && m_cropRect->width > 1 && m_cropRect->height > 1) {
        dim.addRect(toWidget(*m_cropRect));
        dim.setFillRule(Qt::OddEvenFill);
    }
    p.fillPath(dim, QColor::fromRgbF(0, 0, 0, 0.45f));
}
