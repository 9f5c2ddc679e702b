#include "app/RecordSelfTests.h"

#include "app/AppDelegate.h"
#include "app/SelfTestModes.h"
#include "base/Log.h"
#include "capture/CaptureEngine.h"
#include "capture/ScreenUtil.h"
#include "editor/EditorController.h"
#include "export/GifExporter.h"

#include <QCoreApplication>
#include <QFile>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

// The modes that record: a real capture of a corner of the screen, the race
// of a Stop inside REC's deferral, and the editor's close bringing the
// recording frame back. Each keeps the event loop running until its last
// step, then ends the process directly.

namespace RecordSelfTests {

namespace {

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

Rect headlessRegion(const Rect &screen)
{
    return {screen.minX() + 60, screen.maxY() - 60 - 160, 240, 160};
}

QString StopRaceOutcome::line() const
{
    return QStringLiteral("STOPRACE permission=") + boolText(permission) + QStringLiteral(" startCalls=")
        + QString::number(startCalls) + QStringLiteral(" liveStreams=") + QString::number(liveStreams)
        + QStringLiteral(" engineLeaked=") + boolText(engineLeaked) + QStringLiteral(" → ")
        + (passed() ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
}

bool writeNewFile(const QString &path, const QByteArray &bytes)
{
    const QByteArray native = QFile::encodeName(path);
    if (::unlink(native.constData()) != 0 && errno != ENOENT)
        return false;
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        done += written;
    }
    return ::close(fd) == 0 && done == bytes.size();
}

} // namespace RecordSelfTests

namespace SelfTestModes {

using namespace RecordSelfTests;

void runRecord(AppDelegate &app)
{
    if (!app.hasScreenRecording()) {
        printLine(QStringLiteral("NO_PERMISSION"));
        QTimer::singleShot(200, qApp, [] { exitProcess(2); });
        return;
    }
    std::optional<ScreenInfo> screen = ScreenUtil::mainScreen();
    if (!screen) {
        const std::vector<ScreenInfo> all = ScreenUtil::screens();
        screen = all.empty() ? ScreenInfo {} : all.front();
    }
    const Rect region = headlessRegion(screen->frame);

    auto recorder = app.makeEngine();
    recorder->fps = 15;
    app.engine = recorder;
    recorder->start(region, *screen, [recorder](std::optional<CaptureFailure> error) {
        if (error) {
            printLine(QStringLiteral("START_ERR ") + error->toString());
            exitProcess(3);
        }
        QTimer::singleShot(2000, qApp, [recorder] {
            recorder->stop([](GifProjectRef project) {
                if (!project || project->frames.empty()) {
                    printLine(QStringLiteral("NO_FRAMES"));
                    exitProcess(1);
                }
                const ExportResult result = GifExporter::exportGif(
                    *project, headlessGifPath, {GifExporter::defaultEncoder(), GifQuality::high, 0});
                printLine(QStringLiteral("FRAMES=") + QString::number(project->frames.size())
                    + QStringLiteral(" EXPORT=") + boolText(result.ok) + QLatin1Char(' ') + result.message);
                exitProcess(result.ok ? 0 : 4);
            });
        });
    });
}

void runClose(AppDelegate &app)
{
    app.openEditor(AppDelegate::makeSelfTestProject());
    const QPointer<AppDelegate> self(&app);
    QTimer::singleShot(1000, qApp, [self] {
        Log::write(QStringLiteral("selftest-close: closing editor window"));
        // The window's own close, which asks nothing; the editor then calls
        // its record-again callback.
        if (self && self->editor && self->editor->window())
            self->editor->window()->close();
    });
    QTimer::singleShot(2500, qApp, [self] {
        printLine(QStringLiteral("SURVIVED close+reopen; recorder=") + boolText(self && self->frame));
        exitProcess(0);
    });
}

void runStopRace(AppDelegate &app)
{
    const bool permission = app.hasScreenRecording();
    app.showRecorder(app.lastRect);
    app.startRecording();
    const QPointer<AppDelegate> self(&app);
    QTimer::singleShot(50, qApp, [self] {
        if (self)
            self->stopRecording();
    });
    QTimer::singleShot(2000, qApp, [self, permission] {
        StopRaceOutcome outcome;
        outcome.permission = permission;
        outcome.startCalls = CaptureEngine::startCallCount();
        outcome.liveStreams = CaptureEngine::liveStreamCount();
        outcome.engineLeaked = self && self->engine;
        const QString line = outcome.line();
        printLine(line);
        writeNewFile(stopRacePath, line.toUtf8());
        exitProcess(outcome.passed() ? 0 : 1);
    });
}

} // namespace SelfTestModes
