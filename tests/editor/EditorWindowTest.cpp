#include "EditorTestSupport.h"

#include "editor/EditorContentView.h"
#include "editor/EditorStyle.h"
#include "editor/FramePreviewView.h"
#include "editor/FrameStripView.h"
#include "export/ExportJob.h"
#include "export/GifExporter.h"
#include "support/TestUtil.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace {

QString playTitle(const EditorController &c, bool forward)
{
    return EditorStyle::titleOf(forward ? c.playFwdButton() : c.playBackButton());
}

bool key(EditorController &c, int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QKeyEvent event(QEvent::KeyPress, code, modifiers);
    return (modifiers & Qt::ControlModifier) ? c.handleKeyEquivalent(event) : c.handleKey(event);
}

// Answers the next modal question with the button titled `choice`, and
// remembers the question's informative text.
void answerNextAlert(const QString &choice, QString *informative)
{
    QTimer::singleShot(0, [choice, informative] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        *informative = box->informativeText();
        for (QAbstractButton *b : box->buttons()) {
            // "&&" shows a plain "&" rather than marking a shortcut letter.
            if (b->text().replace(QStringLiteral("&&"), QStringLiteral("&")) == choice)
                b->click();
        }
    });
}

} // namespace

TEST(EditorPlayback, StepsWrapBothWaysAndEachButtonTogglesItsDirection)
{
    EditorController c(makeProject(3, 8, 6, 10));
    c.goLast();
    c.playForwardTapped();
    EXPECT_TRUE(c.isPlaying());
    EXPECT_EQ(playTitle(c, true), QStringLiteral("⏸"));
    EXPECT_EQ(playTitle(c, false), QStringLiteral("◀"));
    ASSERT_TRUE(waitUntil([&] { return c.current() == 0; }));

    // The other direction reverses without stopping; from 0 it wraps to 2.
    c.playBackwardTapped();
    EXPECT_TRUE(c.isPlaying());
    EXPECT_EQ(c.playDirection(), -1);
    EXPECT_EQ(playTitle(c, true), QStringLiteral("▶"));
    EXPECT_EQ(playTitle(c, false), QStringLiteral("⏸"));
    ASSERT_TRUE(waitUntil([&] { return c.current() == 2; }));
    // Steps move the marker only: the selection made before playing stays.
    EXPECT_EQ(c.selected(), (std::set<int64_t> {2}));

    c.playBackwardTapped();
    EXPECT_FALSE(c.isPlaying());
    EXPECT_EQ(playTitle(c, false), QStringLiteral("◀"));
    EXPECT_EQ(c.playDirection(), -1);

    // Navigation stops playback.
    c.togglePlay();
    ASSERT_TRUE(c.isPlaying());
    c.goFirst();
    EXPECT_FALSE(c.isPlaying());
}

TEST(EditorPlayback, DoesNotStartWithOneFrameOrInCropMode)
{
    EditorController one(makeProject(1));
    one.playForwardTapped();
    EXPECT_FALSE(one.isPlaying());
    EXPECT_EQ(playTitle(one, true), QStringLiteral("▶"));

    EditorController c(makeProject(4));
    c.enterCrop();
    EXPECT_TRUE(key(c, Qt::Key_Space));
    EXPECT_FALSE(c.isPlaying());
    // Escape leaves crop mode; outside it, Escape is not the editor's.
    EXPECT_TRUE(key(c, Qt::Key_Escape));
    EXPECT_FALSE(c.preview()->cropMode());
    EXPECT_FALSE(key(c, Qt::Key_Escape));
}

TEST(EditorKeys, PlainKeysAndControlCombinations)
{
    EditorController c(makeProject(5));
    EXPECT_TRUE(key(c, Qt::Key_Right));
    EXPECT_TRUE(key(c, Qt::Key_Right));
    EXPECT_EQ(c.current(), 2);
    EXPECT_TRUE(key(c, Qt::Key_Left));
    EXPECT_EQ(c.current(), 1);

    EXPECT_TRUE(key(c, Qt::Key_Backspace));
    EXPECT_EQ(c.project()->frames.size(), 4u);
    EXPECT_TRUE(key(c, Qt::Key_Delete));
    EXPECT_EQ(c.project()->frames.size(), 3u);

    EXPECT_TRUE(key(c, Qt::Key_Z, Qt::ControlModifier));
    EXPECT_EQ(c.project()->frames.size(), 4u);
    EXPECT_TRUE(key(c, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_EQ(c.project()->frames.size(), 3u);

    // Select all keeps the current frame where it is.
    const int64_t current = c.current();
    EXPECT_TRUE(key(c, Qt::Key_A, Qt::ControlModifier));
    EXPECT_EQ(c.selected(), (std::set<int64_t> {0, 1, 2}));
    EXPECT_EQ(c.current(), current);

    EXPECT_FALSE(key(c, Qt::Key_Q, Qt::ControlModifier));
    EXPECT_FALSE(key(c, Qt::Key_X));
    // Plain "s" is nobody's business here.
    EXPECT_FALSE(key(c, Qt::Key_S));
}

TEST(EditorWindow, NewRecordingAsksFirstAndCallsBackOnceAfterClosing)
{
    EditorController c(makeProject(37));
    int calls = 0;
    c.onRecordAgain = [&calls] { ++calls; };
    c.window()->show();
    c.deleteSelected();
    const size_t undo = c.undoDepth();

    QString informative;
    answerNextAlert(QStringLiteral("Cancel"), &informative);
    c.recordAgain();
    EXPECT_EQ(informative, QStringLiteral("This resets the current GIF (36 frames). Any unsaved edits will be lost."));
    EXPECT_TRUE(c.window()->isVisible());
    EXPECT_EQ(c.undoDepth(), undo);
    QApplication::processEvents();
    EXPECT_EQ(calls, 0);

    answerNextAlert(QStringLiteral("Discard & Record"), &informative);
    c.togglePlay();
    c.recordAgain();
    EXPECT_FALSE(c.window()->isVisible());
    EXPECT_FALSE(c.isPlaying());
    // Not inside the close itself: on a later turn of the event loop.
    EXPECT_EQ(calls, 0);
    ASSERT_TRUE(waitUntil([&] { return calls == 1; }));
    QApplication::processEvents();
    EXPECT_EQ(calls, 1);
}

TEST(EditorWindow, PlainCloseFromCodeAsksNothing)
{
    EditorController c(makeProject(3));
    int calls = 0;
    c.onRecordAgain = [&calls] { ++calls; };
    c.window()->show();
    c.window()->close();
    EXPECT_FALSE(c.window()->isVisible());
    ASSERT_TRUE(waitUntil([&] { return calls == 1; }));
}

TEST(EditorExport, SaveDialogProposesTheRememberedNameAndAnExistingFolder)
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings("Quillo", "Quillo").clear();
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    EXPECT_EQ(EditorController::proposedExportName(QStringLiteral("gif")), QStringLiteral("Quillo.gif"));
    EXPECT_EQ(EditorController::proposedExportDir(), desktop);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString clips = dir.filePath(QStringLiteral("Clips"));
    ASSERT_TRUE(QDir().mkpath(clips));
    EditorController::rememberExportPath(clips + QStringLiteral("/Demo.gif"));
    EXPECT_EQ(EditorController::proposedExportName(QStringLiteral("gif")), QStringLiteral("Demo.gif"));
    EXPECT_EQ(EditorController::proposedExportName(QStringLiteral("mp4")), QStringLiteral("Demo.mp4"));
    EXPECT_EQ(EditorController::proposedExportDir(), clips);

    // A folder that went away: the Desktop again, the name still remembered.
    ASSERT_TRUE(QDir(clips).removeRecursively());
    EXPECT_EQ(EditorController::proposedExportDir(), desktop);
    EXPECT_EQ(EditorController::proposedExportName(QStringLiteral("gif")), QStringLiteral("Demo.gif"));

    // A failed export into "a file as folder" remembers a path that is a file:
    // the dialog cannot open there, so the Desktop again.
    QFile file(dir.filePath(QStringLiteral("clip.gif")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EditorController::rememberExportPath(file.fileName() + QStringLiteral("/x.gif"));
    EXPECT_EQ(EditorController::proposedExportDir(), desktop);
    QSettings("Quillo", "Quillo").clear();
    QStandardPaths::setTestModeEnabled(false);
}

TEST(EditorExport, QualityFallsBackToTheLowestLevelWithNothingChosen)
{
    EditorController c(makeProject(2));
    EXPECT_EQ(c.qualityPopup()->count(), 4);
    EXPECT_EQ(c.chosenQuality(), GifQuality::low);
    c.qualityPopup()->setCurrentIndex(2);
    EXPECT_EQ(c.chosenQuality(), GifQuality::high);
    c.qualityPopup()->setCurrentIndex(-1);
    EXPECT_EQ(c.chosenQuality(), GifQuality::low);
    // An encoder title that matches nothing available: the default encoder.
    c.encoderPopup()->clear();
    c.encoderPopup()->addItem(QStringLiteral("Gone (tool)"));
    EXPECT_EQ(c.chosenEncoder(), GifExporter::defaultEncoder());
}

TEST(EditorExport, TheNextEditorOffersTheQualityAndEncoderLastChosen)
{
    QSettings("Quillo", "Quillo").clear();
    const QString builtIn = label(GifEncoder::imageIO);
    {
        EditorController first(makeProject(2));
        // Shown but not chosen: nothing is remembered.
        EXPECT_FALSE(QSettings("Quillo", "Quillo").contains(EditorController::qualitySettingKey));
        first.qualityPopup()->setCurrentIndex(3);
        emit first.qualityPopup()->activated(3);
        const int index = first.encoderPopup()->findText(builtIn);
        ASSERT_GE(index, 0);
        first.encoderPopup()->setCurrentIndex(index);
        emit first.encoderPopup()->activated(index);
    }
    EditorController second(makeProject(2));
    EXPECT_EQ(second.chosenQuality(), GifQuality::max);
    EXPECT_EQ(second.encoderPopup()->currentText(), builtIn);

    // A remembered encoder that is no longer installed, and a quality that
    // names no level: the defaults.
    QSettings("Quillo", "Quillo").setValue(EditorController::encoderSettingKey, QStringLiteral("gifski"));
    QSettings("Quillo", "Quillo").setValue(EditorController::qualitySettingKey, QStringLiteral("High"));
    const QByteArray previous = qgetenv("QUILLO_TOOL_DIRS");
    const bool had = qEnvironmentVariableIsSet("QUILLO_TOOL_DIRS");
    qputenv("QUILLO_TOOL_DIRS", "");
    EditorController third(makeProject(2));
    EXPECT_EQ(third.chosenQuality(), GifQuality::low);
    EXPECT_EQ(third.encoderPopup()->currentText(), builtIn);
    if (had)
        qputenv("QUILLO_TOOL_DIRS", previous);
    else
        qunsetenv("QUILLO_TOOL_DIRS");
    QSettings("Quillo", "Quillo").clear();
}

TEST(EditorExport, FailureShowsTheAlertAfterTheProgressSheet_AndOnlySuccessIsRemembered)
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings("Quillo", "Quillo").clear();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EditorController c(makeProject(3));
    c.window()->show();
    c.enterCrop();
    c.togglePlay();

    // Cancelling the dialog writes nothing and runs nothing.
    std::atomic<int> runs {0};
    c.runSave(QStringLiteral("gif"), QStringLiteral("GIF image (*.gif)"), [&runs](const QString &, ExportJob &) {
        ++runs;
        return ExportResult {true, QString()};
    });
    // Saving leaves crop mode first.
    EXPECT_FALSE(c.preview()->cropMode());
    ASSERT_TRUE(c.saveDialog());
    c.saveDialog()->reject();
    QApplication::processEvents();
    EXPECT_FALSE(QSettings("Quillo", "Quillo").contains(QStringLiteral("lastExportName")));

    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    QString seenPath;
    c.runSave(QStringLiteral("gif"), QStringLiteral("GIF image (*.gif)"),
        [&runs, &seenPath, released](const QString &path, ExportJob &) {
            ++runs;
            seenPath = path;
            released.wait();
            return ExportResult {false, QStringLiteral("ffmpeg failed (exit 1).")};
        });
    ASSERT_TRUE(c.saveDialog());
    c.saveDialog()->selectFile(dir.filePath(QStringLiteral("Broken.gif")));
    // Through QDialog: the same virtual accept the Save button runs.
    static_cast<QDialog *>(c.saveDialog())->accept();
    // The export runs off the GUI thread behind the sheet.
    ASSERT_TRUE(waitUntil([&] { return c.progressSheet() && c.progressSheet()->isVisible(); }));
    release.set_value();

    QMessageBox *alert = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        for (QMessageBox *box : c.window()->findChildren<QMessageBox *>()) {
            if (box->isVisible())
                alert = box;
        }
        return alert != nullptr;
    }));
    EXPECT_EQ(alert->text(), QStringLiteral("Export failed"));
    EXPECT_EQ(alert->informativeText(), QStringLiteral("ffmpeg failed (exit 1)."));
    EXPECT_FALSE(c.progressSheet());
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(QFileInfo(seenPath).fileName(), QStringLiteral("Broken.gif"));
    // A folder that failed is not proposed next time.
    EXPECT_FALSE(QSettings("Quillo", "Quillo").contains(QStringLiteral("lastExportName")));
    EXPECT_FALSE(QSettings("Quillo", "Quillo").contains(QStringLiteral("lastExportDir")));
    alert->accept();

    // Cancel on the sheet: the job hears it, no alert, nothing remembered; the
    // progress the export reports shows as a percentage.
    std::atomic<bool> sawCancel {false};
    c.runSave(
        QStringLiteral("gif"), QStringLiteral("GIF image (*.gif)"), [&sawCancel](const QString &, ExportJob &job) {
            job.reportProgress(0.42);
            while (!job.isCancelled())
                QThread::msleep(5);
            sawCancel = true;
            return ExportResult {false, QString::fromLatin1(CANCELLED_MESSAGE)};
        });
    ASSERT_TRUE(c.saveDialog());
    c.saveDialog()->selectFile(dir.filePath(QStringLiteral("Cancelled.gif")));
    static_cast<QDialog *>(c.saveDialog())->accept();
    ASSERT_TRUE(waitUntil([&] { return c.progressSheet() && c.progressSheet()->isVisible(); }));
    auto *bar = c.progressSheet()->findChild<QProgressBar *>();
    ASSERT_TRUE(bar);
    ASSERT_TRUE(waitUntil([&] { return bar->value() == 42; }));
    QPushButton *cancel = nullptr;
    for (QPushButton *button : c.progressSheet()->findChildren<QPushButton *>()) {
        if (button->text() == QStringLiteral("Cancel"))
            cancel = button;
    }
    ASSERT_TRUE(cancel);
    cancel->click();
    ASSERT_TRUE(waitUntil([&] { return !c.isExporting() && !c.progressSheet(); }));
    EXPECT_TRUE(sawCancel);
    for (QMessageBox *box : c.window()->findChildren<QMessageBox *>())
        EXPECT_FALSE(box->isVisible()) << box->text().toStdString();
    EXPECT_FALSE(QSettings("Quillo", "Quillo").contains(QStringLiteral("lastExportDir")));
    QSettings("Quillo", "Quillo").clear();
    QStandardPaths::setTestModeEnabled(false);
}

// On a 1,024-pixel screen (or 2,048 at scale 2) the editor window is 984
// logical pixels wide: every control of the rows above the preview keeps its
// whole text inside it, with and without the crop buttons.
TEST(EditorWindow, EveryControlKeepsItsWholeTextInAWindowOnA1024PixelScreen)
{
    EditorController c(makeProject(3, 640, 420));
    c.window()->resize(984, 700);
    c.window()->show();
    for (const bool crop : {false, true}) {
        if (crop)
            c.enterCrop();
        QApplication::processEvents();
        EXPECT_LE(c.window()->width(), 984) << "crop " << crop;
        const int previewTop = c.preview()->mapTo(c.window(), QPoint(0, 0)).y();
        const QRect inside = c.window()->rect();
        int checked = 0;
        for (QWidget *w : c.content()->findChildren<QWidget *>()) {
            const bool control = qobject_cast<QAbstractButton *>(w) || qobject_cast<QComboBox *>(w)
                || qobject_cast<QLabel *>(w) || qobject_cast<QLineEdit *>(w);
            if (!control || !w->isVisible() || w->mapTo(c.window(), QPoint(0, 0)).y() >= previewTop)
                continue;
            const QRect at(w->mapTo(c.window(), QPoint(0, 0)), w->size());
            const QString name = qobject_cast<QAbstractButton *>(w) ? qobject_cast<QAbstractButton *>(w)->text()
                : qobject_cast<QLabel *>(w)                         ? qobject_cast<QLabel *>(w)->text()
                : qobject_cast<QComboBox *>(w)                      ? qobject_cast<QComboBox *>(w)->currentText()
                                                                    : QStringLiteral("field");
            EXPECT_TRUE(inside.contains(at)) << name.toStdString() << " crop " << crop;
            // Number fields are as wide as their longest useful number, not
            // their generic hint.
            if (!qobject_cast<QLineEdit *>(w)) {
                EXPECT_GE(w->width(), w->sizeHint().width()) << name.toStdString() << " crop " << crop;
            }
            ++checked;
        }
        EXPECT_GT(checked, 20);
    }
}

TEST(EditorWindow, TheVerticalWheelScrollsTheStripSideways)
{
    EditorController c(makeProject(200, 64, 48));
    c.window()->resize(984, 700);
    c.window()->show();
    QApplication::processEvents();
    auto *scroll
        = c.strip()->parentWidget() ? qobject_cast<QScrollArea *>(c.strip()->parentWidget()->parentWidget()) : nullptr;
    ASSERT_TRUE(scroll);
    QScrollBar *bar = scroll->horizontalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    const QPointF at(20, 20);
    const auto wheel = [&](QPoint angle) {
        QWheelEvent event(at, scroll->viewport()->mapToGlobal(at), QPoint(), angle, Qt::NoButton, Qt::NoModifier,
            Qt::NoScrollPhase, false);
        QApplication::sendEvent(scroll->viewport(), &event);
    };
    wheel(QPoint(0, -120)); // down: on to later frames
    const int afterDown = bar->value();
    EXPECT_GT(afterDown, 0);
    wheel(QPoint(0, 120));
    EXPECT_LT(bar->value(), afterDown);
    wheel(QPoint(-120, 0)); // a sideways wheel still works
    EXPECT_GT(bar->value(), 0);
}

// The estimate follows the edits: it appears once the window is shown, and a
// delete of most frames makes it smaller.
TEST(EditorExport, TheSizeEstimateFollowsTheEdits)
{
    QSettings("Quillo", "Quillo").clear();
    GifFrameList frames;
    for (int i = 0; i < 60; ++i) {
        QImage image(160, 120, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        for (int y = 0; y < 120; y += 6)
            image.setPixel((i * 13 + y * 7) % 160, y, qRgb(i * 4, y * 2, 90));
        frames.push_back(std::make_shared<GifFrame>(image, 50));
    }
    EditorController c(std::make_shared<GifProject>(std::move(frames), 20));
    c.encoderPopup()->setCurrentIndex(c.encoderPopup()->findText(label(GifEncoder::imageIO)));
    c.window()->show();
    const auto shownBytes = [&]() -> double {
        const QString text = c.estimateLabel()->text();
        if (!text.startsWith(QStringLiteral("GIF ≈ ")) || text.endsWith(QStringLiteral("…")))
            return -1;
        const QStringList parts = text.mid(6).split(QLatin1Char(' '));
        const double scale = parts.value(1) == QStringLiteral("kB") ? 1e3 : parts.value(1) == "MB" ? 1e6 : 1;
        return parts.value(0).toDouble() * scale;
    };
    ASSERT_TRUE(waitUntil([&] { return shownBytes() > 0; }, 10000)) << c.estimateLabel()->text().toStdString();
    const double before = shownBytes();
    c.selectFrame(5, Qt::NoModifier);
    c.selectFrame(59, Qt::ShiftModifier);
    c.deleteSelected();
    ASSERT_EQ(c.project()->frames.size(), 5u);
    ASSERT_TRUE(waitUntil([&] { return shownBytes() > 0 && shownBytes() < before; }, 10000))
        << c.estimateLabel()->text().toStdString() << " after " << before;
    QSettings("Quillo", "Quillo").clear();
}
