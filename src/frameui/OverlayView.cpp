#include "frameui/OverlayView.h"

#include "frameui/Palette.h"

#include <QPainter>

OverlayView::OverlayView(QWidget *parent)
    : ChromeView(parent)
{
}

void OverlayView::setRecording(bool on)
{
    m_recording = on;
    update();
}

QRegion OverlayView::shape() const
{
    return borderShape(regionRect());
}

void OverlayView::paintBorder(QPainter &painter, const QRectF &region, bool recording)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0, 0, 0, 128), 2));
    painter.drawRect(region.adjusted(-2.5, -2.5, 2.5, 2.5));
    painter.setPen(
        QPen(recording ? Palette::recRed() : Palette::lime(), 4, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.drawRect(region);
    painter.restore();
}

QRegion OverlayView::borderShape(const QRect &region)
{
    // The dark line reaches 3.5 points out, the coloured one 2 points in.
    QRegion ring(region.adjusted(-4, -4, 4, 4));
    const QRect hole = region.adjusted(2, 2, -2, -2);
    if (hole.isValid())
        ring -= QRegion(hole);
    return ring;
}

void OverlayView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintBorder(painter, QRectF(regionRect()), m_recording);
}

QRect OverlayView::regionRect() const
{
    return rect().adjusted(margin, margin, -margin, -margin);
}
