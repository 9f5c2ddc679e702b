#pragma once

#include <QByteArray>
#include <QColor>
#include <QProcess>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QStringList>

#include <xcb/xcb.h>

#include <memory>
#include <vector>

// A private X server for one test process, so that the integration tests
// share the screen with no other test, and may run a compositing manager of
// their own. Windows are plain xcb windows with a solid background: the
// server paints them, so what a frame should show is known exactly.
class X11TestDisplay {
public:
    enum class Desktop {
        bare, // nothing but the server
        compositor, // xcompmgr draws the screen
        windowManager, // openbox reparents the windows into frames
    };

    // Starts Xvfb and what `desktop` asks for; isRunning() tells whether it came up.
    X11TestDisplay(QSize size, Desktop desktop);
    ~X11TestDisplay();

    bool isRunning() const { return m_connection != nullptr; }
    QString failure() const { return m_failure; }
    // ":N", for $DISPLAY.
    QString name() const { return m_name; }
    QSize size() const { return m_size; }

    // A mapped top-level window filled with `colour`. `shape` (window
    // coordinates) cuts it to a region; `ownPid` marks it with this process's
    // _NET_WM_PID, as Qt marks the program's windows. A managed window asks,
    // as Qt's frameless windows do, for no decoration and the given place.
    xcb_window_t createWindow(
        const QRect &rect, QRgb colour, bool overrideRedirect = false, const QRegion &shape = {}, bool ownPid = false);
    void setColour(xcb_window_t window, QRgb colour);
    void waitUntilViewable(xcb_window_t window);
    // Waits until the screen (as a compositor paints it) shows `colour` at
    // `at`, in root pixels; false after five seconds.
    bool waitUntilShown(QPoint at, QRgb colour);
    void raise(xcb_window_t window);
    void hideWindow(xcb_window_t window);
    void showWindow(xcb_window_t window);
    // Waits until the server has handled every request so far.
    void sync();
    // Runs a program against this display; returns it started.
    std::unique_ptr<QProcess> launch(const QString &program, const QStringList &arguments);
    // Moves the pointer with xdotool.
    bool movePointer(int x, int y);
    // Ends the X server, as a crash or a logout would.
    void killServer();

private:
    QProcessEnvironment environment() const;

    QSize m_size;
    QString m_name;
    QString m_failure;
    std::unique_ptr<QProcess> m_server;
    std::unique_ptr<QProcess> m_helper; // xcompmgr or openbox
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    std::vector<xcb_window_t> m_windows;
};
