#pragma once

#include <QString>

#include <cstdint>
#include <functional>

// What the user hears after an export: a desktop notification
// (org.freedesktop.Notifications) naming the file, its size and how long it
// plays, with an "Open Folder" action. GUI thread only.
namespace ExportNotice {

struct Facts {
    QString path;
    int64_t bytes = 0;
    int64_t durationMs = 0;
};

// "Exported Clip.gif"
QString summary(const Facts &facts);
// "1.2 MB · 4.5 s"
QString details(const Facts &facts);

// Sends the notification. `noServer` runs instead when no notification
// server answers on the session bus (a bare X session, a test), so the caller
// can say it elsewhere.
void notify(const Facts &facts, std::function<void()> noServer);

// Shows `path` selected in the desktop's file manager; without one on the
// session bus, opens its folder.
void revealInFileManager(const QString &path);

} // namespace ExportNotice
