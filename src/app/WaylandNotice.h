#pragma once

#include <QProcessEnvironment>
#include <QString>

// This version records through X11 only. In a Wayland session it runs under
// XWayland and can see only what XWayland draws, so it says so once at
// start-up and then carries on.
namespace WaylandNotice {

// XDG_SESSION_TYPE says "wayland", or a Wayland display is named.
bool isWaylandSession(const QProcessEnvironment &environment);

inline const QString title = QStringLiteral("Quillo records X11 windows only");
inline const QString text = QStringLiteral(
    "This is a Wayland session. This version of Quillo records the screen through XWayland, so a recording shows "
    "only windows of X11 programs; windows of Wayland programs and the desktop behind them may come out black or "
    "missing.");

// One modal notice, when `environment` is a Wayland session. GUI thread.
void showIfNeeded(const QProcessEnvironment &environment);

} // namespace WaylandNotice
