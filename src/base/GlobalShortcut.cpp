#include "base/GlobalShortcut.h"

#include "base/PortalShortcut.h"
#include "base/X11KeyGrab.h"

GlobalShortcut::GlobalShortcut(
    const QKeySequence &key, const QString &description, bool waylandSession, QObject *parent)
    : QObject(parent)
    , m_key(key)
{
    if (key.isEmpty()) {
        m_failure = QStringLiteral("no key");
        return;
    }
    if (waylandSession) {
        m_portal = std::make_unique<PortalShortcut>(
            QDBusConnection::sessionBus(), QStringLiteral("record"), description, key[0]);
        m_portal->onActivated = [this] { activate(); };
        m_portal->onSettled = [this] {
            if (onRegisteredChanged)
                onRegisteredChanged();
        };
        return;
    }
    m_grab = std::make_unique<X11KeyGrab>(key[0]);
    m_grab->onActivated = [this] { activate(); };
}

GlobalShortcut::~GlobalShortcut() = default;

bool GlobalShortcut::isRegistered() const
{
    return (m_grab && m_grab->isGrabbed()) || (m_portal && m_portal->isBound());
}

QString GlobalShortcut::status() const
{
    if (m_grab)
        return m_grab->isGrabbed() ? QStringLiteral("X11 key grab")
                                   : QStringLiteral("not registered: ") + m_grab->failure();
    if (m_portal) {
        if (m_portal->isBound())
            return QStringLiteral("GlobalShortcuts portal");
        if (m_portal->failure().isEmpty())
            return QStringLiteral("waiting for the GlobalShortcuts portal");
        return QStringLiteral("not registered: ") + m_portal->failure();
    }
    return QStringLiteral("not registered: ") + m_failure;
}

void GlobalShortcut::activate()
{
    if (onActivated)
        onActivated();
}
