#pragma once

#include <QRect>
#include <QRegion>
#include <QString>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

// xcb replies are malloc'ed; this owns one.
template <typename T> struct XcbFree {
    void operator()(T *p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, XcbFree<T>>;

// A RandR monitor: what the capture service calls a display. Its id is the
// monitor's name atom, stable for the life of the X server.
struct X11Monitor {
    uint32_t id = 0;
    QString name;
    QRect pixels; // in root-window pixels
    bool primary = false;
};

// A child of the root window as the stacking list reports it.
struct X11TopLevel {
    xcb_window_t id = 0;
    QRect outer; // root pixels, border included
    int borderWidth = 0;
    uint8_t depth = 0;
    xcb_visualid_t visual = 0;
    bool viewable = false;
    bool inputOutput = false;
    // False until depth, visual and class are known: an event that brings a
    // new child of the root carries only its place.
    bool detailsKnown = true;
    // False while only the position is known (a window reparented onto the root).
    bool sizeKnown = true;
};

struct X11TopLevelList {
    std::vector<X11TopLevel> windows; // bottom to top
    // The sequence number of the request that listed them: events with an
    // older one are already reflected.
    uint32_t sequence = 0;
};

// One connection to the X server named by $DISPLAY. Not thread-safe as a
// whole: each user (a query, one stream's grab thread) opens its own.
class X11Connection {
public:
    // nullptr, with `error` set, when the display cannot be opened.
    static std::unique_ptr<X11Connection> open(QString *error);
    ~X11Connection();

    X11Connection(const X11Connection &) = delete;
    X11Connection &operator=(const X11Connection &) = delete;

    xcb_connection_t *get() const { return m_connection; }
    xcb_window_t root() const { return m_root; }
    uint8_t rootDepth() const { return m_rootDepth; }
    xcb_visualid_t rootVisual() const { return m_screen->root_visual; }
    uint32_t blackPixel() const { return m_screen->black_pixel; }
    QRect rootRect() const;
    bool hasError() const;
    // Frees queued events and the errors of unchecked requests, which would
    // otherwise pile up on a connection that never reads its events.
    void drainEvents();

    xcb_atom_t atom(const char *name);
    QString atomName(xcb_atom_t atom);

    // Active RandR monitors (RandR 1.5); without them, the whole root window
    // as one display whose id is the root window's id.
    std::vector<X11Monitor> monitors();
    // The primary monitor, else the first; the root window without monitors.
    X11Monitor primaryMonitor();

    // Children of the root, bottom to top, with geometry and attributes.
    X11TopLevelList topLevels();
    // The child of the root that holds `window` (itself when it is one).
    std::optional<xcb_window_t> topLevelOf(xcb_window_t window);
    // The window a window manager knows as the client inside `topLevel` (the
    // one carrying WM_STATE, at most one level down), else topLevel itself.
    xcb_window_t clientOf(xcb_window_t topLevel);
    // _NET_WM_PID of the window, if set.
    std::optional<uint32_t> windowPid(xcb_window_t window);
    // The bounding shape in root pixels (the outer rectangle when unshaped).
    QRegion boundingRegion(const X11TopLevel &window);
    bool hasShape() const { return m_hasShape; }

private:
    X11Connection(xcb_connection_t *connection, const xcb_screen_t *screen);

    xcb_connection_t *m_connection = nullptr;
    const xcb_screen_t *m_screen = nullptr; // in the connection's setup data
    xcb_window_t m_root = 0;
    uint8_t m_rootDepth = 0;
    uint16_t m_rootWidth = 0;
    uint16_t m_rootHeight = 0;
    bool m_hasShape = false;
    std::optional<bool> m_hasMonitors;
};
