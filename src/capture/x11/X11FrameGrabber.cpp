#include "capture/x11/X11FrameGrabber.h"

#include <xcb/composite.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

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

// Copies the parts of `clip` (frame coordinates) from `data`, which holds
// `part` (frame coordinates) at `bpl` bytes a row.
void paste(QImage &frame, const uchar *data, int bpl, const QRect &part, const QRegion &clip, bool alpha)
{
    for (const QRect &r : clip &part) {
        for (int y = r.top(); y <= r.bottom(); ++y) {
            auto *dst = reinterpret_cast<uint32_t *>(frame.scanLine(y)) + r.left();
            const auto *src = reinterpret_cast<const uint32_t *>(data + size_t(y - part.top()) * size_t(bpl))
                + (r.left() - part.left());
            if (alpha)
                blendOver(dst, src, r.width());
            else
                copyOpaque(dst, src, r.width());
        }
    }
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
    if (m_shmSegment)
        xcb_shm_detach(m_connection->get(), m_shmSegment);
    xcb_flush(m_connection->get());
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
    m_root = m_connection->rootRect();
    if (!m_options.rect.intersects(m_root)) {
        *error = QStringLiteral("The region lies outside the X screen.");
        return false;
    }

    // Shared memory makes a grab about three times faster; a display on
    // another machine has none, and plain requests still work there.
    const xcb_query_extension_reply_t *shmExt = xcb_get_extension_data(c, &xcb_shm_id);
    if (shmExt && shmExt->present) {
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
    if (m_excluding) {
        const xcb_query_extension_reply_t *composite = xcb_get_extension_data(c, &xcb_composite_id);
        if (!composite || !composite->present) {
            *error = QStringLiteral("The X server lacks the Composite extension, needed to keep Quillo's own windows "
                                    "out of the recording.");
            return false;
        }
        XcbReply<xcb_composite_query_version_reply_t> version(
            xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 4), nullptr));
        // Automatic redirection gives every top-level window its own pixmap
        // while the server keeps drawing the screen as before. It ends with
        // this connection.
        XcbReply<xcb_generic_error_t> failed(xcb_request_check(
            c, xcb_composite_redirect_subwindows_checked(c, m_connection->root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
        if (failed || !version) {
            *error = QStringLiteral("The X server refused to redirect windows for recording.");
            return false;
        }
        for (uint32_t id : m_options.excludedWindows) {
            if (std::optional<xcb_window_t> top = m_connection->topLevelOf(id))
                m_excludedTopLevels[id] = *top;
        }
    }

    if (m_options.showsCursor) {
        const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
        if (xfixes && xfixes->present) {
            XcbReply<xcb_xfixes_query_version_reply_t> version(
                xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
            m_hasXFixes = version && version->major_version >= 1;
        }
    }
    return true;
}

const uchar *X11FrameGrabber::fetch(xcb_drawable_t drawable, const QRect &part, XcbReply<xcb_get_image_reply_t> &holder)
{
    xcb_connection_t *c = m_connection->get();
    const size_t bytes = size_t(part.width()) * size_t(part.height()) * 4;
    if (m_shmAddress && bytes <= m_shmSize) {
        XcbReply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(c,
            xcb_shm_get_image(c, drawable, int16_t(part.x()), int16_t(part.y()), uint16_t(part.width()),
                uint16_t(part.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, m_shmSegment, 0),
            nullptr));
        return reply ? m_shmAddress : nullptr;
    }
    holder.reset(xcb_get_image_reply(c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, int16_t(part.x()), int16_t(part.y()),
            uint16_t(part.width()), uint16_t(part.height()), ~0u),
        nullptr));
    if (!holder || size_t(xcb_get_image_data_length(holder.get())) < bytes)
        return nullptr;
    return xcb_get_image_data(holder.get());
}

QImage X11FrameGrabber::grab(QString *error)
{
    m_connection->drainEvents();
    if (m_connection->hasError()) {
        *error = QStringLiteral("The connection to the X server was lost.");
        return {};
    }
    if (m_excluding)
        findExcluded();
    const QRect &wanted = m_options.rect;
    QRect grabbed = wanted & m_root;
    XcbReply<xcb_get_image_reply_t> holder;
    const uchar *data = grabbed.isEmpty() ? nullptr : fetch(m_connection->root(), grabbed, holder);
    if (!data) {
        // The screen may have changed size: look again, once.
        m_root = m_connection->rootRect();
        grabbed = wanted & m_root;
        if (grabbed.isEmpty()) {
            *error = QStringLiteral("The region no longer lies on the X screen.");
            return {};
        }
        data = fetch(m_connection->root(), grabbed, holder);
        if (!data) {
            *error = QStringLiteral("The X server refused to hand over the screen's pixels.");
            return {};
        }
    }

    // The picture in root coordinates shifted so that `wanted` starts at 0, 0.
    QImage frame(wanted.size(), QImage::Format_ARGB32_Premultiplied);
    if (frame.isNull()) {
        *error = QStringLiteral("Out of memory for a %1 x %2 frame.").arg(wanted.width()).arg(wanted.height());
        return {};
    }
    if (grabbed != wanted)
        frame.fill(Qt::black);
    const QRect local = grabbed.translated(-wanted.topLeft());
    for (int y = 0; y < local.height(); ++y) {
        copyOpaque(reinterpret_cast<uint32_t *>(frame.scanLine(local.top() + y)) + local.left(),
            reinterpret_cast<const uint32_t *>(data + size_t(y) * size_t(grabbed.width()) * 4), grabbed.width());
    }

    if (m_excluding)
        removeExcluded(frame, grabbed);
    if (m_options.showsCursor && m_hasXFixes)
        drawCursor(frame);
    if (frame.size() != m_options.outputSize)
        frame = frame.scaled(m_options.outputSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return frame;
}

bool X11FrameGrabber::samePixels(const QImage &a, const QImage &b)
{
    if (a.isNull() || b.isNull() || a.size() != b.size() || a.format() != b.format()
        || a.bytesPerLine() != b.bytesPerLine())
        return false;
    return std::memcmp(a.constBits(), b.constBits(), size_t(a.sizeInBytes())) == 0;
}

void X11FrameGrabber::findExcluded()
{
    // Before the grab, not between it and the composition: every round trip
    // there widens the moment in which the two can disagree.
    for (uint32_t id : m_options.excludedWindows) {
        if (!m_excludedTopLevels.count(id)) {
            if (std::optional<xcb_window_t> top = m_connection->topLevelOf(id))
                m_excludedTopLevels[id] = *top;
        }
    }
}

void X11FrameGrabber::removeExcluded(QImage &frame, const QRect &grabbed)
{
    const std::vector<X11TopLevel> windows = m_connection->topLevels();
    auto isViewableTop = [&](xcb_window_t id) {
        return std::any_of(
            windows.begin(), windows.end(), [id](const X11TopLevel &w) { return w.id == id && w.viewable; });
    };
    // A window manager may reparent a window at any time: look its top-level
    // window up again when the one we knew is gone.
    std::vector<xcb_window_t> excluded;
    for (auto &[id, top] : m_excludedTopLevels) {
        if (!isViewableTop(top)) {
            if (std::optional<xcb_window_t> again = m_connection->topLevelOf(id))
                top = *again;
        }
        excluded.push_back(top);
    }
    auto isExcluded
        = [&](const X11TopLevel &w) { return std::find(excluded.begin(), excluded.end(), w.id) != excluded.end(); };

    const QPoint offset = -m_options.rect.topLeft();
    QRegion hole;
    for (const X11TopLevel &w : windows) {
        if (w.viewable && w.outer.intersects(grabbed) && isExcluded(w))
            hole += m_connection->boundingRegion(w) & grabbed;
    }
    if (hole.isEmpty())
        return;

    paintBackground(frame, hole.translated(offset));
    xcb_connection_t *c = m_connection->get();
    for (const X11TopLevel &w : windows) {
        if (!w.viewable || !w.inputOutput || !w.outer.intersects(hole.boundingRect()) || isExcluded(w))
            continue;
        if (w.depth != 24 && w.depth != 32)
            continue; // other pixel sizes: not worth a converter for the rare window that has one
        const QRegion clip = hole & m_connection->boundingRegion(w);
        if (clip.isEmpty())
            continue;
        const QRect part = clip.boundingRect();
        const xcb_pixmap_t pixmap = xcb_generate_id(c);
        xcb_composite_name_window_pixmap(c, w.id, pixmap);
        XcbReply<xcb_get_image_reply_t> holder;
        if (const uchar *data = fetch(pixmap, part.translated(-w.outer.topLeft()), holder))
            paste(frame, data, part.width() * 4, part.translated(offset), clip.translated(offset), w.depth == 32);
        xcb_free_pixmap(c, pixmap);
    }
}

void X11FrameGrabber::paintBackground(QImage &frame, const QRegion &region)
{
    for (const QRect &r : region)
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::fill_n(reinterpret_cast<uint32_t *>(frame.scanLine(y)) + r.left(), r.width(), 0xff000000u);

    // A desktop that sets a wallpaper publishes its pixmap here.
    xcb_connection_t *c = m_connection->get();
    const xcb_atom_t rootPixmap = m_connection->atom("_XROOTPMAP_ID");
    if (rootPixmap == XCB_ATOM_NONE)
        return;
    XcbReply<xcb_get_property_reply_t> property(xcb_get_property_reply(
        c, xcb_get_property(c, 0, m_connection->root(), rootPixmap, XCB_ATOM_PIXMAP, 0, 1), nullptr));
    if (!property || xcb_get_property_value_length(property.get()) < 4)
        return;
    xcb_pixmap_t pixmap = 0;
    std::memcpy(&pixmap, xcb_get_property_value(property.get()), sizeof pixmap);
    XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, pixmap), nullptr));
    if (!geometry || geometry->depth != m_connection->rootDepth())
        return;
    const QPoint offset = -m_options.rect.topLeft();
    const QRect part = region.boundingRect().translated(-offset) & QRect(0, 0, geometry->width, geometry->height);
    if (part.isEmpty())
        return;
    XcbReply<xcb_get_image_reply_t> holder;
    if (const uchar *data = fetch(pixmap, part, holder))
        paste(frame, data, part.width() * 4, part.translated(offset), region, false);
}

void X11FrameGrabber::drawCursor(QImage &frame)
{
    xcb_connection_t *c = m_connection->get();
    XcbReply<xcb_xfixes_get_cursor_image_reply_t> cursor(
        xcb_xfixes_get_cursor_image_reply(c, xcb_xfixes_get_cursor_image(c), nullptr));
    if (!cursor || cursor->width == 0 || cursor->height == 0)
        return;
    const uint32_t *pixels = xcb_xfixes_get_cursor_image_cursor_image(cursor.get());
    const QRect image(cursor->x - cursor->xhot - m_options.rect.x(), cursor->y - cursor->yhot - m_options.rect.y(),
        cursor->width, cursor->height);
    const QRect visible = image & frame.rect();
    for (int y = visible.top(); y <= visible.bottom(); ++y) {
        blendOver(reinterpret_cast<uint32_t *>(frame.scanLine(y)) + visible.left(),
            pixels + size_t(y - image.top()) * cursor->width + (visible.left() - image.left()), visible.width());
    }
}
