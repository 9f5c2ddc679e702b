#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Whether this program may read the screen, and how to tell the user what to
// do when it may not. On X11 any client may read the screen, so "permission"
// means the display opens and its root window can be grabbed; through the
// desktop's portal the user consents when recording starts, so the portal's
// presence is the permission. The recording flow never blocks REC on it, it
// only picks the alert a failed start shows.
namespace Permissions {

// What the chosen capture backend says (CaptureBackendFactory::canRecord()).
// Never prompts. Any thread.
bool hasScreenRecording();
// Nothing can be asked for ahead of a recording: the same check as
// hasScreenRecording().
bool requestScreenRecording();

// The alert's texts and buttons, in order (the first is the default).
inline const QString deniedTitle = QStringLiteral("Quillo cannot read the screen");
inline const QString deniedText = QStringLiteral(
    "In an X11 session Quillo needs the display it was started on. In a Wayland session, allow Quillo in the "
    "desktop's screen-sharing dialog; that dialog comes from xdg-desktop-portal and the portal package of your "
    "desktop (xdg-desktop-portal-gnome, -kde or -wlr). Then press REC again: there is no need to restart Quillo.");
inline const QStringList deniedButtons = {QStringLiteral("Open Settings"), QStringLiteral("Cancel")};

// The desktop settings programs this program knows, most specific desktop
// first; the first one found on the PATH is the one "Open Settings" runs.
const QStringList &knownSettingsPrograms();
// The path of the first known settings program that `findExecutable` finds.
std::optional<QString> settingsProgram(const std::function<QString(const QString &)> &findExecutable);

// The modal explanation. "Open Settings" starts the desktop's settings program
// when one is known and returns at once; otherwise, and on "Cancel", nothing
// happens. GUI thread.
void showDeniedAlert();

} // namespace Permissions
