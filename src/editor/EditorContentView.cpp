#include "editor/EditorContentView.h"

#include "editor/EditorController.h"

#include <QKeyEvent>

EditorContentView::EditorContentView(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

bool EditorContentView::event(QEvent *event)
{
    // Accepting the override makes Qt deliver the key as an ordinary key press
    // here instead of triggering a menu shortcut with the same keys.
    if (event->type() == QEvent::ShortcutOverride && m_controller
        && m_controller->claimsKeyEquivalent(*static_cast<QKeyEvent *>(event))) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void EditorContentView::keyPressEvent(QKeyEvent *event)
{
    if (m_controller) {
        const bool handled = (event->modifiers() & Qt::ControlModifier) ? m_controller->handleKeyEquivalent(*event)
                                                                        : m_controller->handleKey(*event);
        if (handled) {
            event->accept();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}
