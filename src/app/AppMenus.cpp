#include "app/AppMenus.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QWidget>

namespace {

QAction *addItem(QMenu *menu, const QString &title, const QKeySequence &key = {})
{
    QAction *action = menu->addAction(title);
    if (!key.isEmpty())
        action->setShortcut(key);
    return action;
}

// An edit command goes to the focused widget first (a text field), then to the
// active window if it has a slot of that name (the editor has "undo").
void sendToFirstResponder(const char *slot)
{
    if (QWidget *focus = QApplication::focusWidget()) {
        if (qobject_cast<QLineEdit *>(focus)) {
            QMetaObject::invokeMethod(focus, slot);
            return;
        }
    }
    if (QWidget *window = QApplication::activeWindow()) {
        const QByteArray signature = QByteArray(slot) + "()";
        if (window->metaObject()->indexOfMethod(signature.constData()) >= 0)
            QMetaObject::invokeMethod(window, slot);
    }
}

} // namespace

AppMenus buildAppMenus()
{
    AppMenus m;
    m.application = new QMenu(QStringLiteral("Quillo"));
    m.about = addItem(m.application, QStringLiteral("About Quillo"));
    m.application->addSeparator();
    m.hide = addItem(m.application, QStringLiteral("Hide Quillo"), QKeySequence(Qt::CTRL | Qt::Key_H));
    m.quit = addItem(m.application, QStringLiteral("Quit Quillo"), QKeySequence(Qt::CTRL | Qt::Key_Q));

    m.file = new QMenu(QStringLiteral("File"));
    m.exportGif = addItem(m.file, QStringLiteral("Export GIF\u2026"), QKeySequence(Qt::CTRL | Qt::Key_S));
    m.file->addSeparator();
    m.close = addItem(m.file, QStringLiteral("Close"), QKeySequence(Qt::CTRL | Qt::Key_W));

    m.edit = new QMenu(QStringLiteral("Edit"));
    m.undo = addItem(m.edit, QStringLiteral("Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z));
    m.edit->addSeparator();
    m.cut = addItem(m.edit, QStringLiteral("Cut"), QKeySequence(Qt::CTRL | Qt::Key_X));
    m.copy = addItem(m.edit, QStringLiteral("Copy"), QKeySequence(Qt::CTRL | Qt::Key_C));
    m.paste = addItem(m.edit, QStringLiteral("Paste"), QKeySequence(Qt::CTRL | Qt::Key_V));
    m.selectAll = addItem(m.edit, QStringLiteral("Select All"), QKeySequence(Qt::CTRL | Qt::Key_A));

    m.window = new QMenu(QStringLiteral("Window"));
    m.minimize = addItem(m.window, QStringLiteral("Minimize"), QKeySequence(Qt::CTRL | Qt::Key_M));
    m.zoom = addItem(m.window, QStringLiteral("Zoom"));

    QObject::connect(m.about, &QAction::triggered, [] {
        QMessageBox::about(QApplication::activeWindow(), QStringLiteral("About Quillo"),
            QStringLiteral("Quillo %1\nRecord a part of the screen, edit the frames, "
                           "export a GIF or an MP4.")
                .arg(QCoreApplication::applicationVersion()));
    });
    QObject::connect(m.hide, &QAction::triggered, [] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->isWindow())
                w->showMinimized();
        }
    });
    QObject::connect(m.quit, &QAction::triggered, [] { QCoreApplication::quit(); });
    QObject::connect(m.close, &QAction::triggered, [] {
        if (QWidget *w = QApplication::activeWindow())
            w->close();
    });
    QObject::connect(m.undo, &QAction::triggered, [] { sendToFirstResponder("undo"); });
    QObject::connect(m.cut, &QAction::triggered, [] { sendToFirstResponder("cut"); });
    QObject::connect(m.copy, &QAction::triggered, [] { sendToFirstResponder("copy"); });
    QObject::connect(m.paste, &QAction::triggered, [] { sendToFirstResponder("paste"); });
    QObject::connect(m.selectAll, &QAction::triggered, [] { sendToFirstResponder("selectAll"); });
    QObject::connect(m.minimize, &QAction::triggered, [] {
        if (QWidget *w = QApplication::activeWindow())
            w->showMinimized();
    });
    QObject::connect(m.zoom, &QAction::triggered, [] {
        if (QWidget *w = QApplication::activeWindow())
            w->isMaximized() ? w->showNormal() : w->showMaximized();
    });
    return m;
}
