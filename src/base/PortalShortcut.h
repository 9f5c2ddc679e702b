#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QKeyCombination>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

// One shortcut bound through the desktop's GlobalShortcuts portal
// (org.freedesktop.portal.GlobalShortcuts on the session bus): the desktop
// may ask the user to confirm or change the key, then tells this program of
// each use whichever window has the focus. Every step is asynchronous; a
// desktop without the portal, or a user who declines, leaves it unbound.
// GUI thread only.
class PortalShortcut : public QObject {
    Q_OBJECT

public:
    // Starts binding at once, with the portal on `bus` (the session bus but
    // in tests).
    PortalShortcut(QDBusConnection bus, const QString &id, const QString &description, QKeyCombination key,
        QObject *parent = nullptr);
    // Closes the portal session, which unbinds the shortcut.
    ~PortalShortcut() override;

    PortalShortcut(const PortalShortcut &) = delete;
    PortalShortcut &operator=(const PortalShortcut &) = delete;

    bool isBound() const { return m_bound; }
    // Set once binding has failed: why, for the log.
    const QString &failure() const { return m_failure; }

    std::function<void()> onActivated;
    // Binding succeeded or failed.
    std::function<void()> onSettled;

    // The key as the XDG shortcut format names it, the form the
    // portal's "preferred_trigger" takes: "CTRL+ALT+r". Empty for a key it
    // has no name for.
    static QString triggerFor(QKeyCombination key);

private Q_SLOTS:
    void sessionCreated(uint response, const QVariantMap &results);
    void shortcutsBound(uint response, const QVariantMap &results);
    void activated(const QDBusMessage &signal);

private:
    // Calls a portal method whose answer comes as a Response signal on a
    // request object named after the "handle_token" of its options (the last
    // argument); `slot` receives it.
    void request(const QString &method, const QList<QVariant> &arguments, const char *slot);
    QString requestPath(const QString &token) const;
    void fail(const QString &why);
    void settle();

    QDBusConnection m_bus;
    QString m_id;
    QString m_description;
    QString m_trigger;
    QString m_session;
    bool m_bound = false;
    QString m_failure;
};
