// The user cancels the desktop's screen-sharing dialog: the program, started
// as a user starts it in a headless Wayland desktop, talks to a portal on a
// private session bus that answers "cancelled".
#include "WaylandProgram.h"

#include "capture/portal/FakePortal.h"

#include <gtest/gtest.h>

namespace {

TEST(WaylandConsent, CancelledDialog_SaysSo_LeavesTheFrameReady_AndNoStream)
{
    const std::optional<WaylandDesktop> desktop = WaylandDesktop::fromEnvironment();
    if (!desktop)
        GTEST_SKIP() << "no headless desktop: run through ctest -L wayland";
    PrivateBus bus;
    ASSERT_TRUE(bus.isRunning());
    FakePortal portal(bus.connect(QStringLiteral("consent-portal")));
    constexpr uint cancelled = 1;
    portal.startResponse = cancelled;

    WaylandProgram p(*desktop);
    QProcessEnvironment overrides;
    overrides.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    ASSERT_TRUE(p.launch({}, overrides));
    const auto bar = p.waitForBar([](const QRect &) { return true; });
    ASSERT_TRUE(bar) << p.lines().join('\n').toStdString();

    ASSERT_TRUE(p.click(bar->second.rec));
    ASSERT_TRUE(
        p.waitUntil([&] { return !p.windowsNamed(QStringLiteral("Could not start recording")).isEmpty(); }, 20000))
        << p.lines().join('\n').toStdString();
    const QString expected = QStringLiteral(
        "Screen sharing was cancelled, so nothing was recorded. Press REC again and choose the screen to share.");
    EXPECT_TRUE(p.waitForLine(expected)) << p.lines().join('\n').toStdString();
    // Asked, answered, and nothing left open or streaming.
    EXPECT_EQ(portal.calls, QStringList({"CreateSession", "SelectSources", "Start", "Close@session"}));
    EXPECT_TRUE(portal.openSessions().isEmpty());
    EXPECT_TRUE(p.lines().filter(QStringLiteral("startCapture OK")).isEmpty());

    // Once the message is read, REC asks again: the frame is ready. A click
    // gives the message the keys, whatever had them.
    const QStringList alerts = p.windowsNamed(QStringLiteral("Could not start recording"));
    ASSERT_FALSE(alerts.isEmpty());
    const std::optional<QRect> alert = p.windowRect(alerts.front());
    ASSERT_TRUE(alert);
    ASSERT_TRUE(p.click(alert->center()));
    ASSERT_TRUE(p.xdotool({"key", "Return"}));
    ASSERT_TRUE(
        p.waitUntil([&] { return p.windowsNamed(QStringLiteral("Could not start recording")).isEmpty(); }, 10000));
    const auto again = p.waitForBar([&](const QRect &r) { return r == bar->first; });
    ASSERT_TRUE(again);
    ASSERT_TRUE(p.click(again->second.rec));
    EXPECT_TRUE(p.waitUntil([&] { return portal.calls.count(QStringLiteral("CreateSession")) == 2; }, 20000))
        << portal.calls.join(' ').toStdString();
}

} // namespace
