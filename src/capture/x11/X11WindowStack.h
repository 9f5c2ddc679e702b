#pragma once

#include "capture/x11/X11Connection.h"

#include <QRegion>

#include <xcb/xcb.h>

#include <optional>
#include <vector>

// The root window's children in stacking order, kept up to date from the
// SubstructureNotify events of the root instead of asking the server for
// every frame. Plain bookkeeping: it sends no requests, so the caller fetches
// what events do not carry (a new window's depth, visual and class; the size
// of a window reparented onto the root) and hands it over. One thread.
class X11WindowStack {
public:
    // What one event did.
    struct Change {
        // Root pixels whose picture may differ now (the window's old and new
        // place when it was mapped); empty when nothing visible moved.
        QRegion area;
        // A window became a child of the root: its details are missing.
        std::optional<xcb_window_t> added;
        // A window stopped being a child of the root (destroyed or
        // reparented away).
        std::optional<xcb_window_t> removed;
        // `removed` went into this window (a window manager's frame).
        std::optional<xcb_window_t> newParent;
        // The stacking order, a window's place or its mapping changed.
        bool restacked = false;
    };

    // The children as the server listed them, bottom to top.
    void reset(std::vector<X11TopLevel> windows);
    // Applies one event selected with SubstructureNotify on the root; other
    // events change nothing.
    Change apply(const xcb_generic_event_t *event, xcb_window_t root);
    // What get_window_attributes and get_geometry told about a window `added`
    // reported. The size counts only while no ConfigureNotify has given a
    // newer one.
    void setDetails(
        xcb_window_t id, uint8_t depth, xcb_visualid_t visual, bool inputOutput, const QRect &outer, int borderWidth);

    // Bottom to top.
    const std::vector<X11TopLevel> &windows() const { return m_windows; }
    const X11TopLevel *find(xcb_window_t id) const;

private:
    using Iterator = std::vector<X11TopLevel>::iterator;
    Iterator at(xcb_window_t id);
    // Moves the window at `it` directly above `sibling` (to the bottom when
    // there is none, to the top when `sibling` is unknown).
    void placeAbove(Iterator it, xcb_window_t sibling);

    std::vector<X11TopLevel> m_windows;
};
