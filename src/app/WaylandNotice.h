#pragma once

#include <QProcessEnvironment>
#include <QString>

// In a Wayland session without a ScreenCast portal the program records
// through XWayland and sees only what XWayland draws; it says so once at
// start-up, with what to install, and then carries on.
namespace WaylandNotice {

// XDG_SESSION_TYPE says "wayland", or a Wayland display is named.
bool isWaylandSession(const QProcessEnvironment &environment);
// A Wayland session recorded through X11.
bool isNeeded(const QProcessEnvironment &environment, bool recordsThroughX11);

inline const QString title = QStringLiteral("Quillo records X11 windows only");
inline const QString text = QStringLiteral(
    "This is a Wayland session without a screen-sharing portal, so Quillo records through XWayland: a recording "
    "shows only windows of X11 programs, and windows of Wayland programs and the desktop behind them may come out "
    "black or missing. To record the whole screen, install xdg-desktop-portal and your desktop's portal backend "
    "(xdg-desktop-portal-gnome, xdg-desktop-portal-kde or xdg-desktop-portal-wlr), then log out and in again.");

// One modal notice, when `environment` is a Wayland session and the chosen
// capture backend is X11. GUI thread.
void showIfNeeded(const QProcessEnvironment &environment);

} // namespace WaylandNotice
