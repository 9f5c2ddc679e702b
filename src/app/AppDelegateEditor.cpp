#include "app/AppDelegate.h"

// The editor's side of the shell: opening it on a project and the menu's
// export command. The editor window arrives with its own work.

void AppDelegate::menuExportGIF()
{
    // Nothing to export while no editor is open.
}

void AppDelegate::openEditor(const GifProjectRef &) { }
