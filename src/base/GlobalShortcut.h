#pragma once

#include <QKeySequence>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class PortalShortcut;
class X11KeyGrab;

// A key that reaches the program whichever window has the keyboard: on X11 a
// passive grab of the root window; in a Wayland session, where an X11 grab
// would only see keys typed into the program's own windows, the desktop's
// GlobalShortcuts portal. Without either (another program holds the key, the
// desktop has no such portal, the user declined) it is not registered, and
// the caller falls back to a key of its own windows. GUI thread only.
class GlobalShortcut : public QObject {
    Q_OBJECT

public:
    // Registers the first combination of `key`. The portal answers later:
    // watch onRegisteredChanged.
    GlobalShortcut(const QKeySequence &key, const QString &description, bool waylandSession, QObject *parent = nullptr);
    // Gives the key back to the desktop.
    ~GlobalShortcut() override;

    const QKeySequence &key() const { return m_key; }
    bool isRegistered() const;
    // How the key is registered, or why it is not, for the log: "X11 key
    // grab", "GlobalShortcuts portal", "not registered: ...", "waiting for
    // the GlobalShortcuts portal".
    QString status() const;

    std::function<void()> onActivated;
    std::function<void()> onRegisteredChanged;

private:
    void activate();

    QKeySequence m_key;
    std::unique_ptr<X11KeyGrab> m_grab;
    std::unique_ptr<PortalShortcut> m_portal;
    QString m_failure;
};
