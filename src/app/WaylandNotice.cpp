#include "app/WaylandNotice.h"

#include <QMessageBox>

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
    QMessageBox notice;
    notice.setIcon(QMessageBox::Information);
    notice.setWindowTitle(title);
    notice.setText(title);
    notice.setInformativeText(text);
    notice.setStandardButtons(QMessageBox::Ok);
    notice.exec();
}

} // namespace WaylandNotice
