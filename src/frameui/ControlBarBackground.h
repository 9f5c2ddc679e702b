#pragma once

#include "frameui/ChromeView.h"

// The control bar's rounded dark panel; the bar's controls sit on it.
// GUI thread only.
class ControlBarBackground : public ChromeView {
    Q_OBJECT

public:
    static constexpr double radius = 10;

    explicit ControlBarBackground(QWidget *parent = nullptr);

    QRegion shape() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
