#include "capture/x11/X11WindowStack.h"

#include <algorithm>

namespace {

QRect outerRect(int16_t x, int16_t y, uint16_t width, uint16_t height, uint16_t border)
{
    return {x, y, width + 2 * border, height + 2 * border};
}

} // namespace

void X11WindowStack::reset(std::vector<X11TopLevel> windows)
{
    m_windows = std::move(windows);
}

const X11TopLevel *X11WindowStack::find(xcb_window_t id) const
{
    const auto it = std::find_if(m_windows.begin(), m_windows.end(), [id](const X11TopLevel &w) { return w.id == id; });
    return it == m_windows.end() ? nullptr : &*it;
}

X11WindowStack::Iterator X11WindowStack::at(xcb_window_t id)
{
    return std::find_if(m_windows.begin(), m_windows.end(), [id](const X11TopLevel &w) { return w.id == id; });
}

void X11WindowStack::placeAbove(Iterator it, xcb_window_t sibling)
{
    const X11TopLevel window = *it;
    m_windows.erase(it);
    if (sibling == XCB_WINDOW_NONE) {
        m_windows.insert(m_windows.begin(), window);
        return;
    }
    const Iterator below = at(sibling);
    m_windows.insert(below == m_windows.end() ? m_windows.end() : below + 1, window);
}

void X11WindowStack::setDetails(
    xcb_window_t id, uint8_t depth, xcb_visualid_t visual, bool inputOutput, const QRect &outer, int borderWidth)
{
    const Iterator it = at(id);
    if (it == m_windows.end())
        return;
    it->depth = depth;
    it->visual = visual;
    it->inputOutput = inputOutput;
    it->detailsKnown = true;
    if (!it->sizeKnown) {
        it->outer = outer;
        it->borderWidth = borderWidth;
        it->sizeKnown = true;
    }
}

X11WindowStack::Change X11WindowStack::apply(const xcb_generic_event_t *event, xcb_window_t root)
{
    Change change;
    // A client may send any of these itself (a withdrawn window's synthetic
    // UnmapNotify goes to the root); only the server's own say what happened.
    if (event->response_type & 0x80)
        return change;
    const auto visibleArea = [](const X11TopLevel &w) { return w.viewable ? QRegion(w.outer) : QRegion(); };
    // The window an event names, when the event is about one of the root's
    // children that the stack holds; end() otherwise.
    const auto child
        = [this, root](xcb_window_t parent, xcb_window_t id) { return parent == root ? at(id) : m_windows.end(); };

    switch (event->response_type) {
    case XCB_CREATE_NOTIFY: {
        const auto *e = reinterpret_cast<const xcb_create_notify_event_t *>(event);
        if (e->parent != root || at(e->window) != m_windows.end())
            break;
        X11TopLevel w;
        w.id = e->window;
        w.outer = outerRect(e->x, e->y, e->width, e->height, e->border_width);
        w.borderWidth = e->border_width;
        w.detailsKnown = false;
        // New windows go on top of their siblings.
        m_windows.push_back(w);
        change.added = e->window;
        change.restacked = true;
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        const auto *e = reinterpret_cast<const xcb_destroy_notify_event_t *>(event);
        const Iterator it = child(e->event, e->window);
        if (it == m_windows.end())
            break;
        change.area = visibleArea(*it);
        m_windows.erase(it);
        change.removed = e->window;
        change.restacked = true;
        break;
    }
    case XCB_MAP_NOTIFY:
    case XCB_UNMAP_NOTIFY: {
        const bool mapped = event->response_type == XCB_MAP_NOTIFY;
        const xcb_window_t parent = mapped ? reinterpret_cast<const xcb_map_notify_event_t *>(event)->event
                                           : reinterpret_cast<const xcb_unmap_notify_event_t *>(event)->event;
        const xcb_window_t id = mapped ? reinterpret_cast<const xcb_map_notify_event_t *>(event)->window
                                       : reinterpret_cast<const xcb_unmap_notify_event_t *>(event)->window;
        const Iterator it = child(parent, id);
        if (it == m_windows.end())
            break;
        it->viewable = mapped;
        change.area = QRegion(it->outer);
        change.restacked = true;
        break;
    }
    case XCB_CONFIGURE_NOTIFY: {
        const auto *e = reinterpret_cast<const xcb_configure_notify_event_t *>(event);
        const Iterator it = child(e->event, e->window);
        if (it == m_windows.end())
            break;
        QRegion area = visibleArea(*it);
        it->outer = outerRect(e->x, e->y, e->width, e->height, e->border_width);
        it->borderWidth = e->border_width;
        it->sizeKnown = true;
        area += visibleArea(*it);
        change.area = area;
        placeAbove(it, e->above_sibling);
        change.restacked = true;
        break;
    }
    case XCB_GRAVITY_NOTIFY: {
        const auto *e = reinterpret_cast<const xcb_gravity_notify_event_t *>(event);
        const Iterator it = child(e->event, e->window);
        if (it == m_windows.end())
            break;
        QRegion area = visibleArea(*it);
        it->outer.moveTo(e->x, e->y);
        change.area = area + visibleArea(*it);
        change.restacked = true;
        break;
    }
    case XCB_CIRCULATE_NOTIFY: {
        const auto *e = reinterpret_cast<const xcb_circulate_notify_event_t *>(event);
        const Iterator it = child(e->event, e->window);
        if (it == m_windows.end())
            break;
        change.area = visibleArea(*it);
        const X11TopLevel window = *it;
        m_windows.erase(it);
        if (e->place == XCB_PLACE_ON_TOP)
            m_windows.push_back(window);
        else
            m_windows.insert(m_windows.begin(), window);
        change.restacked = true;
        break;
    }
    case XCB_REPARENT_NOTIFY: {
        const auto *e = reinterpret_cast<const xcb_reparent_notify_event_t *>(event);
        if (e->event != root)
            break;
        const Iterator it = at(e->window);
        if (e->parent == root) {
            if (it != m_windows.end())
                break;
            // Unmapped while it moves; its size is not in the event.
            X11TopLevel w;
            w.id = e->window;
            w.outer = QRect(e->x, e->y, 0, 0);
            w.detailsKnown = false;
            w.sizeKnown = false;
            m_windows.push_back(w);
            change.added = e->window;
        } else {
            change.newParent = e->parent;
            if (it == m_windows.end())
                break;
            change.area = visibleArea(*it);
            m_windows.erase(it);
            change.removed = e->window;
        }
        change.restacked = true;
        break;
    }
    default:
        break;
    }
    return change;
}
