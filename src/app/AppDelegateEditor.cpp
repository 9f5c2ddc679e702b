#include "app/AppDelegate.h"

#include "editor/EditorController.h"
#include "frameui/FrameController.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>

// The editor's side of the shell: opening it on a project and the menu's
// export command.

void AppDelegate::menuExportGIF()
{
    if (editor)
        editor->exportGIF();
}

void AppDelegate::openEditor(const GifProjectRef &project)
{
    if (frame) {
        frame->closeAll();
        frame.reset();
    }
    auto controller = std::make_shared<EditorController>(project);
    const QPointer<AppDelegate> self(this);
    controller->onRecordAgain = [self] {
        if (!self)
            return;
        self->editor.reset();
        self->showRecorder(self->lastRect);
    };

    // The menus live in the editor window's own menu bar. Its "Close" asks the
    // editor's question, as the window's close button does.
    QMenuBar *bar = controller->window()->menuBar();
    for (QMenu *menu : m_menus.all()) {
        if (menu)
            bar->addMenu(menu);
    }
    if (m_menus.close && !m_menus.close->property("quilloEditorClose").toBool()) {
        m_menus.close->setProperty("quilloEditorClose", true);
        QObject::disconnect(m_menus.close, &QAction::triggered, nullptr, nullptr);
        connect(m_menus.close, &QAction::triggered, this, [this] {
            QWidget *active = QApplication::activeWindow();
            if (editor && active == editor->window())
                editor->performClose();
            else if (active)
                active->close();
        });
    }

    editor = controller;
    controller->show();
}
