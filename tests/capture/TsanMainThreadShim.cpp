// Only in thread-sanitizer builds. postToMain() hands its closure to the GUI
// thread through Qt's event queue, which libQt6Core (not built with the
// sanitizer) guards with a bare futex the sanitizer cannot see; every posted
// closure would then look like a race. This shim (linked with
// -Wl,--wrap=postToMain) passes the closures through a std::mutex instead and
// asks Qt only to call a slot, so the sanitizer sees the real hand-off and
// still reports any access that is not ordered by it.
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

namespace {

std::mutex g_mutex;
std::deque<std::function<void()>> g_tasks;

class Trampoline : public QObject {
    Q_OBJECT

public slots:
    void runOne()
    {
        std::function<void()> task;
        {
            std::lock_guard lock(g_mutex);
            if (g_tasks.empty())
                return;
            task = std::move(g_tasks.front());
            g_tasks.pop_front();
        }
        task();
    }
};

// Made on the GUI thread as the application starts, before any worker exists.
Trampoline *g_trampoline = nullptr;

void createTrampoline()
{
    g_trampoline = new Trampoline;
}
Q_COREAPP_STARTUP_FUNCTION(createTrampoline)

} // namespace

// void postToMain(std::function<void()>)
extern "C" void __wrap__Z10postToMainSt8functionIFvvEE(std::function<void()> task)
{
    if (!QCoreApplication::instance() || !g_trampoline || !task)
        return;
    Trampoline *t = g_trampoline;
    {
        std::lock_guard lock(g_mutex);
        g_tasks.push_back(std::move(task));
    }
    QMetaObject::invokeMethod(t, "runOne", Qt::QueuedConnection);
}

#include "TsanMainThreadShim.moc"
