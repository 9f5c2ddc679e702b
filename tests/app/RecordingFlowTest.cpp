// The recording flow on a scripted capture service: what REC and Stop do to
// the engine, the frame's look, the log and the alerts, without a screen.
#include "app/AppDelegate.h"
#include "capture/CaptureEngine.h"
#include "capture/LogRecorder.h"
#include "capture/RegionModel.h"
#include "capture/synthetic/SyntheticCaptureBackend.h"
#include "editor/EditorController.h"
#include "frameui/ControlBar.h"
#include "frameui/FrameController.h"
#include "frameui/OverlayView.h"
#include "frameui/TopBarView.h"
#include "store/FrameStore.h"
#include "store/RecordingFiles.h"
#include "store/Recordings.h"
#include "support/TestUtil.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

auto *const g_logs = ::testing::AddGlobalTestEnvironment(new LogRecorder);

const QString skipLine = QStringLiteral("REC: start skipped — stopped within the 0.12s defer window");

struct Alert {
    QString title;
    QString text;
};

class RecordingFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        service = std::make_shared<SyntheticCaptureBackend>(SyntheticCaptureBackend::sceneFromScreens(), true);
        app.makeEngine = [this] {
            auto engine = std::make_shared<CaptureEngine>(service);
            engine->maxFrames = maxFrames;
            engines.push_back(engine);
            return engine;
        };
        app.makeStore = [this](const RecordingInfo &info) {
            FrameStore::Options options;
            options.root = storeRoot.path();
            std::shared_ptr<FrameStore> store = FrameStore::create(info, options).store;
            storeInfos.push_back(info);
            storeFolders.push_back(store ? store->folder() : QString());
            return store;
        };
        app.hasScreenRecording = [this] { return permission; };
        app.showAlert = [this](const QString &title, const QString &text) { alerts.push_back({title, text}); };
        app.showDeniedAlert = [this] { ++deniedAlerts; };
        app.showRecorder(region);
        ASSERT_NE(app.frame, nullptr);
        LogRecorder::clear();
    }

    void TearDown() override
    {
        if (app.frame)
            app.frame->closeAll();
        // Let stop completions of engines the test left behind land.
        waitUntil([] { return CaptureEngine::liveStreamCount() == 0; });
    }

    bool looksIdle() const
    {
        const FrameController &frame = *app.frame;
        return frame.controlBar()->recButton()->isEnabled() && !frame.controlBar()->stopButton()->isEnabled()
            && !frame.overlayView()->recording() && !frame.topBarView()->recording();
    }

    bool logged(const QString &line) const { return LogRecorder::lines().contains(line); }

    const Rect region {100, 80, 320, 200};
    std::shared_ptr<SyntheticCaptureBackend> service;
    AppDelegate app {{QStringLiteral("quillo")}};
    std::vector<std::shared_ptr<CaptureEngine>> engines;
    int64_t maxFrames = 3000;
    bool permission = true;
    std::vector<Alert> alerts;
    int deniedAlerts = 0;
    QTemporaryDir storeRoot;
    std::vector<RecordingInfo> storeInfos;
    std::vector<QString> storeFolders;
};

} // namespace

TEST_F(RecordingFlow, Rec_ConfiguresTheEngineFromTheFrame_AndShowsTheRecordingLook)
{
    app.frame->region()->set({150, 90, 300, 180});
    QLineEdit *fps = app.frame->controlBar()->fpsField();
    fps->setText(QStringLiteral("24"));
    app.frame->controlBar()->commit(fps);

    app.startRecording();
    ASSERT_EQ(engines.size(), 1u);
    EXPECT_EQ(app.engine, engines[0]);
    EXPECT_EQ(engines[0]->fps, 24);
    EXPECT_EQ(engines[0]->excludedWindowNumbers, app.frame->allWindowNumbers());
    EXPECT_EQ(app.lastRect, (Rect {150, 90, 300, 180}));
    EXPECT_FALSE(app.frame->controlBar()->recButton()->isEnabled());
    EXPECT_TRUE(app.frame->controlBar()->stopButton()->isEnabled());
    EXPECT_TRUE(app.frame->overlayView()->recording());
    EXPECT_EQ(LogRecorder::lines().value(0), QStringLiteral("REC tapped; hasScreenRecording=true"));

    // Frames arriving show their count in the top bar.
    ASSERT_TRUE(waitUntil([&] { return app.frame->topBarView()->label().startsWith(QStringLiteral("● REC   ")); }));
    app.stopRecording();
    ASSERT_TRUE(waitUntil([&] { return app.engine == nullptr && LogRecorder::linesStartingWith("→ ").size() == 1; }));
}

TEST_F(RecordingFlow, StopInsideTheDeferral_NeverStartsTheStream_AndLeavesTheFrameReady)
{
    const int64_t startsBefore = CaptureEngine::startCallCount();
    app.startRecording();
    app.stopRecording();
    EXPECT_EQ(app.engine, nullptr);
    ASSERT_TRUE(waitUntil([&] { return logged(skipLine) && logged(QStringLiteral("→ No frames; showing alert")); }));

    const QStringList lines = LogRecorder::lines();
    EXPECT_LT(lines.indexOf(QStringLiteral("STOP tapped; engine=true")), lines.indexOf(skipLine));
    EXPECT_EQ(CaptureEngine::startCallCount(), startsBefore);
    EXPECT_TRUE(service->streams().empty());
    EXPECT_TRUE(looksIdle());
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, QStringLiteral("No frames captured"));
    EXPECT_EQ(alerts[0].text,
        QStringLiteral("Nothing was recorded. Make sure something on screen changed inside the frame while recording, "
                       "then try again."));

    // A new REC works at once.
    app.startRecording();
    ASSERT_TRUE(waitUntil([&] { return CaptureEngine::startCallCount() == startsBefore + 1; }));
    app.stopRecording();
    ASSERT_TRUE(waitUntil([&] { return LogRecorder::linesStartingWith("→ ").size() == 2; }));
}

TEST_F(RecordingFlow, SecondRecInsideTheDeferral_StartsOnlyTheNewerEngine)
{
    const int64_t startsBefore = CaptureEngine::startCallCount();
    app.startRecording();
    app.startRecording();
    ASSERT_EQ(engines.size(), 2u);
    ASSERT_TRUE(waitUntil([&] { return CaptureEngine::startCallCount() == startsBefore + 1; }));
    EXPECT_EQ(LogRecorder::lines().count(skipLine), 1);
    EXPECT_EQ(app.engine, engines[1]);
    app.stopRecording();
    ASSERT_TRUE(waitUntil([&] { return LogRecorder::linesStartingWith("→ ").size() == 1; }));
}

TEST_F(RecordingFlow, SecondStopWhileTheFirstIsAssembling_KeepsRecDisabledUntilItEnds)
{
    app.startRecording();
    ASSERT_TRUE(waitUntil([&] { return !service->streams().empty() && service->streams()[0]->isRunning(); }));
    app.stopRecording();
    app.stopRecording();
    EXPECT_FALSE(app.frame->controlBar()->recButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return LogRecorder::linesStartingWith("→ ").size() == 1; }));
    app.showRecorder(region);
    app.stopRecording();
    EXPECT_TRUE(looksIdle());
}

TEST_F(RecordingFlow, StopWithoutAnEngine_OnlyResetsTheLook)
{
    app.frame->controlBar()->setRecording(true);
    app.frame->setRecordingVisual(true);
    app.stopRecording();
    app.stopRecording();
    EXPECT_EQ(LogRecorder::lines(),
        (QStringList {QStringLiteral("STOP tapped; engine=false"), QStringLiteral("STOP tapped; engine=false")}));
    EXPECT_TRUE(looksIdle());
    EXPECT_TRUE(alerts.empty());
}

TEST_F(RecordingFlow, StartFailure_ShowsTheAlertThePermissionCallsFor)
{
    const CaptureFailure failure = SyntheticCaptureBackend::syntheticError(QStringLiteral("start"));
    for (const bool granted : {true, false}) {
        SCOPED_TRACE(granted);
        alerts.clear();
        deniedAlerts = 0;
        permission = granted;
        SyntheticCaptureBackend::Faults faults;
        faults.startError = failure;
        service->setFaults(faults);

        app.startRecording();
        ASSERT_TRUE(waitUntil([&] { return app.engine == nullptr; }));
        EXPECT_TRUE(looksIdle());
        if (granted) {
            ASSERT_EQ(alerts.size(), 1u);
            EXPECT_EQ(alerts[0].title, QStringLiteral("Could not start recording"));
            EXPECT_EQ(alerts[0].text, failure.description());
            EXPECT_EQ(deniedAlerts, 0);
        } else {
            EXPECT_TRUE(alerts.empty());
            EXPECT_EQ(deniedAlerts, 1);
        }
    }
}

TEST_F(RecordingFlow, AutoStop_EndsTheRecording_ButNotANewerOne)
{
    maxFrames = 3;
    app.startRecording();
    ASSERT_TRUE(waitUntil([&] { return logged(QStringLiteral("STOP tapped; engine=true")); }));
    ASSERT_TRUE(waitUntil([&] { return logged(QStringLiteral("→ opening editor with 3 frames")); }));

    // A late limit notice from that first engine must not stop a recording
    // that started after it.
    maxFrames = 3000;
    app.showRecorder(region);
    app.startRecording();
    ASSERT_EQ(engines.size(), 2u);
    ASSERT_TRUE(engines[0]->onAutoStop);
    engines[0]->onAutoStop();
    EXPECT_EQ(app.engine, engines[1]);
    app.stopRecording();
    ASSERT_TRUE(waitUntil([&] { return LogRecorder::linesStartingWith("→ ").size() == 2; }));
}

TEST_F(RecordingFlow, StreamEndingByItself_EndsTheRecording_WithTheFramesSoFar)
{
    app.startRecording();
    ASSERT_TRUE(waitUntil([&] { return !service->streams().empty() && service->streams()[0]->isRunning(); }));
    ASSERT_TRUE(waitUntil([&] { return app.frame->topBarView()->label().startsWith(QStringLiteral("● REC   ")); }));
    const CaptureFailure ended = SyntheticCaptureBackend::syntheticError(QStringLiteral("stream interrupted"));
    service->streams()[0]->fail(ended);
    ASSERT_TRUE(waitUntil([&] { return LogRecorder::linesStartingWith("→ opening editor with ").size() == 1; }));
    EXPECT_EQ(app.engine, nullptr);
    EXPECT_TRUE(logged(QStringLiteral("STOP tapped; engine=true")));
    // The editor opens on what was kept, and the user learns why it ended.
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, QStringLiteral("Recording ended early"));
    const QString frames = LogRecorder::linesStartingWith("→ opening editor with ").value(0).section(' ', 4, 4);
    EXPECT_EQ(alerts[0].text,
        ended.description() + QStringLiteral(" The editor has the %1 frames recorded until then.").arg(frames));
}

TEST_F(RecordingFlow, StreamEndingBeforeAnyFrame_SaysWhy)
{
    SyntheticCaptureBackend::Scene scene = SyntheticCaptureBackend::sceneFromScreens();
    service = std::make_shared<SyntheticCaptureBackend>(scene, false); // no frames of its own
    const CaptureFailure ended = SyntheticCaptureBackend::syntheticError(QStringLiteral("stream interrupted"));
    app.startRecording();
    ASSERT_TRUE(waitUntil([&] { return !service->streams().empty() && service->streams()[0]->isRunning(); }));
    service->streams()[0]->fail(ended);
    ASSERT_TRUE(waitUntil([&] { return logged(QStringLiteral("→ No frames; showing alert")); }));
    EXPECT_TRUE(looksIdle());
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, QStringLiteral("Recording stopped"));
    EXPECT_EQ(alerts[0].text, ended.description());
}

TEST_F(RecordingFlow, EachRecording_KeepsItsFramesInAFolderOfItsOwn_WhichGetsTheProjectOrGoes)
{
    // Stopped before it began: nothing to keep.
    app.startRecording();
    app.stopRecording();
    ASSERT_TRUE(waitUntil([&] { return logged(QStringLiteral("→ No frames; showing alert")); }));
    ASSERT_EQ(storeFolders.size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(storeFolders[0]));

    maxFrames = 5;
    QLineEdit *fps = app.frame->controlBar()->fpsField();
    fps->setText(QStringLiteral("24"));
    app.frame->controlBar()->commit(fps);
    app.startRecording();
    ASSERT_TRUE(waitUntil([&] { return app.editor != nullptr; }, 10000));
    ASSERT_EQ(storeFolders.size(), 2u);
    EXPECT_EQ(storeInfos[1].fps, 24);
    EXPECT_TRUE(storeInfos[1].variableFrameRate);
    EXPECT_TRUE(storeInfos[1].created.isValid());

    const GifProjectRef project = app.editor->project();
    ASSERT_EQ(project->frames.size(), 5u);
    const std::shared_ptr<FrameStore> store = project->frames[0]->pixels()->store();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->folder(), storeFolders[1]);
    EXPECT_FALSE(store->waitForWrites());
    // The folder's index is the project the editor opened on.
    const RecordingFiles::FileRead read = RecordingFiles::readWhole(storeFolders[1] + QStringLiteral("/index"));
    ASSERT_TRUE(read.bytes);
    const std::optional<RecordingFiles::StoredIndex> index = RecordingFiles::decodeIndex(*read.bytes);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->fps, 24);
    EXPECT_EQ(index->loopCount, 0);
    EXPECT_EQ(QSize(index->canvasWidth, index->canvasHeight), project->frames[0]->size());
    ASSERT_EQ(index->frames.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(index->frames[i].first, project->frames[i]->pixels()->id()) << i;
        EXPECT_EQ(index->frames[i].second, project->frames[i]->delayMs) << i;
    }
}

TEST_F(RecordingFlow, ARecordingsFolderThatCannotBeMade_LeavesTheRecordingInMemory)
{
    // The program's own choice, with a file where the recordings folder goes.
    app.makeStore = AppDelegate({QStringLiteral("quillo")}).makeStore;
    const QString root = Recordings::root();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(root).path()));
    QFile blocker(root);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    maxFrames = 3;
    app.startRecording();
    const bool opened = waitUntil([&] { return app.editor != nullptr; }, 10000);
    QFile::remove(root);
    ASSERT_TRUE(opened);
    const QStringList lines = LogRecorder::linesStartingWith(QStringLiteral("frame store: "));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("frame store: none ("))) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("; the recording stays in memory"))) << lines[0].toStdString();
    ASSERT_EQ(app.editor->project()->frames.size(), 3u);
    for (const GifFrameRef &frame : app.editor->project()->frames)
        EXPECT_EQ(frame->pixels()->store(), nullptr);
    EXPECT_TRUE(alerts.empty());
}

namespace {

// Answers the next modal question with the button titled `choice`, once it is up.
void answerNextQuestion(const QString &choice)
{
    QTimer::singleShot(0, [choice] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        for (QAbstractButton *b : box->buttons()) {
            if (b->text() == choice)
                b->click();
        }
    });
}

// The recordings folder of a private state directory, for one test.
class PrivateState {
public:
    PrivateState()
        : m_before(qgetenv("XDG_STATE_HOME"))
    {
        qputenv("XDG_STATE_HOME", m_dir.path().toUtf8());
    }
    ~PrivateState() { qputenv("XDG_STATE_HOME", m_before); }
    PrivateState(const PrivateState &) = delete;
    PrivateState &operator=(const PrivateState &) = delete;

private:
    QTemporaryDir m_dir;
    QByteArray m_before;
};

} // namespace

// A crash after some edits, the next start, and the ways out of the editor:
// the folder keeps the last completed edit, the start offers it, and it goes
// only when the user lets it go.
TEST_F(RecordingFlow, ARecordingLeftBehind_IsOfferedAtTheNextStart_AndQuitAsksBeforeLosingIt)
{
    const PrivateState state;
    app.makeStore = AppDelegate({QStringLiteral("quillo")}).makeStore;
    maxFrames = 6;
    app.startRecording();
    ASSERT_TRUE(waitUntil([&] { return app.editor != nullptr; }, 10000));
    EditorController *editor = app.editor.get();
    const QString folder = editor->recordingStore()->folder();
    EXPECT_TRUE(folder.startsWith(Recordings::root()));
    editor->selectFrame(0, Qt::NoModifier);
    editor->deleteSelected();
    editor->applyDelay(70, false);
    editor->loopPopup()->setCurrentIndex(2);
    editor->loopChanged();
    EXPECT_FALSE(editor->recordingStore()->waitForWrites());
    std::vector<uint64_t> ids;
    for (const GifFrameRef &f : editor->project()->frames)
        ids.push_back(f->pixels()->id());
    ASSERT_EQ(ids.size(), 5u);

    // The program dies with the editor open: no window closes, nothing is removed.
    app.editor.reset();
    engines.clear();
    if (app.frame)
        app.frame->closeAll();
    ASSERT_TRUE(QFileInfo::exists(folder));

    // Beside it, a folder that cannot be opened: reported, left alone.
    const QString broken = Recordings::root() + QStringLiteral("/broken");
    ASSERT_TRUE(QDir().mkpath(broken + QStringLiteral("/index")));

    QStringList questions;
    std::vector<Alert> startAlerts;
    AppDelegate::RecoverChoice answer = AppDelegate::RecoverChoice::later;
    auto restart = [&](std::unique_ptr<AppDelegate> &next) {
        next = std::make_unique<AppDelegate>(QStringList {QStringLiteral("quillo")});
        next->askToRecover = [&](const QString &question, const QString &) {
            questions << question;
            return answer;
        };
        next->showAlert = [&](const QString &title, const QString &text) { startAlerts.push_back({title, text}); };
        next->applicationDidFinishLaunching();
    };

    // "Not Now": the recording frame as usual, and the folder stays.
    std::unique_ptr<AppDelegate> later;
    restart(later);
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].startsWith(QStringLiteral("Recover the recording of ")));
    EXPECT_TRUE(questions[0].endsWith(QStringLiteral(" (5 frames)?"))) << questions[0].toStdString();
    ASSERT_EQ(startAlerts.size(), 1u);
    EXPECT_EQ(startAlerts[0].title, QStringLiteral("A recording cannot be recovered"));
    EXPECT_TRUE(startAlerts[0].text.contains(broken)) << startAlerts[0].text.toStdString();
    EXPECT_TRUE(later->frame && !later->editor);
    later->frame->closeAll();
    later.reset();
    EXPECT_TRUE(QFileInfo::exists(folder));
    EXPECT_TRUE(QFileInfo::exists(broken));

    // "Recover": the editor exactly as after the last edit.
    answer = AppDelegate::RecoverChoice::recover;
    std::unique_ptr<AppDelegate> next;
    restart(next);
    ASSERT_TRUE(next->editor);
    const GifProjectRef recovered = next->editor->project();
    ASSERT_EQ(recovered->frames.size(), ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(recovered->frames[i]->pixels()->id(), ids[i]) << i;
        EXPECT_EQ(recovered->frames[i]->delayMs, 70) << i;
        EXPECT_FALSE(recovered->frames[i]->image().isNull()) << i;
    }
    EXPECT_EQ(recovered->loopCount, 3);
    EXPECT_TRUE(next->editor->hasUnexportedChanges());

    // Quit asks; Cancel keeps the editor and its folder.
    bool quit = false;
    answerNextQuestion(QStringLiteral("Cancel"));
    next->editor->askToQuit([&] { quit = true; });
    EXPECT_FALSE(quit);
    EXPECT_TRUE(next->editor->window()->isVisible());
    // The menu's Quit asks the same question.
    answerNextQuestion(QStringLiteral("Cancel"));
    next->menus().quit->trigger();
    EXPECT_TRUE(next->editor->window()->isVisible());
    // A logout asks too when it may, and Cancel calls it off; one that may
    // not ask goes ahead and leaves the recording for the next start.
    answerNextQuestion(QStringLiteral("Cancel"));
    EXPECT_FALSE(next->editor->sessionMayEnd(true));
    EXPECT_TRUE(next->editor->sessionMayEnd(false));
    EXPECT_TRUE(QFileInfo::exists(folder));

    // Export before quitting: the file, then the quit; nothing more to ask after.
    next->editor->encoderPopup()->setCurrentIndex(2);
    QTemporaryDir out;
    const QString gif = out.filePath(QStringLiteral("recovered.gif"));
    answerNextQuestion(QStringLiteral("Export GIF…"));
    next->editor->askToQuit([&] { quit = true; });
    ASSERT_TRUE(waitUntil([&] { return next->editor->saveDialog() != nullptr; }));
    next->editor->saveDialog()->selectFile(gif);
    static_cast<QDialog *>(next->editor->saveDialog())->accept();
    ASSERT_TRUE(waitUntil([&] { return quit; }, 20000));
    EXPECT_TRUE(QFileInfo(gif).size() > 0);
    EXPECT_FALSE(next->editor->hasUnexportedChanges());
    // An edit after the export is a change again.
    next->editor->applyDelay(90, false);
    EXPECT_TRUE(next->editor->hasUnexportedChanges());
    answerNextQuestion(QStringLiteral("Discard"));
    quit = false;
    next->editor->askToQuit([&] { quit = true; });
    EXPECT_TRUE(quit);
    // The quit closes the window, and the folder goes with it.
    next->editor->window()->close();
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(QFileInfo::exists(broken));
    next->editor.reset();
    if (next->frame)
        next->frame->closeAll();
}
