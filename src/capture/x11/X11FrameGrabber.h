#pragma once

#include "capture/x11/X11Connection.h"

#include <QImage>
#include <QRect>
#include <QRegion>
#include <QSize>
#include <QString>

#include <map>
#include <memory>
#include <vector>

// Makes one frame picture of a rectangle of the X screen: an MIT-SHM grab of
// the root window, the excluded windows taken out by repainting where they lie
// from the other top-level windows' own contents (Composite, in stacking
// order, over the root background), the XFixes cursor drawn in, and a scale
// to the output size. Owns its own connection; use it from one thread at a
// time (the stream's grab thread).
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

    // nullptr, with `error` set, when the display cannot be recorded.
    static std::unique_ptr<X11FrameGrabber> create(const Options &options, QString *error);
    ~X11FrameGrabber();

    X11FrameGrabber(const X11FrameGrabber &) = delete;
    X11FrameGrabber &operator=(const X11FrameGrabber &) = delete;

    // The next picture (ARGB32 premultiplied, opaque, outputSize), or a null
    // image with `error` set.
    QImage grab(QString *error);
    bool connectionLost() const { return m_connection->hasError(); }

    // Whether two pictures hold the same pixels: how a frame with nothing new
    // is told apart. A null image equals nothing.
    static bool samePixels(const QImage &a, const QImage &b);

private:
    explicit X11FrameGrabber(std::unique_ptr<X11Connection> connection, const Options &options);
    bool setUp(QString *error);
    // Reads `part` of `drawable` (drawable coordinates, 32 bits per pixel):
    // into the shared segment when there is one, else into `holder`.
    const uchar *fetch(xcb_drawable_t drawable, const QRect &part, XcbReply<xcb_get_image_reply_t> &holder);
    // Looks up the top-level windows of excluded windows not found yet (a
    // window may be created after the recording starts).
    void findExcluded();
    void removeExcluded(QImage &frame, const QRect &grabbed);
    void paintBackground(QImage &frame, const QRegion &region);
    void drawCursor(QImage &frame);

    std::unique_ptr<X11Connection> m_connection;
    Options m_options;
    QRect m_root;
    bool m_excluding = false;

    // MIT-SHM segment, big enough for the whole rectangle.
    uint32_t m_shmSegment = 0;
    uchar *m_shmAddress = nullptr;
    size_t m_shmSize = 0;

    std::map<uint32_t, xcb_window_t> m_excludedTopLevels;
    bool m_hasXFixes = false;
};
