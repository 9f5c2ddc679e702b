#include "editor/FrameStripView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>

#include <algorithm>

FrameStripView::FrameStripView(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

void FrameStripView::setFrames(GifFrameList frames)
{
    m_frames = std::move(frames);
    pruneCache();
    updateGeometry();
    update();
}

void FrameStripView::setCurrent(int64_t index)
{
    m_current = index;
    update();
}

void FrameStripView::setSelected(std::set<int64_t> selected)
{
    m_selected = std::move(selected);
    update();
}

void FrameStripView::pruneCache()
{
    // No thumbnail cache yet: the placeholder draws boxes only.
}

std::optional<int64_t> FrameStripView::indexAt(double x) const
{
    if (m_frames.empty())
        return std::nullopt;
    // Truncated toward zero: the margin before the first box belongs to box 0.
    const auto i = static_cast<int64_t>((x - pad) / pitch);
    if (i < 0 || i >= int64_t(m_frames.size()))
        return std::nullopt;
    return i;
}

void FrameStripView::scrollTo(int64_t index)
{
    for (QWidget *w = parentWidget(); w; w = w->parentWidget()) {
        if (auto *scroll = qobject_cast<QScrollArea *>(w)) {
            const int centreX = int(pad + pitch * index - boxW + 252 / 2);
            scroll->ensureVisible(centreX, boxH / 2, 252 / 2, 0);
            return;
        }
    }
}

QSize FrameStripView::sizeHint() const
{
    return QSize(int(std::max<size_t>(m_frames.size(), 1) * pitch + 16), 88);
}

void FrameStripView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor::fromRgbF(0.14f, 0.14f, 0.14f));
    const QColor lime = QColor::fromRgbF(0.78f, 1.0f, 0.0f);
    for (int64_t i = 0; i < int64_t(m_frames.size()); ++i) {
        const QRectF box(pad + pitch * double(i), pad, boxW, boxH);
        if (m_selected.count(i)) {
            QColor tint = lime;
            tint.setAlphaF(0.22f);
            p.fillRect(box.adjusted(-2, -2, 2, 2), tint);
        }
        p.fillRect(box, QColor::fromRgbF(0, 0, 0, 0.4f));
        if (i == m_current) {
            p.setPen(QPen(lime, 2));
            p.drawRect(box);
        }
        p.setPen(QColor::fromRgbF(1, 1, 1, 0.6f));
        p.drawText(QPointF(box.x(), 73 + 10), QString::number(i + 1));
    }
}

void FrameStripView::mouseReleaseEvent(QMouseEvent *event)
{
    if (const auto index = indexAt(event->position().x()); index && onSelect)
        onSelect(*index, event->modifiers());
}
