#pragma once

#include <QRegion>
#include <QWidget>

// The content of one FloatWindow. X11 without a compositing manager shows no
// transparency, so the window is cut to shape(): what the view paints exists
// on screen and takes the mouse, everything else does not. A view must paint
// every pixel of its shape, or the hole shows black without a compositor.
//
// GUI thread only.
class ChromeView : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

    // In the view's own coordinates; never empty while the view has a size.
    virtual QRegion shape() const = 0;

protected:
    // Cuts the window again; call after anything shape() depends on changed.
    void shapeChanged();
};
