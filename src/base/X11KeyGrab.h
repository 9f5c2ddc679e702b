#pragma once

#include <QAbstractNativeEventFilter>
#include <QKeyCombination>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// A passive grab of one key combination on the X root window: the X server
// then hands that key to this program whichever window has the keyboard, and
// no other window sees it. The grab covers the combination with and without
// Caps Lock and Num Lock. The key events come through Qt's own X connection,
// so this lives on the GUI thread and does nothing on other platforms.
class X11KeyGrab : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    // Grabs `key` on the root window of Qt's X connection; isGrabbed() says
    // whether that worked.
    explicit X11KeyGrab(QKeyCombination key, QObject *parent = nullptr);
    // Releases the grab.
    ~X11KeyGrab() override;

    X11KeyGrab(const X11KeyGrab &) = delete;
    X11KeyGrab &operator=(const X11KeyGrab &) = delete;

    bool isGrabbed() const { return !m_grabbed.empty(); }
    // Why the key is not grabbed, for the log.
    const QString &failure() const { return m_failure; }

    // Once per press: a key held down does not repeat it.
    std::function<void()> onActivated;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    // The X keysym of a Qt key: letters, digits, F1 to F35, and a few named
    // keys; none for the rest.
    static std::optional<uint32_t> keysymFor(Qt::Key key);

private:
    struct Grab {
        uint16_t modifiers;
        uint8_t keycode;
    };

    void grab(QKeyCombination key);

    uint32_t m_root = 0;
    uint8_t m_keycode = 0;
    uint16_t m_modifiers = 0;
    // The lock modifiers a press may carry besides m_modifiers.
    uint16_t m_lockMask = 0;
    std::vector<Grab> m_grabbed;
    QString m_failure;
    bool m_held = false;
    uint32_t m_lastPressTime = 0;
    bool m_released = false;
    uint32_t m_lastReleaseTime = 0;
};
