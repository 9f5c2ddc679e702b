#pragma once

#include "export/ExportJob.h"
#include "export/ExportResult.h"
#include "model/GifProject.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The expected size of an export, from exports of a few samples of the
// project through the very path the user chose: what an encoder makes of the
// content cannot be guessed from pixel counts (a typing clip and a scrolling
// one of the same size differ fifty-fold as GIF).
//
// Two samples are written: a short run of consecutive frames (for GIF a single
// frame) from each of several places spread over the project, and a longer run
// starting at each of those places. Each costs what a file pays once (header,
// palette, a whole first picture) plus a whole picture at each jump; the
// difference is the cost of ordinary next frames, which is what most of an
// export is:
//
//   next     = (long - short) / (places * (runLength - shortRun))
//   expected = short / places + (frames - shortRun) * next
//
// plus, for a video codec, a first frame's cost at each of its periodic
// keyframes.
//
// Video codecs spend more on the first frames after a jump (a new scene to
// them) than on the ones that follow, so for them the short run is several
// frames and the long one longer.
// A project no longer than the run sample is written whole and its real size
// returned.
namespace SizeEstimate {

// Writes `project` to `path` and returns the result; called on the worker
// that runs estimate(), with the job it was given.
using Writer = std::function<ExportResult(const GifProject &project, const QString &path, ExportJob &job)>;

struct Plan {
    // Indices into the project's frames, in order: the short run of each
    // place, and its long run.
    std::vector<size_t> shortRuns;
    std::vector<size_t> runs;
    size_t places = 0;
    size_t shortRun = 0;
    size_t runLength = 0;
    size_t keyframeInterval = 0;
    // The project is short enough to be written whole.
    bool whole = false;
};

struct Shape {
    size_t places = 6;
    size_t shortRun = 1;
    size_t runLength = 5;
    // A video codec's own keyframe interval (0 for none), which a long export
    // pays every so many frames and a short sample never reaches.
    size_t keyframeInterval = 0;
};

// The shape of the samples the editor takes for a format, by its extension.
Shape shapeFor(const QString &extension);

// Which frames the samples take from a project of `frames` frames.
Plan plan(size_t frames, Shape shape = {});

// The project made of the frames at `indices`: copies of the frame objects
// (same pixels, same delays), so the live project may change while the sample
// is written. The loop count and fps are the project's. GUI thread, like every
// read of a live project.
GifProjectRef sample(const GifProject &project, const std::vector<size_t> &indices);

// The expected size in bytes from the sizes the plan's two samples came to.
int64_t extrapolate(const Plan &plan, size_t frames, int64_t shortBytes, int64_t longBytes);

struct Samples {
    Plan plan;
    size_t frames = 0;
    GifProjectRef shortRuns; // null when the plan is whole
    GifProjectRef runs; // the whole project when the plan is whole
};

// The samples of `project` (GUI thread); estimate() then writes them anywhere.
Samples takeSamples(const GifProject &project, Shape shape = {});

// Writes the samples into a private temporary folder, as files ending in
// `extension`, and returns the expected size; nullopt when a sample could not
// be written or `job` was cancelled. Any thread.
std::optional<int64_t> estimate(const Samples &samples, const QString &extension, const Writer &write, ExportJob &job);

// "1.2 MB", "12 MB", "830 kB": the figure the editor shows, in decimal units
// as a file manager shows sizes, one decimal below ten.
QString sizeText(int64_t bytes);

} // namespace SizeEstimate
