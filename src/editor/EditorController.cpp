#include "editor/EditorController.h"

#include "base/Log.h"
#include "editor/FramePreviewView.h"
#include "editor/FrameStripView.h"

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>

EditorController::EditorController(GifProjectRef project, QObject *parent)
    : QObject(parent)
    , m_window(std::make_unique<QMainWindow>())
    , m_doc(std::move(project))
{
    m_window->resize(1000, 680);
    m_window->setWindowTitle(QStringLiteral("Quillo — Editor"));
    m_window->setMinimumSize(760, 520);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = m_window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }

    buildUI();

    int loopIndex = 0;
    switch (m_doc.project()->loopCount) {
    case 1:
        loopIndex = 1;
        break;
    case 3:
        loopIndex = 2;
        break;
    case 5:
        loopIndex = 3;
        break;
    default:
        break;
    }
    m_loopPopup->setCurrentIndex(loopIndex);

    refresh();
}

EditorController::~EditorController()
{
    stopPlay();
    cancelEstimate();
    // A focused field that is destroyed still reports losing the focus; no
    // commit may run into a half-destroyed field or controller.
    for (QLineEdit *field : {m_resizeWidth.data(), m_resizeHeight.data()})
        if (field)
            field->removeEventFilter(this);
    // The window goes first, while every member its views refer to still lives.
    m_window.reset();
}

void EditorController::beep()
{
    ++m_beepCount;
    QApplication::beep();
}

// --- history

void EditorController::undoAction()
{
    if (!m_doc.undo()) {
        beep();
        return;
    }
    showSpeed();
    refresh();
}

void EditorController::redoAction()
{
    if (!m_doc.redo()) {
        beep();
        return;
    }
    showSpeed();
    refresh();
}

void EditorController::applyRestored(HistoryEntry entry)
{
    m_doc.applyRestored(std::move(entry));
    showSpeed();
    refresh();
}

// --- selection

void EditorController::scrollToCurrent()
{
    m_strip->scrollTo(m_doc.current());
}

void EditorController::selectFrame(int64_t index, Qt::KeyboardModifiers modifiers)
{
    stopPlay();
    if (!m_doc.select(index, modifiers))
        return;
    refresh();
    scrollToCurrent();
}

void EditorController::goFirst()
{
    stopPlay();
    m_doc.selectFirst();
    refresh();
    scrollToCurrent();
}

void EditorController::goLast()
{
    stopPlay();
    m_doc.selectLast();
    refresh();
    scrollToCurrent();
}

void EditorController::goPrev()
{
    stopPlay();
    m_doc.selectPrev();
    refresh();
    scrollToCurrent();
}

void EditorController::goNext()
{
    stopPlay();
    m_doc.selectNext();
    refresh();
    scrollToCurrent();
}

void EditorController::selectAll()
{
    stopPlay();
    m_doc.selectAll();
    refresh();
}

// --- refresh

QString EditorController::statusText() const
{
    const GifProject &project = *m_doc.project();
    const int64_t current = m_doc.current();
    const int64_t delay = frameCount() > 0 ? project.frames[size_t(current)]->delayMs : 0;
    const Size canvas = project.canvasSize();
    return QString::asprintf("Frame %lld / %lld   ·   %.0f×%.0f   ·   total %.2fs   ·   delay %lldms",
        static_cast<long long>(current + 1), static_cast<long long>(frameCount()), canvas.width, canvas.height,
        double(project.totalDurationMs()) / 1000.0, static_cast<long long>(delay));
}

void EditorController::refresh()
{
    const int64_t count = frameCount();
    // Frames changed straight through project() can leave the current frame behind.
    m_doc.setCurrent(m_doc.current());
    const int64_t current = m_doc.current();
    const GifFrameList &frames = m_doc.project()->frames;
    if (count > 0)
        m_preview->setImage(frames[size_t(current)]->image());
    else
        m_preview->setImage(QImage());

    m_strip->setFrames(frames);
    m_strip->setCurrent(current);
    m_strip->setSelected(m_doc.selected());
    const int contentHeight = m_stripScroll->viewport()->height();
    m_strip->resize(int(std::max<int64_t>(count, 1) * FrameStripView::pitch + 16), std::max(contentHeight, 94));

    if (count > 0) {
        const int64_t delay = frames[size_t(current)]->delayMs;
        m_delayField->setText(QString::number(delay));
        // Programmatic values must not run the stepper's action.
        const QSignalBlocker block(m_delayStepper);
        m_delayStepper->setValue(int(std::clamp<int64_t>(delay, INT32_MIN, INT32_MAX)));
    }

    m_statusLabel->setText(statusText());
    saveIndexIfChanged();
    scheduleEstimate();
    // The status line is drawn text only. Scripts that drive the program from
    // outside can ask for it in the log after every change; by default it
    // stays out, since playback would write a line per frame.
    static const bool logStatus = qEnvironmentVariableIsSet("QUILLO_LOG_STATUS");
    if (logStatus)
        Log::write(QStringLiteral("status ") + m_statusLabel->text());
    m_window->setWindowTitle(
        QStringLiteral("Quillo — Editor  ·  ") + QString::number(count) + QStringLiteral(" frames"));
}
