#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/ScriptedRecording.h"
#include "app/SelfTestModes.h"
#include "app/StopSignals.h"
#include "app/WaylandNotice.h"

#include <QApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

} // namespace

int main(int argc, char *argv[])
{
    // Answered before Qt connects to a display, so that they work anywhere
    // (a terminal without X, a package check) and open nothing.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ParsedCommandLine command = CommandLine::parse(arguments);
    switch (command.action) {
    case ParsedCommandLine::Action::Help:
        print(stdout, CommandLine::usage());
        return 0;
    case ParsedCommandLine::Action::Version:
        print(stdout, CommandLine::versionText() + QLatin1Char('\n'));
        return 0;
    case ParsedCommandLine::Action::UsageError:
        print(stderr, QStringLiteral("quillo: ") + command.error + QStringLiteral("\n\n") + CommandLine::usage());
        return 2;
    case ParsedCommandLine::Action::Run:
        break;
    }

    // Screen capture and window placement are X11 work: use the xcb platform
    // (XWayland in a Wayland session) unless the caller chose one, as tests do
    // with "offscreen".
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    // Without a display Qt's xcb plugin aborts; a script deserves a reason
    // and the failure status instead.
    if (command.record && qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("xcb")
        && qEnvironmentVariableIsEmpty("DISPLAY")) {
        print(stderr, QStringLiteral("quillo: No X display to record: DISPLAY is not set.\n"));
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillo"));
    QApplication::setOrganizationName(QStringLiteral("Quillo"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.quillo.Quillo"));
    // Closing the editor brings the recording frame back; only closing the
    // recording frame or Quit ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    AppDelegate delegate(QCoreApplication::arguments());
    // The self-tests come first, as they always have; a scripted recording
    // shows no window at all.
    if (command.record && CommandLine::choose(QCoreApplication::arguments()).mode == LaunchMode::Interactive) {
        QTimer::singleShot(0, &delegate, [&delegate, &command] {
            ScriptedRecording::start(*command.record, delegate.makeEngine, &SelfTestModes::exitProcess);
        });
        return QApplication::exec();
    }
    // A logout, a closed terminal, kill or Ctrl+C: stop the recording and
    // any export in order instead of leaving tools and staging behind.
    StopSignals stopSignals({SIGTERM, SIGINT, SIGHUP});
    stopSignals.onSignal = [&delegate](int) { delegate.shutDown(); };
    QTimer::singleShot(0, &delegate, [&delegate] {
        // Self-tests show no dialogs; everyone else hears once what a
        // Wayland session can and cannot record, then the program goes on.
        if (!AppDelegate::isSelfTest())
            WaylandNotice::showIfNeeded(QProcessEnvironment::systemEnvironment());
        delegate.applicationDidFinishLaunching();
    });
    const int status = QApplication::exec();
    delegate.finishWork();
    if (stopSignals.received() != 0)
        StopSignals::endWith(stopSignals.received());
    return status;
}
