#pragma once

#include "capture/CaptureError.h"

#include <QDBusConnection>
#include <QObject>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// One session of the desktop's ScreenCast portal (org.freedesktop.portal.
// ScreenCast): CreateSession, SelectSources (a monitor, the cursor drawn in
// when the portal can, the choice kept with a restore token), Start, and the
// PipeWire remote the streams are read from. Every portal call answers through
// a Request object's Response signal, which is subscribed to before the call.
//
// Lives on the thread that created it, which must run an event loop; call it
// and destroy it there. Completions run on that thread, never inline.
class ScreenCastPortal : public QObject {
    Q_OBJECT

public:
    static inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString interface = QStringLiteral("org.freedesktop.portal.ScreenCast");

    // Error codes of the domain "Quillo.Portal".
    enum Failure : int64_t {
        cancelled = 1, // the user closed the dialog
        refused = 2, // the portal answered with an error
        callFailed = 3, // the call itself failed (no portal, bad reply)
        stopped = 4, // a stop came before the user chose
    };
    static CaptureFailure error(Failure code, const QString &detail = {});

    struct Stream {
        uint32_t nodeId = 0;
        // In the compositor's logical layout, when the portal tells.
        std::optional<QPoint> position;
        std::optional<QSize> size;
        uint32_t sourceType = 0;
    };
    struct Started {
        std::vector<Stream> streams;
        // Lets the next session skip the dialog; empty when the portal gave none.
        QString restoreToken;
    };
    using StartCompletion = std::function<void(std::optional<Started>, std::optional<CaptureFailure>)>;

    explicit ScreenCastPortal(QDBusConnection bus, QObject *parent = nullptr);
    // Closes the session, if one is open.
    ~ScreenCastPortal() override;

    // Whether `bus` has a ScreenCast portal that can share monitors. Blocks
    // for at most a few seconds (the bus may start the portal). Any thread.
    static bool isAvailable(const QDBusConnection &bus);

    // CreateSession, SelectSources, Start. `restoreToken` (may be empty) asks
    // for the sources chosen in an earlier session, without a dialog. Once per
    // object.
    void start(const QString &restoreToken, StartCompletion completion);
    // Gives up a start still waiting: its dialog closes, the session ends, and
    // the completion answers with the `stopped` error. Nothing otherwise.
    void cancel();
    // The file descriptor of the session's PipeWire remote (the caller owns
    // it), or an error. After a successful start.
    void openPipeWireRemote(std::function<void(int fd, std::optional<CaptureFailure>)> completion);
    // Ends the session; its streams stop.
    void close();

    // The portal or the desktop ended the session by itself.
    std::function<void()> onClosed;

private Q_SLOTS:
    void handleResponse(uint response, const QVariantMap &results);
    void handleClosed(const QVariantMap &details);

private:
    enum class Step {
        none,
        createSession,
        selectSources,
        start,
    };
    void readCursorModes();
    void call(Step step, const QString &method, QList<QVariant> arguments, QVariantMap options);
    void advance(const QVariantMap &results);
    void fail(const CaptureFailure &failure);
    void unsubscribe();
    QString newToken();

    QDBusConnection m_bus;
    QString m_restoreToken;
    uint32_t m_cursorModes = 0;
    StartCompletion m_completion;
    Step m_step = Step::none;
    QString m_request;
    QString m_session;
    int m_tokens = 0;
};
