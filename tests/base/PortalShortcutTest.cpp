// The record key through a fake GlobalShortcuts portal on a bus of the
// test's own: what is asked of the portal, and which signals count.
#include "base/PortalShortcut.h"
#include "support/TestUtil.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

// Answers CreateSession and BindShortcuts as xdg-desktop-portal does: a
// request path at once, its Response signal a moment later.
class FakePortal : public QDBusVirtualObject {
public:
    explicit FakePortal(QDBusConnection bus)
        : m_bus(std::move(bus))
    {
        m_bus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), this, QDBusConnection::SubPath);
        m_bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
    ~FakePortal() override { m_bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop")); }

    uint bindResponse = 0;
    QString session;
    QString trigger;

    void activate(const QString &sessionPath, const QString &id)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(sessionPath)) << id << qulonglong(0) << QVariantMap();
        m_bus.send(signal);
    }

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &call, const QDBusConnection &) override
    {
        QString sender = call.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
        const QVariantMap options = qdbus_cast<QVariantMap>(call.arguments().last());
        const QString request = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                    .arg(sender, options.value(QStringLiteral("handle_token")).toString());
        uint code = 0;
        QVariantMap results;
        if (call.member() == QStringLiteral("CreateSession")) {
            session = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                          .arg(sender, options.value(QStringLiteral("session_handle_token")).toString());
            results.insert(QStringLiteral("session_handle"), session);
        } else if (call.member() == QStringLiteral("BindShortcuts")) {
            const QDBusArgument shortcuts = call.arguments().at(1).value<QDBusArgument>();
            shortcuts.beginArray();
            QString id;
            QVariantMap properties;
            shortcuts.beginStructure();
            shortcuts >> id >> properties;
            shortcuts.endStructure();
            shortcuts.endArray();
            trigger = id + QLatin1Char(' ') + properties.value(QStringLiteral("preferred_trigger")).toString();
            code = bindResponse;
        } else {
            m_bus.send(call.createReply());
            return true;
        }
        m_bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QDBusMessage response = QDBusMessage::createSignal(
            request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        response << code << results;
        m_bus.send(response);
        return true;
    }

private:
    QDBusConnection m_bus;
};

class PortalShortcutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
        ASSERT_TRUE(daemon.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
        const QString name = QString::number(++connections);
        fake = std::make_unique<FakePortal>(QDBusConnection::connectToBus(address, QStringLiteral("fake") + name));
        client = QDBusConnection::connectToBus(address, QStringLiteral("client") + name);
        ASSERT_TRUE(client.isConnected());
    }
    void TearDown() override
    {
        fake.reset();
        daemon.kill();
        daemon.waitForFinished();
    }

    static inline int connections = 0;
    QProcess daemon;
    std::unique_ptr<FakePortal> fake;
    QDBusConnection client {QString()};
};

} // namespace

TEST_F(PortalShortcutTest, Binds_ThenActsOnlyOnItsOwnSessionAndId)
{
    PortalShortcut key(
        client, QStringLiteral("record"), QStringLiteral("Start or stop recording"), Qt::CTRL | Qt::ALT | Qt::Key_R);
    ASSERT_TRUE(waitUntil([&] { return key.isBound(); })) << key.failure().toStdString();
    EXPECT_EQ(fake->trigger, QStringLiteral("record CTRL+ALT+r"));
    int activations = 0;
    key.onActivated = [&] { ++activations; };
    fake->activate(fake->session, QStringLiteral("other"));
    fake->activate(fake->session + QStringLiteral("x"), QStringLiteral("record"));
    fake->activate(fake->session, QStringLiteral("record"));
    EXPECT_TRUE(waitUntil([&] { return activations == 1; }));
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(activations, 1);
}

TEST_F(PortalShortcutTest, Declined_IsNotBound_AndSaysSo)
{
    fake->bindResponse = 1;
    PortalShortcut key(client, QStringLiteral("record"), QString(), Qt::CTRL | Qt::ALT | Qt::Key_R);
    int settled = 0;
    key.onSettled = [&] { ++settled; };
    ASSERT_TRUE(waitUntil([&] { return settled == 1; }));
    EXPECT_FALSE(key.isBound());
    EXPECT_EQ(key.failure(), QStringLiteral("the shortcut was declined"));
}
