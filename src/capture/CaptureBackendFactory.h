#pragma once

#include "capture/CaptureBackend.h"

#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The one place that picks how the screen is read. QUILLO_CAPTURE_BACKEND
// ("x11", "portal" or "synthetic") overrides the automatic choice: the portal
// in a Wayland session that has a ScreenCast portal, X11 otherwise (an X
// session, or XWayland without a portal, which sees only X11 windows).
namespace CaptureBackendFactory {

enum class Kind {
    x11,
    portal,
    synthetic,
};

QString name(Kind kind);
std::optional<Kind> fromName(const QString &name);

// XDG_SESSION_TYPE says "wayland", or a Wayland display is named.
bool isWaylandSession(const QProcessEnvironment &environment);

// The choice for `environment`; `hasScreenCastPortal` is asked only in a
// Wayland session without an override. Pure.
Kind choose(const QProcessEnvironment &environment, const std::function<bool()> &hasScreenCastPortal);
// The choice for this process: its environment and its session bus, which is
// asked once per process (it may start the portal service). Any thread.
Kind chosen();

// A new backend of that kind. GUI thread (the X11 and synthetic backends read
// the screens' pixel ratios).
std::shared_ptr<CaptureBackend> create(Kind kind);
std::shared_ptr<CaptureBackend> create();

// Readies the chosen backend, before the recording frame first appears, to
// keep the frame out of every frame of a recording, the first included (X11:
// X11CaptureBackend::holdRedirection). Nothing to do elsewhere. GUI thread.
void prepareForRecordingFrame();

// Whether a recording can start without the program being refused: X11 opens
// the display and grabs 1 x 1 of its root window; the portal asks the user
// itself when recording starts, so only its presence counts; the synthetic
// backend needs nothing. Never prompts. Any thread.
bool canRecord(Kind kind);

} // namespace CaptureBackendFactory
