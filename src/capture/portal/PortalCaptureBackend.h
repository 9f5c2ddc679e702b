#pragma once

#include "capture/CaptureBackend.h"
#include "capture/portal/ScreenCastPortal.h"

#include <QDBusConnection>
#include <QPoint>
#include <QRectF>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class PipeWireStream;

// Records through the desktop's ScreenCast portal: the screen query is the
// portal's session (the consent dialog the first time; later the choice kept
// under the restore token in the settings), each stream a PipeWire stream of
// the shared monitor, cropped to the region at the stream's own scale. The
// portal records every window: nothing can be left out.
//
// Create it on a thread that runs an event loop (the GUI thread): the portal's
// answers arrive there, and so do this backend's completions. Every other
// member may be called from any thread.
class PortalCaptureBackend : public CaptureBackend, public std::enable_shared_from_this<PortalCaptureBackend> {
public:
    // The settings key (QSettings("Quillo", "Quillo")) of the restore token.
    static inline const QString restoreTokenKey = QStringLiteral("portalRestoreToken");

    explicit PortalCaptureBackend(QDBusConnection bus = QDBusConnection::sessionBus());
    // Ends the session and its stream.
    ~PortalCaptureBackend() override;

    // Whether the session bus has a ScreenCast portal that shares monitors.
    // Blocks for at most a few seconds. Any thread.
    static bool isAvailable();

    QString name() const override;
    bool canExcludeWindows() const override;
    bool needsConsent() const override;
    // Each shared monitor, placed where the portal says (its logical layout,
    // moved so that Qt's primary screen is at 0, 0). Its scale reads 1: the
    // stream's own scale shows only once it runs, in the size of its frames.
    void queryScreens(ScreensCompletion completion) override;
    void cancelQuery() override;
    StreamOrError createStream(const CaptureRequest &request, CaptureSink sink) override;

    // How long a stream's start waits for the desktop's first picture. It
    // can take seconds (a busy GNOME without a GPU was seen to hold a new
    // stream paused for six), and the recording's time must not run before
    // it; a desktop that sends pictures only on change may send none while
    // the screen is still, so the start then counts as made anyway. Before
    // the first stream.
    void setFirstPictureWait(int milliseconds) { m_firstPictureWaitMs = milliseconds; }

private:
    friend class PortalCaptureStream;
    // Runs `task` on the portal's thread, later.
    void post(std::function<void(ScreenCastPortal &)> task);

    ScreenCastPortal *m_portal = nullptr;
    // Qt's primary screen, in Qt's global coordinates.
    QRect m_primary;

    mutable std::mutex m_mutex;
    std::vector<ScreenCastPortal::Stream> m_streams;
    std::vector<CaptureScreen> m_screens;
    QString m_restoreToken;
    int m_firstPictureWaitMs = 15000;
};

// One PipeWire stream of a shared monitor. Every member is thread-safe.
class PortalCaptureStream : public CaptureStream, public std::enable_shared_from_this<PortalCaptureStream> {
public:
    PortalCaptureStream(std::weak_ptr<PortalCaptureBackend> backend, uint32_t nodeId, QRectF region,
        double logicalWidth, int fps, CaptureSink sink, int firstPictureWaitMs);
    ~PortalCaptureStream() override;

    void start(CaptureCompletion completion) override;
    void stop(CaptureCompletion completion) override;
    // The session ended by itself.
    void sessionClosed();

private:
    void ended(const CaptureFailure &failure);

    // The start's completion until the first picture (or the wait's end, a
    // failure, a stop) answers it. Shared with the PipeWire thread.
    class PendingStart {
    public:
        void set(CaptureCompletion completion);
        // Answers once; false when the start had been answered.
        bool answer(const std::optional<CaptureFailure> &error);

    private:
        std::mutex m_mutex;
        CaptureCompletion m_completion;
    };

    const std::weak_ptr<PortalCaptureBackend> m_backend;
    const uint32_t m_nodeId;
    const QRectF m_region;
    const double m_logicalWidth;
    const int m_fps;
    const CaptureSink m_sink;
    const int m_firstPictureWaitMs;

    // Set once the end has been told, or a stop asked for: from then on the
    // stream's end is nobody's news. Shared with the PipeWire thread, which
    // must never hold the stream itself (it would be the one to join).
    const std::shared_ptr<std::atomic<bool>> m_quiet = std::make_shared<std::atomic<bool>>(false);
    const std::shared_ptr<PendingStart> m_start = std::make_shared<PendingStart>();

    std::mutex m_mutex;
    std::unique_ptr<PipeWireStream> m_pipewire;
    bool m_started = false;
    bool m_stopped = false;
};
