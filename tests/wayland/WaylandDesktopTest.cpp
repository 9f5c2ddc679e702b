#include "support/WaylandDesktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QRegularExpression>

#include <gtest/gtest.h>

// What a C++ test (and the program) meets in each headless desktop.
class WaylandDesktopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_desktop = WaylandDesktop::fromEnvironment();
        if (!m_desktop)
            GTEST_SKIP() << "no headless desktop: run through ctest -L wayland";
    }
    std::optional<WaylandDesktop> m_desktop;
};

// The portal backend works out the scale on sway from this: its portal gives
// the stream's size in pixels.
TEST_F(WaylandDesktopTest, XWaylandScreenIsTheOutputInLogicalPixels)
{
    const std::optional<QByteArray> info = m_desktop->run("xdpyinfo", {});
    ASSERT_TRUE(info);
    const QRegularExpressionMatch match
        = QRegularExpression(R"(dimensions:\s+(\d+)x(\d+) pixels)").match(QString::fromUtf8(*info));
    ASSERT_TRUE(match.hasMatch());
    const QSize logical = m_desktop->outputSize() / m_desktop->scale();
    EXPECT_EQ(QSize(match.captured(1).toInt(), match.captured(2).toInt()), logical);
}

TEST_F(WaylandDesktopTest, ScreenCastPortalAnswersOnTheDesktopsSessionBus)
{
    const QDBusConnection bus = QDBusConnection::connectToBus(m_desktop->sessionBusAddress(), "wayland-desktop-test");
    ASSERT_TRUE(bus.isConnected()) << bus.lastError().message().toStdString();
    // Plain Properties.Get calls, as the program makes them: no introspection.
    const auto property = [&](const char *name) -> uint {
        QDBusMessage get = QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop",
            "/org/freedesktop/portal/desktop", "org.freedesktop.DBus.Properties", "Get");
        get << QStringLiteral("org.freedesktop.portal.ScreenCast") << QString::fromLatin1(name);
        const QDBusMessage reply = bus.call(get);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << name << ": " << reply.errorMessage().toStdString();
        return reply.arguments().value(0).value<QDBusVariant>().variant().toUInt();
    };
    EXPECT_GE(property("version"), 4u);
    constexpr uint embeddedCursor = 2;
    EXPECT_TRUE(property("AvailableCursorModes") & embeddedCursor);
    QDBusConnection::disconnectFromBus("wayland-desktop-test");
}
