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
    , m_project(project ? std::move(project) : std::make_shared<GifProject>(GifFrameList {}, 0))
{
    m_window->resize(1000, 680);
    m_window->setWindowTitle(QStringLiteral("Quillo — Editor"));
    m_window->setMinimumSize(760, 520);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = m_window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }

    rebuildBaseDelays();
    buildUI();

    int loopIndex = 0;
    switch (m_project->loopCount) {
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

std::optional<int64_t> EditorController::baseDelay(const GifFrameRef &frame) const
{
    const auto it = m_baseDelay.find(frame);
    if (it == m_baseDelay.end())
        return std::nullopt;
    return it->second;
}

void EditorController::rebuildBaseDelays()
{
    m_baseDelay.clear();
    for (const GifFrameRef &frame : m_project->frames)
        m_baseDelay[frame] = frame->delayMs;
}

// --- history

EditorController::HistoryEntry EditorController::historyEntry() const
{
    HistoryEntry entry {m_project->snapshot(), {}, m_speedFactor};
    entry.baseDelays.reserve(m_project->frames.size());
    for (const GifFrameRef &frame : m_project->frames)
        entry.baseDelays.push_back(baseDelay(frame).value_or(frame->delayMs));
    return entry;
}

void EditorController::pushUndo()
{
    m_undoStack.push_back(historyEntry());
    if (m_undoStack.size() > maxUndo)
        m_undoStack.erase(m_undoStack.begin());
    m_redoStack.clear();
}

void EditorController::undoAction()
{
    if (m_undoStack.empty()) {
        beep();
        return;
    }
    HistoryEntry entry = std::move(m_undoStack.back());
    m_undoStack.pop_back();
    // The way back is not capped: it can never outgrow the undo history.
    m_redoStack.push_back(historyEntry());
    applyRestored(std::move(entry));
}

void EditorController::redoAction()
{
    if (m_redoStack.empty()) {
        beep();
        return;
    }
    HistoryEntry entry = std::move(m_redoStack.back());
    m_redoStack.pop_back();
    m_undoStack.push_back(historyEntry());
    applyRestored(std::move(entry));
}

void EditorController::applyRestored(HistoryEntry entry)
{
    m_project->restore(std::move(entry.frames));
    rebuildBaseDelays();
    if (entry.baseDelays.size() == m_project->frames.size()) {
        for (size_t i = 0; i < entry.baseDelays.size(); ++i)
            m_baseDelay[m_project->frames[i]] = entry.baseDelays[i];
    }
    m_speedFactor = entry.speedFactor;
    showSpeed();
    m_current = std::min(m_current, std::max<int64_t>(frameCount() - 1, 0));
    if (frameCount() > 0)
        m_selected = {m_current};
    else
        m_selected.clear();
    m_anchor = m_current;
    refresh();
}

// --- selection

void EditorController::setSingleSelection(int64_t index)
{
    m_current = index;
    m_selected = {index};
    m_anchor = index;
}

void EditorController::scrollToCurrent()
{
    m_strip->scrollTo(m_current);
}

void EditorController::selectFrame(int64_t index, Qt::KeyboardModifiers modifiers)
{
    stopPlay();
    if (index < 0 || index >= frameCount())
        return;
    if (modifiers & Qt::ShiftModifier) {
        m_selected.clear();
        for (int64_t i = std::min(m_anchor, index); i <= std::max(m_anchor, index); ++i)
            m_selected.insert(i);
    } else if (modifiers & Qt::ControlModifier) {
        if (!m_selected.erase(index))
            m_selected.insert(index);
        m_anchor = index;
    } else {
        m_selected = {index};
        m_anchor = index;
    }
    if (m_selected.empty())
        m_selected = {index};
    m_current = index;
    refresh();
    scrollToCurrent();
}

void EditorController::goFirst()
{
    stopPlay();
    setSingleSelection(0);
    refresh();
    scrollToCurrent();
}

void EditorController::goLast()
{
    stopPlay();
    setSingleSelection(std::max<int64_t>(frameCount() - 1, 0));
    refresh();
    scrollToCurrent();
}

void EditorController::goPrev()
{
    stopPlay();
    setSingleSelection(std::max<int64_t>(m_current - 1, 0));
    refresh();
    scrollToCurrent();
}

void EditorController::goNext()
{
    stopPlay();
    // Kept at 0 for an empty project, where "count - 1" would be -1.
    setSingleSelection(std::max<int64_t>(std::min(m_current + 1, frameCount() - 1), 0));
    refresh();
    scrollToCurrent();
}

void EditorController::selectAll()
{
    stopPlay();
    m_selected.clear();
    for (int64_t i = 0; i < frameCount(); ++i)
        m_selected.insert(i);
    m_anchor = 0;
    refresh();
}

// --- refresh

QString EditorController::statusText() const
{
    const Size canvas = m_project->canvasSize();
    const int64_t delay = frameCount() > 0 ? m_project->frames[size_t(m_current)]->delayMs : 0;
    return QString::asprintf("Frame %lld / %lld   ·   %.0f×%.0f   ·   total %.2fs   ·   delay %lldms",
        static_cast<long long>(m_current + 1), static_cast<long long>(frameCount()), canvas.width, canvas.height,
        double(m_project->totalDurationMs()) / 1000.0, static_cast<long long>(delay));
}

void EditorController::refresh()
{
    const int64_t count = frameCount();
    if (count > 0) {
        m_current = std::clamp<int64_t>(m_current, 0, count - 1);
        m_preview->setImage(m_project->frames[size_t(m_current)]->image());
    } else {
        m_current = 0;
        m_preview->setImage(QImage());
    }

    m_strip->setFrames(m_project->frames);
    m_strip->setCurrent(m_current);
    m_strip->setSelected(m_selected);
    const int contentHeight = m_stripScroll->viewport()->height();
    m_strip->resize(int(std::max<int64_t>(count, 1) * FrameStripView::pitch + 16), std::max(contentHeight, 94));

    if (count > 0) {
        const int64_t delay = m_project->frames[size_t(m_current)]->delayMs;
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
