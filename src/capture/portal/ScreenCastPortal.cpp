#include "capture/portal/ScreenCastPortal.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QPointer>

#include <unistd.h>

namespace {

const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

constexpr uint32_t sourceMonitor = 1;
constexpr uint32_t cursorEmbedded = 2;
// The portal keeps the choice until the permission is revoked.
constexpr uint32_t persistUntilRevoked = 2;

// A portal variant that holds a D-Bus structure of two integers.
std::optional<std::pair<int, int>> intPair(const QVariant &value)
{
    if (!value.canConvert<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentType() != QDBusArgument::StructureType)
        return std::nullopt;
    int a = 0;
    int b = 0;
    argument.beginStructure();
    argument >> a >> b;
    argument.endStructure();
    return std::pair {a, b};
}

std::vector<ScreenCastPortal::Stream> readStreams(const QVariant &value)
{
    std::vector<ScreenCastPortal::Stream> streams;
    if (!value.canConvert<QDBusArgument>())
        return streams;
    const QDBusArgument argument = value.value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        ScreenCastPortal::Stream stream;
        QVariantMap properties;
        argument.beginStructure();
        argument >> stream.nodeId >> properties;
        argument.endStructure();
        if (auto p = intPair(properties.value(QStringLiteral("position"))))
            stream.position = QPoint(p->first, p->second);
        if (auto s = intPair(properties.value(QStringLiteral("size"))))
            stream.size = QSize(s->first, s->second);
        stream.sourceType = properties.value(QStringLiteral("source_type")).toUInt();
        streams.push_back(stream);
    }
    argument.endArray();
    return streams;
}

} // namespace

CaptureFailure ScreenCastPortal::error(Failure code, const QString &detail)
{
    QString text;
    switch (code) {
    case cancelled:
        text = QStringLiteral("Screen sharing was cancelled, so nothing was recorded. Press REC again and choose the "
                              "screen to share.");
        break;
    case refused:
        text = QStringLiteral("The desktop's screen-sharing portal refused to share the screen.");
        break;
    case callFailed:
        text = QStringLiteral("The desktop's screen-sharing portal could not be reached.");
        break;
    case stopped:
        text = QStringLiteral("The recording was stopped before a screen was shared.");
        break;
    }
    if (!detail.isEmpty())
        text += QStringLiteral(" (") + detail + QLatin1Char(')');
    return {QStringLiteral("Quillo.Portal"), code, text};
}

ScreenCastPortal::ScreenCastPortal(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
}

ScreenCastPortal::~ScreenCastPortal()
{
    unsubscribe();
    close();
}

bool ScreenCastPortal::isAvailable(const QDBusConnection &bus)
{
    if (!bus.isConnected())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(service, path, propertiesInterface, QStringLiteral("Get"));
    get << interface << QStringLiteral("AvailableSourceTypes");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const uint types = reply.arguments().constFirst().value<QDBusVariant>().variant().toUInt();
    return (types & sourceMonitor) != 0;
}

QString ScreenCastPortal::newToken()
{
    return QStringLiteral("quillo%1_%2").arg(quintptr(this), 0, 16).arg(++m_tokens);
}

void ScreenCastPortal::start(const QString &restoreToken, StartCompletion completion)
{
    m_restoreToken = restoreToken;
    m_completion = std::move(completion);
    m_step = Step::createSession;
    readCursorModes();
}

void ScreenCastPortal::readCursorModes()
{
    QDBusMessage get = QDBusMessage::createMethodCall(service, path, propertiesInterface, QStringLiteral("Get"));
    get << interface << QStringLiteral("AvailableCursorModes");
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusMessage reply = w->reply();
        // A portal without the property still shares; the cursor is then its choice.
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            m_cursorModes = reply.arguments().constFirst().value<QDBusVariant>().variant().toUInt();
        if (m_step != Step::createSession)
            return; // cancelled meanwhile
        QVariantMap options {{QStringLiteral("session_handle_token"), newToken()}};
        call(Step::createSession, QStringLiteral("CreateSession"), {}, options);
    });
}

void ScreenCastPortal::call(Step step, const QString &method, QList<QVariant> arguments, QVariantMap options)
{
    m_step = step;
    const QString token = newToken();
    options.insert(QStringLiteral("handle_token"), token);
    // The Response may come as soon as the call is made: listen first, on the
    // path the portal will use.
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    unsubscribe();
    m_request = path + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    m_bus.connect(service, m_request, requestInterface, QStringLiteral("Response"), this,
        SLOT(handleResponse(uint, QVariantMap)));

    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    arguments.append(options);
    message.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, step](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (m_step != step)
            return;
        QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
            fail(error(callFailed, reply.error().message()));
            return;
        }
        // A portal older than the handle_token convention names another path.
        const QString handle = reply.value().path();
        if (handle != m_request) {
            unsubscribe();
            m_request = handle;
            m_bus.connect(service, m_request, requestInterface, QStringLiteral("Response"), this,
                SLOT(handleResponse(uint, QVariantMap)));
        }
    });
}

void ScreenCastPortal::unsubscribe()
{
    if (m_request.isEmpty())
        return;
    m_bus.disconnect(service, m_request, requestInterface, QStringLiteral("Response"), this,
        SLOT(handleResponse(uint, QVariantMap)));
    m_request.clear();
}

void ScreenCastPortal::handleResponse(uint response, const QVariantMap &results)
{
    if (m_step == Step::none)
        return;
    unsubscribe();
    if (response == 1) {
        fail(error(cancelled));
        return;
    }
    if (response != 0) {
        fail(error(refused, QStringLiteral("response %1").arg(response)));
        return;
    }
    advance(results);
}

void ScreenCastPortal::advance(const QVariantMap &results)
{
    switch (m_step) {
    case Step::none:
        return;
    case Step::createSession: {
        m_session = results.value(QStringLiteral("session_handle")).toString();
        if (m_session.isEmpty()) {
            fail(error(refused, QStringLiteral("no session")));
            return;
        }
        m_bus.connect(
            service, m_session, sessionInterface, QStringLiteral("Closed"), this, SLOT(handleClosed(QVariantMap)));
        QVariantMap options {
            {QStringLiteral("types"), QVariant::fromValue(sourceMonitor)},
            {QStringLiteral("multiple"), false},
            {QStringLiteral("persist_mode"), QVariant::fromValue(persistUntilRevoked)},
        };
        if (m_cursorModes & cursorEmbedded)
            options.insert(QStringLiteral("cursor_mode"), QVariant::fromValue(cursorEmbedded));
        if (!m_restoreToken.isEmpty())
            options.insert(QStringLiteral("restore_token"), m_restoreToken);
        call(Step::selectSources, QStringLiteral("SelectSources"), {QVariant::fromValue(QDBusObjectPath(m_session))},
            options);
        return;
    }
    case Step::selectSources:
        call(Step::start, QStringLiteral("Start"), {QVariant::fromValue(QDBusObjectPath(m_session)), QString()}, {});
        return;
    case Step::start: {
        Started started;
        started.streams = readStreams(results.value(QStringLiteral("streams")));
        started.restoreToken = results.value(QStringLiteral("restore_token")).toString();
        m_step = Step::none;
        if (started.streams.empty()) {
            fail(error(refused, QStringLiteral("no stream")));
            return;
        }
        StartCompletion completion = std::move(m_completion);
        m_completion = {};
        if (completion)
            completion(std::move(started), std::nullopt);
        return;
    }
    }
}

void ScreenCastPortal::fail(const CaptureFailure &failure)
{
    m_step = Step::none;
    unsubscribe();
    close();
    StartCompletion completion = std::move(m_completion);
    m_completion = {};
    if (completion)
        completion(std::nullopt, failure);
}

void ScreenCastPortal::cancel()
{
    if (m_step == Step::none)
        return;
    if (!m_request.isEmpty()) {
        // Closes the dialog that the request is waiting on.
        m_bus.asyncCall(QDBusMessage::createMethodCall(service, m_request, requestInterface, QStringLiteral("Close")));
    }
    fail(error(stopped));
}

void ScreenCastPortal::openPipeWireRemote(std::function<void(int, std::optional<CaptureFailure>)> completion)
{
    QDBusMessage message
        = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("OpenPipeWireRemote"));
    message << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap();
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [completion = std::move(completion)](QDBusPendingCallWatcher *w) {
            w->deleteLater();
            QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
            const int fd = reply.isError() || !reply.value().isValid() ? -1 : ::dup(reply.value().fileDescriptor());
            if (fd < 0) {
                completion(-1,
                    error(
                        callFailed, reply.isError() ? reply.error().message() : QStringLiteral("no PipeWire remote")));
                return;
            }
            completion(fd, std::nullopt);
        });
}

void ScreenCastPortal::close()
{
    if (m_session.isEmpty())
        return;
    m_bus.disconnect(
        service, m_session, sessionInterface, QStringLiteral("Closed"), this, SLOT(handleClosed(QVariantMap)));
    m_bus.asyncCall(QDBusMessage::createMethodCall(service, m_session, sessionInterface, QStringLiteral("Close")));
    m_session.clear();
}

void ScreenCastPortal::handleClosed(const QVariantMap &)
{
    m_session.clear();
    if (m_step != Step::none) {
        fail(error(refused, QStringLiteral("session closed")));
        return;
    }
    if (onClosed)
        onClosed();
}
