#include "app/AppDelegate.h"
#include "app/WaylandNotice.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    // Screen capture and window placement are X11 work: use the xcb platform
    // (XWayland in a Wayland session) unless the caller chose one, as tests do
    // with "offscreen".
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillo"));
    QApplication::setOrganizationName(QStringLiteral("Quillo"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.quillo.Quillo"));
    // Closing the editor brings the recording frame back; only closing the
    // recording frame or Quit ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    AppDelegate delegate(QCoreApplication::arguments());
    QTimer::singleShot(0, &delegate, [&delegate] {
        // Self-tests show no dialogs; everyone else hears once what a
        // Wayland session can and cannot record, then the program goes on.
        if (!AppDelegate::isSelfTest())
            WaylandNotice::showIfNeeded(QProcessEnvironment::systemEnvironment());
        delegate.applicationDidFinishLaunching();
    });
    return QApplication::exec();
}
