#include "base/MainThread.h"

#include <QCoreApplication>
#include <QThread>

void postToMain(std::function<void()> task)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || !task)
        return;
    QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
}

bool isMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}
