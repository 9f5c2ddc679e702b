#include "editor/FrameStripView.h"

#include "base/Log.h"
#include "editor/EditorStyle.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>

#include <algorithm>
#include <cmath>

namespace {

QScrollArea *enclosingScrollArea(QWidget *w)
{
    for (QWidget *p = w->parentWidget(); p; p = p->parentWidget()) {
        if (auto *scroll = qobject_cast<QScrollArea *>(p))
            return scroll;
    }
    return nullptr;
}

QString rectNotation(const QRect &r)
{
    return QStringLiteral("{{%1, %2}, {%3, %4}}").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace

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
    std::set<std::weak_ptr<GifFrame>, std::owner_less<std::weak_ptr<GifFrame>>> shown(m_frames.begin(), m_frames.end());
    for (auto it = m_thumbCache.begin(); it != m_thumbCache.end();) {
        if (shown.count(it->first))
            ++it;
        else
            it = m_thumbCache.erase(it);
    }
}

const QImage &FrameStripView::thumbnail(const GifFrameRef &frame, QSizeF shown)
{
    const double ratio = devicePixelRatioF();
    const QSize pixels(
        std::max(1, int(std::ceil(shown.width() * ratio))), std::max(1, int(std::ceil(shown.height() * ratio))));
    auto it = m_thumbCache.find(frame);
    // A window moved to a screen of another pixel ratio wants another size.
    if (it == m_thumbCache.end() || it->second.pixels.lock() != frame->pixels() || it->second.image.size() != pixels) {
        const QImage full = frame->image();
        QImage small = full.isNull() ? QImage() : full.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        m_thumbCache[frame] = {frame->pixels(), std::move(small)};
        it = m_thumbCache.find(frame);
        ++m_thumbnailsMade;
    }
    return it->second.image;
}

int64_t FrameStripView::cachedThumbnailBytes() const
{
    int64_t bytes = 0;
    for (const auto &[frame, thumb] : m_thumbCache)
        bytes += thumb.image.sizeInBytes();
    return bytes;
}

std::optional<int64_t> FrameStripView::indexAt(double x, int64_t frameCount)
{
    if (frameCount <= 0)
        return std::nullopt;
    // Truncated toward zero: the margin before the first box belongs to box 0.
    const double column = std::trunc((x - pad) / pitch);
    if (!(column >= 0) || column >= double(frameCount))
        return std::nullopt;
    return int64_t(column);
}

std::optional<int64_t> FrameStripView::indexAt(double x) const
{
    return indexAt(x, int64_t(m_frames.size()));
}

int64_t FrameStripView::dropSlot(double x, int64_t frameCount)
{
    const double slot = std::floor((x - pad + pitch / 2.0) / pitch);
    return int64_t(std::clamp(slot, 0.0, double(std::max<int64_t>(frameCount, 0))));
}

double FrameStripView::intrinsicWidth(int64_t frameCount)
{
    return double(std::max<int64_t>(frameCount, 1)) * pitch + 16;
}

void FrameStripView::scrollTo(int64_t index)
{
    if (QScrollArea *scroll = enclosingScrollArea(this)) {
        // The rectangle (8 + 90 i - 84, 0, 252, 62): the box with a box of margin each side.
        const int left = int(pad + pitch * index - boxW);
        scroll->ensureVisible(left + 126, boxH / 2, 126, 0);
    }
}

QSize FrameStripView::sizeHint() const
{
    return QSize(int(intrinsicWidth(int64_t(m_frames.size()))), 88);
}

// --- mouse

void FrameStripView::mousePressEvent(QMouseEvent *event)
{
    const QPointF p = event->position();
    const auto index = indexAt(p.x());
    Log::write(QStringLiteral("strip mouseDown view=(") + QString::number(int(p.x())) + QLatin1Char(',')
        + QString::number(int(p.y())) + QStringLiteral(") frame=") + rectNotation(geometry())
        + QStringLiteral(" index=") + (index ? QString::number(*index) : QStringLiteral("nil")) + QStringLiteral(" of ")
        + QString::number(m_frames.size()));
    m_pressOrigin = p;
    m_dragging = false;
    m_pressIndex = index;
    if (!index)
        return;
    // A click on the selection, or one that extends it, is decided on release,
    // so that a drag of a multiple selection keeps it whole.
    if (m_selected.count(*index) || (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)))
        return;
    if (onSelect)
        onSelect(*index, event->modifiers());
}

void FrameStripView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_pressIndex || !(event->buttons() & Qt::LeftButton))
        return;
    const QPointF p = event->position();
    if (!m_dragging) {
        if (std::abs(p.x() - m_pressOrigin.x()) < dragThreshold && std::abs(p.y() - m_pressOrigin.y()) < dragThreshold)
            return;
        if (!m_selected.count(*m_pressIndex) && onSelect)
            onSelect(*m_pressIndex, Qt::NoModifier);
        m_dragging = true;
    }
    m_dragX = p.x() - m_pressOrigin.x();
    m_dropIndex = dropSlot(p.x(), int64_t(m_frames.size()));
    update();
    // Dragging past either end of the visible part scrolls the strip.
    if (QScrollArea *scroll = enclosingScrollArea(this))
        scroll->ensureVisible(int(p.x()), int(p.y()), 20, 0);
}

void FrameStripView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_dragging && m_dropIndex) {
        const int64_t slot = *m_dropIndex;
        m_dragging = false;
        m_dropIndex.reset();
        update();
        if (onReorder)
            onReorder(slot);
        return;
    }
    m_dragging = false;
    m_dropIndex.reset();
    update();
    if (const auto index = indexAt(event->position().x()); index && onSelect)
        onSelect(*index, event->modifiers());
}

// --- drawing

void FrameStripView::paintEvent(QPaintEvent *event)
{
    // Only the slots in the exposed part are drawn: a recording of thousands of
    // frames would otherwise be drawn in full at every playback step.
    const QRectF exposed = QRectF(event->rect()).adjusted(-4, 0, 4, 0);
    QPainter p(this);
    p.fillRect(rect(), QColor::fromRgbF(0.14f, 0.14f, 0.14f));
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QColor lime = EditorStyle::lime();
    QFont numberFont;
    numberFont.setPixelSize(9);
    numberFont.setWeight(QFont::Medium);
    numberFont.setStyleHint(QFont::Monospace);

    for (int64_t i = 0; i < int64_t(m_frames.size()); ++i) {
        const double slotX = pad + pitch * double(i);
        QRectF box(slotX, pad, boxW, boxH);
        const bool isSelected = m_selected.count(i) > 0;
        double tintAlpha = 0.22;
        if (m_dragging && isSelected) {
            box = box.translated(m_dragX, 0).adjusted(1, 1, -1, -1);
            tintAlpha = 0.38;
        }
        if (!exposed.intersects(QRectF(slotX, 0, boxW, height())) && !exposed.intersects(box))
            continue;
        p.setPen(Qt::NoPen);
        if (isSelected) {
            QColor tint = lime;
            tint.setAlphaF(float(tintAlpha));
            p.setBrush(tint);
            p.drawRoundedRect(box.adjusted(-2, -2, 2, 2), 5, 5);
        }
        p.setBrush(QColor::fromRgbF(0, 0, 0, 0.4f));
        p.drawRoundedRect(box, 4, 4);

        const GifFrameRef &frame = m_frames[size_t(i)];
        const double w = frame->size().width();
        const double h = frame->size().height();
        if (w >= 1 && h >= 1) {
            const double scale = std::min(56 / h, 78 / w);
            const QSizeF shown(w * scale, h * scale);
            const QRectF target(box.center().x() - shown.width() / 2, box.center().y() - shown.height() / 2,
                shown.width(), shown.height());
            const QImage &thumb = thumbnail(frame, shown);
            p.drawImage(target, thumb, QRectF(thumb.rect()));
        }
        if (i == m_current) {
            p.setPen(QPen(lime, 2));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(box, 4, 4);
        }
        p.setFont(numberFont);
        p.setPen(QColor::fromRgbF(1, 1, 1, 0.6f));
        p.drawText(QRectF(slotX, 73, boxW, 14), Qt::AlignLeft | Qt::AlignTop, QString::number(i + 1));
    }

    if (m_dragging && m_dropIndex) {
        const double x = pad + pitch * double(*m_dropIndex) - 3;
        p.setPen(QPen(lime, 3));
        p.drawLine(QPointF(x, 4), QPointF(x, 74));
    }
}
