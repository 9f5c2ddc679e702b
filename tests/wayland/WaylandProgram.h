#pragma once

#include "support/WaylandDesktop.h"

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

// The built program started as a user starts it in a headless Wayland
// desktop (the recording frame through XWayland, recordings through the
// portal), with settings and log of its own, driven by real X input (xdotool)
// and watched through its log lines and the compositor's screenshots. The
// test's thread runs Qt's event loop whenever it waits, so objects it serves
// on D-Bus (a fake portal) keep answering.
class WaylandProgram {
public:
    explicit WaylandProgram(WaylandDesktop desktop);
    ~WaylandProgram();

    WaylandProgram(const WaylandProgram &) = delete;
    WaylandProgram &operator=(const WaylandProgram &) = delete;

    const WaylandDesktop &desktop() const { return m_desktop; }
    // XWayland's screen: the output in logical pixels.
    QSize logicalScreen() const;
    // The name Qt gives that screen (the RandR monitor's), or empty.
    QString screenName() const;

    // A settings entry the program finds at its start, as a user's would be.
    void remember(const QString &key, const QString &value);
    // Starts the program; `overrides` replace variables of the desktop's
    // environment (another session bus, say).
    bool launch(const QStringList &arguments = {}, const QProcessEnvironment &overrides = {});
    QProcess &process() { return *m_program; }

    // The program's log lines so far, as they reached standard error
    // without the "Quillo: " prefix.
    const QStringList &lines();
    // The first line containing `text`, read within `timeoutMs`.
    std::optional<QString> waitForLine(const QString &text, int timeoutMs = 20000);
    // Keeps the event loop running for `ms`.
    static void pump(int ms);
    static bool waitUntil(const std::function<bool()> &condition, int timeoutMs);

    // The output as the compositor shows it, in pixels.
    QImage screenshot() const;
    // The control bar's window, in logical pixels: the only visible window of
    // the program that is as high as a bar.
    std::optional<QRect> controlBar() const;
    // The bar's REC and Stop buttons (logical centres), read from a
    // screenshot: they are the third and second last light runs along a
    // row near the bar's top.
    struct BarButtons {
        QPoint rec;
        QPoint stop;
    };
    std::optional<BarButtons> barButtons(const QImage &shot, const QRect &bar) const;
    // Waits until the bar stands still where `accept` wants it and its
    // buttons can be read.
    std::optional<std::pair<QRect, BarButtons>> waitForBar(
        const std::function<bool(const QRect &)> &accept, int timeoutMs = 20000);

    bool xdotool(const QStringList &arguments) const;
    bool click(QPoint logical) const;
    // Visible X windows whose name matches the regular expression.
    QStringList windowsNamed(const QString &pattern) const;
    // An X window's place and size, in logical pixels.
    std::optional<QRect> windowRect(const QString &id) const;

    // The Wayland test client (wl-client.py): its pid and rectangle in
    // logical pixels.
    struct Client {
        qint64 pid = 0;
        QRect rect;
    };
    std::optional<Client> startClient(QPoint at);

    QString statePath(const QString &name) const { return m_state.filePath(name); }

private:
    WaylandDesktop m_desktop;
    QTemporaryDir m_state;
    std::unique_ptr<QProcess> m_program;
    QByteArray m_pending;
    QStringList m_lines;
    std::vector<qint64> m_clients;
};
