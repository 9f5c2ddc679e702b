#include "editor/FramePreviewView.h"

#include "base/Rounding.h"
#include "editor/EditorStyle.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kMinFreeScale = 0.1;
constexpr double kMaxFreeScale = 8.0;
// Wheels without pixel deltas move in notches of 120 eighths of a degree.
constexpr double kNotch = 120.0;

QFont sizedFont(int pixelSize, QFont::Weight weight)
{
    QFont font;
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

} // namespace

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

Rect FramePreviewView::drawRect(QSize imagePixels, QSizeF viewSize, double scale)
{
    const double w = scale * imagePixels.width();
    const double h = scale * imagePixels.height();
    return Rect {(viewSize.width() - w) / 2, (viewSize.height() - h) / 2, w, h};
}

double FramePreviewView::pinchedScale(double scale, double magnification)
{
    return std::clamp(scale * (1 + magnification), kMinFreeScale, kMaxFreeScale);
}

double FramePreviewView::scrolledScale(double scale, double delta)
{
    return std::clamp((1 + 0.004 * delta) * scale, kMinFreeScale, kMaxFreeScale);
}

Point FramePreviewView::clampInto(Point p, const Rect &r)
{
    return {std::clamp(p.x, r.minX(), r.maxX()), std::clamp(p.y, r.minY(), r.maxY())};
}

Rect FramePreviewView::selectionBetween(Point a, Point b)
{
    return {std::min(a.x, b.x), std::min(a.y, b.y), std::abs(a.x - b.x), std::abs(a.y - b.y)};
}

QString FramePreviewView::sizeLabel(const Rect &selection, double imagePixelWidth, double drawWidth)
{
    const double ratio = imagePixelWidth / drawWidth;
    return QString::number(roundHalfAwayToInt(selection.width * ratio)) + QStringLiteral(" × ")
        + QString::number(roundHalfAwayToInt(selection.height * ratio));
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
    return drawRect(m_image.size(), QSizeF(size()), effectiveScale());
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

Point FramePreviewView::fromWidget(const QPointF &p) const
{
    return {p.x(), height() - p.y()};
}

// --- gestures

bool FramePreviewView::event(QEvent *event)
{
    if (event->type() == QEvent::NativeGesture) {
        const auto *gesture = static_cast<QNativeGestureEvent *>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            if (!m_cropMode)
                setCustomScale(pinchedScale(effectiveScale(), gesture->value()));
            return true;
        }
    }
    return QWidget::event(event);
}

void FramePreviewView::wheelEvent(QWheelEvent *event)
{
    event->accept();
    if (m_cropMode)
        return;
    double delta = 0;
    if (!event->pixelDelta().isNull())
        delta = event->pixelDelta().y();
    else
        delta = event->angleDelta().y() / kNotch * 3;
    if (delta == 0)
        return;
    setCustomScale(scrolledScale(effectiveScale(), delta));
}

void FramePreviewView::mousePressEvent(QMouseEvent *event)
{
    const auto draw = imageDrawRect();
    if (!m_cropMode || !draw || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const Point start = clampInto(fromWidget(event->position()), *draw);
    m_dragStart = start;
    m_cropRect = Rect {start.x, start.y, 0, 0};
    update();
}

void FramePreviewView::mouseMoveEvent(QMouseEvent *event)
{
    const auto draw = imageDrawRect();
    if (!m_cropMode || !m_dragStart || !draw) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    m_cropRect = selectionBetween(*m_dragStart, clampInto(fromWidget(event->position()), *draw));
    update();
}

void FramePreviewView::mouseReleaseEvent(QMouseEvent *)
{
    m_dragStart.reset();
    // A twitch of the mouse is no selection.
    if (m_cropRect && (m_cropRect->width < 4 || m_cropRect->height < 4))
        m_cropRect.reset();
    update();
    if (onCropChanged)
        onCropChanged();
}

// --- drawing

void FramePreviewView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setClipRect(rect());
    p.fillRect(rect(), QColor::fromRgbF(0.1f, 0.1f, 0.1f));
    const auto draw = imageDrawRect();
    if (!draw)
        return;
    // Small zooms are smoothed; from 100 % up every image pixel stays a crisp square.
    p.setRenderHint(QPainter::SmoothPixmapTransform, effectiveScale() < 1.0);
    p.drawImage(toWidget(*draw), m_image);
    if (m_cropMode)
        paintCropOverlay(p, *draw);
}

void FramePreviewView::paintCropOverlay(QPainter &p, const Rect &draw)
{
    const QColor dim = QColor::fromRgbF(0, 0, 0, 0.45f);
    if (!m_cropRect || !(m_cropRect->width > 1) || !(m_cropRect->height > 1)) {
        p.fillRect(rect(), dim);
        p.setFont(sizedFont(13, QFont::Medium));
        p.setPen(QColor::fromRgbF(1, 1, 1, 0.8f));
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("Drag to select a crop area"));
        return;
    }
    const QRectF selection = toWidget(*m_cropRect);
    QPainterPath outside;
    outside.setFillRule(Qt::OddEvenFill);
    outside.addRect(QRectF(rect()));
    outside.addRect(selection);
    p.fillPath(outside, dim);

    p.setRenderHint(QPainter::Antialiasing, true);
    QPen lime(EditorStyle::lime(), 1.5);
    lime.setDashPattern({5 / 1.5, 4 / 1.5});
    p.setPen(lime);
    p.setBrush(Qt::NoBrush);
    p.drawRect(selection);
    QPen shade(QColor::fromRgbF(0, 0, 0, 0.6f), 0.75);
    shade.setDashPattern({5 / 0.75, 4 / 0.75});
    shade.setDashOffset(4 / 0.75);
    p.setPen(shade);
    p.drawRect(selection.adjusted(0.75, 0.75, -0.75, -0.75));

    if (!(draw.width > 0))
        return;
    const QString text = sizeLabel(*m_cropRect, m_image.width(), draw.width);
    const QFont font = sizedFont(11, QFont::DemiBold);
    const QFontMetricsF metrics(font);
    const double textW = metrics.horizontalAdvance(text);
    const double textH = metrics.height();
    // Just above the selection's top edge, kept inside the view (y-up here).
    double x = std::max(m_cropRect->minX(), 4.0);
    x = std::min(width() - textW - 10, x);
    const double y = std::min(height() - textH - 4, m_cropRect->maxY() + 4);
    const QRectF textRect = toWidget(Rect {x, y, textW, textH});
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0, 0, 0, 0.7f));
    p.drawRoundedRect(textRect.adjusted(-4, -2, 4, 2), 3, 3);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
}
