#include "frameui/MoveStripView.h"

#include <QGuiApplication>
#include <QMouseEvent>

MoveStripView::MoveStripView(QWidget *parent)
    : ChromeView(parent)
{
    setCursor(Qt::OpenHandCursor);
}

void MoveStripView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_dragging)
        return;
    m_startMouse = Geometry::fromQt(event->globalPosition());
    m_dragging = true;
    if (onMoveStart)
        onMoveStart();
    QGuiApplication::setOverrideCursor(Qt::ClosedHandCursor);
}

void MoveStripView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    const Point now = Geometry::fromQt(event->globalPosition());
    if (onMove)
        onMove(now.x - m_startMouse.x, now.y - m_startMouse.y);
}

void MoveStripView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        endDrag();
}

void MoveStripView::hideEvent(QHideEvent *event)
{
    // The release will not come to a hidden window; the pushed cursor must
    // not stay behind.
    endDrag();
    ChromeView::hideEvent(event);
}

void MoveStripView::endDrag()
{
    if (!m_dragging)
        return;
    m_dragging = false;
    QGuiApplication::restoreOverrideCursor();
    if (onMoveEnd)
        onMoveEnd();
}
