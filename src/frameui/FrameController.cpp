#include "frameui/FrameController.h"

#include "capture/RegionModel.h"
#include "capture/ScreenUtil.h"
#include "frameui/ControlBar.h"
#include "frameui/FloatWindow.h"
#include "frameui/GrabberView.h"
#include "frameui/OverlayView.h"
#include "frameui/ScreenArea.h"
#include "frameui/TopBarView.h"

#include <QFontMetricsF>
#include <QTimer>

namespace {

// A window the layout wants on screen or off it, as long as the frame is shown.
void setOrderedIn(FloatWindow &window, bool in)
{
    if (in && !window.isOrderedIn())
        window.orderFront();
    else if (!in && window.isOrderedIn())
        window.orderOut();
}

} // namespace

std::shared_ptr<FrameController> FrameController::create(const Rect &initialRect)
{
    auto controller = std::make_shared<FrameController>(Passkey {}, initialRect);
    controller->buildWindows();
    return controller;
}

FrameController::FrameController(Passkey, const Rect &initialRect)
    : m_region(
        std::make_shared<RegionModel>(FrameLayout::fittedOnScreen(initialRect, ScreenArea::screenOf(initialRect))))
    , m_overlay(std::make_unique<FloatWindow>(false, false))
    , m_overlayView(new OverlayView)
    , m_topBar(std::make_unique<FloatWindow>(true, false))
    , m_topBarView(new TopBarView)
    , m_controlBar(std::make_shared<ControlBar>(m_region))
    , m_countdownTimer(std::make_unique<QTimer>())
{
    // The seconds are what the user waits for: no coarse timer slack.
    m_countdownTimer->setTimerType(Qt::PreciseTimer);
    m_countdownTimer->setInterval(1000);
    m_overlay->setContentView(m_overlayView);
    m_topBar->setContentView(m_topBarView);
}

FrameController::~FrameController() = default;

void FrameController::buildWindows()
{
    const std::weak_ptr<FrameController> weak = weak_from_this();

    m_topBarView->onMoveStart = [weak] {
        if (auto self = weak.lock())
            self->m_dragStartRect = self->m_region->rect();
    };
    m_topBarView->onMove = [weak](double dx, double dy) {
        auto self = weak.lock();
        if (!self || self->chromeIsOutside())
            return;
        const Rect &s = self->m_dragStartRect;
        const Rect wanted {s.x + dx, s.y + dy, s.width, s.height};
        // The screen under the moved region's centre, so a drag carries the
        // frame over to the next screen; past every screen, the one it
        // started on.
        const Rect screen = ScreenUtil::screen(wanted, ScreenUtil::screens(), ScreenUtil::screen(s)).frame;
        self->m_region->set(FrameLayout::fittedOnScreen(wanted, screen));
    };

    for (const Anchor anchor : FrameLayout::grabberOrder) {
        auto window = std::make_unique<FloatWindow>(true, false);
        auto *view = new GrabberView(anchor);
        view->setDrawsHandle(isCorner(anchor));
        view->onDragStart = [weak] {
            if (auto self = weak.lock())
                self->m_dragStartRect = self->m_region->rect();
        };
        view->onDrag = [weak](Anchor a, double dx, double dy) {
            if (auto self = weak.lock()) {
                const Rect &s = self->m_dragStartRect;
                self->m_region->set(FrameLayout::cutToScreen(resize(a, s, dx, dy), ScreenArea::screenOf(s)));
            }
        };
        window->setContentView(view);
        m_grabbers.push_back({anchor, std::move(window), view});
    }

    m_region->addListener([weak](const Rect &r) {
        if (auto self = weak.lock())
            self->layout(r);
    });

    m_controlBar->onRecord = [weak] {
        if (auto self = weak.lock(); self && self->onRecord)
            self->onRecord();
    };
    m_controlBar->onStop = [weak] {
        if (auto self = weak.lock(); self && self->onStop)
            self->onStop();
    };
    m_controlBar->onClose = [weak] {
        if (auto self = weak.lock(); self && self->onClose)
            self->onClose();
    };

    QObject::connect(m_countdownTimer.get(), &QTimer::timeout, [weak] {
        if (auto self = weak.lock())
            self->countdownTick();
    });
}

void FrameController::layout(const Rect &r)
{
    const bool outside = chromeIsOutside();
    const Rect visible = ScreenArea::visibleOf(r);
    m_overlayView->setOutside(outside);
    m_overlay->setFrame(FrameLayout::overlayFrame(r, m_overlayView->windowMargin()));

    if (!m_topBarView->recording())
        m_topBarView->setLabel(FrameLayout::sizeLabel(r));
    const double width
        = FrameLayout::topBarWidth(QFontMetricsF(TopBarView::textFont()).horizontalAdvance(m_topBarView->label()));

    if (outside) {
        const FrameLayout::OutsidePlacement place
            = FrameLayout::outsidePlacement(r, {m_controlBar->barWidth(), m_controlBar->barHeight()}, width, visible);
        if (place.topBar)
            m_topBar->setFrame(*place.topBar);
        m_controlBar->place(place.controlBar);
        if (m_shown) {
            for (const Grabber &g : m_grabbers)
                setOrderedIn(*g.window, false);
            setOrderedIn(*m_topBar, place.topBar.has_value());
        }
    } else {
        m_topBar->setFrame(FrameLayout::topBarFrame(r, width, visible));
        for (const Grabber &g : m_grabbers)
            g.window->setFrame(FrameLayout::grabberFrame(g.anchor, r));
        m_controlBar->reposition(r);
        if (m_shown && !(m_topBar->isOrderedIn() && m_grabbers.front().window->isOrderedIn())) {
            // Back from outside: in the order show() gives them.
            for (const Grabber &g : m_grabbers)
                setOrderedIn(*g.window, true);
            m_topBar->orderFront();
            m_controlBar->show();
        }
    }
    m_controlBar->syncFields(r);
}

void FrameController::show()
{
    m_shown = true;
    m_overlay->orderFront();
    for (const Grabber &g : m_grabbers)
        g.window->orderFront();
    m_topBar->orderFront();
    m_controlBar->show();
    layout(m_region->rect());
    m_controlBar->makeKeyAndFront();
}

void FrameController::closeAll()
{
    m_shown = false;
    cancelCountdown();
    m_overlay->close();
    m_topBar->close();
    m_controlBar->close();
    for (const Grabber &g : m_grabbers)
        g.window->close();
}

std::vector<int64_t> FrameController::allWindowNumbers() const
{
    std::vector<int64_t> numbers {m_overlay->windowNumber(), m_topBar->windowNumber(), m_controlBar->windowNumber()};
    for (const Grabber &g : m_grabbers)
        numbers.push_back(g.window->windowNumber());
    return numbers;
}

void FrameController::setRecordingVisual(bool on)
{
    const bool wasOutside = chromeIsOutside();
    m_recordingLook = on;
    m_controlBar->setGeometryEditable(!chromeIsOutside());
    m_overlayView->setRecording(on);
    m_topBarView->setRecording(on);
    for (const Grabber &g : m_grabbers) {
        g.window->setAlpha(on ? 0.0 : 1.0);
        g.view->setRecording(on);
    }
    if (!on)
        m_topBarView->setLabel(FrameLayout::sizeLabel(m_region->rect()));
    if (chromeIsOutside() != wasOutside)
        layout(m_region->rect());
}

void FrameController::setChromeOutsideWhileRecording(bool on)
{
    const bool wasOutside = chromeIsOutside();
    m_chromeOutside = on;
    m_controlBar->setGeometryEditable(!chromeIsOutside());
    if (chromeIsOutside() != wasOutside)
        layout(m_region->rect());
}

void FrameController::startCountdown(int seconds, std::function<void()> done)
{
    cancelCountdown();
    if (seconds <= 0) {
        if (done)
            done();
        return;
    }
    m_countdownLeft = seconds;
    m_countdownDone = std::move(done);
    m_overlayView->setCountdown(seconds);
    m_countdownTimer->start();
}

void FrameController::cancelCountdown()
{
    m_countdownTimer->stop();
    m_countdownLeft = 0;
    m_countdownDone = nullptr;
    m_overlayView->setCountdown(0);
}

bool FrameController::isCountingDown() const
{
    return m_countdownTimer->isActive();
}

void FrameController::countdownTick()
{
    if (--m_countdownLeft > 0) {
        m_overlayView->setCountdown(m_countdownLeft);
        return;
    }
    // `done` may close this frame or start another countdown: finish first.
    std::function<void()> done = std::exchange(m_countdownDone, nullptr);
    cancelCountdown();
    if (done)
        done();
}

void FrameController::showRecordingCount(int64_t frames)
{
    m_topBarView->setLabel(FrameLayout::recordingLabel(frames));
}
