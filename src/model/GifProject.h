#pragma once

#include "base/Geometry.h"
#include "model/GifFrame.h"
#include "store/RecordingIndex.h"

#include <QImage>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The animation being edited: ordered frames, a loop count (0 = forever) and
// the nominal frame rate of the recording. Changed only on the GUI thread once
// the capture engine has handed it over; an export reads it from a worker
// while the editor shows a modal sheet.
class GifProject {
public:
    GifProject(GifFrameList frames, int64_t fps, int64_t loopCount = 0);

    // The first frame's pixel size; (0, 0) without frames.
    Size canvasSize() const;
    int64_t totalDurationMs() const;

    // New frame objects (same images, same delays) for the undo history, so a
    // later delay change on a live frame never reaches the history.
    GifFrameList snapshot() const;
    // Adopts the given frame objects as the frame list; no copies are made.
    void restore(GifFrameList frames);

    // The pixels `op` makes of each frame's, in frame order; the frames
    // themselves are left as they are. Frames kept in a frame store are read,
    // changed and written back through it on every core, so a long recording
    // never sits in memory whole; frames held in memory give pixels held in
    // memory. Absent when a frame store fails meanwhile.
    std::optional<FrameRefList> transformedPixels(const std::function<QImage(const QImage &)> &op) const;

    // What a recording folder keeps of the project: the frames' pixels with
    // their delays, the loop count, the frame rate and the canvas.
    RecordingIndex recordingIndex() const;
    // The project a recording folder kept; `fps` stands in for an index
    // without a frame rate.
    static std::shared_ptr<GifProject> fromRecordingIndex(const RecordingIndex &index, int64_t fps);

    GifFrameList frames;
    int64_t loopCount = 0;
    int64_t fps = 0;
};

using GifProjectRef = std::shared_ptr<GifProject>;
