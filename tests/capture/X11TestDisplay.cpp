#include "X11TestDisplay.h"

#include <QDeadlineTimer>
#include <QThread>

#include <xcb/shape.h>

#include <cstring>
#include <unistd.h>

namespace {

bool selectionOwned(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *atom
        = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    if (!atom)
        return false;
    xcb_get_selection_owner_reply_t *owner
        = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
    const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
    free(owner);
    free(atom);
    return owned;
}

uint32_t pixelOf(QRgb colour)
{
    return colour & 0x00ffffffu;
}

} // namespace

X11TestDisplay::X11TestDisplay(QSize size, Desktop desktop)
    : m_size(size)
{
    m_server = std::make_unique<QProcess>();
    m_server->setProcessChannelMode(QProcess::SeparateChannels);
    // -displayfd 1: Xvfb picks a free display number and writes it to stdout.
    m_server->start(QStringLiteral("Xvfb"),
        {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
            QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()), QStringLiteral("+extension"),
            QStringLiteral("Composite"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!m_server->waitForStarted(10000)) {
        m_failure = QStringLiteral("Xvfb did not start");
        return;
    }
    QByteArray out;
    QDeadlineTimer deadline(20000);
    while (!out.contains('\n') && !deadline.hasExpired() && m_server->state() == QProcess::Running) {
        m_server->waitForReadyRead(200);
        out += m_server->readAllStandardOutput();
    }
    if (!out.contains('\n')) {
        m_failure = QStringLiteral("Xvfb reported no display number: ")
            + QString::fromLocal8Bit(m_server->readAllStandardError());
        return;
    }
    m_name = QLatin1Char(':') + QString::fromLatin1(out.trimmed());
    const QByteArray display = m_name.toLatin1();
    xcb_connection_t *c = xcb_connect(display.constData(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        m_failure = QStringLiteral("cannot connect to ") + m_name;
        return;
    }
    m_root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;

    if (desktop != Desktop::bare) {
        const bool cm = desktop == Desktop::compositor;
        m_helper = std::make_unique<QProcess>();
        m_helper->setProcessEnvironment(environment());
        m_helper->start(cm ? QStringLiteral("xcompmgr") : QStringLiteral("openbox"), {});
        // Each announces itself by taking a selection of the screen.
        const char *selection = cm ? "_NET_WM_CM_S0" : "WM_S0";
        QDeadlineTimer ready(10000);
        while (!selectionOwned(c, selection) && !ready.hasExpired())
            QThread::msleep(20);
        if (!selectionOwned(c, selection)) {
            xcb_disconnect(c);
            m_failure = m_helper->program() + QStringLiteral(" did not take over the screen");
            return;
        }
    }
    m_connection = c;
    if (desktop == Desktop::windowManager) {
        // The window manager owns the screen before it handles requests: once
        // it has framed a probe window, it frames the test's windows too.
        const xcb_window_t probe = createWindow({0, 0, 8, 8}, qRgb(0, 0, 0));
        xcb_destroy_window(c, probe);
        m_windows.pop_back();
        sync();
    }
}

X11TestDisplay::~X11TestDisplay()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    for (auto *process : {m_helper.get(), m_server.get()}) {
        if (process && process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
            process->waitForFinished(2000);
        }
    }
}

QProcessEnvironment X11TestDisplay::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_name);
    return env;
}

xcb_window_t X11TestDisplay::createWindow(
    const QRect &rect, QRgb colour, bool overrideRedirect, const QRegion &shape, bool ownPid)
{
    xcb_connection_t *c = m_connection;
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t values[] = {pixelOf(colour), overrideRedirect ? 1u : 0u};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, m_root, int16_t(rect.x()), int16_t(rect.y()),
        uint16_t(rect.width()), uint16_t(rect.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
        XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    if (!shape.isEmpty()) {
        std::vector<xcb_rectangle_t> rects;
        for (const QRect &r : shape)
            rects.push_back({int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height())});
        xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED, window, 0, 0,
            uint32_t(rects.size()), rects.data());
    }
    auto intern = [c](const char *name) {
        xcb_intern_atom_reply_t *reply
            = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return atom;
    };
    if (ownPid) {
        const uint32_t pid = uint32_t(getpid());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, intern("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
    }
    if (!overrideRedirect) {
        // WM_NORMAL_HINTS: user-specified position and size (flags 1 | 2), then
        // the position and size themselves; 18 fields in all.
        uint32_t hints[18] = {};
        hints[0] = 1 | 2;
        hints[1] = uint32_t(rect.x());
        hints[2] = uint32_t(rect.y());
        hints[3] = uint32_t(rect.width());
        hints[4] = uint32_t(rect.height());
        xcb_change_property(
            c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
        // _MOTIF_WM_HINTS: decorations given (flag 2), none.
        const uint32_t motif[5] = {2, 0, 0, 0, 0};
        const xcb_atom_t motifAtom = intern("_MOTIF_WM_HINTS");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, motifAtom, motifAtom, 32, 5, motif);
    }
    xcb_map_window(c, window);
    m_windows.push_back(window);
    sync();
    if (!overrideRedirect && m_helper && m_helper->program() == QLatin1String("openbox"))
        waitUntilViewable(window);
    return window;
}

// A window manager maps a window only after it has framed it; until then the
// screen does not show it. One that is still starting up may drop the request,
// so it is repeated.
void X11TestDisplay::waitUntilViewable(xcb_window_t window)
{
    QDeadlineTimer ready(10000);
    for (int attempt = 1; !ready.hasExpired(); ++attempt) {
        xcb_get_window_attributes_reply_t *attributes
            = xcb_get_window_attributes_reply(m_connection, xcb_get_window_attributes(m_connection, window), nullptr);
        const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        free(attributes);
        if (viewable)
            return;
        QThread::msleep(10);
        if (attempt % 25 == 0) {
            xcb_map_window(m_connection, window);
            sync();
        }
    }
}

bool X11TestDisplay::waitUntilShown(QPoint at, QRgb colour)
{
    QDeadlineTimer ready(5000);
    while (!ready.hasExpired()) {
        xcb_get_image_reply_t *image = xcb_get_image_reply(m_connection,
            xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, int16_t(at.x()), int16_t(at.y()), 1, 1, ~0u),
            nullptr);
        uint32_t pixel = 0;
        if (image && xcb_get_image_data_length(image) >= 4)
            memcpy(&pixel, xcb_get_image_data(image), 4);
        free(image);
        if ((pixel & 0xffffffu) == (pixelOf(colour) & 0xffffffu))
            return true;
        QThread::msleep(10);
    }
    return false;
}

void X11TestDisplay::setColour(xcb_window_t window, QRgb colour)
{
    const uint32_t pixel = pixelOf(colour);
    xcb_change_window_attributes(m_connection, window, XCB_CW_BACK_PIXEL, &pixel);
    xcb_clear_area(m_connection, 0, window, 0, 0, 0, 0);
    sync();
}

void X11TestDisplay::hideWindow(xcb_window_t window)
{
    xcb_unmap_window(m_connection, window);
    sync();
}

void X11TestDisplay::showWindow(xcb_window_t window)
{
    xcb_map_window(m_connection, window);
    sync();
}

void X11TestDisplay::raise(xcb_window_t window)
{
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(m_connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    sync();
}

void X11TestDisplay::sync()
{
    free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

std::unique_ptr<QProcess> X11TestDisplay::launch(const QString &program, const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment());
    process->start(program, arguments);
    if (!process->waitForStarted(10000))
        return nullptr;
    return process;
}

bool X11TestDisplay::movePointer(int x, int y)
{
    QProcess xdotool;
    xdotool.setProcessEnvironment(environment());
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(x), QString::number(y)});
    return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
}

void X11TestDisplay::killServer()
{
    if (m_connection) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
    }
    m_server->kill();
    m_server->waitForFinished(5000);
}
