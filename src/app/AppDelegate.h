#pragma once

#include "app/AppMenus.h"
#include "app/CommandLine.h"
#include "base/Geometry.h"
#include "capture/CaptureError.h"
#include "model/GifProject.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class CaptureEngine;
class EditorController;
class FrameController;
class FrameStore;
struct RecordingInfo;

// The application's owner of its long-lived objects: at most one recording
// frame, one capture engine and one editor at a time. GUI thread only.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(QStringList arguments, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Builds the menus, places the first region and runs the mode the command
    // line asks for.
    void applicationDidFinishLaunching();

    // True when any argument of this process begins with "--selftest".
    static bool isSelfTest();
    static GifProjectRef makeSelfTestProject();

    // A 640 x 420 region centred on the main screen's whole frame (y-up global
    // points), or on (0, 0, 1440, 900) when there is no screen.
    static Rect initialRect(std::optional<Rect> mainScreenFrame);

    void menuExportGIF();
    void showRecorder(const Rect &rect);
    // `store` is the one whose folder keeps the project, or null.
    void openEditor(const GifProjectRef &project, std::shared_ptr<FrameStore> store = nullptr);

    // Quit from the menu or Ctrl+Q: an editor with unexported changes asks first.
    void requestQuit();

    // The interactive start: offers each recording left in the recordings
    // folder by a run that ended without exporting or discarding it, newest
    // first, until one is recovered (RecordingRecovery.cpp). True when the
    // editor opened on one. A folder that cannot be opened is reported and
    // left alone.
    bool offerRecovery();
    enum class RecoverChoice { recover, discard, later };
    // "Recover the recording of <time> (<n> frames)?"
    static QString recoveryQuestion(const QDateTime &created, int64_t frameCount);

    // REC: a new engine for the frame's region, started 0.12 s later unless a
    // Stop or another REC came first. Does nothing without a recording frame.
    void startRecording();
    // Stop, or the engine's own automatic stop: the editor when frames came
    // back, else the "No frames captured" alert. During REC's countdown it
    // ends the countdown instead.
    void stopRecording();
    // The record key: REC when the frame is ready, Stop while it records or
    // counts down; nothing without a recording frame or behind an alert.
    void toggleRecording();

    // Whether the recording frame must keep its windows out of the region
    // while recording (FrameController::setChromeOutsideWhileRecording).
    static bool chromeMustLeaveRegion();

    // What the recording flow reaches outside the program: a new engine for
    // each REC, the permission check and the modal alerts. Set to the real
    // ones at construction; tests replace them to script a failing capture
    // and to see alerts without a modal loop.
    std::function<std::shared_ptr<CaptureEngine>()> makeEngine;
    // Where each REC's frames are kept: a new recording folder under
    // Recordings::root(), or null to keep them in memory (self-tests, or a
    // folder that cannot be made).
    std::function<std::shared_ptr<FrameStore>(const RecordingInfo &info)> makeStore;
    std::function<bool()> hasScreenRecording;
    std::function<void(const QString &title, const QString &text)> showAlert;
    std::function<void()> showDeniedAlert;
    // The recovery question and its details; a modal alert by default.
    std::function<RecoverChoice(const QString &question, const QString &details)> askToRecover;

    // A stop signal or the session's end: the recording stops and is kept in
    // its recording folder, a running export is cancelled (its tools
    // stopped, its partial file and staging removed), and the event loop is
    // asked to end.
    void shutDown();
    // After the event loop: waits for exports still unwinding on the pool,
    // so that no tool outlives the program and no staging folder is left.
    void finishWork();

    const AppMenus &menus() const { return m_menus; }
    const QStringList &arguments() const { return m_arguments; }

    std::shared_ptr<FrameController> frame;
    std::shared_ptr<CaptureEngine> engine;
    std::shared_ptr<EditorController> editor;
    Rect lastRect {0, 0, 640, 420};

private:
    static std::function<RecoverChoice(const QString &, const QString &)> defaultAskToRecover();
    // shutDown()'s part for a running recording: stops it and waits (at most
    // ten seconds) until its frames and index are on disk.
    void keepRecordingForShutdown();
    // The program's makeStore: a new folder under Recordings::root(), or null
    // (with a log line) when it cannot be made.
    static std::shared_ptr<FrameStore> createStore(const RecordingInfo &info);
    void dispatch(const LaunchChoice &choice);
    // REC after its countdown: the engine, and its start 0.12 s later.
    void beginRecording();
    void installRecordKey(FrameController &controller);
    // Keeps the recording frame's region and frame rate for the next run
    // (never during a self-test, which must not change the user's settings).
    void rememberFrame();
    // Ends the program from the recording frame (its close button, Ctrl+Q).
    void quitFromFrame();
    // Points the menus' editor commands at whichever editor is open.
    void connectMenus();

    QStringList m_arguments;
    AppMenus m_menus;
    // Stops asked of engines whose completion has not come back yet.
    int m_stopsInFlight = 0;
    // False in self-tests: they neither read nor write remembered settings.
    bool m_remembers = true;
    // Why the current recording's stream ended by itself, until its stop.
    std::optional<CaptureFailure> m_endedBy;
};
