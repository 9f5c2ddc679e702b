#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

// The headless Wayland desktop a test runs in (tests/wayland/README.md), read
// from the env file tests/wayland/start-desktop.sh wrote. CTest names it in
// $QUILLO_WAYLAND_ENV for tests added with quillo_add_test(... WAYLAND ...).
class WaylandDesktop {
public:
    // The desktop of $QUILLO_WAYLAND_ENV; nullopt when the variable is unset
    // or the file cannot be read.
    static std::optional<WaylandDesktop> fromEnvironment();
    // The variables of an env file's `export NAME=VALUE` lines, unquoted as
    // the shell would; other lines are skipped.
    static QProcessEnvironment parseEnvFile(const QByteArray &text);

    explicit WaylandDesktop(QProcessEnvironment variables);

    // "sway" or "gnome".
    QString name() const { return m_variables.value("QUILLO_WAYLAND_DESKTOP"); }
    double scale() const;
    // In pixels; the logical size is this divided by scale().
    QSize outputSize() const;
    // A ScreenCast restore token the GNOME portal knows; empty on sway.
    QString restoreToken() const { return m_variables.value("QUILLO_WAYLAND_RESTORE_TOKEN"); }
    QString sessionBusAddress() const { return m_variables.value("DBUS_SESSION_BUS_ADDRESS"); }

    // This process's environment with the desktop's variables on top: for a
    // QProcess that should run in the desktop.
    QProcessEnvironment environment() const;
    // Runs a program in the desktop; its standard output, or nullopt when it
    // failed or did not end in time.
    std::optional<QByteArray> run(const QString &program, const QStringList &arguments, int timeoutMs = 30000) const;
    // The path of a helper of tests/wayland ("wl-client.py", "screenshot.py").
    static QString helper(const QString &name);

private:
    QProcessEnvironment m_variables;
};
