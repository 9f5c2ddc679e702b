#pragma once

#include <QList>

#include <array>

class QAction;
class QActionGroup;
class QMenu;
class QString;

// The application's menus, built once at launch. There is no global menu bar:
// the editor window adds these menus to its own QMenuBar, and the recording
// frame, which has no menu bar, answers Ctrl+Q itself. The shell connects the
// editor's actions (AppDelegate::connectMenus).
struct AppMenus {
    QMenu *file = nullptr;
    QMenu *edit = nullptr;
    QMenu *view = nullptr;
    QMenu *help = nullptr;

    QAction *newRecording = nullptr;
    QAction *exportGif = nullptr;
    QAction *exportMp4 = nullptr;
    // "Export WebP…", "Export APNG…", "Export WebM…", in the order of
    // GifExporter::allAnimatedFormats; shown when ffmpeg can write them.
    std::array<QAction *, 3> exportAnimated {};
    QAction *quit = nullptr;
    QAction *undo = nullptr;
    QAction *redo = nullptr;
    QAction *selectAll = nullptr;
    QAction *deleteFrames = nullptr;
    // "Fit", "50%", "100%", "200%": checkable, one at a time, in the order of
    // the editor's zoom pop-up.
    QActionGroup *zoomGroup = nullptr;
    std::array<QAction *, 4> zoom {};
    QAction *about = nullptr;

    QList<QMenu *> all() const { return {file, edit, view, help}; }
};

// Builds the menus, which belong to the caller (AppDelegate deletes them).
// Quit and About work by themselves; every other action is connected by the
// caller.
AppMenus buildAppMenus();

// What "About Quillo" says: the version and the licence.
QString aboutText();
