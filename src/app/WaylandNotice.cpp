#include "app/WaylandNotice.h"

#include "app/Alert.h"

namespace WaylandNotice {

bool isWaylandSession(const QProcessEnvironment &environment)
{
    return environment.value(QStringLiteral("XDG_SESSION_TYPE")).compare(QStringLiteral("wayland"), Qt::CaseInsensitive)
        == 0
        || !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
}

void showIfNeeded(const QProcessEnvironment &environment)
{
    if (!isWaylandSession(environment))
        return;
    Alert::show(QMessageBox::Information, title, text);
}

} // namespace WaylandNotice
