#include "capture/x11/X11Connection.h"

#include <xcb/randr.h>
#include <xcb/shape.h>

#include <cstring>

std::unique_ptr<X11Connection> X11Connection::open(QString *error)
{
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection)
            xcb_disconnect(connection);
        if (error) {
            const QByteArray display = qgetenv("DISPLAY");
            *error = display.isEmpty()
                ? QStringLiteral("No X display is set (DISPLAY is empty); screen recording needs an X11 session.")
                : QStringLiteral("Could not connect to the X display %1.").arg(QString::fromLocal8Bit(display));
        }
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(connection);
        if (error)
            *error = QStringLiteral("The X display reports no screen.");
        return nullptr;
    }
    return std::unique_ptr<X11Connection>(new X11Connection(connection, it.data));
}

X11Connection::X11Connection(xcb_connection_t *connection, const xcb_screen_t *screen)
    : m_connection(connection)
    , m_screen(screen)
    , m_root(screen->root)
    , m_rootDepth(screen->root_depth)
    , m_rootWidth(screen->width_in_pixels)
    , m_rootHeight(screen->height_in_pixels)
{
    const xcb_query_extension_reply_t *shape = xcb_get_extension_data(m_connection, &xcb_shape_id);
    m_hasShape = shape && shape->present;
}

X11Connection::~X11Connection()
{
    xcb_disconnect(m_connection);
}

QRect X11Connection::rootRect() const
{
    // The root can grow or shrink with RandR; ask rather than trust the setup.
    XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, m_root), nullptr));
    if (geometry)
        return {0, 0, geometry->width, geometry->height};
    return {0, 0, m_rootWidth, m_rootHeight};
}

bool X11Connection::hasError() const
{
    return xcb_connection_has_error(m_connection) != 0;
}

void X11Connection::drainEvents()
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
        std::free(event);
}

xcb_atom_t X11Connection::atom(const char *name)
{
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 1, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QString X11Connection::atomName(xcb_atom_t atom)
{
    XcbReply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(m_connection, xcb_get_atom_name(m_connection, atom), nullptr));
    if (!reply)
        return {};
    return QString::fromUtf8(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get()));
}

std::vector<X11Monitor> X11Connection::monitors()
{
    std::vector<X11Monitor> result;
    if (!m_hasMonitors) {
        const xcb_query_extension_reply_t *randr = xcb_get_extension_data(m_connection, &xcb_randr_id);
        bool ok = false;
        if (randr && randr->present) {
            XcbReply<xcb_randr_query_version_reply_t> version(
                xcb_randr_query_version_reply(m_connection, xcb_randr_query_version(m_connection, 1, 5), nullptr));
            ok = version && (version->major_version > 1 || version->minor_version >= 5);
        }
        m_hasMonitors = ok;
    }
    if (*m_hasMonitors) {
        XcbReply<xcb_randr_get_monitors_reply_t> reply(
            xcb_randr_get_monitors_reply(m_connection, xcb_randr_get_monitors(m_connection, m_root, 1), nullptr));
        if (reply) {
            for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
                 xcb_randr_monitor_info_next(&it)) {
                const xcb_randr_monitor_info_t *m = it.data;
                if (m->width == 0 || m->height == 0)
                    continue;
                result.push_back({m->name, atomName(m->name), QRect(m->x, m->y, m->width, m->height), m->primary != 0});
            }
        }
    }
    if (result.empty())
        result.push_back({m_root, QStringLiteral("root"), rootRect(), true});
    return result;
}

X11Monitor X11Connection::primaryMonitor()
{
    const std::vector<X11Monitor> all = monitors();
    for (const X11Monitor &m : all) {
        if (m.primary)
            return m;
    }
    return all.front();
}

X11TopLevelList X11Connection::topLevels()
{
    X11TopLevelList list;
    std::vector<X11TopLevel> &result = list.windows;
    const xcb_query_tree_cookie_t cookie = xcb_query_tree(m_connection, m_root);
    list.sequence = cookie.sequence;
    XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(m_connection, cookie, nullptr));
    if (!tree)
        return list;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    // Send every request first, then read the answers: one round trip for all.
    std::vector<xcb_get_window_attributes_cookie_t> attributeCookies(static_cast<size_t>(count));
    std::vector<xcb_get_geometry_cookie_t> geometryCookies(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        attributeCookies[size_t(i)] = xcb_get_window_attributes(m_connection, children[i]);
        geometryCookies[size_t(i)] = xcb_get_geometry(m_connection, children[i]);
    }
    for (int i = 0; i < count; ++i) {
        XcbReply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(m_connection, attributeCookies[size_t(i)], nullptr));
        XcbReply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(m_connection, geometryCookies[size_t(i)], nullptr));
        if (!attributes || !geometry)
            continue; // destroyed in the meantime
        X11TopLevel w;
        w.id = children[i];
        w.borderWidth = geometry->border_width;
        w.outer = QRect(geometry->x, geometry->y, geometry->width + 2 * geometry->border_width,
            geometry->height + 2 * geometry->border_width);
        w.depth = geometry->depth;
        w.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        w.inputOutput = attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT;
        w.visual = attributes->visual;
        result.push_back(w);
    }
    return list;
}

std::optional<xcb_window_t> X11Connection::topLevelOf(xcb_window_t window)
{
    xcb_window_t current = window;
    for (int depth = 0; depth < 64; ++depth) {
        XcbReply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, current), nullptr));
        if (!tree)
            return std::nullopt;
        if (tree->parent == m_root)
            return current;
        if (tree->parent == XCB_WINDOW_NONE)
            return std::nullopt; // `window` is the root itself
        current = tree->parent;
    }
    return std::nullopt;
}

xcb_window_t X11Connection::clientOf(xcb_window_t topLevel)
{
    const xcb_atom_t wmState = atom("WM_STATE");
    if (wmState == XCB_ATOM_NONE)
        return topLevel;
    auto hasState = [&](xcb_window_t w) {
        XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, w, wmState, XCB_ATOM_ANY, 0, 0), nullptr));
        return reply && reply->type != XCB_ATOM_NONE;
    };
    if (hasState(topLevel))
        return topLevel;
    XcbReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, topLevel), nullptr));
    if (!tree)
        return topLevel;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        if (hasState(children[i]))
            return children[i];
    }
    return topLevel;
}

std::optional<uint32_t> X11Connection::windowPid(xcb_window_t window)
{
    const xcb_atom_t pidAtom = atom("_NET_WM_PID");
    if (pidAtom == XCB_ATOM_NONE)
        return std::nullopt;
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
        return std::nullopt;
    uint32_t pid = 0;
    std::memcpy(&pid, xcb_get_property_value(reply.get()), sizeof pid);
    return pid;
}

QRegion X11Connection::boundingRegion(const X11TopLevel &window)
{
    if (!m_hasShape)
        return QRegion(window.outer);
    XcbReply<xcb_shape_get_rectangles_reply_t> reply(xcb_shape_get_rectangles_reply(
        m_connection, xcb_shape_get_rectangles(m_connection, window.id, XCB_SHAPE_SK_BOUNDING), nullptr));
    if (!reply)
        return QRegion(window.outer);
    // Shape rectangles are relative to the window's origin, inside its border.
    const QPoint origin = window.outer.topLeft() + QPoint(window.borderWidth, window.borderWidth);
    QRegion region;
    const xcb_rectangle_t *rects = xcb_shape_get_rectangles_rectangles(reply.get());
    for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(reply.get()); ++i)
        region += QRect(origin.x() + rects[i].x, origin.y() + rects[i].y, rects[i].width, rects[i].height);
    return region & window.outer;
}
