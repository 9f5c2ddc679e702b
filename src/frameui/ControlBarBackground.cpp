#include "frameui/ControlBarBackground.h"

#include "frameui/Palette.h"

#include <QPainter>
#include <QPainterPath>

ControlBarBackground::ControlBarBackground(QWidget *parent)
    : ChromeView(parent)
{
}

QRegion ControlBarBackground::shape() const
{
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), radius, radius);
    return QRegion(path.toFillPolygon().toPolygon());
}

void ControlBarBackground::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.fillPath(path, Palette::panel());
    painter.strokePath(path, QPen(QColor(255, 255, 255, 20), 1));
}
