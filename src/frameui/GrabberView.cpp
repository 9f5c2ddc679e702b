#include "frameui/GrabberView.h"

#include "frameui/CursorFactory.h"
#include "frameui/OverlayView.h"
#include "frameui/Palette.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

// Farther than any edge that is not the grabber's own.
constexpr int far = 100'000;
// Edge grabbers start and end this far inside the region's corners.
constexpr int edgeInset = 11;

} // namespace

GrabberView::GrabberView(Anchor anchor, QWidget *parent)
    : ChromeView(parent)
    , m_anchor(anchor)
{
    setCursor(CursorFactory::cursor(anchor));
}

void GrabberView::setDrawsHandle(bool on)
{
    m_drawsHandle = on;
    update();
    shapeChanged();
}

void GrabberView::setRecording(bool on)
{
    m_recording = on;
    update();
    shapeChanged();
}

QRegion GrabberView::shape() const
{
    QRegion region = OverlayView::borderShape(regionInView()) & QRegion(rect());
    if (showsHandle())
        region |= QRegion(handleRect().adjusted(-1, -1, 1, 1).toAlignedRect());
    return region;
}

QRect GrabberView::regionInView() const
{
    const int w = width();
    const int h = height();
    const int cx = w / 2;
    const int cy = h / 2;
    int left = -far, top = -far, right = far, bottom = far;
    switch (m_anchor) {
    case Anchor::topLeft:
        left = cx, top = cy;
        break;
    case Anchor::top:
        left = -edgeInset, right = w + edgeInset, top = cy;
        break;
    case Anchor::topRight:
        right = cx, top = cy;
        break;
    case Anchor::right:
        right = cx, top = -edgeInset, bottom = h + edgeInset;
        break;
    case Anchor::bottomRight:
        right = cx, bottom = cy;
        break;
    case Anchor::bottom:
        left = -edgeInset, right = w + edgeInset, bottom = cy;
        break;
    case Anchor::bottomLeft:
        left = cx, bottom = cy;
        break;
    case Anchor::left:
        left = cx, top = -edgeInset, bottom = h + edgeInset;
        break;
    }
    return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

QRectF GrabberView::handleRect() const
{
    const QPointF centre = QRectF(rect()).center();
    return {centre.x() - 5, centre.y() - 5, 10, 10};
}

void GrabberView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    OverlayView::paintBorder(painter, QRectF(regionInView()), m_recording);
    if (!showsHandle())
        return;
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath handle;
    handle.addRoundedRect(handleRect(), 2, 2);
    painter.fillPath(handle, Qt::white);
    painter.strokePath(handle, QPen(Palette::ink(), 1.5));
}

void GrabberView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_dragging)
        return;
    m_startMouse = Geometry::fromQt(event->globalPosition());
    m_dragging = true;
    if (onDragStart)
        onDragStart();
}

void GrabberView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    const Point now = Geometry::fromQt(event->globalPosition());
    if (onDrag)
        onDrag(m_anchor, now.x - m_startMouse.x, now.y - m_startMouse.y);
}

void GrabberView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        endDrag();
}

void GrabberView::hideEvent(QHideEvent *event)
{
    endDrag();
    ChromeView::hideEvent(event);
}

void GrabberView::endDrag()
{
    if (!m_dragging)
        return;
    m_dragging = false;
    if (onDragEnd)
        onDragEnd();
}
