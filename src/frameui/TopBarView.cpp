#include "frameui/TopBarView.h"

#include "frameui/Palette.h"

#include <QPainter>
#include <QPainterPath>

namespace {

QPainterPath pill(const QRectF &bounds)
{
    QPainterPath path;
    const double radius = bounds.height() / 2;
    path.addRoundedRect(bounds, radius, radius);
    return path;
}

} // namespace

TopBarView::TopBarView(QWidget *parent)
    : MoveStripView(parent)
{
}

const QFont &TopBarView::textFont()
{
    // Never destroyed, like every font and cursor of the frame; sizes are in
    // points, which are logical pixels here.
    static const QFont *font = [] {
        auto *f = new QFont;
        f->setPixelSize(11);
        f->setWeight(QFont::DemiBold);
        return f;
    }();
    return *font;
}

void TopBarView::setLabel(const QString &label)
{
    m_label = label;
    update();
}

void TopBarView::setRecording(bool on)
{
    m_recording = on;
    update();
}

QRegion TopBarView::shape() const
{
    return QRegion(pill(QRectF(rect())).toFillPolygon().toPolygon());
}

void TopBarView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = pill(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    QColor fill = m_recording ? Palette::recRed() : Palette::panel();
    fill.setAlphaF(0.97f);
    painter.fillPath(path, fill);
    QColor outline = m_recording ? QColor(Qt::white) : Palette::lime();
    outline.setAlphaF(m_recording ? 0.35f : 0.55f);
    painter.strokePath(path, QPen(outline, 1));
    painter.setFont(textFont());
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, m_label);
}
