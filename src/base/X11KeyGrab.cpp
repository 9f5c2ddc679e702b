#include "base/X11KeyGrab.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>

namespace {

// Keysyms from X11/keysymdef.h, which this file does not need Xlib for.
constexpr uint32_t XK_F1 = 0xffbe;
constexpr uint32_t XK_Alt_L = 0xffe9;
constexpr uint32_t XK_Super_L = 0xffeb;
constexpr uint32_t XK_Num_Lock = 0xff7f;

// After the first press the X server repeats a held key after about 660 ms,
// then every 40 ms or so: a press more than a second after the last one is
// a new press even if its release never came.
constexpr uint32_t repeatWindowMs = 1000;

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t *qtConnection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// Every keycode that produces `keysym` in some column of the keyboard map.
std::vector<uint8_t> keycodesFor(xcb_connection_t *c, uint32_t keysym)
{
    const xcb_setup_t *setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    Reply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<uint8_t>(count)), nullptr));
    std::vector<uint8_t> codes;
    if (!map || map->keysyms_per_keycode == 0)
        return codes;
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(map.get());
    const int perCode = map->keysyms_per_keycode;
    for (int i = 0; i < count; ++i) {
        for (int col = 0; col < perCode; ++col) {
            if (syms[i * perCode + col] == keysym) {
                codes.push_back(static_cast<uint8_t>(setup->min_keycode + i));
                break;
            }
        }
    }
    return codes;
}

// The modifier bit (Mod1 ... Mod5) that a key such as Alt_L sets, or
// `fallback` when the modifier map does not say.
uint16_t modifierBitFor(xcb_connection_t *c, uint32_t keysym, uint16_t fallback)
{
    const std::vector<uint8_t> codes = keycodesFor(c, keysym);
    Reply<xcb_get_modifier_mapping_reply_t> map(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
    if (!map || codes.empty())
        return fallback;
    const xcb_keycode_t *table = xcb_get_modifier_mapping_keycodes(map.get());
    const int perModifier = map->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int k = 0; k < perModifier; ++k) {
            const xcb_keycode_t code = table[modifier * perModifier + k];
            if (code != 0 && std::find(codes.begin(), codes.end(), code) != codes.end())
                return static_cast<uint16_t>(1u << modifier);
        }
    }
    return fallback;
}

} // namespace

X11KeyGrab::X11KeyGrab(QKeyCombination key, QObject *parent)
    : QObject(parent)
{
    grab(key);
    if (isGrabbed())
        QCoreApplication::instance()->installNativeEventFilter(this);
}

X11KeyGrab::~X11KeyGrab()
{
    if (!isGrabbed())
        return;
    QCoreApplication::instance()->removeNativeEventFilter(this);
    if (xcb_connection_t *c = qtConnection()) {
        for (const Grab &g : m_grabbed)
            xcb_ungrab_key(c, g.keycode, m_root, g.modifiers);
        xcb_flush(c);
    }
}

std::optional<uint32_t> X11KeyGrab::keysymFor(Qt::Key key)
{
    // Latin-1 keysyms are the lower-case characters.
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return static_cast<uint32_t>('a' + (key - Qt::Key_A));
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return static_cast<uint32_t>(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return XK_F1 + static_cast<uint32_t>(key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Space:
        return 0x20;
    case Qt::Key_Escape:
        return 0xff1b;
    case Qt::Key_Pause:
        return 0xff13;
    case Qt::Key_Print:
        return 0xff61;
    case Qt::Key_ScrollLock:
        return 0xff14;
    default:
        return std::nullopt;
    }
}

void X11KeyGrab::grab(QKeyCombination key)
{
    xcb_connection_t *c = qtConnection();
    if (!c) {
        m_failure = QStringLiteral("no X11 connection");
        return;
    }
    const std::optional<uint32_t> keysym = keysymFor(key.key());
    const std::vector<uint8_t> codes = keysym ? keycodesFor(c, *keysym) : std::vector<uint8_t>();
    if (codes.empty()) {
        m_failure = QStringLiteral("the keyboard has no such key");
        return;
    }
    m_keycode = codes.front();
    m_root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;

    const Qt::KeyboardModifiers mods = key.keyboardModifiers();
    if (mods & Qt::ShiftModifier)
        m_modifiers |= XCB_MOD_MASK_SHIFT;
    if (mods & Qt::ControlModifier)
        m_modifiers |= XCB_MOD_MASK_CONTROL;
    if (mods & Qt::AltModifier)
        m_modifiers |= modifierBitFor(c, XK_Alt_L, XCB_MOD_MASK_1);
    if (mods & Qt::MetaModifier)
        m_modifiers |= modifierBitFor(c, XK_Super_L, XCB_MOD_MASK_4);
    const uint16_t numLock = modifierBitFor(c, XK_Num_Lock, XCB_MOD_MASK_2);
    m_lockMask = XCB_MOD_MASK_LOCK | numLock;

    // A grab matches the modifier state exactly, so the locks get one each.
    const std::array<uint16_t, 4> locks {
        0, XCB_MOD_MASK_LOCK, numLock, static_cast<uint16_t>(XCB_MOD_MASK_LOCK | numLock)};
    std::vector<std::pair<Grab, xcb_void_cookie_t>> requests;
    for (const uint16_t lock : locks) {
        const Grab g {static_cast<uint16_t>(m_modifiers | lock), m_keycode};
        requests.push_back(
            {g, xcb_grab_key_checked(c, 1, m_root, g.modifiers, g.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)});
    }
    bool refused = false;
    for (const auto &[g, cookie] : requests) {
        if (Reply<xcb_generic_error_t> error {xcb_request_check(c, cookie)})
            refused = true;
        else
            m_grabbed.push_back(g);
    }
    if (refused) {
        // Another program holds the key; half a grab would be a key that
        // works only with Caps Lock on.
        for (const Grab &g : m_grabbed)
            xcb_ungrab_key(c, g.keycode, m_root, g.modifiers);
        xcb_flush(c);
        m_grabbed.clear();
        m_failure = QStringLiteral("another program holds the key");
    }
}

bool X11KeyGrab::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    // Press and release events share one layout.
    const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
    if (key->event != m_root || key->detail != m_keycode)
        return false;
    if (type == XCB_KEY_RELEASE) {
        // Modifiers may be let go first: any release of the key ends the press.
        m_held = false;
        m_lastReleaseTime = key->time;
        m_released = true;
        return true;
    }
    const uint16_t modifiers = key->state & 0xff & ~m_lockMask;
    if (modifiers != m_modifiers)
        return false;
    // Without detectable auto-repeat the server sends each repeat as a
    // release and a press with the same time stamp.
    const bool repeat
        = (m_held && key->time - m_lastPressTime < repeatWindowMs) || (m_released && key->time == m_lastReleaseTime);
    m_held = true;
    m_lastPressTime = key->time;
    if (!repeat && onActivated)
        onActivated();
    return true;
}
