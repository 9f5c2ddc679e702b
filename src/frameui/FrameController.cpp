#include "frameui/FrameController.h"

#include "capture/RegionModel.h"
#include "capture/ScreenUtil.h"
#include "frameui/ControlBar.h"
#include "frameui/FloatWindow.h"
#include "frameui/GrabberView.h"
#include "frameui/OverlayView.h"
#include "frameui/TopBarView.h"

#include <QFontMetricsF>

std::shared_ptr<FrameController> FrameController::create(const Rect &initialRect)
{
    auto controller = std::make_shared<FrameController>(Passkey {}, initialRect);
    controller->buildWindows();
    return controller;
}

FrameController::FrameController(Passkey, const Rect &initialRect)
    : m_region(std::make_shared<RegionModel>(initialRect))
    , m_overlay(std::make_unique<FloatWindow>(false, false))
    , m_overlayView(new OverlayView)
    , m_topBar(std::make_unique<FloatWindow>(true, false))
    , m_topBarView(new TopBarView)
    , m_controlBar(std::make_shared<ControlBar>(m_region))
{
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
        if (auto self = weak.lock()) {
            const Rect &s = self->m_dragStartRect;
            self->m_region->set({s.x + dx, s.y + dy, s.width, s.height});
        }
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
            if (auto self = weak.lock())
                self->m_region->set(resize(a, self->m_dragStartRect, dx, dy));
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
}

void FrameController::layout(const Rect &r)
{
    m_overlay->setFrame(FrameLayout::overlayFrame(r));

    if (!m_topBarView->recording())
        m_topBarView->setLabel(FrameLayout::sizeLabel(r));
    const double width
        = FrameLayout::topBarWidth(QFontMetricsF(TopBarView::textFont()).horizontalAdvance(m_topBarView->label()));
    m_topBar->setFrame(FrameLayout::topBarFrame(r, width, ScreenUtil::screen(r).frame));

    for (const Grabber &g : m_grabbers)
        g.window->setFrame(FrameLayout::grabberFrame(g.anchor, r));

    m_controlBar->reposition(r);
    m_controlBar->syncFields(r);
}

void FrameController::show()
{
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
    m_overlayView->setRecording(on);
    m_topBarView->setRecording(on);
    for (const Grabber &g : m_grabbers) {
        g.window->setAlpha(on ? 0.0 : 1.0);
        g.view->setRecording(on);
    }
    if (!on)
        m_topBarView->setLabel(FrameLayout::sizeLabel(m_region->rect()));
}

void FrameController::showRecordingCount(int64_t frames)
{
    m_topBarView->setLabel(FrameLayout::recordingLabel(frames));
}
