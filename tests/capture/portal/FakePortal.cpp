#include "FakePortal.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");

// The portal's wire types: a stream (u a{sv}) and a pair of ints (ii).
struct WireStream {
    uint node = 0;
    QVariantMap properties;
};
struct IntPair {
    int a = 0;
    int b = 0;
};

QDBusArgument &operator<<(QDBusArgument &out, const WireStream &s)
{
    out.beginStructure();
    out << s.node << s.properties;
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, WireStream &s)
{
    in.beginStructure();
    in >> s.node >> s.properties;
    in.endStructure();
    return in;
}
QDBusArgument &operator<<(QDBusArgument &out, const IntPair &p)
{
    out.beginStructure();
    out << p.a << p.b;
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, IntPair &p)
{
    in.beginStructure();
    in >> p.a >> p.b;
    in.endStructure();
    return in;
}

} // namespace

Q_DECLARE_METATYPE(WireStream)
Q_DECLARE_METATYPE(IntPair)

PrivateBus::PrivateBus()
{
    m_daemon.start(QStringLiteral("dbus-daemon"),
        {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForStarted(5000))
        return;
    QDeadlineTimer deadline(5000);
    while (!m_daemon.canReadLine() && !deadline.hasExpired())
        m_daemon.waitForReadyRead(100);
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus()
{
    m_daemon.terminate();
    m_daemon.waitForFinished(3000);
}

QDBusConnection PrivateBus::connect(const QString &name) const
{
    return QDBusConnection::connectToBus(m_address, name);
}

FakePortal::FakePortal(QDBusConnection bus)
    : m_bus(std::move(bus))
{
    qDBusRegisterMetaType<WireStream>();
    qDBusRegisterMetaType<QList<WireStream>>();
    qDBusRegisterMetaType<IntPair>();
    m_bus.registerVirtualObject(portalPath, this, QDBusConnection::SubPath);
    m_bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
}

FakePortal::~FakePortal()
{
    for (int fd : m_peers)
        ::close(fd);
    m_bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    m_bus.unregisterObject(portalPath, QDBusConnection::UnregisterTree);
}

QStringList FakePortal::openSessions() const
{
    return m_sessions;
}

QString FakePortal::introspect(const QString &) const
{
    return {};
}

void FakePortal::respond(const QString &request, uint response, const QVariantMap &results)
{
    // Later, as a portal answers: the caller has its reply to the call first.
    QTimer::singleShot(5, this, [this, request, response, results] {
        QDBusMessage signal = QDBusMessage::createSignal(
            request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        signal << response << results;
        m_bus.send(signal);
    });
}

QVariantMap FakePortal::startResults() const
{
    QList<WireStream> list;
    for (const SharedStream &s : streams) {
        WireStream w;
        w.node = s.nodeId;
        w.properties.insert(QStringLiteral("position"), QVariant::fromValue(IntPair {s.x, s.y}));
        w.properties.insert(QStringLiteral("size"), QVariant::fromValue(IntPair {s.width, s.height}));
        w.properties.insert(QStringLiteral("source_type"), 1u);
        list.append(w);
    }
    QVariantMap results {{QStringLiteral("streams"), QVariant::fromValue(list)}};
    if (!newRestoreToken.isEmpty())
        results.insert(QStringLiteral("restore_token"), newRestoreToken);
    return results;
}

void FakePortal::release()
{
    if (m_heldRequest.isEmpty())
        return;
    respond(m_heldRequest, startResponse, startResponse == 0 ? startResults() : QVariantMap());
    m_heldRequest.clear();
}

void FakePortal::closeSessionFromDesktop()
{
    for (const QString &session : std::exchange(m_sessions, {})) {
        QDBusMessage signal = QDBusMessage::createSignal(
            session, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Closed"));
        signal << QVariantMap();
        m_bus.send(signal);
    }
}

bool FakePortal::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    QString sender = message.service().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    auto requestPath = [&](const QVariantMap &options) -> QString {
        return portalPath + QStringLiteral("/request/") + sender + QLatin1Char('/')
            + options.value(QStringLiteral("handle_token")).toString();
    };
    auto options = [&](int index) { return qdbus_cast<QVariantMap>(args.value(index)); };

    // Only the ScreenCast portal: a program that also asks for others (the
    // GlobalShortcuts portal) finds none, as on a desktop without them.
    const QString interface = message.interface() == QLatin1String("org.freedesktop.DBus.Properties")
        ? args.value(0).toString()
        : message.interface();
    if (!interface.startsWith(QLatin1String("org.freedesktop.portal."))
        || !QStringList({"ScreenCast", "Request", "Session"}).contains(interface.mid(23))) {
        connection.send(message.createErrorReply(QDBusError::UnknownInterface, interface));
        return true;
    }
    if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties") && member == QLatin1String("Get")) {
        const QString property = args.value(1).toString();
        const uint value = property == QLatin1String("AvailableCursorModes") ? cursorModes : 1u | 2u;
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
        return true;
    }
    if (member == QLatin1String("Close")) {
        const bool session = message.interface() == QLatin1String("org.freedesktop.portal.Session");
        calls << (session ? QStringLiteral("Close@session") : QStringLiteral("Close@request"));
        if (session)
            m_sessions.removeAll(message.path());
        else if (message.path() == m_heldRequest)
            m_heldRequest.clear();
        connection.send(message.createReply());
        return true;
    }
    calls << member;
    if (member == QLatin1String("CreateSession")) {
        const QVariantMap o = options(0);
        const QString session = portalPath + QStringLiteral("/session/") + sender + QLatin1Char('/')
            + o.value(QStringLiteral("session_handle_token")).toString();
        m_sessions << session;
        const QString request = requestPath(o);
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        respond(request, 0, {{QStringLiteral("session_handle"), session}});
        return true;
    }
    if (member == QLatin1String("SelectSources")) {
        selectOptions = options(1);
        const QString request = requestPath(selectOptions);
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        respond(request, 0, {});
        return true;
    }
    if (member == QLatin1String("Start")) {
        const QString request = requestPath(options(2));
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        if (holdStart)
            m_heldRequest = request;
        else
            respond(request, startResponse, startResponse == 0 ? startResults() : QVariantMap());
        return true;
    }
    if (member == QLatin1String("OpenPipeWireRemote")) {
        int fd = -1;
        if (pipeWireRemote) {
            fd = pipeWireRemote();
        } else {
            int pair[2];
            if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0) {
                m_peers.push_back(pair[1]);
                fd = pair[0];
            }
        }
        connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fd))));
        if (fd >= 0)
            ::close(fd); // the reply holds its own copy
        return true;
    }
    connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
    return true;
}
