#pragma once

#include "capture/x11/X11Connection.h"
#include "capture/x11/X11WindowStack.h"

#include <QImage>
#include <QRect>
#include <QRegion>
#include <QSize>
#include <QString>

#include <xcb/xfixes.h>

#include <map>
#include <memory>
#include <optional>
#include <vector>

// Makes the frame pictures of a rectangle of the X screen, with as few round
// trips to the server as it can: on a busy server every reply waits its turn
// behind the other clients' requests, and a frame that needs several is late.
//
// - What changed comes from events: Damage on the root (and on the windows
//   that show through left-out ones) says whether anything in the rectangle
//   was drawn; SubstructureNotify keeps the stacking list and which top-level
//   window holds each left-out window; XFixes says when the cursor's image
//   changes. A tick in which nothing changed asks the server for nothing but
//   the pointer's position.
// - A picture is composed by the server with Render into a shared-memory
//   pixmap in the frame's own format (ARGB32 premultiplied, opaque): the
//   screen, then where left-out windows lie the root background and the other
//   top-level windows' own contents (Composite) in stacking order. All of it
//   goes out in one batch together with the pointer query, so a frame costs
//   one round trip; the pixels are then copied once into the frame's memory
//   and the cursor drawn in.
// - The picture is compared with the last one, so that a drawing that changed
//   nothing yields no frame.
//
// Owns its own connection; use it from one thread at a time (the stream's
// grab thread).
class X11FrameGrabber {
public:
    struct Options {
        // In root-window pixels; the part off the root window stays black.
        QRect rect;
        // The picture's size; the grab is scaled to it when it differs.
        QSize outputSize;
        bool showsCursor = true;
        // Windows (clients or top-levels) whose top-level windows are left out.
        std::vector<uint32_t> excludedWindows;
    };

    struct Result {
        enum class Kind {
            frame, // `image` differs from the last frame
            idle, // nothing in the rectangle changed since the last frame
            failed, // `error` says why
        };
        Kind kind = Kind::failed;
        QImage image;
        QString error;
    };

    // nullptr, with `error` set, when the display cannot be recorded.
    static std::unique_ptr<X11FrameGrabber> create(const Options &options, QString *error);
    ~X11FrameGrabber();

    X11FrameGrabber(const X11FrameGrabber &) = delete;
    X11FrameGrabber &operator=(const X11FrameGrabber &) = delete;

    // One tick: the picture if anything changed since the last one (ARGB32
    // premultiplied, opaque, outputSize), else an idle result.
    Result grab();
    bool connectionLost() const { return m_connection->hasError(); }

    // Whether two pictures hold the same pixels. A null image equals nothing.
    static bool samePixels(const QImage &a, const QImage &b);

private:
    // What is known of a top-level window that matters to the picture: one
    // left out, or one that shows where a left-out one lies.
    struct Tracked {
        // Bounding shape relative to the window's origin (inside its border).
        QRegion shape;
        bool shapeKnown = false;
        bool shapeSelected = false;
        uint32_t damage = 0;
    };
    // A window (left out) looked up in the tree until its top-level window.
    struct Lookup {
        xcb_window_t current = 0;
        std::optional<xcb_query_tree_cookie_t> pending;
        // Monotonic seconds of the next try after the window was not found.
        double retryAt = 0;
    };
    struct PendingDetails {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
    };
    struct Cursor {
        std::vector<uint32_t> pixels; // premultiplied ARGB
        QSize size;
        QPoint hotspot;
        bool known = false;
    };
    // How the composed pixels come back: the reply that says they are in the
    // segment, or the image request that brings them.
    struct Readback {
        bool sent = false;
        // In the target picture (or the root without Render).
        QRect part;
        xcb_drawable_t drawable = 0;
        std::optional<unsigned int> sync;
        std::optional<unsigned int> shm;
        std::optional<unsigned int> plain;
        XcbReply<xcb_get_image_reply_t> holder;
    };

    explicit X11FrameGrabber(std::unique_ptr<X11Connection> connection, const Options &options);
    bool setUp(QString *error);
    bool setUpComposition(QString *error);
    void setUpTarget(bool sharedPixmaps);
    bool setUpExclusion(QString *error);
    void readTree();

    void handleEvents();
    void handleStructure(const xcb_generic_event_t *event);
    void handleDamage(const xcb_generic_event_t *event);
    void resolveDetails(bool wait);
    void resolveExcluded(bool wait);
    void setExcludedTop(xcb_window_t id, std::optional<xcb_window_t> top);
    void updateHole();
    void track(const std::vector<xcb_window_t> &windows);
    QRegion boundingRegion(const X11TopLevel &window) const;
    bool isExcludedTop(xcb_window_t id) const;
    // Damage of a window under a left-out one, in root pixels: whether it
    // shows in the picture.
    bool damagesHole(xcb_window_t window, const QRect &area) const;

    // Sends the requests that compose the picture into the target.
    void compose();
    void composeHole();
    Readback sendReadback();
    // The picture's pixels, laid out as readback.part; nullptr on failure.
    const uchar *waitReadback(Readback &readback);
    // Copies the picture into frame memory; null on failure. `differs` tells
    // whether it differs from the last frame outside `cursorRows` (frame
    // rows), or that it could not be compared.
    QImage takePicture(
        const uchar *data, const Readback &readback, const QRect &cursorRows, bool *differs, QString *error);
    void updateCursor(xcb_xfixes_get_cursor_image_reply_t *reply);
    // `cursor` in root pixels.
    void drawCursor(QImage &frame, const QRect &cursor);

    std::unique_ptr<X11Connection> m_connection;
    Options m_options;
    QRect m_root;

    // MIT-SHM segment, big enough for the whole rectangle.
    uint32_t m_shmSegment = 0;
    uchar *m_shmAddress = nullptr;
    size_t m_shmSize = 0;

    // Where the picture is put together: a shared-memory pixmap over the
    // segment when the server has them, else (with windows left out) a pixmap
    // read back afterwards; none when the root is read directly.
    xcb_pixmap_t m_target = 0;
    bool m_targetShared = false;
    xcb_gcontext_t m_gc = 0;
    // Render, for composing where left-out windows lie.
    bool m_render = false;
    uint32_t m_rootFormat = 0;
    std::map<xcb_visualid_t, uint32_t> m_visualFormats;
    uint32_t m_targetPicture = 0;

    // Damage: what was drawn since the last look.
    bool m_damage = false;
    uint8_t m_damageEvent = 0;
    uint32_t m_rootDamage = 0;
    std::vector<uint32_t> m_damagesToClear;
    // Root pixels drawn on the root, and in windows that show where left-out
    // windows lie, since the last tick.
    QRegion m_rootDamageAreas;
    QRegion m_windowDamageAreas;
    // Something in the rectangle changed since the last picture.
    bool m_changed = true;
    // Monotonic seconds of the last composed picture.
    double m_lastGrab = 0;
    // Monotonic seconds of the last picture that differed from the one before.
    double m_lastChange = -1e9;

    // Left-out windows.
    bool m_excluding = false;
    uint8_t m_shapeEvent = 0;
    X11WindowStack m_stack;
    // Events older than the stacking list as first read are in it already.
    uint32_t m_treeSequence = 0;
    bool m_filterOldEvents = false;
    std::map<xcb_window_t, Tracked> m_tracked;
    std::map<xcb_window_t, PendingDetails> m_pendingDetails;
    // Each left-out window's top-level window, once found.
    std::map<uint32_t, xcb_window_t> m_excludedTops;
    std::map<uint32_t, Lookup> m_lookups;
    // Root pixels where left-out windows lie inside the rectangle.
    QRegion m_hole;
    bool m_holeStale = true;
    xcb_atom_t m_rootPixmapAtom = XCB_ATOM_NONE;
    xcb_pixmap_t m_rootPixmap = XCB_NONE;
    bool m_rootPixmapStale = true;

    // Cursor.
    bool m_hasXFixes = false;
    uint8_t m_xfixesEvent = 0;
    Cursor m_cursor;
    bool m_cursorStale = true;
    // Where the cursor was drawn in the last picture, in root pixels.
    QRect m_drawnCursor;

    QImage m_previous;
};
