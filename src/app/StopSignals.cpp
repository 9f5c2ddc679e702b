#include "app/StopSignals.h"

#include "base/Log.h"

#include <QSocketNotifier>

#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The pipe that turns a signal into an event of the loop.
int g_pipe[2] = {-1, -1};

extern "C" void onStopSignal(int signalNumber)
{
    const auto byte = static_cast<unsigned char>(signalNumber);
    // Only async-signal-safe work here; a full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
}

} // namespace

StopSignals::StopSignals(std::initializer_list<int> signalNumbers, QObject *parent)
    : QObject(parent)
    , m_signals(signalNumbers)
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        Log::write(QStringLiteral("stop signals: no pipe, signals end the program at once"));
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::deliver);
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : m_signals)
        sigaction(signalNumber, &action, nullptr);
}

StopSignals::~StopSignals()
{
    for (const int signalNumber : m_signals)
        std::signal(signalNumber, SIG_DFL);
}

void StopSignals::deliver()
{
    unsigned char bytes[16];
    ssize_t count = 0;
    unsigned char last = 0;
    while ((count = ::read(g_pipe[0], bytes, sizeof bytes)) > 0)
        last = bytes[count - 1];
    if (m_received != 0 || last == 0)
        return;
    m_received = last;
    m_notifier->setEnabled(false);
    for (const int signalNumber : m_signals)
        std::signal(signalNumber, SIG_DFL);
    Log::write(
        QStringLiteral("signal %1 (%2): stopping").arg(m_received).arg(QString::fromLatin1(sigabbrev_np(m_received))));
    if (onSignal)
        onSignal(m_received);
}

void StopSignals::endWith(int signalNumber)
{
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
    // A signal whose default is not to end the program (none of ours).
    std::_Exit(128 + signalNumber);
}
