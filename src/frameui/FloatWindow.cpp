#include "frameui/FloatWindow.h"

#include "base/Rounding.h"
#include "frameui/ChromeView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {

constexpr double coordinateLimit = 1'000'000;

bool g_bypassWindowManager = false;

Qt::WindowFlags flagsFor(bool interactive, bool keyable)
{
    Qt::WindowFlags flags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint;
    if (g_bypassWindowManager)
        flags |= Qt::X11BypassWindowManagerHint;
    if (!keyable)
        flags |= Qt::WindowDoesNotAcceptFocus;
    if (!interactive)
        flags |= Qt::WindowTransparentForInput;
    return flags;
}

QRect desktopRect()
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        return screen->virtualGeometry();
    return {};
}

int clampedEdge(double v)
{
    return static_cast<int>(roundHalfAway(std::clamp(v, -coordinateLimit, coordinateLimit)));
}

} // namespace

void FloatWindow::setBypassWindowManager(bool bypass)
{
    g_bypassWindowManager = bypass;
}

FloatWindow::FloatWindow(bool interactive, bool keyable)
    : QWidget(nullptr, flagsFor(interactive, keyable))
    , m_interactive(interactive)
    , m_keyable(keyable)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    // Ordering a window in never activates it; makeKeyAndOrderFront() does that.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents, !interactive);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Quillo"));
}

void FloatWindow::setContentView(ChromeView *view)
{
    m_content = view;
    view->setParent(this);
    view->setGeometry(QRect(m_logical.topLeft() - m_visible.topLeft(), m_logical.size()));
    view->show();
    updateMask();
}

void FloatWindow::setFrame(const Rect &frame)
{
    m_frame = frame;
    m_logical = windowRect(Geometry::toQt(frame));
    m_visible = visiblePart(m_logical, desktopRect());
    if (!m_visible.isEmpty())
        setGeometry(m_visible);
    if (m_content)
        m_content->setGeometry(QRect(m_logical.topLeft() - m_visible.topLeft(), m_logical.size()));
    updateMask();
    update();
}

void FloatWindow::orderFront()
{
    m_orderedIn = true;
    syncVisibility();
    if (isVisible())
        raise();
}

void FloatWindow::orderOut()
{
    m_orderedIn = false;
    syncVisibility();
}

void FloatWindow::makeKeyAndOrderFront()
{
    orderFront();
    if (m_keyable && isVisible())
        activateWindow();
}

void FloatWindow::setAlpha(double alpha)
{
    setWindowOpacity(alpha);
}

int64_t FloatWindow::windowNumber()
{
    return static_cast<int64_t>(winId());
}

void FloatWindow::updateMask()
{
    QRegion region = m_content ? m_content->shape().translated(m_content->pos()) : QRegion(m_logical);
    region &= QRect(QPoint(0, 0), m_visible.size());
    // An empty mask would mean "no mask": the whole window, black without a
    // compositor. Such a window is unmapped instead.
    m_hasShape = !region.isEmpty();
    // A Wayland compositor shows an XWayland window by its pixels' alpha,
    // not its shape, and Qt sends only the pixels inside the shape: what the
    // window showed outside a new shape would stay. There the whole window
    // is sent, transparent where nothing is drawn.
    if (g_bypassWindowManager)
        clearMask();
    else if (m_hasShape)
        setMask(region);
    syncVisibility();
}

QRect FloatWindow::windowRect(const QRectF &frame)
{
    const int left = clampedEdge(frame.left());
    const int top = clampedEdge(frame.top());
    const int right = clampedEdge(frame.left() + frame.width());
    const int bottom = clampedEdge(frame.top() + frame.height());
    return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

QRect FloatWindow::visiblePart(const QRect &rect, const QRect &desktop)
{
    if (desktop.isEmpty())
        return rect;
    return rect.intersected(desktop);
}

void FloatWindow::closeEvent(QCloseEvent *event)
{
    if (event->spontaneous() && onUserClose) {
        event->ignore();
        onUserClose();
        return;
    }
    m_orderedIn = false;
    QWidget::closeEvent(event);
}

void FloatWindow::syncVisibility()
{
    const bool wanted = m_orderedIn && m_hasShape && !m_visible.isEmpty();
    if (wanted && !isVisible())
        show();
    else if (!wanted && isVisible())
        hide();
}
