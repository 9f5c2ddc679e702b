#include "capture/x11/X11FrameGrabber.h"

#include "capture/CaptureBackend.h"
#include "capture/FrameMemory.h"

#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/render.h>
#include <xcb/shape.h>
#include <xcb/shm.h>
#include <xcb/xcbext.h>
#include <xcb/xfixes.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>

namespace {

// With nothing drawn for this long, a tick grabs anyway: a server whose
// drawing Damage does not see (a driver that scans out a client's buffer
// directly) still shows up in the recording, if late.
constexpr double checkAfterSeconds = 1.0;
// For this long after a frame that changed, every tick grabs whatever Damage
// says: on a busy server its events for the last drawing may still sit in
// the server's output when the tick looks, and a tick that skipped on their
// account would miss a frame of an animation.
constexpr double animatingSeconds = 0.5;
// How soon a left-out window that is not there yet is looked for again.
constexpr double lookupRetrySeconds = 1.0;

bool is32BitPixels(xcb_connection_t *c, uint8_t depth)
{
    const xcb_setup_t *setup = xcb_get_setup(c);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
        if (it.data->depth == depth)
            return it.data->bits_per_pixel == 32 && it.data->scanline_pad == 32;
    }
    return false;
}

// X leaves the top byte of a 24-bit pixel undefined; the frame is opaque.
void copyOpaque(uint32_t *dst, const uint32_t *src, int n)
{
    for (int i = 0; i < n; ++i)
        dst[i] = src[i] | 0xff000000u;
}

// Premultiplied source over destination.
void blendOver(uint32_t *dst, const uint32_t *src, int n)
{
    for (int i = 0; i < n; ++i) {
        const uint32_t s = src[i];
        const uint32_t a = s >> 24;
        if (a == 255) {
            dst[i] = s;
        } else if (a != 0) {
            const uint32_t inv = 255 - a;
            const uint32_t d = dst[i];
            // Two channels at a time, each divided by 255 with rounding.
            uint32_t rb = (d & 0x00ff00ffu) * inv;
            rb = ((rb + ((rb >> 8) & 0x00ff00ffu) + 0x00800080u) >> 8) & 0x00ff00ffu;
            uint32_t ag = ((d >> 8) & 0x00ff00ffu) * inv;
            ag = (ag + ((ag >> 8) & 0x00ff00ffu) + 0x00800080u) & 0xff00ff00u;
            dst[i] = s + (rb | ag);
        }
    }
}

std::vector<xcb_rectangle_t> xcbRects(const QRegion &region)
{
    std::vector<xcb_rectangle_t> rects;
    for (const QRect &r : region)
        rects.push_back({int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height())});
    return rects;
}

template <typename Reply> XcbReply<Reply> pollReply(xcb_connection_t *c, unsigned int sequence, bool wait)
{
    void *reply = nullptr;
    xcb_generic_error_t *error = nullptr;
    if (wait) {
        reply = xcb_wait_for_reply(c, sequence, &error);
    } else if (!xcb_poll_for_reply(c, sequence, &reply, &error)) {
        return nullptr;
    }
    std::free(error);
    return XcbReply<Reply>(static_cast<Reply *>(reply));
}

} // namespace

std::unique_ptr<X11FrameGrabber> X11FrameGrabber::create(const Options &options, QString *error)
{
    std::unique_ptr<X11Connection> connection = X11Connection::open(error);
    if (!connection)
        return nullptr;
    std::unique_ptr<X11FrameGrabber> grabber(new X11FrameGrabber(std::move(connection), options));
    if (!grabber->setUp(error))
        return nullptr;
    return grabber;
}

X11FrameGrabber::X11FrameGrabber(std::unique_ptr<X11Connection> connection, const Options &options)
    : m_connection(std::move(connection))
    , m_options(options)
{
}

X11FrameGrabber::~X11FrameGrabber()
{
    xcb_connection_t *c = m_connection->get();
    if (m_targetPicture)
        xcb_render_free_picture(c, m_targetPicture);
    if (m_target)
        xcb_free_pixmap(c, m_target);
    if (m_gc)
        xcb_free_gc(c, m_gc);
    if (m_shmSegment)
        xcb_shm_detach(c, m_shmSegment);
    xcb_flush(c);
    if (m_shmAddress)
        shmdt(m_shmAddress);
}

bool X11FrameGrabber::setUp(QString *error)
{
    xcb_connection_t *c = m_connection->get();
    if (m_options.rect.isEmpty() || m_options.outputSize.isEmpty()) {
        *error = QStringLiteral("The region to record is empty.");
        return false;
    }
    if (!is32BitPixels(c, m_connection->rootDepth())) {
        *error
            = QStringLiteral("This X screen's pixel format (depth %1) cannot be recorded; a 24-bit screen is needed.")
                  .arg(m_connection->rootDepth());
        return false;
    }
    for (xcb_extension_t *ext : {&xcb_shm_id, &xcb_render_id, &xcb_composite_id, &xcb_damage_id, &xcb_xfixes_id})
        xcb_prefetch_extension_data(c, ext);
    m_root = m_connection->rootRect();
    if (!m_options.rect.intersects(m_root)) {
        *error = QStringLiteral("The region lies outside the X screen.");
        return false;
    }

    // Shared memory makes a grab about three times faster; a display on
    // another machine has none, and plain requests still work there.
    bool sharedPixmaps = false;
    const xcb_query_extension_reply_t *shmExt = xcb_get_extension_data(c, &xcb_shm_id);
    if (shmExt && shmExt->present) {
        XcbReply<xcb_shm_query_version_reply_t> version(
            xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
        sharedPixmaps = version && version->shared_pixmaps && version->pixmap_format == XCB_IMAGE_FORMAT_Z_PIXMAP;
        m_shmSize = size_t(m_options.rect.width()) * size_t(m_options.rect.height()) * 4;
        const int id = shmget(IPC_PRIVATE, m_shmSize, IPC_CREAT | 0600);
        if (id >= 0) {
            void *address = shmat(id, nullptr, 0);
            if (address != reinterpret_cast<void *>(-1)) {
                const uint32_t segment = xcb_generate_id(c);
                XcbReply<xcb_generic_error_t> failed(xcb_request_check(c, xcb_shm_attach_checked(c, segment, id, 0)));
                if (!failed) {
                    m_shmSegment = segment;
                    m_shmAddress = static_cast<uchar *>(address);
                } else {
                    shmdt(address);
                }
            }
            // Marked for removal now: it goes when both sides have detached,
            // even if this process dies.
            shmctl(id, IPC_RMID, nullptr);
        }
    }

    m_excluding = !m_options.excludedWindows.empty();
    if (!setUpComposition(error))
        return false;
    setUpTarget(sharedPixmaps);

    // The root's own size, and with windows left out the stacking list and
    // the wallpaper, follow from events.
    uint32_t rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    if (m_excluding)
        rootEvents |= XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, m_connection->root(), XCB_CW_EVENT_MASK, &rootEvents);

    const xcb_query_extension_reply_t *damage = xcb_get_extension_data(c, &xcb_damage_id);
    if (damage && damage->present) {
        XcbReply<xcb_damage_query_version_reply_t> version(
            xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
        if (version) {
            m_damage = true;
            m_damageEvent = damage->first_event;
            m_rootDamage = xcb_generate_id(c);
            xcb_damage_create(c, m_rootDamage, m_connection->root(), XCB_DAMAGE_REPORT_LEVEL_BOUNDING_BOX);
        }
    }

    if (m_excluding && !setUpExclusion(error))
        return false;

    if (m_options.showsCursor) {
        const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
        if (xfixes && xfixes->present) {
            XcbReply<xcb_xfixes_query_version_reply_t> version(
                xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
            m_hasXFixes = version && version->major_version >= 2;
            if (m_hasXFixes) {
                m_xfixesEvent = xfixes->first_event;
                xcb_xfixes_select_cursor_input(c, m_connection->root(), XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
            }
        }
    }
    xcb_flush(c);
    return true;
}

bool X11FrameGrabber::setUpComposition(QString *error)
{
    xcb_connection_t *c = m_connection->get();
    const xcb_query_extension_reply_t *render = xcb_get_extension_data(c, &xcb_render_id);
    if (render && render->present) {
        const auto versionCookie = xcb_render_query_version(c, 0, 11);
        const auto formatsCookie = xcb_render_query_pict_formats(c);
        XcbReply<xcb_render_query_version_reply_t> version(xcb_render_query_version_reply(c, versionCookie, nullptr));
        XcbReply<xcb_render_query_pict_formats_reply_t> formats(
            xcb_render_query_pict_formats_reply(c, formatsCookie, nullptr));
        if (version && formats && (version->major_version > 0 || version->minor_version >= 8)) {
            for (auto s = xcb_render_query_pict_formats_screens_iterator(formats.get()); s.rem;
                 xcb_render_pictscreen_next(&s)) {
                for (auto d = xcb_render_pictscreen_depths_iterator(s.data); d.rem; xcb_render_pictdepth_next(&d)) {
                    for (auto v = xcb_render_pictdepth_visuals_iterator(d.data); v.rem; xcb_render_pictvisual_next(&v))
                        m_visualFormats[v.data->visual] = v.data->format;
                }
            }
            m_rootFormat
                = m_visualFormats.count(m_connection->rootVisual()) ? m_visualFormats[m_connection->rootVisual()] : 0;
            m_render = m_rootFormat != 0;
        }
    }
    if (!m_render && m_excluding) {
        *error = QStringLiteral("The X server lacks the Render extension, needed to keep Quillo's own windows "
                                "out of the recording.");
        return false;
    }
    return true;
}

void X11FrameGrabber::setUpTarget(bool sharedPixmaps)
{
    xcb_connection_t *c = m_connection->get();
    const auto width = uint16_t(m_options.rect.width());
    const auto height = uint16_t(m_options.rect.height());
    if (m_shmSegment && sharedPixmaps) {
        // The server puts the picture straight into the segment.
        const xcb_pixmap_t pixmap = xcb_generate_id(c);
        XcbReply<xcb_generic_error_t> failed(xcb_request_check(c,
            xcb_shm_create_pixmap_checked(
                c, pixmap, m_connection->root(), width, height, m_connection->rootDepth(), m_shmSegment, 0)));
        if (!failed) {
            m_target = pixmap;
            m_targetShared = true;
        }
    }
    if (!m_target && m_excluding) {
        // Composed in a pixmap of the server's, then read back.
        m_target = xcb_generate_id(c);
        xcb_create_pixmap(c, m_connection->rootDepth(), m_target, m_connection->root(), width, height);
    }
    if (!m_target)
        return; // read straight from the root window
    // Copies of the root with what its children show; black where the
    // rectangle lies off the root.
    m_gc = xcb_generate_id(c);
    // In the order of the mask's bits.
    const uint32_t values[] = {m_connection->blackPixel(), XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS, 0};
    xcb_create_gc(c, m_gc, m_target, XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES | XCB_GC_SUBWINDOW_MODE, values);
    if (m_render) {
        m_targetPicture = xcb_generate_id(c);
        xcb_render_create_picture(c, m_targetPicture, m_target, m_rootFormat, 0, nullptr);
    }
}

bool X11FrameGrabber::setUpExclusion(QString *error)
{
    xcb_connection_t *c = m_connection->get();
    const xcb_query_extension_reply_t *composite = xcb_get_extension_data(c, &xcb_composite_id);
    if (!composite || !composite->present) {
        *error = QStringLiteral("The X server lacks the Composite extension, needed to keep Quillo's own windows "
                                "out of the recording.");
        return false;
    }
    XcbReply<xcb_composite_query_version_reply_t> version(
        xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 4), nullptr));
    // Automatic redirection gives every top-level window its own pixmap while
    // the server keeps drawing the screen as before. It ends with this
    // connection.
    XcbReply<xcb_generic_error_t> failed(xcb_request_check(
        c, xcb_composite_redirect_subwindows_checked(c, m_connection->root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
    if (failed || !version) {
        *error = QStringLiteral("The X server refused to redirect windows for recording.");
        return false;
    }
    if (m_connection->hasShape()) {
        const xcb_query_extension_reply_t *shape = xcb_get_extension_data(c, &xcb_shape_id);
        m_shapeEvent = shape->first_event;
    }
    const char *rootPixmap = "_XROOTPMAP_ID";
    XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(rootPixmap)), rootPixmap), nullptr));
    m_rootPixmapAtom = atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);

    // Events from here on are newer than the list.
    X11TopLevelList list = m_connection->topLevels();
    m_stack.reset(std::move(list.windows));
    m_treeSequence = list.sequence;
    m_filterOldEvents = true;

    for (uint32_t id : m_options.excludedWindows) {
        if (std::optional<xcb_window_t> top = m_connection->topLevelOf(id))
            m_excludedTops[id] = *top;
        else
            m_lookups[id] = {id, std::nullopt, monotonicSeconds() + lookupRetrySeconds};
    }
    return true;
}

void X11FrameGrabber::handleEvents()
{
    xcb_connection_t *c = m_connection->get();
    while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == 0) {
            // The error of a request whose target went away in the meantime
            // (a window unmapped while it was being composed): that window
            // is simply missing from one frame.
        } else if (m_damage && type == m_damageEvent + XCB_DAMAGE_NOTIFY) {
            handleDamage(event);
        } else if (m_hasXFixes && type == m_xfixesEvent + XCB_XFIXES_CURSOR_NOTIFY) {
            m_cursorStale = true;
        } else if (m_shapeEvent && type == m_shapeEvent + XCB_SHAPE_NOTIFY) {
            const auto *e = reinterpret_cast<const xcb_shape_notify_event_t *>(event);
            const auto it = m_tracked.find(e->affected_window);
            if (e->shape_kind == XCB_SHAPE_SK_BOUNDING && it != m_tracked.end()) {
                it->second.shapeKnown = false;
                m_holeStale = true;
            }
        } else if (type == XCB_PROPERTY_NOTIFY) {
            const auto *e = reinterpret_cast<const xcb_property_notify_event_t *>(event);
            if (e->atom == m_rootPixmapAtom && e->window == m_connection->root()) {
                m_rootPixmapStale = true;
                m_changed = m_changed || !m_hole.isEmpty();
            }
        } else if (type == XCB_CONFIGURE_NOTIFY
            && reinterpret_cast<const xcb_configure_notify_event_t *>(event)->window == m_connection->root()) {
            const auto *e = reinterpret_cast<const xcb_configure_notify_event_t *>(event);
            m_root = QRect(0, 0, e->width, e->height);
            m_holeStale = true;
            m_changed = true;
        } else if (m_excluding) {
            handleStructure(event);
        }
        std::free(event);
    }
    // Whatever came before the stacking list was read is in it.
    m_filterOldEvents = false;
}

void X11FrameGrabber::handleStructure(const xcb_generic_event_t *event)
{
    if (m_filterOldEvents && int32_t(event->full_sequence - m_treeSequence) < 0)
        return;
    const X11WindowStack::Change change = m_stack.apply(event, m_connection->root());
    xcb_connection_t *c = m_connection->get();
    if (change.added) {
        const xcb_window_t id = *change.added;
        m_pendingDetails[id] = {xcb_get_window_attributes(c, id), xcb_get_geometry(c, id)};
        if (std::count(m_options.excludedWindows.begin(), m_options.excludedWindows.end(), id))
            setExcludedTop(id, id);
    }
    if (change.removed) {
        const xcb_window_t gone = *change.removed;
        m_tracked.erase(gone);
        const auto pending = m_pendingDetails.find(gone);
        if (pending != m_pendingDetails.end()) {
            xcb_discard_reply(c, pending->second.attributes.sequence);
            xcb_discard_reply(c, pending->second.geometry.sequence);
            m_pendingDetails.erase(pending);
        }
    }
    if (change.removed || change.newParent) {
        // A window manager framing a left-out window (or letting it go), or
        // its frame destroyed: find where each such window lives now.
        const xcb_window_t moved = change.removed.value_or(XCB_WINDOW_NONE);
        for (uint32_t id : m_options.excludedWindows) {
            const auto top = m_excludedTops.find(id);
            const bool affected = (top != m_excludedTops.end() && top->second == moved)
                || (change.newParent && id == reinterpret_cast<const xcb_reparent_notify_event_t *>(event)->window);
            if (!affected)
                continue;
            if (change.newParent && m_stack.find(*change.newParent))
                setExcludedTop(id, *change.newParent);
            else
                setExcludedTop(id, std::nullopt);
        }
    }
    if (change.restacked)
        m_holeStale = true;
    if (change.area.intersects(m_options.rect))
        m_changed = true;
}

void X11FrameGrabber::handleDamage(const xcb_generic_event_t *event)
{
    const auto *e = reinterpret_cast<const xcb_damage_notify_event_t *>(event);
    if (std::find(m_damagesToClear.begin(), m_damagesToClear.end(), e->damage) == m_damagesToClear.end())
        m_damagesToClear.push_back(e->damage);
    const QRect area(e->area.x, e->area.y, e->area.width, e->area.height);
    if (e->drawable == m_connection->root()) {
        m_rootDamageAreas += area;
        return;
    }
    const X11TopLevel *w = m_stack.find(e->drawable);
    if (!w)
        return;
    m_windowDamageAreas += area.translated(w->outer.topLeft() + QPoint(w->borderWidth, w->borderWidth));
}

void X11FrameGrabber::resolveDetails(bool wait)
{
    xcb_connection_t *c = m_connection->get();
    for (auto it = m_pendingDetails.begin(); it != m_pendingDetails.end();) {
        XcbReply<xcb_get_window_attributes_reply_t> attributes
            = pollReply<xcb_get_window_attributes_reply_t>(c, it->second.attributes.sequence, wait);
        if (!attributes && !wait) {
            ++it;
            continue;
        }
        XcbReply<xcb_get_geometry_reply_t> geometry
            = pollReply<xcb_get_geometry_reply_t>(c, it->second.geometry.sequence, true);
        if (attributes && geometry) {
            const int border = geometry->border_width;
            m_stack.setDetails(it->first, geometry->depth, attributes->visual,
                attributes->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT,
                QRect(geometry->x, geometry->y, geometry->width + 2 * border, geometry->height + 2 * border), border);
            m_holeStale = true;
        }
        it = m_pendingDetails.erase(it);
    }
}

void X11FrameGrabber::resolveExcluded(bool wait)
{
    if (m_lookups.empty())
        return;
    xcb_connection_t *c = m_connection->get();
    const double now = monotonicSeconds();
    for (auto it = m_lookups.begin(); it != m_lookups.end();) {
        const uint32_t id = it->first;
        Lookup &lookup = it->second;
        if (!lookup.pending) {
            if (now >= lookup.retryAt)
                lookup.pending = xcb_query_tree(c, lookup.current);
            ++it;
            continue;
        }
        void *reply = nullptr;
        xcb_generic_error_t *error = nullptr;
        if (wait)
            reply = xcb_wait_for_reply(c, lookup.pending->sequence, &error);
        else if (!xcb_poll_for_reply(c, lookup.pending->sequence, &reply, &error)) {
            ++it;
            continue;
        }
        std::free(error);
        XcbReply<xcb_query_tree_reply_t> tree(static_cast<xcb_query_tree_reply_t *>(reply));
        lookup.pending.reset();
        if (tree && tree->parent == m_connection->root()) {
            const xcb_window_t top = lookup.current;
            ++it;
            setExcludedTop(id, top);
            continue;
        }
        if (tree && tree->parent != XCB_WINDOW_NONE) {
            lookup.current = tree->parent;
            lookup.pending = xcb_query_tree(c, lookup.current);
        } else {
            // Not there (yet): the recording frame may create it later.
            lookup.current = id;
            lookup.retryAt = now + lookupRetrySeconds;
        }
        ++it;
    }
}

void X11FrameGrabber::setExcludedTop(xcb_window_t id, std::optional<xcb_window_t> top)
{
    const auto known = m_excludedTops.find(id);
    if (top) {
        m_lookups.erase(id);
        if (known != m_excludedTops.end() && known->second == *top)
            return;
        m_excludedTops[id] = *top;
    } else {
        if (known != m_excludedTops.end())
            m_excludedTops.erase(known);
        if (!m_lookups.count(id))
            m_lookups[id] = {id, std::nullopt, 0};
    }
    m_holeStale = true;
}

bool X11FrameGrabber::isExcludedTop(xcb_window_t id) const
{
    return std::any_of(
        m_excludedTops.begin(), m_excludedTops.end(), [id](const auto &entry) { return entry.second == id; });
}

QRegion X11FrameGrabber::boundingRegion(const X11TopLevel &window) const
{
    const auto it = m_tracked.find(window.id);
    if (it == m_tracked.end() || !it->second.shapeKnown)
        return QRegion(window.outer);
    // Shape rectangles are relative to the window's origin, inside its border.
    return it->second.shape.translated(window.outer.topLeft() + QPoint(window.borderWidth, window.borderWidth))
        & window.outer;
}

void X11FrameGrabber::track(const std::vector<xcb_window_t> &windows)
{
    xcb_connection_t *c = m_connection->get();
    std::vector<std::pair<xcb_window_t, xcb_shape_get_rectangles_cookie_t>> shapes;
    for (xcb_window_t id : windows) {
        Tracked &t = m_tracked[id];
        if (m_connection->hasShape()) {
            if (!t.shapeSelected) {
                xcb_shape_select_input(c, id, 1);
                t.shapeSelected = true;
            }
            if (!t.shapeKnown)
                shapes.emplace_back(id, xcb_shape_get_rectangles(c, id, XCB_SHAPE_SK_BOUNDING));
        }
        if (m_damage && !t.damage && !isExcludedTop(id)) {
            // What it drew before is unknown: it counts as a change.
            t.damage = xcb_generate_id(c);
            xcb_damage_create(c, t.damage, id, XCB_DAMAGE_REPORT_LEVEL_BOUNDING_BOX);
            m_changed = true;
        }
    }
    for (const auto &[id, cookie] : shapes) {
        XcbReply<xcb_shape_get_rectangles_reply_t> reply(xcb_shape_get_rectangles_reply(c, cookie, nullptr));
        Tracked &t = m_tracked[id];
        t.shape = QRegion();
        if (reply) {
            const xcb_rectangle_t *rects = xcb_shape_get_rectangles_rectangles(reply.get());
            for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(reply.get()); ++i)
                t.shape += QRect(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
            t.shapeKnown = true;
        }
    }
}

void X11FrameGrabber::updateHole()
{
    if (!m_holeStale)
        return;
    m_holeStale = false;
    const QRect grabbed = m_options.rect & m_root;
    std::vector<xcb_window_t> excluded;
    for (const X11TopLevel &w : m_stack.windows()) {
        if (w.viewable && w.outer.intersects(grabbed) && isExcludedTop(w.id))
            excluded.push_back(w.id);
    }
    track(excluded);
    QRegion hole;
    for (xcb_window_t id : excluded)
        hole += boundingRegion(*m_stack.find(id)) & grabbed;

    if (!hole.isEmpty()) {
        const QRect reach = hole.boundingRect();
        std::vector<xcb_window_t> beneath;
        bool unknown = false;
        for (const X11TopLevel &w : m_stack.windows()) {
            if (w.viewable && w.outer.intersects(reach) && !isExcludedTop(w.id)) {
                beneath.push_back(w.id);
                unknown = unknown || !w.detailsKnown;
            }
        }
        if (unknown)
            resolveDetails(true);
        track(beneath);
    }
    if (hole != m_hole) {
        m_hole = hole;
        m_changed = true;
    }
}

bool X11FrameGrabber::damagesHole(xcb_window_t window, const QRect &area) const
{
    return !isExcludedTop(window) && m_hole.intersects(area);
}

X11FrameGrabber::Result X11FrameGrabber::grab()
{
    Result result;
    xcb_connection_t *c = m_connection->get();
    const QString lost = QStringLiteral("The connection to the X server was lost.");
    if (m_connection->hasError()) {
        result.error = lost;
        return result;
    }

    handleEvents();
    if (m_excluding) {
        resolveDetails(false);
        resolveExcluded(false);
        updateHole();
    }
    // Drawing inside the rectangle counts, except under left-out windows,
    // where what shows comes from the windows beneath (their own damage).
    if (!m_rootDamageAreas.isEmpty()) {
        if (!((m_rootDamageAreas & m_options.rect) - m_hole).isEmpty())
            m_changed = true;
        m_rootDamageAreas = QRegion();
    }
    if (!m_windowDamageAreas.isEmpty()) {
        if (m_hole.intersects(m_windowDamageAreas))
            m_changed = true;
        m_windowDamageAreas = QRegion();
    }
    // Cleared before the picture is composed, so that whatever is drawn from
    // now on is reported for the next tick.
    for (uint32_t damage : m_damagesToClear)
        xcb_damage_subtract(c, damage, XCB_NONE, XCB_NONE);
    m_damagesToClear.clear();

    const double now = monotonicSeconds();
    bool composing = m_changed || !m_damage || m_previous.isNull() || now - m_lastGrab >= checkAfterSeconds
        || now - m_lastChange < animatingSeconds;
    if (composing)
        compose();
    // One batch: the picture's requests, the cursor's image when it changed,
    // the read-back, and the pointer.
    std::optional<xcb_xfixes_get_cursor_image_cookie_t> cursorCookie;
    if (m_hasXFixes && m_cursorStale)
        cursorCookie = xcb_xfixes_get_cursor_image(c);
    Readback readback;
    if (composing)
        readback = sendReadback();
    std::optional<xcb_query_pointer_cookie_t> pointerCookie;
    if (m_options.showsCursor)
        pointerCookie = xcb_query_pointer(c, m_connection->root());

    // The last request's reply first: once it is in, so are the others, and
    // the batch costs one wait however the server splits its answers.
    std::optional<QPoint> pointer;
    if (pointerCookie) {
        XcbReply<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(c, *pointerCookie, nullptr));
        if (reply && reply->same_screen)
            pointer = QPoint(reply->root_x, reply->root_y);
    }
    bool cursorChanged = false;
    if (cursorCookie) {
        XcbReply<xcb_xfixes_get_cursor_image_reply_t> reply(
            xcb_xfixes_get_cursor_image_reply(c, *cursorCookie, nullptr));
        if (reply) {
            updateCursor(reply.get());
            cursorChanged = true;
        }
    }
    const QRect cursorRect = pointer && m_cursor.known ? QRect(*pointer - m_cursor.hotspot, m_cursor.size) : QRect();
    if (!composing) {
        // Nothing was drawn; the pointer may still have moved over the
        // rectangle, or changed its image there.
        const QRect drawn = cursorRect.intersects(m_options.rect) ? cursorRect : QRect();
        if ((drawn == m_drawnCursor && !cursorChanged) || (drawn.isEmpty() && m_drawnCursor.isEmpty())) {
            if (m_connection->hasError()) {
                result.error = lost;
                return result;
            }
            // The damage just cleared must reach the server now, or it
            // reports nothing more drawn inside the box it already gave.
            xcb_flush(c);
            result.kind = Result::Kind::idle;
            return result;
        }
        compose();
        readback = sendReadback();
    }

    const uchar *data = waitReadback(readback);
    if (!data) {
        result.error = m_connection->hasError()
            ? lost
            : QStringLiteral("The X server refused to hand over the screen's pixels.");
        return result;
    }
    const QRect drawn = !cursorRect.isNull() && cursorRect.intersects(m_options.rect) ? cursorRect : QRect();
    // Rows the cursor covers now or covered last time: compared only once
    // it is drawn in.
    const QRect cursorArea = drawn | m_drawnCursor;
    const QRect cursorRows = cursorArea.isNull() ? QRect() : cursorArea.translated(-m_options.rect.topLeft());
    bool differs = false;
    QImage frame = takePicture(data, readback, cursorRows, &differs, &result.error);
    if (frame.isNull())
        return result;
    m_drawnCursor = drawn;
    if (!drawn.isNull())
        drawCursor(frame, drawn);
    if (!differs && !cursorRows.isEmpty()) {
        const int width = frame.width() * 4;
        const int top = std::max(cursorRows.top(), 0);
        const int bottom = std::min(cursorRows.bottom(), frame.height() - 1);
        for (int y = top; y <= bottom && !differs; ++y)
            differs = std::memcmp(frame.constScanLine(y), m_previous.constScanLine(y), size_t(width)) != 0;
    }
    if (frame.size() != m_options.outputSize) {
        frame = frame.scaled(m_options.outputSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        differs = !samePixels(frame, m_previous);
    }
    m_changed = false;
    m_lastGrab = now;
    if (!differs) {
        result.kind = Result::Kind::idle;
        return result;
    }
    m_previous = frame;
    m_lastChange = now;
    result.kind = Result::Kind::frame;
    result.image = std::move(frame);
    return result;
}

void X11FrameGrabber::compose()
{
    if (!m_target)
        return;
    xcb_connection_t *c = m_connection->get();
    const QRect &rect = m_options.rect;
    const QRect grabbed = rect & m_root;
    if (grabbed != rect) {
        const xcb_rectangle_t all {0, 0, uint16_t(rect.width()), uint16_t(rect.height())};
        xcb_poly_fill_rectangle(c, m_target, m_gc, 1, &all);
    }
    if (!grabbed.isEmpty()) {
        // A plain copy: the server's fastest way to the pixels, as fast as
        // a get-image (Render's conversion to another depth costs three times
        // as much on Xvfb).
        const QRect local = grabbed.translated(-rect.topLeft());
        xcb_copy_area(c, m_connection->root(), m_target, m_gc, int16_t(grabbed.x()), int16_t(grabbed.y()),
            int16_t(local.x()), int16_t(local.y()), uint16_t(local.width()), uint16_t(local.height()));
    }
    if (!m_hole.isEmpty())
        composeHole();
}

void X11FrameGrabber::composeHole()
{
    xcb_connection_t *c = m_connection->get();
    const QPoint offset = -m_options.rect.topLeft();
    const QRegion hole = m_hole.translated(offset);
    const std::vector<xcb_rectangle_t> holeRects = xcbRects(hole);
    xcb_render_set_picture_clip_rectangles(c, m_targetPicture, 0, 0, uint32_t(holeRects.size()), holeRects.data());
    xcb_render_fill_rectangles(
        c, XCB_RENDER_PICT_OP_SRC, m_targetPicture, {0, 0, 0, 0xffff}, uint32_t(holeRects.size()), holeRects.data());

    // A desktop that sets a wallpaper publishes its pixmap on the root.
    if (m_rootPixmapStale && m_rootPixmapAtom != XCB_ATOM_NONE) {
        m_rootPixmapStale = false;
        m_rootPixmap = XCB_NONE;
        XcbReply<xcb_get_property_reply_t> property(xcb_get_property_reply(
            c, xcb_get_property(c, 0, m_connection->root(), m_rootPixmapAtom, XCB_ATOM_PIXMAP, 0, 1), nullptr));
        if (property && xcb_get_property_value_length(property.get()) >= 4)
            std::memcpy(&m_rootPixmap, xcb_get_property_value(property.get()), sizeof m_rootPixmap);
    }
    const QRect reach = m_hole.boundingRect();
    if (m_rootPixmap != XCB_NONE) {
        const uint32_t picture = xcb_generate_id(c);
        xcb_render_create_picture(c, picture, m_rootPixmap, m_rootFormat, 0, nullptr);
        xcb_render_composite(c, XCB_RENDER_PICT_OP_OVER, picture, XCB_NONE, m_targetPicture, int16_t(reach.x()),
            int16_t(reach.y()), 0, 0, int16_t(reach.x() + offset.x()), int16_t(reach.y() + offset.y()),
            uint16_t(reach.width()), uint16_t(reach.height()));
        xcb_render_free_picture(c, picture);
    }

    // Bottom to top, each window's own contents where it shows in the hole.
    for (const X11TopLevel &w : m_stack.windows()) {
        if (!w.viewable || !w.inputOutput || !w.detailsKnown || !w.outer.intersects(reach) || isExcludedTop(w.id))
            continue;
        const auto format = m_visualFormats.find(w.visual);
        if (format == m_visualFormats.end())
            continue;
        const QRegion clip = m_hole & boundingRegion(w);
        if (clip.isEmpty())
            continue;
        const QRect part = clip.boundingRect();
        const std::vector<xcb_rectangle_t> clipRects = xcbRects(clip.translated(offset));
        const xcb_pixmap_t pixmap = xcb_generate_id(c);
        xcb_composite_name_window_pixmap(c, w.id, pixmap);
        const uint32_t picture = xcb_generate_id(c);
        xcb_render_create_picture(c, picture, pixmap, format->second, 0, nullptr);
        xcb_render_set_picture_clip_rectangles(c, m_targetPicture, 0, 0, uint32_t(clipRects.size()), clipRects.data());
        xcb_render_composite(c, XCB_RENDER_PICT_OP_OVER, picture, XCB_NONE, m_targetPicture,
            int16_t(part.x() - w.outer.x()), int16_t(part.y() - w.outer.y()), 0, 0, int16_t(part.x() + offset.x()),
            int16_t(part.y() + offset.y()), uint16_t(part.width()), uint16_t(part.height()));
        xcb_render_free_picture(c, picture);
        xcb_free_pixmap(c, pixmap);
    }
    const uint32_t noClip = XCB_NONE;
    xcb_render_change_picture(c, m_targetPicture, XCB_RENDER_CP_CLIP_MASK, &noClip);
}

X11FrameGrabber::Readback X11FrameGrabber::sendReadback()
{
    xcb_connection_t *c = m_connection->get();
    Readback readback;
    readback.sent = true;
    if (m_target) {
        readback.part = QRect(QPoint(0, 0), m_options.rect.size());
        if (m_targetShared) {
            // The pixels are in the segment once the server answers anything
            // sent after the composition.
            readback.sync = xcb_get_input_focus(c).sequence;
            return readback;
        }
        readback.drawable = m_target;
    } else {
        readback.part = m_options.rect & m_root;
        readback.drawable = m_connection->root();
        if (readback.part.isEmpty())
            return readback;
    }
    const QRect &source = readback.part;
    if (m_shmAddress) {
        readback.shm = xcb_shm_get_image(c, readback.drawable, int16_t(source.x()), int16_t(source.y()),
            uint16_t(source.width()), uint16_t(source.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, m_shmSegment, 0)
                           .sequence;
    } else {
        readback.plain = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, readback.drawable, int16_t(source.x()),
            int16_t(source.y()), uint16_t(source.width()), uint16_t(source.height()), ~0u)
                             .sequence;
    }
    return readback;
}

const uchar *X11FrameGrabber::waitReadback(Readback &readback)
{
    xcb_connection_t *c = m_connection->get();
    if (readback.part.isEmpty())
        return nullptr;
    if (readback.sync) {
        XcbReply<xcb_get_input_focus_reply_t> reply(
            xcb_get_input_focus_reply(c, xcb_get_input_focus_cookie_t {*readback.sync}, nullptr));
        return reply ? m_shmAddress : nullptr;
    }
    if (readback.shm) {
        XcbReply<xcb_shm_get_image_reply_t> reply(
            xcb_shm_get_image_reply(c, xcb_shm_get_image_cookie_t {*readback.shm}, nullptr));
        return reply ? m_shmAddress : nullptr;
    }
    if (readback.plain) {
        readback.holder.reset(xcb_get_image_reply(c, xcb_get_image_cookie_t {*readback.plain}, nullptr));
        const size_t bytes = size_t(readback.part.width()) * size_t(readback.part.height()) * 4;
        if (!readback.holder || size_t(xcb_get_image_data_length(readback.holder.get())) < bytes)
            return nullptr;
        return xcb_get_image_data(readback.holder.get());
    }
    return nullptr;
}

QImage X11FrameGrabber::takePicture(
    const uchar *data, const Readback &readback, const QRect &cursorRows, bool *differs, QString *error)
{
    const QRect &rect = m_options.rect;
    QImage frame = FrameMemory::allocate(rect.size());
    if (frame.isNull()) {
        *error = QStringLiteral("Out of memory for a %1 x %2 frame.").arg(rect.width()).arg(rect.height());
        return {};
    }
    // Composed pictures cover the whole rectangle; a plain grab only what
    // lies on the root window.
    const QRect local = m_target ? readback.part : readback.part.translated(-rect.topLeft());
    if (local != frame.rect())
        frame.fill(Qt::black);
    // Each row is compared with the last frame right after it is copied,
    // while it is still in the cache, and only until a difference shows.
    const bool comparable = local == frame.rect() && m_previous.size() == frame.size()
        && m_previous.format() == frame.format() && m_previous.bytesPerLine() == frame.bytesPerLine()
        && frame.size() == m_options.outputSize;
    *differs = !comparable;
    const size_t rowBytes = size_t(local.width()) * 4;
    for (int y = 0; y < local.height(); ++y) {
        const int row = local.top() + y;
        auto *dst = reinterpret_cast<uint32_t *>(frame.scanLine(row)) + local.left();
        copyOpaque(dst, reinterpret_cast<const uint32_t *>(data + size_t(y) * rowBytes), local.width());
        if (!*differs && (cursorRows.isNull() || row < cursorRows.top() || row > cursorRows.bottom()))
            *differs = std::memcmp(dst, m_previous.constScanLine(row), rowBytes) != 0;
    }
    return frame;
}

void X11FrameGrabber::updateCursor(xcb_xfixes_get_cursor_image_reply_t *reply)
{
    m_cursorStale = false;
    m_cursor.known = reply->width > 0 && reply->height > 0;
    m_cursor.size = QSize(reply->width, reply->height);
    m_cursor.hotspot = QPoint(reply->xhot, reply->yhot);
    const uint32_t *pixels = xcb_xfixes_get_cursor_image_cursor_image(reply);
    m_cursor.pixels.assign(pixels, pixels + size_t(reply->width) * size_t(reply->height));
}

void X11FrameGrabber::drawCursor(QImage &frame, const QRect &cursor)
{
    const QRect image = cursor.translated(-m_options.rect.topLeft());
    const QRect visible = image & frame.rect();
    for (int y = visible.top(); y <= visible.bottom(); ++y) {
        blendOver(reinterpret_cast<uint32_t *>(frame.scanLine(y)) + visible.left(),
            m_cursor.pixels.data() + size_t(y - image.top()) * size_t(m_cursor.size.width())
                + (visible.left() - image.left()),
            visible.width());
    }
}

bool X11FrameGrabber::samePixels(const QImage &a, const QImage &b)
{
    if (a.isNull() || b.isNull() || a.size() != b.size() || a.format() != b.format()
        || a.bytesPerLine() != b.bytesPerLine())
        return false;
    return std::memcmp(a.constBits(), b.constBits(), size_t(a.sizeInBytes())) == 0;
}
