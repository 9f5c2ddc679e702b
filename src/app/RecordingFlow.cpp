#include "app/AppDelegate.h"

#include "app/RecorderSettings.h"
#include "base/GlobalShortcut.h"
#include "base/Log.h"
#include "base/Settings.h"
#include "capture/CaptureBackendFactory.h"
#include "capture/CaptureEngine.h"
#include "capture/RegionModel.h"
#include "capture/ScreenUtil.h"
#include "frameui/ControlBar.h"
#include "frameui/FloatWindow.h"
#include "frameui/FrameController.h"
#include "store/FrameStore.h"

#include <QApplication>
#include <QDateTime>
#include <QKeySequence>
#include <QPointer>
#include <QShortcut>
#include <QTimer>

// REC and Stop: the recording frame, a capture engine per recording and the
// editor. Everything here runs on the GUI thread, and so does every callback
// the engine makes. A step that runs later holds the delegate through a
// QPointer and checks that `engine` is still the engine it was made for; that
// identity check is what keeps a stale callback from touching a newer
// recording.

namespace {

constexpr int deferredStartMs = 120;

const QString defaultRecordKey = QStringLiteral("Ctrl+Alt+R");

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// Back to REC enabled, Stop disabled, green border and the size label.
void showIdleLook(FrameController *frame)
{
    if (!frame)
        return;
    frame->controlBar()->setRecording(false);
    frame->setRecordingVisual(false);
}

} // namespace

bool AppDelegate::chromeMustLeaveRegion()
{
    // The portal records every window on the screen; X11 leaves the frame's
    // windows out of the picture.
    return !CaptureBackendFactory::create()->canExcludeWindows();
}

void AppDelegate::showRecorder(const Rect &rect)
{
    if (frame) {
        frame->closeAll();
        // Its record key goes with it, before the new frame asks for the key.
        frame.reset();
    }
    // Before any of the frame's windows is on the screen.
    CaptureBackendFactory::prepareForRecordingFrame();
    // The compositor of a Wayland session would place the frame's windows as
    // it likes; the frame needs them exactly around the region.
    FloatWindow::setBypassWindowManager(
        CaptureBackendFactory::isWaylandSession(QProcessEnvironment::systemEnvironment()));
    auto controller = FrameController::create(rect);
    controller->setChromeOutsideWhileRecording(chromeMustLeaveRegion());
    const QPointer<AppDelegate> self(this);
    controller->onRecord = [self] {
        if (self)
            self->startRecording();
    };
    controller->onStop = [self] {
        if (self)
            self->stopRecording();
    };
    controller->onClose = [self] {
        if (self)
            self->quitFromFrame();
    };
    // The recording frame has no menu bar; its keyable window answers Quit.
    auto *quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), controller->controlBar()->window());
    QObject::connect(quit, &QShortcut::activated, this, &AppDelegate::quitFromFrame);
    installRecordKey(*controller);
    if (m_remembers) {
        if (const std::optional<int64_t> fps = RecorderSettings::rememberedFps())
            controller->controlBar()->setFps(*fps);
    }
    controller->show();
    frame = std::move(controller);
}

void AppDelegate::installRecordKey(FrameController &controller)
{
    QKeySequence key = QKeySequence::fromString(
        Settings::string(QStringLiteral("stopShortcut"), defaultRecordKey), QKeySequence::PortableText);
    if (key.isEmpty())
        key = QKeySequence::fromString(defaultRecordKey, QKeySequence::PortableText);
    QWidget *barWindow = controller.controlBar()->window();
    // Both live as long as the frame's windows.
    auto *global = new GlobalShortcut(key, QStringLiteral("Start or stop recording"),
        CaptureBackendFactory::isWaylandSession(QProcessEnvironment::systemEnvironment()), barWindow);
    auto *local = new QShortcut(key, barWindow);
    const QPointer<AppDelegate> self(this);
    const auto toggle = [self] {
        if (self)
            self->toggleRecording();
    };
    global->onActivated = toggle;
    QObject::connect(local, &QShortcut::activated, this, toggle);
    ControlBar *bar = controller.controlBar().get();
    const auto registered = [global, local, bar] {
        const QString text = global->key().toString(QKeySequence::NativeText);
        Log::write(QStringLiteral("record key ") + text + QStringLiteral(": ") + global->status());
        // Where the desktop delivers the key, the frame's own would only repeat it.
        local->setEnabled(!global->isRegistered());
        bar->setRecordKeyText(text, global->isRegistered());
    };
    global->onRegisteredChanged = registered;
    registered();
}

void AppDelegate::toggleRecording()
{
    if (!frame || QApplication::activeModalWidget())
        return;
    Log::write(QStringLiteral("record key pressed"));
    if (engine || frame->isCountingDown())
        stopRecording();
    else if (m_stopsInFlight == 0)
        startRecording();
}

void AppDelegate::rememberFrame()
{
    if (m_remembers && frame)
        RecorderSettings::remember(frame->region()->rect(), frame->controlBar()->fps());
}

void AppDelegate::quitFromFrame()
{
    rememberFrame();
    // A recording still running is kept, as a stop signal keeps it: the
    // next start offers it.
    if (engine)
        keepRecordingForShutdown();
    QCoreApplication::quit();
}

void AppDelegate::startRecording()
{
    if (!frame || frame->isCountingDown())
        return;
    Log::write(QStringLiteral("REC tapped; hasScreenRecording=") + boolText(hasScreenRecording()));

    // Self-tests run the same every time, whatever the user chose.
    const int countdown = isSelfTest() ? 0 : frame->controlBar()->countdownSeconds();
    if (countdown <= 0) {
        beginRecording();
        return;
    }
    Log::write(QStringLiteral("REC: countdown %1 s").arg(countdown));
    frame->controlBar()->setRecording(true);
    frame->setRecordingVisual(true);
    const QPointer<AppDelegate> self(this);
    frame->startCountdown(countdown, [self] {
        if (!self)
            return;
        Log::write(QStringLiteral("REC: countdown done"));
        self->beginRecording();
    });
}

void AppDelegate::beginRecording()
{
    if (!frame)
        return;
    const Rect rect = frame->region()->rect();
    const ScreenInfo screen = ScreenUtil::screen(rect);
    lastRect = rect;
    rememberFrame();

    std::shared_ptr<CaptureEngine> recorder = makeEngine();
    recorder->fps = frame->controlBar()->fps();
    if (makeStore) {
        RecordingInfo info;
        info.fps = recorder->fps;
        info.variableFrameRate = recorder->variableFrameRate;
        info.created = QDateTime::currentDateTime();
        recorder->store = makeStore(info);
    }
    recorder->excludedWindowNumbers = frame->allWindowNumbers();
    const QPointer<AppDelegate> self(this);
    recorder->onFrame = [self](int64_t count) {
        if (self && self->frame)
            self->frame->showRecordingCount(count);
    };
    // Only the engine that reached its limit may end the recording: a late
    // notice from an engine already stopped must not stop a newer one.
    const std::weak_ptr<CaptureEngine> weakRecorder = recorder;
    recorder->onAutoStop = [self, weakRecorder] {
        const std::shared_ptr<CaptureEngine> stopping = weakRecorder.lock();
        if (self && stopping && self->engine == stopping)
            self->stopRecording();
    };
    // The stream ended by itself (the X server went away, the desktop stopped
    // sharing): the recording ends there, with what it had.
    recorder->onStreamEnded = [self, weakRecorder](const CaptureFailure &failure) {
        const std::shared_ptr<CaptureEngine> ended = weakRecorder.lock();
        if (!self || !ended || self->engine != ended)
            return;
        self->m_endedBy = failure;
        self->stopRecording();
    };
    engine = recorder;

    frame->controlBar()->setRecording(true);
    frame->setRecordingVisual(true);

    QTimer::singleShot(deferredStartMs, qApp, [self, recorder, rect, screen] {
        if (!self || self->engine != recorder) {
            Log::write(QStringLiteral("REC: start skipped — stopped within the 0.12s defer window"));
            return;
        }
        recorder->start(rect, screen, [self, recorder](std::optional<CaptureFailure> error) {
            if (!error)
                return;
            // Nothing was recorded into it.
            if (recorder->store)
                recorder->store->discard();
            if (!self || self->engine != recorder)
                return;
            showIdleLook(self->frame.get());
            self->engine.reset();
            if (isSelfTest())
                return;
            if (self->hasScreenRecording())
                self->showAlert(QStringLiteral("Could not start recording"), error->description());
            else
                self->showDeniedAlert();
        });
    });
}

void AppDelegate::stopRecording()
{
    Log::write(QStringLiteral("STOP tapped; engine=") + boolText(engine != nullptr));
    if (!engine && frame && frame->isCountingDown()) {
        frame->cancelCountdown();
        Log::write(QStringLiteral("REC: countdown cancelled"));
    }
    if (!engine) {
        // While an earlier stop is still assembling its project, REC stays
        // disabled: a recording started now would be left running behind the
        // editor that project opens.
        if (m_stopsInFlight == 0)
            showIdleLook(frame.get());
        return;
    }
    const std::shared_ptr<CaptureEngine> stopping = std::move(engine);
    engine.reset();
    ++m_stopsInFlight;
    const std::optional<CaptureFailure> endedBy = std::exchange(m_endedBy, std::nullopt);
    const QPointer<AppDelegate> self(this);
    stopping->stop([self, endedBy, store = stopping->store](GifProjectRef project) {
        const bool recorded = project && !project->frames.empty();
        if (store) {
            // The folder keeps the project as the editor first shows it; one
            // that got no frame is of no use to anyone.
            if (recorded)
                store->saveIndex(project->recordingIndex());
            else
                store->discard();
        }
        if (!self)
            return;
        --self->m_stopsInFlight;
        showIdleLook(self->frame.get());
        if (recorded) {
            Log::write(QStringLiteral("→ opening editor with ") + QString::number(project->frames.size())
                + QStringLiteral(" frames"));
            self->openEditor(project, store);
            // The user did not press Stop: say why the recording is shorter.
            if (endedBy && !isSelfTest()) {
                Log::write(QStringLiteral("→ recording ended early: ") + endedBy->description());
                self->showAlert(QStringLiteral("Recording ended early"),
                    endedBy->description()
                        + QStringLiteral(" The editor has the %1 frames recorded until then.")
                              .arg(project->frames.size()));
            }
            return;
        }
        Log::write(QStringLiteral("→ No frames; showing alert"));
        if (isSelfTest())
            return;
        if (endedBy)
            self->showAlert(QStringLiteral("Recording stopped"), endedBy->description());
        else
            self->showAlert(QStringLiteral("No frames captured"),
                QStringLiteral("Nothing was recorded. Make sure something on screen changed inside the frame while "
                               "recording, then try again."));
    });
}
