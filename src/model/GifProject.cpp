#include "model/GifProject.h"

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
