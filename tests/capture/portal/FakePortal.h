#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <vector>

// A session bus of the test's own: a dbus-daemon started for it and stopped
// with it.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    bool isRunning() const { return !m_address.isEmpty(); }
    const QString &address() const { return m_address; }
    // A new connection to the bus under `name` (a connection name, not a bus
    // name).
    QDBusConnection connect(const QString &name) const;

private:
    QProcess m_daemon;
    QString m_address;
};

// The desktop's ScreenCast portal as the program sees it on the bus: the
// ScreenCast interface with its properties, Request objects answering with
// Response, Session objects that can be closed, and a PipeWire remote. What it
// answers is scripted; what it was asked is recorded. It offers no other portal.
class FakePortal : public QDBusVirtualObject {
    Q_OBJECT

public:
    struct SharedStream {
        uint nodeId = 0;
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
    };

    // Registers as org.freedesktop.portal.Desktop on `bus`.
    explicit FakePortal(QDBusConnection bus);
    ~FakePortal() override;

    // The answer to Start: 0 success, 1 cancelled, 2 other error.
    uint startResponse = 0;
    // Start waits for release() instead of answering, as a dialog would.
    bool holdStart = false;
    std::vector<SharedStream> streams {{42, 0, 0, 1280, 720}};
    QString newRestoreToken = QStringLiteral("token-1");
    uint cursorModes = 1 | 2 | 4;
    // Makes the PipeWire remote's file descriptor; by default one end of a
    // socket pair whose other end never answers.
    std::function<int()> pipeWireRemote;

    // What was asked.
    QStringList calls; // method names, in order, "Close@request" / "Close@session" for closes
    QVariantMap selectOptions; // the options of the last SelectSources
    QStringList openSessions() const;

    // Sends the held Start answer.
    void release();
    // The desktop ends the session by itself.
    void closeSessionFromDesktop();

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    void respond(const QString &request, uint response, const QVariantMap &results);
    QVariantMap startResults() const;

    QDBusConnection m_bus;
    std::vector<int> m_peers; // the far ends of the default remotes, kept open
    QStringList m_sessions;
    QString m_heldRequest;
};
