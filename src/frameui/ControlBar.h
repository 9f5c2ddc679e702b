#pragma once

#include "base/Geometry.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

class FloatWindow;
class QActionGroup;
class QLineEdit;
class QMenu;
class QPushButton;
class QWidget;
class RegionModel;

// The panel inside the bottom of the region: the region's width, height and
// position as editable numbers, the frame rate of the next recording, the
// countdown before it, and REC, Stop and close. A field commits on Return and when it loses the focus;
// its text goes through Arith::evalInt, a valid entry changes the shared
// region (kept on its screen: an entry the screen cannot hold shows what the
// region became), and an entry that does not evaluate changes nothing and
// shows the current values again. The region's change comes back through the frame
// controller, which places the bar and calls syncFields().
//
// GUI thread only.
class ControlBar : public QObject {
    Q_OBJECT

public:
    explicit ControlBar(std::shared_ptr<RegionModel> region);
    ~ControlBar() override;

    ControlBar(const ControlBar &) = delete;
    ControlBar &operator=(const ControlBar &) = delete;

    FloatWindow *window() const { return m_window.get(); }
    const std::shared_ptr<RegionModel> &region() const { return m_region; }

    QLineEdit *wField() const { return m_wField; }
    QLineEdit *hField() const { return m_hField; }
    QLineEdit *xField() const { return m_xField; }
    QLineEdit *yField() const { return m_yField; }
    QLineEdit *fpsField() const { return m_fpsField; }
    QPushButton *recButton() const { return m_recButton; }
    QPushButton *stopButton() const { return m_stopButton; }
    QPushButton *closeButton() const { return m_closeButton; }
    QPushButton *countdownButton() const { return m_countdownButton; }
    QMenu *countdownMenu() const { return m_countdownMenu; }

    // Frames per second for the next recording; 1 ... 60 once edited.
    int64_t fps() const { return m_fps; }
    // Sets the frame rate as an entry in its field would (held to 1 ... 60).
    void setFps(int64_t fps);
    double barWidth() const { return m_barWidth; }
    double barHeight() const { return m_barHeight; }

    // The seconds offered for the countdown before a recording; 0 is none.
    static constexpr int countdownChoices[] = {0, 3, 5, 10};
    // The user's choice, remembered in the settings ("countdownSeconds").
    int countdownSeconds() const { return m_countdownSeconds; }
    // Anything but one of countdownChoices counts as none.
    void setCountdownSeconds(int seconds);

    // Names the key that starts and stops a recording in REC's and Stop's
    // tooltips; `global` false says it works only while the bar has the focus.
    void setRecordKeyText(const QString &key, bool global);

    std::function<void()> onRecord;
    std::function<void()> onStop;
    std::function<void()> onClose;

    // Writes W, H, X and Y for `rect`, except a field the user is typing in.
    void syncFields(const Rect &rect);
    // Evaluates one field and applies it; what Return and the end of editing
    // do. Public so the shell's self-tests can drive the bar as a user would.
    void commit(QLineEdit *field);
    // REC enabled when idle, Stop enabled while recording.
    void setRecording(bool on);
    // Places the bar inside `rect` (y-up global points), on the screen.
    void reposition(const Rect &rect);
    // Places the bar's window at `frame` (y-up global points).
    void place(const Rect &frame);
    // W, H, X and Y take no typing while false.
    void setGeometryEditable(bool editable);

    int64_t windowNumber() const;
    // Orders the window in without the keyboard focus.
    void show();
    void makeKeyAndFront();
    void close();

private:
    void build();
    QWidget *labeled(const QString &caption, QLineEdit *field);
    QLineEdit *numField();
    QWidget *divider();
    void buildCountdownMenu();
    void showCountdownChoice();
    bool isBeingEdited(const QLineEdit *field) const;
    void recTapped();
    void stopTapped();
    void closeTapped();

    std::unique_ptr<FloatWindow> m_window;
    std::shared_ptr<RegionModel> m_region;
    QLineEdit *m_wField = nullptr;
    QLineEdit *m_hField = nullptr;
    QLineEdit *m_xField = nullptr;
    QLineEdit *m_yField = nullptr;
    QLineEdit *m_fpsField = nullptr;
    QPushButton *m_recButton = nullptr;
    QPushButton *m_stopButton = nullptr;
    QPushButton *m_closeButton = nullptr;
    QPushButton *m_countdownButton = nullptr;
    QMenu *m_countdownMenu = nullptr;
    QActionGroup *m_countdownActions = nullptr;
    int m_countdownSeconds = 0;
    int64_t m_fps = 15;
    double m_barHeight = 46;
    double m_barWidth = 486;
    // The field whose editing is ending: it is written like a field nobody
    // types in, so "1920/2" comes back as 960 after Return.
    const QLineEdit *m_endingEdit = nullptr;
};
