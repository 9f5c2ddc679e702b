#pragma once

#include <QList>

class QAction;
class QMenu;
class QObject;

// The application's menus, built once at launch. On Linux there is no global
// menu bar: the editor window adds these menus to its own QMenuBar, and the
// recording frame, which has no menu bar, answers Ctrl+Q itself.
struct AppMenus {
    QMenu *application = nullptr; // "Quillo"
    QMenu *file = nullptr;
    QMenu *edit = nullptr;
    QMenu *window = nullptr;

    QAction *about = nullptr;
    QAction *hide = nullptr;
    QAction *quit = nullptr;
    QAction *exportGif = nullptr;
    QAction *close = nullptr;
    QAction *undo = nullptr;
    QAction *cut = nullptr;
    QAction *copy = nullptr;
    QAction *paste = nullptr;
    QAction *selectAll = nullptr;
    QAction *minimize = nullptr;
    QAction *zoom = nullptr;

    QList<QMenu *> all() const { return {application, file, edit, window}; }
};

// Builds the menus; the actions that go "to the first responder" act on the
// focused widget or the active window. `exportGif` is connected by the caller.
AppMenus buildAppMenus();
