#include "app/AppMenus.h"

#include "editor/ZoomMode.h"
#include "export/AnimatedFormats.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>

namespace {

QAction *addItem(QMenu *menu, const QString &title, const QList<QKeySequence> &keys = {})
{
    QAction *action = menu->addAction(title);
    action->setShortcuts(keys);
    return action;
}

} // namespace

AppMenus buildAppMenus()
{
    AppMenus m;
    m.file = new QMenu(QStringLiteral("&File"));
    // Closing the editor is how a new recording starts, so Ctrl+W asks the
    // same question.
    m.newRecording = addItem(m.file, QStringLiteral("New Recording"),
        {QKeySequence(Qt::CTRL | Qt::Key_N), QKeySequence(Qt::CTRL | Qt::Key_W)});
    m.file->addSeparator();
    m.exportGif = addItem(m.file, QStringLiteral("Export GIF\u2026"), {QKeySequence(Qt::CTRL | Qt::Key_S)});
    m.exportMp4 = addItem(m.file, QStringLiteral("Export MP4\u2026"));
    for (size_t i = 0; i < m.exportAnimated.size(); ++i) {
        m.exportAnimated[i] = addItem(
            m.file, QStringLiteral("Export %1\u2026").arg(GifExporter::formatName(GifExporter::allAnimatedFormats[i])));
    }
    m.file->addSeparator();
    m.quit = addItem(m.file, QStringLiteral("Quit"), {QKeySequence(Qt::CTRL | Qt::Key_Q)});

    m.edit = new QMenu(QStringLiteral("&Edit"));
    m.undo = addItem(m.edit, QStringLiteral("Undo"), {QKeySequence(Qt::CTRL | Qt::Key_Z)});
    m.redo = addItem(m.edit, QStringLiteral("Redo"),
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    m.edit->addSeparator();
    m.selectAll = addItem(m.edit, QStringLiteral("Select All"), {QKeySequence(Qt::CTRL | Qt::Key_A)});
    m.deleteFrames = addItem(m.edit, QStringLiteral("Delete"), {QKeySequence(Qt::Key_Delete)});

    m.view = new QMenu(QStringLiteral("&View"));
    m.zoomGroup = new QActionGroup(m.view);
    for (size_t i = 0; i < m.zoom.size(); ++i) {
        QAction *action = addItem(m.view, ZoomModes::label(ZoomModes::fromRaw(int(i))));
        action->setCheckable(true);
        m.zoomGroup->addAction(action);
        m.zoom[i] = action;
    }
    m.zoom[0]->setChecked(true);

    m.help = new QMenu(QStringLiteral("&Help"));
    m.about = addItem(m.help, QStringLiteral("About Quillo"));

    QObject::connect(m.about, &QAction::triggered,
        [] { QMessageBox::about(QApplication::activeWindow(), QStringLiteral("About Quillo"), aboutText()); });
    return m;
}

QString aboutText()
{
    return QStringLiteral("Quillo %1\n\n"
                          "Record a part of the screen, edit the frames, export a GIF or an MP4.\n\n"
                          "Licensed under the GNU General Public License, version 3 or later "
                          "(GPL-3.0-or-later). Quillo comes with absolutely no warranty.")
        .arg(QCoreApplication::applicationVersion());
}
