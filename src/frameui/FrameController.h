#pragma once

#include "base/Geometry.h"
#include "capture/Anchor.h"
#include "frameui/FrameLayout.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class ControlBar;
class FloatWindow;
class GrabberView;
class OverlayView;
class RegionModel;
class TopBarView;

// The recording frame: the border around the region, the top bar that shows
// its size and moves it, eight resize grabbers and the control bar, each a
// FloatWindow. It keeps them in step with the region model and turns drags
// into new regions; it knows nothing of capture and reports REC, Stop and
// close through its callbacks.
//
// Made with create(); the windows exist from then until closeAll() and are
// laid out for the initial region, but nothing is on screen before show().
// Every closure the windows and the model hold refers to the controller
// weakly. GUI thread only.
class FrameController : public std::enable_shared_from_this<FrameController> {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    static constexpr double HIT = FrameLayout::HIT;
    static constexpr double TOPBAR_H = FrameLayout::TOPBAR_H;

    struct Grabber {
        Anchor anchor;
        std::unique_ptr<FloatWindow> window;
        GrabberView *view;
    };

    static std::shared_ptr<FrameController> create(const Rect &initialRect);
    FrameController(Passkey, const Rect &initialRect);
    ~FrameController();

    FrameController(const FrameController &) = delete;
    FrameController &operator=(const FrameController &) = delete;

    const std::shared_ptr<RegionModel> &region() const { return m_region; }
    const std::shared_ptr<ControlBar> &controlBar() const { return m_controlBar; }

    // Orders every window in (the top bar and the control bar in front), lays
    // them out and gives the control bar the keyboard focus.
    void show();
    // Closes every window, the control bar's too. The controller is not
    // shown again after this.
    void closeAll();
    // X11 window ids to leave out of a capture: overlay, top bar, control
    // bar, then the grabbers in FrameLayout::grabberOrder.
    std::vector<int64_t> allWindowNumbers() const;

    // Red border and top bar, grabbers transparent (true); back to the idle
    // look with the size label of the current region (false).
    void setRecordingVisual(bool on);
    // Shows the running frame count in the top bar, without resizing it.
    void showRecordingCount(int64_t frames);

    std::function<void()> onRecord;
    std::function<void()> onStop;
    std::function<void()> onClose;

    // The windows and views, for the shell's self-tests and for tests.
    FloatWindow *overlay() const { return m_overlay.get(); }
    OverlayView *overlayView() const { return m_overlayView; }
    FloatWindow *topBar() const { return m_topBar.get(); }
    TopBarView *topBarView() const { return m_topBarView; }
    const std::vector<Grabber> &grabbers() const { return m_grabbers; }
    const Rect &dragStartRect() const { return m_dragStartRect; }

private:
    void buildWindows();
    void layout(const Rect &r);

    std::shared_ptr<RegionModel> m_region;
    std::unique_ptr<FloatWindow> m_overlay;
    OverlayView *m_overlayView = nullptr;
    std::unique_ptr<FloatWindow> m_topBar;
    TopBarView *m_topBarView = nullptr;
    std::vector<Grabber> m_grabbers;
    std::shared_ptr<ControlBar> m_controlBar;
    Rect m_dragStartRect;
};
