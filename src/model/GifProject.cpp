#include "model/GifProject.h"

#include "store/FrameStore.h"

#include <map>

GifProject::GifProject(GifFrameList frames, int64_t fps, int64_t loopCount)
    : frames(std::move(frames))
    , loopCount(loopCount)
    , fps(fps)
{
}

Size GifProject::canvasSize() const
{
    if (frames.empty() || !frames.front())
        return {};
    const QSize size = frames.front()->size();
    return {double(size.width()), double(size.height())};
}

int64_t GifProject::totalDurationMs() const
{
    int64_t total = 0;
    for (const GifFrameRef &frame : frames)
        total += frame->delayMs;
    return total;
}

GifFrameList GifProject::snapshot() const
{
    GifFrameList copies;
    copies.reserve(frames.size());
    for (const GifFrameRef &frame : frames)
        copies.push_back(frame->copy());
    return copies;
}

void GifProject::restore(GifFrameList list)
{
    frames = std::move(list);
}

RecordingIndex GifProject::recordingIndex() const
{
    RecordingIndex index;
    index.entries.reserve(frames.size());
    for (const GifFrameRef &frame : frames)
        index.entries.push_back({frame->pixels(), frame->delayMs});
    index.loopCount = loopCount;
    index.fps = fps;
    const Size canvas = canvasSize();
    index.canvas = QSize(int(canvas.width), int(canvas.height));
    return index;
}

std::shared_ptr<GifProject> GifProject::fromRecordingIndex(const RecordingIndex &index, int64_t fps)
{
    GifFrameList frames;
    frames.reserve(index.entries.size());
    for (const RecordingIndex::Entry &entry : index.entries)
        frames.push_back(std::make_shared<GifFrame>(entry.frame, entry.delayMs));
    return std::make_shared<GifProject>(std::move(frames), index.fps > 0 ? index.fps : fps, index.loopCount);
}

std::optional<FrameRefList> GifProject::transformedPixels(const std::function<QImage(const QImage &)> &op) const
{
    FrameRefList out(frames.size());
    // The frames of each store in one pass, in order: its workers keep runs
    // of neighbouring frames together.
    std::map<FrameStore *, std::pair<std::shared_ptr<FrameStore>, std::vector<size_t>>> byStore;
    for (size_t i = 0; i < frames.size(); ++i) {
        const FrameRef &pixels = frames[i]->pixels();
        if (pixels && pixels->store()) {
            auto &group = byStore[pixels->store().get()];
            group.first = pixels->store();
            group.second.push_back(i);
        } else {
            out[i] = StoredFrame::fromImage(op(frames[i]->image()));
        }
    }
    for (const auto &[raw, group] : byStore) {
        FrameRefList sources;
        sources.reserve(group.second.size());
        for (size_t i : group.second)
            sources.push_back(frames[i]->pixels());
        const std::optional<FrameRefList> changed = group.first->transformAll(sources, op);
        if (!changed)
            return std::nullopt;
        for (size_t k = 0; k < group.second.size(); ++k)
            out[group.second[k]] = (*changed)[k];
    }
    return out;
}
