#include "frameui/CursorFactory.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace {

constexpr int side = 20;

QCursor make(bool nwse)
{
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    for (const std::vector<QPointF> &stroke : CursorFactory::arrowStrokes(nwse)) {
        // The image is y-up; the pixmap is y-down.
        path.moveTo(stroke.front().x(), side - stroke.front().y());
        for (size_t i = 1; i < stroke.size(); ++i)
            path.lineTo(stroke[i].x(), side - stroke[i].y());
    }
    painter.strokePath(path, QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.strokePath(path, QPen(Qt::black, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.end();
    return QCursor(pixmap, side / 2, side / 2);
}

} // namespace

namespace CursorFactory {

const QCursor &nwse()
{
    // Never destroyed: a cursor must not outlive the application object's
    // platform connection at exit.
    static const QCursor *cursor = new QCursor(make(true));
    return *cursor;
}

const QCursor &nesw()
{
    static const QCursor *cursor = new QCursor(make(false));
    return *cursor;
}

QCursor cursor(Anchor anchor)
{
    switch (anchor) {
    case Anchor::topLeft:
    case Anchor::bottomRight:
        return nwse();
    case Anchor::topRight:
    case Anchor::bottomLeft:
        return nesw();
    case Anchor::top:
    case Anchor::bottom:
        return QCursor(Qt::SizeVerCursor);
    case Anchor::left:
    case Anchor::right:
        return QCursor(Qt::SizeHorCursor);
    }
    return QCursor(Qt::ArrowCursor);
}

std::vector<std::vector<QPointF>> arrowStrokes(bool nwse)
{
    const QPointF p0 = nwse ? QPointF(4, 16) : QPointF(4, 4);
    const QPointF p1 = nwse ? QPointF(16, 4) : QPointF(16, 16);
    const QPointF d = p1 - p0;
    const double length = std::hypot(d.x(), d.y());
    const QPointF u = d / length;
    const QPointF n(-u.y(), u.x());
    return {
        {p0, p1},
        {p0 + 6 * u + 3 * n, p0, p0 + 6 * u - 3 * n},
        {p1 - 6 * u + 3 * n, p1, p1 - 6 * u - 3 * n},
    };
}

} // namespace CursorFactory
