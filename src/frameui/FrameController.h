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
class QTimer;
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

    // For a capture that cannot leave the frame's windows out of the picture:
    // in the recording look the border is drawn outside the region, the
    // grabbers are taken away, the control bar and the top bar move just
    // outside it (FrameLayout::outsidePlacement) and the region cannot be
    // moved or typed, so no window comes back over what is recorded. Off,
    // the windows stay where they are and are left out of the capture.
    void setChromeOutsideWhileRecording(bool on);
    bool chromeOutsideWhileRecording() const { return m_chromeOutside; }

    // Shows `seconds`, then each second one less, large in the region's
    // middle, and calls `done` when it reaches zero (at once for zero or
    // less). The number is gone by the time `done` runs.
    void startCountdown(int seconds, std::function<void()> done);
    // Ends a countdown without calling its `done`.
    void cancelCountdown();
    bool isCountingDown() const;

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
    bool chromeIsOutside() const { return m_chromeOutside && m_recordingLook; }
    void countdownTick();

    std::shared_ptr<RegionModel> m_region;
    std::unique_ptr<FloatWindow> m_overlay;
    OverlayView *m_overlayView = nullptr;
    std::unique_ptr<FloatWindow> m_topBar;
    TopBarView *m_topBarView = nullptr;
    std::vector<Grabber> m_grabbers;
    std::shared_ptr<ControlBar> m_controlBar;
    Rect m_dragStartRect;
    // Whether the shell has shown the frame (and not closed it): only then
    // does a layout order windows in.
    bool m_shown = false;
    bool m_recordingLook = false;
    bool m_chromeOutside = false;
    std::unique_ptr<QTimer> m_countdownTimer;
    int m_countdownLeft = 0;
    std::function<void()> m_countdownDone;
};
