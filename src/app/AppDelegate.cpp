#include "app/AppDelegate.h"

#include "app/Alert.h"
#include "app/Permissions.h"
#include "app/RecorderSettings.h"
#include "app/SelfTestModes.h"
#include "base/Log.h"
#include "capture/CaptureEngine.h"
#include "capture/MemoryHeadroom.h"
#include "editor/EditorController.h"
#include "export/Tools.h"
#include "model/SelfTestProject.h"
#include "store/FrameStore.h"

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSessionManager>
#include <QThreadPool>
#include <QTimer>

AppDelegate::AppDelegate(QStringList arguments, QObject *parent)
    : QObject(parent)
    , makeEngine([] { return std::make_shared<CaptureEngine>(); })
    , makeStore(&AppDelegate::createStore)
    , hasScreenRecording(&Permissions::hasScreenRecording)
    , showAlert([](const QString &title, const QString &text) { Alert::show(QMessageBox::Warning, title, text); })
    , showDeniedAlert(&Permissions::showDeniedAlert)
    , askToRecover(defaultAskToRecover())
    , m_arguments(std::move(arguments))
    , m_remembers(!CommandLine::isSelfTest(m_arguments))
{
    // Self-tests record in memory: they leave no recording folder behind.
    if (!m_remembers)
        makeStore = nullptr;
}

AppDelegate::~AppDelegate()
{
    // The menus have no parent widget: the editor's menu bar only shows them.
    // Deleting one takes it off any menu bar still showing it.
    qDeleteAll(m_menus.all());
}

void AppDelegate::shutDown()
{
    Log::write(QStringLiteral("shutting down"));
    if (engine)
        keepRecordingForShutdown();
    if (editor) {
        editor->cancelExport();
        // The editor saved the project after its last edit; it stays in its
        // folder for the next start to offer.
        if (const std::shared_ptr<FrameStore> &store = editor->recordingStore())
            store->waitForWrites();
    }
    Tools::stopAllChildren();
    rememberFrame();
    // exit(), not quit(): quit() first offers every window to close, and the
    // editor (unexported frames) or the export's sheet would refuse.
    QCoreApplication::exit(0);
}

void AppDelegate::keepRecordingForShutdown()
{
    // The capture ends before the display connection does, and a recording
    // with a folder keeps its frames there with an index, as a crash would
    // leave it but complete: the next start offers it again.
    const std::shared_ptr<CaptureEngine> stopping = std::move(engine);
    engine.reset();
    QEventLoop wait;
    const auto done = std::make_shared<bool>(false);
    const QPointer<QEventLoop> waiting(&wait);
    stopping->stop([done, waiting, store = stopping->store](const GifProjectRef &project) {
        if (store) {
            if (project && !project->frames.empty()) {
                store->saveIndex(project->recordingIndex());
                const std::optional<StoreError> failed = store->waitForWrites();
                Log::write(failed ? QStringLiteral("shutdown: the recording could not be kept: ") + failed->message
                                  : QStringLiteral("shutdown: recording of %1 frames kept in %2")
                                        .arg(project->frames.size())
                                        .arg(store->folder()));
            } else {
                store->discard();
            }
        }
        *done = true;
        if (waiting)
            waiting->quit();
    });
    if (*done)
        return;
    // The stop step and the assembly take well under a second; a capture
    // thread stuck in the display server must not hold the program.
    QTimer::singleShot(10000, &wait, &QEventLoop::quit);
    wait.exec();
    if (!*done)
        Log::write(QStringLiteral("shutdown: the recording was still stopping after 10 s"));
}

void AppDelegate::finishWork()
{
    if (editor)
        editor->cancelExport();
    Tools::stopAllChildren();
    // A cancelled export returns within about a second; ten leave room for a
    // tool that ignores SIGTERM until the SIGKILL after it.
    if (!QThreadPool::globalInstance()->waitForDone(10000))
        Log::write(QStringLiteral("shutdown: work still running after 10 s"));
}

bool AppDelegate::isSelfTest()
{
    return CommandLine::isSelfTest(QCoreApplication::arguments());
}

std::shared_ptr<FrameStore> AppDelegate::createStore(const RecordingInfo &info)
{
    FrameStore::Options options;
    options.cacheBytes = FrameStore::cacheBudgetSetting();
    // The machine's memory is not what a program in a container or a memory
    // control group may use: the decoded cache takes at most a quarter of
    // what the process has left.
    if (const std::optional<int64_t> room = MemoryHeadroom::bytes())
        options.cacheBytes = std::min(options.cacheBytes, std::max<int64_t>(*room / 4, int64_t(64) << 20));
    FrameStore::Created created = FrameStore::create(info, options);
    if (!created.store) {
        // The recording still works, held in memory as before there was a store.
        Log::write(QStringLiteral("frame store: none (%1); the recording stays in memory")
                       .arg(created.error ? created.error->message : QStringLiteral("no reason given")));
        return nullptr;
    }
    Log::write(QStringLiteral("frame store: ") + created.store->folder());
    return created.store;
}

GifProjectRef AppDelegate::makeSelfTestProject()
{
    return ::makeSelfTestProject();
}

Rect AppDelegate::initialRect(std::optional<Rect> mainScreenFrame)
{
    const Rect screen = mainScreenFrame.value_or(Rect {0, 0, 1440, 900});
    return {screen.minX() + (screen.width - 640) * 0.5, screen.minY() + (screen.height - 420) * 0.5, 640, 420};
}

void AppDelegate::applicationDidFinishLaunching()
{
    m_menus = buildAppMenus();
    connectMenus();
    // A logout through the session manager: the editor asks, as Quit does,
    // when the session manager lets it.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
        if (editor && !editor->sessionMayEnd(manager.allowsInteraction()))
            manager.cancel();
        manager.release();
    });

    std::optional<Rect> mainFrame;
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        mainFrame = Geometry::fromQt(QRectF(screen->geometry()));
    lastRect = initialRect(mainFrame);
    // The region of the last run, where its screen is still there and it fits.
    if (m_remembers) {
        if (const std::optional<Rect> remembered = RecorderSettings::rememberedRegion())
            lastRect = *remembered;
    }

    dispatch(CommandLine::choose(m_arguments));
}

void AppDelegate::dispatch(const LaunchChoice &choice)
{
    using namespace SelfTestModes;
    switch (choice.mode) {
    case LaunchMode::ExportSelfTest:
        return runExport(*this, choice.exportBasePath);
    case LaunchMode::RecordSelfTest:
        return runRecord(*this);
    case LaunchMode::OpsSelfTest:
        return runOps(*this);
    case LaunchMode::LoopSelfTest:
        return runLoop(*this);
    case LaunchMode::QualityMatrix:
        return runQualityMatrix(*this);
    case LaunchMode::CloseSelfTest:
        return runClose(*this);
    case LaunchMode::StopRaceSelfTest:
        return runStopRace(*this);
    case LaunchMode::ResizeField:
        return runResizeField(*this);
    case LaunchMode::ResizeSheet:
        return runResizeSheet(*this);
    case LaunchMode::ResizeKeys:
        return runResizeKeys(*this);
    case LaunchMode::Zoom:
        return runZoom(*this);
    case LaunchMode::EditorSelfTest:
        return runEditor(*this);
    case LaunchMode::Interactive:
        if (!offerRecovery())
            showRecorder(lastRect);
        return;
    }
}
