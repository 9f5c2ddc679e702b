#include "capture/CaptureBackendFactory.h"

#include "capture/portal/PortalCaptureBackend.h"
#include "capture/synthetic/SyntheticCaptureBackend.h"
#include "capture/x11/X11CaptureBackend.h"

#include <QGuiApplication>
#include <QScreen>

#include <mutex>

namespace CaptureBackendFactory {

QString name(Kind kind)
{
    switch (kind) {
    case Kind::x11:
        return QStringLiteral("x11");
    case Kind::portal:
        return QStringLiteral("portal");
    case Kind::synthetic:
        return QStringLiteral("synthetic");
    }
    return {};
}

std::optional<Kind> fromName(const QString &text)
{
    for (Kind kind : {Kind::x11, Kind::portal, Kind::synthetic}) {
        if (text == name(kind))
            return kind;
    }
    return std::nullopt;
}

bool isWaylandSession(const QProcessEnvironment &environment)
{
    return environment.value(QStringLiteral("XDG_SESSION_TYPE")).compare(QStringLiteral("wayland"), Qt::CaseInsensitive)
        == 0
        || !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
}

Kind choose(const QProcessEnvironment &environment, const std::function<bool()> &hasScreenCastPortal)
{
    if (std::optional<Kind> forced = fromName(environment.value(QStringLiteral("QUILLO_CAPTURE_BACKEND"))))
        return *forced;
    if (isWaylandSession(environment) && hasScreenCastPortal && hasScreenCastPortal())
        return Kind::portal;
    return Kind::x11;
}

namespace {

// Asked once: the answer can take a moment (the bus may start the portal),
// and a desktop does not gain or lose its portal while a program runs.
bool portalPresent()
{
    static std::once_flag probed;
    static bool present = false;
    std::call_once(probed, [] { present = PortalCaptureBackend::isAvailable(); });
    return present;
}

} // namespace

Kind chosen()
{
    return choose(QProcessEnvironment::systemEnvironment(), &portalPresent);
}

std::shared_ptr<CaptureBackend> create(Kind kind)
{
    switch (kind) {
    case Kind::synthetic: {
        auto backend = std::make_shared<SyntheticCaptureBackend>(SyntheticCaptureBackend::sceneFromScreens(), true);
        backend->setFaults(SyntheticCaptureBackend::faultsFromEnvironment());
        return backend;
    }
    case Kind::portal:
        return std::make_shared<PortalCaptureBackend>();
    case Kind::x11:
        break;
    }
    double scale = 1.0;
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        if (const QScreen *primary = QGuiApplication::primaryScreen())
            scale = primary->devicePixelRatio();
    }
    return std::make_shared<X11CaptureBackend>(scale);
}

std::shared_ptr<CaptureBackend> create()
{
    return create(chosen());
}

void prepareForRecordingFrame()
{
    if (chosen() == Kind::x11)
        X11CaptureBackend::holdRedirection();
}

bool canRecord(Kind kind)
{
    switch (kind) {
    case Kind::synthetic:
        return true;
    case Kind::portal:
        return portalPresent();
    case Kind::x11:
        break;
    }
    return X11CaptureBackend::canRecordScreen();
}

} // namespace CaptureBackendFactory
