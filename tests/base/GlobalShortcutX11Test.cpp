// The record key on a real X server: a press, a held key, and a key that
// another program already holds.
#include "base/GlobalShortcut.h"
#include "support/TestUtil.h"

#include <QProcess>
#include <QStandardPaths>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

bool xdotool(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

void settle(int ms)
{
    waitUntil([] { return false; }, ms);
}

const QKeySequence recordKey(QStringLiteral("Ctrl+Alt+R"));

class GlobalShortcutX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is not installed";
    }
};

} // namespace

TEST_F(GlobalShortcutX11, Press_ActivatesOnce_WhicheverWindowHasTheFocus_AndHoldingDoesNotRepeat)
{
    GlobalShortcut key(recordKey, QStringLiteral("test"), false);
    ASSERT_TRUE(key.isRegistered()) << key.status().toStdString();
    EXPECT_EQ(key.status(), QStringLiteral("X11 key grab"));
    int activations = 0;
    key.onActivated = [&] { ++activations; };

    ASSERT_TRUE(xdotool({"key", "ctrl+alt+r"}));
    EXPECT_TRUE(waitUntil([&] { return activations == 1; }));
    // With Caps Lock on it is the same key.
    ASSERT_TRUE(xdotool({"key", "Caps_Lock", "key", "ctrl+alt+r", "key", "Caps_Lock"}));
    EXPECT_TRUE(waitUntil([&] { return activations == 2; }));
    // Held for a second and a half: the server repeats it, the program does not.
    ASSERT_TRUE(xdotool({"keydown", "ctrl+alt+r", "sleep", "1.5", "keyup", "ctrl+alt+r"}));
    settle(300);
    EXPECT_EQ(activations, 3);
    // Another combination of the same letter is not the key.
    ASSERT_TRUE(xdotool({"key", "ctrl+r", "key", "ctrl+shift+alt+r"}));
    settle(300);
    EXPECT_EQ(activations, 3);
}

TEST_F(GlobalShortcutX11, KeyHeldByAnotherProgram_IsNotRegistered_AndComesFreeWhenTheGrabEnds)
{
    {
        GlobalShortcut ours(recordKey, QStringLiteral("test"), false);
        ASSERT_TRUE(ours.isRegistered());
    } // gives the key back: another client can have it now
    xcb_connection_t *other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    // Every key with Ctrl+Alt, so it does not matter which code R has.
    const xcb_setup_t *setup = xcb_get_setup(other);
    for (int code = setup->min_keycode; code <= setup->max_keycode; ++code)
        xcb_grab_key(other, 1, root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, static_cast<xcb_keycode_t>(code),
            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr)); // a round trip

    GlobalShortcut refused(recordKey, QStringLiteral("test"), false);
    EXPECT_FALSE(refused.isRegistered());
    EXPECT_EQ(refused.status(), QStringLiteral("not registered: another program holds the key"));

    xcb_disconnect(other);
    settle(200);
    GlobalShortcut again(recordKey, QStringLiteral("test"), false);
    EXPECT_TRUE(again.isRegistered()) << again.status().toStdString();
}
