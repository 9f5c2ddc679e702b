#pragma once

#include "base/Geometry.h"

#include <functional>
#include <vector>

// The recording region (y-up global points), the one source of truth for the
// recording frame and its control bar. Every change is normalised (whole
// points, halves away from zero, at least minSize) and reaches the listeners
// only when the stored rectangle really changed.
//
// GUI thread only. Listeners run synchronously inside the changing call, in
// registration order; a listener may change the model again (the equality
// check ends such loops).
class RegionModel {
public:
    static constexpr Size minSize {24, 24};

    // Stores `rect` as given: no rounding, no minimum.
    explicit RegionModel(const Rect &rect);

    const Rect &rect() const { return m_rect; }

    // Appends the listener (it is never removed) and calls it at once with the
    // current rectangle.
    void addListener(std::function<void(const Rect &)> listener);

    void set(const Rect &rect, bool notify = true);
    // Keeps the left and bottom edges.
    void setWidth(double width);
    // Keeps the left and top edges.
    void setHeight(double height);
    void setLeft(double x);
    // Puts the top edge `t` points below the top of a screen of height
    // `screenHeight` whose bottom is at y 0.
    void setTopFromScreenTop(double t, double screenHeight);
    void translate(double dx, double dy);

    // The rectangle that set() would store for `rect` when the current one is
    // `current`: origin rounded, size rounded and at least minSize; a size that
    // is not finite becomes the minimum, an origin that is not finite keeps
    // the current one.
    static Rect normalized(const Rect &rect, const Rect &current);

private:
    void apply(const Rect &rect, bool notify);

    Rect m_rect;
    std::vector<std::function<void(const Rect &)>> m_listeners;
};
