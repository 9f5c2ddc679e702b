#pragma once

#include "base/Geometry.h"

#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>

class ChromeView;

// The borderless floating window every part of the recording frame lives in:
// frameless, above normal windows, out of the taskbar and window cycling
// (Qt::Tool). A window that is not interactive lets every click through; one
// that is not keyable never takes the keyboard focus, even when clicked.
//
// The window is cut to its content view's shape (see ChromeView), and it is
// clipped to the desktop: a region typed as 100000 points wide must not ask
// the X server for a window it cannot make or a backing store that fills the
// memory. Where nothing of the shape is left on the desktop the window is
// unmapped until it is again.
//
// Closing does not delete the window; its owner does. GUI thread only.
class FloatWindow : public QWidget {
    Q_OBJECT

public:
    FloatWindow(bool interactive, bool keyable);

    // Whether windows made from now on bypass the window manager (X11
    // override-redirect). Under XWayland the Wayland compositor manages X
    // windows and places them itself (sway centres floating ones), while
    // override-redirect windows land exactly where they are put. Such a
    // window gets no keyboard focus from the compositor.
    static void setBypassWindowManager(bool bypass);

    bool isInteractive() const { return m_interactive; }
    bool isKeyable() const { return m_keyable; }

    // The view fills the window's frame; the window takes ownership.
    void setContentView(ChromeView *view);
    ChromeView *contentView() const { return m_content; }

    // Places the window, in y-up global points. Displayed at once.
    void setFrame(const Rect &frame);
    const Rect &frame() const { return m_frame; }

    // Maps the window in front of the frame's other windows, without focus.
    void orderFront();
    // Unmaps it until the next orderFront(); unlike close() it stays usable.
    void orderOut();
    // Maps it in front and gives it the keyboard focus (keyable windows only).
    void makeKeyAndOrderFront();
    // Whether the owner wants the window on screen (between orderFront() and
    // a close), whatever the desktop clipping does to it.
    bool isOrderedIn() const { return m_orderedIn; }
    // Compositing managers honour this; without one it has no effect.
    void setAlpha(double alpha);
    // The X11 window id, for leaving the window out of a capture.
    int64_t windowNumber();

    // Cuts the window to its view's shape again.
    void updateMask();

    // Called instead of closing when the window manager asks the window to
    // close (Alt+F4); unset, such a request closes the window.
    std::function<void()> onUserClose;

    // `frame` in Qt global coordinates with every edge held within
    // +-1,000,000 and rounded to whole pixels.
    static QRect windowRect(const QRectF &frame);
    // The part of `rect` on the desktop; all of it when the desktop is empty
    // (no screen).
    static QRect visiblePart(const QRect &rect, const QRect &desktop);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void syncVisibility();

    bool m_interactive;
    bool m_keyable;
    bool m_orderedIn = false;
    bool m_hasShape = false;
    ChromeView *m_content = nullptr;
    Rect m_frame;
    // The unclipped frame and the part of it the window covers, Qt coordinates.
    QRect m_logical;
    QRect m_visible;
};
