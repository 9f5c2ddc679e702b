#include "editor/EditorController.h"

#include <QPushButton>

// Playback itself (the timer, steps, direction toggling) arrives with the
// editor window; every operation already stops it through stopPlay().

void EditorController::stopPlay()
{
    m_isPlaying = false;
    syncPlayButtons();
}

void EditorController::syncPlayButtons()
{
    if (m_playFwdButton)
        m_playFwdButton->setText(m_isPlaying && m_playDirection > 0 ? QStringLiteral("⏸") : QStringLiteral("▶"));
    if (m_playBackButton)
        m_playBackButton->setText(m_isPlaying && m_playDirection < 0 ? QStringLiteral("⏸") : QStringLiteral("◀"));
}
