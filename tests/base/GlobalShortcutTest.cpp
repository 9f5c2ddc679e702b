// The record key's names for X11 and the portal, and a Wayland session
// without a portal.
#include "base/GlobalShortcut.h"
#include "base/PortalShortcut.h"
#include "base/X11KeyGrab.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

TEST(X11KeyGrab, KeysymsAndPortalTriggers_NameTheKeysBothWaysAgree)
{
    struct Case {
        QKeyCombination key;
        std::optional<uint32_t> keysym;
        QString trigger;
    } cases[] = {
        {Qt::CTRL | Qt::ALT | Qt::Key_R, 0x72, "CTRL+ALT+r"},
        {Qt::SHIFT | Qt::META | Qt::Key_7, 0x37, "SHIFT+LOGO+7"},
        {QKeyCombination(Qt::Key_F9), 0xffc6, "F9"},
        {Qt::CTRL | Qt::Key_Space, 0x20, "CTRL+space"},
        {Qt::CTRL | Qt::Key_Eacute, std::nullopt, ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(X11KeyGrab::keysymFor(c.key.key()), c.keysym) << c.trigger.toStdString();
        EXPECT_EQ(PortalShortcut::triggerFor(c.key), c.trigger);
    }
}

TEST(GlobalShortcut, WithoutAPortal_IsNotRegistered_AndSaysWhy)
{
    // A bus address that leads nowhere: no portal can answer.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillo-test-bus");
    GlobalShortcut key(QKeySequence(QStringLiteral("Ctrl+Alt+R")), QStringLiteral("test"), true);
    int changes = 0;
    key.onRegisteredChanged = [&] { ++changes; };
    EXPECT_TRUE(waitUntil([&] { return changes == 1; }));
    EXPECT_FALSE(key.isRegistered());
    EXPECT_TRUE(key.status().startsWith(QStringLiteral("not registered: "))) << key.status().toStdString();
}
