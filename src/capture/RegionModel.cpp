#include "capture/RegionModel.h"

#include "base/Rounding.h"

#include <algorithm>
#include <cmath>

RegionModel::RegionModel(const Rect &rect)
    : m_rect(rect)
{
}

void RegionModel::addListener(std::function<void(const Rect &)> listener)
{
    if (!listener)
        return;
    m_listeners.push_back(std::move(listener));
    // Copy: the listener may change the model, and with it m_rect.
    const Rect current = m_rect;
    m_listeners.back()(current);
}

Rect RegionModel::normalized(const Rect &rect, const Rect &current)
{
    auto origin = [](double v, double fallback) { return std::isfinite(v) ? roundHalfAway(v) : fallback; };
    auto extent
        = [](double v, double minimum) { return std::isfinite(v) ? std::max(roundHalfAway(v), minimum) : minimum; };
    return {origin(rect.x, current.x), origin(rect.y, current.y), extent(rect.width, minSize.width),
        extent(rect.height, minSize.height)};
}

void RegionModel::apply(const Rect &rect, bool notify)
{
    const Rect candidate = normalized(rect, m_rect);
    if (candidate == m_rect)
        return;
    m_rect = candidate;
    if (!notify)
        return;
    // Index loop: a listener may add listeners while we walk the list.
    for (size_t i = 0; i < m_listeners.size(); ++i) {
        const Rect stored = m_rect;
        m_listeners[i](stored);
    }
}

void RegionModel::set(const Rect &rect, bool notify)
{
    apply(rect, notify);
}

void RegionModel::setWidth(double width)
{
    apply({m_rect.x, m_rect.y, width, m_rect.height}, true);
}

void RegionModel::setHeight(double height)
{
    // NaN counts as too small, so the top edge stays put for it too.
    const double raised = height >= minSize.height ? height : minSize.height;
    apply({m_rect.x, m_rect.maxY() - raised, m_rect.width, height}, true);
}

void RegionModel::setLeft(double x)
{
    apply({x, m_rect.y, m_rect.width, m_rect.height}, true);
}

void RegionModel::setTopFromScreenTop(double t, double screenHeight)
{
    apply({m_rect.x, screenHeight - t - m_rect.height, m_rect.width, m_rect.height}, true);
}

void RegionModel::translate(double dx, double dy)
{
    apply({m_rect.x + dx, m_rect.y + dy, m_rect.width, m_rect.height}, true);
}
