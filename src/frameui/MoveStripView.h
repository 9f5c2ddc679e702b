#pragma once

#include "base/Geometry.h"
#include "frameui/ChromeView.h"

#include <functional>

// A view that turns a drag into move requests. onMove gets the pointer's
// displacement from where the button went down, in global y-up points, so the
// receiver applies it to what it saved at onMoveStart and nothing accumulates,
// however far the window itself moves meanwhile.
//
// GUI thread only.
class MoveStripView : public ChromeView {
    Q_OBJECT

public:
    explicit MoveStripView(QWidget *parent = nullptr);

    QRegion shape() const override { return QRegion(rect()); }

    std::function<void(double dx, double dy)> onMove;
    std::function<void()> onMoveStart;
    std::function<void()> onMoveEnd;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void endDrag();

    Point m_startMouse;
    bool m_dragging = false;
};
