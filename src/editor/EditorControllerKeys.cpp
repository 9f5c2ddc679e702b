#include "editor/EditorController.h"

#include "base/MainThread.h"
#include "editor/EditorStyle.h"
#include "editor/FramePreviewView.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>

#include <algorithm>

// The keyboard and the way out of the editor. Keys are read by Qt key code,
// never by text, so they work on every layout; Ctrl stands for Command.

bool EditorController::isEditingText() const
{
    const QWidget *focus = QApplication::focusWidget();
    return qobject_cast<const QLineEdit *>(focus) || qobject_cast<const QAbstractSpinBox *>(focus)
        || qobject_cast<const QTextEdit *>(focus) || qobject_cast<const QPlainTextEdit *>(focus);
}

bool EditorController::handleKey(const QKeyEvent &event)
{
    if (isEditingText())
        return false;
    switch (event.key()) {
    case Qt::Key_Space:
        togglePlay();
        return true;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        deleteSelected();
        return true;
    case Qt::Key_Escape:
        if (!m_preview->cropMode())
            return false;
        cancelCrop();
        return true;
    case Qt::Key_Left:
        goPrev();
        return true;
    case Qt::Key_Right:
        goNext();
        return true;
    case Qt::Key_Home:
        goFirst();
        return true;
    case Qt::Key_End:
        goLast();
        return true;
    default:
        return false;
    }
}

bool EditorController::handleDefaultButton(const QKeyEvent &event)
{
    if (isEditingText() || (event.key() != Qt::Key_Return && event.key() != Qt::Key_Enter)
        || (event.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    if (!m_exportGifBtn || !m_exportGifBtn->isVisible() || !m_exportGifBtn->isEnabled())
        return false;
    m_exportGifBtn->animateClick();
    return true;
}

bool EditorController::claimsKeyEquivalent(const QKeyEvent &event) const
{
    if (isEditingText() || !(event.modifiers() & Qt::ControlModifier))
        return false;
    switch (event.key()) {
    case Qt::Key_S:
    case Qt::Key_A:
    case Qt::Key_Z:
    case Qt::Key_Y:
    case Qt::Key_BracketLeft:
    case Qt::Key_BracketRight:
        return true;
    default:
        return false;
    }
}

bool EditorController::handleKeyEquivalent(const QKeyEvent &event)
{
    if (!claimsKeyEquivalent(event))
        return false;
    switch (event.key()) {
    case Qt::Key_S:
        exportGIF();
        return true;
    case Qt::Key_A:
        selectAll();
        return true;
    case Qt::Key_Z:
        if (event.modifiers() & Qt::ShiftModifier)
            redoAction();
        else
            undoAction();
        return true;
    case Qt::Key_Y:
        redoAction();
        return true;
    case Qt::Key_BracketLeft:
        shiftSelection(-1);
        return true;
    case Qt::Key_BracketRight:
        shiftSelection(+1);
        return true;
    default:
        return false;
    }
}

// --- closing

void EditorController::recordAgain()
{
    performClose();
}

bool EditorController::performClose()
{
    if (m_closed)
        return true;
    if (!windowShouldClose())
        return false;
    m_closeApproved = true;
    m_window->close();
    return true;
}

int EditorController::askWarning(const QString &text, const QString &details,
    const std::vector<std::pair<QString, QMessageBox::ButtonRole>> &choices)
{
    QMessageBox alert(QMessageBox::Warning, QStringLiteral("Quillo"), text, QMessageBox::NoButton, m_window.get());
    alert.setInformativeText(details);
    std::vector<QPushButton *> buttons;
    for (const auto &[title, role] : choices)
        buttons.push_back(alert.addButton(title, role));
    QPushButton *cancel = alert.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    alert.setDefaultButton(cancel);
    alert.setEscapeButton(cancel);
    EditorStyle::applyDark(&alert);
    alert.exec();
    const auto taken = std::find(buttons.begin(), buttons.end(), alert.clickedButton());
    if (taken != buttons.end())
        return int(taken - buttons.begin());
    // Without a window manager nobody hands the focus back after the alert.
    m_window->activateWindow();
    return -1;
}

bool EditorController::windowShouldClose()
{
    const int choice = askWarning(QStringLiteral("Start a new recording?"),
        QStringLiteral("This resets the current GIF (") + QString::number(frameCount())
            + QStringLiteral(" frames). Any unsaved edits will be lost."),
        {{QStringLiteral("Discard && Record"), QMessageBox::DestructiveRole}});
    if (choice != 0)
        return false;
    stopPlay();
    return true;
}

bool EditorController::handleWindowClose(QEvent *event)
{
    if (m_closed)
        return false;
    // A close from code (the shell's own, a self-test's) is the plain close
    // and asks nothing; the window's close button does.
    if (!m_closeApproved && event->spontaneous()) {
        if (!windowShouldClose()) {
            event->ignore();
            return true;
        }
    }
    m_closeApproved = true;
    windowWillClose();
    return false;
}

void EditorController::windowWillClose()
{
    m_closed = true;
    stopPlay();
    endResizeSheet();
    // The user agreed to lose this recording to a new one, or quits after
    // exporting or discarding it.
    discardRecording();
    // After the window has finished closing; the shell may drop this
    // controller in it, so the call must not run inside our own frames.
    if (onRecordAgain)
        postToMain(onRecordAgain);
}
