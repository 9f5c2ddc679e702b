#pragma once

#include "app/CommandLine.h"
#include "base/Geometry.h"
#include "capture/ScreenUtil.h"

#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CaptureEngine;

// `quillo --record`: one recording of a fixed region for a fixed time, written
// to a file, with no frame and no editor. It takes the program's own road:
// the capture engine with the program's backend choice, and the export
// functions the editor calls. SIGINT and SIGTERM end the recording early; what
// was kept is still exported. GUI thread only.
namespace ScriptedRecording {

// One screen as Qt lays it out: its logical geometry (top-left, y down) and
// its device pixel ratio.
struct ScreenLayout {
    QRect geometry;
    double devicePixelRatio = 1.0;
};

// The region, given in X root-window pixels, as a rectangle in Qt's logical
// pixels: the screen that holds its top-left pixel scales it about its own
// origin, as Qt's xcb plugin does. Absent when the region does not lie wholly
// inside that screen (or no screen holds it).
std::optional<QRectF> logicalRegion(const QRect &pixels, const std::vector<ScreenLayout> &screens);

// "Recorded 31 frames (320x200, 2.07 s) to /tmp/a.gif: Exported with ffmpeg ..."
QString resultLine(int64_t frames, QSizeF canvas, int64_t totalMs, const QString &output, const QString &message);

// Starts the recording; the process ends through `finish` with 0 when the file
// was written and 1 otherwise, after one line on standard output (success) or
// standard error (failure). `makeEngine` builds the engine; the program passes
// the one the recording frame uses.
void start(const RecordRequest &request, std::function<std::shared_ptr<CaptureEngine>()> makeEngine,
    std::function<void(int status)> finish);

} // namespace ScriptedRecording
