#pragma once

#include "editor/EditorDocument.h"
#include "export/AnimatedFormats.h"
#include "export/ExportResult.h"
#include "export/GifEncoder.h"
#include "export/GifQuality.h"
#include "export/SizeEstimate.h"
#include "model/GifProject.h"

#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class EditorContentView;
class ExportJob;
class FrameStore;
class FramePreviewView;
class FrameStripView;
class QComboBox;
class QKeyEvent;
class QLabel;
class QMainWindow;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QTimer;
class QWidget;

// The editor window with its controls, views, sheets, playback and export.
// What is being edited lives in its EditorDocument (the project, the current
// frame and the selection, the base delays behind the speed control and the
// undo history); the controller turns the user's actions into the document's
// operations and redraws from it.
//
// The source is split by concern:
//   EditorDocument.cpp               the document: selection, history, the frame operations
//   EditorController.cpp             construction, selection and history forwards, refresh
//   EditorControllerFrameOps.cpp     delete, trim, reverse, move, shift, delay, speed, loop
//   EditorControllerResizeCrop.cpp   crop mode, "Apply Crop", the resize sheet and its fields
//   EditorControllerPlayback.cpp     playback forwards and backwards
//   EditorControllerExport.cpp       the save dialog, progress sheet and export worker
//   EditorControllerWindow.cpp       the window, its controls and their wiring
//   EditorControllerKeys.cpp         the keyboard and closing the window
//   EditorControllerRecording.cpp    the recording folder and the question before quitting
//   EditorControllerSelfChecks.cpp   the logic and resize-field self-checks
//   EditorControllerSheetChecks.cpp  the resize-sheet and key-routing checks
//
// Refused operations sound the system beep through beep(), which also counts,
// so tests can tell "refused" from "did nothing".
//
// GUI thread only: every member, and every callback the views hold.
class EditorController : public QObject {
    Q_OBJECT

public:
    // The number of undo entries kept after an edit is recorded.
    static constexpr size_t maxUndo = EditorDocument::maxUndo;

    // Builds the window and its controls at once; show() opens it.
    explicit EditorController(GifProjectRef project, QObject *parent = nullptr);
    ~EditorController() override;

    EditorController(const EditorController &) = delete;
    EditorController &operator=(const EditorController &) = delete;

    // --- the shell's surface
    QMainWindow *window() const { return m_window.get(); }
    // Starts a fresh log, sizes the window to its screen and brings it to the
    // front with the keyboard focus on the content view.
    void show();
    // Called on a later turn of the event loop after the window has closed.
    std::function<void()> onRecordAgain;

    // --- state: the document's, forwarded, and the playback's own
    EditorDocument &document() { return m_doc; }
    const EditorDocument &document() const { return m_doc; }
    const GifProjectRef &project() const { return m_doc.project(); }
    int64_t current() const { return m_doc.current(); }
    const std::set<int64_t> &selected() const { return m_doc.selected(); }
    int64_t anchor() const { return m_doc.anchor(); }
    double speedFactor() const { return m_doc.speedFactor(); }
    bool isPlaying() const { return m_isPlaying; }
    int64_t playDirection() const { return m_playDirection; }
    // The un-scaled delay recorded for this frame object, if any.
    std::optional<int64_t> baseDelay(const GifFrameRef &frame) const { return m_doc.baseDelay(frame); }
    size_t undoDepth() const { return m_doc.undoDepth(); }
    size_t redoDepth() const { return m_doc.redoDepth(); }
    // How many times this controller has sounded the beep.
    int beepCount() const { return m_beepCount; }

    // --- the recording folder (EditorControllerRecording.cpp)
    // The store whose folder keeps this project; the editor saves the project
    // there after every edit and removes the folder when the window closes
    // (a new recording replaces it, or the program quits after it was
    // exported or discarded). Null for a project held in memory.
    void setRecordingStore(std::shared_ptr<FrameStore> store);
    const std::shared_ptr<FrameStore> &recordingStore() const { return m_store; }
    // True until the frames, their delays and the loop count as they are now
    // have been exported once.
    bool hasUnexportedChanges() const;
    // Quit from the menu or Ctrl+Q: with unexported changes it asks first
    // (Export / Discard / Cancel, Cancel the default). `quit` runs at once,
    // after a successful export, or never (Cancel, or an export that did not
    // finish).
    void askToQuit(std::function<void()> quit);
    // The desktop session is ending: true when it may. With unexported
    // changes and `canAsk` (the session manager lets programs ask) the same
    // question; Cancel, or Export (which takes longer than a logout waits),
    // calls the logout off. Without asking the recording stays in its folder
    // for the next start.
    bool sessionMayEnd(bool canAsk);

    // --- history (the document's; these beep and redraw)
    void pushUndo() { m_doc.pushUndo(); }
    void undoAction();
    void redoAction();
    using HistoryEntry = EditorDocument::HistoryEntry;
    // Restores the entry and shows it, the Speed pop-up included.
    void applyRestored(HistoryEntry entry);
    // Pushes the stored state into the views; records nothing.
    void refresh();

    // --- selection and navigation
    // A click on the strip (EditorDocument::select). Stops playback.
    void selectFrame(int64_t index, Qt::KeyboardModifiers modifiers);
    void goFirst();
    void goLast();
    void goPrev();
    void goNext();
    void selectAll();

    // --- playback
    void playForwardTapped();
    void playBackwardTapped();
    // Space: play forward, or stop when already playing forward.
    void togglePlay();
    // Each direction's button is a toggle for its own direction; the other
    // direction's reverses without stopping.
    void toggleDirection(int64_t direction);
    void stopPlay();

    // --- window
    // The zoom pop-up's action: a fixed zoom, dropping any free scale.
    void zoomChanged();
    // Sets a free preview scale; only the zoom self-test mode uses it.
    void debugZoom(double scale);
    // "● New Recording": asks, as the window's close button does, then closes.
    void recordAgain();
    // Closes the window after the new-recording question; false when the user kept it.
    bool performClose();

    // --- keyboard (EditorContentView hands every key here first)
    // Plain keys: Space, Backspace/Delete, Escape, Left, Right, Home, End.
    bool handleKey(const QKeyEvent &event);
    // Return or Enter that nothing else took: the window's default button,
    // "Export GIF".
    bool handleDefaultButton(const QKeyEvent &event);
    // Ctrl (and Ctrl+Shift) combinations: S, A, Z, Y (redo), [ and ].
    bool handleKeyEquivalent(const QKeyEvent &event);
    // True when handleKeyEquivalent() would act on this key, so that the
    // menu bar's shortcut with the same keys must not take it.
    bool claimsKeyEquivalent(const QKeyEvent &event) const;
    // True while a text field of the editor or its sheets is being edited:
    // then every key is the field's.
    bool isEditingText() const;

    // --- save and export
    // The quality and encoder the user last chose, remembered across runs
    // beside the export name and folder: a case name ("high") and an
    // encoder's raw value ("ffmpeg").
    static inline const QString qualitySettingKey = QStringLiteral("quality");
    static inline const QString encoderSettingKey = QStringLiteral("encoder");
    void exportGIF();
    void exportMP4Action();
    // "More Formats": animated WebP, APNG or WebM, each with the frames' own
    // delays and the chosen quality.
    void exportAnimatedAction(GifExporter::AnimatedFormat format);
    // The export work, run on a pool thread with the chosen path and the job
    // that carries its progress and the user's Cancel.
    using ExportWork = std::function<ExportResult(const QString &path, ExportJob &job)>;
    void runSave(const QString &ext, const QString &nameFilter, ExportWork work);
    // Cancel on the progress sheet: the export stops its tools, removes its
    // partial output and leaves the destination as it was. Nothing without one.
    void cancelExport();
    bool isExporting() const { return m_exportJob != nullptr; }
    // The name and folder the save dialog proposes, from the remembered ones.
    static QString proposedExportName(const QString &ext);
    static QString proposedExportDir();
    static void rememberExportPath(const QString &path);
    GifEncoder chosenEncoder() const;
    GifQuality chosenQuality() const;
    QFileDialog *saveDialog() const { return m_saveDialog; }
    QDialog *progressSheet() const { return m_progressSheet; }
    QLabel *noticeLabel() const { return m_noticeLabel; }
    // "GIF ≈ 1.2 MB": the expected size of the next export (EditorControllerEstimate.cpp).
    QLabel *estimateLabel() const { return m_estimateLabel; }
    QPushButton *moreFormatsButton() const { return m_moreFormatsBtn; }
    // Starts an estimate once edits have paused for a moment; refresh() calls it.
    void scheduleEstimate();
    // Starts one now when the project or the export settings changed since the last.
    void startEstimate();

    // --- frame operations
    void deleteSelected();
    void trimBefore();
    void trimAfter();
    void reverse();
    // `slot` is a gap of the frame list before the move: 0 is before the
    // first frame, count after the last.
    void reorderSelection(int64_t slot);
    void shiftSelection(int64_t delta);
    void moveLeft() { shiftSelection(-1); }
    void moveRight() { shiftSelection(+1); }
    void applyDelay(int64_t delayMs, bool toSelectionOnly);
    void delayCommitted();
    void delayStepped();
    void applyDelayToAll();
    void speedChanged();
    // Sets the Speed pop-up to the speed in force.
    void showSpeed();
    void loopChanged();

    // --- crop and resize
    void toggleCrop();
    void enterCrop();
    void cancelCrop();
    void applyCrop();
    // Enables "Apply Crop" exactly when the preview holds a usable selection.
    void cropChanged();
    void openResize();
    void resizeWidthChanged();
    void resizeHeightChanged();
    void resizeLockToggled();
    void closeResize();
    void applyResize();
    // The end of editing of a text field (focus moved away). Only the two
    // resize fields react; every other field is ignored.
    void controlTextDidEndEditing(QObject *field);

    // --- self-checks (each returns its report lines)
    QStringList runLogicSelfTest();
    QStringList runResizeFieldRealTest();
    QStringList runResizeSheetRealTest();
    QStringList runResizeKeyRoutingTest();

    // --- views and controls, for the window code and tests
    EditorContentView *content() const { return m_content; }
    FramePreviewView *preview() const { return m_preview; }
    FrameStripView *strip() const { return m_strip; }
    QLabel *statusLabel() const { return m_statusLabel; }
    QPushButton *playFwdButton() const { return m_playFwdButton; }
    QPushButton *playBackButton() const { return m_playBackButton; }
    QComboBox *zoomPopup() const { return m_zoomPopup; }
    QComboBox *speedPopup() const { return m_speedPopup; }
    QComboBox *loopPopup() const { return m_loopPopup; }
    QComboBox *qualityPopup() const { return m_qualityPopup; }
    QComboBox *encoderPopup() const { return m_encoderPopup; }
    QLineEdit *delayField() const { return m_delayField; }
    QSpinBox *delayStepper() const { return m_delayStepper; }
    QPushButton *cropToggleBtn() const { return m_cropToggleBtn; }
    QPushButton *exportGifBtn() const { return m_exportGifBtn; }
    QPushButton *cropApplyBtn() const { return m_cropApplyBtn; }
    QPushButton *cropCancelBtn() const { return m_cropCancelBtn; }
    QLineEdit *resizeWidth() const { return m_resizeWidth; }
    QLineEdit *resizeHeight() const { return m_resizeHeight; }
    QCheckBox *resizeLock() const { return m_resizeLock; }
    QDialog *resizeSheet() const { return m_resizeSheet; }
    double resizeBaseAspect() const { return m_resizeBaseAspect; }
    int64_t lastGoodW() const { return m_lastGoodW; }
    int64_t lastGoodH() const { return m_lastGoodH; }

    // The status line for the present state (also shown by playback steps).
    QString statusText() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // EditorControllerWindow.cpp
    void buildUI();
    void syncPlayButtons();
    // Makes fresh resize fields and lock (hidden in the editor window) when
    // the present ones are gone, e.g. after a self-check closed its window.
    void ensureResizeControls();
    void wireResizeField(QLineEdit *field, void (EditorController::*commit)());
    void fillExportPopups();
    void fillMoreFormatsMenu();
    // The window's close: spontaneous ones (its close button) ask first.
    bool handleWindowClose(QEvent *event);
    bool windowShouldClose();
    // A warning on the window with `choices` and Cancel, which is the
    // default and Escape's: the index of the choice taken, or -1 for Cancel.
    int askWarning(const QString &text, const QString &details,
        const std::vector<std::pair<QString, QMessageBox::ButtonRole>> &choices);
    void windowWillClose();

    // EditorControllerPlayback.cpp
    void scheduleNext();
    void playStep();

    // EditorControllerExport.cpp
    void startExport(const QString &path, const QString &ext, ExportWork work);
    void exportFinished(const QString &path, const ExportResult &result, bool cancelled);

    // EditorControllerEstimate.cpp
    QString estimateFormatName() const;
    QString estimateKey() const;
    SizeEstimate::Writer estimateWriter() const;
    void cancelEstimate();

    // EditorControllerFrameOps.cpp
    // The delay field's text as a delay, applied to the selection or to all.
    void commitDelayField(bool toSelectionOnly);

    // EditorController.cpp
    void beep();
    void scrollToCurrent();
    int64_t frameCount() const { return m_doc.frameCount(); }

    // EditorControllerResizeCrop.cpp
    void endResizeSheet();

    // EditorControllerSelfChecks.cpp
    void resetForSelfCheck(int64_t frameCount);

    // EditorControllerRecording.cpp
    enum class QuitAnswer { exportFirst, discard, cancel };
    QuitAnswer askQuitQuestion();
    void saveIndexIfChanged();
    void discardRecording();

    // Declared first so that it is destroyed last: every view below is a child.
    std::unique_ptr<QMainWindow> m_window;
    EditorDocument m_doc;

    EditorContentView *m_content = nullptr;
    FramePreviewView *m_preview = nullptr;
    FrameStripView *m_strip = nullptr;
    QScrollArea *m_stripScroll = nullptr;
    QLabel *m_statusLabel = nullptr;
    // The last export, said here when no notification server is there to say it.
    QLabel *m_noticeLabel = nullptr;
    QPushButton *m_playFwdButton = nullptr;
    QPushButton *m_playBackButton = nullptr;
    int64_t m_playDirection = 1;
    QComboBox *m_zoomPopup = nullptr;
    QComboBox *m_speedPopup = nullptr;
    QComboBox *m_loopPopup = nullptr;
    QComboBox *m_qualityPopup = nullptr;
    QComboBox *m_encoderPopup = nullptr;
    QLineEdit *m_delayField = nullptr;
    QSpinBox *m_delayStepper = nullptr;
    QPushButton *m_cropApplyBtn = nullptr;
    QPushButton *m_cropCancelBtn = nullptr;
    QPushButton *m_cropToggleBtn = nullptr;
    QPushButton *m_exportGifBtn = nullptr;
    QPushButton *m_moreFormatsBtn = nullptr;
    QLabel *m_estimateLabel = nullptr;
    QTimer *m_estimateTimer = nullptr;
    // The extension of the format the estimate is for: this editor's last
    // successful export, "gif" until then.
    QString m_estimateFormat = QStringLiteral("gif");
    // What the shown (or running) estimate was made from, and its job.
    QString m_estimatedKey;
    std::shared_ptr<ExportJob> m_estimateJob;
    // Guarded: the resize-field check swaps in fields of its own window.
    QPointer<QLineEdit> m_resizeWidth;
    QPointer<QLineEdit> m_resizeHeight;
    QPointer<QCheckBox> m_resizeLock;
    QPointer<QDialog> m_resizeSheet;
    QPointer<QFileDialog> m_saveDialog;
    QPointer<QDialog> m_progressSheet;
    // The running export, shared with its pool thread.
    std::shared_ptr<ExportJob> m_exportJob;
    // Its format's extension, which the size estimate follows once it succeeded.
    QString m_exportFormat;
    // The project the running export writes, and the last one exported.
    RecordingIndex m_exportingIndex;
    std::optional<RecordingIndex> m_exportedIndex;
    // What to do once the running export succeeded (quit, when the user
    // chose to export before quitting).
    std::function<void()> m_afterExport;
    std::shared_ptr<FrameStore> m_store;
    // The project as last saved to the store's folder.
    RecordingIndex m_savedIndex;
    QTimer *m_playTimer = nullptr;
    // Set once the user agreed to close (or the window closed): the next
    // close event goes through without asking again.
    bool m_closeApproved = false;
    bool m_closed = false;
    double m_resizeBaseAspect = 1.0;
    int64_t m_lastGoodW = 1;
    int64_t m_lastGoodH = 1;

    bool m_isPlaying = false;

    int m_beepCount = 0;
};
