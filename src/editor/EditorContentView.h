#pragma once

#include <QPointer>
#include <QWidget>

class EditorController;
class QKeyEvent;

// The editor window's root view. It holds the keyboard focus whenever no text
// field is being edited and hands every key to the controller first; what the
// controller declines takes Qt's ordinary way (up to the window, the menu
// shortcuts). Shortcut keys the controller claims (Ctrl+Z, Ctrl+A ...) are
// taken before the menu bar's shortcuts can see them. GUI thread only.
class EditorContentView : public QWidget {
    Q_OBJECT

public:
    explicit EditorContentView(QWidget *parent = nullptr);

    // Weak: the view never keeps the controller alive.
    EditorController *controller() const { return m_controller; }
    void setController(EditorController *controller) { m_controller = controller; }

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QPointer<EditorController> m_controller;
};
