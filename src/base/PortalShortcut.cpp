#include "base/PortalShortcut.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRandomGenerator>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString responseSignal = QStringLiteral("Response");

// One entry of BindShortcuts' a(sa{sv}).
struct ShortcutEntry {
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const ShortcutEntry &entry)
{
    argument.beginStructure();
    argument << entry.id << entry.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, ShortcutEntry &entry)
{
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.endStructure();
    return argument;
}

QString newToken()
{
    return QStringLiteral("quillo%1").arg(QRandomGenerator::global()->generate());
}

} // namespace

Q_DECLARE_METATYPE(ShortcutEntry)

PortalShortcut::PortalShortcut(
    QDBusConnection bus, const QString &id, const QString &description, QKeyCombination key, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_id(id)
    , m_description(description)
    , m_trigger(triggerFor(key))
{
    qDBusRegisterMetaType<ShortcutEntry>();
    qDBusRegisterMetaType<QList<ShortcutEntry>>();
    if (!m_bus.isConnected()) {
        // On the next turn, as every other answer: the caller is listening then.
        QMetaObject::invokeMethod(
            this, [this] { fail(QStringLiteral("no session bus")); }, Qt::QueuedConnection);
        return;
    }
    if (!m_bus.connect(portalService, portalPath, shortcutsInterface, QStringLiteral("Activated"), this,
            SLOT(activated(QDBusMessage)))) {
        QMetaObject::invokeMethod(
            this, [this] { fail(QStringLiteral("cannot listen to the portal")); }, Qt::QueuedConnection);
        return;
    }
    request(QStringLiteral("CreateSession"),
        {QVariantMap {
            {QStringLiteral("handle_token"), newToken()}, {QStringLiteral("session_handle_token"), newToken()}}},
        SLOT(sessionCreated(uint, QVariantMap)));
}

PortalShortcut::~PortalShortcut()
{
    if (m_session.isEmpty())
        return;
    m_bus.call(QDBusMessage::createMethodCall(
                   portalService, m_session, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")),
        QDBus::NoBlock);
}

QString PortalShortcut::triggerFor(QKeyCombination key)
{
    QString name;
    const Qt::Key k = key.key();
    if (k >= Qt::Key_A && k <= Qt::Key_Z)
        name = QChar(QLatin1Char(static_cast<char>('a' + (k - Qt::Key_A))));
    else if (k >= Qt::Key_0 && k <= Qt::Key_9)
        name = QChar(QLatin1Char(static_cast<char>('0' + (k - Qt::Key_0))));
    else if (k >= Qt::Key_F1 && k <= Qt::Key_F35)
        name = QStringLiteral("F%1").arg(k - Qt::Key_F1 + 1);
    else if (k == Qt::Key_Space)
        name = QStringLiteral("space");
    else if (k == Qt::Key_Pause)
        name = QStringLiteral("Pause");
    else if (k == Qt::Key_Print)
        name = QStringLiteral("Print");
    if (name.isEmpty())
        return {};
    QString trigger;
    const Qt::KeyboardModifiers mods = key.keyboardModifiers();
    if (mods & Qt::ControlModifier)
        trigger += QStringLiteral("CTRL+");
    if (mods & Qt::AltModifier)
        trigger += QStringLiteral("ALT+");
    if (mods & Qt::ShiftModifier)
        trigger += QStringLiteral("SHIFT+");
    if (mods & Qt::MetaModifier)
        trigger += QStringLiteral("LOGO+");
    return trigger + name;
}

QString PortalShortcut::requestPath(const QString &token) const
{
    // The portal names each request after the caller's unique name and the
    // token the caller chose: ":1.42" and "t" give .../request/1_42/t.
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

void PortalShortcut::request(const QString &method, const QList<QVariant> &arguments, const char *slot)
{
    // The options map is always the last argument and carries the token.
    const QString token = arguments.last().toMap().value(QStringLiteral("handle_token")).toString();
    const QString path = requestPath(token);
    // Listen before calling: the answer may come before the call returns.
    m_bus.connect(portalService, path, requestInterface, responseSignal, this, slot);
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, path, slot](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
            m_bus.disconnect(portalService, path, requestInterface, responseSignal, this, slot);
            fail(reply.error().message());
            return;
        }
        // An older portal may answer on a path of its own choosing.
        const QString answered = reply.value().path();
        if (answered != path) {
            m_bus.disconnect(portalService, path, requestInterface, responseSignal, this, slot);
            m_bus.connect(portalService, answered, requestInterface, responseSignal, this, slot);
        }
    });
}

void PortalShortcut::sessionCreated(uint response, const QVariantMap &results)
{
    if (response != 0) {
        fail(QStringLiteral("the desktop refused a shortcut session (%1)").arg(response));
        return;
    }
    // The portal documents a string; some desktops send an object path.
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    m_session = handle.userType() == qMetaTypeId<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                                    : handle.toString();
    if (m_session.isEmpty()) {
        fail(QStringLiteral("the desktop named no shortcut session"));
        return;
    }
    QVariantMap properties {{QStringLiteral("description"), m_description}};
    if (!m_trigger.isEmpty())
        properties.insert(QStringLiteral("preferred_trigger"), m_trigger);
    const QList<ShortcutEntry> shortcuts {{m_id, properties}};
    request(QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString(),
            QVariantMap {{QStringLiteral("handle_token"), newToken()}}},
        SLOT(shortcutsBound(uint, QVariantMap)));
}

void PortalShortcut::shortcutsBound(uint response, const QVariantMap &)
{
    if (response != 0) {
        fail(response == 1 ? QStringLiteral("the shortcut was declined")
                           : QStringLiteral("the desktop could not bind the shortcut (%1)").arg(response));
        return;
    }
    m_bound = true;
    settle();
}

void PortalShortcut::activated(const QDBusMessage &signal)
{
    // (o session_handle, s shortcut_id, t timestamp, a{sv} options)
    const QList<QVariant> arguments = signal.arguments();
    if (!m_bound || arguments.size() < 2)
        return;
    if (arguments.at(0).value<QDBusObjectPath>().path() != m_session || arguments.at(1).toString() != m_id)
        return;
    if (onActivated)
        onActivated();
}

void PortalShortcut::fail(const QString &why)
{
    if (!m_failure.isEmpty() || m_bound)
        return;
    m_failure = why;
    settle();
}

void PortalShortcut::settle()
{
    if (onSettled)
        onSettled();
}
