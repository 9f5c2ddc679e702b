#include "app/WaylandNotice.h"

#include "app/Alert.h"
#include "capture/CaptureBackendFactory.h"

namespace WaylandNotice {

bool isWaylandSession(const QProcessEnvironment &environment)
{
    return CaptureBackendFactory::isWaylandSession(environment);
}

bool isNeeded(const QProcessEnvironment &environment, bool recordsThroughX11)
{
    return recordsThroughX11 && isWaylandSession(environment);
}

void showIfNeeded(const QProcessEnvironment &environment)
{
    // Outside a Wayland session the bus is not asked for a portal at all.
    if (!isWaylandSession(environment))
        return;
    if (!isNeeded(environment, CaptureBackendFactory::chosen() == CaptureBackendFactory::Kind::x11))
        return;
    Alert::show(QMessageBox::Information, title, text);
}

} // namespace WaylandNotice
