#include "app/AppDelegate.h"

#include "editor/EditorController.h"
#include "export/AnimatedFormats.h"
#include "frameui/FrameController.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>

#include <algorithm>

// The editor's side of the shell: opening it on a project and the menus that
// act on it.

void AppDelegate::menuExportGIF()
{
    if (editor)
        editor->exportGIF();
}

void AppDelegate::connectMenus()
{
    const auto onEditor = [this](void (EditorController::*action)()) {
        return [this, action] {
            if (editor)
                (editor.get()->*action)();
        };
    };
    // Edit commands chosen while a text field is being edited act on its text,
    // as the field's own keys do; otherwise on the frames.
    const auto onFieldOrFrames = [this](void (QLineEdit::*fieldAction)(), void (EditorController::*action)()) {
        return [this, fieldAction, action] {
            if (auto *field = qobject_cast<QLineEdit *>(QApplication::focusWidget())) {
                (field->*fieldAction)();
                return;
            }
            if (editor && !editor->isEditingText())
                (editor.get()->*action)();
        };
    };
    connect(m_menus.newRecording, &QAction::triggered, this, onEditor(&EditorController::recordAgain));
    connect(m_menus.exportGif, &QAction::triggered, this, &AppDelegate::menuExportGIF);
    connect(m_menus.quit, &QAction::triggered, this, &AppDelegate::requestQuit);
    connect(m_menus.exportMp4, &QAction::triggered, this, onEditor(&EditorController::exportMP4Action));
    for (size_t i = 0; i < m_menus.exportAnimated.size(); ++i) {
        connect(m_menus.exportAnimated[i], &QAction::triggered, this, [this, i] {
            if (editor)
                editor->exportAnimatedAction(GifExporter::allAnimatedFormats[i]);
        });
    }
    connect(m_menus.undo, &QAction::triggered, this, onFieldOrFrames(&QLineEdit::undo, &EditorController::undoAction));
    connect(m_menus.redo, &QAction::triggered, this, onFieldOrFrames(&QLineEdit::redo, &EditorController::redoAction));
    connect(m_menus.selectAll, &QAction::triggered, this,
        onFieldOrFrames(&QLineEdit::selectAll, &EditorController::selectAll));
    connect(m_menus.deleteFrames, &QAction::triggered, this,
        onFieldOrFrames(&QLineEdit::del, &EditorController::deleteSelected));
    for (size_t i = 0; i < m_menus.zoom.size(); ++i) {
        connect(m_menus.zoom[i], &QAction::triggered, this, [this, i] {
            if (!editor)
                return;
            editor->zoomPopup()->setCurrentIndex(int(i));
            editor->zoomChanged();
        });
    }
}

void AppDelegate::requestQuit()
{
    if (!editor) {
        quitFromFrame();
        return;
    }
    editor->askToQuit([] { QCoreApplication::quit(); });
}

void AppDelegate::openEditor(const GifProjectRef &project, std::shared_ptr<FrameStore> store)
{
    if (frame) {
        frame->closeAll();
        frame.reset();
    }
    auto controller = std::make_shared<EditorController>(project);
    controller->setRecordingStore(std::move(store));
    const QPointer<AppDelegate> self(this);
    controller->onRecordAgain = [self] {
        if (!self)
            return;
        self->editor.reset();
        self->showRecorder(self->lastRect);
    };

    // Only the formats the ffmpeg found can write.
    const std::vector<GifExporter::AnimatedFormat> writable = GifExporter::writableFormats();
    for (size_t i = 0; i < m_menus.exportAnimated.size(); ++i) {
        if (m_menus.exportAnimated[i]) {
            m_menus.exportAnimated[i]->setVisible(
                std::find(writable.begin(), writable.end(), GifExporter::allAnimatedFormats[i]) != writable.end());
        }
    }
    QMenuBar *bar = controller->window()->menuBar();
    for (QMenu *menu : m_menus.all()) {
        if (menu)
            bar->addMenu(menu);
    }
    // The View menu shows the zoom the pop-up shows, whichever was used.
    const auto showZoom = [menus = m_menus](int index) {
        if (index >= 0 && size_t(index) < menus.zoom.size() && menus.zoom[size_t(index)])
            menus.zoom[size_t(index)]->setChecked(true);
    };
    showZoom(controller->zoomPopup()->currentIndex());
    connect(controller->zoomPopup(), &QComboBox::currentIndexChanged, controller.get(), showZoom);

    editor = controller;
    controller->show();
}
