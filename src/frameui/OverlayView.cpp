#include "frameui/OverlayView.h"

#include "frameui/FrameLayout.h"
#include "frameui/Palette.h"

#include <QPainter>

#include <algorithm>

static_assert(OverlayView::outsideMargin == FrameLayout::outsideOverlayMargin);

OverlayView::OverlayView(QWidget *parent)
    : ChromeView(parent)
{
}

void OverlayView::setRecording(bool on)
{
    m_recording = on;
    update();
}

void OverlayView::setOutside(bool on)
{
    if (m_outside == on)
        return;
    m_outside = on;
    update();
    shapeChanged();
}

void OverlayView::setCountdown(int seconds)
{
    seconds = std::max(seconds, 0);
    if (m_countdown == seconds)
        return;
    m_countdown = seconds;
    update();
    shapeChanged();
}

QRegion OverlayView::shape() const
{
    const QRect region = regionRect();
    QRegion shape = m_outside ? outsideBorderShape(region) : borderShape(region);
    if (m_countdown > 0)
        shape |= QRegion(countdownDisc(region), QRegion::Ellipse);
    return shape;
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

void OverlayView::paintOutsideBorder(QPainter &painter, const QRect &region, bool recording)
{
    // Whole-point lines on whole-point edges: no antialiasing spills inward.
    const QRectF r(region);
    painter.save();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0, 0, 0, 128), 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.drawRect(r.adjusted(-6, -6, 6, 6));
    painter.setPen(
        QPen(recording ? Palette::recRed() : Palette::lime(), 4, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.drawRect(r.adjusted(-3, -3, 3, 3));
    painter.restore();
}

QRegion OverlayView::outsideBorderShape(const QRect &region)
{
    const int reach = static_cast<int>(FrameLayout::outsideBorderReach);
    return QRegion(region.adjusted(-reach, -reach, reach, reach)) - QRegion(region.adjusted(-1, -1, 1, 1));
}

QRect OverlayView::countdownDisc(const QRect &region)
{
    const int diameter = std::clamp(std::min(region.width(), region.height()) - 16, 36, 132);
    return {region.center().x() - diameter / 2 + 1, region.center().y() - diameter / 2 + 1, diameter, diameter};
}

void OverlayView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_outside)
        paintOutsideBorder(painter, regionRect(), m_recording);
    else
        paintBorder(painter, QRectF(regionRect()), m_recording);
    if (m_countdown > 0)
        paintCountdown(painter);
}

void OverlayView::paintCountdown(QPainter &painter) const
{
    const QRect disc = countdownDisc(regionRect());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // A little larger than the shape, so every pixel the shape keeps is painted.
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::panel());
    painter.drawEllipse(QRectF(disc).adjusted(-1, -1, 1, 1));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Palette::recRed(), std::max(2.0, disc.width() / 24.0)));
    const double inset = std::max(3.0, disc.width() / 16.0);
    painter.drawEllipse(QRectF(disc).adjusted(inset, inset, -inset, -inset));
    QFont font = painter.font();
    font.setPixelSize(std::max(12, disc.height() / 2));
    font.setWeight(QFont::Bold);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(disc, Qt::AlignCenter, QString::number(m_countdown));
    painter.restore();
}

QRect OverlayView::regionRect() const
{
    const int m = windowMargin();
    return rect().adjusted(m, m, -m, -m);
}
