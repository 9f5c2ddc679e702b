#include "editor/EditorController.h"

#include "editor/EditorStyle.h"
#include "editor/FramePreviewView.h"
#include "editor/FrameStripView.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>

// Playback shows each frame for its own delay and wraps at both ends forever;
// the loop setting only concerns the exported file. One single-shot timer is
// re-armed after every step, so exactly one step is pending at a time.

namespace {
// Keeps the timer from firing faster than 100 times a second.
constexpr int64_t kMinStepMs = 10;
} // namespace

void EditorController::playForwardTapped()
{
    toggleDirection(+1);
}

void EditorController::playBackwardTapped()
{
    toggleDirection(-1);
}

void EditorController::togglePlay()
{
    toggleDirection(+1);
}

void EditorController::toggleDirection(int64_t direction)
{
    if (m_isPlaying && m_playDirection == direction) {
        stopPlay();
        return;
    }
    m_playDirection = direction;
    if (frameCount() < 2 || m_preview->cropMode())
        return;
    m_isPlaying = true;
    syncPlayButtons();
    scheduleNext();
}

void EditorController::scheduleNext()
{
    m_playTimer->stop();
    if (!m_isPlaying || frameCount() == 0)
        return;
    const int64_t index = std::clamp<int64_t>(m_doc.current(), 0, frameCount() - 1);
    const int64_t delay = std::max(project()->frames[size_t(index)]->delayMs, kMinStepMs);
    m_playTimer->start(int(std::min<int64_t>(delay, INT32_MAX)));
}

void EditorController::playStep()
{
    if (!m_isPlaying)
        return;
    const int64_t count = frameCount();
    if (count == 0) {
        stopPlay();
        return;
    }
    // Undo may have shortened the list since the last step.
    m_doc.setCurrent(((std::min(m_doc.current(), count - 1) + m_playDirection) % count + count) % count);
    const int64_t current = m_doc.current();
    const GifFrameRef &frame = project()->frames[size_t(current)];
    m_preview->setImage(frame->image());
    m_strip->setCurrent(current);
    m_strip->scrollTo(current);
    m_statusLabel->setText(statusText());
    m_delayField->setText(QString::number(frame->delayMs));
    {
        const QSignalBlocker block(m_delayStepper);
        m_delayStepper->setValue(int(std::clamp<int64_t>(frame->delayMs, 10, INT32_MAX)));
    }
    scheduleNext();
}

void EditorController::stopPlay()
{
    m_isPlaying = false;
    if (m_playTimer)
        m_playTimer->stop();
    syncPlayButtons();
}

void EditorController::syncPlayButtons()
{
    EditorStyle::setSymbolTitle(
        m_playFwdButton, m_isPlaying && m_playDirection > 0 ? QStringLiteral("⏸") : QStringLiteral("▶"));
    EditorStyle::setSymbolTitle(
        m_playBackButton, m_isPlaying && m_playDirection < 0 ? QStringLiteral("⏸") : QStringLiteral("◀"));
}
