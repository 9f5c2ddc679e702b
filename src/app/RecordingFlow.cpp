#include "app/AppDelegate.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

// Until the recording frame is wired into the program, the ordinary start
// shows a small window that says so; closing it ends the program, as closing
// the recording frame will.

void AppDelegate::showRecorder(const Rect &rect)
{
    lastRect = rect;
    auto *window = new QWidget;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("Quillo"));
    auto *layout = new QVBoxLayout(window);
    layout->addWidget(new QLabel(QStringLiteral("Quillo is starting up: the recording frame is not "
                                                "part of this build yet.")));
    QObject::connect(window, &QObject::destroyed, qApp, &QCoreApplication::quit);
    window->show();
}
