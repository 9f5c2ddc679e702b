#pragma once

#include <QObject>

#include <functional>
#include <initializer_list>
#include <vector>

class QSocketNotifier;

// Turns SIGTERM, SIGINT, SIGHUP (whichever are asked for) into a call on the
// GUI thread's event loop, where the program can end what it is doing in
// order. The first signal is handled; the handlers are then reset to the
// default, so a second signal ends the program at once, as a user pressing
// Ctrl+C twice expects. One instance per process. GUI thread only.
class StopSignals : public QObject {
    Q_OBJECT

public:
    StopSignals(std::initializer_list<int> signalNumbers, QObject *parent = nullptr);
    ~StopSignals() override;

    // Called once, with the signal's number.
    std::function<void(int)> onSignal;

    // The signal that was handled, 0 before one came.
    int received() const { return m_received; }

    // After the program has tidied up: ends it with `signalNumber`'s default
    // action, so that its parent sees how it ended. Does not return.
    [[noreturn]] static void endWith(int signalNumber);

private:
    void deliver();

    QSocketNotifier *m_notifier = nullptr;
    std::vector<int> m_signals;
    int m_received = 0;
};
