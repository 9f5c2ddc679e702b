#pragma once

#include "frameui/MoveStripView.h"

#include <QFont>
#include <QString>

// The pill above the region: its size label (or the running frame count while
// recording) and the handle that moves the region.
//
// GUI thread only.
class TopBarView : public MoveStripView {
    Q_OBJECT

public:
    explicit TopBarView(QWidget *parent = nullptr);

    // The label's font, made once; the frame controller measures with it.
    static const QFont &textFont();

    const QString &label() const { return m_label; }
    void setLabel(const QString &label);
    bool recording() const { return m_recording; }
    void setRecording(bool on);

    // A pill: round ends of radius half the height, at any height.
    QRegion shape() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_label;
    bool m_recording = false;
};
